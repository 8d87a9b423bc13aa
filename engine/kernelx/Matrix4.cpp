#include "engine/kernelx/Matrix4.h"

#include <cmath>

namespace Vak {

Matrix4 Matrix4::FromRotationTranslation(const Matrix3& rotation, const Vector3& translation) {
  Matrix4 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = rotation.m[i][j];
  r.m[0][3] = translation.x;
  r.m[1][3] = translation.y;
  r.m[2][3] = translation.z;
  return r;
}

Matrix4 Matrix4::operator*(const Matrix4& o) const {
  Matrix4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += m[i][k] * o.m[k][j];
      r.m[i][j] = sum;
    }
  return r;
}

Vector3 Matrix4::TransformPoint(const Vector3& p) const {
  return {m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
          m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
          m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]};
}

Vector3 Matrix4::TransformDirection(const Vector3& d) const { return Rotation() * d; }

Matrix3 Matrix4::Rotation() const {
  Matrix3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = m[i][j];
  return r;
}

bool Matrix4::Invert() {
  // Gauss-Jordan with partial pivoting, in double so that well-conditioned
  // float input round-trips.
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      a[i][j] = m[i][j];
      a[i][j + 4] = i == j ? 1.0 : 0.0;
    }
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int row = col + 1; row < 4; ++row)
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    if (std::fabs(a[pivot][col]) < 1e-12) return false;
    if (pivot != col)
      for (int j = 0; j < 8; ++j) std::swap(a[pivot][j], a[col][j]);
    double inv = 1.0 / a[col][col];
    for (int j = 0; j < 8; ++j) a[col][j] *= inv;
    for (int row = 0; row < 4; ++row) {
      if (row == col || a[row][col] == 0.0) continue;
      double f = a[row][col];
      for (int j = 0; j < 8; ++j) a[row][j] -= f * a[col][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m[i][j] = static_cast<float>(a[i][j + 4]);
  return true;
}

} // namespace Vak
