#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "tests/assets3d/mesh/CollisionTreeSupport.h"

namespace {

using meshtest::BruteHit;
using meshtest::Triangle;
using meshtest::TriangleTable;
using Vak::Vector3;

// Separate small triangles in a row along x, identifiers 0, 1, 2, ...
TriangleTable Row(unsigned count) {
  TriangleTable table;
  for (unsigned k = 0; k < count; ++k) {
    const float x = 2.0f * float(k);
    table.triangles[k] = Triangle{Vector3{x, 0, 0}, Vector3{x + 1, 0, 0}, Vector3{x, 1, 0}};
  }
  return table;
}

Vector3 RandomPoint(std::mt19937& rng, float r) {
  std::uniform_real_distribution<float> d(-r, r);
  return Vector3{d(rng), d(rng), d(rng)};
}

// Triangles scattered through a cube of side 2r, the given identifiers.
TriangleTable Soup(std::mt19937& rng, const std::vector<uint32_t>& ids, float r, Vector3 offset = {}) {
  TriangleTable table;
  for (uint32_t id : ids) {
    const Vector3 c = RandomPoint(rng, r) + offset;
    table.triangles[id] = Triangle{c + RandomPoint(rng, 2), c + RandomPoint(rng, 2), c + RandomPoint(rng, 2)};
  }
  return table;
}

std::vector<uint32_t> Ids(uint32_t chunk, uint32_t count) {
  std::vector<uint32_t> ids;
  for (uint32_t k = 0; k < count; ++k) ids.push_back(chunk << 16 | k);
  return ids;
}

// A height field of n x n cells; neighbouring triangles share corners.
TriangleTable Terrain(std::mt19937& rng, unsigned n) {
  std::uniform_real_distribution<float> h(-1, 1);
  std::vector<float> height((n + 1) * (n + 1));
  for (float& v : height) v = h(rng);
  auto at = [&](unsigned x, unsigned y) { return Vector3{float(x), float(y), height[y * (n + 1) + x]}; };
  TriangleTable table;
  uint32_t k = 0;
  for (unsigned y = 0; y < n; ++y)
    for (unsigned x = 0; x < n; ++x) {
      const uint32_t chunk = k / 4000, id = chunk << 16 | (k % 4000);
      table.triangles[id] = Triangle{at(x, y), at(x + 1, y), at(x + 1, y + 1)};
      table.triangles[id + 1] = Triangle{at(x, y), at(x + 1, y + 1), at(x, y + 1)};
      k += 2;
    }
  return table;
}

// The box of every triangle under `node`, as the build gave it.
void SubtreeBox(const VLAxisBoxTree& tree, const TriangleTable& table, int32_t node, Vector3& low, Vector3& high) {
  const auto& n = tree.GetNode(static_cast<std::size_t>(node));
  if (n.word0 >= 0) {
    SubtreeBox(tree, table, n.word0, low, high);
    SubtreeBox(tree, table, n.word1, low, high);
    return;
  }
  for (int32_t e = ~n.word0; e < ~n.word0 + n.word1; ++e)
    for (const Vector3& v : table.triangles.at(tree.GetLeafId(static_cast<std::size_t>(e))))
      for (int i = 0; i < 3; ++i) {
        low[i] = std::min(low[i], v[i]);
        high[i] = std::max(high[i], v[i]);
      }
}

// How many axes ended at the largest half-size; fails where a box that did
// not end there misses part of its triangles.
unsigned CheckBoxesContainTriangles(const VLAxisBoxTree& tree, const TriangleTable& table) {
  unsigned stuck = 0;
  for (std::size_t node = 0; node < tree.NodeCount(); ++node) {
    Vector3 low{3e38f, 3e38f, 3e38f}, high{-3e38f, -3e38f, -3e38f}, centre, half;
    SubtreeBox(tree, table, static_cast<int32_t>(node), low, high);
    tree.UnpackBox(node, centre, half);
    for (int i = 0; i < 3; ++i) {
      if (tree.GetNode(node).half[i] == 65535) {
        ++stuck;
        continue;
      }
      EXPECT_LE(centre[i] - half[i], low[i]) << "node " << node << " axis " << i;
      EXPECT_GE(centre[i] + half[i], high[i]) << "node " << node << " axis " << i;
    }
  }
  return stuck;
}

struct EdgeCase {
  const char* name;
  std::function<void()> check;
};

TEST(VLAxisBoxTreeTest, EdgeCases) {
  const EdgeCase cases[] = {
      {"64 triangles make one leaf",
       [] {
         TriangleTable table = Row(64);
         VLAxisBoxTree tree;
         ASSERT_TRUE(table.Build(tree));
         ASSERT_EQ(tree.NodeCount(), 1u);
         EXPECT_EQ(tree.GetNode(0).word0, -1);
         EXPECT_EQ(tree.GetNode(0).word1, 64);
         EXPECT_EQ(tree.LeafEntryCount(), 64u);
       }},
      {"65 triangles split into 32 and 33",
       [] {
         TriangleTable table = Row(65);
         VLAxisBoxTree tree;
         ASSERT_TRUE(table.Build(tree));
         ASSERT_EQ(tree.NodeCount(), 3u);
         const int32_t words[3][2] = {{1, 2}, {-1, 32}, {-33, 33}};
         for (int n = 0; n < 3; ++n) {
           EXPECT_EQ(tree.GetNode(n).word0, words[n][0]) << n;
           EXPECT_EQ(tree.GetNode(n).word1, words[n][1]) << n;
         }
         EXPECT_EQ(tree.MemorySize(), 3u * 20 + 65u * 3);
         EXPECT_EQ(tree.DeepestLevel(), 1u);
       }},
      {"triangles sharing an edge share two welded vertices",
       [] {
         VLAxisBoxTree tree;
         tree.BeginBuild(nullptr);
         tree.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0);
         tree.AddTriangle({1, 0, 0}, {1, 1, 0}, {0, 1, 0}, 1);
         EXPECT_EQ(tree.WeldedVertexCount(), 4u);
         const auto a = tree.GetBuildTriangle(0), b = tree.GetBuildTriangle(1);
         EXPECT_EQ(b[0], a[1]);
         EXPECT_EQ(b[2], a[2]);
         EXPECT_EQ(b[1], 3u);
       }},
      {"a collinear triangle is rejected and counted",
       [] {
         VLAxisBoxTree tree;
         tree.BeginBuild(nullptr);
         tree.AddTriangle({0, 0, 0}, {1, 1, 1}, {2, 2, 2}, 0);
         tree.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1);
         EXPECT_EQ(tree.RejectedCount(), 1u);
         EXPECT_EQ(tree.BuildTriangleCount(), 1u);
         EXPECT_EQ(tree.WeldedVertexCount(), 3u);
       }},
      {"corners that are not finite are rejected",
       [] {
         VLAxisBoxTree tree;
         tree.BeginBuild(nullptr);
         tree.AddTriangle({NAN, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0);
         tree.AddTriangle({INFINITY, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1);
         EXPECT_EQ(tree.RejectedCount(), 2u);
         EXPECT_FALSE(tree.FinishBuild());
         EXPECT_EQ(tree.NodeCount(), 0u);
       }},
      {"identifiers beyond chunk 511 or triangle 32767 are rejected",
       [] {
         VLAxisBoxTree tree;
         tree.BeginBuild(nullptr);
         for (uint32_t id : {512u << 16, 0x8000u, 0xFFFFu, 0xFFFFFFFFu}) tree.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, id);
         EXPECT_EQ(tree.RejectedCount(), 4u);
         tree.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 511u << 16 | 0x7FFF);
         EXPECT_EQ(tree.RejectedCount(), 4u);
         ASSERT_TRUE(tree.FinishBuild());
         EXPECT_EQ(tree.GetLeafId(0), 511u << 16 | 0x7FFF);
       }},
      {"nothing to build",
       [] {
         VLAxisBoxTree tree;
         tree.BeginBuild(nullptr);
         EXPECT_FALSE(tree.FinishBuild());
         VLAxisBoxTree::RayResult r;
         EXPECT_FALSE(tree.RayQuery({0, 0, -1}, {0, 0, 1}, r));
       }},
      {"a segment of zero length finds no hit",
       [] {
         TriangleTable table = Row(3);
         VLAxisBoxTree tree;
         ASSERT_TRUE(table.Build(tree));
         VLAxisBoxTree::RayResult r;
         // On the first triangle, in its plane.
         EXPECT_FALSE(tree.RayQuery({0.25f, 0.25f, 0}, {0.25f, 0.25f, 0}, r));
         EXPECT_EQ(r.id, -1);
         EXPECT_EQ(r.fraction, -1.0f);
         // The same point as a segment through the plane does hit.
         ASSERT_TRUE(tree.RayQuery({0.25f, 0.25f, 1}, {0.25f, 0.25f, -1}, r));
         EXPECT_EQ(r.id, 0);
         EXPECT_EQ(r.fraction, 0.5f);
         EXPECT_EQ(r.point, Vector3(0.25f, 0.25f, 0));
         EXPECT_EQ(r.normal, Vector3(0, 0, 1));
         EXPECT_EQ(r.extra, -1);
       }},
      {"every compact box contains its triangles",
       [] {
         std::mt19937 rng(7);
         TriangleTable table = Soup(rng, Ids(0, 3000), 40);
         VLAxisBoxTree tree;
         ASSERT_TRUE(table.Build(tree));
         EXPECT_EQ(CheckBoxesContainTriangles(tree, table), 0u);
       }},
      {"boxes far from the origin may end at the largest half-size",
       [] {
         std::mt19937 rng(8);
         TriangleTable table = Soup(rng, Ids(0, 500), 1, Vector3{1e6f, 0, 0});
         VLAxisBoxTree tree;
         ASSERT_TRUE(table.Build(tree));
         EXPECT_GT(CheckBoxesContainTriangles(tree, table), 0u);
       }},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.check();
  }
}

