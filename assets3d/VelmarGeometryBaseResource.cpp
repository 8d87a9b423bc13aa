#include "assets3d/VelmarGeometryBaseResource.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <typeinfo>

#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/UId.h"
#include "assets3d/MeshFile.h"
#include "assets3d/VelmarDynamicIndexedMeshInstance.h"
#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarIndexedMeshLODInstance.h"
#include "engine/dorvix/RenderKernel.h"

namespace {

// Material flag bit 3: a texture it could not take is worth recording.
constexpr uint32_t kRecordTextureFailures = 8;
constexpr int kTextureFileMissing = 2;

} // namespace

VelmarGeometryBaseResource::VelmarGeometryBaseResource(const Vak::PString& name,
                                                       const Vak::ResourceDatabase* database)
    : VelmarMeshResource(name, database) {}

VelmarGeometryBaseResource::~VelmarGeometryBaseResource() { definition_.reset(); }

Vak::PString VelmarGeometryBaseResource::PlaceTextureFile(const Vak::PString& file) const {
  return Vak::PString(MeshFile::BesideName(GetName().c_str(), MeshFile::FileNamePart(file.c_str())).c_str());
}

Vak::Resource::Result VelmarGeometryBaseResource::Load(const char* file) {
  ClearFailedMaterials();
  return ReadDefinition(file, false);
}

Vak::Resource::Result VelmarGeometryBaseResource::ReadDefinition(const char* file, bool text) {
  if (kernel_ == nullptr) return RES_FAILED_TO_LOAD;
  definition_ = MakeDefinition(options_);
  if (ReadFile(*definition_, file, text) != MeshFile::kOk) {
    definition_.reset();
    return RES_FAILED_TO_LOAD;
  }
  return RES_OK;
}

std::vector<VelmarGeometryBaseResource::Part> VelmarGeometryBaseResource::Parts() const {
  return {Part{definition_->GetChunks(), definition_->GetMaterials()}};
}

void VelmarGeometryBaseResource::BindPendingTextures(const VelmarIndexedMeshDefinition& definition) {
  for (const VelmarIndexedMeshDefinition::MaterialBinding& binding : definition.GetPendingBindings()) {
    if (binding.material == nullptr) continue;
    for (unsigned slot = 0; slot < binding.textures.size(); ++slot) {
      const VelmarIndexedMeshDefinition::Texture& texture = binding.textures[slot];
      const int result =
          binding.material->SetTexture(slot, GetDatabase(), PlaceTextureFile(texture.file), texture.value);
      if (result != 0 && result != kTextureFileMissing && (binding.material->GetFlags() & kRecordTextureFailures))
        AddFailedMaterialName(binding.decoratedName);
    }
  }
}

void VelmarGeometryBaseResource::PrepareMaterials() { BindPendingTextures(*definition_); }

Vak::Resource::Result VelmarGeometryBaseResource::LoadComplete() {
  if (definition_ && kernel_) {
    PrepareMaterials();
    // A chunk whose buffers cannot be made is drawn without them; the others
    // still get theirs.
    for (const Part& part : Parts())
      for (unsigned i = 0; i < part.chunks->Count(); ++i)
        if (Vak::GeometryChunk* chunk = part.chunks->Get(i)) chunk->InitializeBuffers(&kernel_->GetDisplay(), true);
  }
  return Vak::Resource::LoadComplete();
}

bool VelmarGeometryBaseResource::LoadAll() {
  bool loaded = Vak::Resource::LoadAll();
  if (!definition_) return loaded;
  for (const Part& part : Parts())
    for (unsigned i = 0; i < part.materials->Count(); ++i) {
      Vak::Material* material = part.materials->Get(i);
      if (material == nullptr || material->IsLoaded()) continue;
      for (Vak::Texture* texture : material->GetTextureList())
        if (!texture->IsLoaded() && !texture->Load()) loaded = false;
    }
  return loaded;
}

Vak::Resource::Result VelmarGeometryBaseResource::IsAllLoaded() {
  const Result own = Vak::Resource::IsAllLoaded();
  if (!own.Ok() || !definition_) return own;
  for (const Part& part : Parts())
    for (unsigned i = 0; i < part.materials->Count(); ++i) {
      Vak::Material* material = part.materials->Get(i);
      if (material == nullptr || material->IsLoaded()) continue;
      const std::vector<Vak::Texture*>& list = material->GetTextureList();
      if (material->GetState() != Vak::Material::kLoadingTextures || list.empty()) return RES_FAILED_TO_LOAD;
      for (Vak::Texture* texture : list) {
        if (texture->IsLoaded()) continue;
        Vak::Resource* image = texture->GetResource();
        if (texture->HasFailed() || (image && image->IsAllLoaded() == RES_FAILED_TO_LOAD)) return RES_FAILED_TO_LOAD;
        return RES_PARTIAL_LOAD;
      }
      return RES_PARTIAL_LOAD;
    }
  return RES_OK;
}

