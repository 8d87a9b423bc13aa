#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "assets3d/AlphaBlendCacheUnsorted.h"
#include "assets3d/VelmarAlphaBlendCache.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/Material.h"

namespace {

using Vak::Display;
using Vak::GeometryChunk;
using Vak::Matrix4;
using Vak::Vector3;
using Vak::VelmarAlphaBlendCache;

using ChunkPtr = std::unique_ptr<GeometryChunk, void (*)(GeometryChunk*)>;

// A chunk of `vertices` positions along x (vertex i at x = i), with the
// indices given and the type bits set.
ChunkPtr MakeChunk(unsigned vertices, const std::vector<uint16_t>& indices, uint32_t typeBits,
                   int geometryType = Vak::Material::kTriangleList) {
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  auto* chunk = new GeometryChunk(type, vertices, 0, unsigned(indices.size()), 0, geometryType,
                                  Vak::StandardChunkHint());
  chunk->SetFlags(typeBits);
  auto positions = chunk->GetItem<Vector3>(Vak::kItemPosition);
  for (unsigned i = 0; i < vertices; ++i) positions[i] = {float(i), 0, 0};
  std::copy(indices.begin(), indices.end(), chunk->GetIndices());
  return ChunkPtr(chunk, [](GeometryChunk* c) { c->ReleaseReference(); });
}

Matrix4 At(float x, float y, float z) {
  Matrix4 m;
  m.m[0][3] = x, m.m[1][3] = y, m.m[2][3] = z;
  return m;
}

std::vector<Display::Call> Draws(const Display& display) {
  std::vector<Display::Call> draws;
  for (const auto& call : display.GetCalls())
    if (call.name == "RenderGeometry" || call.name == "RenderPrimitives") draws.push_back(call);
  return draws;
}

struct Fixture : ::testing::Test {
  void SetUp() override { Vak::RenderingCache::SetRenderingDisabled(false); }
  void TearDown() override { Vak::RenderingCache::SetRenderingDisabled(false); }
  Display display;
  Vak::AlphaBlendDrawer drawer;
};

using VelmarAlphaBlendCacheTest = Fixture;
using AlphaBlendCacheUnsortedTest = Fixture;

TEST(VelmarAlphaBlendCacheBuckets, DistanceToBucket) {
  struct Case {
    float distance;
    int bucket;
  };
  const Case cases[] = {{999.0f, 199}, {10000.0f, 199}, {4.9f, 0}, {0.0f, 0}, {5.5f, 1}, {352.0f, 70},
                        {1e18f, 199}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distance);
    const float measured = VelmarAlphaBlendCache::Distance({0, 0, c.distance});
    EXPECT_NEAR(measured, c.distance, c.distance * 0.002f);
    EXPECT_EQ(VelmarAlphaBlendCache::BucketOf(measured), c.bucket);
    VelmarAlphaBlendCache cache;
    auto chunk = MakeChunk(3, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
    cache.Add(nullptr, chunk.get(), nullptr, At(c.distance, 0, 0));
    EXPECT_EQ(cache.BucketCount(c.bucket), 1u);
    EXPECT_FALSE(cache.IsEmpty());
  }
}

// Near entries draw their sorted primitives; from bucket 70 on the chunk
// draws with its own indices.
TEST_F(VelmarAlphaBlendCacheTest, SortedOnlyBelowBucket70) {
  struct Case {
    float distance;
    const char* drawn;
  };
  const Case cases[] = {{10.0f, "RenderPrimitives"}, {345.0f, "RenderPrimitives"}, {352.0f, "RenderGeometry"},
                        {999.0f, "RenderGeometry"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distance);
    VelmarAlphaBlendCache cache;
    auto chunk = MakeChunk(4, {0, 1, 2, 1, 2, 3}, GeometryChunk::kTypeTriangleList);
    display.ClearCalls();
    cache.Add(&drawer, chunk.get(), nullptr, At(0, 0, c.distance));
    cache.Render(display, 0);
    auto draws = Draws(display);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].name, c.drawn);
    EXPECT_TRUE(cache.IsEmpty());
  }
}

// Index sets of the primitives in a sorted buffer, one per primitive.
std::vector<std::vector<double>> Primitives(const Display::Call& draw, unsigned per) {
  std::vector<std::vector<double>> primitives;
  for (std::size_t at = 3; at + per <= draw.args.size(); at += per)
    primitives.emplace_back(draw.args.begin() + long(at), draw.args.begin() + long(at + per));
  return primitives;
}

