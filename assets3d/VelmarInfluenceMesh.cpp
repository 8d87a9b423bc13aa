#include "assets3d/VelmarInfluenceMesh.h"

#include <algorithm>

#include "engine/elthrac/Particle.h"
#include "engine/elthrac/ParticleBone.h"

using Vak::Matrix4;
using Vak::Transformation;
using Vak::Vector3;

namespace {

// The per-axis scale a bone takes from its particle, when it takes one.
bool ParticleScale(const Vak::Particle* particle, Vector3& scale) {
  if (particle == nullptr || particle->GetType() != Vak::Particle::kTypeScaling) return false;
  const auto& scaling = static_cast<const Vak::ScalingParticle&>(*particle);
  if (scaling.IsFixed()) return false;
  scale = scaling.GetScale();
  return true;
}

Matrix4 ScaledColumns(Matrix4 m, const Vector3& scale) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.m[r][c] *= scale[c];
  return m;
}

} // namespace

void VelmarInfluenceMesh::CopyBones(const VelmarInfluenceMesh& other) {
  bones_ = other.bones_;
  root_ = other.root_;
  rootParticle_ = nullptr;
  stamps_.assign(other.stamps_.size(), 0);
  for (Bone& bone : bones_) bone.particle = nullptr;
}

Vak::Particle* VelmarInfluenceMesh::CopySkeleton(const Vak::Particle& root) {
  if (Vak::Particle* made = root.Clone()) return made;
  auto* copy = new Vak::Particle(root.GetName());
  copy->SetPosition(root.GetPosition());
  copy->SetOrientation(root.GetOrientation());
  for (const Vak::Particle* child : root.Children()) copy->AddChild(CopySkeleton(*child));
  return copy;
}

std::vector<Vak::Particle*> VelmarInfluenceMesh::FindChunkBones(const std::vector<Vak::PString>& names,
                                                                unsigned chunkCount, Vak::Particle* root) {
  std::vector<Vak::Particle*> bones(chunkCount, nullptr);
  if (root == nullptr) return bones;
  for (unsigned i = 0; i < chunkCount && i < names.size(); ++i) {
    if (names[i].Length() == 0) continue;
    bones[i] = root->FindByName(names[i]);
  }
  return bones;
}

VelmarInfluenceMesh::~VelmarInfluenceMesh() = default;

void VelmarInfluenceMesh::Reserve(unsigned levels) {
  if (stamps_.size() < levels) stamps_.resize(levels, 0);
}

int VelmarInfluenceMesh::FindBone(const Vak::PString& name) const {
  for (std::size_t i = 0; i < bones_.size(); ++i)
    if (bones_[i].name == name) return static_cast<int>(i);
  return -1;
}

void VelmarInfluenceMesh::LoadInfluences(unsigned boneCount, const Vak::InfluenceDefinition* bones, bool rigid,
                                         unsigned chunkCount, Chunks* chunks) {
  bones_.assign(boneCount, Bone());
  for (unsigned i = 0; i < boneCount; ++i) {
    const Vak::InfluenceDefinition& in = bones[i];
    Bone& bone = bones_[i];
    bone.name = in.GetName();
    bone.parentName = in.GetParentName();
    bone.position = in.GetPosition();
    bone.rotation = in.GetRotation();
    InfluenceGroup& group = bone.groups.emplace_back();
    group.present = true;
    group.rigid = rigid ? 1 : 0;
    for (const Vak::InfluenceDefinition::Group& part : in.Groups()) {
      InfluenceEntry& entry = group.entries.emplace_back();
      entry.chunk = part.chunk;
      if (rigid) continue;
      entry.records.reserve(part.entries.size());
      for (const Vak::InfluenceDefinition::Entry& e : part.entries)
        entry.records.push_back({e.vertex, e.weight, e.offset});
    }
  }
  Reserve(1);
  LinkBones();
  if (!rigid || chunks == nullptr) return;
  for (unsigned i = 0; i < chunkCount; ++i)
    if (Vak::GeometryChunk* chunk = chunks->Get(i)) AssignMatrices(*chunk);
}

