// Text level-of-detail descriptions: levels gathered from indexed mesh files
// and text geometry configs, and the level-of-detail file written from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/MeshLoad.h"

using namespace meshtest;

namespace {

// A level with one quad; `attachments` points and, when `skinned`, two
// influences (listed in the given order) weighting the quad.
std::string LevelFile(unsigned attachments = 1, bool skinned = false, bool armFirst = false) {
  std::vector<Attachment> points;
  for (unsigned i = 0; i < attachments; ++i) points.push_back(Attachment{"a.p" + std::to_string(i)});
  std::string after;
  if (skinned) {
    Influence root{"root", std::nullopt, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 1}, Entry{1, 1}}}}};
    Influence arm{"arm", "root", {0, 1, 0}, kIdentity9, {Group{0, {Entry{2, 1}, Entry{3, 1}}}}};
    after += armFirst ? InflChunk({arm, root}) : InflChunk({root, arm});
  }
  if (!points.empty()) after += AtchChunk(points);
  Info info;
  info.maxInfluences = skinned ? 1 : 0;
  info.maxMatrices = skinned ? 2 : 0;
  ChunkGroup group = QuadGroup();
  if (skinned) group.geometry.weights = 1;
  return IdxmFile({group}, after, info);
}

const char* const kConfigLevel = R"(version 1.0
chunk {
  texCoordSets 1
  material { type "plain" }
  vertex 0 0 0  0 0 1  0 0
  vertex 1 0 0  0 0 1  1 0
  vertex 0 1 0  0 0 1  0 1
  triangle 0 1 2
  faceNormal 0 0 1
}
attachment { name "a.p0" position 0 0 1 }
)";

struct DescriptionLoader : Loader {
  DescriptionLoader() {
    folder.WriteFile("a.im", LevelFile());
    folder.WriteFile("b.im", LevelFile());
    folder.WriteFile("c.im", LevelFile());
    folder.WriteFile("two.im", LevelFile(2));
    folder.WriteFile("c.imtxt", kConfigLevel);
  }

  // "@" in the text stands for the folder the level files are in.
  unsigned long Read(std::string text, std::unique_ptr<VelmarIndexedMeshLODDefinition>& out) {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
      text.replace(at, 1, folder / "");
    folder.WriteFile("d.lm.txt", text);
    out = std::make_unique<VelmarIndexedMeshLODDefinition>(resource.options);
    const std::string path = folder / "d.lm.txt";
    unsigned long result = 99;
    out->ReadLODDescription(&result, &display, &manager, &resource, path.c_str(), defaultColour);
    return result;
  }
};

// The slot of `material` in `table`; the count when it is not there.
unsigned IndexIn(const SharedRefArray<Vak::Material>& table, const Vak::Material* material) {
  unsigned i = 0;
  while (i < table.Count() && table.Get(i) != material) ++i;
  return i;
}

struct DescriptionCase {
  const char* what;
  const char* text;
  unsigned long result;
  // After a read that succeeded:
  unsigned levels = 0;
  std::vector<float> distances = {};
  std::vector<std::pair<std::string, uint32_t>> named = {};
  uint32_t calcPoint = 0;
};

} // namespace

