#pragma once
// Loads builder-made mesh files through the readers, as the mesh resources
// do: the bytes go to a file, the file into the definition's memory file.
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "assets3d/VelmarMeshResource.h"
#include "assets3d/VelmarProgressiveMeshDefinition.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "tests/platform/os/TempFolder.h"

namespace meshtest {

class FakeResource final : public VelmarMeshResource {
public:
  explicit FakeResource(const char* name = "meshes\\body\\car.im") : VelmarMeshResource(name, nullptr) {}
  const MeshGeometryOptions& GetGeometryOptions() const override { return options; }
  bool AllowsMaterialFallBack() const override { return fallBack; }
  void AddFailedMaterialName(const Vak::PString& name) override { failed.push_back(name); }

  MeshGeometryOptions options;
  bool fallBack = false;
  std::vector<Vak::PString> failed;
};

struct Loader {
  platform::test::TempFolder folder;
  Vak::Display display;
  Vak::MaterialManager manager;
  FakeResource resource;
  bool withManager = true;
  uint32_t defaultColour = 0xFF112233u;

  std::string Save(const std::string& bytes) {
    folder.WriteFile("m.im", bytes);
    return folder / "m.im";
  }

  // The indexed reader over `bytes`; the result code.
  unsigned long Indexed(const std::string& bytes, std::unique_ptr<VelmarIndexedMeshDefinition>& out) {
    out = std::make_unique<VelmarIndexedMeshDefinition>(resource.options);
    const std::string path = Save(bytes);
    Vak::File file;
    if (file.Open(path.c_str(), Vak::File::kRead).Ok()) out->GetMemoryFile().Open(file, false, 0);
    file.Close();
    unsigned long result = 99;
    out->ReadMeshFile(&result, &display, withManager ? &manager : nullptr, &resource, path.c_str(), defaultColour);
    return result;
  }
  unsigned long Indexed(const std::string& bytes) {
    std::unique_ptr<VelmarIndexedMeshDefinition> out;
    return Indexed(bytes, out);
  }

  // The level-of-detail reader opens the file itself.
  unsigned long Lod(const std::string& bytes, std::unique_ptr<VelmarIndexedMeshLODDefinition>& out) {
    out = std::make_unique<VelmarIndexedMeshLODDefinition>(resource.options);
    const std::string path = Save(bytes);
    unsigned long result = 99;
    out->ReadMeshFile(&result, &display, withManager ? &manager : nullptr, &resource, path.c_str(), defaultColour);
    return result;
  }
  unsigned long Lod(const std::string& bytes) {
    std::unique_ptr<VelmarIndexedMeshLODDefinition> out;
    return Lod(bytes, out);
  }

  // The definition written by its writer to a file; the file's bytes.
  std::string Written(VelmarIndexedMeshLODDefinition& definition, unsigned long& result) {
    const std::string path = folder / "out.lm";
    Vak::File file;
    EXPECT_TRUE(file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
    result = 99;
    definition.WriteMeshFile(&result, file);
    file.Close();
    return folder.ReadFile("out.lm");
  }

  unsigned long Progressive(const std::string& bytes, std::unique_ptr<VelmarProgressiveMeshDefinition>& out) {
    out = std::make_unique<VelmarProgressiveMeshDefinition>(resource.options);
    const std::string path = Save(bytes);
    unsigned long result = 99;
    out->ReadMeshFile(&result, &display, withManager ? &manager : nullptr, &resource, path.c_str(), defaultColour);
    return result;
  }
};

} // namespace meshtest
