#pragma once
// Level-of-detail choice for one object. The detail value grows as the
// object comes nearer: with e the view distance to the calculation point
// divided by the detail multiplier, v = 1000 / e (e is at least 0.001). The
// cut-off table holds one switch distance per distance-switched level, not
// falling; the level chosen for v is the first whose switch distance is at
// least 1000 / v, else the last. The calculation point is the centre of the
// object's bounds, or the nearest or farthest point of the sphere around
// them.
#include <vector>

#include "engine/kernelx/Vector3.h"

namespace Vak {

class ObjectLOD {
public:
  enum CalcPoint : unsigned { kCentre = 0, kNear = 1, kFar = 2 };

  void InitObjectLOD(const std::vector<float>& cutOffs, unsigned calcPoint) {
    cutOffs_ = cutOffs;
    calcPoint_ = calcPoint;
  }

  // The detail value for a viewer at `viewer`, in the same frame as the
  // bounds; it is also stored.
  float CalcDetail(const Vector3& boundsMin, const Vector3& boundsMax, const Vector3& viewer, float multiplier);
  // The level for a detail value; 0 with an empty table.
  int ChooseLevel(float detail) const;

  float GetDetail() const { return detail_; }
  void SetDetail(float detail) { detail_ = detail; }
  const std::vector<float>& GetCutOffs() const { return cutOffs_; }
  unsigned GetCalcPoint() const { return calcPoint_; }

private:
  std::vector<float> cutOffs_;
  unsigned calcPoint_ = kCentre;
  float detail_ = 0;
};

} // namespace Vak
