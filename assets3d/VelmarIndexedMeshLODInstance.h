#pragma once
// A mesh in levels of detail: complete meshes of one object of which one is
// drawn at a time, chosen from the detail value of the object's distance.
// The indexed base shows the collision level (ray tests, triangle queries,
// edits); the current level is the one drawn. The instance also hides its
// attachments when the detail falls to their cut-off, and its skinned form
// stops animating its bones beyond another.
#include <vector>

#include "assets3d/SharedRefArray.h"
#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarInfluenceMesh.h"
#include "engine/fyrmond/ObjectLOD.h"

class VelmarIndexedMeshLODDefinition;

class VelmarIndexedMeshLODInstance : public VelmarIndexedMeshInstance, public Vak::ObjectLOD {
public:
  // The particle mark of an animated bone particle.
  static constexpr uint32_t kAnimated = 0x04;

  struct Level {
    unsigned chunkCount = 0;
    SharedRefArray<Vak::GeometryChunk>* chunks = nullptr;
    SharedRefArray<Vak::Material>* materials = nullptr;
    std::vector<Vak::Particle*> bones;  // per chunk, when the mesh has a skeleton
    bool lightingDirty = true;
  };

  using VelmarIndexedMeshInstance::VelmarIndexedMeshInstance;
  ~VelmarIndexedMeshLODInstance() override;

  // Shares every level of the definition; the base shows the level named
  // "collision" (else the last), the first level is drawn.
  virtual void InitFromLODDefinition(const VelmarIndexedMeshLODDefinition& definition);
  // The particles of the definition's attachment names below the instance.
  void FindAttachments(const VelmarIndexedMeshLODDefinition& definition);
  // A copy for the same kernel and resource, levels shared again.
  virtual VelmarIndexedMeshLODInstance* Clone() const;

  // Picks the level from the detail value of the view point's eye, shows or
  // hides the attachments, and adds the instance to the view unless the
  // render cut-off keeps it out.
  void Cull(Vak::ViewPoint& viewPoint, const Vak::Matrix4& parent) override;
  // Draws the current level after bringing its lighting up to date.
  void Render(Vak::ViewPoint& viewPoint, Vak::Display& display, const Vak::Matrix4& transform) override;
  // What a cull does with the detail value v: attachments shown above their
  // cut-off, the level chosen unless fixed. False when the render cut-off
  // keeps the instance from the view.
  virtual bool ApplyDetail(float detail);

  // Levels are whole meshes of their own: nothing is added or merged.
  bool AddChunk(Vak::GeometryChunk*, Vak::Material*) override { return false; }
  bool MergeChunk(Vak::GeometryChunk*, unsigned) override { return false; }
  // Scales drawing and rays; the bounds stay those of the definition.
  void SetScale(const Vak::Vector3& scale) override;
  // On every chunk of every level.
  void SetOpacity(float opacity) override;
  // The private array is also the collision level's.
  void MakeChunksPrivate() override;
  void MakeMaterialsPrivate() override;
  // Every level's materials made private; the base shows the collision
  // level's chunks again.
  void MakeAllLevelMaterialsPrivate();
  void SetLight(Vak::ParallelLight* light) override;

  // Lighting per level: worked out again when the level is dirty or when
  // forced; true when it was.
  virtual bool UpdateLevelLighting(int level, bool force);
  virtual void UpdateAllLevelLighting(bool force, bool onlyFirst);
  // New lights make every level dirty.
  void MarkAllLevelsDirty();
  unsigned GetDirtyCount() const { return dirtyCount_; }

