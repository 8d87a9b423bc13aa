#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "Vak/Bexlorn/Alloc.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/elthrac/ParticleVisibleBoundingBox.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;

std::string WithGeometry(const std::function<void(Geometry&)>& change) {
  ChunkGroup g = QuadGroup();
  change(g.geometry);
  return IdxmFile({g});
}

std::string WithMaterial(const std::function<void(Material&)>& change) {
  ChunkGroup g = QuadGroup();
  change(g.material);
  return IdxmFile({g});
}

// Replaces the u32 at `offset` of a well-formed file.
std::string Patched(std::string bytes, std::size_t offset, uint32_t value) {
  Vak::PatchLE32(bytes, offset, value);
  return bytes;
}

// Offset of the first occurrence of a tag.
std::size_t At(const std::string& bytes, const char* tag) { return bytes.find(std::string(tag, 4)); }

TEST(IndexedMeshFileTest, ResultCodes) {
  const std::string good = IdxmFile({QuadGroup()});
  struct Case {
    const char* what;
    std::string bytes;
    unsigned long code;
    std::function<void(Loader&)> setUp;
  } cases[] = {
      {"well formed", good, 0, nullptr},
      {"empty file", "", 2, nullptr},
      {"shorter than 12 bytes", good.substr(0, 11), 3, nullptr},
      {"magic", "VIRX" + good.substr(4), 3, nullptr},
      {"type", good.substr(0, 8) + "LODM" + good.substr(12), 3, nullptr},
      {"size claims more", Patched(good, 4, static_cast<uint32_t>(good.size() - 8 + 4)), 3, nullptr},
      {"size claims fewer", Patched(good, 4, static_cast<uint32_t>(good.size() - 8 - 4)), 3, nullptr},
      {"trailing bytes inside the container", Idxm(good.substr(12) + "XXXX"), 3, nullptr},
      {"first tag", good.substr(0, 12) + "INFX" + good.substr(16), 3, nullptr},
      {"index equal to V", WithGeometry([](Geometry& g) { g.indices[2] = 4; }), 3, nullptr},
      {"primitive code 3", WithGeometry([](Geometry& g) { g.primitive = 3; }), 3, nullptr},
      {"INFO version 99", Patched(good, At(good, "INFO") + 8, 99), 4, nullptr},
      {"INFO version 105", Patched(good, At(good, "INFO") + 8, 105), 4, nullptr},
      {"CHNK version 101", Patched(good, At(good, "CHNK") + 8, 101), 4, nullptr},
      {"MATL version 101", Patched(good, At(good, "MATL") + 8, 101), 4, nullptr},
      {"GEOM version 100", Patched(good, At(good, "GEOM") + 8, 100), 4, nullptr},
      {"GEOM version 202", Patched(good, At(good, "GEOM") + 8, 202), 4, nullptr},
      {"no material manager", good, 5, [](Loader& l) { l.withManager = false; }},
      {"material not found", good, 6,
       [](Loader& l) { l.manager.SetDefaultAnswer(Vak::MaterialManager::kNotFound); }},
      {"material failed", good, 7, [](Loader& l) { l.manager.SetDefaultAnswer(Vak::MaterialManager::kFailed); }},
      {"fall-back fails too", good, 7,
       [](Loader& l) {
         l.resource.fallBack = true;
         l.manager.SetDefaultAnswer(Vak::MaterialManager::kNotFound);
       }},
  };
  for (const Case& c : cases) {
    Loader loader;
    if (c.setUp) c.setUp(loader);
    EXPECT_EQ(loader.Indexed(c.bytes), c.code) << c.what;
  }
}

