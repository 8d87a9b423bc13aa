#pragma once
// The bump-mapped materials: per-pixel lit with a bump map (slot 8), drawn
// in a parallel-light pass and, when a spot light reaches the chunk, an
// added spot-light pass. The environment form adds a reflection map (slot
// 9), the gloss form a gloss map (slot 9) that rusts away with the chunk's
// "RustAge".
#include "engine/elthrac/Light.h"
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

class RenderKernel;
class TextureCombiner;
class VertexProgram;

// What one walk over a chunk's lights finds.
struct GatheredLights {
  Colour ambient;  // the display's global ambient plus every ambient and parallel light's
  const Light* parallel = nullptr;  // the brightest parallel light, the first on a tie
  const Light* spot = nullptr;      // the brightest spot light
};
GatheredLights GatherLights(const Display& display, const LightList& lights);

// The programs of one pass pair (counted references).
struct BumpPrograms {
  VertexProgram* parallelVertex = nullptr;
  TextureCombiner* parallelPixel = nullptr;
  VertexProgram* spotVertex = nullptr;
  TextureCombiner* spotPixel = nullptr;
};

class VelmarBumpMaterial : public OneTextureMaterial {
public:
  static constexpr unsigned kBumpSlot = 8;
  static constexpr const char* kTypeName = "tbumptex";

  // Takes references on the caches and programs; the bump map starts as the
  // kernel's shared texture 0 when a kernel is given.
  VelmarBumpMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel, RenderingCache* blend,
                     RenderingCache* mask, RenderingCache* chunks, const BumpPrograms& programs);
  ~VelmarBumpMaterial() override;

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override;
  bool IsLoaded() const override;
  using OneTextureMaterial::SetTexture;
  // The bump map and the slot-9 map are looked up through the manager.
  int SetTexture(unsigned slot, ResourceDatabase* database, const PString& name, float strength) override;
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks, const LightList* const* lights,
                       const Matrix4* transforms, unsigned count) override;
  void RenderPrimitives(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                        const Matrix4& transform, unsigned first, unsigned count) override;
  const BumpPrograms& GetPrograms() const { return programs_; }

protected:
  // A primitive range to draw, or the whole chunk.
  struct Range {
    bool whole = true;
    unsigned first = 0, count = 0;
  };
  // The parallel pass's constants and the world transform. Without a main
  // parallel light the specular register is zeroed unless `keepSpecular`.
  void SetParallelConstants(Display& display, const View& view, const GatheredLights& gathered,
                            const Matrix4& transform, int specularRegister, bool keepSpecular);
  void SetSpotConstants(const View& view, const Light& spot, const Matrix4& transform, int specularRegister);
  void DrawPass(Display& display, View* view, GeometryChunk& chunk, VertexProgram* program,
                TextureCombiner* combiner, const Range& range);
  // The spot pass between saved and restored blending.
  void SpotPass(Display& display, View* view, GeometryChunk& chunk, const Light& spot, const Matrix4& transform,
                int source, int destination, const Range& range);
  void RenderRange(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform, const Range& range);
  // Bump map and, for the derived forms, the slot-9 map: missing or not
  // loaded ones keep the material from being loaded.
  bool SlotLoaded(unsigned slot) const;
  void CopyTo(VelmarBumpMaterial& copy) const;

  BumpPrograms programs_;
};

class VelmarBumpEnvMaterial : public VelmarBumpMaterial {
public:
  static constexpr unsigned kEnvironmentSlot = 9;
  static constexpr const char* kTypeName = "tbumpenv";
  VelmarBumpEnvMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel, RenderingCache* blend,
                        RenderingCache* mask, RenderingCache* chunks, const BumpPrograms& programs);

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override;
  bool IsLoaded() const override;
  using VelmarBumpMaterial::SetTexture;
  int SetTexture(unsigned slot, Texture* texture, float strength) override;
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks, const LightList* const* lights,
                       const Matrix4* transforms, unsigned count) override;
  void RenderPrimitives(Display&, View*, GeometryChunk&, const LightList&, const Matrix4&, unsigned,
                        unsigned) override {}
  float GetStrength() const { return strength_; }
  const Matrix4& GetEnvironmentMatrix() const { return matrix_; }
  void SetEnvironmentMatrix(const Matrix4& matrix) { matrix_ = matrix; }
  // The stage-1 texture transform of a draw: the camera's view rotation
  // (transposed) combined with the environment matrix.
  static Matrix4 EnvironmentTransform(const Matrix4& viewTransform, const Matrix4& environment);

private:
  float strength_ = 1.0f;
  Matrix4 matrix_;
};

class VelmarBumpGlossMaterial : public VelmarBumpMaterial {
public:
  static constexpr unsigned kGlossSlot = 9;
  static constexpr const char* kTypeName = "tbumpgloss";
  static const PString& RustAge();

  // `rust` are the programs it keeps without drawing with them.
  VelmarBumpGlossMaterial(const PString& type, MaterialManager* manager, RenderKernel* kernel, RenderingCache* blend,
                          RenderingCache* mask, RenderingCache* chunks, const BumpPrograms& programs,
                          const BumpPrograms& rust);
  ~VelmarBumpGlossMaterial() override;

  Material* Duplicate() const override;
  bool Equals(const Material& other) const override;
  bool IsLoaded() const override;
  using VelmarBumpMaterial::SetTexture;
  int SetTexture(unsigned slot, Texture* texture, float strength) override;
  void CacheAlphaHint(int& hint) override { hint = 0; }
  GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                     int geometryType, const StandardChunkHint& hint) override;
  void SetDisplayState(Display& display) override;
  void ClearDisplayState(Display& display) override;
  void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                   const Matrix4& transform) override;
  void RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks, const LightList* const* lights,
                       const Matrix4* transforms, unsigned count) override;
  void RenderPrimitives(Display&, View*, GeometryChunk&, const LightList&, const Matrix4&, unsigned,
                        unsigned) override {}
  float GetStrength() const { return strength_; }

private:
  float strength_ = 1.0f;
  BumpPrograms rust_;
};

} // namespace Vak
