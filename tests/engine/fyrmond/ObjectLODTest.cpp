// Level-of-detail choice: the detail value from the bounds and the viewer,
// and the level a detail value picks from the cut-off table.
#include <gtest/gtest.h>

#include "engine/fyrmond/ObjectLOD.h"

namespace {

using Vak::ObjectLOD;
using Vak::Vector3;

// Bounds of radius 5 around (10, 0, 0): the corners lie 5 from the centre.
const Vector3 kMin{10 - 3, -4, 0}, kMax{10 + 3, 4, 0};

TEST(ObjectLOD, DetailFromDistanceToTheCalculationPoint) {
  struct Case {
    const char* name;
    unsigned point;
    Vector3 viewer;
    float multiplier;
    float detail;
  };
  const Case cases[] = {
      {"centre", ObjectLOD::kCentre, {110, 0, 0}, 1, 10},
      {"near side", ObjectLOD::kNear, {115, 0, 0}, 1, 10},
      {"far side", ObjectLOD::kFar, {105, 0, 0}, 1, 10},
      {"multiplier stretches the distance", ObjectLOD::kCentre, {210, 0, 0}, 2, 10},
      {"inside the near sphere", ObjectLOD::kNear, {12, 0, 0}, 1, 1e6f},
      {"a multiplier of 0 counts as 1", ObjectLOD::kCentre, {110, 0, 0}, 0, 10},
  };
  for (const Case& c : cases) {
    ObjectLOD lod;
    lod.InitObjectLOD({}, c.point);
    EXPECT_FLOAT_EQ(lod.CalcDetail(kMin, kMax, c.viewer, c.multiplier), c.detail) << c.name;
    EXPECT_FLOAT_EQ(lod.GetDetail(), c.detail) << c.name;
  }
}

TEST(ObjectLOD, LevelIsTheFirstWhoseSwitchDistanceIsReached) {
  ObjectLOD lod;
  lod.InitObjectLOD({10, 10, 50, 200}, ObjectLOD::kCentre);
  struct Case {
    float detail;
    int level;
  };
  // Detail 1000 / distance; past the last switch distance the last level.
  const Case cases[] = {{1000, 0}, {100, 0}, {99, 2}, {20, 2}, {19, 3}, {5, 3}, {1, 3}, {0, 3}};
  for (const Case& c : cases) EXPECT_EQ(lod.ChooseLevel(c.detail), c.level) << c.detail;
  ObjectLOD empty;
  EXPECT_EQ(empty.ChooseLevel(50), 0);
}

} // namespace
