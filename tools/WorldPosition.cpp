#include "tools/WorldPosition.h"

#include <cmath>
#include <limits>

namespace {

int16_t Wrap(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value))); }

// The integer part, held within int32 (tile indices wrap to 16 bits anyway).
int32_t IntegerPart(float value) {
  if (!(value > -2147483520.0f)) return std::numeric_limits<int32_t>::min();
  if (!(value < 2147483520.0f)) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

int32_t FloorCell(float value, float step) { return IntegerPart(std::floor(value / step)); }

void NormaliseAxis(int16_t& tile, float& offset) {
  int32_t k = IntegerPart(offset / WorldPosition::kTileSize + 0.0001f);
  if (offset < 0) --k;
  tile = Wrap(tile + k);
  offset -= static_cast<float>(k) * WorldPosition::kTileSize;
}

} // namespace

void SinCos(float angle, float& sine, float& cosine) {
  sine = std::sin(angle);
  cosine = std::cos(angle);
}

TilePair WorldPosition::TileDifference(const WorldPosition& other) const {
  return {Wrap(tileX - other.tileX), Wrap(tileZ - other.tileZ)};
}

TilePair WorldPosition::TileSum(const WorldPosition& other) const {
  return {Wrap(tileX + other.tileX), Wrap(tileZ + other.tileZ)};
}

void WorldPosition::Add(float dx, float dy, float dz) {
  x += dx;
  y += dy;
  z += dz;
  normalised = false;
}

void WorldPosition::Normalise() {
  NormaliseAxis(tileX, x);
  NormaliseAxis(tileZ, z);
  normalised = true;
}

void WorldPosition::SnapDown(float step) {
  x = std::floor(x / step) * step;
  z = std::floor(z / step) * step;
}

void WorldPosition::SnapUp(float step) {
  x = std::ceil(x / step) * step;
  z = std::ceil(z / step) * step;
}

void WorldPosition::SnapNearest(float step) {
  x = std::floor(x / step + 0.5f) * step;
  z = std::floor(z / step + 0.5f) * step;
  normalised = false;
}

GridCell WorldPosition::Cell(float step) {
  if (!normalised) Normalise();
  return {FloorCell(x, step), FloorCell(z, step),
          static_cast<uint32_t>(static_cast<uint16_t>(tileX)) | static_cast<uint32_t>(static_cast<uint16_t>(tileZ)) << 16};
}

GridCell WorldPosition::ShiftedCell(float step, float scale) const {
  WorldPosition moved = *this;
  moved.Add(step * scale, 0, step * scale);
  return moved.Cell(step);
}

WorldVector WorldPosition::RelativeOffset(const WorldPosition& reference) const {
  return {static_cast<float>(tileX - reference.tileX) * kTileSize + x, y,
          static_cast<float>(tileZ - reference.tileZ) * kTileSize + z};
}

WorldVector WorldPosition::Difference(const WorldPosition& other) const {
  const WorldVector offset = RelativeOffset(other);
  return {offset.x - other.x, offset.y - other.y, offset.z - other.z};
}

bool WorldPosition::Equals(const WorldPosition& other) const {
  const WorldVector offset = RelativeOffset(other);
  return offset.x == other.x && offset.y == other.y && offset.z == other.z;
}

bool WorldPosition::Less(const WorldPosition& other) const {
  const WorldVector offset = RelativeOffset(other);
  if (offset.z != other.z) return offset.z < other.z;
  if (offset.x != other.x) return offset.x < other.x;
  return offset.y < other.y;
}

WorldPosition WorldPosition::Interpolate(const WorldPosition& first, const WorldPosition& second, float t) {
  const WorldVector d = second.Difference(first);
  WorldPosition out = first;
  out.x = first.x + d.x * t;
  out.y = first.y + d.y * t;
  out.z = first.z + d.z * t;
  out.normalised = false;
  return out;
}

void WorldPosition::RotateAbout(const WorldPosition& centre, float angle) {
  const WorldVector d = Difference(centre);
  float sine, cosine;
  SinCos(angle, sine, cosine);
  tileX = centre.tileX;
  tileZ = centre.tileZ;
  x = centre.x + d.x * cosine - d.z * sine;
  z = centre.z + d.z * cosine + d.x * sine;
  normalised = false;
}
