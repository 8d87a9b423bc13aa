#include "assets3d/materials/VelmarBumpMaterial.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <typeinfo>

#include "engine/dorvix/Camera.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/dorvix/VertexProgram.h"

namespace Vak {

namespace {

constexpr float kSpecularAlpha = 0.75f;
constexpr float kGlossThreshold = 1.0f / 255.0f;

Colour Times(const Colour& a, const Colour& b, float alpha) { return {a.r * b.r, a.g * b.g, a.b * b.b, alpha}; }
float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }
float Brightness(const Light& light) { return light.diffuse.r + light.diffuse.g + light.diffuse.b; }

// The camera's view transform, identity without a camera.
Matrix4 ViewTransform(const View& view) { return view.GetCamera() ? view.GetCamera()->GetViewTransform() : Matrix4(); }

// Object space of a chunk drawn with `transform`, and the camera in it.
struct ObjectSpace {
  Matrix4 inverse;
  Vector3 camera;
};
ObjectSpace ObjectSpaceOf(const View& view, const Matrix4& transform) {
  ObjectSpace space;
  space.inverse = transform;
  space.inverse.Invert();
  Matrix4 cameraToWorld = ViewTransform(view);
  cameraToWorld.Invert();
  space.camera = (space.inverse * cameraToWorld).TransformPoint({0, 0, 0});
  return space;
}

Vector3 Normalised(const Vector3& v) {
  const float length = std::sqrt(v.Dot(v));
  return length > 0 ? v * (1.0f / length) : v;
}

void Constant(VertexProgram* program, int index, const Vector3& v, float w = 0) {
  VertexProgram::SetLocalConstant(program, index, v.x, v.y, v.z, w);
}

void Acquire(const BumpPrograms& programs) {
  for (ReferenceCount* p : {static_cast<ReferenceCount*>(programs.parallelVertex),
                            static_cast<ReferenceCount*>(programs.parallelPixel),
                            static_cast<ReferenceCount*>(programs.spotVertex),
                            static_cast<ReferenceCount*>(programs.spotPixel)})
    if (p) p->AddReference();
}

void Release(BumpPrograms& programs) {
  for (ReferenceCount* p : {static_cast<ReferenceCount*>(programs.spotPixel),
                            static_cast<ReferenceCount*>(programs.spotVertex),
                            static_cast<ReferenceCount*>(programs.parallelPixel),
                            static_cast<ReferenceCount*>(programs.parallelVertex)})
    if (p) p->ReleaseReference();
  programs = {};
}

float RustAgeOf(const GeometryChunk& chunk) {
  float x = 0;
  return chunk.GetChunkProperty(VelmarBumpGlossMaterial::RustAge(), x) ? x : 0.0f;
}

} // namespace

GatheredLights GatherLights(const Display& display, const LightList& lights) {
  GatheredLights gathered;
  gathered.ambient = display.GetGlobalAmbient();
  for (const Light* light : lights) {
    if (!light) continue;
    if (light->kind == Light::kAmbient || light->kind == Light::kParallel) {
      gathered.ambient.r += light->ambient.r;
      gathered.ambient.g += light->ambient.g;
      gathered.ambient.b += light->ambient.b;
      gathered.ambient.a += light->ambient.a;
    }
    const Light** main = light->kind == Light::kParallel ? &gathered.parallel
                         : light->kind == Light::kSpot   ? &gathered.spot
                                                         : nullptr;
    if (main && (!*main || Brightness(*light) > Brightness(**main))) *main = light;
  }
  return gathered;
}

// ------------------------------------------------------------------ bump

VelmarBumpMaterial::VelmarBumpMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel,
                                       RenderingCache* blend, RenderingCache* mask, RenderingCache* chunks,
                                       const BumpPrograms& programs)
    : OneTextureMaterial(type, manager, blend, mask, chunks), programs_(programs) {
  Acquire(programs_);
  if (kernel) {
    Texture* shared = kernel->GetSharedTextureCollection().Get(0);
    BindTexture(kBumpSlot, shared);
    if (shared) shared->ReleaseReference();
  }
}

VelmarBumpMaterial::~VelmarBumpMaterial() { Release(programs_); }

