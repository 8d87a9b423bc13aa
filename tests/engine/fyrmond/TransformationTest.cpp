// Transformations compose inner first and scale along their own axes.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/fyrmond/Transformation.h"

namespace {

using Vak::Quaternion;
using Vak::Transformation;
using Vak::Vector3;

const float kHalfRoot2 = std::sqrt(0.5f);
const Quaternion kQuarterAboutZ{0, 0, kHalfRoot2, kHalfRoot2};

void ExpectNear(const Vector3& a, const Vector3& b) {
  EXPECT_NEAR(a.x, b.x, 1e-5f);
  EXPECT_NEAR(a.y, b.y, 1e-5f);
  EXPECT_NEAR(a.z, b.z, 1e-5f);
}

TEST(Transformation, MultiplyAppliesInnerFirst) {
  const Transformation outer(kQuarterAboutZ, {10, 0, 0});
  const Transformation inner(Quaternion(), {1, 0, 0});
  Transformation both;
  both.MultiplyTransform(outer, inner);
  // (2, 0, 0) -> inner (3, 0, 0) -> turned (0, 3, 0) -> moved (10, 3, 0).
  ExpectNear(both.Apply({2, 0, 0}), {10, 3, 0});
  Transformation again = outer;
  again.MultiplyTransform(again, inner);
  ExpectNear(again.Apply({2, 0, 0}), {10, 3, 0});
  ExpectNear(both.GetMatrix().TransformPoint({2, 0, 0}), {10, 3, 0});
}

TEST(Transformation, ScaleActsInTheOwnFrame) {
  Transformation t(kQuarterAboutZ, {0, 0, 5});
  t.Scale({2, 3, 4});
  // (1, 1, 1) -> scaled (2, 3, 4) -> turned (-3, 2, 4) -> moved (-3, 2, 9).
  ExpectNear(t.Apply({1, 1, 1}), {-3, 2, 9});
}

} // namespace
