#pragma once
// The skinning part of a dynamic mesh instance: a table of bones read from
// the mesh's influences, each bound to the scene particle of its name. Every
// frame it either works out the bone matrices that palette-skinned chunks
// read (a rigid level) or writes the vertex positions of the chunks from
// the weighted offsets of the influence records (a software level).
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assets3d/SharedRefArray.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/fyrmond/InfluenceDefinition.h"
#include "engine/fyrmond/Transformation.h"
#include "engine/kernelx/Matrix4.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {
class Particle;
}

class VelmarInfluenceMesh {
public:
  using Chunks = SharedRefArray<Vak::GeometryChunk>;

  struct InfluenceRecord {
    uint32_t vertex = 0;
    float weight = 0;
    Vak::Vector3 offset;  // in the bone's space
  };
  // The records of one chunk.
  struct InfluenceEntry {
    unsigned chunk = 0;
    std::vector<InfluenceRecord> records;
  };
  // A bone's influences in one level.
  struct InfluenceGroup {
    bool present = false;
    uint8_t rigid = 0;
    std::vector<InfluenceEntry> entries;
  };
  struct Bone {
    Vak::PString name;
    Vak::PString parentName;
    Vak::Matrix4 current;
    Vak::Matrix4 bindInverse;
    Vak::Particle* particle = nullptr;
    Vak::Quaternion rotation;
    Vak::Vector3 position;
    std::vector<InfluenceGroup> groups;  // per level
    std::vector<unsigned> children;      // bone table positions
  };
  // What a skinned chunk brings when it is added to or merged into an
  // instance: the bone of each of its own palette slots (palette skinning),
  // or each bone's records over its vertices (software skinning).
  struct ChunkInfluences {
    struct BoneRecords {
      Vak::PString bone;
      std::vector<InfluenceRecord> records;
    };
    std::vector<Vak::PString> boneNames;
    std::vector<BoneRecords> influences;
    // Added to the records' vertex indices when the chunk is added.
    unsigned vertexBase = 0;
  };
  // One level's chunks as the level form loads them.
  struct LevelChunks {
    unsigned chunkCount = 0;
    Chunks* chunks = nullptr;
    bool rigid = false;
  };

  VelmarInfluenceMesh() = default;
  // The bone table is copied; the copy is bound to nothing until BindBones.
  VelmarInfluenceMesh(const VelmarInfluenceMesh& other) { CopyBones(other); }
  VelmarInfluenceMesh& operator=(const VelmarInfluenceMesh&) = delete;
  virtual ~VelmarInfluenceMesh();

  // Binds every bone to the particle of its name at or below `root`
  // (null: none) and takes the pose found as the bind pose.
  virtual void BindBones(Vak::Particle* root);
  // Binds as BindBones does but keeps the bind pose the bones have.
  void BindParticles(Vak::Particle* root);
  // A software level's positions start from the origin before the bones
  // add their parts; a rigid level's stay.
  virtual void ClearPositions(unsigned chunkCount, Chunks* chunks, unsigned level);
  // Skins the level for the frame `stamp`: a non-zero stamp equal to the
  // level's last one does nothing, 0 always works.
  virtual void UpdateSkin(unsigned chunkCount, Chunks* chunks, uint32_t stamp, unsigned level);
  // From a level-of-detail definition's bone table; each level's groups take
  // the rigid flag of that level.
  virtual void LoadLevelInfluences(unsigned boneCount, const VelmarIndexedMeshLODDefinition::BoneRecord* bones,
                                   const std::vector<LevelChunks>& levels);
  // From a mesh's influences: one level, rigid or not for every bone.
  virtual void LoadInfluences(unsigned boneCount, const Vak::InfluenceDefinition* bones, bool rigid,
                              unsigned chunkCount, Chunks* chunks);
  // Null without bones or without a bone lacking a parent.
  virtual Bone* GetRootBone();

  // The bone table of `other`, bound to nothing until BindBones.
  void CopyBones(const VelmarInfluenceMesh& other);
  // A copy of a skeleton's particle tree (bones keep their rest pose).
  static Vak::Particle* CopySkeleton(const Vak::Particle& root);
  // Per chunk, the particle of the chunk's bone name at or below `root`;
  // null for a chunk without a name or whose bone is missing.
  static std::vector<Vak::Particle*> FindChunkBones(const std::vector<Vak::PString>& names, unsigned chunkCount,
                                                   Vak::Particle* root);
  // Points the chunk's palette at the bones' matrices.
  void AssignMatrices(Vak::GeometryChunk& chunk) const;
  // Whether every bone `influences` names has a group in the level.
  bool CanTakeRecords(const ChunkInfluences& influences, unsigned level) const;
  // Appends the records to those bones' groups as chunk `chunk`'s, their
  // vertices moved by `base`; the level is skinned again at the next stamp.
  void TakeRecords(const ChunkInfluences& influences, unsigned level, unsigned chunk, unsigned base);
  // Palette-skinned `chunk` (its bone indices in `chunk`'s own slots of
  // `names` from vertex `first` on) rewritten to the bone table's palette
  // slots, which are added to its palette; false for a name the table lacks
  // or a full palette.
  bool MapPalette(Vak::GeometryChunk& chunk, const std::vector<Vak::PString>& names, unsigned first) const;
  // True when the level's first bone has a rigid group there.
  bool IsRigidLevel(unsigned level) const;
  unsigned GetBoneCount() const { return static_cast<unsigned>(bones_.size()); }
  const std::vector<Bone>& GetBones() const { return bones_; }
  std::vector<Bone>& GetBones() { return bones_; }
  // The bone table position of a name, -1 when none has it.
  int FindBone(const Vak::PString& name) const;
  Vak::Particle* GetRootParticle() const { return rootParticle_; }

private:
  void LinkBones();
  void Reserve(unsigned levels);
  // The bone's place in its parent: its particle's when bound, else its
  // stored pose.
  static Vak::Matrix4 LocalPose(const Bone& bone);
  void BindWalk(unsigned bone, const Vak::Matrix4& parent);
  void RigidWalk(unsigned bone, const Vak::Matrix4& parent);
  void SoftwareWalk(unsigned bone, const Vak::Transformation& parent, unsigned chunkCount, Chunks* chunks,
                    unsigned level);
  const InfluenceGroup* GroupOf(const Bone& bone, unsigned level) const {
    return level < bone.groups.size() && bone.groups[level].present ? &bone.groups[level] : nullptr;
  }

  std::vector<Bone> bones_;
  int root_ = -1;
  Vak::Particle* rootParticle_ = nullptr;
  std::vector<uint32_t> stamps_;  // per level
};
