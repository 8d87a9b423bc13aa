// Level-of-detail mesh files: reading builder-made files, and writing them
// back byte for byte.
#include <gtest/gtest.h>

#include "Vak/Bexlorn/File.h"
#include "engine/elthrac/ParticleBone.h"
#include "tests/assets3d/mesh/LodmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

using namespace meshtest;

namespace {

constexpr uint32_t kHuge = 0x7FFFFFFF;

Lodm NamedAfter(std::vector<float> distances, const std::string& name) {
  Lodm m = LevelsAt(distances);
  Level named;
  named.distance = -1.0f;
  m.levels.push_back(named);
  m.info.named.push_back(NamedLevel{static_cast<uint32_t>(m.levels.size() - 1), name, 1});
  return m;
}

struct ResultCase {
  const char* what;
  Lodm file;
  unsigned long result;
};

Lodm With(Lodm m, void (*change)(Lodm&)) {
  change(m);
  return m;
}

} // namespace

TEST(LodMeshFile, ReadResults) {
  const ResultCase cases[] = {
      {"equal distances", LevelsAt({10, 10, 50}), 0},
      {"falling distance", LevelsAt({10, 5}), 3},
      {"named level after the distances", NamedAfter({10, 20}, "collision"), 0},
      {"-1.0 without a named level", With(LevelsAt({10, -1}), [](Lodm&) {}), 3},
      {"only named levels", With(LevelsAt({-1}), [](Lodm& m) { m.info.named = {NamedLevel{0, "shadow", 0}}; }), 3},
      {"MATL version 102", With(LevelsAt({10}), [](Lodm& m) { m.materials[0].version = 102; }), 4},
      {"INFO version 101", With(LevelsAt({10}), [](Lodm& m) { m.info.version = 101; }), 4},
      {"animated byte missing", With(NamedAfter({10}, "x"), [](Lodm& m) { m.info.named[0].animated.reset(); }), 0},
      {"root bones without a root",
       With(LevelsAt({10}), [](Lodm& m) { m.rbot = std::vector<BoneRecord>{{"arm", "root"}}; }), 3},
      // Indices taken from the file.
      {"LCHK material past MATT", With(LevelsAt({10}), [](Lodm& m) { m.levels[0].chunks[0].material = 1; }), 3},
      {"named level past the levels",
       With(NamedAfter({10}, "x"), [](Lodm& m) { m.info.named.push_back(NamedLevel{2, "far", 0}); }), 3},
      // Counts larger than the bytes left (more in CountsPastTheBytesGiveThree).
      {"MATT count", With(LevelsAt({10}), [](Lodm& m) { m.materialCount = kHuge; }), 3},
      {"empty bone table", With(LevelsAt({10}), [](Lodm& m) { m.bont = std::vector<BoneRecord>{}; }), 0},
      {"level count", With(LevelsAt({10}), [](Lodm& m) { m.info.levels = kHuge; }), 3},
      {"MESH chunk count", With(LevelsAt({10}), [](Lodm& m) { m.levels[0].chunkCount = kHuge; }), 3},
      {"bone without groups",
       With(LevelsAt({10}),
            [](Lodm& m) {
              m.bont = std::vector<BoneRecord>{{"root", ""}};
              m.levels[0].bones = std::vector<std::vector<Group>>{{}};
            }),
       0},
  };
  for (const ResultCase& c : cases) {
    Loader loader;
    EXPECT_EQ(loader.Lod(LodmFile(c.file)), c.result) << c.what;
  }
}