void VelmarInfluenceMesh::LoadLevelInfluences(unsigned boneCount,
                                              const VelmarIndexedMeshLODDefinition::BoneRecord* bones,
                                              const std::vector<LevelChunks>& levels) {
  bones_.assign(boneCount, Bone());
  for (unsigned i = 0; i < boneCount; ++i) {
    const VelmarIndexedMeshLODDefinition::BoneRecord& in = bones[i];
    Bone& bone = bones_[i];
    bone.name = in.name;
    bone.parentName = in.parent;
    bone.position = {in.position[0], in.position[1], in.position[2]};
    bone.rotation.Set(Vak::Matrix3::FromFloats(in.matrix));
    bone.groups.resize(levels.size());
    for (const auto& [level, parts] : in.levels) {
      if (level >= levels.size()) continue;
      InfluenceGroup& group = bone.groups[level];
      group.present = true;
      group.rigid = levels[level].rigid ? 1 : 0;
      for (const Vak::InfluenceDefinition::Group& part : parts) {
        InfluenceEntry& entry = group.entries.emplace_back();
        entry.chunk = part.chunk;
        if (group.rigid) continue;
        entry.records.reserve(part.entries.size());
        for (const Vak::InfluenceDefinition::Entry& e : part.entries)
          entry.records.push_back({e.vertex, e.weight, e.offset});
      }
    }
  }
  Reserve(static_cast<unsigned>(levels.size()));
  LinkBones();
  for (const LevelChunks& level : levels) {
    if (!level.rigid || level.chunks == nullptr) continue;
    for (unsigned i = 0; i < level.chunkCount; ++i)
      if (Vak::GeometryChunk* chunk = level.chunks->Get(i)) AssignMatrices(*chunk);
  }
}

void VelmarInfluenceMesh::LinkBones() {
  // Linked as the definition links its skeleton, so that every bone has a
  // particle of its name to follow: the first bone without a parent is the
  // root, and a bone whose parent is missing (or that would hang below
  // itself) hangs below the root.
  root_ = -1;
  for (std::size_t i = 0; i < bones_.size(); ++i) {
    bones_[i].children.clear();
    if (root_ < 0 && bones_[i].parentName.Length() == 0) root_ = static_cast<int>(i);
  }
  if (root_ < 0) return;
  const unsigned root = static_cast<unsigned>(root_);
  std::vector<int> parent(bones_.size(), -1);
  for (std::size_t i = 0; i < bones_.size(); ++i) {
    if (i == root) continue;
    for (std::size_t j = 0; j < bones_.size() && parent[i] < 0; ++j)
      if (j != i && bones_[i].parentName.Length() != 0 && bones_[j].name == bones_[i].parentName)
        parent[i] = static_cast<int>(j);
    if (parent[i] < 0) parent[i] = static_cast<int>(root);
  }
  // A loop of parent names never reaches the root: its bones hang below it.
  for (std::size_t i = 0; i < bones_.size(); ++i) {
    if (i == root) continue;
    std::size_t steps = 0;
    for (int up = parent[i]; up >= 0 && up != root_; up = parent[static_cast<std::size_t>(up)])
      if (++steps > bones_.size()) {
        parent[i] = root_;
        break;
      }
  }
  for (std::size_t i = 0; i < bones_.size(); ++i)
    if (parent[i] >= 0) bones_[static_cast<std::size_t>(parent[i])].children.push_back(static_cast<unsigned>(i));
}

VelmarInfluenceMesh::Bone* VelmarInfluenceMesh::GetRootBone() {
  return root_ < 0 ? nullptr : &bones_[static_cast<std::size_t>(root_)];
}

void VelmarInfluenceMesh::AssignMatrices(Vak::GeometryChunk& chunk) const {
  for (std::size_t i = 0; i < bones_.size(); ++i) chunk.AssignInfluenceMatrix(static_cast<unsigned>(i), &bones_[i].current);
}

bool VelmarInfluenceMesh::IsRigidLevel(unsigned level) const {
  if (bones_.empty()) return false;
  const InfluenceGroup* group = GroupOf(bones_.front(), level);
  return group != nullptr && group->rigid != 0;
}

void VelmarInfluenceMesh::BindBones(Vak::Particle* root) {
  BindParticles(root);
  if (root_ >= 0) BindWalk(static_cast<unsigned>(root_), Matrix4::Identity());
}

void VelmarInfluenceMesh::BindParticles(Vak::Particle* root) {
  rootParticle_ = root;
  for (Bone& bone : bones_) {
    if (root == nullptr)
      bone.particle = nullptr;
    else
      bone.particle = root->FindByName(bone.name);
  }
}

Matrix4 VelmarInfluenceMesh::LocalPose(const Bone& bone) {
  return bone.particle ? bone.particle->GetLocalTransform()
                       : Matrix4::FromRotationTranslation(bone.rotation, bone.position);
}

void VelmarInfluenceMesh::BindWalk(unsigned index, const Matrix4& parent) {
  Bone& bone = bones_[index];
  bone.current = parent * LocalPose(bone);
  // Unbound bones too: their vertices then stay where the mesh has them.
  bone.bindInverse = bone.current;
  if (!bone.bindInverse.Invert()) bone.bindInverse = Matrix4::Identity();
  for (unsigned child : bone.children) BindWalk(child, bone.current);
}

void VelmarInfluenceMesh::ClearPositions(unsigned chunkCount, Chunks* chunks, unsigned level) {
  if (chunks == nullptr || IsRigidLevel(level)) return;
  for (unsigned i = 0; i < chunkCount; ++i) {
    Vak::GeometryChunk* chunk = chunks->Get(i);
    if (chunk == nullptr) continue;
    auto positions = chunk->GetItem<Vector3>(Vak::kItemPosition);
    if (!positions) continue;
    for (unsigned v = 0; v < chunk->GetVertexCount(); ++v) positions[v] = Vector3();
  }
}

