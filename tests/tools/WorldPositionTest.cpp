#include "tools/WorldPosition.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

WorldPosition At(int16_t tileX, int16_t tileZ, float x, float y, float z) {
  WorldPosition p;
  p.tileX = tileX;
  p.tileZ = tileZ;
  p.x = x;
  p.y = y;
  p.z = z;
  return p;
}

TEST(WorldPositionNormalise, MovesWholeTilesOutOfTheOffsets) {
  struct Case {
    int16_t tile;
    float offset;
    int16_t tileAfter;
    float offsetAfter;
  };
  const Case cases[] = {
      {0, 1440.0f, 2, 0.0f},       {5, -0.5f, 4, 719.5f},     {0, 0.0f, 0, 0.0f},      {0, 719.0f, 0, 719.0f},
      {0, 720.0f, 1, 0.0f},        {0, -720.0f, -1, 0.0f},    {0, -1440.5f, -3, 719.5f},
      // The 0.0001 added to the tile count carries an offset just below
      // 720 over to the next tile, leaving it slightly negative.
      {0, 719.95f, 1, 719.95f - 720.0f},
      {32767, 720.0f, -32768, 0.0f},  // tile indices wrap
  };
  for (const Case& c : cases) {
    WorldPosition p = At(c.tile, c.tile, c.offset, 3.0f, c.offset);
    p.Normalise();
    EXPECT_TRUE(p.normalised);
    EXPECT_EQ(c.tileAfter, p.tileX) << c.offset;
    EXPECT_EQ(c.tileAfter, p.tileZ) << c.offset;
    EXPECT_NEAR(c.offsetAfter, p.x, 1e-3) << c.offset;
    EXPECT_NEAR(c.offsetAfter, p.z, 1e-3) << c.offset;
    EXPECT_EQ(3.0f, p.y);
  }
}

TEST(WorldPositionTiles, ComparesAndCombinesTileIndices) {
  const WorldPosition a = At(3, -2, 0, 0, 0);
  const WorldPosition b = At(1, 5, 0, 0, 0);
  EXPECT_EQ(2, a.TileDifference(b).x);
  EXPECT_EQ(-7, a.TileDifference(b).z);
  EXPECT_EQ(4, a.TileSum(b).x);
  EXPECT_EQ(3, a.TileSum(b).z);
  EXPECT_TRUE(a.TilesEqual(At(3, -2, 9, 9, 9)));
  EXPECT_TRUE(a.TilesDiffer(b));
  EXPECT_TRUE(a.TilesDiffer(At(3, -1, 0, 0, 0)));
}

TEST(WorldPositionSnap, SnapsOffsetsToTheStep) {
  struct Case {
    float value, down, up, nearest;
  };
  for (const Case& c : {Case{12.0f, 10.0f, 20.0f, 10.0f}, Case{15.0f, 10.0f, 20.0f, 20.0f}, Case{-12.0f, -20.0f, -10.0f, -10.0f},
                        Case{20.0f, 20.0f, 20.0f, 20.0f}}) {
    WorldPosition p = At(0, 0, c.value, 7.0f, c.value);
    p.normalised = true;
    WorldPosition down = p, up = p, nearest = p;
    down.SnapDown(10.0f);
    up.SnapUp(10.0f);
    nearest.SnapNearest(10.0f);
    EXPECT_EQ(c.down, down.x) << c.value;
    EXPECT_EQ(c.down, down.z) << c.value;
    EXPECT_EQ(c.up, up.x) << c.value;
    EXPECT_EQ(c.nearest, nearest.x) << c.value;
    EXPECT_EQ(c.nearest, nearest.z) << c.value;
    EXPECT_EQ(7.0f, nearest.y);
    EXPECT_FALSE(nearest.normalised);
  }
}

