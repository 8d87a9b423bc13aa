#pragma once
// Ground materials: fixed depth-write and alpha-test settings while drawn.
// The no-alpha form also lights by vertex colour and draws in one pass.
#include "engine/elthrac/Light.h"
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

class TextureStageSetting;

class VelmarGroundBaseMaterial : public OneTextureMaterial {
public:
  static constexpr const char* kTypeName = "groundbase";
  using OneTextureMaterial::OneTextureMaterial;

  bool Equals(const Material& other) const override;
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  bool GetDepthWrite() const { return depthWrite_; }
  void SetDepthWrite(bool on) { depthWrite_ = on; }
  bool GetAlphaTest() const { return alphaTest_; }
  void SetAlphaTest(bool on) { alphaTest_ = on; }

protected:
  void CopyFlagsTo(VelmarGroundBaseMaterial& copy) const;

private:
  bool depthWrite_ = true;
  bool alphaTest_ = false;
  bool savedAlphaTest_ = false;
};

class VelmarOneTexNoAlphaMaterial : public VelmarGroundBaseMaterial {
public:
  static constexpr const char* kTypeName = "tonetexnoalpha";
  // Takes a reference on the plug-in's stage-0 setting (null: none).
  VelmarOneTexNoAlphaMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend,
                              RenderingCache* chunks, TextureStageSetting* setting);
  ~VelmarOneTexNoAlphaMaterial() override;

  Material* Duplicate() const override;
  void CacheAlphaHint(int& hint) override { hint = 0; }
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderPrimitives(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                        const Matrix4& transform, unsigned first, unsigned count) override;

private:
  TextureStageSetting* setting_;
};

// One pass: display state, lighting, world transform, the chunk or a range
// of it with the chunk's own program.
void DrawOnePass(Material& material, Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                 const Matrix4& transform, const unsigned* range);

} // namespace Vak
