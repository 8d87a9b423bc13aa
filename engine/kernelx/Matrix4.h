#pragma once
// A 4 x 4 transform, row-major, acting on column vectors; the translation
// sits in the last column.
#include "engine/kernelx/Matrix3.h"
#include "engine/kernelx/Quaternion.h"

namespace Vak {

struct Matrix4 {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

  static constexpr Matrix4 Identity() { return Matrix4(); }
  static Matrix4 FromRotationTranslation(const Matrix3& rotation, const Vector3& translation);
  static Matrix4 FromRotationTranslation(const Quaternion& rotation, const Vector3& translation) {
    return FromRotationTranslation(rotation.GetMatrix(), translation);
  }

  Matrix4 operator*(const Matrix4& o) const;
  Vector3 TransformPoint(const Vector3& p) const;
  Vector3 TransformDirection(const Vector3& d) const;
  Matrix3 Rotation() const;
  Vector3 Translation() const { return {m[0][3], m[1][3], m[2][3]}; }
  // False, leaving the matrix as it was, when it has no inverse.
  bool Invert();
  bool operator==(const Matrix4&) const = default;
};

} // namespace Vak