uint32_t VelmarGeometryBaseResource::CalculateDataSize() {
  if (!definition_) return 0;
  std::size_t size = DefinitionSize();
  size += definition_->GetInfluences().size() * sizeof(Vak::InfluenceDefinition);
  size += definition_->GetAttachmentPoints().size() * sizeof(VelmarIndexedMeshDefinition::AttachmentPoint);
  for (const Part& part : Parts())
    for (unsigned i = 0; i < part.chunks->Count(); ++i)
      if (const Vak::GeometryChunk* chunk = part.chunks->Get(i))
        size += std::size_t(chunk->GetVertexSize()) * chunk->GetVertexCount() + 2 * std::size_t(chunk->GetIndexCount());
  return static_cast<uint32_t>(std::min<std::size_t>(size, kUnknownSize - 1));
}

bool VelmarGeometryBaseResource::MakesPlainInstance() const {
  return definition_->GetInfluences().empty() || definition_->GetMaxMatricesPerChunk() == 0;
}

namespace {

// The plain instance of `definition`, or its skinned one (null when a
// skinned mesh has no root bone).
template <class Plain, class Skinned>
VelmarIndexedMeshInstance* MakeInstance(bool plain, Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource,
                                        const VelmarIndexedMeshDefinition& definition) {
  if (plain) {
    auto* instance = new Plain(kernel, resource);
    instance->InitFromDefinition(definition);
    instance->CompleteCreation(definition);
    return instance;
  }
  auto* instance = new Skinned(kernel, resource);
  instance->InitFromDefinition(definition);
  if (!instance->InitSkin(definition)) {
    delete instance;
    return nullptr;
  }
  definition.AddAttachmentPoints(*instance);
  return instance;
}

} // namespace

// --- Indexed -------------------------------------------------------------------

std::unique_ptr<VelmarIndexedMeshDefinition> VelmarIndexedMeshResource::MakeDefinition(
    const MeshGeometryOptions& options) {
  return std::make_unique<VelmarIndexedMeshDefinition>(options);
}

unsigned long VelmarIndexedMeshResource::ReadFile(VelmarIndexedMeshDefinition& definition, const char* file, bool) {
  Vak::File opened;
  if (file == nullptr) return MeshFile::kNoData;
  // Instances and the collision build name themselves after it.
  definition.SetFileName(file);
  if (!opened.Open(file, Vak::File::kRead).Ok()) return MeshFile::kNoData;
  definition.GetMemoryFile().Open(opened, false, 0);
  opened.Close();
  Vak::Display& display = kernel_->GetDisplay();
  unsigned long result = MeshFile::kOk;
  definition.ReadMeshFile(&result, &display, &kernel_->GetMaterialManager(), this, file, display.GetDefaultColour());
  return result;
}

VelmarIndexedMeshInstance* VelmarIndexedMeshResource::CreateMeshInstance() {
  if (kernel_ == nullptr || !definition_) return nullptr;
  return MakeInstance<VelmarIndexedMeshInstance, VelmarDynamicIndexedMeshInstance>(MakesPlainInstance(), kernel_,
                                                                                   this, *definition_);
}

// --- Progressive ---------------------------------------------------------------

std::unique_ptr<VelmarIndexedMeshDefinition> VelmarProgressiveMeshResource::MakeDefinition(
    const MeshGeometryOptions& options) {
  MeshGeometryOptions own = options;
  if (!own.dynamicIndex.isSet) own.dynamicIndex = {1, 1};
  return std::make_unique<VelmarProgressiveMeshDefinition>(own);
}

unsigned long VelmarProgressiveMeshResource::ReadFile(VelmarIndexedMeshDefinition& definition, const char*, bool) {
  Vak::Display& display = kernel_->GetDisplay();
  unsigned long result = MeshFile::kOk;
  // The reader opens the file itself, by the resource's name.
  definition.ReadMeshFile(&result, &display, &kernel_->GetMaterialManager(), this, GetName().c_str(),
                          display.GetDefaultColour());
  return result;
}

VelmarIndexedMeshInstance* VelmarProgressiveMeshResource::CreateMeshInstance() {
  if (kernel_ == nullptr || !definition_) return nullptr;
  return MakeInstance<VelmarProgressiveMeshInstance, VelmarDynamicProgressiveMeshInstance>(MakesPlainInstance(),
                                                                                           kernel_, this, *definition_);
}

// --- Level of detail -----------------------------------------------------------

std::unique_ptr<VelmarIndexedMeshDefinition> VelmarIndexedMeshLODResource::MakeDefinition(
    const MeshGeometryOptions& options) {
  return std::make_unique<VelmarIndexedMeshLODDefinition>(options);
}

unsigned long VelmarIndexedMeshLODResource::ReadFile(VelmarIndexedMeshDefinition& definition, const char*,
                                                     bool text) {
  if (!kernel_->HasMaterialManager()) return MeshFile::kNoMaterialManager;
  auto& lod = static_cast<VelmarIndexedMeshLODDefinition&>(definition);
  Vak::Display& display = kernel_->GetDisplay();
  Vak::MaterialManager* manager = &kernel_->GetMaterialManager();
  unsigned long result = MeshFile::kOk;
  // The readers open the file themselves, by the resource's name; the text
  // form is the name with ".txt".
  if (text) {
    const std::string name = std::string(GetName().c_str()) + ".txt";
    lod.ReadLODDescription(&result, &display, manager, this, name.c_str(), display.GetDefaultColour());
  } else {
    lod.ReadMeshFile(&result, &display, manager, this, GetName().c_str(), display.GetDefaultColour());
  }
  return result;
}

