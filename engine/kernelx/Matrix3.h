#pragma once
// A 3 x 3 matrix, row-major, acting on column vectors (v' = M v). Files
// store the nine floats in this order.
#include "engine/kernelx/Vector3.h"

namespace Vak {

struct Matrix3 {
  float m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  static constexpr Matrix3 Identity() { return Matrix3(); }
  static Matrix3 FromFloats(const float values[9]);
  void ToFloats(float values[9]) const;

  Matrix3 operator*(const Matrix3& o) const;
  Vector3 operator*(const Vector3& v) const;
  Matrix3 Transposed() const;
  float Determinant() const;
  Vector3 Row(int r) const { return {m[r][0], m[r][1], m[r][2]}; }
  Vector3 Column(int c) const { return {m[0][c], m[1][c], m[2][c]}; }
  bool operator==(const Matrix3&) const = default;
};

} // namespace Vak