TEST(LodDescription, Results) {
  const DescriptionCase cases[] = {
      {"first mesh item a name", "version 1.0\nmesh \"near\" { name \"@a.im\" }\n", 3},
      {"equal distances", "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh 50 { name \"@b.im\" }\n"
                          "mesh 50 { name \"@c.im\" }\n", 3},
      {"falling distances", "version 1.0\nmesh 50 { name \"@a.im\" }\nmesh 10 { name \"@b.im\" }\n", 3},
      {"named level shares a distance level's file",
       "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh 50 { name \"@b.im\" }\n"
       "mesh \"Hull\" { name \"@A.IM\" animated 1 }\n",
       0, 2, {0, 50}, {{"hull", 0}}},
      {"named level of its own file", "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"hull\" { name \"@b.im\" }\n",
       0, 2, {0}, {{"hull", 1}}},
      {"names compared in lower case",
       "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"Hull\" { name \"@b.im\" }\nmesh \"hull\" { name \"@c.im\" }\n",
       3},
      {"numeric item after a named one",
       "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"hull\" { name \"@b.im\" }\nmesh 90 { name \"@c.im\" }\n", 3},
      {"quoted number after a named one",
       "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"hull\" { name \"@b.im\" }\nmesh \"90\" { name \"@c.im\" }\n",
       3},
      {"differing attachment counts", "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh 10 { name \"@two.im\" }\n", 3},
      {"differing attachment counts in a named level",
       "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"hull\" { name \"@two.im\" }\n", 3},
      {"calcPoint absent", "version 1.0\nmesh 0 { name \"@a.im\" }\n", 0, 1, {0}},
      {"calcPoint far", "version 1.0\nmesh 0 { name \"@a.im\" }\ncalcPoint \"far\"\n", 0, 1, {0}, {}, 2},
      {"calcPoint near", "version 1.0\nmesh 0 { name \"@a.im\" }\ncalcPoint \"near\"\n", 0, 1, {0}, {}, 1},
      {"calcPoint unknown", "version 1.0\nmesh 0 { name \"@a.im\" }\ncalcPoint \"middle\"\n", 0, 1, {0}},
      {"a text geometry config level", "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh 80 { name \"@c.imtxt\" }\n",
       0, 2, {0, 80}},
      {"parse failure", "version 1.0\nmesh 0 { name \"@a.im\"\n", 2},
      {"missing level file", "version 1.0\nmesh 0 { name \"@none.im\" }\n", 2},
      {"version 2.0", "version 2.0\nmesh 0 { name \"@a.im\" }\n", 4},
      {"version 1.5", "version 1.5\nmesh 0 { name \"@a.im\" }\n", 4},
      {"no mesh item", "version 1.0\noffset 2\n", 3},
      {"nothing but the version", "version 1.0\n", 3},
      {"a level without a name", "version 1.0\nmesh 0 { animated 1 }\n", 3},
      {"a named level without a name", "version 1.0\nmesh 0 { name \"@a.im\" }\nmesh \"hull\"\n", 3},
  };
  for (const DescriptionCase& c : cases) {
    SCOPED_TRACE(c.what);
    DescriptionLoader loader;
    std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
    ASSERT_EQ(loader.Read(c.text, lod), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(lod->GetLevelCount(), c.levels);
    // Each level file is read once, however many levels name it.
    EXPECT_EQ(lod->GetLevelDefinitions().size(), c.levels);
    EXPECT_EQ(lod->GetDistances(), c.distances);
    std::vector<std::pair<std::string, uint32_t>> named;
    for (const auto& n : lod->GetNamedLevels()) named.emplace_back(n.name.c_str(), n.level);
    EXPECT_EQ(named, c.named);
    EXPECT_EQ(static_cast<uint32_t>(lod->GetCalcPoint()), c.calcPoint);
    // The last distance-switched level is the current data.
    const VelmarIndexedMeshLODDefinition::Level& current = lod->GetLevel(c.distances.size() - 1);
    EXPECT_EQ(lod->GetChunks(), current.chunks);
    EXPECT_EQ(lod->GetTotalVertices(), current.totalVertices);
  }
}

TEST(LodDescription, KeysAndAttachmentsTakeTheDescriptionsValues) {
  DescriptionLoader loader;
  loader.folder.WriteFile("cull.im", IdxmFile({QuadGroup()}, AtchChunk({Attachment{"a.lamp:CULL"}})));
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Read("version 1.0\nmesh 0 { name \"@cull.im\" }\noffset 1.5\nmultiplier 2\n"
                        "animationCutOff 3\nrenderCutOff 4\nattachmentCutOff 5\n",
                        lod),
            0u);
  EXPECT_EQ(lod->GetOffset(), 1.5f);
  EXPECT_EQ(lod->GetMultiplier(), 2.0f);
  EXPECT_EQ(lod->GetAnimationCutOff(), 3.0f);
  EXPECT_EQ(lod->GetRenderCutOff(), 4.0f);
  EXPECT_EQ(lod->GetAttachmentCutOff(), 5.0f);
  ASSERT_EQ(lod->GetAttachmentPointCount(), 1);
  EXPECT_STREQ(lod->GetAttachmentPoints()[0].name.c_str(), "a.lamp");
  ASSERT_EQ(lod->GetCulledAttachmentNames().size(), 1u);
  EXPECT_STREQ(lod->GetFileName().c_str(), (loader.folder / "d.lm.txt").c_str());

  std::unique_ptr<VelmarIndexedMeshLODDefinition> defaults;
  ASSERT_EQ(loader.Read("version 1.0\nmesh 0 { name \"@a.im\" }\n", defaults), 0u);
  EXPECT_EQ(defaults->GetOffset(), 0.0f);
  EXPECT_EQ(defaults->GetMultiplier(), 1.0f);
  EXPECT_EQ(defaults->GetRenderCutOff(), 0.0f);
}

