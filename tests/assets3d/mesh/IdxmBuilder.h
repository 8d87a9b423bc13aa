#pragma once
// Builds indexed mesh files for tests, benches and fuzz seeds, field by field
// in little-endian order. The system has no IDXM writer, so this is the one
// place that lays the chunks out; counts can be overridden to make files
// whose counts disagree with their data.
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"

namespace meshtest {

using Vec3 = std::array<float, 3>;
using Vec2 = std::array<float, 2>;
using Mat9 = std::array<float, 9>;
constexpr Mat9 kIdentity9 = {1, 0, 0, 0, 1, 0, 0, 0, 1};

class Bytes {
public:
  Bytes& U32(uint32_t v) {
    Vak::AppendLE32(out_, v);
    return *this;
  }
  Bytes& U16(uint16_t v) {
    Vak::AppendLE16(out_, v);
    return *this;
  }
  Bytes& F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
  }
  template <std::size_t N> Bytes& Floats(const std::array<float, N>& values) {
    for (float v : values) F32(v);
    return *this;
  }
  Bytes& Tag(const char* tag) {
    out_.append(tag, 4);
    return *this;
  }
  // The padded string of docs/formats/mesh-files.md; null writes a null text.
  Bytes& Str(const char* text) {
    if (text == nullptr) return U32(0);
    const uint32_t stored = static_cast<uint32_t>(std::strlen(text) + 1);
    U32(stored);
    out_.append(text, stored);
    out_.append((4 - stored % 4) % 4, '\0');
    return *this;
  }
  Bytes& Str(const std::string& text) { return Str(text.c_str()); }
  Bytes& Raw(const std::string& bytes) {
    out_ += bytes;
    return *this;
  }
  const std::string& str() const { return out_; }
  operator const std::string&() const { return out_; }

private:
  std::string out_;
};

// Tag, size (the version and payload), version, payload.
inline std::string Chunk(const char* tag, uint32_t version, const std::string& payload) {
  return Bytes().Tag(tag).U32(static_cast<uint32_t>(4 + payload.size())).U32(version).Raw(payload).str();
}

inline std::string Container(const char* type, const std::string& chunks) {
  return Bytes().Tag("VIRF").U32(static_cast<uint32_t>(4 + chunks.size())).Tag(type).Raw(chunks).str();
}

inline std::string Idxm(const std::string& chunks) { return Container("IDXM", chunks); }

struct Info {
  uint32_t version = 104;
  Vec3 position = {0, 0, 0};
  std::array<float, 4> orientation = {0, 0, 0, 1};
  uint32_t chunks = 1;
  uint32_t maxInfluences = 0;
  uint32_t maxMatrices = 0;
};

inline std::string InfoChunk(const Info& info) {
  Bytes b;
  b.Floats(info.position).Floats(info.orientation).U32(info.chunks);
  if (info.version >= 102) b.U32(info.maxInfluences).U32(info.maxMatrices);
  if (info.version == 104) b.Floats(std::array<float, 6>{1, 2, 3, 4, 5, 6});
  return Chunk("INFO", info.version, b);
}

struct Texture {
  uint32_t kind = 0;
  std::string file;
  float value = 1;
};

struct Material {
  uint32_t version = 103;
  std::string name = "mat";
  std::vector<std::pair<std::string, std::string>> properties;
  uint32_t flag = 0;
  float value = 1;
  std::array<Vec3, 4> colours = {Vec3{0.1f, 0.2f, 0.3f}, Vec3{0.4f, 0.5f, 0.6f}, Vec3{0.7f, 0.8f, 0.9f}, Vec3{1, 0.5f, 0.25f}};
  float exponent = 20;
  std::vector<Texture> textures;
};

inline std::string MatlChunk(const Material& m) {
  Bytes b;
  b.Str(m.name).U32(static_cast<uint32_t>(m.properties.size()));
  for (const auto& [name, value] : m.properties) b.Str(name).Str(value);
  b.U32(m.flag).F32(m.value);
  for (const Vec3& c : m.colours) b.Floats(c);
  b.F32(m.exponent).U32(static_cast<uint32_t>(m.textures.size()));
  for (const Texture& t : m.textures) b.U32(t.kind).Str(t.file).F32(t.value);
  return Chunk("MATL", m.version, b);
}

