#include "assets3d/VelmarIndexedMeshLODInstance.h"

#include <algorithm>

#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ViewPoint.h"

VelmarIndexedMeshLODInstance::~VelmarIndexedMeshLODInstance() { ReleaseLevels(); }

void VelmarIndexedMeshLODInstance::ReleaseLevels() {
  for (Level& level : levels_) {
    level.chunks->ReleaseReference();
    level.materials->ReleaseReference();
  }
  levels_.clear();
  dirtyCount_ = 0;
}

void VelmarIndexedMeshLODInstance::InitFromLODDefinition(const VelmarIndexedMeshLODDefinition& definition) {
  InitObjectLOD(definition.GetDistances(), definition.GetCalcPoint());
  definition_ = &definition;
  offset_ = definition.GetOffset();
  multiplier_ = definition.GetMultiplier();
  renderCutOff_ = definition.GetRenderCutOff();
  attachmentCutOff_ = definition.GetAttachmentCutOff();
  ReleaseLevels();
  for (unsigned i = 0; i < definition.GetLevelCount(); ++i) {
    const VelmarIndexedMeshLODDefinition::Level& level = definition.GetLevel(i);
    if (level.chunks == nullptr || level.materials == nullptr) continue;
    ShareArrays(static_cast<unsigned>(level.chunkCount), level.chunks, level.materials);
    MakeDynamicChunksOwn();
    chunks_->AddReference();
    materials_->AddReference();
    levels_.push_back(Level{chunkCount_, chunks_, materials_, {}, true});
  }
  dirtyCount_ = static_cast<unsigned>(levels_.size());
  TakeDefinitionData(definition);
  collisionLevel_ = static_cast<int>(levels_.size()) - 1;
  for (const VelmarIndexedMeshLODDefinition::NamedLevel& named : definition.GetNamedLevels())
    if (named.name == Vak::PString("collision") && named.level < levels_.size()) {
      collisionLevel_ = static_cast<int>(named.level);
      break;
    }
  PointBaseAt(collisionLevel_);
  currentLevel_ = 0;
  fixedLevel_ = false;
}

void VelmarIndexedMeshLODInstance::PointBaseAt(int level) {
  if (level < 0 || level >= GetLevelCount()) return;
  const Level& shown = levels_[static_cast<std::size_t>(level)];
  ShareArrays(shown.chunkCount, shown.chunks, shown.materials);
}

void VelmarIndexedMeshLODInstance::FindAttachments(const VelmarIndexedMeshLODDefinition& definition) {
  attachments_.clear();
  for (const Vak::PString& name : definition.GetCulledAttachmentNames())
    if (Vak::Particle* found = FindByName(name)) attachments_.push_back(found);
}

void VelmarIndexedMeshLODInstance::SetLevel(int level) {
  if (levels_.empty()) return;
  currentLevel_ = std::clamp(level, 0, GetLevelCount() - 1);
  fixedLevel_ = true;
}

int VelmarIndexedMeshLODInstance::GetLevelPrimitiveCount(int level) const {
  if (level < 0 || level >= GetLevelCount()) return 0;
  const Level& shown = levels_[static_cast<std::size_t>(level)];
  int total = 0;
  for (unsigned i = 0; i < shown.chunks->Count(); ++i)
    if (const Vak::GeometryChunk* chunk = shown.chunks->Get(i)) total += static_cast<int>(chunk->GetPrimitiveCount());
  return total;
}

void VelmarIndexedMeshLODInstance::ShowAttachments(float detail) {
  // Hidden attachments are culled and drawn no more.
  for (Vak::Particle* attachment : attachments_) attachment->SetFlag(Vak::Element::kShown, attachmentCutOff_ < detail);
}

void VelmarIndexedMeshLODInstance::SelectLevel(float detail) {
  if (!fixedLevel_ && !levels_.empty()) currentLevel_ = std::clamp(ChooseLevel(detail), 0, GetLevelCount() - 1);
}

bool VelmarIndexedMeshLODInstance::ApplyDetail(float detail) {
  SetDetail(detail);
  ShowAttachments(detail);
  SelectLevel(detail);
  return !(renderCutOff_ > GetDetail());
}

