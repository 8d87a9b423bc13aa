#pragma once
// The engine's own cache for blended geometry drawn in submission order.
#include "engine/dorvix/RenderingCache.h"

namespace Vak {

class UnsortedAlphaBlendCache : public RenderingCache {
public:
  explicit UnsortedAlphaBlendCache(int passes) : passes_(passes) {}
  const char* Kind() const override { return "UnsortedAlphaBlendCache"; }
  int Passes() const { return passes_; }

private:
  int passes_;
};

} // namespace Vak
