#pragma once
// A box with its own axes: a centre, three unit axes and the half extent
// along each. Fitted around points by their principal axes, so the same
// points always give the same box.
#include "engine/kernelx/Vector3.h"

namespace Vak {

class OrientedBox {
public:
  // The zero box: no extent, the world axes.
  OrientedBox() = default;

  // Axes by falling variance, right-handed, each axis but the last with its
  // largest component positive. No points give the zero box.
  void SetAroundPoints(const Vector3* points, unsigned count);
  // Points `stride` bytes apart, as vertex items lie.
  void SetAroundPoints(const void* first, unsigned count, unsigned stride);
  // With the points' coordinate sums already made (in double, in point
  // order), as a reader that has just copied the points can make them.
  void SetAroundPoints(const void* first, unsigned count, unsigned stride, const double sums[3]);
  // The box around the eight corners of each of `boxes` boxes.
  void SetAroundCorners(const Vector3* corners, unsigned boxes) { SetAroundPoints(corners, boxes * 8); }

  // A box given outright.
  void Set(const Vector3& centre, const Vector3 axes[3], const Vector3& extents) {
    centre_ = centre;
    for (int i = 0; i < 3; ++i) axes_[i] = axes[i];
    extents_ = extents;
  }

  // Corner i lies on the positive side of axis k when bit k of i is set.
  void CalcCorners(Vector3 corners[8]) const;

  const Vector3& Centre() const { return centre_; }
  const Vector3& Axis(int i) const { return axes_[i]; }
  const Vector3& Extents() const { return extents_; }

private:
  Vector3 centre_;
  Vector3 axes_[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  Vector3 extents_;
};

} // namespace Vak
