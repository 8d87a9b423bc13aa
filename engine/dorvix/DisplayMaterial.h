#pragma once
// How a material lights: four colours and the specular exponent.
#include "engine/dorvix/Colour.h"

namespace Vak {

struct DisplayMaterial {
  Colour diffuse{1, 1, 1, 1};
  Colour ambient{1, 1, 1, 1};
  Colour specular{0, 0, 0, 1};
  Colour emissive{0, 0, 0, 1};
  float power = 0;
  bool operator==(const DisplayMaterial&) const = default;
};

} // namespace Vak
