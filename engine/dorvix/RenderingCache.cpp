#include "engine/dorvix/RenderingCache.h"

#include <algorithm>

namespace Vak {

RenderingCacheManager::~RenderingCacheManager() {
  for (RenderingCache* cache : caches_) cache->ReleaseReference();
}

void RenderingCacheManager::Add(RenderingCache* cache) {
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

} // namespace Vak
