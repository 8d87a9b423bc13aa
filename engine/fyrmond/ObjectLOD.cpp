#include "engine/fyrmond/ObjectLOD.h"

#include <algorithm>

namespace Vak {

namespace {
constexpr float kDetailScale = 1000.0f;
constexpr float kNearest = 0.001f;
} // namespace

float ObjectLOD::CalcDetail(const Vector3& boundsMin, const Vector3& boundsMax, const Vector3& viewer,
                            float multiplier) {
  const Vector3 centre = (boundsMin + boundsMax) * 0.5f;
  const float radius = (boundsMax - boundsMin).Length() * 0.5f;
  float distance = (viewer - centre).Length();
  if (calcPoint_ == kNear)
    distance -= radius;
  else if (calcPoint_ == kFar)
    distance += radius;
  // A multiplier of 0 or less would turn the scale over; it counts as 1.
  const float effective = std::max(distance / (multiplier > 0 ? multiplier : 1.0f), kNearest);
  detail_ = kDetailScale / effective;
  return detail_;
}

int ObjectLOD::ChooseLevel(float detail) const {
  if (cutOffs_.empty()) return 0;
  const float distance = detail > 0 ? kDetailScale / detail : 3.4028235e38f;
  for (std::size_t i = 0; i < cutOffs_.size(); ++i)
    if (cutOffs_[i] >= distance) return static_cast<int>(i);
  return static_cast<int>(cutOffs_.size()) - 1;
}

} // namespace Vak
