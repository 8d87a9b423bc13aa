#pragma once
// A bone of a skeleton: a particle that also keeps its rest pose (the
// frame) and owns the box it is drawn with.
#include <memory>

#include "engine/elthrac/Particle.h"
#include "engine/elthrac/ParticleVisibleBoundingBox.h"

namespace Vak {

class ParticleBone : public Particle {
public:
  ParticleBone() = default;
  explicit ParticleBone(const PString& name) : Particle(name) {}

  // The bone and the bones below it, with their boxes.
  Particle* Clone() const override {
    auto* copy = new ParticleBone(GetName());
    copy->CopyParticleState(*this);
    copy->framePosition_ = framePosition_;
    copy->frameOrientation_ = frameOrientation_;
    if (box_) {
      auto* box = new ParticleVisibleBoundingBox();
      box->SetBox(box_->Minimum(), box_->Maximum());
      copy->box_.reset(box);
    }
    for (const Particle* child : Children())
      if (Particle* made = child->Clone()) copy->AddChild(made);
    return copy;
  }

  // Takes the current position and orientation as the rest pose.
  void FixFrame() {
    framePosition_ = GetPosition();
    frameOrientation_ = GetOrientation();
  }
  const Vector3& GetFramePosition() const { return framePosition_; }
  const Quaternion& GetFrameOrientation() const { return frameOrientation_; }

  // Takes ownership, deleting the box attached before; no child of the
  // bone, so the skeleton's tree holds only bones.
  void AttachBoundingBox(ParticleVisibleBoundingBox* box) { box_.reset(box); }
  ParticleVisibleBoundingBox* GetBoundingBox() const { return box_.get(); }

private:
  Vector3 framePosition_;
  Quaternion frameOrientation_;
  std::unique_ptr<ParticleVisibleBoundingBox> box_;
};

} // namespace Vak