void VelmarBumpMaterial::CopyTo(VelmarBumpMaterial& copy) const { CopyInstanceTo(copy); }

Material* VelmarBumpMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* bump = dynamic_cast<VelmarBumpMaterial*>(copy)) CopyTo(*bump);
  return copy;
}

bool VelmarBumpMaterial::Equals(const Material& other) const {
  return SameClass(*this, other) && GetTexture(kBumpSlot) == other.GetTexture(kBumpSlot) &&
         OneTextureMaterial::Equals(other);
}

int VelmarBumpMaterial::SetTexture(unsigned slot, ResourceDatabase* database, const PString& name, float strength) {
  // Slot 9 is the derived forms' gloss or environment map.
  const bool own = slot == kBumpSlot || (slot == 9 && typeid(*this) != typeid(VelmarBumpMaterial));
  if (own) return SetTextureByName(slot, database, name, strength);
  return OneTextureMaterial::SetTexture(slot, database, name, strength);
}

bool VelmarBumpMaterial::SlotLoaded(unsigned slot) const {
  const Texture* texture = GetTexture(slot);
  return texture && texture->IsLoaded();
}

bool VelmarBumpMaterial::IsLoaded() const { return SlotLoaded(kBumpSlot) && Material::IsLoaded(); }

GeometryChunk* VelmarBumpMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices,
                                                       unsigned faces, int geometryType,
                                                       const StandardChunkHint& hint) {
  // The chunk carries a tangent for the bump map; usage 1 asks for dynamic
  // vertex data, index usage 1 for dynamic indices.
  StandardChunkHint bumpHint = hint;
  bumpHint.tangents = true;
  bumpHint.flags = MakeGeometryChunkFlags(hint);
  GeometryChunk* chunk = Material::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, bumpHint);
  if (!chunk) return nullptr;
  chunk->SetTemplate(GeometryChunk::kPNTA);
  chunk->SetVertexDataDynamic(0, -2, true);
  chunk->SetVertexDataShared(0, 0, false);
  if (hint.indexUsage == 1) chunk->SetIndexDataDynamic();
  return chunk;
}

void VelmarBumpMaterial::SetDisplayState(Display& display) {
  OneTextureMaterial::SetDisplayState(display);
  display.SetStageTexture(1, GetTexture(kBumpSlot));
}

void VelmarBumpMaterial::ClearDisplayState(Display& display) {
  display.SetStageTexture(1, nullptr);
  OneTextureMaterial::ClearDisplayState(display);
}

void VelmarBumpMaterial::SetParallelConstants(Display& display, const View& view, const GatheredLights& gathered,
                                              const Matrix4& transform, int specularRegister, bool keepSpecular) {
  const DisplayMaterial& look = GetDisplayMaterialProperties();
  VertexProgram* vertex = programs_.parallelVertex;
  TextureCombiner* pixel = programs_.parallelPixel;
  if (const Light* light = gathered.parallel) {
    const ObjectSpace space = ObjectSpaceOf(view, transform);
    Constant(vertex, 7, Normalised(space.inverse.TransformDirection(light->direction)));
    TextureCombiner::SetConstantRegister(pixel, 0, Times(light->diffuse, look.diffuse, look.diffuse.a));
    Constant(vertex, 13, space.camera);
    TextureCombiner::SetConstantRegister(pixel, specularRegister,
                                         Times(light->specular, look.specular, kSpecularAlpha));
  } else {
    Constant(vertex, 7, {0, 0, 0});
    TextureCombiner::SetConstantRegister(pixel, 0, {0, 0, 0, 1});
    Constant(vertex, 13, {0, 0, 0});
    if (!keepSpecular) TextureCombiner::SetConstantRegister(pixel, specularRegister, {0, 0, 0, 1});
  }
  const Colour& sum = gathered.ambient;
  TextureCombiner::SetConstantRegister(pixel, 1,
                                       {Clamp01(look.ambient.r * sum.r + look.emissive.r),
                                        Clamp01(look.ambient.g * sum.g + look.emissive.g),
                                        Clamp01(look.ambient.b * sum.b + look.emissive.b), 1});
  display.SetWorldTransform(transform);
}