TEST(LodDescription, LaterLevelsWeightByTheBoneTablesNames) {
  DescriptionLoader loader;
  loader.display.SetCapability(26, true);
  loader.folder.WriteFile("skin.im", LevelFile(1, true));
  loader.folder.WriteFile("skin-swapped.im", LevelFile(1, true, true));
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Read("version 1.0\nmesh 0 { name \"@skin.im\" }\nmesh 10 { name \"@skin-swapped.im\" }\n", lod),
            0u);
  ASSERT_EQ(lod->GetBoneTable().size(), 2u);
  EXPECT_STREQ(lod->GetBoneTable()[0].name.c_str(), "root");
  EXPECT_STREQ(lod->GetBoneTable()[1].parent.c_str(), "root");
  // The second level lists "arm" first; its vertices still point at the
  // matrix of bone 0 for "root" and of bone 1 for "arm", as the written
  // file's bone table has them.
  for (unsigned level = 0; level < 2; ++level) {
    SCOPED_TRACE(level);
    const Vak::GeometryChunk* chunk = lod->GetLevel(level).chunks->Get(0);
    ASSERT_NE(chunk, nullptr);
    auto blend = chunk->GetItem<uint32_t>(Vak::kItemBlendIndices);
    ASSERT_TRUE(blend);
    for (const auto& [vertex, bone] : {std::pair{0u, 0u}, std::pair{2u, 1u}}) {
      const unsigned slot = reinterpret_cast<const uint8_t*>(blend(vertex))[0] / 3;
      ASSERT_LT(slot, chunk->GetNumInfluenceMatrices());
      EXPECT_EQ(chunk->GetInfluenceMatrix(slot), bone) << "vertex " << vertex;
    }
    // Each bone's groups for this level come from the influence of its name.
    ASSERT_EQ(lod->GetBoneTable()[1].levels.size(), 2u);
    EXPECT_EQ(lod->GetBoneTable()[1].levels[level].first, level);
    ASSERT_EQ(lod->GetBoneTable()[1].levels[level].second.size(), 1u);
    EXPECT_EQ(lod->GetBoneTable()[1].levels[level].second[0].entries[0].vertex, 2u);
  }
}