TEST(WorldPositionCell, NormalisesThenGivesCellsAndTiles) {
  WorldPosition p = At(1, -1, 745.0f, 0, -5.0f);
  const GridCell cell = p.Cell(10.0f);
  EXPECT_TRUE(p.normalised);
  EXPECT_EQ(2, cell.x);   // 25 in tile 2
  EXPECT_EQ(71, cell.z);  // 715 in tile -2
  EXPECT_EQ(0xFFFE0002u, cell.tiles);

  const WorldPosition q = At(0, 0, 715.0f, 0, 5.0f);
  const GridCell shifted = q.ShiftedCell(10.0f, 1.0f);
  EXPECT_EQ(0, shifted.x);  // 725 is 5 in the next tile
  EXPECT_EQ(1, shifted.z);
  EXPECT_EQ(0x00000001u, shifted.tiles);
  EXPECT_FALSE(q.normalised);
}

TEST(WorldPositionVectors, MeasureAcrossTiles) {
  const WorldPosition a = At(2, 1, 10.0f, 5.0f, 20.0f);
  const WorldPosition b = At(1, 1, 700.0f, 1.0f, 30.0f);
  const WorldVector offset = a.RelativeOffset(b);
  EXPECT_EQ(730.0f, offset.x);
  EXPECT_EQ(5.0f, offset.y);
  EXPECT_EQ(20.0f, offset.z);
  const WorldVector d = a.Difference(b);
  EXPECT_EQ(30.0f, d.x);
  EXPECT_EQ(4.0f, d.y);
  EXPECT_EQ(-10.0f, d.z);

  EXPECT_TRUE(At(1, 0, 0.0f, 1.0f, 5.0f).Equals(At(0, 0, 720.0f, 1.0f, 5.0f)));
  EXPECT_FALSE(At(1, 0, 0.0f, 1.0f, 5.0f).Equals(At(0, 0, 720.0f, 2.0f, 5.0f)));

  struct LessCase {
    WorldPosition a, b;
    bool less;
  };
  const LessCase cases[] = {
      {At(0, 0, 9, 9, 1), At(0, 0, 0, 0, 2), true},        // z decides first
      {At(0, 1, 0, 0, 0), At(0, 0, 0, 0, 719), false},     // across tiles
      {At(0, 0, 1, 9, 5), At(0, 0, 2, 0, 5), true},        // then x
      {At(0, 0, 2, 1, 5), At(0, 0, 2, 2, 5), true},        // then y
      {At(0, 0, 2, 2, 5), At(0, 0, 2, 2, 5), false},
  };
  for (const LessCase& c : cases) EXPECT_EQ(c.less, c.a.Less(c.b));
}

TEST(WorldPositionMove, AddsInterpolatesAndRotates) {
  WorldPosition p = At(0, 0, 1, 2, 3);
  p.normalised = true;
  p.Add(WorldVector{1, 1, 1});
  EXPECT_FALSE(p.normalised);
  p.Add(1, 2, 3);
  EXPECT_EQ(3.0f, p.x);
  EXPECT_EQ(5.0f, p.y);
  EXPECT_EQ(7.0f, p.z);

  const WorldPosition from = At(1, 0, 700.0f, 0.0f, 10.0f);
  const WorldPosition to = At(2, 0, 20.0f, 10.0f, 30.0f);
  const WorldPosition half = WorldPosition::Interpolate(from, to, 0.5f);
  EXPECT_EQ(1, half.tileX);
  EXPECT_EQ(720.0f, half.x);
  EXPECT_EQ(5.0f, half.y);
  EXPECT_EQ(20.0f, half.z);
  EXPECT_FALSE(half.normalised);

  float s, c;
  SinCos(static_cast<float>(M_PI / 2), s, c);
  EXPECT_NEAR(1.0f, s, 1e-6);
  EXPECT_NEAR(0.0f, c, 1e-6);

  WorldPosition r = At(1, 0, 10.0f, 4.0f, 0.0f);  // 730 from the centre's tile origin
  const WorldPosition centre = At(0, 0, 720.0f, 0.0f, 0.0f);
  r.normalised = true;
  r.RotateAbout(centre, static_cast<float>(M_PI / 2));
  EXPECT_EQ(0, r.tileX);
  EXPECT_NEAR(720.0f, r.x, 1e-3);
  EXPECT_NEAR(10.0f, r.z, 1e-3);
  EXPECT_EQ(4.0f, r.y);
  EXPECT_FALSE(r.normalised);
}

} // namespace
