#include <gtest/gtest.h>

#include <vector>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/RenderingCache.h"

namespace {

TEST(RenderingCacheManager, FindsCachesByIdentifier) {
  Vak::RenderingCacheManager manager;
  auto* blend = new Vak::AlphaBlendCache(1);
  auto* mask = new Vak::AlphaMaskCache(1);
  auto* chunks = new Vak::MaterialChunkCache(1);
  auto* secondBlend = new Vak::AlphaBlendCache(1);
  const std::vector<Vak::RenderingCache*> all = {blend, mask, chunks, secondBlend};
  for (Vak::RenderingCache* cache : all)
    manager.AddCache(cache);
  manager.AddCache(blend);  // held already
  EXPECT_EQ(manager.Count(), 4u);
  EXPECT_EQ(blend->ReferenceCountValue(), 2);

  struct Case {
    Vak::PString id;
    Vak::RenderingCache* found;
  };
  const Case cases[] = {{Vak::AlphaBlendCache::AlphaBlendCacheID(), blend},
                        {Vak::AlphaMaskCache::AlphaMaskCacheID(), mask},
                        {Vak::MaterialChunkCache::MaterialChunkCacheID(), chunks},
                        {Vak::PString("NoSuchCache"), nullptr},
                        {Vak::PString(), nullptr}};
  for (const Case& c : cases) EXPECT_EQ(manager.FindCache(c.id), c.found) << c.id.c_str();

  EXPECT_TRUE(manager.Remove(blend));
  EXPECT_EQ(manager.FindCache(Vak::AlphaBlendCache::AlphaBlendCacheID()), secondBlend);
  for (Vak::RenderingCache* cache : all)
    cache->ReleaseReference();
}

TEST(GeometryChunkTypeBits, PrimitiveTypes) {
  struct Case {
    uint32_t bits;
    int type;
  };
  const Case cases[] = {{Vak::GeometryChunk::kTypeTriangleList, 0}, {Vak::GeometryChunk::kTypeTriangleStrip, 1},
                        {Vak::GeometryChunk::kTypeTriangleFan, 2},  {Vak::GeometryChunk::kTypePoints, 3},
                        {Vak::GeometryChunk::kTypeLineList, 4},     {Vak::GeometryChunk::kTypeLineStrip, 5},
                        {3, -1},                                    {12, -1}};
  for (const Case& c : cases) EXPECT_EQ(Vak::GeometryChunk::PrimitiveTypeForTypeBits(c.bits), c.type) << c.bits;
}

// The drawer the stand-in gives draws the chunk as it is.
TEST(AlphaBlendDrawer, DrawsAreRecorded) {
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  auto* chunk = new Vak::GeometryChunk(type, 5, 0, 6, 0, 0, Vak::StandardChunkHint());
  Vak::Display display;
  Vak::AlphaBlendDrawer drawer;
  const uint16_t indices[] = {2, 1, 0};
  drawer.DrawCached(display, chunk, nullptr, Vak::Matrix4());
  drawer.DrawCachedPrimitives(display, chunk, nullptr, Vak::Matrix4(), indices, 3, 1, 0);
  drawer.DrawCached(display, nullptr, nullptr, Vak::Matrix4());
  const std::vector<Vak::Display::Call> expected = {{"RenderGeometry", {5, 6}},
                                                    {"RenderPrimitives", {5, 1, 0, 2, 1, 0}}};
  EXPECT_EQ(display.GetCalls(), expected);
  chunk->ReleaseReference();
}

} // namespace
