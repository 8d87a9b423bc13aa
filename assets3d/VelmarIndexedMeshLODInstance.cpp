#include "assets3d/VelmarIndexedMeshLODInstance.h"

#include <algorithm>

#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "engine/elthrac/ParticleBone.h"

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

bool VelmarIndexedMeshLODInstance::ApplyDetail(float detail) {
  SetDetail(detail);
  for (Vak::Particle* attachment : attachments_) {
    if (attachmentCutOff_ < detail)
      attachment->Mark(kShown);
    else
      attachment->Unmark(kShown);
  }
  if (!fixedLevel_ && !levels_.empty()) currentLevel_ = std::clamp(ChooseLevel(detail), 0, GetLevelCount() - 1);
  return !(renderCutOff_ > GetDetail());
}

bool VelmarIndexedMeshLODInstance::UpdateLevelLighting(int level, bool force) {
  if (level < 0 || level >= GetLevelCount()) return false;
  Level& target = levels_[static_cast<std::size_t>(level)];
  if (!target.lightingDirty && !force) return false;
  if (target.lightingDirty) {
    target.lightingDirty = false;
    if (dirtyCount_ > 0 && --dirtyCount_ == 0) UpdateLighting(false);
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
  copy.currentLevel_ = 0;
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
  const auto& bones = definition.GetBoneTable();
  LoadLevelInfluences(static_cast<unsigned>(bones.size()), bones.data(), LevelTable());
  Vak::Particle* skeleton = CopySkeleton(*source);
  AddChild(skeleton);
  BindBones(skeleton);
  for (std::size_t l = 0; l < levels_.size() && l < definition.GetLevelCount(); ++l)
    levels_[l].bones = FindChunkBones(definition.GetLevel(static_cast<unsigned>(l)).chunkNames,
                                      levels_[l].chunkCount, skeleton);
  return true;
}

VelmarIndexedMeshLODInstance* VelmarDynamicIndexedMeshLODInstance::Clone() const {
  auto* copy = new VelmarDynamicIndexedMeshLODInstance(kernel_, resource_);
  CopyInto(*copy);
  copy->animationCutOff_ = animationCutOff_;
  copy->state_ = state_;
  copy->keptUpdated_ = keptUpdated_;
  copy->CopyBones(*this);
  if (Bone* root = copy->GetRootBone()) copy->BindBones(copy->FindByName(root->name));
  // Palette chunks read the new instance's bone matrices.
  for (Level& level : copy->levels_) {
    auto* own = new SharedRefArray<Vak::GeometryChunk>;
    for (unsigned i = 0; i < level.chunks->Count(); ++i) {
      Vak::GeometryChunk* chunk = level.chunks->Get(i);
      if (chunk != nullptr && !(chunk->GetFlags() & VelmarIndexedMeshInstance::kPaletteChunk)) {
        chunk = chunk->CreateInstance();
        copy->AssignMatrices(*chunk);
      } else if (chunk != nullptr) {
        chunk->AddReference();
      }
      own->Set(i, chunk);
    }
    level.chunks->ReleaseReference();
    level.chunks = own;
  }
  copy->PointBaseAt(copy->collisionLevel_);
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
  const float v = GetDetail();
  if (v - offset_ > animationCutOff_) {
    state_ |= kBonesAnimated;
    MarkAnimated(*this, true);
  } else if (animationCutOff_ > v + offset_) {
    state_ &= ~kBonesAnimated;
    MarkAnimated(*this, false);
  }
  return draw;
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