// The tree's nearest hit is the one found by testing every triangle.
TEST(VLAxisBoxTreeTest, NearestHitMatchesBruteForce) {
  struct MeshCase {
    const char* name;
    std::function<TriangleTable(std::mt19937&)> make;
  };
  const MeshCase meshes[] = {
      {"scattered", [](std::mt19937& rng) { return Soup(rng, Ids(0, 700), 30); }},
      {"terrain", [](std::mt19937& rng) { return Terrain(rng, 40); }},
      {"one chunk of 22,000 triangles", [](std::mt19937& rng) { return Soup(rng, Ids(3, 22000), 60); }},
      {"chunks up to 511",
       [](std::mt19937& rng) {
         std::vector<uint32_t> ids;
         for (uint32_t chunk : {0u, 1u, 200u, 511u})
           for (uint32_t k : {0u, 1u, 7u, 21845u, 21846u, 32767u}) ids.push_back(chunk << 16 | k);
         return Soup(rng, ids, 10);
       }},
  };
  for (const MeshCase& m : meshes) {
    SCOPED_TRACE(m.name);
    std::mt19937 rng(46);
    const TriangleTable table = m.make(rng);
    VLAxisBoxTree tree;
    ASSERT_TRUE(table.Build(tree));
    std::vector<Triangle> targets;
    for (const auto& [id, t] : table.triangles) targets.push_back(t);
    unsigned hits = 0;
    for (int q = 0; q < 60; ++q) {
      Vector3 start = RandomPoint(rng, 70), end = RandomPoint(rng, 70);
      if (q % 2 == 0) {
        // Aimed through a triangle, so that most of these hit.
        const Triangle& t = targets[rng() % targets.size()];
        const Vector3 centroid = (t[0] + t[1] + t[2]) * (1.0f / 3);
        end = centroid + (centroid - start) * 0.5f;
      }
      const BruteHit expected = meshtest::NearestByBruteForce(table.triangles, start, end);
      VLAxisBoxTree::RayResult r;
      ASSERT_EQ(tree.RayQuery(start, end, r), expected.hit) << "query " << q;
      if (!expected.hit) continue;
      ++hits;
      EXPECT_EQ(r.fraction, expected.fraction) << "query " << q;
      EXPECT_TRUE(expected.ids.count(static_cast<uint32_t>(r.id))) << "query " << q << " id " << r.id;
      EXPECT_NEAR(r.normal.Length(), 1.0f, 1e-5f);
    }
    EXPECT_GT(hits, 20u);
  }
}

