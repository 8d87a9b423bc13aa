#pragma once
// A mesh as the resource system loads it: it owns one mesh definition, reads
// it from its file, prepares its materials' textures and its chunks' buffers
// when the load completes, answers the questions about loading and size, and
// creates the scene instances of the mesh.
//
// The render kernel, the geometry options and the material fall-back are set
// before the resource is loaded; without a render kernel nothing loads.
#include <memory>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "assets3d/VelmarMeshResource.h"
#include "assets3d/VelmarProgressiveMeshDefinition.h"

namespace Vak {
class RenderKernel;
}

class VelmarIndexedMeshInstance;

class VelmarGeometryBaseResource : public VelmarMeshResource {
public:
  VelmarGeometryBaseResource(const Vak::PString& name, const Vak::ResourceDatabase* database);
  ~VelmarGeometryBaseResource() override;

  bool LoadAll() override;
  Result IsAllLoaded() override;
  Result Load(const char* file) override;
  Result LoadComplete() override;
  uint32_t CalculateDataSize() override;

  // A new instance of the loaded mesh for the render kernel (owned by the
  // caller); null without a kernel, without a definition, or for a skinned
  // mesh (its instances are not made here).
  virtual VelmarIndexedMeshInstance* CreateMeshInstance() = 0;
  VelmarIndexedMeshDefinition* GetDefinition() const { return definition_.get(); }
  void ClearFailedMaterials() { failedMaterials_.clear(); }
  const std::vector<Vak::PString>& GetFailedMaterials() const { return failedMaterials_; }

  // A texture file of the mesh as the resource's database finds it: its file
  // part in the folder of the resource's name.
  Vak::PString PlaceTextureFile(const Vak::PString& file) const;

  void SetRenderKernel(Vak::RenderKernel* kernel) { kernel_ = kernel; }
  Vak::RenderKernel* GetRenderKernel() const { return kernel_; }
  void SetGeometryOptions(const MeshGeometryOptions& options) { options_ = options; }
  void SetMaterialFallBack(bool allowed) { fallBack_ = allowed; }

  const MeshGeometryOptions& GetGeometryOptions() const override { return options_; }
  bool AllowsMaterialFallBack() const override { return fallBack_; }
  void AddFailedMaterialName(const Vak::PString& name) override { failedMaterials_.push_back(name); }

protected:
  // An empty definition built with `options`.
  virtual std::unique_ptr<VelmarIndexedMeshDefinition> MakeDefinition(const MeshGeometryOptions& options) = 0;
  // Reads the file into the definition; 0 on success, else the reader's code.
  virtual unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file) = 0;
  virtual std::size_t DefinitionSize() const = 0;
  // Whether the definition makes a plain (not skinned) instance.
  bool MakesPlainInstance() const;

  Vak::RenderKernel* kernel_ = nullptr;
  MeshGeometryOptions options_;
  bool fallBack_ = false;
  std::vector<Vak::PString> failedMaterials_;
  std::unique_ptr<VelmarIndexedMeshDefinition> definition_;
};

// A mesh file of the indexed kind (".im").
class VelmarIndexedMeshResource : public VelmarGeometryBaseResource {
public:
  using VelmarGeometryBaseResource::VelmarGeometryBaseResource;
  uint32_t CalculateSize() override { return sizeof(VelmarIndexedMeshResource); }
  VelmarIndexedMeshInstance* CreateMeshInstance() override;

protected:
  std::unique_ptr<VelmarIndexedMeshDefinition> MakeDefinition(const MeshGeometryOptions& options) override;
  unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file) override;
  std::size_t DefinitionSize() const override { return sizeof(VelmarIndexedMeshDefinition); }
};

// A mesh file with progressive records (".pm"). Its index data is dynamic
// unless the options say otherwise, since its instances edit it.
class VelmarProgressiveMeshResource : public VelmarGeometryBaseResource {
public:
  using VelmarGeometryBaseResource::VelmarGeometryBaseResource;
  uint32_t CalculateSize() override { return sizeof(VelmarProgressiveMeshResource); }
  VelmarIndexedMeshInstance* CreateMeshInstance() override;

protected:
  std::unique_ptr<VelmarIndexedMeshDefinition> MakeDefinition(const MeshGeometryOptions& options) override;
  unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file) override;
  std::size_t DefinitionSize() const override { return sizeof(VelmarProgressiveMeshDefinition); }
};

// The mesh resource types: the file extension each is registered under and
// its own identifier.
inline constexpr const char* kIndexedMeshExtension = "im";
inline constexpr const char* kIndexedMeshTypeId = "B9E68EA1-56A3-4a6d-9D5D-C5C020F944E6";
inline constexpr const char* kProgressiveMeshExtension = "pm";
inline constexpr const char* kProgressiveMeshTypeId = "2E8739F0-412F-48c2-9F71-912B659C58B6";

// Registers the mesh resource types with the running plug-in system, named by
// their bare file extensions.
void RegisterMeshResourceTypes();