void VelmarIndexedMeshLODInstance::Cull(Vak::ViewPoint& viewPoint, const Vak::Matrix4& parent) {
  // The eye in the mesh's own frame, where its bounds are.
  Vak::Matrix4 toLocal = parent * GetLocalTransform();
  if (!toLocal.Invert()) toLocal = Vak::Matrix4::Identity();
  const float detail = CalcDetail(boundsMin_, boundsMax_, toLocal.TransformPoint(viewPoint.GetEyePosition()),
                                  multiplier_);
  ShowAttachments(detail);
  Particle::Cull(viewPoint, parent);
  if (opacity_ <= 0.0f) SetLastCulledFrame(0);
  if (GetLastCulledFrame() != viewPoint.GetCurrentFrame()) return;
  SelectLevel(detail);
  if (renderCutOff_ > GetDetail()) return;
  PrepareLevels(viewPoint);
  if (SharedRefArray<Vak::Material>* materials = GetLevelMaterials(currentLevel_))
    for (unsigned i = 0; i < materials->Count(); ++i)
      if (Vak::Material* material = materials->Get(i)) material->Activate(-1);
  viewPoint.AddInstance(this, GetCulledTransform());
  StoreMatrix(&viewPoint, GetCulledTransform());
}

void VelmarIndexedMeshLODInstance::Render(Vak::ViewPoint& viewPoint, Vak::Display& display,
                                          const Vak::Matrix4& transform) {
  if (levels_.empty()) return;
  PrepareLevels(viewPoint);
  UpdateLevelLighting(currentLevel_, false);
  const Level& level = levels_[static_cast<std::size_t>(currentLevel_)];
  RenderChunks(viewPoint, display, transform, level.chunkCount, level.chunks, level.materials, level.bones);
}

void VelmarIndexedMeshLODInstance::SetScale(const Vak::Vector3& scale) {
  scale_ = scale;
}

void VelmarIndexedMeshLODInstance::SetOpacity(float opacity) {
  opacity_ = opacity;
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  for (const Level& level : levels_)
    for (unsigned i = 0; i < level.chunkCount; ++i)
      if (Vak::GeometryChunk* chunk = level.chunks->Get(i)) chunk->SetOpacity(opacity, display);
  Particle::SetOpacity(opacity);
}

void VelmarIndexedMeshLODInstance::MakeChunksPrivate() {
  SharedRefArray<Vak::GeometryChunk>* shown = chunks_;
  VelmarIndexedMeshInstance::MakeChunksPrivate();
  // While the levels are built the base shows none of them yet.
  if (collisionLevel_ < 0 || collisionLevel_ >= GetLevelCount()) return;
  Level& level = levels_[static_cast<std::size_t>(collisionLevel_)];
  if (level.chunks != shown) return;
  chunks_->AddReference();
  level.chunks->ReleaseReference();
  level.chunks = chunks_;
}

void VelmarIndexedMeshLODInstance::MakeMaterialsPrivate() {
  SharedRefArray<Vak::Material>* shown = materials_;
  VelmarIndexedMeshInstance::MakeMaterialsPrivate();
  if (collisionLevel_ < 0 || collisionLevel_ >= GetLevelCount()) return;
  Level& level = levels_[static_cast<std::size_t>(collisionLevel_)];
  if (level.materials != shown) return;
  materials_->AddReference();
  level.materials->ReleaseReference();
  level.materials = materials_;
}

void VelmarIndexedMeshLODInstance::MakeAllLevelMaterialsPrivate() {
  for (Level& level : levels_) {
    auto* own = new SharedRefArray<Vak::Material>;
    for (unsigned i = 0; i < level.materials->Count(); ++i) {
      Vak::Material* material = level.materials->Get(i);
      if (material) material->AddReference();
      own->Set(i, material);
    }
    level.materials->ReleaseReference();
    level.materials = own;
  }
  PointBaseAt(collisionLevel_);
}

void VelmarIndexedMeshLODInstance::SetLight(Vak::ParallelLight* light) {
  LightTarget::SetLight(light);
  MarkAllLevelsDirty();
}

bool VelmarIndexedMeshLODInstance::UpdateLevelLighting(int level, bool force) {
  if (level < 0 || level >= GetLevelCount()) return false;
  Level& target = levels_[static_cast<std::size_t>(level)];
  if (!target.lightingDirty && !force) return false;
  if (target.lightingDirty) {
    target.lightingDirty = false;
    if (dirtyCount_ > 0 && --dirtyCount_ == 0) SetNeedsLightingUpdate(false);
  }
  return true;
}

