#include "engine/kernelx/Matrix3.h"

namespace Vak {

Matrix3 Matrix3::FromFloats(const float values[9]) {
  Matrix3 r;
  for (int i = 0; i < 9; ++i) r.m[i / 3][i % 3] = values[i];
  return r;
}

void Matrix3::ToFloats(float values[9]) const {
  for (int i = 0; i < 9; ++i) values[i] = m[i / 3][i % 3];
}

Matrix3 Matrix3::operator*(const Matrix3& o) const {
  Matrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m[i][0] * o.m[0][j] + m[i][1] * o.m[1][j] + m[i][2] * o.m[2][j];
  return r;
}

Vector3 Matrix3::operator*(const Vector3& v) const { return {Row(0).Dot(v), Row(1).Dot(v), Row(2).Dot(v)}; }

Matrix3 Matrix3::Transposed() const {
  Matrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m[j][i];
  return r;
}

float Matrix3::Determinant() const { return Row(0).Dot(Row(1).Cross(Row(2))); }

} // namespace Vak
