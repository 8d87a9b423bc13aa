#pragma once
// Builds level-of-detail mesh files for tests and fuzz seeds, with the chunk
// pieces of IdxmBuilder.h. Geometry is written as version 201, whose layout
// is the same in both file types.
#include <optional>
#include <string>
#include <vector>

#include "tests/assets3d/mesh/IdxmBuilder.h"

namespace meshtest {

struct NamedLevel {
  uint32_t level = 0;
  std::string name;
  std::optional<uint8_t> animated = 0;  // none leaves the byte out
};

struct LodInfo {
  uint32_t version = 100;
  Vec3 position = {1, 2, 3};
  std::array<float, 4> orientation = {0, 0, 0, 1};
  std::optional<uint32_t> levels;  // none counts the file's levels
  uint32_t calcPoint = 0;
  float offset = 0.5f, multiplier = 1.5f, animationCutOff = 10, renderCutOff = 20, attachmentCutOff = 30;
  std::vector<NamedLevel> named;
};

struct BoneRecord {
  std::string name;
  std::string parent;
  Vec3 position = {0, 0, 0};
  Mat9 matrix = kIdentity9;
};

struct LevelChunk {
  uint32_t material = 0;
  Geometry geometry = Quad();
  std::optional<std::vector<std::array<uint32_t, 3>>> neighbours = {};
};

struct Level {
  float distance = 10;
  uint32_t maxInfluences = 0, maxMatrices = 0;
  std::vector<LevelChunk> chunks = {LevelChunk{}};
  std::optional<std::vector<std::vector<Group>>> bones;  // LODB: per bone of the table
  std::optional<uint32_t> chunkCount;
};

struct Lodm {
  LodInfo info;
  std::vector<Material> materials = {Material{}};
  std::optional<uint32_t> materialCount;
  std::optional<std::vector<BoneRecord>> bont;
  std::optional<std::vector<BoneRecord>> rbot;
  std::vector<Attachment> attachments;
  std::vector<Level> levels = {Level{}};
};

inline std::string BoneRecords(const std::vector<BoneRecord>& bones) {
  Bytes b;
  b.U32(static_cast<uint32_t>(bones.size()));
  for (const BoneRecord& r : bones) b.Str(r.name).Str(r.parent).Floats(r.position).Floats(r.matrix);
  return b;
}

inline std::string LodbChunk(const std::vector<std::vector<Group>>& perBone) {
  Bytes b;
  for (const std::vector<Group>& groups : perBone) {
    b.U32(static_cast<uint32_t>(groups.size()));
    for (const Group& g : groups) {
      b.U32(g.chunk).U32(static_cast<uint32_t>(g.entries.size()));
      for (const Entry& e : g.entries) b.U32(e.vertex).F32(e.weight).Floats(e.offset);
    }
  }
  return Chunk("LODB", 100, b);
}

inline std::string MeshChunk(const Level& level) {
  Bytes b;
  b.U32(level.chunkCount.value_or(static_cast<uint32_t>(level.chunks.size())))
      .U32(level.maxInfluences)
      .U32(level.maxMatrices)
      .F32(level.distance);
  if (level.bones) b.Raw(LodbChunk(*level.bones));
  for (std::size_t j = 0; j < level.chunks.size(); ++j) {
    const LevelChunk& c = level.chunks[j];
    std::string payload = Bytes().U32(static_cast<uint32_t>(j)).U32(c.material).str() + GeomChunk(c.geometry);
    if (c.neighbours) payload += NinfChunk(*c.neighbours);
    b.Raw(Chunk("LCHK", 100, payload));
  }
  return Chunk("MESH", 100, b);
}

inline std::string LodmFile(const Lodm& m) {
  Bytes info;
  const LodInfo& i = m.info;
  info.Floats(i.position).Floats(i.orientation).U32(i.levels.value_or(static_cast<uint32_t>(m.levels.size())));
  info.U32(i.calcPoint).F32(i.offset).F32(i.multiplier).F32(i.animationCutOff).F32(i.renderCutOff);
  info.F32(i.attachmentCutOff).U32(static_cast<uint32_t>(i.named.size()));
  for (const NamedLevel& n : i.named) {
    info.U32(n.level).Str(n.name);
    if (n.animated) info.Raw(std::string(1, static_cast<char>(*n.animated)));
  }
  std::string chunks = Chunk("INFO", i.version, info);
  Bytes matt;
  matt.U32(m.materialCount.value_or(static_cast<uint32_t>(m.materials.size())));
  for (const Material& material : m.materials) matt.Raw(MatlChunk(material));
  chunks += Chunk("MATT", 100, matt);
  if (m.bont) chunks += Chunk("BONT", 100, BoneRecords(*m.bont));
  if (m.rbot) chunks += Chunk("RBOT", 100, BoneRecords(*m.rbot));
  if (!m.attachments.empty()) chunks += AtchChunk(m.attachments);
  for (const Level& level : m.levels) chunks += MeshChunk(level);
  return Container("LODM", chunks);
}

// Levels switched at these distances, one quad each.
inline Lodm LevelsAt(const std::vector<float>& distances) {
  Lodm m;
  m.levels.clear();
  for (float d : distances) {
    Level level;
    level.distance = d;
    m.levels.push_back(level);
  }
  return m;
}

} // namespace meshtest
