#pragma once
// A rotation as a unit quaternion (x, y, z, w), the order files store it in.
#include "engine/kernelx/Matrix3.h"

namespace Vak {

struct Quaternion {
  float x = 0, y = 0, z = 0, w = 1;

  constexpr Quaternion() = default;
  constexpr Quaternion(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

  // From a rotation matrix; the result has w >= 0.
  void Set(const Matrix3& rotation);
  Matrix3 GetMatrix() const;

  // The rotation of `o` followed by this one.
  Quaternion operator*(const Quaternion& o) const;
  Quaternion Conjugate() const { return {-x, -y, -z, w}; }
  Vector3 Rotate(const Vector3& v) const { return GetMatrix() * v; }
  // The identity when the length is zero.
  Quaternion& Normalise();
  bool operator==(const Quaternion&) const = default;
};

} // namespace Vak
