#include "assets3d/AlphaBlendCacheUnsorted.h"

#include "engine/dorvix/Display.h"

namespace Vak {

const PString& AlphaBlendCacheUnsorted::CacheID() {
  static const PString id("AlphaBlendCacheUnsorted");
  return id;
}

AlphaBlendCacheUnsorted::AlphaBlendCacheUnsorted() : RenderingCache(CacheID(), 55.0f) {}

void AlphaBlendCacheUnsorted::Reset() {
  drawers_.clear();
  chunks_.clear();
  values_.clear();
  transforms_.clear();
}

void AlphaBlendCacheUnsorted::Clear() {
  if (!IsRenderingDisabled()) Reset();
}

void AlphaBlendCacheUnsorted::Add(AlphaBlendDrawer* drawer, GeometryChunk* chunk, void* value,
                                  const Matrix4& transform) {
  drawers_.push_back(drawer);
  chunks_.push_back(chunk);
  values_.push_back(value);
  transforms_.push_back(transform);
}

void AlphaBlendCacheUnsorted::BeginBlendState(Display& display) {
  display.GetAlphaBlendFunction(savedSource_, savedDestination_);
  display.SetAlphaBlendFunction(kSourceFactor, kDestinationFactor);
  display.SetAlphaTestMode(false);
  display.SetAlphaBlendMode(true);
  display.SetDepthWriteMode(false);
}

void AlphaBlendCacheUnsorted::EndBlendState(Display& display) {
  display.SetAlphaBlendFunction(savedSource_, savedDestination_);
  display.SetAlphaBlendMode(false);
  display.SetAlphaTestMode(false);
  display.SetDepthWriteMode(true);
}

void AlphaBlendCacheUnsorted::Render(Display& display, int) {
  if (IsRenderingDisabled()) return;
  BeginBlendState(display);
  for (std::size_t i = 0; i < drawers_.size(); ++i)
    if (drawers_[i]) drawers_[i]->DrawCached(display, chunks_[i], values_[i], transforms_[i]);
  EndBlendState(display);
}

} // namespace Vak