void VelmarBumpMaterial::SetSpotConstants(const View& view, const Light& spot, const Matrix4& transform,
                                          int specularRegister) {
  const DisplayMaterial& look = GetDisplayMaterialProperties();
  VertexProgram* vertex = programs_.spotVertex;
  TextureCombiner* pixel = programs_.spotPixel;
  const ObjectSpace space = ObjectSpaceOf(view, transform);
  Constant(vertex, 7, Normalised(space.inverse.TransformDirection(spot.direction)));
  Constant(vertex, 13, space.camera);
  Constant(vertex, 5, space.inverse.TransformPoint(spot.position));
  const float cosine = std::cos(spot.spotAngle * std::numbers::pi_v<float> / 180.0f);
  Constant(vertex, 6, {cosine, spot.radius != 0 ? 1.0f / spot.radius : 0.0f, 0});
  TextureCombiner::SetConstantRegister(pixel, 0, Times(spot.diffuse, look.diffuse, look.diffuse.a));
  TextureCombiner::SetConstantRegister(pixel, 1, {0, 0, 0, 1});
  TextureCombiner::SetConstantRegister(pixel, specularRegister, Times(spot.specular, look.specular, kSpecularAlpha));
}

void VelmarBumpMaterial::DrawPass(Display& display, View* view, GeometryChunk& chunk, VertexProgram* program,
                                  TextureCombiner* combiner, const Range& range) {
  if (combiner) combiner->Begin();
  if (range.whole)
    chunk.RenderGeometry(display, view, program, true, 0);
  else
    chunk.RenderPrimitives(display, view, program, range.first, range.count);
  if (combiner) combiner->End();
}

void VelmarBumpMaterial::SpotPass(Display& display, View* view, GeometryChunk& chunk, const Light& spot,
                                  const Matrix4& transform, int source, int destination, const Range& range) {
  const bool blending = display.GetAlphaBlendMode();
  int savedSource = 0, savedDestination = 0;
  display.GetAlphaBlendFunction(savedSource, savedDestination);
  display.SetAlphaBlendMode(true);
  display.SetAlphaBlendFunction(source, destination);
  SetSpotConstants(*view, spot, transform, 2);
  DrawPass(display, view, chunk, programs_.spotVertex, programs_.spotPixel, range);
  display.SetAlphaBlendMode(blending);
  display.SetAlphaBlendFunction(savedSource, savedDestination);
}

void VelmarBumpMaterial::RenderRange(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                     const Matrix4& transform, const Range& range) {
  if (!view) return;
  const GatheredLights gathered = GatherLights(display, lights);
  SetDisplayState(display);
  SetParallelConstants(display, *view, gathered, transform, 2, false);
  DrawPass(display, view, chunk, programs_.parallelVertex, programs_.parallelPixel, range);
  if (gathered.spot) SpotPass(display, view, chunk, *gathered.spot, transform, 4, 1, range);
  ClearDisplayState(display);
}

void VelmarBumpMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                     const Matrix4& transform) {
  RenderRange(display, view, chunk, lights, transform, Range{});
}

void VelmarBumpMaterial::RenderPrimitives(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                          const Matrix4& transform, unsigned first, unsigned count) {
  RenderRange(display, view, chunk, lights, transform, Range{false, first, count});
}

void VelmarBumpMaterial::RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                                         const LightList* const* lights, const Matrix4* transforms, unsigned count) {
  if (!view || count == 0) return;
  SetDisplayState(display);
  // Every parallel pass first, then the spot passes blended over them.
  for (unsigned i = 0; i < count; ++i) {
    SetParallelConstants(display, *view, GatherLights(display, *lights[i]), transforms[i], 2, false);
    DrawPass(display, view, *chunks[i], programs_.parallelVertex, programs_.parallelPixel, Range{});
  }
  for (unsigned i = 0; i < count; ++i)
    if (const Light* spot = GatherLights(display, *lights[i]).spot)
      SpotPass(display, view, *chunks[i], *spot, transforms[i], 4, 1, Range{});
  ClearDisplayState(display);
}

// ----------------------------------------------------------- environment

