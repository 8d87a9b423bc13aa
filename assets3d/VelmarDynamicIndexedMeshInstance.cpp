#include "assets3d/VelmarDynamicIndexedMeshInstance.h"

#include <memory>

#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/dorvix/VertexProgram.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ViewPoint.h"

using Vak::GeometryChunk;

namespace {

// Releases a chunk not handed over.
struct ChunkRelease {
  void operator()(GeometryChunk* chunk) const { chunk->ReleaseReference(); }
};
using HeldChunk = std::unique_ptr<GeometryChunk, ChunkRelease>;

} // namespace

template <class Instance>
bool VelmarSkinnedInstance<Instance>::InitSkin(const VelmarIndexedMeshDefinition& definition) {
  const Vak::ParticleBone* source = definition.GetRootBone();
  if (source == nullptr) return false;
  const auto& influences = definition.GetInfluences();
  LoadInfluences(static_cast<unsigned>(influences.size()), influences.data(), definition.UsesHardwareSkinning(), 0,
                 nullptr);
  OwnSkinnedChunks();
  Vak::Particle* skeleton = CopySkeleton(*source);
  this->AddChild(skeleton);
  BindBones(skeleton);
  return true;
}

template <class Instance>
void VelmarSkinnedInstance<Instance>::OwnSkinnedChunks() {
  if (this->chunks_ == nullptr) return;
  if (!this->IsPrivate(this->chunks_)) this->MakeChunksPrivate();
  Vak::Display* display = this->kernel_ ? &this->kernel_->GetDisplay() : nullptr;
  // Software skinning writes the positions; palette chunks point at this
  // instance's bones.
  const bool software = !IsRigidLevel(0);
  for (unsigned i = 0; i < this->chunks_->Count(); ++i) {
    const GeometryChunk* chunk = this->chunks_->Get(i);
    if (chunk == nullptr) continue;
    GeometryChunk* own = chunk->CreateInstance();
    if (software) own->DuplicateVertexArray(0, display);
    AssignMatrices(*own);
    this->chunks_->Set(i, own);
  }
}

template <class Instance>
void VelmarSkinnedInstance<Instance>::CopySkin(const VelmarSkinnedInstance& from) {
  for (const Vak::Particle* child : from.Children()) this->AddChild(CopySkeleton(*child));
  CopyBones(from);
  // The copy's skeleton may stand posed: the bind pose is the source's.
  if (const Bone* root = GetRootBone()) BindParticles(this->FindByName(root->name));
  OwnSkinnedChunks();
}

template <class Instance>
void VelmarSkinnedInstance<Instance>::UpdateSkin(uint32_t stamp) {
  VelmarInfluenceMesh::UpdateSkin(this->chunkCount_, this->chunks_, stamp, 0);
}

template <class Instance>
void VelmarSkinnedInstance<Instance>::Render(Vak::ViewPoint& viewPoint, Vak::Display& display,
                                             const Vak::Matrix4& transform) {
  UpdateSkin(viewPoint.GetCurrentFrame());
  Instance::Render(viewPoint, display, transform);
}

template class VelmarSkinnedInstance<VelmarIndexedMeshInstance>;
template class VelmarSkinnedInstance<VelmarProgressiveMeshInstance>;

// --- Indexed -------------------------------------------------------------------

Vak::Particle* VelmarDynamicIndexedMeshInstance::Clone() const {
  auto* copy = new VelmarDynamicIndexedMeshInstance(kernel_, resource_);
  copy->CopyInstance(*this);
  copy->CopySkin(*this);
  return copy;
}

bool VelmarDynamicIndexedMeshInstance::AgreesWithFirstChunk(const GeometryChunk& chunk,
                                                            const ChunkInfluences& influences) const {
  const GeometryChunk* first = GetTriangleChunk(0);
  if (first == nullptr) return false;
  const bool palette = (chunk.GetFlags() & kPaletteChunk) != 0, firstPalette = (first->GetFlags() & kPaletteChunk) != 0;
  const bool boneList = !influences.boneNames.empty(), firstBoneList = first->GetNumInfluenceMatrices() > 0;
  return palette == firstPalette && boneList == firstBoneList;
}

namespace {

// Palette chunks carry their bone indices in vertex item 10; false when the
// chunk's layout has none.
bool MapChunkPalette(const VelmarInfluenceMesh& skin, GeometryChunk& chunk, const std::vector<Vak::PString>& names,
                     unsigned first, Vak::Display* display) {
  const int stream = chunk.GetVertexType().GetItemStream(Vak::kItemBlendIndices);
  if (stream < 0) return false;
  if (chunk.GetVertexDataShared(stream)) chunk.DuplicateVertexArray(stream, display);
  if (!skin.MapPalette(chunk, names, first)) return false;
  chunk.SetVertexDataDirty(stream);
  return true;
}

} // namespace

bool VelmarDynamicIndexedMeshInstance::AddSkinnedChunk(GeometryChunk* chunk, Vak::Material* material,
                                                       const ChunkInfluences& influences) {
  if (chunk == nullptr || chunks_ == nullptr || materials_ == nullptr) return false;
  if (OwnedElsewhere(*chunk, this) || !AgreesWithFirstChunk(*chunk, influences)) return false;
  const bool palette = !influences.boneNames.empty();
  if (!palette && !CanTakeRecords(influences, 0)) return false;
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  HeldChunk added(DuplicateForInstance(*chunk));
  if (palette) {
    added->ResetPalette();
    if (!MapChunkPalette(*this, *added, influences.boneNames, 0, display)) return false;
  } else {
    added->DuplicateVertexArray(0, display);
  }
  const unsigned index = chunkCount_;
  GeometryChunk* own = added.release();
  AppendChunkEntry(own, material);
  if (palette)
    AssignMatrices(*own);
  else
    TakeRecords(influences, 0, index, influences.vertexBase);
  return true;
}

bool VelmarDynamicIndexedMeshInstance::MergeSkinnedChunk(GeometryChunk* chunk, unsigned index,
                                                         const ChunkInfluences& influences) {
  if (chunk == nullptr || !AgreesWithFirstChunk(*chunk, influences)) return false;
  const GeometryChunk* target = GetTriangleChunk(index);
  if (target == nullptr) return false;
  const unsigned base = target->GetVertexCount();
  const bool palette = !influences.boneNames.empty();
  if (palette) {
    const Vak::VertexProgram* program = target->GetVertexProgram(0);
    if (program == nullptr || program->GetIndexRange() < base) return false;
  } else if (!CanTakeRecords(influences, 0)) {
    return false;
  }
  HeldChunk merged(MergedChunk(*chunk, index));
  if (!merged) return false;
  if (palette && !MapChunkPalette(*this, *merged, influences.boneNames, base,
                                  kernel_ ? &kernel_->GetDisplay() : nullptr))
    return false;
  if (!palette) TakeRecords(influences, 0, index, base);
  if (!IsPrivate(chunks_)) MakeChunksPrivate();
  GeometryChunk* own = merged.release();
  chunks_->Set(index, own);
  if (palette) AssignMatrices(*own);
  return true;
}

// --- Progressive ---------------------------------------------------------------

Vak::Particle* VelmarDynamicProgressiveMeshInstance::Clone() const {
  auto* copy = new VelmarDynamicProgressiveMeshInstance(kernel_, resource_);
  copy->CopyProgressive(*this);
  copy->CopySkin(*this);
  return copy;
}