TEST(LodMeshFile, CountsPastTheBytesGiveThree) {
  // Counts patched into otherwise sound files: each must be refused before
  // anything is made for it.
  struct Patch {
    const char* what;
    std::string tag;
    unsigned offset;  // from the tag
  };
  Lodm m = LevelsAt({10});
  m.bont = std::vector<BoneRecord>{{"root", ""}};
  m.rbot = std::vector<BoneRecord>{{"r", ""}};
  m.levels[0].bones = std::vector<std::vector<Group>>{{Group{0, {Entry{}}}}};
  const std::string file = LodmFile(m);
  const Patch patches[] = {
      {"BONT count", "BONT", 12}, {"RBOT count", "RBOT", 12}, {"LODB group count", "LODB", 12},
      {"LODB entry count", "LODB", 20}, {"MATT count", "MATT", 12}, {"MESH chunk count", "MESH", 12},
  };
  Loader plain;
  ASSERT_EQ(plain.Lod(file), 0u);
  for (const Patch& p : patches) {
    std::string bytes = file;
    const std::size_t at = bytes.find(p.tag);
    ASSERT_NE(at, std::string::npos) << p.what;
    Vak::PutLE32(reinterpret_cast<uint8_t*>(&bytes[at + p.offset]), kHuge);
    Loader loader;
    EXPECT_EQ(loader.Lod(bytes), 3u) << p.what;
  }
}