TEST(VLAxisBoxTreeTest, RayHitsTriangle) {
  const Vector3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};  // facing +z
  struct Case {
    const char* name;
    Vector3 origin, direction;
    float length;
    bool twoSided, hit;
    float t;
  };
  const Case cases[] = {
      {"front", {0.25f, 0.25f, 1}, {0, 0, -1}, 2, false, true, 1},
      {"back, one-sided", {0.25f, 0.25f, -1}, {0, 0, 1}, 2, false, false, 0},
      {"back, two-sided", {0.25f, 0.25f, -1}, {0, 0, 1}, 2, true, true, 1},
      {"too short", {0.25f, 0.25f, 1}, {0, 0, -1}, 0.5f, false, false, 0},
      {"beyond the hypotenuse", {0.8f, 0.8f, 1}, {0, 0, -1}, 2, false, false, 0},
      {"left of the triangle", {-0.1f, 0.5f, 1}, {0, 0, -1}, 2, true, false, 0},
      {"parallel", {0.25f, 0.25f, 0.5f}, {1, 0, 0}, 2, true, false, 0},
      {"behind the origin", {0.25f, 0.25f, -1}, {0, 0, -1}, 2, true, false, 0},
      {"on a corner", {0, 0, 1}, {0, 0, -1}, 2, false, true, 1},
  };
  for (const Case& k : cases) {
    float t = -1, u = -1, v = -1;
    EXPECT_EQ(VLAxisBoxTree::RayHitsTriangle(k.origin, k.direction, k.length, a, b, c, k.twoSided, t, u, v), k.hit)
        << k.name;
    if (k.hit) {
      EXPECT_FLOAT_EQ(t, k.t) << k.name;
    }
  }
}

