#include "assets3d/materials/VelmarGlossRustMaterial.h"

#include <algorithm>

#include "assets3d/materials/VelmarBumpMaterial.h"
#include "engine/dorvix/Camera.h"
#include "engine/dorvix/Display.h"

namespace Vak {

namespace {

constexpr float kGlossThreshold = 1.0f / 255.0f;

float RustAgeOf(const GeometryChunk& chunk) {
  float x = 0;
  return chunk.GetChunkProperty(VelmarBumpGlossMaterial::RustAge(), x) ? x : 0.0f;
}

} // namespace

VelmarGlossRustMaterial::VelmarGlossRustMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend,
                                                 RenderingCache* mask, RenderingCache* chunks,
                                                 TextureStageSetting* const* settings, unsigned count)
    : ReflectiveMaterial(type, manager, blend, mask, chunks), count_(std::min(count, 4u)) {
  for (unsigned i = 0; i < count_; ++i) {
    settings_[i] = settings[i];
    settings_[i]->AddReference();
  }
}

VelmarGlossRustMaterial::~VelmarGlossRustMaterial() {
  for (unsigned i = count_; i-- > 0;) settings_[i]->ReleaseReference();
}

Material* VelmarGlossRustMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* rust = dynamic_cast<VelmarGlossRustMaterial*>(copy)) {
    CopyInstanceTo(*rust);
    rust->strength_ = strength_;
  }
  return copy;
}

bool VelmarGlossRustMaterial::Equals(const Material& other) const { return ReflectiveMaterial::Equals(other); }

GeometryChunk* VelmarGlossRustMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices,
                                                            unsigned faces, int geometryType,
                                                            const StandardChunkHint& hint) {
  GeometryChunk* chunk = Material::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, hint);
  if (!chunk) return nullptr;
  if (!(chunk->GetFlags() & 0x1000)) chunk->SetVertexDataShared(0, -3, false);
  chunk->AddChunkProperty(VelmarBumpGlossMaterial::RustAge(), 0.0f);
  return chunk;
}

void VelmarGlossRustMaterial::ClearDisplayState(Display& display) {
  display.SetStageTexture(1, nullptr);
  display.SetStageTexture(0, nullptr);
}

bool VelmarGlossRustMaterial::OnGlossPath(const GeometryChunk& chunk) const {
  return (1 - 2 * RustAgeOf(chunk)) * strength_ > kGlossThreshold;
}

void VelmarGlossRustMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                          const Matrix4& transform) {
  Texture* reflection = GetReflectionTexture();
  if (!reflection) return;
  DisplayMaterial look = GetDisplayMaterialProperties();
  const DisplayMaterial saved = look;
  look.ambient = {1, 1, 1, 1};
  const float x = RustAgeOf(chunk);
  if (x > 0.5f) {
    const float scale = 1.5f - x;
    look.specular = {saved.specular.r * scale, saved.specular.g * scale, saved.specular.b * scale, saved.specular.a};
  }
  SetDisplayMaterialProperties(look);

  OneTextureMaterial::SetDisplayState(display);
  if (count_ > 0) display.SetStageTexture(1, reflection);
  const Camera* camera = view ? view->GetCamera() : nullptr;
  const Matrix4* viewTransform = camera ? &camera->GetViewTransform() : nullptr;
  SetLightingState(display, viewTransform, chunk.GetVertexProgram(0), lights, transform,
                   chunk.GetLightingFactor() * GetLightingFactor());
  display.SetWorldTransform(transform);

  const float g = (1 - 2 * x) * strength_;
  if (g > kGlossThreshold) {
    ChangeTexGen(display, chunk.GetVertexProgram(0) == nullptr);
    if (count_ >= 2) {
      display.ApplyTextureStageSetting(*settings_[0]);
      display.ApplyTextureStageSetting(*settings_[1]);
    }
    for (int stage : {0, 1}) display.SetStageConstantColor(stage, {g, g, g, g});
    if (GetFirstFlag() || reflection->GetKind() == 1) {
      if (viewTransform && GetSecondFlag() && reflection->IsLoaded() && reflection->GetKind() == 1) {
        Matrix4 rotation;
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c) rotation.m[r][c] = viewTransform->m[r][c];
        display.SetTextureTransform(1, rotation * GetReflectionMatrix());
      }
    } else {
      SetSphericalTexureCoordinates(display, chunk, transform);
    }
    chunk.RenderGeometry(display, view, chunk.GetVertexProgram(0), true, 0);
    if (GetSecondFlag() || GetFirstFlag()) display.SetTextureCoordGen(1, 0, 2);
    display.ClearTextureTransform(1);
  } else {
    if (count_ >= 4) {
      display.ApplyTextureStageSetting(*settings_[2]);
      display.ApplyTextureStageSetting(*settings_[3]);
    }
    const GatheredLights gathered = GatherLights(display, lights);
    const Colour& d = saved.diffuse;
    const float alpha = std::max(0.0f, 2 * (x - 0.5f));
    const Colour rust{std::clamp(gathered.ambient.r, 0.0f, 1.0f) * d.r, std::clamp(gathered.ambient.g, 0.0f, 1.0f) * d.g,
                      std::clamp(gathered.ambient.b, 0.0f, 1.0f) * d.b, alpha};
    for (int stage : {0, 1}) display.SetStageConstantColor(stage, rust);
    chunk.RenderGeometry(display, view, chunk.GetVertexProgram(0), true, 0);
  }
  ClearDisplayState(display);
  SetDisplayMaterialProperties(saved);
}

void VelmarGlossRustMaterial::RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                                              const LightList* const* lights, const Matrix4* transforms,
                                              unsigned count) {
  for (bool gloss : {true, false})
    for (unsigned i = 0; i < count; ++i)
      if (OnGlossPath(*chunks[i]) == gloss) RenderChunk(display, view, *chunks[i], *lights[i], transforms[i]);
}

} // namespace Vak
