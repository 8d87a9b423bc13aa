#include "engine/dorvix/RenderingCache.h"

#include <algorithm>
#include <atomic>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/GeometryChunk.h"

namespace Vak {

namespace {
std::atomic<bool> gRenderingDisabled{false};
} // namespace

void AlphaBlendDrawer::DrawCached(Display& display, GeometryChunk* chunk, void*, const Matrix4&) {
  if (chunk) display.RenderGeometry(*chunk);
}

void AlphaBlendDrawer::DrawCachedPrimitives(Display& display, GeometryChunk* chunk, void*, const Matrix4&,
                                            const uint16_t* indices, unsigned indexCount, unsigned primitiveCount,
                                            int primitiveType) {
  if (chunk) display.RenderPrimitives(*chunk, indices, indexCount, primitiveCount, primitiveType);
}

bool RenderingCache::IsRenderingDisabled() { return gRenderingDisabled.load(std::memory_order_relaxed); }
void RenderingCache::SetRenderingDisabled(bool disabled) { gRenderingDisabled.store(disabled); }

const PString& AlphaBlendCache::AlphaBlendCacheID() {
  static const PString id("AlphaBlendCache");
  return id;
}

const PString& AlphaMaskCache::AlphaMaskCacheID() {
  static const PString id("AlphaMaskCache");
  return id;
}

const PString& MaterialChunkCache::MaterialChunkCacheID() {
  static const PString id("MaterialChunkCache");
  return id;
}

RenderingCacheManager::~RenderingCacheManager() {
  for (RenderingCache* cache : caches_) cache->ReleaseReference();
}

void RenderingCacheManager::AddCache(RenderingCache* cache) {
  if (!cache || std::find(caches_.begin(), caches_.end(), cache) != caches_.end()) return;
  cache->AddReference();
  caches_.push_back(cache);
}

bool RenderingCacheManager::Remove(RenderingCache* cache) {
  auto it = std::find(caches_.begin(), caches_.end(), cache);
  if (it == caches_.end()) return false;
  caches_.erase(it);
  cache->ReleaseReference();
  return true;
}

RenderingCache* RenderingCacheManager::FindCache(const PString& id) const {
  for (RenderingCache* cache : caches_)
    if (cache->GetCacheID() == id) return cache;
  return nullptr;
}

} // namespace Vak
