#pragma once
// The box a bone shows its extent with when the skeleton is drawn.
#include "engine/elthrac/Particle.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class ParticleVisibleBoundingBox : public Particle {
public:
  ParticleVisibleBoundingBox() = default;
  void SetBox(const Vector3& minimum, const Vector3& maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
  }
  const Vector3& Minimum() const { return minimum_; }
  const Vector3& Maximum() const { return maximum_; }

private:
  Vector3 minimum_, maximum_;
};

} // namespace Vak
