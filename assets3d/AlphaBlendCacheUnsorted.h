#pragma once
// Blended geometry drawn in the order it came.
#include <vector>

#include "engine/dorvix/RenderingCache.h"

namespace Vak {

class AlphaBlendCacheUnsorted : public RenderingCache {
public:
  static const PString& CacheID();
  static constexpr int kSourceFactor = 4;
  static constexpr int kDestinationFactor = 5;

  AlphaBlendCacheUnsorted();

  void Reset() override;
  // Nothing while rendering is disabled: what was added waits.
  void Clear() override;
  void Render(Display& display, int pass) override;

  void Add(AlphaBlendDrawer* drawer, GeometryChunk* chunk, void* value, const Matrix4& transform);
  std::size_t Count() const { return drawers_.size(); }
  void BeginBlendState(Display& display);
  void EndBlendState(Display& display);

private:
  std::vector<AlphaBlendDrawer*> drawers_;
  std::vector<GeometryChunk*> chunks_;
  std::vector<void*> values_;
  std::vector<Matrix4> transforms_;
  int savedSource_ = 0;
  int savedDestination_ = 0;
};

} // namespace Vak
