#include <gtest/gtest.h>

#include <random>

#include "assets3d/OverlappedResourceSystem.h"
#include "tests/assets3d/mesh/CollisionTreeSupport.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;
using Vak::Vector3;

// A grid of n x n vertices with random heights: 2 (n - 1)^2 triangles.
ChunkGroup Terrain(unsigned n, float x0, std::mt19937& rng) {
  ChunkGroup g = QuadGroup();
  g.geometry = Grid(n);
  std::uniform_real_distribution<float> height(-2, 2);
  for (Vec3& p : g.geometry.positions) p = Vec3{p[0] + x0, p[1], height(rng)};
  g.geometry.uvs.clear();
  return g;
}

// The triangles of the groups as the file holds them, by the identifier a
// collision tree gives them: chunk << 16 | triangle.
std::map<uint32_t, Triangle> TrianglesOf(const std::vector<ChunkGroup>& groups) {
  std::map<uint32_t, Triangle> out;
  for (uint32_t c = 0; c < groups.size(); ++c) {
    const Geometry& g = groups[c].geometry;
    for (uint32_t t = 0; 3 * t + 2 < g.indices.size(); ++t) {
      Triangle tri;
      for (int k = 0; k < 3; ++k) {
        const Vec3& p = g.positions[g.indices[3 * t + k]];
        tri[k] = Vector3{p[0], p[1], p[2]};
      }
      out[c << 16 | t] = tri;
    }
  }
  return out;
}

// Identifiers must name the triangle that was hit, also past 21,845 triangles
// in a chunk, where three times the triangle number no longer fits 16 bits.
TEST(CollisionTreeDefinitionTest, NearestHitNamesTheTriangleInLargeChunks) {
  std::mt19937 rng(14);
  const std::vector<ChunkGroup> groups = {QuadGroup(), Terrain(106, 0, rng)};  // 2 and 22,050 triangles
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile(groups), def), 0u);
  const VLAxisBoxTree* tree = def->GetCollisionTree();
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(def->GetCollisionTree(), tree);
  EXPECT_EQ(tree->RejectedCount(), 0u);
  EXPECT_EQ(tree->LeafEntryCount(), 22052u);

  const std::map<uint32_t, Triangle> triangles = TrianglesOf(groups);
  std::uniform_real_distribution<float> across(0, 105), lastRow(104, 105), drift(-0.3f, 0.3f), up(5, 10);
  unsigned beyond = 0;
  for (int q = 0; q < 60; ++q) {
    // Mostly down onto the last row, whose triangles are past 21,845.
    const float x = across(rng), y = q % 4 == 0 ? across(rng) : lastRow(rng);
    const Vector3 start{x, y, up(rng)}, end{x + drift(rng), y + drift(rng), -up(rng)};
    const BruteHit expected = NearestByBruteForce(triangles, start, end);
    VLAxisBoxTree::RayResult r;
    ASSERT_EQ(tree->RayQuery(start, end, r), expected.hit) << "query " << q;
    if (!expected.hit) continue;
    EXPECT_EQ(r.fraction, expected.fraction) << "query " << q;
    EXPECT_TRUE(expected.ids.count(static_cast<uint32_t>(r.id))) << "query " << q << " id " << std::hex << r.id;
    beyond += (r.id & 0xFFFF) > 21845;
  }
  EXPECT_GT(beyond, 20u);
}

TEST(CollisionTreeDefinitionTest, TrianglesPastTheChunkLimitAreCountedNotAliased) {
  struct Case {
    const char* name;
    unsigned gridSize;
    unsigned rejected;
  };
  const Case cases[] = {
      {"32,768 triangles fit", 129, 0},
      {"33,282 triangles: 514 past the limit", 130, 514},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(15);
    const std::vector<ChunkGroup> groups = {Terrain(c.gridSize, 0, rng)};
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(IdxmFile(groups), def), 0u);
    std::unique_ptr<VLAxisBoxTree> tree = def->BuildCollisionTree();
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->RejectedCount(), c.rejected);
    EXPECT_EQ(tree->LeafEntryCount(), 32768u);
    for (std::size_t e = 0; e < tree->LeafEntryCount(); ++e) ASSERT_LT(tree->GetLeafId(e), 32768u);
  }
}

TEST(CollisionTreeDefinitionTest, NoTreeWithoutTriangles) {
  ChunkGroup empty = QuadGroup();
  empty.geometry.indices.clear();
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({empty}), def), 0u);
  EXPECT_EQ(def->GetCollisionTree(), nullptr);
  EXPECT_EQ(def->GetCollisionTree(), nullptr);
}

// With a background loader the read requests the build there: the tree is
// there once the loader ran it, and a definition that goes first leaves
// nothing behind for the loader.
TEST(CollisionTreeDefinitionTest, TheLoaderBuildsTheTreeInTheBackground) {
  OverlappedResourceSystem background(false);
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}), def), 0u);
  EXPECT_EQ(background.GetQueuedCount(), 1);
  EXPECT_EQ(def->GetCollisionTree(), nullptr);
  EXPECT_EQ(background.GetQueuedCount(), 1);  // asked again, not requested twice
  ASSERT_TRUE(background.RunOneNow());
  const VLAxisBoxTree* tree = def->GetCollisionTree();
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->LeafEntryCount(), 2u);
  EXPECT_EQ(def->GetCollisionTree(), tree);

  std::unique_ptr<VelmarIndexedMeshDefinition> gone;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}), gone), 0u);
  EXPECT_EQ(background.GetQueuedCount(), 1);
  gone.reset();
  EXPECT_EQ(background.GetQueuedCount(), 0);
  EXPECT_FALSE(background.RunOneNow());
}

} // namespace
