#include "assets3d/VelmarDynamicIndexedMeshInstance.h"

#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ViewPoint.h"

bool InitInstanceSkin(VelmarIndexedMeshInstance& instance, VelmarInfluenceMesh& skin,
                      const VelmarIndexedMeshDefinition& definition) {
  const Vak::ParticleBone* source = definition.GetRootBone();
  if (source == nullptr) return false;
  const auto& influences = definition.GetInfluences();
  skin.LoadInfluences(static_cast<unsigned>(influences.size()), influences.data(), definition.UsesHardwareSkinning(),
                      instance.GetChunkCount(), instance.GetChunks());
  Vak::Particle* skeleton = VelmarInfluenceMesh::CopySkeleton(*source);
  instance.AddChild(skeleton);
  skin.BindBones(skeleton);
  return true;
}

bool VelmarDynamicIndexedMeshInstance::InitSkin(const VelmarIndexedMeshDefinition& definition) {
  return InitInstanceSkin(*this, *this, definition);
}

void VelmarDynamicIndexedMeshInstance::UpdateSkin(uint32_t stamp) {
  VelmarInfluenceMesh::UpdateSkin(chunkCount_, chunks_, stamp, 0);
}

bool VelmarDynamicProgressiveMeshInstance::InitSkin(const VelmarIndexedMeshDefinition& definition) {
  return InitInstanceSkin(*this, *this, definition);
}

void VelmarDynamicProgressiveMeshInstance::UpdateSkin(uint32_t stamp) {
  VelmarInfluenceMesh::UpdateSkin(chunkCount_, chunks_, stamp, 0);
}

void VelmarDynamicIndexedMeshInstance::Render(Vak::ViewPoint& viewPoint, Vak::Display& display,
                                              const Vak::Matrix4& transform) {
  UpdateSkin(viewPoint.GetCurrentFrame());
  VelmarIndexedMeshInstance::Render(viewPoint, display, transform);
}

void VelmarDynamicProgressiveMeshInstance::Render(Vak::ViewPoint& viewPoint, Vak::Display& display,
                                                  const Vak::Matrix4& transform) {
  UpdateSkin(viewPoint.GetCurrentFrame());
  VelmarProgressiveMeshInstance::Render(viewPoint, display, transform);
}
