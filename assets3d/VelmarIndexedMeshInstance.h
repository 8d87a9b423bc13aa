#pragma once
// The scene element that shows one loaded mesh: it shares its definition's
// chunks and materials, carries the mesh's reference points and is lit
// through its light-target part. It keeps its resource referenced and locked
// for as long as it shows it.
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assets3d/SharedRefArray.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/Material.h"
#include "engine/elthrac/Particle.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {
class ParallelLight;
class RenderKernel;
} // namespace Vak

class VelmarGeometryBaseResource;
class VelmarIndexedMeshDefinition;
class VelmarProgressiveMeshDefinition;

class VelmarIndexedMeshInstance : public Vak::Particle {
public:
  static constexpr uint32_t kDynamicChunk = 0x1000;

  // A named point of the mesh ("p..." attachment entries).
  struct ReferencePoint {
    Vak::PString name;
    Vak::Vector3 position;
    Vak::Quaternion orientation;
  };

  // Takes a reference on the resource and locks it; InitFromDefinition
  // follows.
  VelmarIndexedMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource);
  ~VelmarIndexedMeshInstance() override;
  VelmarIndexedMeshInstance(const VelmarIndexedMeshInstance&) = delete;
  VelmarIndexedMeshInstance& operator=(const VelmarIndexedMeshInstance&) = delete;

  virtual void InitFromDefinition(const VelmarIndexedMeshDefinition& definition);
  // Unlocks and releases the resource held, then holds and locks `resource`.
  void SetResource(VelmarGeometryBaseResource* resource);
  void MakeChunksPrivate();
  // Sum of the chunks' primitive counts.
  int GetPrimitiveCount() const;

  // The light-target part: the light it is lit by. The lighting is worked
  // out again only when it changed or when asked; true when it was.
  void SetLight(Vak::ParallelLight* light);
  bool UpdateLighting(bool force);
  Vak::ParallelLight* GetLight() const { return light_; }

  Vak::RenderKernel* GetRenderKernel() const { return kernel_; }
  VelmarGeometryBaseResource* GetResource() const { return resource_; }
  unsigned GetChunkCount() const { return chunkCount_; }
  SharedRefArray<Vak::GeometryChunk>* GetChunks() const { return chunks_; }
  SharedRefArray<Vak::Material>* GetMaterials() const { return materials_; }
  const std::vector<ReferencePoint>& GetReferencePoints() const { return referencePoints_; }
  const Vak::PString& GetMeshName() const { return meshName_; }
  const Vak::Vector3& GetBoundsMin() const { return boundsMin_; }
  const Vak::Vector3& GetBoundsMax() const { return boundsMax_; }

protected:
  // Bounds, name and reference points of the definition.
  void TakeDefinitionData(const VelmarIndexedMeshDefinition& definition);
  // Points the instance at these arrays (taking a reference on each).
  void ShareArrays(unsigned count, SharedRefArray<Vak::GeometryChunk>* chunks,
                   SharedRefArray<Vak::Material>* materials);
  // Dynamic chunks change per instance: each gets its own copy.
  void MakeDynamicChunksOwn();

  Vak::RenderKernel* kernel_;
  VelmarGeometryBaseResource* resource_ = nullptr;
  unsigned chunkCount_ = 0;
  SharedRefArray<Vak::GeometryChunk>* chunks_ = nullptr;
  SharedRefArray<Vak::Material>* materials_ = nullptr;
  float opacity_ = 1.0f;
  Vak::Vector3 boundsMin_, boundsMax_;
  Vak::PString meshName_;
  int mipBias_ = 0;
  std::vector<ReferencePoint> referencePoints_;
  Vak::ParallelLight* light_ = nullptr;
  bool lightingChanged_ = true;
};

// An indexed mesh whose instances change their level of detail through the
// progressive records; each instance owns its index data.
class VelmarProgressiveMeshInstance : public VelmarIndexedMeshInstance {
public:
  VelmarProgressiveMeshInstance(Vak::RenderKernel* kernel, VelmarGeometryBaseResource* resource);
  void InitFromDefinition(const VelmarIndexedMeshDefinition& definition) override;
  // The detail level: an index into the definition's top records.
  int GetLevel() const { return level_; }

private:
  const VelmarProgressiveMeshDefinition* definition_ = nullptr;
  int level_ = 0;
};