std::vector<VelmarGeometryBaseResource::Part> VelmarIndexedMeshLODResource::Parts() const {
  const VelmarIndexedMeshLODDefinition& lod = *GetLODDefinition();
  std::vector<Part> parts;
  for (unsigned i = 0; i < lod.GetLevelCount(); ++i) {
    const VelmarIndexedMeshLODDefinition::Level& level = lod.GetLevel(i);
    if (level.chunks && level.materials) parts.push_back(Part{level.chunks, level.materials});
  }
  return parts;
}

void VelmarIndexedMeshLODResource::PrepareMaterials() {
  VelmarIndexedMeshLODDefinition& lod = *GetLODDefinition();
  // A LODM file's material table is the definition's own; a description's
  // materials are those of the level meshes it kept.
  BindPendingTextures(lod);
  for (const std::unique_ptr<VelmarIndexedMeshDefinition>& level : lod.GetLevelDefinitions())
    BindPendingTextures(*level);
  lod.GetLevelDefinitions().clear();
  ShareEqualMaterials();
}

void VelmarIndexedMeshLODResource::ShareEqualMaterials() {
  const std::vector<Part> parts = Parts();
  for (std::size_t level = 1; level < parts.size(); ++level)
    for (unsigned slot = 0; slot < parts[level].materials->Count(); ++slot) {
      Vak::Material* material = parts[level].materials->Get(slot);
      if (material == nullptr) continue;
      Vak::Material* equal = nullptr;
      for (std::size_t earlier = 0; earlier < level && equal == nullptr; ++earlier)
        for (unsigned k = 0; k < parts[earlier].materials->Count() && equal == nullptr; ++k) {
          Vak::Material* candidate = parts[earlier].materials->Get(k);
          if (candidate != nullptr && candidate != material && typeid(*candidate) == typeid(*material) &&
              candidate->IsEqual(*material))
            equal = candidate;
        }
      if (equal == nullptr) continue;
      equal->AddReference();
      parts[level].materials->Set(slot, equal);
    }
}

std::size_t VelmarIndexedMeshLODResource::DefinitionSize() const {
  const VelmarIndexedMeshLODDefinition& lod = *GetLODDefinition();
  std::size_t size = 4 * lod.GetDistances().capacity();
  size += lod.GetLevelCount() * sizeof(VelmarIndexedMeshLODDefinition::Level);
  size += lod.GetNamedLevels().size() * sizeof(VelmarIndexedMeshLODDefinition::NamedLevel);
  for (const VelmarIndexedMeshLODDefinition::BoneRecord& bone : lod.GetBoneTable()) {
    size += sizeof(bone);
    for (const auto& [level, groups] : bone.levels)
      for (const Vak::InfluenceDefinition::Group& group : groups)
        size += sizeof(group) + group.entries.size() * sizeof(Vak::InfluenceDefinition::Entry);
  }
  return size;
}

VelmarIndexedMeshInstance* VelmarIndexedMeshLODResource::CreateMeshInstance() {
  if (kernel_ == nullptr || !definition_) return nullptr;
  const VelmarIndexedMeshLODDefinition& lod = *GetLODDefinition();
  if (lod.GetBoneTable().empty() && lod.GetRootBone() == nullptr) {
    auto* instance = new VelmarIndexedMeshLODInstance(kernel_, this);
    instance->InitFromLODDefinition(lod);
    instance->CompleteCreation(lod);
    instance->FindAttachments(lod);
    return instance;
  }
  auto* instance = new VelmarDynamicIndexedMeshLODInstance(kernel_, this);
  instance->InitFromLODDefinition(lod);
  if (!instance->InitSkin(lod)) {
    delete instance;
    return nullptr;
  }
  lod.AddAttachmentPoints(*instance);
  instance->FindAttachments(lod);
  return instance;
}

void RegisterMeshResourceTypes() {
  const Vak::PString indexed(kIndexedMeshExtension);
  new Vak::ResourceType<VelmarIndexedMeshResource>(indexed, Vak::UId(kIndexedMeshTypeId));
  const Vak::PString progressive(kProgressiveMeshExtension);
  new Vak::ResourceType<VelmarProgressiveMeshResource>(progressive, Vak::UId(kProgressiveMeshTypeId));
  const Vak::PString lodText(kLODMeshTextExtension);
  new Vak::ResourceType<VelmarIndexedMeshLODResource>(lodText, Vak::UId(kLODMeshTypeId));
  const Vak::PString lod(kLODMeshExtension);
  new Vak::ResourceType<VelmarIndexedMeshLODResource>(lod, Vak::UId(kLODMeshTypeId));
}
