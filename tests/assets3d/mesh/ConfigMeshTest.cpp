#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Rand.h"
#include "engine/elthrac/ParticleBone.h"
#include "tests/assets3d/mesh/MeshLoad.h"

namespace {

using namespace meshtest;

// Two chunks: a skinned, coloured one whose material type gets decorated,
// and one whose type is decorated already.
const char* const kShed = R"(version 1.0
position 1 2 3
orientation 0 0 0.5 0.8660254
maxInfluences 2
maxMatrices 20
maxVertices 8
chunk {
  name "walls"
  texCoordSets 1
  weightsPerVertex 2
  material {
    type "onetex"
    texture "walls.texture"
    property "shine" 0.5
    property "mood" "grim"
    flag 3
    value 0.25
    diffuse 0.5 0.25 1 1
    ambient 0.1 0.2 0.3 0.4
    specular 1 0 0 1
    emissive 0 1 0 0.5
    exponent 0.5
  }
  vertex 0 0 0  0 0 1  0 0
  vertex 4 0 0  0 0 1  1 0
  vertex 0 2 0  0 1 0  0 1
  colour 1 0 0 1  0 0 0 1
  colour 0 1 0 1  0 0 0 1
  colour 0 0 1 0.5  0 0 0 1
  triangle 0 1 2
  faceNormal 0 0 1
}
chunk {
  texCoordSets 2
  material { type "owner*folder*roof" texture "a.texture" texture "b.texture" exponent 2 }
  vertex -1 -1 -1  1 0 0  0 0 0.5 0.5
  vertex 1 -1 5  1 0 0  1 0 0.25 0.75
  vertex 1 3 -1  1 0 0  0 1 0.125 0.875
  vertex 1 1 1  1 0 0  1 1 1 1
  triangle 0 1 2
  triangle 2 1 3
}
influence {
  name "root"
  position 0 1 0
  group { chunk 0  entry 0 1 0 0 0  entry 2 0.5 0 1 0 }
}
influence { name "arm" parent "root" position 0 2 0 group { chunk 0 entry 2 0.5 1 0 0 } }
attachment { name "a.light" orientation 0 0 0.7071068 0.7071068 position 0 0 2 }
attachment { name "b.spot" position 5 6 7 }
)";

struct ConfigLoader : Loader {
  ConfigLoader() { display.SetCapability(26, true); }

  unsigned long Load(const std::string& text, std::unique_ptr<VelmarIndexedMeshDefinition>& out,
                     const char* file = "shed.imtxt") {
    folder.WriteFile(file, text);
    return LoadPath(folder / file, out);
  }
  unsigned long LoadPath(const std::string& path, std::unique_ptr<VelmarIndexedMeshDefinition>& out) {
    out = std::make_unique<VelmarIndexedMeshDefinition>(resource.options);
    unsigned long result = 99;
    out->LoadConfigFile(&result, &display, withManager ? &manager : nullptr, &resource, path.c_str(), defaultColour);
    return result;
  }
};

std::string Property(const VelmarIndexedMeshDefinition& def, unsigned material, unsigned i, bool value) {
  char* text = def.CopyMaterialProperty(material, i, value);
  std::string out = text ? text : "(none)";
  Vak::Alloc::Delete(text);
  return out;
}