struct Geometry {
  uint32_t version = 201;
  uint32_t primitive = 4;
  uint32_t flags = 0;
  float hintValue = 0.5f;
  uint32_t second = 0;
  uint32_t sets = 1;     // T, stored by versions 103 to 199
  uint32_t weights = 0;  // W, stored from version 102
  std::optional<std::string> name;
  std::vector<Vec3> positions;
  std::vector<Vec2> uvs;  // sets pairs per vertex, vertex by vertex; missing ones are 0
  std::vector<uint16_t> indices;
  std::vector<Vec3> normals;  // missing ones are 0
  std::vector<uint32_t> colours;
  std::vector<Vec3> faceNormals;
  std::vector<Vec3> third;  // written when bit 0 of flags is set
  std::optional<uint32_t> vertexCount, indexCount, faceCount;
  std::string trailing;  // unknown fields before the chunk's end
  bool writeArrays = true;
};

inline uint32_t Sets(const Geometry& g) { return g.version >= 103 && g.version <= 199 ? g.sets : 1; }

inline std::string GeomChunk(const Geometry& g) {
  const uint32_t v = g.vertexCount.value_or(static_cast<uint32_t>(g.positions.size()));
  const uint32_t i = g.indexCount.value_or(static_cast<uint32_t>(g.indices.size()));
  const uint32_t f = g.faceCount.value_or(static_cast<uint32_t>(g.faceNormals.size()));
  const uint32_t sets = Sets(g);
  Bytes b;
  b.U32(g.primitive);
  if (g.version >= 201) b.U32(g.flags);
  b.F32(g.hintValue).U32(v).U32(g.second).U32(i).U32(f);
  if (g.version >= 103 && g.version <= 199) b.U32(g.sets);
  if (g.version >= 102) b.U32(g.weights);
  if (g.version >= 200) b.Str(g.name ? g.name->c_str() : "");
  if (g.writeArrays) {
    const std::size_t n = g.positions.size();
    for (std::size_t k = 0; k < n; ++k) {
      b.Floats(g.positions[k]);
      for (uint32_t s = 0; s < sets; ++s) b.Floats(k * sets + s < g.uvs.size() ? g.uvs[k * sets + s] : Vec2{0, 0});
    }
    for (uint16_t index : g.indices) b.U16(index);
    for (std::size_t k = 0; k < n; ++k) b.Floats(k < g.normals.size() ? g.normals[k] : Vec3{0, 0, 1});
    if (g.version >= 104 && g.version <= 199)
      for (std::size_t k = 0; k < n; ++k) b.U32(k < g.colours.size() ? g.colours[k] : 0xFF808080u);
    for (const Vec3& fn : g.faceNormals) b.Floats(fn);
    if (g.flags & 1)
      for (std::size_t k = 0; k < n; ++k) b.Floats(k < g.third.size() ? g.third[k] : Vec3{0, 0, 0});
  }
  b.Raw(g.trailing);
  return Chunk("GEOM", g.version, b);
}

// A unit quad in the z = 0 plane: four vertices, two triangles.
inline Geometry Quad(uint32_t version = 201) {
  Geometry g;
  g.version = version;
  g.positions = {Vec3{0, 0, 0}, Vec3{1, 0, 0}, Vec3{1, 1, 0}, Vec3{0, 1, 0}};
  g.uvs = {Vec2{0, 0}, Vec2{1, 0}, Vec2{1, 1}, Vec2{0, 1}};
  g.indices = {0, 1, 2, 0, 2, 3};
  g.faceNormals = {Vec3{0, 0, 1}, Vec3{0, 0, 1}};
  return g;
}

// A grid of n x n vertices with two triangles per cell.
inline Geometry Grid(uint32_t n) {
  Geometry g;
  for (uint32_t y = 0; y < n; ++y)
    for (uint32_t x = 0; x < n; ++x) {
      g.positions.push_back(Vec3{float(x), float(y), 0});
      g.uvs.push_back(Vec2{float(x) / float(n), float(y) / float(n)});
    }
  for (uint32_t y = 0; y + 1 < n; ++y)
    for (uint32_t x = 0; x + 1 < n; ++x) {
      const uint16_t a = uint16_t(y * n + x), b = uint16_t(a + 1), c = uint16_t(a + n), d = uint16_t(c + 1);
      g.indices.insert(g.indices.end(), {a, b, d, a, d, c});
      g.faceNormals.push_back(Vec3{0, 0, 1});
      g.faceNormals.push_back(Vec3{0, 0, 1});
    }
  return g;
}

struct ChunkGroup {
  Material material;
  Geometry geometry;
  std::optional<std::vector<std::array<uint32_t, 3>>> neighbours;  // NINF when set
  uint32_t version = 100;
};

