#include "assets3d/VelmarGeometryBaseResource.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/UId.h"
#include "assets3d/MeshFile.h"
#include "assets3d/VelmarIndexedMeshInstance.h"
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
  const char* part = MeshFile::FileNamePart(file.c_str());
  const std::string name = GetName().c_str();
  const std::size_t slash = name.find_last_of("\\/");
  if (slash == std::string::npos) return Vak::PString(part);
  return Vak::PString((name.substr(0, slash + 1) + part).c_str());
}

Vak::Resource::Result VelmarGeometryBaseResource::Load(const char* file) {
  ClearFailedMaterials();
  if (kernel_ == nullptr) return RES_FAILED_TO_LOAD;
  definition_ = MakeDefinition(options_);
  if (ReadFile(*definition_, file) != MeshFile::kOk) {
    definition_.reset();
    return RES_FAILED_TO_LOAD;
  }
  return RES_OK;
}

Vak::Resource::Result VelmarGeometryBaseResource::LoadComplete() {
  if (definition_ && kernel_) {
    for (const VelmarIndexedMeshDefinition::MaterialBinding& binding : definition_->GetPendingBindings()) {
      if (binding.material == nullptr) continue;
      for (unsigned slot = 0; slot < binding.textures.size(); ++slot) {
        const VelmarIndexedMeshDefinition::Texture& texture = binding.textures[slot];
        const int result = binding.material->SetTexture(slot, GetDatabase(), PlaceTextureFile(texture.file),
                                                        texture.value);
        if (result != 0 && result != kTextureFileMissing &&
            (binding.material->GetFlags() & kRecordTextureFailures))
          AddFailedMaterialName(binding.decoratedName);
      }
    }
    // A chunk whose buffers cannot be made is drawn without them; the others
    // still get theirs.
    for (unsigned i = 0; i < definition_->GetChunks()->Count(); ++i)
      if (Vak::GeometryChunk* chunk = definition_->GetChunk(i)) chunk->InitializeBuffers(&kernel_->GetDisplay(), true);
  }
  return Vak::Resource::LoadComplete();
}

bool VelmarGeometryBaseResource::LoadAll() {
  bool loaded = Vak::Resource::LoadAll();
  if (!definition_) return loaded;
  SharedRefArray<Vak::Material>* materials = definition_->GetMaterials();
  for (unsigned i = 0; i < materials->Count(); ++i) {
    Vak::Material* material = materials->Get(i);
    if (material == nullptr || material->IsLoaded()) continue;
    for (Vak::Texture* texture : material->GetTextureList())
      if (!texture->IsLoaded() && !texture->Load()) loaded = false;
  }
  return loaded;
}

Vak::Resource::Result VelmarGeometryBaseResource::IsAllLoaded() {
  const Result own = Vak::Resource::IsAllLoaded();
  if (!own.Ok() || !definition_) return own;
  SharedRefArray<Vak::Material>* materials = definition_->GetMaterials();
  for (unsigned i = 0; i < materials->Count(); ++i) {
    Vak::Material* material = materials->Get(i);
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
  SharedRefArray<Vak::GeometryChunk>* chunks = definition_->GetChunks();
  for (unsigned i = 0; i < chunks->Count(); ++i) {
    if (const Vak::GeometryChunk* chunk = chunks->Get(i))
      size += std::size_t(chunk->GetVertexSize()) * chunk->GetVertexCount() + 2 * std::size_t(chunk->GetIndexCount());
  }
  return static_cast<uint32_t>(std::min<std::size_t>(size, kUnknownSize - 1));
}

bool VelmarGeometryBaseResource::MakesPlainInstance() const {
  return definition_->GetInfluences().empty() || definition_->GetMaxMatricesPerChunk() == 0;
}

// --- Indexed -------------------------------------------------------------------

std::unique_ptr<VelmarIndexedMeshDefinition> VelmarIndexedMeshResource::MakeDefinition(
    const MeshGeometryOptions& options) {
  return std::make_unique<VelmarIndexedMeshDefinition>(options);
}

unsigned long VelmarIndexedMeshResource::ReadFile(VelmarIndexedMeshDefinition& definition, const char* file) {
  Vak::File opened;
  if (file == nullptr || !opened.Open(file, Vak::File::kRead).Ok()) return MeshFile::kNoData;
  definition.GetMemoryFile().Open(opened, false, 0);
  opened.Close();
  Vak::Display& display = kernel_->GetDisplay();
  unsigned long result = MeshFile::kOk;
  definition.ReadMeshFile(&result, &display, &kernel_->GetMaterialManager(), this, file, display.GetDefaultColour());
  return result;
}

VelmarIndexedMeshInstance* VelmarIndexedMeshResource::CreateMeshInstance() {
  if (kernel_ == nullptr || !definition_ || !MakesPlainInstance()) return nullptr;
  auto* instance = new VelmarIndexedMeshInstance(kernel_, this);
  instance->InitFromDefinition(*definition_);
  return instance;
}

// --- Progressive ---------------------------------------------------------------

std::unique_ptr<VelmarIndexedMeshDefinition> VelmarProgressiveMeshResource::MakeDefinition(
    const MeshGeometryOptions& options) {
  MeshGeometryOptions own = options;
  if (!own.dynamicIndex.isSet) own.dynamicIndex = {1, 1};
  return std::make_unique<VelmarProgressiveMeshDefinition>(own);
}

unsigned long VelmarProgressiveMeshResource::ReadFile(VelmarIndexedMeshDefinition& definition, const char*) {
  Vak::Display& display = kernel_->GetDisplay();
  unsigned long result = MeshFile::kOk;
  // The reader opens the file itself, by the resource's name.
  definition.ReadMeshFile(&result, &display, &kernel_->GetMaterialManager(), this, GetName().c_str(),
                          display.GetDefaultColour());
  return result;
}

VelmarIndexedMeshInstance* VelmarProgressiveMeshResource::CreateMeshInstance() {
  if (kernel_ == nullptr || !definition_ || !MakesPlainInstance()) return nullptr;
  auto* instance = new VelmarProgressiveMeshInstance(kernel_, this);
  instance->InitFromDefinition(*definition_);
  return instance;
}

void RegisterMeshResourceTypes() {
  const Vak::PString indexed(kIndexedMeshExtension);
  new Vak::ResourceType<VelmarIndexedMeshResource>(indexed, Vak::UId(kIndexedMeshTypeId));
  const Vak::PString progressive(kProgressiveMeshExtension);
  new Vak::ResourceType<VelmarProgressiveMeshResource>(progressive, Vak::UId(kProgressiveMeshTypeId));
}
