#include "engine/elthrac/ViewPoint.h"

#include <algorithm>

namespace Vak {

int ViewPoint::CalcWantedMipLevelsForCull(const Matrix4& transform, int bias) const {
  float distance = (transform.Translation() - eye_).Length();
  int level = 0;
  for (float reach = kFullDetailDistance; distance > reach && level < 16; reach *= 2) ++level;
  return std::max(0, level + bias);
}

} // namespace Vak
