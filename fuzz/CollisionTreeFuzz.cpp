// Collision box trees over arbitrary triangles, identifiers and segments.
// Byte 0 chooses the coordinates: bit 0 clear, small multiples of 1/4 (where
// every compact box covers its triangles, so each query's nearest hit must
// equal the one found by testing every triangle); set, raw float bits (any
// hit reported must be a real hit; a box far from the origin may miss part
// of its triangles). Byte 1 gives the segment count (at most 32), read from
// the input's end; the bytes between are triangles: three corners, then a
// 3-byte identifier.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "assets3d/VLAxisBoxTree.h"
#include "tests/assets3d/mesh/CollisionTreeSupport.h"

namespace {

using Vak::Vector3;

struct Reader {
  const uint8_t* data;
  std::size_t size;
  bool raw;

  std::size_t CoordinateSize() const { return raw ? 4 : 1; }
  float Coordinate(std::size_t& at) const {
    if (!raw) return float(static_cast<int8_t>(data[at++])) * 0.25f;
    float v;
    std::memcpy(&v, data + at, 4);
    at += 4;
    return v;
  }
  Vector3 Point(std::size_t& at) const {
    const float x = Coordinate(at), y = Coordinate(at);
    return Vector3{x, y, Coordinate(at)};
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Reader in{data, size, (data[0] & 1) != 0};
  const std::size_t segmentBytes = 6 * in.CoordinateSize();
  const std::size_t triangleBytes = 9 * in.CoordinateSize() + 3;
  std::size_t segments = data[1] % 33;
  if (2 + segments * segmentBytes > size) segments = (size - 2) / segmentBytes;
  const std::size_t triangleEnd = size - segments * segmentBytes;

  meshtest::TriangleTable table;
  VLAxisBoxTree tree;
  tree.BeginBuild(&table);
  std::size_t at = 2;
  unsigned added = 0;
  while (at + triangleBytes <= triangleEnd) {
    const Vector3 a = in.Point(at), b = in.Point(at), c = in.Point(at);
    // Chunk numbers up to 1020: a half of them past the limit.
    const uint32_t id = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 18;
    at += 3;
    // The geometry answers with the first triangle the tree takes under an
    // identifier; the tree also gets the later ones.
    if (VLAxisBoxTree::IsValidId(id) && VLAxisBoxTree::AcceptTriangle(a, b, c) && !table.triangles.count(id))
      table.triangles[id] = meshtest::Triangle{a, b, c};
    tree.AddTriangle(a, b, c, id);
    ++added;
  }
  const bool built = tree.FinishBuild();
  if (built != !table.triangles.empty()) std::abort();
  if (tree.RejectedCount() > added) std::abort();

  at = triangleEnd;
  for (std::size_t s = 0; s < segments; ++s) {
    const Vector3 start = in.Point(at), end = in.Point(at);
    VLAxisBoxTree::RayResult r;
    const bool hit = tree.RayQuery(start, end, r);
    const meshtest::BruteHit expected = meshtest::NearestByBruteForce(table.triangles, start, end);
    if (!hit) {
      if (r.id != -1 || r.fraction != -1) std::abort();
      if (!in.raw && expected.hit) std::abort();
      continue;
    }
    auto t = table.triangles.find(static_cast<uint32_t>(r.id));
    if (t == table.triangles.end()) std::abort();
    float fraction = 0;
    Vector3 point;
    if (!VLAxisBoxTree::SegmentHitsTriangle(start, end, t->second.data(), fraction, point) || fraction != r.fraction)
      std::abort();
    if (!expected.hit) std::abort();
    if (!in.raw && (expected.fraction != r.fraction || !expected.ids.count(static_cast<uint32_t>(r.id))))
      std::abort();
  }
  return 0;
}
