#include "assets3d/VelmarIndexedMeshInstance.h"

#include <algorithm>

#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "assets3d/VelmarProgressiveMeshDefinition.h"

VelmarIndexedMeshInstance::VelmarIndexedMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource)
    : kernel_(kernel) {
  SetResource(resource);
}

VelmarIndexedMeshInstance::~VelmarIndexedMeshInstance() {
  SetResource(nullptr);
  if (chunks_) chunks_->ReleaseReference();
  if (materials_) materials_->ReleaseReference();
}

void VelmarIndexedMeshInstance::SetResource(VelmarGeometryBaseResource* resource) {
  if (resource_) {
    resource_->Unlock();
    resource_->ReleaseHold();
  }
  resource_ = resource;
  if (resource_) {
    resource_->AddHold();
    resource_->Lock();
  }
}

void VelmarIndexedMeshInstance::InitFromDefinition(const VelmarIndexedMeshDefinition& definition) {
  ShareArrays(static_cast<unsigned>(definition.GetChunkCount()), definition.GetChunks(), definition.GetMaterials());
  TakeDefinitionData(definition);
  MakeDynamicChunksOwn();
}

void VelmarIndexedMeshInstance::ShareArrays(unsigned count, SharedRefArray<Vak::GeometryChunk>* chunks,
                                            SharedRefArray<Vak::Material>* materials) {
  chunkCount_ = count;
  chunks->AddReference();
  materials->AddReference();
  if (chunks_) chunks_->ReleaseReference();
  if (materials_) materials_->ReleaseReference();
  chunks_ = chunks;
  materials_ = materials;
}

void VelmarIndexedMeshInstance::TakeDefinitionData(const VelmarIndexedMeshDefinition& definition) {
  boundsMin_ = definition.GetBoundsMin();
  boundsMax_ = definition.GetBoundsMax();
  meshName_ = definition.GetFileName();
  referencePoints_.clear();
  for (unsigned i = 0; i < static_cast<unsigned>(definition.GetAttachmentPointCount()); ++i) {
    const Vak::PString name = definition.GetAttachmentPointName(i);
    const char first = name.Length() > 0 ? name.c_str()[0] : '\0';
    if (first != 'p' && first != 'P') continue;
    referencePoints_.push_back(
        {name, definition.GetAttachmentPointPosition(i), definition.GetAttachmentPointRotation(i)});
  }
  SetName(meshName_);
}

void VelmarIndexedMeshInstance::MakeDynamicChunksOwn() {
  bool madePrivate = false;
  for (unsigned i = 0; i < chunks_->Count(); ++i) {
    const Vak::GeometryChunk* chunk = chunks_->Get(i);
    if (chunk == nullptr || !(chunk->GetFlags() & kDynamicChunk)) continue;
    if (!madePrivate) {
      MakeChunksPrivate();
      madePrivate = true;
    }
    chunks_->Set(i, chunks_->Get(i)->CreateInstance());
  }
}

void VelmarIndexedMeshInstance::MakeChunksPrivate() {
  auto* own = new SharedRefArray<Vak::GeometryChunk>;
  for (unsigned i = 0; i < chunks_->Count(); ++i) {
    Vak::GeometryChunk* chunk = chunks_->Get(i);
    if (chunk) chunk->AddReference();
    own->Set(i, chunk);
  }
  chunks_->ReleaseReference();
  chunks_ = own;
}

int VelmarIndexedMeshInstance::GetPrimitiveCount() const {
  int total = 0;
  if (chunks_ == nullptr) return 0;
  for (unsigned i = 0; i < chunks_->Count(); ++i)
    if (const Vak::GeometryChunk* chunk = chunks_->Get(i)) total += static_cast<int>(chunk->GetPrimitiveCount());
  return total;
}

void VelmarIndexedMeshInstance::SetLight(Vak::ParallelLight* light) {
  if (light != light_) lightingChanged_ = true;
  light_ = light;
}

bool VelmarIndexedMeshInstance::UpdateLighting(bool force) {
  if (!force && !lightingChanged_) return false;
  lightingChanged_ = false;
  return true;
}

VelmarProgressiveMeshInstance::VelmarProgressiveMeshInstance(Vak::RenderKernel* kernel,
                                                             VelmarGeometryBaseResource* resource)
    : VelmarIndexedMeshInstance(kernel, resource) {}

void VelmarProgressiveMeshInstance::InitFromDefinition(const VelmarIndexedMeshDefinition& definition) {
  VelmarIndexedMeshInstance::InitFromDefinition(definition);
  // Detail changes edit the index data, so every chunk is this instance's own.
  MakeChunksPrivate();
  for (unsigned i = 0; i < chunks_->Count(); ++i)
    if (Vak::GeometryChunk* chunk = chunks_->Get(i)) chunks_->Set(i, chunk->CreateInstance());
  definition_ = dynamic_cast<const VelmarProgressiveMeshDefinition*>(&definition);
  level_ = definition_ ? static_cast<int>(definition_->GetTopCount()) - 1 : 0;
}