// Sorted primitives: how many, in which order, with which indices. Vertex i
// sits at x = i; the eye looks from x = -10, so higher indices are farther
// and draw first.
TEST_F(VelmarAlphaBlendCacheTest, PrimitiveSorting) {
  using P = std::vector<std::vector<double>>;
  struct Case {
    const char* name;
    uint32_t bits;
    unsigned vertices;
    std::vector<uint16_t> indices;
    unsigned per;
    P expected;
    int geometryType = Vak::Material::kTriangleList;
  };
  const Case cases[] = {
      // Odd strip primitives swap their first two indices, keeping the winding.
      {"strip_of_6_sorts_4", GeometryChunk::kTypeTriangleStrip, 6, {0, 1, 2, 3, 4, 5}, 3,
       P{{4, 3, 5}, {2, 3, 4}, {2, 1, 3}, {0, 1, 2}}},
      {"fan_keeps_its_first_index", GeometryChunk::kTypeTriangleFan, 5, {0, 1, 2, 3, 4}, 3,
       P{{0, 3, 4}, {0, 2, 3}, {0, 1, 2}}},
      {"triangle_list", GeometryChunk::kTypeTriangleList, 6, {0, 1, 2, 3, 4, 5}, 3, P{{3, 4, 5}, {0, 1, 2}}},
      {"points", GeometryChunk::kTypePoints, 3, {1, 0, 2}, 1, P{{2}, {1}, {0}}},
      {"line_list", GeometryChunk::kTypeLineList, 4, {0, 1, 2, 3}, 2, P{{2, 3}, {0, 1}}},
      {"line_strip", GeometryChunk::kTypeLineStrip, 3, {0, 1, 2}, 2, P{{1, 2}, {0, 1}}},
      // Too few indices for one primitive: nothing to sort, drawn whole.
      {"short_strip", GeometryChunk::kTypeTriangleStrip, 2, {0, 1}, 3, P{}},
      {"short_line_strip", GeometryChunk::kTypeLineStrip, 1, {0}, 2, P{}},
      {"empty_fan", GeometryChunk::kTypeTriangleFan, 1, {}, 3, P{}},
      // The chunk claims 5 primitives (a point list) though 7 indices hold
      // two triangles.
      {"list_claiming_more_than_its_indices", GeometryChunk::kTypeTriangleList, 7, {0, 1, 2, 3, 4, 5, 6}, 3,
       P{{3, 4, 5}, {0, 1, 2}}, Vak::Material::kPointList},
      // Index 9 has no vertex: its triangle's centre comes from 0 and 1.
      {"index_past_the_vertices", GeometryChunk::kTypeTriangleList, 4, {0, 1, 9, 1, 2, 3}, 3,
       P{{1, 2, 3}, {0, 1, 9}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelmarAlphaBlendCache cache;
    auto chunk = MakeChunk(c.vertices, c.indices, c.bits, c.geometryType);
    display.ClearCalls();
    cache.Add(&drawer, chunk.get(), nullptr, At(10, 0, 0));
    cache.Render(display, 0);
    auto draws = Draws(display);
    ASSERT_EQ(draws.size(), 1u);
    if (c.expected.empty()) {
      EXPECT_EQ(draws[0].name, "RenderGeometry");
      continue;
    }
    ASSERT_EQ(draws[0].name, "RenderPrimitives");
    EXPECT_EQ(draws[0].args[1], double(c.expected.size()));  // primitives
    EXPECT_EQ(draws[0].args[2], double(GeometryChunk::PrimitiveTypeForTypeBits(c.bits)));
    EXPECT_EQ(draws[0].args.size(), 3 + c.expected.size() * c.per);
    EXPECT_EQ(Primitives(draws[0], c.per), c.expected);
  }
}

// Across buckets and inside one, the farthest entry draws first; each
// entry with blend factors (4, 5), inside the cache's blend state.
TEST_F(VelmarAlphaBlendCacheTest, DrawsBackToFront) {
  VelmarAlphaBlendCache cache;
  const float distances[] = {20.0f, 900.0f, 400.0f, 21.0f, 5000.0f, 1.0f};
  std::vector<ChunkPtr> chunks;
  for (std::size_t i = 0; i < std::size(distances); ++i) {
    // Vertex count tells the entries apart; the chunks draw whole.
    chunks.push_back(MakeChunk(unsigned(10 + i), {}, GeometryChunk::kTypeTriangleList));
    cache.Add(&drawer, chunks.back().get(), nullptr, At(0, distances[i], 0));
  }
  cache.Render(display, 0);
  std::vector<double> order;
  for (const auto& draw : Draws(display)) order.push_back(draw.args[0]);
  EXPECT_EQ(order, (std::vector<double>{14, 11, 12, 13, 10, 15}));

  using C = Display::Call;
  std::vector<C> expected = {{"SetAlphaTestMode", {0}}, {"SetAlphaBlendMode", {1}}, {"SetDepthWriteMode", {0}}};
  for (double id : order) {
    expected.push_back({"SetAlphaBlendFunction", {4, 5}});
    expected.push_back({"RenderGeometry", {id, 0}});
  }
  for (const C& c : std::vector<C>{{"SetAlphaBlendFunction", {1, 0}},
                                   {"SetAlphaBlendMode", {0}},
                                   {"SetAlphaTestMode", {0}},
                                   {"SetDepthWriteMode", {1}}})
    expected.push_back(c);
  EXPECT_EQ(display.GetCalls(), expected);
  EXPECT_TRUE(cache.IsEmpty());
}

TEST_F(VelmarAlphaBlendCacheTest, BucketSetsPushAndPop) {
  VelmarAlphaBlendCache cache;
  auto outer = MakeChunk(3, {}, GeometryChunk::kTypeTriangleList);
  auto inner = MakeChunk(4, {}, GeometryChunk::kTypeTriangleList);
  cache.Add(&drawer, outer.get(), nullptr, At(0, 0, 500));
  cache.Enter(display, nullptr, false);
  EXPECT_EQ(cache.CurrentSet(), 0u);
  cache.Enter(display, nullptr, true);
  EXPECT_EQ(cache.CurrentSet(), 200u);
  EXPECT_TRUE(cache.IsEmpty());
  cache.Add(&drawer, inner.get(), nullptr, At(0, 0, 500));
  cache.Leave(display, nullptr, true);
  EXPECT_EQ(cache.CurrentSet(), 0u);
  // Leaving drew the inner set only.
  auto draws = Draws(display);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].args[0], 4);
  EXPECT_FALSE(cache.IsEmpty());
  // A second push reuses the set and starts it empty.
  cache.Enter(display, nullptr, true);
  EXPECT_TRUE(cache.IsEmpty());
  cache.Leave(display, nullptr, true);
  display.ClearCalls();
  cache.Render(display, 0);
  draws = Draws(display);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].args[0], 3);
}