TEST(ConfigMeshTest, ChunksHoldTheConfigsVertexData) {
  ConfigLoader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Load(kShed, def), 0u);
  EXPECT_EQ(def->GetPosition(), Vak::Vector3(1, 2, 3));
  EXPECT_FLOAT_EQ(def->GetOrientation().z, 0.5f);
  EXPECT_EQ(def->GetMaxInfluencesPerVertex(), 2u);
  EXPECT_EQ(def->GetMaxMatricesPerChunk(), 20u);
  ASSERT_EQ(def->GetChunkCount(), 2);
  EXPECT_EQ(def->GetTotalVertices(), 7);
  EXPECT_EQ(def->GetTotalFaces(), 1);  // face normals count the faces
  EXPECT_EQ(def->GetChunkNames()[0], Vak::PString("walls"));
  EXPECT_TRUE(def->GetChunkNames()[1].IsNull());
  EXPECT_EQ(def->GetBoundsMax(), Vak::Vector3(4, 3, 5));
  EXPECT_EQ(def->GetBoundsMin(), Vak::Vector3(-1, -1, -1));
  EXPECT_GT(def->GetTextureScale(), 0.0f);

  struct Case {
    unsigned chunk;
    std::vector<Vak::Vector3> positions, normals;
    std::vector<std::vector<Vak::TexCoord>> sets;
    std::vector<uint16_t> indices;
  };
  const Case cases[] = {
      {0, {{0, 0, 0}, {4, 0, 0}, {0, 2, 0}}, {{0, 0, 1}, {0, 0, 1}, {0, 1, 0}}, {{{0, 0}, {1, 0}, {0, 1}}}, {0, 1, 2}},
      {1,
       {{-1, -1, -1}, {1, -1, 5}, {1, 3, -1}, {1, 1, 1}},
       {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}},
       {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {{0.5f, 0.5f}, {0.25f, 0.75f}, {0.125f, 0.875f}, {1, 1}}},
       {0, 1, 2, 2, 1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunk);
    const unsigned n = static_cast<unsigned>(c.positions.size());
    ASSERT_EQ(def->GetChunk(c.chunk)->GetVertexCount(), n);
    EXPECT_EQ(def->GetPrimitiveType(c.chunk), 0);
    std::vector<Vak::Vector3> positions(n), normals(n);
    ASSERT_TRUE(def->CopyPositions(c.chunk, positions.data(), sizeof(Vak::Vector3)));
    ASSERT_TRUE(def->CopyNormals(c.chunk, normals.data(), sizeof(Vak::Vector3)));
    EXPECT_EQ(positions, c.positions);
    EXPECT_EQ(normals, c.normals);
    ASSERT_EQ(def->GetTextureSetCount(c.chunk), c.sets.size());
    for (unsigned k = 0; k < c.sets.size(); ++k) {
      std::vector<Vak::TexCoord> set(n);
      ASSERT_TRUE(def->CopyTextureSet(c.chunk, k, set.data(), sizeof(Vak::TexCoord)));
      EXPECT_EQ(set, c.sets[k]) << "set " << k;
    }
    ASSERT_EQ(def->GetIndexCount(c.chunk), c.indices.size());
    std::vector<uint16_t> indices(c.indices.size());
    ASSERT_TRUE(def->CopyIndices(c.chunk, indices.data()));
    EXPECT_EQ(indices, c.indices);
  }

  // Colours in the display's order (red in the low byte); a chunk without
  // any takes the default colour.
  uint32_t colours[4] = {};
  ASSERT_TRUE(def->CopyColours(0, colours, 4, false, 0));
  EXPECT_EQ(colours[0], 0xFF0000FFu);
  EXPECT_EQ(colours[1], 0xFF00FF00u);
  EXPECT_EQ(colours[2], 0x80FF0000u);
  ASSERT_TRUE(def->CopyColours(1, colours, 4, false, 0));
  for (uint32_t c : colours) EXPECT_EQ(c, loader.defaultColour);
  Vak::Vector3 faceNormal;
  ASSERT_TRUE(def->CopyFaceNormals(0, &faceNormal));
  EXPECT_EQ(faceNormal, Vak::Vector3(0, 0, 1));
}

TEST(ConfigMeshTest, MaterialsTakeTheConfigsValuesAndADecoratedName) {
  Vak::Kernel::GlobalRand().Randomise(4711);
  Vak::Rand mirror;
  mirror.Randomise(4711);
  ConfigLoader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Load(kShed, def), 0u);
  char drawn[16];
  std::snprintf(drawn, sizeof drawn, "%x", static_cast<unsigned>(mirror.NextInt(0, 0x7fff)));
  const std::string decorated = std::string("VelmarIndexedMeshDefinition::CreateMaterial> *shed*") + drawn + "*onetex*";
  // The second type carries the token already and keeps its name.
  const std::vector<Vak::PString> requested = {decorated.c_str(), "owner*folder*roof"};
  EXPECT_EQ(loader.manager.Requested(), requested);
  EXPECT_EQ(def->GetMaterialName(0), Vak::PString(decorated.c_str()));
  EXPECT_EQ(def->GetMaterialName(1), Vak::PString("owner*folder*roof"));

  const Vak::DisplayMaterial walls = def->GetDisplayMaterial(0);
  EXPECT_EQ(walls.diffuse, (Vak::Colour{0.5f, 0.25f, 1, 1}));
  EXPECT_EQ(walls.ambient, (Vak::Colour{0.1f, 0.2f, 0.3f, 0.4f}));
  EXPECT_EQ(walls.specular, (Vak::Colour{1, 0, 0, 1}));
  EXPECT_EQ(walls.emissive, (Vak::Colour{0, 1, 0, 0.5f}));
  EXPECT_FLOAT_EQ(walls.power, 64.0f);
  EXPECT_FLOAT_EQ(def->GetDisplayMaterial(1).power, 256.0f);
  EXPECT_TRUE(def->GetMaterialFlag(0));
  EXPECT_FALSE(def->GetMaterialFlag(1));
  EXPECT_FLOAT_EQ(def->GetMaterialValue(0), 0.25f);
  ASSERT_EQ(def->GetMaterialPropertyCount(0), 2u);
  EXPECT_EQ(Property(*def, 0, 0, false), "shine");
  EXPECT_EQ(Property(*def, 0, 0, true), "0.5");
  EXPECT_EQ(Property(*def, 0, 1, false), "mood");
  EXPECT_EQ(Property(*def, 0, 1, true), "grim");

  const std::vector<std::vector<std::string>> textures = {{"walls.texture"}, {"a.texture", "b.texture"}};
  for (unsigned m = 0; m < 2; ++m) {
    const auto* list = def->GetMaterialTextures(m);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> names;
    for (const auto& t : *list) names.emplace_back(t.file.c_str());
    EXPECT_EQ(names, textures[m]) << "material " << m;
  }
  ASSERT_EQ(def->GetPendingBindings().size(), 2u);
  EXPECT_EQ(def->GetPendingBindings()[0].decoratedName, Vak::PString(decorated.c_str()));
}