void VelmarIndexedMeshLODInstance::UpdateAllLevelLighting(bool force, bool onlyFirst) {
  const int last = onlyFirst ? std::min(GetLevelCount(), 1) : GetLevelCount();
  for (int level = 0; level < last; ++level) UpdateLevelLighting(level, force);
}

void VelmarIndexedMeshLODInstance::MarkAllLevelsDirty() {
  for (Level& level : levels_) level.lightingDirty = true;
  dirtyCount_ = static_cast<unsigned>(levels_.size());
}

void VelmarIndexedMeshLODInstance::CopyInto(VelmarIndexedMeshLODInstance& copy) const {
  copy.CopyInstance(*this);
  copy.InitObjectLOD(GetCutOffs(), GetCalcPoint());
  copy.SetDetail(GetDetail());
  copy.definition_ = definition_;
  copy.offset_ = offset_;
  copy.multiplier_ = multiplier_;
  copy.renderCutOff_ = renderCutOff_;
  copy.attachmentCutOff_ = attachmentCutOff_;
  copy.collisionLevel_ = collisionLevel_;
  copy.fixedLevel_ = fixedLevel_;
  for (const Level& level : levels_) {
    copy.ShareArrays(level.chunkCount, level.chunks, level.materials);
    copy.MakeDynamicChunksOwn();
    copy.chunks_->AddReference();
    copy.materials_->AddReference();
    copy.levels_.push_back(Level{copy.chunkCount_, copy.chunks_, copy.materials_, {}, level.lightingDirty});
  }
  copy.dirtyCount_ = dirtyCount_;
  // The particles below the instance (attachments, the skeleton) come along.
  for (const Vak::Particle* child : Children()) copy.AddChild(VelmarInfluenceMesh::CopySkeleton(*child));
  if (definition_ != nullptr) copy.TakeDefinitionData(*definition_);
  copy.PointBaseAt(collisionLevel_);
  // A fixed level is never chosen again: the copy must keep it.
  copy.currentLevel_ = fixedLevel_ ? currentLevel_ : 0;
}

VelmarIndexedMeshLODInstance* VelmarIndexedMeshLODInstance::Clone() const {
  auto* copy = new VelmarIndexedMeshLODInstance(kernel_, resource_);
  CopyInto(*copy);
  if (definition_ != nullptr) copy->FindAttachments(*definition_);
  return copy;
}

// --- Skinned -------------------------------------------------------------------

std::vector<VelmarInfluenceMesh::LevelChunks> VelmarDynamicIndexedMeshLODInstance::LevelTable() const {
  std::vector<LevelChunks> table;
  for (std::size_t i = 0; i < levels_.size(); ++i) {
    const bool rigid = definition_ != nullptr && i < definition_->GetLevelCount() &&
                       definition_->GetLevel(static_cast<unsigned>(i)).hardwareSkinning;
    table.push_back({levels_[i].chunkCount, levels_[i].chunks, rigid});
  }
  return table;
}

void VelmarDynamicIndexedMeshLODInstance::InitFromLODDefinition(const VelmarIndexedMeshLODDefinition& definition) {
  VelmarIndexedMeshLODInstance::InitFromLODDefinition(definition);
  animationCutOff_ = definition.GetAnimationCutOff();
}

bool VelmarDynamicIndexedMeshLODInstance::InitSkin(const VelmarIndexedMeshLODDefinition& definition) {
  const Vak::ParticleBone* source = definition.GetRootBone();
  if (source == nullptr) return false;
  OwnLevelChunks();
  const auto& bones = definition.GetBoneTable();
  LoadLevelInfluences(static_cast<unsigned>(bones.size()), bones.data(), LevelTable());
  Vak::Particle* skeleton = CopySkeleton(*source);
  AddChild(skeleton);
  BindBones(skeleton);
  for (std::size_t l = 0; l < levels_.size() && l < definition.GetLevelCount(); ++l) {
    const std::vector<Vak::PString>& names = definition.GetLevel(static_cast<unsigned>(l)).chunkNames;
    // A level whose chunks name no bone is drawn whole, as the mesh places it.
    if (std::all_of(names.begin(), names.end(), [](const Vak::PString& name) { return name.Length() == 0; }))
      continue;
    levels_[l].bones = FindChunkBones(names, levels_[l].chunkCount, skeleton);
  }
  return true;
}