// No read goes past the data, and counts that cannot fit fail before
// anything is made for them.
TEST(IndexedMeshFileTest, CountsAndSizesThatDoNotFitFail) {
  const std::string good = IdxmFile({QuadGroup()});
  const std::size_t geom = At(good, "GEOM");
  Influence bone{"root", std::nullopt, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 1, {}}}}}};
  const std::string withInfl = IdxmFile({QuadGroup()}, InflChunk({bone}));
  const std::size_t infl = At(withInfl, "INFL");
  // Count, the names "root" (12 bytes) and "" (8), position and matrix.
  const std::size_t groups = infl + 12 + 4 + 12 + 8 + 12 + 36;
  const std::string withAtch = IdxmFile({QuadGroup()}, AtchChunk({Attachment{"a.x"}}));
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"INFO cut in a 32-bit field", Idxm(InfoChunk({}).substr(0, 30))},
      {"chunk count", Patched(good, At(good, "INFO") + 12 + 28, 0x7FFFFFFF)},
      {"GEOM end past the container", Patched(good, geom + 4, 0x7FFFFFF0)},
      {"vertex count", Patched(good, geom + 12 + 12, 0x10000000)},
      {"index count", Patched(good, geom + 12 + 20, 0x40000000)},
      {"face count", Patched(good, geom + 12 + 24, 0x20000000)},
      {"property count", WithMaterial([](Material& m) { m.properties = {{"a", "b"}}; })},
      {"influence count", Patched(withInfl, infl + 12, 0x10000000)},
      {"group count", Patched(withInfl, groups, 0x10000000)},
      {"entry count", Patched(withInfl, groups + 8, 0x10000000)},
      {"attachment count", Patched(withAtch, At(withAtch, "ATCH") + 12, 0x10000000)},
  };
  // The property count sits right after the material name.
  const std::size_t matl = At(cases[6].bytes, "MATL");
  cases[6].bytes = Patched(cases[6].bytes, matl + 12 + 8, 0x10000000);
  for (const Case& c : cases) {
    Loader loader;
    EXPECT_EQ(loader.Indexed(c.bytes), 3u) << c.what;
  }
  // Index counts that fit in what is left, some not after the vertices,
  // over data that reads as valid indices to its end: a count that fits
  // loads, one that does not fails, and none reads past the data.
  std::string zeroed = good;
  std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(geom + 12 + 28), zeroed.end(), '\0');
  for (uint32_t count = 7; count < good.size() / 2; ++count) {
    Loader loader;
    const unsigned long result = loader.Indexed(Patched(zeroed, geom + 12 + 20, count));
    EXPECT_TRUE(result == 0 || result == 3) << "index count " << count << ": " << result;
  }
}

TEST(IndexedMeshFileTest, OptionalChunksAtTheEndOfTheDataReadNoTag) {
  for (uint32_t left : {0u, 2u}) {
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}), def), 0u);
    // Reload the same bytes plus a few, and stand at the end.
    loader.folder.WriteFile("t.bin", std::string(8 + left, 'x'));
    Vak::File file;
    ASSERT_TRUE(file.Open((loader.folder / "t.bin").c_str(), Vak::File::kRead).Ok());
    Vak::MemoryFile& m = def->GetMemoryFile();
    ASSERT_TRUE(m.Open(file, false, 0));
    m.Skip(8);
    unsigned long result = 99;
    EXPECT_EQ(*def->ReadAttachmentChunk(&result, m), 0u) << left;
    EXPECT_EQ(m.Tell(), 8u) << left;
    EXPECT_EQ(*def->ReadInfluenceChunk(&result, m), 0u) << left;
    EXPECT_EQ(m.Tell(), 8u) << left;
  }
}

TEST(IndexedMeshFileTest, EmptyChunksAreDropped) {
  ChunkGroup first = QuadGroup(), second = QuadGroup(), third = QuadGroup();
  second.geometry.indices.clear();
  third.geometry.positions.push_back(Vec3{5, 5, 5});
  third.material.name = "third";
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({first, second, third}), def), 0u);
  EXPECT_EQ(def->GetChunkCount(), 2);
  ASSERT_EQ(def->GetChunks()->Count(), 2u);
  ASSERT_EQ(def->GetMaterials()->Count(), 2u);
  EXPECT_EQ(def->GetChunk(1)->GetVertexCount(), 5u);
  EXPECT_STREQ(def->GetMaterialName(1).c_str(), "*meshes\\body*third");
  EXPECT_EQ(def->GetTotalVertices(), 9);
  EXPECT_EQ(def->GetTotalFaces(), 4);
}

