#pragma once
// The debug-line drawing hook of the 3-D code. Nothing is drawn here: every
// drawing operation does nothing. One static instance serves the process.
#include <cstdint>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/String.h"
#include "engine/kernelx/Vector3.h"

class VLDebugVp {
public:
  static constexpr int kBufferSlots = 16;
  static constexpr int kPrimitiveBlock = 16;
  static constexpr int kLabelStep = 1000;

  // The first instance becomes the hook.
  VLDebugVp();
  // Clears the hook when it is this instance.
  virtual ~VLDebugVp();
  VLDebugVp(const VLDebugVp&) = delete;
  VLDebugVp& operator=(const VLDebugVp&) = delete;

  // The process-wide hook (the static instance).
  static VLDebugVp* Hook();

  virtual bool IsActive() { return true; }
  virtual void Begin() {}
  virtual void End() {}
  virtual void SetTransform(const void*) {}
  virtual void DrawPrimitives(int kind, const Vak::Vector3* vertices, const uint16_t* indices, int vertexCount,
                              int indexCount, uint32_t colour);
  // Kind 0 (lines) with the two points as vertices 0 and 1.
  virtual void DrawLine(const Vak::Vector3& from, const Vak::Vector3& to, uint32_t colour);
  virtual void DrawText(float x, float y, const char* text, uint32_t colour);
  virtual void DrawBox(const Vak::Vector3& low, const Vak::Vector3& high, const void* transform, uint32_t colour);

  bool IsReady() const { return ready_; }
  size_t GetLabelCount() const { return labels_.size(); }
  size_t GetPrimitiveCount() const;

private:
  struct PrimitiveBuffer {
    std::vector<Vak::Vector3> vertices;
    std::vector<uint16_t> indices;
  };
  struct Label {
    Vak::String text;
    float x = 0, y = 0;
    uint32_t colour = 0;
  };

  std::unique_ptr<PrimitiveBuffer> lines_;
  std::unique_ptr<PrimitiveBuffer> triangles_;
  std::vector<Label> labels_;
  // By primitive kind.
  PrimitiveBuffer* buffers_[kBufferSlots] = {};
  bool ready_ = false;
};
