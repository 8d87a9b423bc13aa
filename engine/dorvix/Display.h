#pragma once
// The display geometry is made for. This one draws on no device: what it
// supports is whatever was set (nothing by default), so callers and tests
// decide which paths run. A view draws one scene on a display.
#include <bitset>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/dorvix/Colour.h"
#include "engine/dorvix/TextureStage.h"
#include "engine/dorvix/VertexProgram.h"
#include "engine/kernelx/Matrix4.h"

namespace Vak {

class GeometryChunk;
class Camera;
class SceneElement;
class Texture;

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
  // Each setter records its call; the getters answer what was set last.
  void SetAlphaBlendMode(bool on) { Record("SetAlphaBlendMode", {double(on)}), blend_ = on; }
  bool GetAlphaBlendMode() const { return blend_; }
  void SetAlphaBlendFunction(int source, int destination) {
    Record("SetAlphaBlendFunction", {double(source), double(destination)});
    blendSource_ = source;
    blendDestination_ = destination;
  }
  void GetAlphaBlendFunction(int& source, int& destination) const {
    source = blendSource_;
    destination = blendDestination_;
  }
  void SetAlphaTestMode(bool on) { Record("SetAlphaTestMode", {double(on)}), alphaTest_ = on; }
  bool GetAlphaTestMode() const { return alphaTest_; }
  void SetDepthWriteMode(bool on) { Record("SetDepthWriteMode", {double(on)}); }
  void SetColorMaterialMode(int mode) { Record("SetColorMaterialMode", {double(mode)}); }
  void SetCullMode(int mode) { Record("SetCullMode", {double(mode)}); }
  void SetFogMode(int mode) { Record("SetFogMode", {double(mode)}), fogMode_ = mode; }
  void SetTextureCoordGen(int stage, int mode, int index) {
    Record("SetTextureCoordGen", {double(stage), double(mode), double(index)});
  }
  void SetWorldTransform(const Matrix4& transform) { Record("SetWorldTransform", Flatten(transform)); }
  void SetTextureTransform(int stage, const Matrix4& transform) {
    std::vector<double> args = Flatten(transform);
    args.insert(args.begin(), stage);
    Record("SetTextureTransform", std::move(args));
  }
  void ClearTextureTransform(int stage) { Record("ClearTextureTransform", {double(stage)}); }
  // Binds a texture on a stage (null clears it); the bound one is not counted.
  void SetStageTexture(int stage, Texture* texture) {
    Record(texture ? "SetStageTexture" : "ClearStageTexture", {double(stage)});
    if (stage >= 0 && stage < kMaxStages) stageTextures_[stage] = texture;
  }
  Texture* GetStageTexture(int stage) const { return stage >= 0 && stage < kMaxStages ? stageTextures_[stage] : nullptr; }
  // What a stage shows when nothing else is bound for it.
  void SetDefaultStageTexture(int stage) { Record("SetDefaultStageTexture", {double(stage)}); }
  // A new setting with one reference for the caller; null when the display
  // refuses it (see FailStageSettingAfter).
  TextureStageSetting* CreateTextureStageSetting(int stage, const TextureArgs& colour, const TextureArgs& alpha) {
    std::vector<double> args{double(stage)};
    for (const TextureArgs* set : {&colour, &alpha}) {
      args.insert(args.end(), {double(set->first), double(set->second), double(set->mode), double(set->function)});
      for (const TexArg& arg : set->args) args.insert(args.end(), {double(arg.value), double(arg.source), double(arg.modifier)});
    }
    Record("CreateTextureStageSetting", std::move(args));
    if (settingsBeforeFailure_ == 0) return nullptr;
    if (settingsBeforeFailure_ > 0) --settingsBeforeFailure_;
    ++liveSettings_;
    return new TextureStageSetting(++settingsMade_, stage, colour, alpha);
  }
  void ReleaseTextureStageSetting(TextureStageSetting* setting) {
    if (!setting) return;
    Record("ReleaseTextureStageSetting", {double(setting->Id())});
    --liveSettings_;
    setting->ReleaseReference();
  }
  // The next `count` settings are made, the one after fails (-1: none fails).
  void FailStageSettingAfter(int count) { settingsBeforeFailure_ = count; }
  int LiveStageSettings() const { return liveSettings_; }
  void ApplyTextureStageSetting(const TextureStageSetting& setting) {
    Record("ApplyTextureStageSetting", {double(setting.Id()), double(setting.Stage())});
  }
  void ClearTextureStageSetting(const TextureStageSetting& setting) {
    Record("ClearTextureStageSetting", {double(setting.Id()), double(setting.Stage())});
  }
  void SetStageConstantColor(int stage, const Colour& colour) {
    Record("SetStageConstantColor", {double(stage), colour.r, colour.g, colour.b, colour.a});
  }
  int GetNumTextureStages() const { return textureStages_; }
  void SetNumTextureStages(int stages) { textureStages_ = stages; }
  const Colour& GetGlobalAmbient() const { return globalAmbient_; }
  void SetGlobalAmbient(const Colour& colour) { globalAmbient_ = colour; }
  // Null while the display offers none (see SetProgramManagersOffered).
  VertexProgramManager* GetVertexProgramManager() { return programsOffered_ ? &vertexPrograms_ : nullptr; }
  TextureCombinerManager* GetTextureCombinerManager() { return programsOffered_ ? &combiners_ : nullptr; }
  void SetProgramManagersOffered(bool offered) { programsOffered_ = offered; }
  void RegisterVertexType(int id) { Record("RegisterVertexType", {double(id)}); }

  static std::vector<double> Flatten(const Matrix4& transform) {
    std::vector<double> values;
    for (const auto& row : transform.m) values.insert(values.end(), row, row + 4);
    return values;
  }

private:
  static constexpr int kMaxStages = 8;
  bool blend_ = false;
  int blendSource_ = 0;
  int blendDestination_ = 0;
  bool alphaTest_ = false;
  Texture* stageTextures_[kMaxStages] = {};
  int settingsBeforeFailure_ = -1;
  int liveSettings_ = 0;
  unsigned settingsMade_ = 0;
  int textureStages_ = 1;
  Colour globalAmbient_{0, 0, 0, 1};
  bool programsOffered_ = true;
  VertexProgramManager vertexPrograms_{this};
  TextureCombinerManager combiners_{this};

public:

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
  // The camera it looks through (not owned; null when none).
  Camera* GetCamera() const { return camera_; }
  void SetCamera(Camera* camera) { camera_ = camera; }

private:
  Display* display_;
  SceneElement* scene_ = nullptr;
  Camera* camera_ = nullptr;
};

} // namespace Vak
