#pragma once
// The three shared caches material plug-ins gather from the kernel, as
// small as the plug-ins need them: found in the cache manager by identifier,
// else made and added.
#include <cstring>

#include "engine/dorvix/RenderingCache.h"

namespace Vak {

class AlphaBlendCache : public RenderingCache {
public:
  static constexpr const char* AlphaBlendCacheID = "AlphaBlendCache";
  explicit AlphaBlendCache(int passes) : passes_(passes) {}
  const char* Kind() const override { return AlphaBlendCacheID; }
  int Passes() const { return passes_; }

private:
  int passes_;
};

class AlphaMaskCache : public RenderingCache {
public:
  static constexpr const char* AlphaMaskCacheID = "AlphaMaskCache";
  explicit AlphaMaskCache(int passes) : passes_(passes) {}
  const char* Kind() const override { return AlphaMaskCacheID; }
  int Passes() const { return passes_; }

private:
  int passes_;
};

class MaterialChunkCache : public RenderingCache {
public:
  static constexpr const char* MaterialChunkCacheID = "MaterialChunkCache";
  explicit MaterialChunkCache(int passes) : passes_(passes) {}
  const char* Kind() const override { return MaterialChunkCacheID; }
  int Passes() const { return passes_; }

private:
  int passes_;
};

// The first cache of an identifier the manager holds (not counted), or null.
inline RenderingCache* FindCacheOfKind(const RenderingCacheManager& manager, const char* id) {
  for (std::size_t i = 0; i < manager.Count(); ++i)
    if (std::strcmp(manager.At(i)->Kind(), id) == 0) return manager.At(i);
  return nullptr;
}

} // namespace Vak