  // Draws level `level` (kept within the levels) at every detail from now on.
  void SetLevel(int level);
  int GetLevel() const { return currentLevel_; }
  int GetCollisionLevel() const { return collisionLevel_; }
  bool IsLevelFixed() const { return fixedLevel_; }
  int GetLevelCount() const { return static_cast<int>(levels_.size()); }
  const Level& GetLevelData(int level) const { return levels_[static_cast<std::size_t>(level)]; }
  int GetLevelPrimitiveCount(int level) const;
  // The level's materials; the base's without such a level.
  SharedRefArray<Vak::Material>* GetLevelMaterials(int level) const {
    return level >= 0 && level < GetLevelCount() ? levels_[static_cast<std::size_t>(level)].materials : materials_;
  }
  const std::vector<Vak::Particle*>& GetAttachments() const { return attachments_; }
  float GetAttachmentCutOff() const { return attachmentCutOff_; }
  float GetRenderCutOff() const { return renderCutOff_; }
  float GetOffset() const { return offset_; }
  float GetMultiplier() const { return multiplier_; }

protected:
  // The base's arrays become those of `level`.
  void PointBaseAt(int level);
  void ReleaseLevels();
  // Copies what Clone keeps into `copy`, made for the same kernel and resource.
  void CopyInto(VelmarIndexedMeshLODInstance& copy) const;
  void ShowAttachments(float detail);
  void SelectLevel(float detail);
  // Run before a culled instance is added to the view and before drawing.
  virtual void PrepareLevels(Vak::ViewPoint&) {}

  const VelmarIndexedMeshLODDefinition* definition_ = nullptr;
  std::vector<Level> levels_;
  int collisionLevel_ = 0;
  int currentLevel_ = 0;
  bool fixedLevel_ = false;
  unsigned dirtyCount_ = 0;
  float multiplier_ = 1.0f;
  float offset_ = 0;
  float renderCutOff_ = 0;
  float attachmentCutOff_ = 0;
  std::vector<Vak::Particle*> attachments_;
};

// The skinned form: one bone table for every level, skinned per level.
class VelmarDynamicIndexedMeshLODInstance : public VelmarIndexedMeshLODInstance, public VelmarInfluenceMesh {
public:
  static constexpr uint32_t kBonesNeedUpdate = 0x1;
  static constexpr uint32_t kBonesAnimated = 0x2;

  using VelmarIndexedMeshLODInstance::VelmarIndexedMeshLODInstance;

  void InitFromLODDefinition(const VelmarIndexedMeshLODDefinition& definition) override;
  // Loads the bone table over the levels and binds it to a copy of the
  // definition's skeleton added below the instance; false without a root
  // bone.
  bool InitSkin(const VelmarIndexedMeshLODDefinition& definition);
  VelmarIndexedMeshLODInstance* Clone() const override;
  // The animation cut-off with the offset as a band: bones start animating
  // above cut-off + offset and stop below cut-off - offset.
  bool ApplyDetail(float detail) override;
  // Skins the current level and the levels kept updated with it.
  void UpdateLevels(uint32_t stamp);
  // Skinned chunks are not added to levels.
  virtual bool AddSkinnedChunk(Vak::GeometryChunk*, Vak::Material*, const ChunkInfluences&) { return false; }
  virtual bool MergeSkinnedChunk(Vak::GeometryChunk*, unsigned, const ChunkInfluences&) { return false; }

  uint32_t GetState() const { return state_; }
  float GetAnimationCutOff() const { return animationCutOff_; }
  std::vector<int>& KeptUpdated() { return keptUpdated_; }

protected:
  // Bones animated or stopped by the detail value; the levels skinned.
  void PrepareLevels(Vak::ViewPoint& viewPoint) override;

private:
  void UpdateAnimation();
  // Every level's chunks replaced by the instance's own, pointed at its
  // bone matrices; software-skinned levels' with their own vertices.
  void OwnLevelChunks();
  void MarkAnimated(Vak::Particle& particle, bool on);
  std::vector<LevelChunks> LevelTable() const;

  float animationCutOff_ = 0;
  uint32_t state_ = kBonesNeedUpdate | kBonesAnimated;
  std::vector<int> keptUpdated_;
};
