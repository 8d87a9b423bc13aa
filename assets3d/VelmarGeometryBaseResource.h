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
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
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
  // caller): a skinned mesh gives its dynamic form. Null without a kernel,
  // without a definition, or for a skinned mesh without a root bone.
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
  // The chunks and materials of one mesh the definition holds.
  struct Part {
    SharedRefArray<Vak::GeometryChunk>* chunks;
    SharedRefArray<Vak::Material>* materials;
  };

  // An empty definition built with `options`.
  virtual std::unique_ptr<VelmarIndexedMeshDefinition> MakeDefinition(const MeshGeometryOptions& options) = 0;
  // Reads the file (its text form when `text`) into the definition; 0 on
  // success, else the reader's code.
  virtual unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file, bool text) = 0;
  // What the definition takes besides its influences, attachment points and
  // chunks.
  virtual std::size_t DefinitionSize() const = 0;
  // The meshes of the definition: its own, or one per level.
  virtual std::vector<Part> Parts() const;
  // Hands the definition's pending textures to their materials.
  virtual void PrepareMaterials();
  void BindPendingTextures(const VelmarIndexedMeshDefinition& definition);
  // The load every form shares once the failed material names are dealt
  // with.
  Result ReadDefinition(const char* file, bool text);
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
  unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file, bool text) override;
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
  unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file, bool text) override;
  std::size_t DefinitionSize() const override { return sizeof(VelmarProgressiveMeshDefinition); }
};

// A mesh in levels of detail: a "LODM" file (".lm") or a text description
// naming one mesh file per level (".lm.txt"). Equal materials of different
// levels are shared once the load completes.
class VelmarIndexedMeshLODResource : public VelmarGeometryBaseResource {
public:
  using VelmarGeometryBaseResource::VelmarGeometryBaseResource;
  // The failed material names of an earlier load stay.
  Result LoadTxt(const char* file) override { return ReadDefinition(file, true); }
  VelmarIndexedMeshInstance* CreateMeshInstance() override;
  VelmarIndexedMeshLODDefinition* GetLODDefinition() const {
    return static_cast<VelmarIndexedMeshLODDefinition*>(definition_.get());
  }

protected:
  std::unique_ptr<VelmarIndexedMeshDefinition> MakeDefinition(const MeshGeometryOptions& options) override;
  unsigned long ReadFile(VelmarIndexedMeshDefinition& definition, const char* file, bool text) override;
  // The distance list, level and named-level records and the bone table; no
  // term for the definition object itself.
  std::size_t DefinitionSize() const override;
  std::vector<Part> Parts() const override;
  void PrepareMaterials() override;

private:
  // From the second level on, a material equal to one of an earlier level
  // (same type, Vak::Material::IsEqual) is replaced by that one.
  void ShareEqualMaterials();
};

// The mesh resource types: the file extension each is registered under and
// its own identifier.
inline constexpr const char* kIndexedMeshExtension = "im";
inline constexpr const char* kIndexedMeshTypeId = "B9E68EA1-56A3-4a6d-9D5D-C5C020F944E6";
inline constexpr const char* kProgressiveMeshExtension = "pm";
inline constexpr const char* kProgressiveMeshTypeId = "2E8739F0-412F-48c2-9F71-912B659C58B6";
inline constexpr const char* kLODMeshExtension = "lm";
// The text form is found under the extension with ".txt"; both forms are one
// type, told apart by the load the resource system calls.
inline constexpr const char* kLODMeshTextExtension = "lm.txt";
inline constexpr const char* kLODMeshTypeId = "8FCC40D7-8BDD-4d14-B528-65692F5DF710";

// Registers the mesh resource types with the running plug-in system, named by
// their bare file extensions.
void RegisterMeshResourceTypes();