TEST(IndexedMeshFileTest, PrimitiveCodesMapToGeometryTypes) {
  const std::pair<uint32_t, int> cases[] = {{0, 5}, {1, 3}, {2, 4}, {4, 0}, {8, 1}, {16, 2}, {32, 5}, {36, 0}, {0xFFFFFFE8u, 1}};
  for (const auto& [code, type] : cases) {
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(WithGeometry([&](Geometry& g) { g.primitive = code; }), def), 0u) << code;
    EXPECT_EQ(def->GetPrimitiveType(0), type) << code;
  }
}

TEST(IndexedMeshFileTest, GeometryVersions) {
  struct Case {
    uint32_t version;
    uint32_t sets;
    bool colours;
    const char* name;  // null: no name
  } cases[] = {
      {103, 2, false, nullptr},
      {104, 2, true, nullptr},
      {199, 1, true, nullptr},
      {200, 1, false, "body"},
      {201, 1, false, "body"},
      {102, 1, false, nullptr},
  };
  for (const Case& c : cases) {
    Loader loader;
    loader.display.SetCapability(26, false);
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    const std::string bytes = WithGeometry([&](Geometry& g) {
      g.version = c.version;
      g.sets = c.sets;
      g.name = c.name ? std::optional<std::string>(c.name) : std::nullopt;
      g.colours = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0x80102030u};
      g.uvs.clear();
      for (int v = 0; v < 4; ++v)
        for (uint32_t s = 0; s < Sets(g); ++s) g.uvs.push_back(Vec2{float(v), float(s + 10)});
    });
    ASSERT_EQ(loader.Indexed(bytes, def), 0u) << c.version;
    EXPECT_EQ(def->GetTextureSetCount(0), c.sets) << c.version;
    std::vector<Vak::TexCoord> uv(4);
    ASSERT_TRUE(def->CopyTextureSet(0, c.sets - 1, uv.data(), sizeof(Vak::TexCoord)));
    EXPECT_EQ(uv[3].u, 3.0f) << c.version;
    EXPECT_EQ(uv[3].v, float(c.sets - 1 + 10)) << c.version;
    uint32_t colours[4];
    ASSERT_TRUE(def->CopyColours(0, colours, 4, false, 0));
    EXPECT_EQ(colours[0], c.colours ? Vak::Display::ConvertColor(0xFF0000FFu) : loader.defaultColour) << c.version;
    EXPECT_EQ(colours[3], c.colours ? Vak::Display::ConvertColor(0x80102030u) : loader.defaultColour) << c.version;
    EXPECT_STREQ(def->GetChunkNames().at(0).c_str(), c.name ? c.name : "") << c.version;
    EXPECT_EQ(def->GetChunkNames().at(0).IsNull(), c.name == nullptr) << c.version;
  }
}

TEST(IndexedMeshFileTest, TrailingGeometryFieldsAreSkippedAndTheThirdVectorRead) {
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  const std::string bytes = WithGeometry([](Geometry& g) {
    g.flags = 1;
    g.third = {Vec3{1, 2, 3}, Vec3{4, 5, 6}, Vec3{7, 8, 9}, Vec3{0, 1, 0}};
    g.trailing = std::string(12, '\x7f');
  });
  ASSERT_EQ(loader.Indexed(bytes, def), 0u);
  auto third = def->GetChunk(0)->GetItem<Vak::Vector3>(Vak::kItemTangent);
  ASSERT_TRUE(third);
  EXPECT_EQ(third[1], Vak::Vector3(4, 5, 6));
}

