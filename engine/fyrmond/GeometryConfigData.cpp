#include "engine/fyrmond/GeometryConfigData.h"

#include <new>

namespace Vak {
namespace {

constexpr unsigned kMaxTexCoordSets = 8;
constexpr unsigned kMaxWeights = 4;

// All of an entry's values as numbers; exactly `count` of them.
bool Numbers(const ConfigEntry& entry, float* out, unsigned count) {
  if (entry.values.size() != count) return false;
  for (unsigned i = 0; i < count; ++i)
    if (!ConfigData::ToFloat(entry.values[i], out[i])) return false;
  return true;
}

// An absent key keeps `out`; a present one must be one whole number in
// [0, limit].
bool Unsigned(const ConfigData& data, const char* key, unsigned limit, unsigned& out) {
  const ConfigEntry* entry = data.Find(key);
  if (!entry) return true;
  int value;
  if (entry->values.size() != 1 || !ConfigData::ToInt(entry->values[0], value) || value < 0 ||
      unsigned(value) > limit)
    return false;
  out = unsigned(value);
  return true;
}

bool Text(const ConfigEntry& entry, AnsiString& out) {
  if (entry.values.size() != 1 || !entry.values[0].quoted) return false;
  out = entry.values[0].text;
  return true;
}

bool Vector(const ConfigEntry& entry, Vector3& out) {
  float v[3];
  if (!Numbers(entry, v, 3)) return false;
  out = Vector3(v[0], v[1], v[2]);
  return true;
}

bool Rotation(const ConfigEntry& entry, Quaternion& out) {
  float q[4];
  if (!Numbers(entry, q, 4)) return false;
  out = Quaternion(q[0], q[1], q[2], q[3]);
  return true;
}

bool LoadMaterial(const ConfigData& data, GeometryConfigData::Material& material) {
  for (unsigned i = 0; i < data.GetCount(); ++i) {
    const ConfigEntry& entry = data.GetEntry(i);
    const AnsiString& key = entry.key;
    bool ok = true;
    if (key.EqualsIgnoreCase("type")) {
      ok = Text(entry, material.typeName);
    } else if (key.EqualsIgnoreCase("texture")) {
      AnsiString name;
      ok = Text(entry, name);
      material.textures.push_back(name);
    } else if (key.EqualsIgnoreCase("property")) {
      ok = entry.values.size() == 2 && entry.values[0].quoted;
      if (ok) material.properties.emplace_back(entry.values[0].text, entry.values[1].text);
    } else if (key.EqualsIgnoreCase("flag")) {
      int flag;
      ok = entry.values.size() == 1 && ConfigData::ToInt(entry.values[0], flag) && flag >= 0;
      if (ok) material.flag = uint32_t(flag);
    } else if (key.EqualsIgnoreCase("value")) {
      ok = Numbers(entry, &material.value, 1);
    } else if (key.EqualsIgnoreCase("diffuse")) {
      ok = Numbers(entry, material.diffuse, 4);
    } else if (key.EqualsIgnoreCase("ambient")) {
      ok = Numbers(entry, material.ambient, 4);
    } else if (key.EqualsIgnoreCase("specular")) {
      ok = Numbers(entry, material.specular, 4);
    } else if (key.EqualsIgnoreCase("emissive")) {
      ok = Numbers(entry, material.emissive, 4);
    } else if (key.EqualsIgnoreCase("exponent")) {
      ok = Numbers(entry, &material.exponent, 1);
    }
    if (!ok) return false;
  }
  return material.typeName.Size() > 0;
}

} // namespace

bool GeometryConfigData::LoadChunk(const ConfigData& data, Chunk& chunk) const {
  if (!Unsigned(data, "texCoordSets", kMaxTexCoordSets, chunk.texCoordSets) ||
      !Unsigned(data, "weightsPerVertex", kMaxWeights, chunk.weightsPerVertex) ||
      !Unsigned(data, "secondSize", kVertexLimit, chunk.secondSize))
    return false;
  const ConfigEntry* name = data.Find("name");
  if (name && !Text(*name, chunk.name)) return false;
  const ConfigData* material = data.FindGroup("material");
  if (!material || !LoadMaterial(*material, chunk.material)) return false;

  const unsigned perVertex = 6 + 2 * chunk.texCoordSets;
  const unsigned vertexLimit = maxVertices_ ? maxVertices_ : kVertexLimit;
  float numbers[6 + 2 * kMaxTexCoordSets];
  for (unsigned i = 0; i < data.GetCount(); ++i) {
    const ConfigEntry& entry = data.GetEntry(i);
    if (entry.key.EqualsIgnoreCase("vertex")) {
      if (chunk.positions.size() >= vertexLimit || !Numbers(entry, numbers, perVertex)) return false;
      chunk.positions.emplace_back(numbers[0], numbers[1], numbers[2]);
      chunk.normals.emplace_back(numbers[3], numbers[4], numbers[5]);
      chunk.texCoords.insert(chunk.texCoords.end(), numbers + 6, numbers + perVertex);
    } else if (entry.key.EqualsIgnoreCase("colour")) {
      if (!Numbers(entry, numbers, 8)) return false;
      chunk.colours.insert(chunk.colours.end(), numbers, numbers + 8);
    } else if (entry.key.EqualsIgnoreCase("triangle")) {
      if (entry.values.size() != 3) return false;
      for (const ConfigValue& value : entry.values) {
        int index;
        if (!ConfigData::ToInt(value, index) || index < 0 || unsigned(index) >= kVertexLimit) return false;
        chunk.indices.push_back(uint16_t(index));
      }
    } else if (entry.key.EqualsIgnoreCase("faceNormal")) {
      Vector3 normal;
      if (!Vector(entry, normal)) return false;
      chunk.faceNormals.push_back(normal);
    }
  }
  const unsigned vertices = chunk.GetVertexCount();
  if (vertices == 0) return false;
  if (!chunk.colours.empty() && chunk.colours.size() != std::size_t(vertices) * 8) return false;
  for (uint16_t index : chunk.indices)
    if (index >= vertices) return false;
  if (!chunk.faceNormals.empty() && chunk.faceNormals.size() * 3 != chunk.indices.size()) return false;
  return true;
}

bool GeometryConfigData::LoadInfluence(const ConfigData& data, Influence& influence) const {
  const ConfigEntry* name = data.Find("name");
  if (!name || !Text(*name, influence.name)) return false;
  const ConfigEntry* parent = data.Find("parent");
  if (parent && !Text(*parent, influence.parentName)) return false;
  const ConfigEntry* position = data.Find("position");
  if (position && !Vector(*position, influence.position)) return false;
  const ConfigEntry* matrix = data.Find("matrix");
  if (matrix && !Numbers(*matrix, &influence.matrix.m[0][0], 9)) return false;
  for (unsigned i = 0; i < data.GetCount(); ++i) {
    const ConfigEntry& entry = data.GetEntry(i);
    if (!entry.key.EqualsIgnoreCase("group")) continue;
    if (!entry.group) return false;
    InfluenceDefinition::Group group;
    unsigned chunk = chunks_.size();
    if (!Unsigned(*entry.group, "chunk", chunks_.size(), chunk) || chunk >= chunks_.size()) return false;
    group.chunk = chunk;
    const unsigned vertices = chunks_[chunk].GetVertexCount();
    for (unsigned k = 0; k < entry.group->GetCount(); ++k) {
      const ConfigEntry& item = entry.group->GetEntry(k);
      if (!item.key.EqualsIgnoreCase("entry")) continue;
      int vertex;
      float rest[4];
      if (item.values.size() != 5 || !ConfigData::ToInt(item.values[0], vertex) || vertex < 0 ||
          unsigned(vertex) >= vertices)
        return false;
      for (unsigned v = 0; v < 4; ++v)
        if (!ConfigData::ToFloat(item.values[v + 1], rest[v])) return false;
      group.entries.push_back({uint32_t(vertex), rest[0], Vector3(rest[1], rest[2], rest[3])});
    }
    influence.groups.push_back(std::move(group));
  }
  return true;
}

bool GeometryConfigData::Load(const ConfigData& data, const char* fileName) {
  *this = GeometryConfigData();
  fileName_ = fileName;
  try {
    if (!Unsigned(data, "maxVertices", kVertexLimit, maxVertices_)) return false;
    if (int(data.GetVersion() * 100) != 100) return false;
    if (!Unsigned(data, "maxInfluences", kMaxWeights, maxInfluences_) ||
        !Unsigned(data, "maxMatrices", 0xFFFF, maxMatrices_))
      return false;
    const ConfigEntry* position = data.Find("position");
    if (position && !Vector(*position, position_)) return false;
    const ConfigEntry* orientation = data.Find("orientation");
    if (orientation && !Rotation(*orientation, orientation_)) return false;
    // Chunks first: influences name them by index.
    for (unsigned i = 0; i < data.GetCount(); ++i) {
      const ConfigEntry& entry = data.GetEntry(i);
      if (!entry.key.EqualsIgnoreCase("chunk")) continue;
      if (!entry.group) return false;
      chunks_.emplace_back();
      if (!LoadChunk(*entry.group, chunks_.back())) return false;
    }
    if (chunks_.empty()) return false;
    for (unsigned i = 0; i < data.GetCount(); ++i) {
      const ConfigEntry& entry = data.GetEntry(i);
      if (entry.key.EqualsIgnoreCase("influence")) {
        if (!entry.group) return false;
        influences_.emplace_back();
        if (!LoadInfluence(*entry.group, influences_.back())) return false;
      } else if (entry.key.EqualsIgnoreCase("attachment")) {
        if (!entry.group) return false;
        AttachmentPoint point;
        const ConfigEntry* name = entry.group->Find("name");
        const ConfigEntry* rotation = entry.group->Find("orientation");
        const ConfigEntry* place = entry.group->Find("position");
        if (!name || !Text(*name, point.name) || (rotation && !Rotation(*rotation, point.orientation)) ||
            (place && !Vector(*place, point.position)))
          return false;
        attachments_.push_back(std::move(point));
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

} // namespace Vak
