#pragma once
// The scene element that shows one loaded mesh: it shares its definition's
// chunks and materials until it must change them, culls and draws itself
// through its materials, answers ray and triangle queries, carries the
// mesh's reference and attachment points, scales, and is lit through its
// light-target part. It keeps its resource referenced and locked for as
// long as it shows it.
#include <functional>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assets3d/SharedRefArray.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/Material.h"
#include "engine/elthrac/LightTarget.h"
#include "engine/elthrac/ParticleStructure.h"
#include "engine/elthrac/TriangleGeometry.h"
#include "engine/fyrmond/ScalableDetail.h"
#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/OrientedBox.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {
class Bitmap;
class Display;
class ParallelLight;
class RenderKernel;
class ViewPoint;
} // namespace Vak

class VelmarGeometryBaseResource;
class VelmarIndexedMeshDefinition;
class VelmarProgressiveMeshDefinition;

class VelmarIndexedMeshInstance : public Vak::ParticleStructure,
                                  public Vak::TriangleGeometry,
                                  public Vak::LightTarget {
public:
  static constexpr int kTypeCode = 17;
  // Chunk flags. A merge appends to triangle lists only.
  static constexpr uint32_t kTriangleListChunk = Vak::GeometryChunk::kTypeTriangleList;
  static constexpr uint32_t kPaletteChunk = 0x40;
  static constexpr uint32_t kDynamicChunk = 0x1000;
  // How far a ray is followed through a collision tree.
  static constexpr float kRayReach = 5000.0f;

  // Receives projected points.
  using ProjectionSink = std::function<void(float x, float y)>;

  // Takes a reference on the resource and locks it; InitFromDefinition
  // follows.
  VelmarIndexedMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource);
  ~VelmarIndexedMeshInstance() override;
  VelmarIndexedMeshInstance(const VelmarIndexedMeshInstance&) = delete;
  VelmarIndexedMeshInstance& operator=(const VelmarIndexedMeshInstance&) = delete;

  // What creation from a resource does after InitFromDefinition: the
  // skeleton below the instance with each chunk's bone, then the
  // definition's attachment points.
  void CompleteCreation(const VelmarIndexedMeshDefinition& definition);

  // --- The engine's particle operations this instance overrides.
  void Cull(Vak::ViewPoint& viewPoint, const Vak::Matrix4& parent) override;
  void Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform) override;
  // A new instance of the same class for the same kernel, a copy of this.
  Vak::Particle* Clone() const override;
  int GetType() const override { return kTypeCode; }
  float GetOpacity() const override { return opacity_; }
  // On every chunk too, for the kernel's display.
  void SetOpacity(float opacity) override;
  // `ray` in the instance's frame; the hit names this geometry, a chunk and
  // a triangle.
  bool TestRayCollision(const Vak::Ray& ray, float& distance, Vak::TriangleRef& hit) override;

  // --- The instance's own operations.
  // Unlocks and releases the resource held, then holds and locks `resource`.
  virtual void SetResource(VelmarGeometryBaseResource* resource);
  // Replace the shared array by a private copy (same entries, own
  // references).
  virtual void MakeChunksPrivate();
  virtual void MakeMaterialsPrivate();
  // Replace one entry by its duplicate; an index past the count does
  // nothing.
  virtual void DuplicateChunk(unsigned index);
  virtual void DuplicateMaterial(unsigned index);
  // Adds a chunk drawn with `material` (a reference on each is taken);
  // false, changing nothing, when it cannot be added.
  virtual bool AddChunk(Vak::GeometryChunk* chunk, Vak::Material* material);
  // Appends a chunk to chunk `index`'s own duplicate; false, changing
  // nothing, when it cannot be merged.
  virtual bool MergeChunk(Vak::GeometryChunk* chunk, unsigned index);
  virtual void SetScale(const Vak::Vector3& scale);
  virtual const Vak::Vector3& GetScale() const { return scale_; }
  // Sum of the chunks' primitive counts.
  virtual int GetPrimitiveCount() const;
  // Every vertex through the matrix's rotation part, then moved by the
  // offset's x and y.
  virtual void ProjectVertices(const Vak::Matrix4& matrix, const Vak::Vector3& offset, const ProjectionSink& sink) const;
  virtual bool SetTextureFromFile(int first, int second, unsigned material, unsigned texture, const char* file);
  virtual bool SetTextureFromBitmap(int first, int second, unsigned material, unsigned texture,
                                    const Vak::Bitmap& bitmap);
  virtual void UpdateBoundingVolume();
  virtual void InitFromDefinition(const VelmarIndexedMeshDefinition& definition);

  // --- Triangle queries.
  unsigned GetTriangleChunkCount() const override { return chunkCount_; }
  unsigned GetTriangleCount(unsigned chunk) const override;
  Vak::GeometryChunk* GetTriangleChunk(unsigned chunk) const override;
  Vak::Material* GetTriangleMaterial(unsigned triangle, unsigned chunk) const override;
  unsigned GetTriangleIndexPosition(unsigned triangle, unsigned chunk, unsigned corner) const override;
  bool GetTriangleVertexIndex(unsigned triangle, unsigned chunk, unsigned corner, unsigned& vertex) const override;
  bool GetTriangleVertex(unsigned triangle, unsigned chunk, unsigned corner, Vak::Vector3& position) const override;
  bool GetTriangleVertices(unsigned triangle, unsigned chunk, Vak::Vector3 corners[3]) const override;
  bool GetTriangleVertexNormal(unsigned triangle, unsigned chunk, unsigned corner,
                               Vak::Vector3& normal) const override;
  bool GetTriangleTexCoord(unsigned triangle, unsigned chunk, unsigned corner, float& u, float& v) const override;
  bool GetTriangleColour(unsigned triangle, unsigned chunk, unsigned corner, uint32_t& colour) const override;
  bool GetTriangleNeighbour(unsigned triangle, unsigned chunk, unsigned edge,
                            Vak::TriangleRef& neighbour) const override;
  Vak::Vector3 GetTriangleFaceNormal(unsigned triangle, unsigned chunk) const override;
  Vak::Vector3 GetTriangleCentre(unsigned triangle, unsigned chunk) const override;
  float GetTriangleArea(unsigned triangle, unsigned chunk) const override;
  bool IsTriangleTwoSided(unsigned triangle, unsigned chunk) const override;
  bool IsTriangleVisible(unsigned triangle, unsigned chunk) const override;

  // --- Light target: worked out again only when the lighting changed or
  // when asked.
  bool UpdateLighting(bool force) override;

  Vak::RenderKernel* GetRenderKernel() const { return kernel_; }
  VelmarGeometryBaseResource* GetResource() const { return resource_; }
  unsigned GetChunkCount() const { return chunkCount_; }
  SharedRefArray<Vak::GeometryChunk>* GetChunks() const { return chunks_; }
  SharedRefArray<Vak::Material>* GetMaterials() const { return materials_; }
  const std::vector<Vak::ReferencePoint*>& GetReferencePoints() const { return ReferencePoints(); }
  const Vak::PString& GetMeshName() const { return meshName_; }
  const Vak::Vector3& GetBoundsMin() const { return boundsMin_; }
  const Vak::Vector3& GetBoundsMax() const { return boundsMax_; }
  bool IsScaled() const { return scale_.x != 1.0f || scale_.y != 1.0f || scale_.z != 1.0f; }
  int GetMipBias() const { return mipBias_; }
  // The bone each chunk is drawn with, when the mesh has a skeleton.
  const std::vector<Vak::Particle*>& GetBoneParticles() const { return boneParticles_; }

