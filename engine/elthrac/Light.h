#pragma once
// The display lights a chunk is drawn with, and the list materials get.
#include <vector>

#include "engine/dorvix/Colour.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

struct Light {
  enum Kind : int { kAmbient = 0, kSpot = 2, kParallel = 3 };
  int kind = kAmbient;
  Colour ambient, diffuse, specular;
  float spotAngle = 0;  // degrees
  float radius = 0;
  Vector3 position;
  Vector3 direction;
};

// Lights by pointer (not owned).
class LightList : public std::vector<const Light*> {
public:
  using std::vector<const Light*>::vector;
};

} // namespace Vak
