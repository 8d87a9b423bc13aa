// Quaternions, 3 x 3 and 4 x 4 matrices against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/kernelx/Matrix3.h"
#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/Quaternion.h"

namespace {

using Vak::Matrix3;
using Vak::Matrix4;
using Vak::Quaternion;
using Vak::Vector3;

const float kHalfRoot2 = std::sqrt(0.5f);

Matrix3 M3(std::initializer_list<float> values) {
  float v[9];
  std::copy(values.begin(), values.end(), v);
  return Matrix3::FromFloats(v);
}

void ExpectNear(const Matrix3& a, const Matrix3& b) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], 1e-6f) << i << "," << j;
}

void ExpectNear(const Matrix4& a, const Matrix4& b) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], 1e-5f) << i << "," << j;
}

struct RotationCase {
  const char* name;
  Matrix3 matrix;
  Quaternion quaternion;
};

TEST(Quaternion, FromMatrixAndBack) {
  const RotationCase cases[] = {
      {"identity", Matrix3(), {0, 0, 0, 1}},
      {"90 about z", M3({0, -1, 0, 1, 0, 0, 0, 0, 1}), {0, 0, kHalfRoot2, kHalfRoot2}},
      {"-90 about z", M3({0, 1, 0, -1, 0, 0, 0, 0, 1}), {0, 0, -kHalfRoot2, kHalfRoot2}},
      {"90 about x", M3({1, 0, 0, 0, 0, -1, 0, 1, 0}), {kHalfRoot2, 0, 0, kHalfRoot2}},
      {"180 about x", M3({1, 0, 0, 0, -1, 0, 0, 0, -1}), {1, 0, 0, 0}},
      {"180 about y", M3({-1, 0, 0, 0, 1, 0, 0, 0, -1}), {0, 1, 0, 0}},
      {"180 about z", M3({-1, 0, 0, 0, -1, 0, 0, 0, 1}), {0, 0, 1, 0}},
      {"120 about (1,1,1)", M3({0, 0, 1, 1, 0, 0, 0, 1, 0}), {0.5f, 0.5f, 0.5f, 0.5f}},
  };
  for (const RotationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Quaternion q;
    q.Set(c.matrix);
    EXPECT_NEAR(q.x, c.quaternion.x, 1e-6f);
    EXPECT_NEAR(q.y, c.quaternion.y, 1e-6f);
    EXPECT_NEAR(q.z, c.quaternion.z, 1e-6f);
    EXPECT_NEAR(q.w, c.quaternion.w, 1e-6f);
    ExpectNear(q.GetMatrix(), c.matrix);
  }
}

TEST(Quaternion, RotatesAndComposes) {
  Quaternion quarter(0, 0, kHalfRoot2, kHalfRoot2);  // 90 about z
  Vector3 v = quarter.Rotate({1, 0, 0});
  EXPECT_NEAR(v.x, 0, 1e-6f);
  EXPECT_NEAR(v.y, 1, 1e-6f);
  Quaternion half = quarter * quarter;
  EXPECT_NEAR(half.z, 1, 1e-6f);
  EXPECT_NEAR(half.w, 0, 1e-6f);
  Quaternion none(0, 0, 0, 0);
  EXPECT_EQ(none.Normalise(), Quaternion());
}

TEST(Matrix3, MultiplyTransposeDeterminant) {
  Matrix3 a = M3({1, 2, 3, 4, 5, 6, 7, 8, 9});
  Matrix3 b = M3({9, 8, 7, 6, 5, 4, 3, 2, 1});
  EXPECT_EQ(a * b, M3({30, 24, 18, 84, 69, 54, 138, 114, 90}));
  EXPECT_EQ(a.Transposed(), M3({1, 4, 7, 2, 5, 8, 3, 6, 9}));
  Vector3 v = a * Vector3(1, 0, -1);
  EXPECT_EQ(v, Vector3(-2, -2, -2));
  EXPECT_FLOAT_EQ(M3({2, 0, 0, 0, 3, 0, 0, 0, 4}).Determinant(), 24);
  EXPECT_FLOAT_EQ(M3({1, 2, 3, 4, 5, 6, 7, 8, 10}).Determinant(), -3);
  float out[9];
  a.ToFloats(out);
  EXPECT_EQ(out[5], 6);
}

Matrix4 Translation(float x, float y, float z) { return Matrix4::FromRotationTranslation(Matrix3(), {x, y, z}); }

Matrix4 Scale(float x, float y, float z) {
  Matrix4 m;
  m.m[0][0] = x;
  m.m[1][1] = y;
  m.m[2][2] = z;
  return m;
}

TEST(Matrix4, MultiplyAppliesTheRightOperandFirst) {
  Matrix4 m = Translation(1, 2, 3) * Scale(2, 2, 2);
  EXPECT_EQ(m.TransformPoint({1, 1, 1}), Vector3(3, 4, 5));
  EXPECT_EQ(m.TransformDirection({1, 1, 1}), Vector3(2, 2, 2));
  EXPECT_EQ(m.Translation(), Vector3(1, 2, 3));
}

struct InvertCase {
  const char* name;
  Matrix4 matrix;
  Matrix4 inverse;
};

TEST(Matrix4, Invert) {
  const Matrix4 turn = Matrix4::FromRotationTranslation(Quaternion(0, 0, kHalfRoot2, kHalfRoot2), {1, 0, 0});
  const InvertCase cases[] = {
      {"identity", Matrix4(), Matrix4()},
      {"translation", Translation(1, 2, 3), Translation(-1, -2, -3)},
      {"scale", Scale(2, 4, 8), Scale(0.5f, 0.25f, 0.125f)},
      {"turn and move", turn, Matrix4::FromRotationTranslation(M3({0, 1, 0, -1, 0, 0, 0, 0, 1}), {0, 1, 0})},
  };
  for (const InvertCase& c : cases) {
    SCOPED_TRACE(c.name);
    Matrix4 m = c.matrix;
    ASSERT_TRUE(m.Invert());
    ExpectNear(m, c.inverse);
    ExpectNear(c.matrix * m, Matrix4());
  }
  Matrix4 singular = Scale(1, 0, 1);
  EXPECT_FALSE(singular.Invert());
  EXPECT_EQ(singular, Scale(1, 0, 1));
}

} // namespace
