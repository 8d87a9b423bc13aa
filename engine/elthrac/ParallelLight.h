#pragma once
// A directional light of a display, placed in the scene as a particle.
#include "engine/dorvix/Colour.h"
#include "engine/elthrac/Particle.h"

namespace Vak {

class Display;

class ParallelLight : public Particle {
public:
  ParallelLight(Display* display, float range) : display_(display), range_(range) {}

  Display* GetDisplay() const { return display_; }
  float Range() const { return range_; }
  void SetAmbient(const Colour& colour) { ambient_ = colour; }
  void SetDiffuse(const Colour& colour) { diffuse_ = colour; }
  void SetSpecular(const Colour& colour) { specular_ = colour; }
  const Colour& Ambient() const { return ambient_; }
  const Colour& Diffuse() const { return diffuse_; }
  const Colour& Specular() const { return specular_; }

private:
  Display* display_;
  float range_;
  Colour ambient_, diffuse_, specular_;
};

} // namespace Vak
