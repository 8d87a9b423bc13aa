#pragma once
// Skinned forms of the indexed and progressive instances: the mesh's bone
// table bound to a copy of its skeleton, added below the instance, and
// skinned once per frame before the chunks are drawn.
#include <cstdint>

#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarInfluenceMesh.h"

class VelmarDynamicIndexedMeshInstance : public VelmarIndexedMeshInstance, public VelmarInfluenceMesh {
public:
  using VelmarIndexedMeshInstance::VelmarIndexedMeshInstance;

  // Loads the definition's influences over the instance's chunks and binds
  // them to a copy of its skeleton; false without a root bone.
  bool InitSkin(const VelmarIndexedMeshDefinition& definition);
  // Skins the chunks for the frame `stamp`.
  void UpdateSkin(uint32_t stamp);
  // Skins for the view's frame, then draws.
  void Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform) override;
};

class VelmarDynamicProgressiveMeshInstance : public VelmarProgressiveMeshInstance, public VelmarInfluenceMesh {
public:
  using VelmarProgressiveMeshInstance::VelmarProgressiveMeshInstance;

  bool InitSkin(const VelmarIndexedMeshDefinition& definition);
  void UpdateSkin(uint32_t stamp);
  void Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform) override;
};

// The part both forms share: the influences over `instance`'s chunks and the
// skeleton copy below it.
bool InitInstanceSkin(VelmarIndexedMeshInstance& instance, VelmarInfluenceMesh& skin,
                      const VelmarIndexedMeshDefinition& definition);
