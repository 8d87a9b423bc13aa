#pragma once
// A reflective material whose gloss gives way to rust as the chunk's
// "RustAge" grows: up to 0.5 the reflection fades, from 0.5 a rust colour
// takes over.
#include "engine/elthrac/Light.h"
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

class TextureStageSetting;

class VelmarGlossRustMaterial : public ReflectiveMaterial {
public:
  static constexpr const char* kTypeName = "tglossrust";

  // Takes references on the caches and the plug-in's stage settings.
  VelmarGlossRustMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend, RenderingCache* mask,
                          RenderingCache* chunks, TextureStageSetting* const* settings, unsigned count);
  ~VelmarGlossRustMaterial() override;

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override;
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks, const LightList* const* lights,
                       const Matrix4* transforms, unsigned count) override;
  float GetGlossStrength() const { return strength_; }
  void SetGlossStrength(float strength) { strength_ = strength; }

private:
  bool OnGlossPath(const GeometryChunk& chunk) const;

  float strength_ = 1.0f;
  TextureStageSetting* settings_[4] = {};
  unsigned count_ = 0;
};

} // namespace Vak
