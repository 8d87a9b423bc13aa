#include "assets3d/materials/VelmarMultiPFXMaterial.h"

#include "assets3d/materials/VelmarGroundBaseMaterial.h"
#include "engine/dorvix/Display.h"

namespace Vak {

VelmarMultiPFXMaterial::VelmarMultiPFXMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend,
                                               RenderingCache* mask, RenderingCache* chunks,
                                               TextureStageSetting* stage0, TextureStageSetting* stage1)
    : OneTextureMaterial(type, manager, blend, mask, chunks), settings_{stage0, stage1} {
  for (TextureStageSetting* setting : settings_)
    if (setting) setting->AddReference();
}

VelmarMultiPFXMaterial::~VelmarMultiPFXMaterial() {
  for (int i = 1; i >= 0; --i)
    if (settings_[i]) settings_[i]->ReleaseReference();
}

Material* VelmarMultiPFXMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* same = dynamic_cast<VelmarMultiPFXMaterial*>(copy)) {
    CopyInstanceTo(*same);
    same->matrix_ = matrix_;
  }
  return copy;
}

bool VelmarMultiPFXMaterial::Equals(const Material& other) const {
  return SameClass(*this, other) && GetTexture(kSecondSlot) == other.GetTexture(kSecondSlot) &&
         OneTextureMaterial::Equals(other);
}

bool VelmarMultiPFXMaterial::IsLoaded() const {
  const Texture* second = GetTexture(kSecondSlot);
  return second && second->IsLoaded() && Material::IsLoaded();
}

int VelmarMultiPFXMaterial::SetTexture(unsigned slot, ResourceDatabase* database, const PString& name,
                                       float strength) {
  if (slot == kSecondSlot) return SetTextureByName(slot, database, name, strength);
  return OneTextureMaterial::SetTexture(slot, database, name, strength);
}

GeometryChunk* VelmarMultiPFXMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices,
                                                           unsigned faces, int geometryType,
                                                           const StandardChunkHint& hint) {
  GeometryChunk* chunk = Material::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, hint);
  if (!chunk) return nullptr;
  chunk->SetTemplate(GeometryChunk::kPCT);
  if (hint.vertexUsage == 1) chunk->SetVertexDataDynamic(0, -2, true);
  chunk->SetVertexDataShared(0, 0, false);
  if (hint.indexUsage == 1) chunk->SetIndexDataDynamic();
  chunk->SetVertexType(kVertexTypeId, 0);
  return chunk;
}

void VelmarMultiPFXMaterial::SetDisplayState(Display& display) {
  OneTextureMaterial::SetDisplayState(display);
  if (vertexTypeDisplay_ != &display) {
    // Registered once per display it draws on.
    display.RegisterVertexType(kVertexTypeId);
    vertexTypeDisplay_ = &display;
  }
  if (settings_[0] && settings_[1]) {
    display.ApplyTextureStageSetting(*settings_[0]);
    display.ApplyTextureStageSetting(*settings_[1]);
  }
  display.SetStageTexture(1, GetTexture(kSecondSlot));
  display.SetTextureTransform(1, matrix_);
}

void VelmarMultiPFXMaterial::ClearDisplayState(Display& display) {
  for (TextureStageSetting* setting : settings_)
    if (setting) display.ClearTextureStageSetting(*setting);
  display.ClearTextureTransform(1);
  OneTextureMaterial::ClearDisplayState(display);
}

void VelmarMultiPFXMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                         const Matrix4& transform) {
  DrawOnePass(*this, display, view, chunk, lights, transform, nullptr);
}

void VelmarMultiPFXMaterial::RenderPrimitives(Display& display, View* view, GeometryChunk& chunk,
                                              const LightList& lights, const Matrix4& transform, unsigned first,
                                              unsigned count) {
  const unsigned range[2] = {first, count};
  DrawOnePass(*this, display, view, chunk, lights, transform, range);
}

} // namespace Vak
