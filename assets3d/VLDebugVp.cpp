#include "assets3d/VLDebugVp.h"

#include <atomic>

namespace {

std::atomic<VLDebugVp*> gHook{nullptr};

} // namespace

VLDebugVp::VLDebugVp() : lines_(std::make_unique<PrimitiveBuffer>()), triangles_(std::make_unique<PrimitiveBuffer>()) {
  for (PrimitiveBuffer* buffer : {lines_.get(), triangles_.get()}) {
    buffer->vertices.reserve(kPrimitiveBlock);
    buffer->indices.reserve(kPrimitiveBlock);
  }
  labels_.reserve(kLabelStep);
  for (int kind = 0; kind < kBufferSlots; ++kind) buffers_[kind] = kind == 0 ? lines_.get() : triangles_.get();
  ready_ = true;
  VLDebugVp* none = nullptr;
  gHook.compare_exchange_strong(none, this);
}

VLDebugVp::~VLDebugVp() {
  // A hook left on a destroyed instance would be called after exit.
  VLDebugVp* self = this;
  gHook.compare_exchange_strong(self, nullptr);
}

// Built before the program's entry runs; Hook() keeps this object file linked.
static VLDebugVp gDebugVp;

VLDebugVp* VLDebugVp::Hook() { return gHook.load(); }

void VLDebugVp::DrawPrimitives(int, const Vak::Vector3*, const uint16_t*, int, int, uint32_t) {}

void VLDebugVp::DrawLine(const Vak::Vector3& from, const Vak::Vector3& to, uint32_t colour) {
  const Vak::Vector3 vertices[2] = {from, to};
  static constexpr uint16_t kIndices[2] = {0, 1};
  DrawPrimitives(0, vertices, kIndices, 2, 2, colour);
}

void VLDebugVp::DrawText(float, float, const char*, uint32_t) {}

void VLDebugVp::DrawBox(const Vak::Vector3&, const Vak::Vector3&, const void*, uint32_t) {}

size_t VLDebugVp::GetPrimitiveCount() const {
  return lines_->vertices.size() + lines_->indices.size() + triangles_->vertices.size() + triangles_->indices.size();
}