VelmarBumpEnvMaterial::VelmarBumpEnvMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel,
                                             RenderingCache* blend, RenderingCache* mask, RenderingCache* chunks,
                                             const BumpPrograms& programs)
    : VelmarBumpMaterial(type, manager, kernel, blend, mask, chunks, programs) {
  matrix_.m[1][1] = 0, matrix_.m[1][2] = 1;
  matrix_.m[2][1] = -1, matrix_.m[2][2] = 0;
  if (kernel) {
    Texture* shared = kernel->GetSharedTextureCollection().Get(0);
    BindTexture(kEnvironmentSlot, shared);
    if (shared) shared->ReleaseReference();
  }
}

Material* VelmarBumpEnvMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* env = dynamic_cast<VelmarBumpEnvMaterial*>(copy)) {
    CopyTo(*env);
    env->strength_ = strength_;
    env->matrix_ = matrix_;
  }
  return copy;
}

bool VelmarBumpEnvMaterial::Equals(const Material& other) const {
  if (!SameClass(*this, other)) return false;
  const auto& theirs = static_cast<const VelmarBumpEnvMaterial&>(other);
  return GetTexture(kEnvironmentSlot) == theirs.GetTexture(kEnvironmentSlot) && strength_ == theirs.strength_ &&
         VelmarBumpMaterial::Equals(other);
}

bool VelmarBumpEnvMaterial::IsLoaded() const { return SlotLoaded(kEnvironmentSlot) && VelmarBumpMaterial::IsLoaded(); }

int VelmarBumpEnvMaterial::SetTexture(unsigned slot, Texture* texture, float strength) {
  const int result = Material::SetTexture(slot, texture, strength);
  if (result == kResultOk && slot == kEnvironmentSlot) strength_ = strength;
  return result;
}

GeometryChunk* VelmarBumpEnvMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices,
                                                          unsigned faces, int geometryType,
                                                          const StandardChunkHint& hint) {
  GeometryChunk* chunk =
      VelmarBumpMaterial::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, hint);
  if (chunk && !(chunk->GetFlags() & 0x1000)) chunk->SetVertexDataShared(0, -3, false);
  return chunk;
}

void VelmarBumpEnvMaterial::ClearDisplayState(Display& display) {
  display.SetStageTexture(3, nullptr);
  VelmarBumpMaterial::ClearDisplayState(display);
}

Matrix4 VelmarBumpEnvMaterial::EnvironmentTransform(const Matrix4& viewTransform, const Matrix4& environment) {
  Matrix4 rotation;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rotation.m[r][c] = viewTransform.m[c][r];
  return rotation * environment;
}

void VelmarBumpEnvMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                        const Matrix4& transform) {
  if (!view) return;
  const GatheredLights gathered = GatherLights(display, lights);
  SetDisplayState(display);
  display.SetDefaultStageTexture(3);
  if (GetTexture(kEnvironmentSlot))
    display.SetTextureTransform(1, EnvironmentTransform(ViewTransform(*view), matrix_));
  SetParallelConstants(display, *view, gathered, transform, 2, true);
  DrawPass(display, view, chunk, programs_.parallelVertex, programs_.parallelPixel, Range{});
  if (gathered.spot) SpotPass(display, view, chunk, *gathered.spot, transform, 4, 1, Range{});
  ClearDisplayState(display);
}

void VelmarBumpEnvMaterial::RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                                            const LightList* const* lights, const Matrix4* transforms,
                                            unsigned count) {
  for (unsigned i = 0; i < count; ++i) RenderChunk(display, view, *chunks[i], *lights[i], transforms[i]);
}

// ----------------------------------------------------------------- gloss

const PString& VelmarBumpGlossMaterial::RustAge() {
  static const PString name("RustAge");
  return name;
}

VelmarBumpGlossMaterial::VelmarBumpGlossMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel,
                                                 RenderingCache* blend, RenderingCache* mask, RenderingCache* chunks,
                                                 const BumpPrograms& programs, const BumpPrograms& rust)
    : VelmarBumpMaterial(type, manager, kernel, blend, mask, chunks, programs), rust_(rust) {
  Acquire(rust_);
  if (kernel) {
    Texture* shared = kernel->GetSharedTextureCollection().Get(0);
    BindTexture(kGlossSlot, shared);
    if (shared) shared->ReleaseReference();
  }
}