TEST(IndexedMeshFileTest, MaterialColourAndExponentRules) {
  struct Case {
    uint32_t version;
    float exponent;
    Vak::Colour specular;
    float power;
  } cases[] = {
      {102, 50, {0, 0, 0, 0}, 10},
      {103, 5, {0.7f, 0.8f, 0.9f, 1}, 10},
      {103, 20, {0.7f, 0.8f, 0.9f, 1}, 20},
  };
  for (const Case& c : cases) {
    Loader loader;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    ASSERT_EQ(loader.Indexed(WithMaterial([&](Material& m) {
                m.version = c.version;
                m.exponent = c.exponent;
                m.flag = 7;
                m.value = 0.25f;
                m.properties = {{"shine", "1"}, {"tint", "red"}};
                m.textures = {Texture{1, "c:\\somewhere\\skin.texture", 2}};
              }),
                             def),
              0u)
        << c.version;
    const Vak::DisplayMaterial d = def->GetDisplayMaterial(0);
    EXPECT_EQ(d.specular, c.specular) << c.version;
    EXPECT_EQ(d.power, c.power) << c.version;
    EXPECT_EQ(d.diffuse, (Vak::Colour{0.1f, 0.2f, 0.3f, Vak::DisplayMaterial().diffuse.a})) << c.version;
    EXPECT_EQ(d.emissive, (Vak::Colour{0.5f, 0.25f, 0.125f, Vak::DisplayMaterial().emissive.a * 0.5f})) << c.version;
    EXPECT_TRUE(def->GetMaterialFlag(0));
    EXPECT_EQ(def->GetMaterialValue(0), 0.25f);
    ASSERT_EQ(def->GetMaterialPropertyCount(0), 2u);
    char* value = def->CopyMaterialProperty(0, 1, true);
    EXPECT_STREQ(value, "red");
    Vak::Alloc::Delete(value);
    ASSERT_EQ(def->GetMaterialTextures(0)->size(), 1u);
    EXPECT_STREQ(def->GetMaterialTextures(0)->at(0).file.c_str(), "meshes\\body\\skin.texture");
  }
}

TEST(IndexedMeshFileTest, AFileEndingAfterItsLastGroupHasNoSkeleton) {
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup(), QuadGroup()}), def), 0u);
  EXPECT_EQ(def->GetRootBone(), nullptr);
  EXPECT_EQ(def->GetInfluenceCount(), 0);
  EXPECT_EQ(def->GetAttachmentPointCount(), 0);
}

TEST(IndexedMeshFileTest, InfluenceGroups) {
  Influence a{"root", std::nullopt, {1, 2, 3}, kIdentity9,
              {Group{0, {}}, Group{0, {Entry{1, 0.5f, {1, 1, 1}}, Entry{2, 0.25f, {}}}}, Group{1, {}}}};
  Influence b{"arm", "root", {0, 0, 0}, kIdentity9, {Group{0, {}}}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, InflChunk({a, b})), def), 0u);
  ASSERT_EQ(def->GetInfluenceCount(), 2);
  EXPECT_STREQ(def->GetInfluenceName(0).c_str(), "root");
  EXPECT_STREQ(def->GetInfluenceParentName(1).c_str(), "root");
  EXPECT_EQ(def->GetInfluencePosition(0), Vak::Vector3(1, 2, 3));
  ASSERT_EQ(def->GetInfluenceGroupCount(0), 1u) << "groups without entries are dropped";
  EXPECT_EQ(def->GetInfluenceGroupEntryCount(0, 0), 2u);
  EXPECT_EQ(def->GetInfluenceGroupCount(1), 0u);
  Vak::InfluenceDefinition::Entry entries[2];
  ASSERT_TRUE(def->CopyInfluenceGroupEntries(0, 0, entries));
  EXPECT_EQ(entries[0].vertex, 1u);
  EXPECT_EQ(entries[0].weight, 0.5f);
  EXPECT_EQ(entries[0].offset, Vak::Vector3(1, 1, 1));

  // An INFL whose payload does not end at its end.
  std::string infl = InflChunk({a});
  infl = Chunk("INFL", 100, infl.substr(12) + "pad!");
  EXPECT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, infl)), 3u);
}

TEST(IndexedMeshFileTest, AttachmentPoints) {
  Attachment p{"a.door", {0, 1, 0, -1, 0, 0, 0, 0, 1}, {1, 2, 3}};
  Attachment q{"b.light", kIdentity9, {4, 5, 6}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, AtchChunk({p, q})), def), 0u);
  ASSERT_EQ(def->GetAttachmentPointCount(), 2);
  EXPECT_STREQ(def->GetAttachmentPointName(0).c_str(), "a.door");
  EXPECT_EQ(def->GetAttachmentPointPosition(1), Vak::Vector3(4, 5, 6));
  EXPECT_EQ(def->GetAttachmentPoints()[0].matrix[1], 1.0f);
}