void VelmarDynamicIndexedMeshLODInstance::OwnLevelChunks() {
  const std::vector<LevelChunks> table = LevelTable();
  Vak::Display* display = kernel_ ? &kernel_->GetDisplay() : nullptr;
  for (std::size_t l = 0; l < levels_.size(); ++l) {
    Level& level = levels_[l];
    auto* own = new SharedRefArray<Vak::GeometryChunk>;
    for (unsigned i = 0; i < level.chunks->Count(); ++i) {
      const Vak::GeometryChunk* chunk = level.chunks->Get(i);
      if (chunk == nullptr) continue;
      // Software skinning writes the positions; palette chunks point at
      // this instance's bones.
      Vak::GeometryChunk* copy = chunk->CreateInstance();
      if (!table[l].rigid) copy->DuplicateVertexArray(0, display);
      AssignMatrices(*copy);
      own->Set(i, copy);
    }
    level.chunks->ReleaseReference();
    level.chunks = own;
  }
  PointBaseAt(collisionLevel_);
}

VelmarIndexedMeshLODInstance* VelmarDynamicIndexedMeshLODInstance::Clone() const {
  auto* copy = new VelmarDynamicIndexedMeshLODInstance(kernel_, resource_);
  CopyInto(*copy);
  copy->animationCutOff_ = animationCutOff_;
  copy->state_ = state_;
  copy->keptUpdated_ = keptUpdated_;
  copy->CopyBones(*this);
  // The copy's skeleton may stand posed: the bind pose is the source's.
  if (Bone* root = copy->GetRootBone()) copy->BindParticles(copy->FindByName(root->name));
  copy->OwnLevelChunks();
  for (std::size_t l = 0; l < levels_.size() && l < copy->levels_.size(); ++l)
    if (!levels_[l].bones.empty() && copy->GetRootParticle() != nullptr)
      for (const Vak::Particle* bone : levels_[l].bones)
        copy->levels_[l].bones.push_back(bone ? copy->GetRootParticle()->FindByName(bone->GetName()) : nullptr);
  if (definition_ != nullptr) copy->FindAttachments(*definition_);
  return copy;
}

void VelmarDynamicIndexedMeshLODInstance::MarkAnimated(Vak::Particle& particle, bool on) {
  for (Vak::Particle* child : particle.Children()) {
    const Vak::PString& name = child->GetName();
    if (name.Length() > 2 && name.c_str()[0] == 'b' && name.c_str()[1] == '.') {
      if (on)
        child->Mark(kAnimated);
      else
        child->Unmark(kAnimated);
    }
    MarkAnimated(*child, on);
  }
}

bool VelmarDynamicIndexedMeshLODInstance::ApplyDetail(float detail) {
  const bool draw = VelmarIndexedMeshLODInstance::ApplyDetail(detail);
  UpdateAnimation();
  return draw;
}

void VelmarDynamicIndexedMeshLODInstance::UpdateAnimation() {
  const float v = GetDetail();
  if (v - offset_ > animationCutOff_) {
    state_ |= kBonesAnimated;
    MarkAnimated(*this, true);
  } else if (animationCutOff_ > v + offset_) {
    state_ &= ~kBonesAnimated;
    MarkAnimated(*this, false);
  }
}

void VelmarDynamicIndexedMeshLODInstance::PrepareLevels(Vak::ViewPoint& viewPoint) {
  UpdateAnimation();
  // A fixed level is skinned whether or not the bones animate.
  if (fixedLevel_) state_ |= kBonesNeedUpdate;
  UpdateLevels(viewPoint.GetCurrentFrame());
}

void VelmarDynamicIndexedMeshLODInstance::UpdateLevels(uint32_t stamp) {
  if (!(state_ & (kBonesNeedUpdate | kBonesAnimated)) || levels_.empty()) return;
  state_ &= ~kBonesNeedUpdate;
  const Level& current = levels_[static_cast<std::size_t>(currentLevel_)];
  UpdateSkin(current.chunkCount, current.chunks, stamp, static_cast<unsigned>(currentLevel_));
  for (int level : keptUpdated_) {
    if (level == currentLevel_ || level < 0 || level >= GetLevelCount()) continue;
    const Level& kept = levels_[static_cast<std::size_t>(level)];
    UpdateSkin(kept.chunkCount, kept.chunks, stamp, static_cast<unsigned>(level));
  }
}
