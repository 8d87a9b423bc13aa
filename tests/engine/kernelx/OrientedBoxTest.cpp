// Boxes fitted around points: the axes, centre and extents that hand
// computation gives, and the corner order.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/kernelx/OrientedBox.h"
#include "engine/kernelx/Quaternion.h"

namespace {

using Vak::OrientedBox;
using Vak::Vector3;

const float kH = std::sqrt(0.5f);

void ExpectNear(const Vector3& a, const Vector3& b, const char* what) {
  EXPECT_NEAR(a.x, b.x, 1e-4f) << what;
  EXPECT_NEAR(a.y, b.y, 1e-4f) << what;
  EXPECT_NEAR(a.z, b.z, 1e-4f) << what;
}

std::vector<Vector3> BoxCorners(Vector3 low, Vector3 high) {
  std::vector<Vector3> points;
  for (int i = 0; i < 8; ++i)
    points.push_back({(i & 1) ? high.x : low.x, (i & 2) ? high.y : low.y, (i & 4) ? high.z : low.z});
  return points;
}

struct BoxCase {
  const char* name;
  std::vector<Vector3> points;
  Vector3 centre;
  Vector3 axes[3];
  Vector3 extents;
};

std::vector<Vector3> Turned45AboutZ() {
  Vak::Quaternion turn(0, 0, std::sin(0.3926991f), std::cos(0.3926991f));
  std::vector<Vector3> points = BoxCorners({-2, -1, -0.5f}, {2, 1, 0.5f});
  for (Vector3& p : points) p = turn.Rotate(p) + Vector3(10, 0, 0);
  return points;
}

std::vector<Vector3> TwoBoxes() {
  std::vector<Vector3> points = BoxCorners({0, 0, 0}, {1, 1, 1});
  for (const Vector3& p : BoxCorners({3, 0, 0}, {4, 1, 1})) points.push_back(p);
  return points;
}

TEST(OrientedBox, AroundPoints) {
  const BoxCase cases[] = {
      {"no points", {}, {0, 0, 0}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}},
      {"one point", {{1, 2, 3}}, {1, 2, 3}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}},
      {"x longest", BoxCorners({0, 0, 0}, {4, 2, 1}), {2, 1, 0.5f}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {2, 1, 0.5f}},
      // Falling variance puts y first; the third axis keeps the box right-handed.
      {"y longest", BoxCorners({0, 0, 0}, {1, 6, 2}), {0.5f, 3, 1}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, {3, 1, 0.5f}},
      // The second axis's components tie in size: the first is made positive.
      {"turned 45 about z", Turned45AboutZ(), {10, 0, 0}, {{kH, kH, 0}, {kH, -kH, 0}, {0, 0, -1}}, {2, 1, 0.5f}},
      // Equal variance in y and z keeps their order.
      {"two boxes", TwoBoxes(), {2, 0.5f, 0.5f}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {2, 0.5f, 0.5f}},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    OrientedBox box;
    box.SetAroundPoints(c.points.data(), static_cast<unsigned>(c.points.size()));
    ExpectNear(box.Centre(), c.centre, "centre");
    ExpectNear(box.Axis(0), c.axes[0], "axis 0");
    ExpectNear(box.Axis(1), c.axes[1], "axis 1");
    ExpectNear(box.Axis(2), c.axes[2], "axis 2");
    ExpectNear(box.Extents(), c.extents, "extents");
  }
}

TEST(OrientedBox, CornersFollowTheAxisBits) {
  OrientedBox box;
  std::vector<Vector3> points = BoxCorners({0, 0, 0}, {4, 2, 1});
  box.SetAroundPoints(points.data(), 8);
  Vector3 corners[8];
  box.CalcCorners(corners);
  for (int i = 0; i < 8; ++i) ExpectNear(corners[i], points[i], "corner");
  // The box around its own corners is the same box.
  OrientedBox again;
  again.SetAroundCorners(corners, 1);
  ExpectNear(again.Centre(), box.Centre(), "centre");
  ExpectNear(again.Extents(), box.Extents(), "extents");
}

TEST(OrientedBox, StridedPointsGiveTheSameBox) {
  struct Record {
    Vector3 position;
    float other[2];
  };
  std::vector<Vector3> points = Turned45AboutZ();
  std::vector<Record> records;
  for (const Vector3& p : points) records.push_back({p, {99, -99}});
  OrientedBox packed, strided;
  packed.SetAroundPoints(points.data(), 8);
  strided.SetAroundPoints(records.data(), 8, sizeof(Record));
  ExpectNear(strided.Centre(), packed.Centre(), "centre");
  ExpectNear(strided.Axis(0), packed.Axis(0), "axis 0");
  ExpectNear(strided.Extents(), packed.Extents(), "extents");
}

} // namespace
