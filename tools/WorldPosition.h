#pragma once
// A place in the world: a tile (two 16-bit indices) and offsets inside it in
// units, a tile being 720 units square; the height is not tiled.
#include <cstdint>

struct WorldVector {
  float x = 0;
  float y = 0;
  float z = 0;
};

struct TilePair {
  int16_t x = 0;
  int16_t z = 0;
};

// A grid cell of a tile and the tile, its x index in the low half of the
// word and its z index in the high half.
struct GridCell {
  int32_t x = 0;
  int32_t z = 0;
  uint32_t tiles = 0;
};

void SinCos(float angle, float& sine, float& cosine);

struct WorldPosition {
  static constexpr float kTileSize = 720.0f;

  int16_t tileX = 0;
  int16_t tileZ = 0;
  float x = 0;
  float y = 0;
  float z = 0;
  bool normalised = false;

  TilePair TileDifference(const WorldPosition& other) const;
  TilePair TileSum(const WorldPosition& other) const;
  bool TilesEqual(const WorldPosition& other) const { return tileX == other.tileX && tileZ == other.tileZ; }
  bool TilesDiffer(const WorldPosition& other) const { return !TilesEqual(other); }

  void Add(const WorldVector& v) { Add(v.x, v.y, v.z); }
  void Add(float dx, float dy, float dz);
  // Moves whole tiles out of the offsets; the tile indices wrap as 16-bit values.
  void Normalise();
  void SnapDown(float step);
  void SnapUp(float step);
  void SnapNearest(float step);
  GridCell Cell(float step);
  GridCell ShiftedCell(float step, float scale) const;

  // From the origin of the reference's tile to this position.
  WorldVector RelativeOffset(const WorldPosition& reference) const;
  // This position less the other.
  WorldVector Difference(const WorldPosition& other) const;
  bool Equals(const WorldPosition& other) const;
  // z first, then x, then y.
  bool Less(const WorldPosition& other) const;
  // first + (second - first) x t, in the first's tile.
  static WorldPosition Interpolate(const WorldPosition& first, const WorldPosition& second, float t);
  // Turns the horizontal offset from the centre by the angle (radians); the
  // position takes the centre's tile.
  void RotateAbout(const WorldPosition& centre, float angle);
};