VelmarBumpGlossMaterial::~VelmarBumpGlossMaterial() { Release(rust_); }

Material* VelmarBumpGlossMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* gloss = dynamic_cast<VelmarBumpGlossMaterial*>(copy)) {
    CopyTo(*gloss);
    gloss->strength_ = strength_;
  }
  return copy;
}

bool VelmarBumpGlossMaterial::Equals(const Material& other) const {
  if (!SameClass(*this, other)) return false;
  const auto& theirs = static_cast<const VelmarBumpGlossMaterial&>(other);
  return GetTexture(kGlossSlot) == theirs.GetTexture(kGlossSlot) && strength_ == theirs.strength_ &&
         VelmarBumpMaterial::Equals(other);
}

bool VelmarBumpGlossMaterial::IsLoaded() const { return SlotLoaded(kGlossSlot) && VelmarBumpMaterial::IsLoaded(); }

int VelmarBumpGlossMaterial::SetTexture(unsigned slot, Texture* texture, float strength) {
  const int result = Material::SetTexture(slot, texture, strength);
  if (result == kResultOk && slot == kGlossSlot) strength_ = strength;
  return result;
}

GeometryChunk* VelmarBumpGlossMaterial::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices,
                                                            unsigned faces, int geometryType,
                                                            const StandardChunkHint& hint) {
  GeometryChunk* chunk =
      VelmarBumpMaterial::CreateGeometryChunk(vertices, secondSize, indices, faces, geometryType, hint);
  if (!chunk) return nullptr;
  if (!(chunk->GetFlags() & 0x1000)) chunk->SetVertexDataShared(0, -3, false);
  chunk->AddChunkProperty(RustAge(), 0.0f);
  return chunk;
}

void VelmarBumpGlossMaterial::SetDisplayState(Display& display) {
  OneTextureMaterial::SetDisplayState(display);
  display.SetStageTexture(3, GetTexture(kGlossSlot));
  display.SetStageTexture(1, GetTexture(kBumpSlot));
}

void VelmarBumpGlossMaterial::ClearDisplayState(Display& display) {
  display.SetStageTexture(3, nullptr);
  display.SetStageTexture(1, nullptr);
  OneTextureMaterial::ClearDisplayState(display);
}

void VelmarBumpGlossMaterial::RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                          const Matrix4& transform) {
  if (!view) return;
  DisplayMaterial look = GetDisplayMaterialProperties();
  const Colour savedAmbient = look.ambient;
  look.ambient = {1, 1, 1, 1};
  SetDisplayMaterialProperties(look);
  const float x = RustAgeOf(chunk);
  const GatheredLights gathered = GatherLights(display, lights);
  SetDisplayState(display);
  const float g = (1 - 2 * x) * strength_;
  if (g > kGlossThreshold) {
    TextureCombiner::SetConstantRegister(programs_.parallelPixel, 2, {g, g, g, g});
    SetParallelConstants(display, *view, gathered, transform, 3, true);
    DrawPass(display, view, chunk, programs_.parallelVertex, programs_.parallelPixel, Range{});
    if (gathered.spot) {
      const bool blending = display.GetAlphaBlendMode();
      int source = 0, destination = 0;
      display.GetAlphaBlendFunction(source, destination);
      display.SetAlphaBlendMode(true);
      display.SetAlphaBlendFunction(1, 1);
      TextureCombiner::SetConstantRegister(programs_.spotPixel, 2, {g, g, g, g});
      SetSpotConstants(*view, *gathered.spot, transform, 3);
      DrawPass(display, view, chunk, programs_.spotVertex, programs_.spotPixel, Range{});
      display.SetAlphaBlendMode(blending);
      display.SetAlphaBlendFunction(source, destination);
    }
  }
  ClearDisplayState(display);
  look.ambient = savedAmbient;
  SetDisplayMaterialProperties(look);
}

void VelmarBumpGlossMaterial::RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                                              const LightList* const* lights, const Matrix4* transforms,
                                              unsigned count) {
  for (unsigned i = 0; i < count; ++i) RenderChunk(display, view, *chunks[i], *lights[i], transforms[i]);
}

} // namespace Vak