TEST(ConfigMeshTest, InfluencesAndAttachmentPointsAreTheConfigs) {
  ConfigLoader loader;
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  ASSERT_EQ(loader.Load(kShed, def), 0u);
  ASSERT_EQ(def->GetInfluenceCount(), 2);
  EXPECT_EQ(def->GetInfluenceName(0), Vak::PString("root"));
  EXPECT_EQ(def->GetInfluenceName(1), Vak::PString("arm"));
  EXPECT_EQ(def->GetInfluenceParentName(1), Vak::PString("root"));
  EXPECT_EQ(def->GetInfluencePosition(1), Vak::Vector3(0, 2, 0));
  ASSERT_EQ(def->GetInfluenceGroupCount(0), 1u);
  EXPECT_EQ(def->GetInfluenceGroupChunk(0, 0), 0u);
  ASSERT_EQ(def->GetInfluenceGroupEntryCount(0, 0), 2u);
  Vak::InfluenceDefinition::Entry entries[2];
  ASSERT_TRUE(def->CopyInfluenceGroupEntries(0, 0, entries));
  EXPECT_EQ(entries[1].vertex, 2u);
  EXPECT_FLOAT_EQ(entries[1].weight, 0.5f);
  EXPECT_EQ(entries[1].offset, Vak::Vector3(0, 1, 0));
  ASSERT_NE(def->GetRootBone(), nullptr);
  EXPECT_EQ(def->GetRootBone()->GetName(), Vak::PString("root"));

  // The weights went into the chunk: vertex 2 has both bones.
  ASSERT_TRUE(def->UsesHardwareSkinning());
  const Vak::GeometryChunk* walls = def->GetChunk(0);
  auto packed = walls->GetItem<uint32_t>(Vak::kItemPackedWeights);
  auto blend = walls->GetItem<uint32_t>(Vak::kItemBlendIndices);
  ASSERT_TRUE(packed && blend);
  const auto* w = reinterpret_cast<const uint8_t*>(packed(2));
  const auto* b = reinterpret_cast<const uint8_t*>(blend(2));
  EXPECT_EQ(w[0], 127);
  EXPECT_EQ(w[1], 127);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 3);
  EXPECT_EQ(b[2], 0xFE);

  ASSERT_EQ(def->GetAttachmentPointCount(), 2);
  EXPECT_EQ(def->GetAttachmentPointName(0), Vak::PString("a.light"));
  EXPECT_EQ(def->GetAttachmentPointPosition(0), Vak::Vector3(0, 0, 2));
  const Vak::Quaternion q = def->GetAttachmentPointRotation(0);
  EXPECT_NEAR(std::fabs(q.z), 0.7071068f, 1e-5f);
  EXPECT_NEAR(std::fabs(q.w), 0.7071068f, 1e-5f);
  EXPECT_EQ(def->GetAttachmentPointName(1), Vak::PString("b.spot"));
  EXPECT_EQ(def->GetAttachmentPointPosition(1), Vak::Vector3(5, 6, 7));
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(def->GetAttachmentPoints()[1].matrix, identity, sizeof identity));
}

TEST(ConfigMeshTest, RefusedConfigsGiveTheirResult) {
  const std::string overMaximum = std::string(kShed).replace(std::string(kShed).find("maxVertices 8"), 13,
                                                             "maxVertices 3");
  struct Case {
    const char* what;
    const char* text;  // null: no file at all
    bool withManager;
    unsigned long result;
  } const cases[] = {
      {"no file", nullptr, true, 2},
      {"malformed text", "version 1.0\nchunk {\n", true, 3},
      {"syntax version", "version 2.0\nchunk { }\n", true, 4},
      {"version and nothing else", "version 1.0\n", true, 3},
      {"geometry config version", "version 1.5\nchunk { }\n", true, 3},
      {"chunk over the maximum vertex count", overMaximum.c_str(), true, 3},
      {"no material manager", kShed, false, 5},
      {"empty texture name under a decorated type",
       "version 1.0\nchunk { material { type \"plain\" texture \"\" } vertex 0 0 0 0 0 1 0 0 }\n", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConfigLoader loader;
    loader.withManager = c.withManager;
    std::unique_ptr<VelmarIndexedMeshDefinition> def;
    const unsigned long result =
        c.text ? loader.Load(c.text, def) : loader.LoadPath(loader.folder / "missing.imtxt", def);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(def->GetChunks()->Count(), 0u);
  }
}

TEST(ConfigMeshTest, AMaterialTheManagerCannotFindFailsTheBuild) {
  ConfigLoader loader;
  loader.manager.SetDefaultAnswer(Vak::MaterialManager::kNotFound);
  std::unique_ptr<VelmarIndexedMeshDefinition> def;
  EXPECT_EQ(loader.Load(kShed, def), 6u);
  ASSERT_EQ(loader.resource.failed.size(), 1u);
}

} // namespace