TEST_F(VelmarAlphaBlendCacheTest, ResetEmptiesAndDisabledRenderingDrawsNothing) {
  VelmarAlphaBlendCache cache;
  auto chunk = MakeChunk(3, {0, 1, 2}, GeometryChunk::kTypeTriangleList);
  cache.Add(&drawer, chunk.get(), nullptr, At(0, 0, 10));
  Vak::RenderingCache::SetRenderingDisabled(true);
  cache.Render(display, 0);
  EXPECT_TRUE(display.GetCalls().empty());
  EXPECT_FALSE(cache.IsEmpty());
  cache.Reset();
  EXPECT_TRUE(cache.IsEmpty());
}

TEST_F(VelmarAlphaBlendCacheTest, SortRangeDerivesAFifth) {
  VelmarAlphaBlendCache cache;
  EXPECT_EQ(cache.GetSortRangeDerived(), 50);
  cache.SetSortRange(101.0f);
  EXPECT_EQ(cache.GetSortRangeDerived(), 20);
  EXPECT_EQ(cache.GetSortRange(), 101.0f);
}

TEST_F(AlphaBlendCacheUnsortedTest, DrawsInOrderAndRestoresTheBlendFunction) {
  Vak::AlphaBlendCacheUnsorted cache;
  EXPECT_EQ(cache.GetCacheID(), Vak::PString("AlphaBlendCacheUnsorted"));
  auto far = MakeChunk(3, {}, GeometryChunk::kTypeTriangleList);
  auto near = MakeChunk(4, {}, GeometryChunk::kTypeTriangleList);
  cache.Add(&drawer, near.get(), nullptr, At(0, 0, 1));
  cache.Add(&drawer, far.get(), nullptr, At(0, 0, 900));
  display.SetAlphaBlendFunction(2, 3);
  cache.Render(display, 0);
  using C = Display::Call;
  const std::vector<C> expected = {{"SetAlphaBlendFunction", {2, 3}}, {"SetAlphaBlendFunction", {4, 5}},
                                   {"SetAlphaTestMode", {0}},         {"SetAlphaBlendMode", {1}},
                                   {"SetDepthWriteMode", {0}},        {"RenderGeometry", {4, 0}},
                                   {"RenderGeometry", {3, 0}},        {"SetAlphaBlendFunction", {2, 3}},
                                   {"SetAlphaBlendMode", {0}},        {"SetAlphaTestMode", {0}},
                                   {"SetDepthWriteMode", {1}}};
  EXPECT_EQ(display.GetCalls(), expected);
  EXPECT_EQ(cache.Count(), 2u);
  cache.Clear();
  EXPECT_EQ(cache.Count(), 0u);
}

TEST_F(AlphaBlendCacheUnsortedTest, DisabledRenderingKeepsEverything) {
  Vak::AlphaBlendCacheUnsorted cache;
  auto chunk = MakeChunk(3, {}, GeometryChunk::kTypeTriangleList);
  cache.Add(&drawer, chunk.get(), nullptr, At(0, 0, 1));
  Vak::RenderingCache::SetRenderingDisabled(true);
  cache.Render(display, 0);
  cache.Clear();
  EXPECT_TRUE(display.GetCalls().empty());
  EXPECT_EQ(cache.Count(), 1u);
  Vak::RenderingCache::SetRenderingDisabled(false);
  cache.Render(display, 0);
  EXPECT_EQ(Draws(display).size(), 1u);
}

} // namespace
