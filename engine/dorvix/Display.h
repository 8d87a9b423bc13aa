#pragma once
// The display geometry is made for. This one draws on no device: what it
// supports is whatever was set (nothing by default), so callers and tests
// decide which paths run. A view draws one scene on a display.
#include <bitset>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Vak {

class GeometryChunk;
class SceneElement;

class Display {
public:
  static constexpr int kCapabilities = 64;

  // What was asked of the display, in order: tests read it back.
  struct Call {
    std::string name;
    std::vector<double> args;
    bool operator==(const Call&) const = default;
  };
  void Record(std::string name, std::vector<double> args = {}) { calls_.push_back({std::move(name), std::move(args)}); }
  const std::vector<Call>& GetCalls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  // States.

  // Draws.
  // A chunk with its own indices: (vertex count, index count).
  void RenderGeometry(const GeometryChunk& chunk);
  // `primitives` primitives of `type` from the indices given: (vertex
  // count, primitives, type, the indices).
  void RenderPrimitives(const GeometryChunk& chunk, const uint16_t* indices, unsigned count, unsigned primitives,
                        int type);

  float FogDensity() const { return fogDensity_; }
  int FogMode() const { return fogMode_; }
  void SetFog(float density, int mode) {
    fogDensity_ = density;
    fogMode_ = mode;
  }

  // Codes outside 0..kCapabilities-1 are never supported.
  bool SupportsCapability(int capability) const {
    return capability >= 0 && capability < kCapabilities && capabilities_.test(capability);
  }
  void SetCapability(int capability, bool supported) {
    if (capability >= 0 && capability < kCapabilities) capabilities_.set(capability, supported);
  }

  // Stored colours are 0xAARRGGBB; vertex items hold the display's order,
  // 0xAABBGGRR (red first in memory). Converts in place.
  void ConvertColorArray(uint32_t* colours, unsigned count) const;
  static uint32_t ConvertColor(uint32_t argb) {
    return (argb & 0xFF00FF00u) | (argb >> 16 & 0xFFu) | (argb & 0xFFu) << 16;
  }

  // The vertex colour in the display's order that geometry starts with.
  uint32_t GetDefaultColour() const { return defaultColour_; }
  void SetDefaultColour(uint32_t colour) { defaultColour_ = colour; }

private:
  float fogDensity_ = 0.0f;
  int fogMode_ = 0;
  std::bitset<kCapabilities> capabilities_;
  uint32_t defaultColour_ = 0xFFFFFFFFu;
  std::vector<Call> calls_;
};

class View {
public:
  explicit View(Display* display) : display_(display) {}
  Display* GetDisplay() const { return display_; }
  SceneElement* GetScene() const { return scene_; }
  void SetScene(SceneElement* scene) { scene_ = scene; }

private:
  Display* display_;
  SceneElement* scene_ = nullptr;
};

} // namespace Vak
