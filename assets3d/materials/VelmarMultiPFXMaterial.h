#pragma once
// A one-texture material with a second texture (slot 12) on stage 1, its
// own vertex layout and two stage settings; drawn in one pass.
#include "engine/elthrac/Light.h"
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

class TextureStageSetting;

class VelmarMultiPFXMaterial : public OneTextureMaterial {
public:
  static constexpr unsigned kSecondSlot = 12;
  static constexpr const char* kTypeName = "tmpfx";
  // The display's identifier of the material's vertex layout.
  static constexpr int kVertexTypeId = 99;

  // Takes references on both settings (either may be null).
  VelmarMultiPFXMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend, RenderingCache* mask,
                         RenderingCache* chunks, TextureStageSetting* stage0, TextureStageSetting* stage1);
  ~VelmarMultiPFXMaterial() override;

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override;
  bool IsLoaded() const override;
  using OneTextureMaterial::SetTexture;
  // The second texture is looked up through the manager.
  int SetTexture(unsigned slot, ResourceDatabase* database, const PString& name, float strength) override;
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderPrimitives(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                        const Matrix4& transform, unsigned first, unsigned count) override;
  const Matrix4& GetMatrix() const { return matrix_; }
  void SetMatrix(const Matrix4& matrix) { matrix_ = matrix; }

private:
  TextureStageSetting* settings_[2];
  Matrix4 matrix_;
  Display* vertexTypeDisplay_ = nullptr;  // where its layout was registered
};

} // namespace Vak
