#include "engine/kernelx/Quaternion.h"

#include <cmath>

namespace Vak {

void Quaternion::Set(const Matrix3& r) {
  const auto& m = r.m;
  float trace = m[0][0] + m[1][1] + m[2][2];
  // Divide by the largest of the four candidates to keep precision.
  if (trace > 0) {
    float s = std::sqrt(trace + 1.0f) * 2.0f;
    w = 0.25f * s;
    x = (m[2][1] - m[1][2]) / s;
    y = (m[0][2] - m[2][0]) / s;
    z = (m[1][0] - m[0][1]) / s;
  } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
    float s = std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]) * 2.0f;
    w = (m[2][1] - m[1][2]) / s;
    x = 0.25f * s;
    y = (m[0][1] + m[1][0]) / s;
    z = (m[0][2] + m[2][0]) / s;
  } else if (m[1][1] > m[2][2]) {
    float s = std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]) * 2.0f;
    w = (m[0][2] - m[2][0]) / s;
    x = (m[0][1] + m[1][0]) / s;
    y = 0.25f * s;
    z = (m[1][2] + m[2][1]) / s;
  } else {
    float s = std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]) * 2.0f;
    w = (m[1][0] - m[0][1]) / s;
    x = (m[0][2] + m[2][0]) / s;
    y = (m[1][2] + m[2][1]) / s;
    z = 0.25f * s;
  }
  if (w < 0) *this = {-x, -y, -z, -w};
}

Matrix3 Quaternion::GetMatrix() const {
  Matrix3 r;
  float xx = x * x, yy = y * y, zz = z * z;
  float xy = x * y, xz = x * z, yz = y * z, wx = w * x, wy = w * y, wz = w * z;
  r.m[0][0] = 1 - 2 * (yy + zz);
  r.m[0][1] = 2 * (xy - wz);
  r.m[0][2] = 2 * (xz + wy);
  r.m[1][0] = 2 * (xy + wz);
  r.m[1][1] = 1 - 2 * (xx + zz);
  r.m[1][2] = 2 * (yz - wx);
  r.m[2][0] = 2 * (xz - wy);
  r.m[2][1] = 2 * (yz + wx);
  r.m[2][2] = 1 - 2 * (xx + yy);
  return r;
}

Quaternion Quaternion::operator*(const Quaternion& o) const {
  return {w * o.x + x * o.w + y * o.z - z * o.y, w * o.y - x * o.z + y * o.w + z * o.x,
          w * o.z + x * o.y - y * o.x + z * o.w, w * o.w - x * o.x - y * o.y - z * o.z};
}

Quaternion& Quaternion::Normalise() {
  float length = std::sqrt(x * x + y * y + z * z + w * w);
  if (length > 0) {
    x /= length;
    y /= length;
    z /= length;
    w /= length;
  } else {
    *this = Quaternion();
  }
  return *this;
}

} // namespace Vak