protected:
  // Points the instance at these arrays (taking a reference on each).
  void ShareArrays(unsigned count, SharedRefArray<Vak::GeometryChunk>* chunks,
                   SharedRefArray<Vak::Material>* materials);
  // Bounds, name and reference points of the definition.
  void TakeDefinitionData(const VelmarIndexedMeshDefinition& definition);
  // Dynamic chunks change per instance: each gets its own duplicate.
  void MakeDynamicChunksOwn();
  // The skeleton below the instance and each chunk's bone.
  void CreateSkeleton(const VelmarIndexedMeshDefinition& definition);
  // Whether this instance alone holds the array.
  template <class T>
  static bool IsPrivate(const SharedRefArray<T>* array) {
    return array != nullptr && array->ReferenceCountValue() == 1;
  }
  // Clone's copy of `from` into this new instance of the same class.
  void CopyInstance(const VelmarIndexedMeshInstance& from);
  // Chunk `index`'s duplicate, prepared for the display when dynamic.
  Vak::GeometryChunk* DuplicateForInstance(const Vak::GeometryChunk& chunk) const;
  // Appends the pair to new arrays one longer; takes `added`'s reference
  // and one on `material`.
  void AppendChunkEntry(Vak::GeometryChunk* added, Vak::Material* material);
  // Chunk `index`'s duplicate with `chunk` appended (one reference for the
  // caller); null when the two cannot be merged.
  Vak::GeometryChunk* MergedChunk(const Vak::GeometryChunk& chunk, unsigned index) const;
  // Whether a chunk another holder may not give away.
  static bool OwnedElsewhere(const Vak::GeometryChunk& chunk, const void* self);
  // Draws `count` chunks with their materials, each with the transform or,
  // when there are bones, its bone's.
  void RenderChunks(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform, unsigned count,
                    SharedRefArray<Vak::GeometryChunk>* chunks, SharedRefArray<Vak::Material>* materials,
                    const std::vector<Vak::Particle*>& bones);
  // Draws one chunk with its material and the given transform.
  void RenderOneChunk(Vak::Display& display, Vak::GeometryChunk* chunk, Vak::Material* material,
                      const Vak::Matrix4& transform);
  // A vertex item of a triangle's corner.
  template <class T>
  bool GetCornerItem(unsigned triangle, unsigned chunk, unsigned corner, int item, T& out) const;
  // Ray against every triangle; `ray` already in the mesh's own frame.
  bool TestEveryTriangle(const Vak::Ray& ray, float& distance, Vak::TriangleRef& hit);

  Vak::RenderKernel* kernel_;
  VelmarGeometryBaseResource* resource_ = nullptr;
  unsigned chunkCount_ = 0;
  SharedRefArray<Vak::GeometryChunk>* chunks_ = nullptr;
  SharedRefArray<Vak::Material>* materials_ = nullptr;
  float opacity_ = 1.0f;
  std::vector<Vak::Particle*> boneParticles_;
  Vak::Vector3 scale_{1, 1, 1};
  Vak::Vector3 boundsMin_, boundsMax_;
  // The definition's oriented box, read when a ray or a scale needs it:
  // working it out costs a pass over every vertex that most uses skip.
  // The definition outlives the instance, whose resource holds it.
  const Vak::OrientedBox& Box() const;
  const VelmarIndexedMeshDefinition* boxOf_ = nullptr;
  Vak::PString meshName_;
  int mipBias_ = 0;
};