inline std::string NinfChunk(const std::vector<std::array<uint32_t, 3>>& records) {
  Bytes b;
  for (const auto& r : records) b.U32(r[0]).U32(r[1]).U32(r[2]);
  return Chunk("NINF", 100, b);
}

inline std::string ChnkChunk(const ChunkGroup& c) {
  std::string payload = Bytes().U32(0).str() + MatlChunk(c.material) + GeomChunk(c.geometry);
  if (c.neighbours) payload += NinfChunk(*c.neighbours);
  return Chunk("CHNK", c.version, payload);
}

struct Entry {
  uint32_t vertex = 0;
  float weight = 1;
  Vec3 offset = {0, 0, 0};
};

struct Group {
  uint32_t chunk = 0;
  std::vector<Entry> entries;
};

struct Influence {
  std::string name;
  std::optional<std::string> parent;  // none writes an empty name
  Vec3 position = {0, 0, 0};
  Mat9 matrix = kIdentity9;
  std::vector<Group> groups;
};

inline std::string InflChunk(const std::vector<Influence>& influences, uint32_t version = 100) {
  Bytes b;
  b.U32(static_cast<uint32_t>(influences.size()));
  for (const Influence& in : influences) {
    b.Str(in.name).Str(in.parent ? in.parent->c_str() : "").Floats(in.position).Floats(in.matrix);
    b.U32(static_cast<uint32_t>(in.groups.size()));
    for (const Group& g : in.groups) {
      b.U32(g.chunk).U32(static_cast<uint32_t>(g.entries.size()));
      for (const Entry& e : g.entries) b.U32(e.vertex).F32(e.weight).Floats(e.offset);
    }
  }
  return Chunk("INFL", version, b);
}

struct Bone {
  std::string name;
  Vec3 position = {0, 0, 0};
  std::array<float, 4> rotation = {0, 0, 0, 1};
  std::vector<Bone> children = {};
  uint32_t version = 100;
};

inline std::string BoneChunk(const Bone& bone) {
  Bytes b;
  b.Str(bone.name).Floats(bone.position).Floats(bone.rotation).U32(static_cast<uint32_t>(bone.children.size()));
  for (const Bone& child : bone.children) b.Raw(BoneChunk(child));
  return Chunk("BONE", bone.version, b);
}

inline std::string SkelChunk(const Bone& root, uint32_t version = 100) { return Chunk("SKEL", version, BoneChunk(root)); }

struct Attachment {
  std::string name;
  Mat9 matrix = kIdentity9;
  Vec3 position = {0, 0, 0};
};

inline std::string AtchChunk(const std::vector<Attachment>& points) {
  Bytes b;
  b.U32(static_cast<uint32_t>(points.size()));
  for (const Attachment& p : points) b.Str(p.name).Floats(p.matrix).Floats(p.position);
  return Chunk("ATCH", 100, b);
}

struct Pmin {
  std::vector<uint32_t> indices;
  std::vector<std::array<uint32_t, 4>> steps;
  std::vector<std::array<uint32_t, 2>> groups;
  std::vector<uint32_t> tops;
  std::optional<uint32_t> a, b, c, d;  // counts to write instead of the arrays' sizes
  uint32_t version = 101;
};

inline std::string PminChunk(const Pmin& p) {
  Bytes b;
  b.U32(p.a.value_or(static_cast<uint32_t>(p.indices.size())))
      .U32(p.b.value_or(static_cast<uint32_t>(p.steps.size())))
      .U32(p.c.value_or(static_cast<uint32_t>(p.groups.size())))
      .U32(p.d.value_or(static_cast<uint32_t>(p.tops.size())));
  for (uint32_t i : p.indices) b.U32(i);
  for (const auto& s : p.steps) b.U32(s[0]).U32(s[1]).U32(s[2]).U32(s[3]);
  for (const auto& g : p.groups) b.U32(g[0]).U32(g[1]);
  for (uint32_t t : p.tops) b.U32(t);
  return Chunk("PMIN", p.version, b);
}

// A whole file: INFO counting the groups, the groups, then what follows them.
inline std::string IdxmFile(const std::vector<ChunkGroup>& groups, const std::string& after = "", Info info = {}) {
  info.chunks = static_cast<uint32_t>(groups.size());
  std::string chunks = InfoChunk(info);
  for (const ChunkGroup& g : groups) chunks += ChnkChunk(g);
  return Idxm(chunks + after);
}

// One quad with the default material.
inline ChunkGroup QuadGroup(uint32_t version = 201) {
  ChunkGroup c;
  c.geometry = Quad(version);
  return c;
}

} // namespace meshtest
