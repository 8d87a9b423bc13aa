#pragma once
// A placement of one frame in another: a linear part (rotation, possibly
// scaled per axis) and a translation. Points map as p' = linear p + position.
#include "engine/kernelx/Matrix3.h"
#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class Transformation {
public:
  Transformation() = default;
  Transformation(const Quaternion& orientation, const Vector3& position)
      : linear_(orientation.GetMatrix()), position_(position) {}

  // This becomes outer × inner: inner applied first, then outer. Either may
  // be this transformation itself.
  void MultiplyTransform(const Transformation& outer, const Transformation& inner) {
    const Matrix3 linear = outer.linear_ * inner.linear_;
    position_ = outer.linear_ * inner.position_ + outer.position_;
    linear_ = linear;
  }
  // Scales along the frame's own axes, before the rest applies.
  void Scale(const Vector3& scale) {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) linear_.m[r][c] *= scale[c];
  }

  Vector3 Apply(const Vector3& point) const { return linear_ * point + position_; }
  const Matrix3& GetLinear() const { return linear_; }
  const Vector3& GetPosition() const { return position_; }
  Matrix4 GetMatrix() const { return Matrix4::FromRotationTranslation(linear_, position_); }

private:
  Matrix3 linear_;
  Vector3 position_;
};

} // namespace Vak
