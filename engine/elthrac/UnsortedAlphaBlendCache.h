#pragma once
// The engine's own cache for blended geometry drawn in submission order.
#include "engine/dorvix/RenderingCache.h"

namespace Vak {

class UnsortedAlphaBlendCache : public RenderingCache {
public:
  explicit UnsortedAlphaBlendCache(int passes) : RenderingCache(PString("UnsortedAlphaBlendCache"), float(passes)) {}
};

} // namespace Vak
