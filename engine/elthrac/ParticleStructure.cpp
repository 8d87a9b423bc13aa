#include "engine/elthrac/ParticleStructure.h"

#include <algorithm>

namespace Vak {

ParticleStructure::~ParticleStructure() {
  // The children go with the base; they must not call back into a list
  // that is gone by then.
  for (AttachmentPoint* point : points_) point->structure_ = nullptr;
  for (ReferencePoint* point : references_) point->structure_ = nullptr;
}

bool ParticleStructure::AddAttachmentPoint(AttachmentPoint* point, int toBone) {
  if (!Place(point, toBone)) return false;
  if (std::find(points_.begin(), points_.end(), point) == points_.end()) points_.push_back(point);
  return true;
}

bool ParticleStructure::AddReferencePoint(ReferencePoint* point, int toBone) {
  if (!Place(point, toBone)) return false;
  if (std::find(references_.begin(), references_.end(), point) == references_.end()) references_.push_back(point);
  return true;
}

bool ParticleStructure::Place(AttachmentPoint* point, int toBone) {
  if (point == nullptr) return false;
  Particle* parent = this;
  if (toBone != 0) {
    const PString& bone = point->GetBoneName();
    parent = bone.Length() == 0 ? nullptr : FindByName(bone);
    if (parent == nullptr || parent == point) return false;
  }
  parent->AddChild(point);
  if (point->structure_ != this) {
    if (point->structure_) point->structure_->Forget(point);
    point->structure_ = this;
  }
  return true;
}

AttachmentPoint* ParticleStructure::FindAttachmentPoint(const PString& name) const {
  for (AttachmentPoint* point : points_)
    if (point->GetName() == name) return point;
  return nullptr;
}

void ParticleStructure::Forget(AttachmentPoint* point) {
  points_.erase(std::remove(points_.begin(), points_.end(), point), points_.end());
  references_.erase(std::remove(references_.begin(), references_.end(), point), references_.end());
  point->structure_ = nullptr;
}

} // namespace Vak