void VelmarInfluenceMesh::UpdateSkin(unsigned chunkCount, Chunks* chunks, uint32_t stamp, unsigned level) {
  Reserve(level + 1);
  if (stamp != 0 && stamps_[level] == stamp) return;
  stamps_[level] = stamp;
  // A level the bones have no influences in is left as the mesh has it.
  if (root_ < 0 || GroupOf(bones_.front(), level) == nullptr) return;
  if (IsRigidLevel(level)) {
    RigidWalk(static_cast<unsigned>(root_), Matrix4::Identity());
    return;
  }
  ClearPositions(chunkCount, chunks, level);
  SoftwareWalk(static_cast<unsigned>(root_), Transformation(), chunkCount, chunks, level);
}

void VelmarInfluenceMesh::RigidWalk(unsigned index, const Matrix4& parent) {
  Bone& bone = bones_[index];
  const Matrix4 current = parent * LocalPose(bone);
  for (unsigned child : bone.children) RigidWalk(child, current);
  Vector3 scale;
  bone.current = (ParticleScale(bone.particle, scale) ? ScaledColumns(current, scale) : current) * bone.bindInverse;
}

void VelmarInfluenceMesh::SoftwareWalk(unsigned index, const Transformation& parent, unsigned chunkCount,
                                       Chunks* chunks, unsigned level) {
  const Bone& bone = bones_[index];
  const Transformation local = bone.particle
                                   ? Transformation(bone.particle->GetOrientation(), bone.particle->GetPosition())
                                   : Transformation(bone.rotation, bone.position);
  Transformation t;
  t.MultiplyTransform(parent, local);
  for (unsigned child : bone.children) SoftwareWalk(child, t, chunkCount, chunks, level);
  const InfluenceGroup* group = GroupOf(bone, level);
  if (group == nullptr || chunks == nullptr) return;
  Vector3 scale;
  if (ParticleScale(bone.particle, scale)) t.Scale(scale);
  for (const InfluenceEntry& entry : group->entries) {
    if (entry.chunk >= chunkCount) continue;
    Vak::GeometryChunk* chunk = chunks->Get(entry.chunk);
    if (chunk == nullptr) continue;
    auto positions = chunk->GetItem<Vector3>(Vak::kItemPosition);
    if (!positions) continue;
    const unsigned vertices = chunk->GetVertexCount();
    for (const InfluenceRecord& record : entry.records)
      if (record.vertex < vertices) positions[record.vertex] += t.Apply(record.offset) * record.weight;
  }
}

bool VelmarInfluenceMesh::CanTakeRecords(const ChunkInfluences& influences, unsigned level) const {
  for (const ChunkInfluences::BoneRecords& part : influences.influences) {
    const int bone = FindBone(part.bone);
    if (bone < 0 || GroupOf(bones_[static_cast<std::size_t>(bone)], level) == nullptr) return false;
  }
  return true;
}

void VelmarInfluenceMesh::TakeRecords(const ChunkInfluences& influences, unsigned level, unsigned chunk,
                                      unsigned base) {
  for (const ChunkInfluences::BoneRecords& part : influences.influences) {
    const int bone = FindBone(part.bone);
    if (bone < 0 || GroupOf(bones_[static_cast<std::size_t>(bone)], level) == nullptr) continue;
    InfluenceEntry& entry = bones_[static_cast<std::size_t>(bone)].groups[level].entries.emplace_back();
    entry.chunk = chunk;
    entry.records = part.records;
    for (InfluenceRecord& record : entry.records) record.vertex += base;
  }
  Reserve(level + 1);
  stamps_[level] = 0;
}

bool VelmarInfluenceMesh::MapPalette(Vak::GeometryChunk& chunk, const std::vector<Vak::PString>& names,
                                     unsigned first) const {
  std::vector<uint8_t> slots;
  for (const Vak::PString& name : names) {
    const int bone = FindBone(name);
    const int slot = bone < 0 ? -1 : chunk.AddInfluenceMatrix(static_cast<unsigned>(bone));
    if (slot < 0 || 3 * slot > 0xFF) return false;
    slots.push_back(static_cast<uint8_t>(slot));
  }
  auto packed = chunk.GetUDwordArray(Vak::kItemBlendIndices);
  if (!packed) return false;
  for (unsigned v = first; v < chunk.GetVertexCount(); ++v) {
    auto* lanes = reinterpret_cast<uint8_t*>(packed(v));
    for (int lane = 0; lane < 4; ++lane) {
      // A lane naming a slot past the chunk's own bones is not a bone.
      const unsigned slot = lanes[lane] / 3u;
      if (lanes[lane] % 3u == 0 && slot < slots.size()) lanes[lane] = static_cast<uint8_t>(3 * slots[slot]);
    }
  }
  return true;
}