// An indexed mesh whose instances change their level of detail through the
// progressive records (docs/formats/mesh-files.md, PMIN); each instance owns
// its index data. The detail is a number of triangles.
class VelmarProgressiveMeshInstance : public VelmarIndexedMeshInstance, public Vak::ScalableDetail {
public:
  VelmarProgressiveMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource);

  Vak::Particle* Clone() const override;
  // Detail changes own the chunks: nothing is added or merged.
  bool AddChunk(Vak::GeometryChunk*, Vak::Material*) override { return false; }
  bool MergeChunk(Vak::GeometryChunk*, unsigned) override { return false; }
  void InitFromDefinition(const VelmarIndexedMeshDefinition& definition) override;

  // The detail level: an index into the definition's top records.
  int GetLevel() const { return level_; }
  // The triangles drawn now.
  int GetTotal() const { return total_; }
  // Removes levels while the total stays at or above `target`.
  void LowerDetail(int target);
  // Restores levels while the total is below `target`.
  void RaiseDetail(int target);

protected:
  void ApplyDetail(int detail) override;
  // The records of top record `level`, removed (`remove`) or restored.
  void ApplyLevel(unsigned level, bool remove);
  // Triangles the records of top record `level` remove.
  int LevelTriangles(unsigned level) const;
  // Own duplicates of every chunk, each with its own index array.
  void MakeEveryChunkOwn();
  // Clone's copy of `from` into this new instance of the same class.
  void CopyProgressive(const VelmarProgressiveMeshInstance& from);

  const VelmarProgressiveMeshDefinition* definition_ = nullptr;
  int level_ = 0;
  int total_ = 0;
};
