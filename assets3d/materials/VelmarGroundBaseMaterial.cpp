#include "assets3d/materials/VelmarGroundBaseMaterial.h"

#include "engine/dorvix/Camera.h"
#include "engine/dorvix/Display.h"

namespace Vak {

void DrawOnePass(Material& material, Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                 const Matrix4& transform, const unsigned* range) {
  material.SetDisplayState(display);
  const Camera* camera = view ? view->GetCamera() : nullptr;
  material.SetLightingState(display, camera ? &camera->GetViewTransform() : nullptr, chunk.GetVertexProgram(0),
                            lights, transform, chunk.GetLightingFactor() * material.GetLightingFactor());
  display.SetWorldTransform(transform);
  if (range)
    chunk.RenderPrimitives(display, view, chunk.GetVertexProgram(0), range[0], range[1]);
  else
    chunk.RenderGeometry(display, view, chunk.GetVertexProgram(0), true, 0);
  material.ClearDisplayState(display);
}

bool VelmarGroundBaseMaterial::Equals(const Material& other) const {
  if (!SameClass(*this, other)) return false;
  const auto& theirs = static_cast<const VelmarGroundBaseMaterial&>(other);
  return depthWrite_ == theirs.depthWrite_ && alphaTest_ == theirs.alphaTest_ && OneTextureMaterial::Equals(other);
}

void VelmarGroundBaseMaterial::SetDisplayState(Display& display) {
  OneTextureMaterial::SetDisplayState(display);
  savedAlphaTest_ = display.GetAlphaTestMode();
  display.SetAlphaTestMode(alphaTest_);
  display.SetDepthWriteMode(depthWrite_);
}

void VelmarGroundBaseMaterial::ClearDisplayState(Display& display) {
  OneTextureMaterial::ClearDisplayState(display);
  display.SetAlphaTestMode(savedAlphaTest_);
  display.SetDepthWriteMode(true);
}

void VelmarGroundBaseMaterial::CopyFlagsTo(VelmarGroundBaseMaterial& copy) const {
  CopyInstanceTo(copy);
  copy.depthWrite_ = depthWrite_;
  copy.alphaTest_ = alphaTest_;
}

VelmarOneTexNoAlphaMaterial::VelmarOneTexNoAlphaMaterial(const PString& type, MaterialManager* manager,
                                                         RenderingCache* blend, RenderingCache* chunks,
                                                         TextureStageSetting* setting)
    : VelmarGroundBaseMaterial(type, manager, blend, nullptr, chunks), setting_(setting) {
  if (setting_) setting_->AddReference();
}

VelmarOneTexNoAlphaMaterial::~VelmarOneTexNoAlphaMaterial() {
  if (setting_) setting_->ReleaseReference();
}

Material* VelmarOneTexNoAlphaMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* same = dynamic_cast<VelmarOneTexNoAlphaMaterial*>(copy)) CopyFlagsTo(*same);
  return copy;
}

GeometryChunk* VelmarOneTexNoAlphaMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize,
                                                                unsigned indices, unsigned faces, int geometryType,
                                                                const StandardChunkHint& hint) {
  // Software-lit geometry asks for colours; everything else is lit by normals.
  const bool colours = hint.flags & StandardChunkHint::kSoftwareLighting;
  GeometryChunk* chunk = Material::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, hint);
  if (!chunk) return nullptr;
  chunk->SetTemplate(colours ? GeometryChunk::kPCT : GeometryChunk::kPNT);
  if (hint.vertexUsage == 1 || (hint.vertexUsage == 2 && !colours)) chunk->SetVertexDataDynamic(0, -2, true);
  chunk->SetVertexDataShared(0, 0, false);
  if (hint.indexUsage == 1) chunk->SetIndexDataDynamic();
  return chunk;
}

void VelmarOneTexNoAlphaMaterial::SetDisplayState(Display& display) {
  VelmarGroundBaseMaterial::SetDisplayState(display);
  display.SetColorMaterialMode(5);
}

void VelmarOneTexNoAlphaMaterial::ClearDisplayState(Display& display) {
  VelmarGroundBaseMaterial::ClearDisplayState(display);
  display.SetColorMaterialMode(0);
}

void VelmarOneTexNoAlphaMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk,
                                              const LightList& lights, const Matrix4& transform) {
  DrawOnePass(*this, display, view, chunk, lights, transform, nullptr);
}

void VelmarOneTexNoAlphaMaterial::RenderPrimitives(Display& display, View* view, GeometryChunk& chunk,
                                                   const LightList& lights, const Matrix4& transform, unsigned first,
                                                   unsigned count) {
  const unsigned range[2] = {first, count};
  DrawOnePass(*this, display, view, chunk, lights, transform, range);
}

} // namespace Vak
