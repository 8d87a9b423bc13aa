#include "assets3d/AlphaBlendCacheUnsorted.h"

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
  CacheBlendState::GetAlphaBlendFunction(display, savedSource_, savedDestination_);
  CacheBlendState::SetAlphaBlendFunction(display, kSourceFactor, kDestinationFactor);
  CacheBlendState::SetAlphaTestMode(display, false);
  CacheBlendState::SetAlphaBlendMode(display, true);
  CacheBlendState::SetDepthWriteMode(display, false);
}

void AlphaBlendCacheUnsorted::EndBlendState(Display& display) {
  CacheBlendState::SetAlphaBlendFunction(display, savedSource_, savedDestination_);
  CacheBlendState::SetAlphaBlendMode(display, false);
  CacheBlendState::SetAlphaTestMode(display, false);
  CacheBlendState::SetDepthWriteMode(display, true);
}

void AlphaBlendCacheUnsorted::Render(Display& display, int) {
  if (IsRenderingDisabled()) return;
  BeginBlendState(display);
  for (std::size_t i = 0; i < drawers_.size(); ++i)
    if (drawers_[i]) drawers_[i]->DrawCached(display, chunks_[i], values_[i], transforms_[i]);
  EndBlendState(display);
}

} // namespace Vak
