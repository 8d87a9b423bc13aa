#include "engine/elthrac/Particle.h"

#include <algorithm>

namespace Vak {

Particle::~Particle() {
  DeleteChildren();
  if (parent_) parent_->RemoveChild(this);
}

void Particle::AddChild(Particle* child) {
  if (!child || child->parent_ == this) return;
  if (child->parent_) child->parent_->RemoveChild(child);
  children_.push_back(child);
  child->parent_ = this;
}

bool Particle::RemoveChild(Particle* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return false;
  children_.erase(it);
  child->parent_ = nullptr;
  return true;
}

Particle* Particle::FindByName(const PString& name) {
  if (name_ == name) return this;
  for (Particle* child : children_)
    if (Particle* found = child->FindByName(name)) return found;
  return nullptr;
}

void Particle::GlobalToLocal(Vector3& position, Quaternion& orientation) const {
  Vector3 at;
  Quaternion turn;
  for (const Particle* up = parent_; up != nullptr; up = up->parent_) {
    at = up->position_ + up->orientation_.Rotate(at);
    turn = up->orientation_ * turn;
  }
  const Quaternion back = turn.Conjugate();
  position = back.Rotate(position - at);
  orientation = back * orientation;
}

void Particle::DeleteChildren() {
  while (!children_.empty()) {
    Particle* child = children_.back();
    children_.pop_back();
    child->parent_ = nullptr;
    delete child;
  }
}

} // namespace Vak