TEST(IndexedMeshFileTest, NeighboursAreReadPerFace) {
  ChunkGroup g = QuadGroup();
  g.neighbours = std::vector<std::array<uint32_t, 3>>{{1, 2, 3}, {4, 5, 6}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({g}), def), 0u);
  const auto* n = def->GetChunk(0)->GetFaceNeighborArray();
  ASSERT_NE(n, nullptr);
  ASSERT_EQ(n->records.size(), 2u);
  EXPECT_EQ(n->records[1].face[2], 6u);
}

} // namespace

namespace {

using namespace meshtest;

TEST(IndexedMeshFileTest, SkeletonTree) {
  Bone root{"root", {1, 2, 3}, {0, 0, 0, 1}, {Bone{"left", {1, 0, 0}}, Bone{"right", {}, {0, 0, 1, 0}, {Bone{"hand"}}}}};
  root.children[0].version = 1;
  root.children[1].version = 102;
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, SkelChunk(root)), def), 0u);
  Vak::ParticleBone* bone = def->GetRootBone();
  ASSERT_NE(bone, nullptr);
  EXPECT_STREQ(bone->GetName().c_str(), "root");
  EXPECT_EQ(bone->GetPosition(), Vak::Vector3(1, 2, 3));
  ASSERT_EQ(bone->Children().size(), 2u);
  EXPECT_STREQ(bone->Children()[1]->GetName().c_str(), "right");
  EXPECT_EQ(bone->Children()[1]->GetOrientation(), Vak::Quaternion(0, 0, 1, 0));
  ASSERT_NE(bone->FindByName("hand"), nullptr);
  EXPECT_EQ(bone->FindByName("hand")->Parent(), bone->Children()[1]);
  EXPECT_NE(static_cast<Vak::ParticleBone*>(bone->FindByName("hand"))->GetBoundingBox(), nullptr);

  root.children[0].version = 2;
  EXPECT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, SkelChunk(root))), 4u);
}

// Each BONE nests its children; a crafted chain must not exhaust the stack.
TEST(IndexedMeshFileTest, BoneNestingIsBounded) {
  for (const auto& [depth, code] : {std::pair{VelmarIndexedMeshDefinition::kMaxBoneDepth, 0ul},
                                    std::pair{VelmarIndexedMeshDefinition::kMaxBoneDepth + 1, 3ul},
                                    std::pair{1000u, 3ul}}) {
    // Built inside out, so that each level's size covers the levels below.
    std::string bone = BoneChunk(Bone{"b"});
    for (unsigned level = 1; level < depth; ++level)
      bone = Chunk("BONE", 100, Bytes().Str("b").Floats(Vec3{}).Floats(std::array<float, 4>{0, 0, 0, 1}).U32(1).Raw(bone));
    Loader loader;
    EXPECT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, Chunk("SKEL", 100, bone))), code) << depth;
  }
}

TEST(MeshSkeletonTest, SkeletonFromInfluences) {
  auto influence = [](const char* name, std::optional<std::string> parent) {
    return Influence{name, parent, {1, 0, 0}, kIdentity9, {}};
  };
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  // A SKEL first: the influences' root replaces it.
  const std::string after = SkelChunk(Bone{"old"}) + InflChunk({influence("arm", "root"), influence("root", std::nullopt),
                                                                influence("orphan", "nobody"), influence("second", std::nullopt),
                                                                influence("hand", "arm")});
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, after), def), 0u);
  Vak::ParticleBone* root = def->GetRootBone();
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->GetName().c_str(), "root");
  EXPECT_EQ(root->FindByName("old"), nullptr);
  EXPECT_EQ(root->FindByName("orphan")->Parent(), root);
  EXPECT_EQ(root->FindByName("second")->Parent(), root);
  EXPECT_EQ(root->FindByName("hand")->Parent(), root->FindByName("arm"));
  EXPECT_EQ(static_cast<Vak::ParticleBone*>(root->FindByName("hand"))->GetFramePosition(), Vak::Vector3(1, 0, 0));

  // Without a parentless influence nothing changes.
  ASSERT_EQ(loader.Indexed(IdxmFile({QuadGroup()}, SkelChunk(Bone{"old"}) + InflChunk({influence("a", "b")})), def), 0u);
  ASSERT_NE(def->GetRootBone(), nullptr);
  EXPECT_STREQ(def->GetRootBone()->GetName().c_str(), "old");
}

} // namespace
