#pragma once
// Rendering caches (sorting and batching stages the kernel draws through)
// and the manager that holds them.
#include <cstddef>
#include <vector>

#include "Vak/plugins/ReferenceCount.h"

namespace Vak {

class RenderingCache : public ReferenceCount {
public:
  virtual const char* Kind() const = 0;
};

class RenderingCacheManager {
public:
  RenderingCacheManager() = default;
  RenderingCacheManager(const RenderingCacheManager&) = delete;
  RenderingCacheManager& operator=(const RenderingCacheManager&) = delete;
  // Drops its references.
  ~RenderingCacheManager();

  // Takes a reference of its own; nothing for null or a cache held already.
  void Add(RenderingCache* cache);
  bool Remove(RenderingCache* cache);
  std::size_t Count() const { return caches_.size(); }
  RenderingCache* At(std::size_t index) const { return caches_[index]; }

private:
  std::vector<RenderingCache*> caches_;
};

} // namespace Vak
