#include "engine/elthrac/Particle.h"

#include "engine/elthrac/ViewPoint.h"

namespace Vak {

Particle::~Particle() {
  DeleteChildren();
  if (Parent()) Parent()->RemoveChild(this);
}

Particle* Particle::FindByName(const PString& name) {
  if (GetName() == name) return this;
  for (Particle* child : Children())
    if (Particle* found = child->FindByName(name)) return found;
  return nullptr;
}

void Particle::GlobalToLocal(Vector3& position, Quaternion& orientation) const {
  Vector3 at;
  Quaternion turn;
  for (const Particle* up = Parent(); up != nullptr; up = up->Parent()) {
    at = up->position_ + up->orientation_.Rotate(at);
    turn = up->orientation_ * turn;
  }
  const Quaternion back = turn.Conjugate();
  position = back.Rotate(position - at);
  orientation = back * orientation;
}

void Particle::Cull(ViewPoint& viewPoint, const Matrix4& parent) {
  if (!HasFlag(kShown)) return;
  culledTransform_ = parent * GetLocalTransform();
  SetLastCulledFrame(viewPoint.GetCurrentFrame());
  for (Particle* child : Children()) child->Cull(viewPoint, culledTransform_);
}

void Particle::CopyParticleState(const Particle& from) {
  SetName(from.GetName());
  SetFlags(from.GetFlags());
  position_ = from.position_;
  orientation_ = from.orientation_;
  opacity_ = from.opacity_;
  bounds_ = from.bounds_;
}

} // namespace Vak