TEST(LodMeshFile, CurrentDataIsTheLastDistanceLevel) {
  Lodm m = NamedAfter({10, 20}, "collision");
  m.levels[1].chunks = {LevelChunk{}, LevelChunk{0, Grid(3)}};
  m.levels[2].chunks = {LevelChunk{}, LevelChunk{}, LevelChunk{}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  EXPECT_EQ(lod->GetChunkCount(), 2);
  EXPECT_EQ(lod->GetChunks(), lod->GetLevel(1).chunks);
  EXPECT_EQ(lod->GetMaterials(), lod->GetLevel(1).materials);
  EXPECT_EQ(lod->GetTotalVertices(), 4 + 9);
  EXPECT_EQ(lod->GetBoundsMax().x, 2.0f);
  ASSERT_EQ(lod->GetNamedLevels().size(), 1u);
  EXPECT_TRUE(lod->GetNamedLevels()[0].animated);
}

TEST(LodMeshFile, TextureScaleIsZeroAndEveryLevelHasItsTotals) {
  Lodm m = LevelsAt({10, 50});
  // A chunk without indices is dropped and the next one takes its slot.
  Geometry noIndices = Quad();
  noIndices.indices.clear();
  m.levels[0].chunks = {LevelChunk{}, LevelChunk{0, noIndices}, LevelChunk{0, Grid(3)}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  EXPECT_EQ(lod->GetLevel(0).chunkCount, 2);
  EXPECT_EQ(lod->GetLevel(0).chunks->Get(1)->GetVertexCount(), 9u);
  EXPECT_EQ(lod->GetTextureScale(), 0.0f);
  EXPECT_EQ(lod->GetLevel(0).totalVertices, 4 + 9);
  EXPECT_EQ(lod->GetLevel(0).totalFaces, 2 + 8);
  EXPECT_EQ(lod->GetLevel(1).totalVertices, 4);
  EXPECT_EQ(lod->GetLevel(1).totalFaces, 2);
}

TEST(LodMeshFile, CullMarkerRemovedOnceInAnyCase) {
  struct Case {
    const char* name;
    const char* after;
    bool culled;
  };
  const Case cases[] = {
      {"a.lamp:CULL", "a.lamp", true},
      {"a:Cull.b", "a.b", true},
      {"b:cull:cull", "b:cull", true},
      {"plain", "plain", false},
  };
  Lodm m = LevelsAt({10});
  for (const Case& c : cases) m.attachments.push_back(Attachment{c.name});
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  std::vector<std::string> culled;
  for (const Vak::PString& name : lod->GetCulledAttachmentNames()) culled.emplace_back(name.c_str());
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_STREQ(lod->GetAttachmentPointName(static_cast<unsigned>(i)).c_str(), cases[i].after);
    if (cases[i].culled) expected.emplace_back(cases[i].after);
  }
  EXPECT_EQ(culled, expected);
}

TEST(LodMeshFile, OrphanBoneGoesUnderTheRootAndIsWrittenSo) {
  Lodm m = LevelsAt({10});
  m.bont = std::vector<BoneRecord>{{"root", ""}, {"arm", "ghost"}, {"hand", "arm"}, {"spare", ""}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  ASSERT_NE(lod->GetRootBone(), nullptr);
  EXPECT_STREQ(lod->GetRootBone()->GetName().c_str(), "root");
  EXPECT_EQ(lod->GetRootBone()->Children().size(), 2u);
  unsigned long result = 99;
  const std::string bytes = loader.Written(*lod, result);
  ASSERT_EQ(result, 0u);
  Loader again;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> back;
  ASSERT_EQ(again.Lod(bytes, back), 0u);
  const auto& bones = back->GetBoneTable();
  ASSERT_EQ(bones.size(), 4u);
  EXPECT_STREQ(bones[1].parent.c_str(), "root");
  EXPECT_STREQ(bones[2].parent.c_str(), "arm");
  EXPECT_STREQ(bones[3].parent.c_str(), "root");
}

TEST(LodMeshFile, RootBonesBuildATreeAndAreWrittenBack) {
  Lodm m = LevelsAt({10});
  m.rbot = std::vector<BoneRecord>{{"root", ""}, {"arm", "root", {1, 0, 0}}, {"hand", "arm"}, {"lost", "nobody"}};
  Loader loader;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  // A tree as "root(arm(hand), lost)", depth first.
  auto tree = [](const Vak::Particle* root) {
    std::string out;
    auto walk = [&out](auto& self, const Vak::Particle* p) -> void {
      out += p->GetName().c_str();
      if (p->Children().empty()) return;
      out += "(";
      for (std::size_t i = 0; i < p->Children().size(); ++i) {
        if (i) out += ", ";
        self(self, p->Children()[i]);
      }
      out += ")";
    };
    walk(walk, root);
    return out;
  };
  ASSERT_NE(lod->GetRootBone(), nullptr);
  EXPECT_EQ(tree(lod->GetRootBone()), "root(arm(hand), lost)");
  unsigned long result = 99;
  const std::string bytes = loader.Written(*lod, result);
  ASSERT_EQ(result, 0u);
  EXPECT_NE(bytes.find("RBOT"), std::string::npos);
  EXPECT_EQ(bytes.find("BONT"), std::string::npos);
  Loader again;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> back;
  ASSERT_EQ(again.Lod(bytes, back), 0u);
  EXPECT_EQ(tree(back->GetRootBone()), "root(arm(hand), lost)");
  EXPECT_EQ(back->GetRootBone()->Children()[0]->GetPosition().x, 1.0f);
}

TEST(LodMeshFile, LevelInfluencesSkipBadVerticesAndAFifthInfluence) {
  Lodm m = LevelsAt({10});
  m.bont = std::vector<BoneRecord>{{"b0", ""}, {"b1", "b0"}, {"b2", "b0"}, {"b3", "b0"}, {"b4", "b0"}};
  m.levels[0].maxInfluences = 4;
  m.levels[0].maxMatrices = 8;
  m.levels[0].chunks[0].geometry.weights = 4;
  std::vector<std::vector<Group>> bones;
  for (uint32_t b = 0; b < 5; ++b) bones.push_back({Group{0, {Entry{0, 0.2f}, Entry{b == 0 ? 99u : 1u, 1}}}});
  m.levels[0].bones = bones;
  Loader loader;
  loader.display.SetCapability(26, true);
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Lod(LodmFile(m), lod), 0u);
  ASSERT_TRUE(lod->UsesHardwareSkinning());
  const Vak::GeometryChunk* chunk = lod->GetChunk(0);
  auto blend = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
  ASSERT_TRUE(blend);
  const auto* lanes = reinterpret_cast<const uint8_t*>(blend(0));
  EXPECT_EQ(std::vector<uint8_t>(lanes, lanes + 4), (std::vector<uint8_t>{0, 3, 6, 9}));
}

TEST(LodMeshFile, EmptyChunkSlotIsWrittenAsAWholeHeader) {
  Loader loader;
  VelmarIndexedMeshLODDefinition definition;
  const std::string path = loader.folder / "geom.bin";
  Vak::File file;
  ASSERT_TRUE(file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
  ASSERT_TRUE(definition.WriteGeometryChunk(file, nullptr, Vak::PString()));
  file.Close();
  const std::string expected =
      Chunk("GEOM", 201, Bytes().U32(0).U32(0).F32(0).U32(0).U32(0).U32(0).U32(0).U32(0).Str("").str());
  EXPECT_EQ(loader.folder.ReadFile("geom.bin"), expected);
}

TEST(LodMeshFile, NothingToWriteWithoutLevels) {
  Loader loader;
  VelmarIndexedMeshLODDefinition definition;
  unsigned long result = 99;
  loader.Written(definition, result);
  EXPECT_EQ(result, 1u);
}

TEST(LodMeshFile, WriteReadWriteGivesTheSameBytes) {
  Lodm m = NamedAfter({10, 40}, "collision");
  Material shiny;
  shiny.name = "shiny";
  shiny.exponent = 5;  // below the bound the indexed file applies
  shiny.properties = {{"mode", "opaque"}};
  shiny.flag = 1;
  shiny.textures = {Texture{1, "elsewhere\\paint.texture", 0.5f}, Texture{2, "bump.texture", 2}};
  m.materials.push_back(shiny);
  m.bont = std::vector<BoneRecord>{{"root", "", {1, 2, 3}}, {"arm", "root", {0, 1, 0}, {0, 1, 0, -1, 0, 0, 0, 0, 1}}};
  m.attachments = {Attachment{"a.light", kIdentity9, {1, 1, 1}}, Attachment{"b.door", kIdentity9, {2, 0, 0}}};
  // Materials in order of first use, as the writer numbers them.
  m.levels[0].chunks = {LevelChunk{0, Quad(), std::vector<std::array<uint32_t, 3>>{{1, 2, 3}, {4, 5, 6}}},
                        LevelChunk{1, Grid(3)}};
  m.levels[0].chunks[1].geometry.name = "body";
  m.levels[0].chunks[1].geometry.flags = 1;
  m.levels[0].bones = std::vector<std::vector<Group>>{{Group{0, {Entry{0, 1, {1, 2, 3}}}}}, {}};
  m.levels[1].bones = std::vector<std::vector<Group>>{{}, {Group{0, {Entry{2, 0.5f}, Entry{3, 0.5f}}}}};
  m.levels[2].chunks = {LevelChunk{1, Quad()}};
  m.levels[2].bones = std::vector<std::vector<Group>>{{}, {}};
  const std::string built = LodmFile(m);

  Loader first;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(first.Lod(built, lod), 0u);
  unsigned long result = 99;
  const std::string once = first.Written(*lod, result);
  ASSERT_EQ(result, 0u);
  // The builder lays the file out as the writer does: the values go back as
  // the file held them (name, fourth colour, exponent, texture names).
  EXPECT_EQ(once, built);

  Loader second;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> back;
  ASSERT_EQ(second.Lod(once, back), 0u);
  EXPECT_EQ(second.Written(*back, result), once);
  ASSERT_EQ(back->GetLevelCount(), 3u);
  EXPECT_EQ(back->GetLevel(0).chunkCount, 2);
  EXPECT_EQ(back->GetDistances(), (std::vector<float>{10, 40}));
  ASSERT_EQ(back->GetMaterialTable()->Count(), 2u);
  EXPECT_EQ(back->GetMaterialTable()->Get(1)->GetDisplayMaterialProperties().power, 5.0f);
  EXPECT_EQ(back->GetAttachmentPointCount(), 2);
}
