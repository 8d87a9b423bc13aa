#include "assets3d/VLDebugVp.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Keeps what DrawLine hands on.
class Recorder : public VLDebugVp {
public:
  void DrawPrimitives(int kind, const Vak::Vector3* vertices, const uint16_t* indices, int vertexCount, int indexCount,
                      uint32_t colour) override {
    calls.push_back({kind, {vertices, vertices + vertexCount}, {indices, indices + indexCount}, colour});
  }
  struct Call {
    int kind;
    std::vector<Vak::Vector3> vertices;
    std::vector<uint16_t> indices;
    uint32_t colour;
  };
  std::vector<Call> calls;
};

TEST(VLDebugVpTest, LineThroughTheHookHasNoEffectAndReturns) {
  VLDebugVp* hook = VLDebugVp::Hook();
  ASSERT_NE(hook, nullptr);
  EXPECT_TRUE(hook->IsReady());
  EXPECT_TRUE(hook->IsActive());
  hook->DrawLine({1, 2, 3}, {4, 5, 6}, 0xFF00FF00u);
  hook->DrawText(1, 2, "label", 0xFFFFFFFFu);
  EXPECT_EQ(hook->GetPrimitiveCount(), 0u);
  EXPECT_EQ(hook->GetLabelCount(), 0u);
}

TEST(VLDebugVpTest, LineIsTwoVerticesOfKindZero) {
  Recorder recorder;
  recorder.DrawLine({1, 2, 3}, {-4, 5, 0.5f}, 0x80FF0000u);
  ASSERT_EQ(recorder.calls.size(), 1u);
  const Recorder::Call& call = recorder.calls[0];
  EXPECT_EQ(call.kind, 0);
  ASSERT_EQ(call.vertices.size(), 2u);
  EXPECT_EQ(call.vertices[0].x, 1);
  EXPECT_EQ(call.vertices[0].z, 3);
  EXPECT_EQ(call.vertices[1].x, -4);
  EXPECT_EQ(call.vertices[1].z, 0.5f);
  EXPECT_EQ(call.indices, (std::vector<uint16_t>{0, 1}));
  EXPECT_EQ(call.colour, 0x80FF0000u);
}

// Another instance neither takes the hook over nor leaves it dangling.
TEST(VLDebugVpTest, HookStaysOnTheStaticInstance) {
  VLDebugVp* hook = VLDebugVp::Hook();
  { Recorder other; }
  EXPECT_EQ(VLDebugVp::Hook(), hook);
  VLDebugVp::Hook()->DrawLine({0, 0, 0}, {1, 1, 1}, 0);
}

} // namespace
