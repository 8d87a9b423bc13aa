#include "engine/kernelx/OrientedBox.h"

#include <cmath>
#include <cstdint>

namespace Vak {

namespace {

const Vector3& PointAt(const void* first, unsigned i, unsigned stride) {
  return *reinterpret_cast<const Vector3*>(static_cast<const uint8_t*>(first) + std::size_t(i) * stride);
}

// Eigenvectors (columns of v) and eigenvalues of a symmetric 3 x 3 matrix by
// cyclic Jacobi rotations.
void Eigen(double a[3][3], double v[3][3], double values[3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v[i][j] = i == j ? 1.0 : 0.0;
  for (int sweep = 0; sweep < 50; ++sweep) {
    double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
    if (off < 1e-18) break;
    for (int p = 0; p < 2; ++p)
      for (int q = p + 1; q < 3; ++q) {
        if (std::fabs(a[p][q]) < 1e-30) continue;
        double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 3; ++k) {  // a = a J
          double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {  // a = J^T a
          double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
          double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
  }
  for (int i = 0; i < 3; ++i) values[i] = a[i][i];
}

} // namespace

void OrientedBox::SetAroundPoints(const Vector3* points, unsigned count) {
  SetAroundPoints(points, count, sizeof(Vector3));
}

void OrientedBox::SetAroundPoints(const void* first, unsigned count, unsigned stride) {
  double sums[3] = {0, 0, 0};
  for (unsigned i = 0; first && i < count; ++i) {
    const Vector3& p = PointAt(first, i, stride);
    sums[0] += p.x;
    sums[1] += p.y;
    sums[2] += p.z;
  }
  SetAroundPoints(first, count, stride, sums);
}

void OrientedBox::SetAroundPoints(const void* first, unsigned count, unsigned stride, const double sums[3]) {
  *this = OrientedBox();
  if (count == 0 || !first) return;
  double mean[3] = {sums[0], sums[1], sums[2]};
  for (double& m : mean) m /= count;
  // Six named sums rather than an array: an array of the differences went
  // through the stack, its halves stored and loaded back in other pairs,
  // which the processor cannot forward.
  double xx = 0, xy = 0, xz = 0, yy = 0, yz = 0, zz = 0;
  for (unsigned i = 0; i < count; ++i) {
    const Vector3& p = PointAt(first, i, stride);
    const double dx = p.x - mean[0], dy = p.y - mean[1], dz = p.z - mean[2];
    xx += dx * dx;
    xy += dx * dy;
    xz += dx * dz;
    yy += dy * dy;
    yz += dy * dz;
    zz += dz * dz;
  }
  double cov[3][3] = {{xx, xy, xz}, {0, yy, yz}, {0, 0, zz}};
  // Symmetric: the lower half equals the upper one exactly.
  for (int r = 1; r < 3; ++r)
    for (int c = 0; c < r; ++c) cov[r][c] = cov[c][r];
  double vectors[3][3], values[3];
  Eigen(cov, vectors, values);

  int order[3] = {0, 1, 2};  // by falling variance, ties in index order
  for (int i = 1; i < 3; ++i)
    for (int j = i; j > 0 && values[order[j]] > values[order[j - 1]] * (1 + 1e-9) + 1e-12; --j)
      std::swap(order[j], order[j - 1]);
  for (int a = 0; a < 2; ++a) {
    Vector3 axis{float(vectors[0][order[a]]), float(vectors[1][order[a]]), float(vectors[2][order[a]])};
    int largest = 0;
    for (int k = 1; k < 3; ++k)
      if (std::fabs(axis[k]) > std::fabs(axis[largest]) + 1e-6f) largest = k;
    if (axis[largest] < 0) axis = -axis;
    axes_[a] = axis.Normalise();
  }
  axes_[2] = axes_[0].Cross(axes_[1]).Normalise();

  Vector3 centreOfMean{float(mean[0]), float(mean[1]), float(mean[2])};
  float low[3], high[3];
  for (int a = 0; a < 3; ++a) low[a] = high[a] = (PointAt(first, 0, stride) - centreOfMean).Dot(axes_[a]);
  for (unsigned i = 1; i < count; ++i) {
    const Vector3 d = PointAt(first, i, stride) - centreOfMean;
    const float t[3] = {d.Dot(axes_[0]), d.Dot(axes_[1]), d.Dot(axes_[2])};
    for (int a = 0; a < 3; ++a) {
      low[a] = t[a] < low[a] ? t[a] : low[a];
      high[a] = t[a] > high[a] ? t[a] : high[a];
    }
  }
  centre_ = centreOfMean;
  for (int a = 0; a < 3; ++a) {
    centre_ += axes_[a] * ((low[a] + high[a]) * 0.5f);
    extents_[a] = (high[a] - low[a]) * 0.5f;
  }
}

void OrientedBox::CalcCorners(Vector3 corners[8]) const {
  for (int i = 0; i < 8; ++i) {
    Vector3 c = centre_;
    for (int a = 0; a < 3; ++a) c += axes_[a] * ((i >> a & 1) ? extents_[a] : -extents_[a]);
    corners[i] = c;
  }
}

} // namespace Vak