TEST(VLAxisBoxTreeTest, PointInTriangleAndAxes) {
  // In the plane x = 2: the test drops x.
  const Vector3 a{2, 0, 0}, b{2, 1, 0}, c{2, 0, 1}, normal = (b - a).Cross(c - a);
  struct Case {
    Vector3 point;
    bool inside;
  };
  const Case cases[] = {
      {{2, 0.2f, 0.2f}, true}, {{2, 0.5f, 0.5f}, true}, {{2, 0, 0}, true}, {{2, 0.6f, 0.6f}, false},
      {{2, -0.1f, 0.5f}, false},
  };
  for (const Case& k : cases)
    EXPECT_EQ(VLAxisBoxTree::PointInTriangle(k.point, a, b, c, normal), k.inside)
        << k.point.x << " " << k.point.y << " " << k.point.z;

  EXPECT_EQ(VLAxisBoxTree::DominantAxes({1, -5, 3}), (std::array<int, 3>{1, 2, 0}));
  EXPECT_EQ(VLAxisBoxTree::DominantAxes({0, 0, -1}), (std::array<int, 3>{2, 0, 1}));
}

TEST(VLAxisBoxTreeTest, WeldMapFindsExactlyEqualPoints) {
  VLMapKDTree map;
  std::mt19937 rng(3);
  std::vector<Vector3> points;
  // Many points share coordinates, as on a grid.
  for (int k = 0; k < 1000; ++k) points.push_back(Vector3{float(k % 10), float(k / 10 % 10), float(k / 100)});
  for (std::size_t k = 0; k < points.size(); ++k) map.Insert(points[k], static_cast<int>(k));
  EXPECT_EQ(map.Size(), points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    int value = -1;
    ASSERT_TRUE(map.Find(points[k], value)) << k;
    EXPECT_EQ(value, static_cast<int>(k));
  }
  int value = -1;
  EXPECT_FALSE(map.Find({0.5f, 0, 0}, value));
  EXPECT_FALSE(map.Find({std::nextafter(9.0f, 10.0f), 9, 9}, value));
  EXPECT_TRUE(map.Find({-0.0f, 0, 0}, value));
  map.Clear();
  EXPECT_FALSE(map.Find({0, 0, 0}, value));
}

TEST(VLAxisBoxTreeTest, MemoryChainHandsOutAlignedBlocks) {
  VLMemoryChain chain(256);
  auto* a = static_cast<unsigned char*>(chain.Allocate(100));
  auto* b = static_cast<unsigned char*>(chain.Allocate(100));
  EXPECT_EQ(b - a, 112);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  EXPECT_EQ(chain.BlockCount(), 1u);
  chain.Allocate(100);
  EXPECT_EQ(chain.BlockCount(), 2u);
  chain.Allocate(1000);  // larger than a block
  EXPECT_EQ(chain.BlockCount(), 3u);
  chain.Release();
  EXPECT_EQ(chain.BlockCount(), 0u);
}

} // namespace