TEST(LodDescription, WrittenFileReadsBackAndWritesTheSameBytes) {
  DescriptionLoader loader;
  Material painted;
  painted.name = "painted";
  painted.properties = {{"mode", "opaque"}};
  painted.flag = 1;
  painted.textures = {Texture{1, "paint.texture", 0.5f}};
  std::vector<std::string> files = {"l0.im", "l1.im", "l2.im", "hull.im"};
  for (unsigned i = 0; i < files.size(); ++i) {
    ChunkGroup quad = QuadGroup();
    quad.geometry.weights = 1;
    quad.neighbours = std::vector<std::array<uint32_t, 3>>{{1, 2, 3}, {4, 5, 6}};
    ChunkGroup grid;
    grid.geometry = Grid(3 + i);
    grid.geometry.name = "body";
    grid.geometry.weights = 1;
    grid.material = painted;
    Influence root{"root", std::nullopt, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 1, {1, 2, 3}}}}}};
    Influence arm{"arm", "root", {0, 1, 0}, {0, 1, 0, -1, 0, 0, 0, 0, 1}, {Group{1, {Entry{i, 0.5f}}}}};
    Info info;
    info.maxInfluences = 1;
    info.maxMatrices = 2;
    loader.folder.WriteFile(files[i], IdxmFile({quad, grid},
                                               InflChunk({root, arm}) +
                                                   AtchChunk({Attachment{"a.light", kIdentity9, {1, 1, float(i)}}}),
                                               info));
  }
  std::unique_ptr<VelmarIndexedMeshLODDefinition> lod;
  ASSERT_EQ(loader.Read("version 1.0\nmesh 0 { name \"@l0.im\" }\nmesh 50 { name \"@l1.im\" }\n"
                        "mesh 200 { name \"@l2.im\" }\nmesh \"collision\" { name \"@hull.im\" }\n"
                        "calcPoint \"near\"\nmultiplier 2\n",
                        lod),
            0u);
  // Written, read back and written again.
  Loader second;
  std::unique_ptr<VelmarIndexedMeshLODDefinition> back;
  unsigned long first = 99, again = 99;
  const std::string once = loader.Written(*lod, first);
  ASSERT_EQ(second.Lod(once, back), 0u);
  EXPECT_EQ(second.Written(*back, again), once);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(again, 0u);

  EXPECT_EQ(back->GetDistances(), lod->GetDistances());
  EXPECT_EQ(back->GetCalcPoint(), VelmarIndexedMeshLODDefinition::kNear);
  EXPECT_EQ(back->GetMultiplier(), 2.0f);
  ASSERT_EQ(back->GetNamedLevels().size(), 1u);
  EXPECT_STREQ(back->GetNamedLevels()[0].name.c_str(), "collision");
  EXPECT_EQ(back->GetNamedLevels()[0].level, 3u);

  ASSERT_EQ(back->GetLevelCount(), 4u);
  for (unsigned l = 0; l < 4; ++l) {
    SCOPED_TRACE(l);
    const auto& want = lod->GetLevel(l);
    const auto& got = back->GetLevel(l);
    EXPECT_EQ(got.chunkCount, want.chunkCount);
    EXPECT_EQ(got.totalVertices, want.totalVertices);
    EXPECT_EQ(got.totalFaces, want.totalFaces);
    EXPECT_EQ(got.maxInfluences, want.maxInfluences);
    EXPECT_EQ(got.maxMatrices, want.maxMatrices);
    EXPECT_EQ(got.chunkNames, want.chunkNames);
    ASSERT_EQ(got.chunks->Count(), want.chunks->Count());
    for (unsigned c = 0; c < want.chunks->Count(); ++c) {
      const Vak::GeometryChunk* a = want.chunks->Get(c);
      const Vak::GeometryChunk* b = got.chunks->Get(c);
      ASSERT_EQ(b->GetVertexCount(), a->GetVertexCount());
      ASSERT_EQ(b->GetIndexCount(), a->GetIndexCount());
      EXPECT_TRUE(std::equal(a->GetIndices(), a->GetIndices() + a->GetIndexCount(), b->GetIndices()));
      auto pa = a->GetItem<Vak::Vector3>(Vak::kItemPosition);
      auto pb = b->GetItem<Vak::Vector3>(Vak::kItemPosition);
      for (unsigned v = 0; v < a->GetVertexCount(); ++v) EXPECT_EQ(pb(v)->y, pa(v)->y);
      // Both levels share one table: the same material slot numbering.
      const unsigned wantIndex = IndexIn(*lod->GetMaterialTable(), want.materials->Get(c));
      EXPECT_LT(wantIndex, lod->GetMaterialTable()->Count());
      EXPECT_EQ(IndexIn(*back->GetMaterialTable(), got.materials->Get(c)), wantIndex);
    }
  }

  ASSERT_EQ(back->GetMaterialTable()->Count(), lod->GetMaterialTable()->Count());
  EXPECT_EQ(back->GetMaterialTable()->Count(), 8u);
  for (unsigned i = 0; i < lod->GetMaterialTable()->Count(); ++i) {
    SCOPED_TRACE(i);
    const Vak::Material* want = lod->GetMaterialTable()->Get(i);
    const Vak::Material* got = back->GetMaterialTable()->Get(i);
    EXPECT_EQ(got->GetName(), want->GetName());
    EXPECT_EQ(got->GetFlags() & 1, want->GetFlags() & 1);
    EXPECT_EQ(got->GetValue(), want->GetValue());
    ASSERT_EQ(got->GetNumProperties(), want->GetNumProperties());
    for (unsigned p = 0; p < want->GetNumProperties(); ++p)
      EXPECT_EQ(got->GetPropertyValue(p), want->GetPropertyValue(p));
    const Vak::DisplayMaterial& a = want->GetDisplayMaterialProperties();
    const Vak::DisplayMaterial& b = got->GetDisplayMaterialProperties();
    EXPECT_EQ(b.diffuse.g, a.diffuse.g);
    EXPECT_EQ(b.emissive.r, a.emissive.r);
    EXPECT_EQ(b.power, a.power);
    // The textures the resource hands to the material on completion.
    std::vector<std::string> wantTextures, gotTextures;
    for (const auto& binding : lod->GetPendingBindings())
      if (binding.material == want)
        for (const auto& t : binding.textures) wantTextures.push_back(t.file.c_str());
    for (const auto& binding : back->GetPendingBindings())
      if (binding.material == got)
        for (const auto& t : binding.textures) gotTextures.push_back(t.file.c_str());
    EXPECT_EQ(gotTextures, wantTextures);
  }

  ASSERT_EQ(back->GetBoneTable().size(), 2u);
  for (unsigned b = 0; b < 2; ++b) {
    const auto& want = lod->GetBoneTable()[b];
    const auto& got = back->GetBoneTable()[b];
    EXPECT_EQ(got.name, want.name);
    EXPECT_STREQ(got.parent.c_str(), want.parent.c_str());
    EXPECT_TRUE(std::equal(want.matrix, want.matrix + 9, got.matrix));
    ASSERT_EQ(got.levels.size(), want.levels.size());
    for (unsigned l = 0; l < want.levels.size(); ++l) {
      EXPECT_EQ(got.levels[l].first, want.levels[l].first);
      ASSERT_EQ(got.levels[l].second.size(), want.levels[l].second.size());
      for (unsigned g = 0; g < want.levels[l].second.size(); ++g) {
        EXPECT_EQ(got.levels[l].second[g].chunk, want.levels[l].second[g].chunk);
        ASSERT_EQ(got.levels[l].second[g].entries.size(), want.levels[l].second[g].entries.size());
        EXPECT_EQ(got.levels[l].second[g].entries[0].vertex, want.levels[l].second[g].entries[0].vertex);
        EXPECT_EQ(got.levels[l].second[g].entries[0].offset.z, want.levels[l].second[g].entries[0].offset.z);
      }
    }
  }
  ASSERT_EQ(back->GetAttachmentPointCount(), 1);
  EXPECT_EQ(back->GetAttachmentPoints()[0].name, lod->GetAttachmentPoints()[0].name);
  EXPECT_EQ(back->GetAttachmentPoints()[0].position[2], 0.0f);
}
