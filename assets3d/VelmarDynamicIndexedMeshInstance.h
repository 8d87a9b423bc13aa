#pragma once
// Skinned forms of the indexed and progressive instances: the mesh's bone
// table bound to a copy of its skeleton, added below the instance, and
// skinned once per frame before the chunks are drawn. Each instance skins
// chunks of its own, so instances of one mesh and their copies move apart.
#include <cstdint>

#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarInfluenceMesh.h"

// What both skinned forms add to their instance class.
template <class Instance>
class VelmarSkinnedInstance : public Instance, public VelmarInfluenceMesh {
public:
  using Instance::Instance;

  // Loads the definition's influences over chunks of the instance's own and
  // binds them to a copy of its skeleton; false without a root bone.
  bool InitSkin(const VelmarIndexedMeshDefinition& definition);
  // Skins the chunks for the frame `stamp`.
  void UpdateSkin(uint32_t stamp);
  // Skins for the view's frame, then draws.
  void Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform) override;

protected:
  // Every chunk replaced by one of the instance's own, pointed at this
  // instance's bone matrices; a software skin's with its own vertices.
  void OwnSkinnedChunks();
  // Clone's copy of `from`'s skin: its skeleton below this instance, the
  // bone table bound to it with `from`'s bind pose, chunks of its own.
  void CopySkin(const VelmarSkinnedInstance& from);
};

class VelmarDynamicIndexedMeshInstance : public VelmarSkinnedInstance<VelmarIndexedMeshInstance> {
public:
  using VelmarSkinnedInstance::VelmarSkinnedInstance;

  Vak::Particle* Clone() const override;
  // Adds a skinned chunk drawn with `material`: a palette chunk's bone
  // indices are rewritten to the instance's palette, a software chunk's
  // records join the bones'. False, changing nothing, when it cannot be
  // added.
  virtual bool AddSkinnedChunk(Vak::GeometryChunk* chunk, Vak::Material* material, const ChunkInfluences& influences);
  // Appends a skinned chunk to chunk `index`'s own duplicate. False,
  // changing nothing, when it cannot be merged.
  virtual bool MergeSkinnedChunk(Vak::GeometryChunk* chunk, unsigned index, const ChunkInfluences& influences);

private:
  // Whether the chunk skins as the instance's first chunk does.
  bool AgreesWithFirstChunk(const Vak::GeometryChunk& chunk, const ChunkInfluences& influences) const;
};

class VelmarDynamicProgressiveMeshInstance : public VelmarSkinnedInstance<VelmarProgressiveMeshInstance> {
public:
  using VelmarSkinnedInstance::VelmarSkinnedInstance;

  Vak::Particle* Clone() const override;
};
