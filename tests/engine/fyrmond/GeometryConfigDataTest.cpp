#include <gtest/gtest.h>

#include <string>

#include "engine/fyrmond/GeometryConfigData.h"
#include "engine/kernelx/ConfigParser.h"

namespace {

using Vak::GeometryConfigData;

const char kHead[] =
    "version 1.0\n"
    "position 1 2 3\n"
    "orientation 0 0 0.6 0.8\n"
    "maxInfluences 2\n"
    "maxMatrices 20\n";

const char kChunk[] =
    "chunk {\n"
    "  name \"body\"\n"
    "  texCoordSets 1\n"
    "  weightsPerVertex 2\n"
    "  material {\n"
    "    type \"onetex\"\n"
    "    texture \"body.texture\"\n"
    "    texture \"body_n.texture\"\n"
    "    property \"shine\" 0.5\n"
    "    flag 3  value 0.25  exponent 0.5\n"
    "    diffuse 1 0.5 0.25 1  ambient 0.1 0.2 0.3 0.4\n"
    "    specular 0 0 1 1  emissive 0 1 0 0.5\n"
    "  }\n"
    "  vertex 0 0 0  0 0 1  0 0\n"
    "  vertex 1 0 0  0 0 1  1 0\n"
    "  vertex 0 1 0  0 0 1  0 1\n"
    "  triangle 0 1 2\n"
    "  faceNormal 0 0 1\n"
    "}\n";

const char kTail[] =
    "influence {\n"
    "  name \"root\"\n"
    "  position 0 0 1\n"
    "  matrix 1 0 0 0 1 0 0 0 1\n"
    "  group { chunk 0  entry 2 0.75 0 1 0 }\n"
    "}\n"
    "influence { name \"arm\" parent \"root\" }\n"
    "attachment { name \"a.light\" orientation 0 0 0 1 position 4 5 6 }\n";

// Parses and loads; the parse must succeed for the load to be the question.
bool LoadText(const std::string& text, GeometryConfigData& config) {
  Vak::ConfigParser parser;
  EXPECT_EQ(parser.ParseText(text.data(), text.size()), Vak::ConfigParser::kOk) << text;
  if (!parser.GetData()) return false;
  return config.Load(*parser.GetData(), "meshes/body.imtxt");
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(GeometryConfigData, LoadsEveryPart) {
  GeometryConfigData config;
  ASSERT_TRUE(LoadText(std::string(kHead) + kChunk + kTail, config));
  EXPECT_STREQ(config.GetFileName(), "meshes/body.imtxt");
  EXPECT_EQ(config.GetPosition(), Vak::Vector3(1, 2, 3));
  EXPECT_FLOAT_EQ(config.GetOrientation().z, 0.6f);
  EXPECT_FLOAT_EQ(config.GetOrientation().w, 0.8f);
  EXPECT_EQ(config.GetMaxInfluencesPerVertex(), 2u);
  EXPECT_EQ(config.GetMaxMatricesPerChunk(), 20u);
  EXPECT_EQ(config.GetMaxVertexCount(), 0u);
  ASSERT_EQ(config.GetNumChunks(), 1u);
  const GeometryConfigData::Chunk& chunk = config.GetChunk(0);
  EXPECT_STREQ(chunk.name, "body");
  EXPECT_EQ(chunk.GetVertexCount(), 3u);
  EXPECT_EQ(chunk.GetIndexCount(), 3u);
  EXPECT_EQ(chunk.GetFaceNormalCount(), 1u);
  EXPECT_EQ(chunk.weightsPerVertex, 2u);
  EXPECT_EQ(chunk.positions[1], Vak::Vector3(1, 0, 0));
  EXPECT_EQ(chunk.normals[2], Vak::Vector3(0, 0, 1));
  EXPECT_EQ(chunk.texCoords, (std::vector<float>{0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(chunk.indices, (std::vector<uint16_t>{0, 1, 2}));
  EXPECT_TRUE(chunk.colours.empty());
  const GeometryConfigData::Material& material = chunk.material;
  EXPECT_STREQ(material.typeName, "onetex");
  ASSERT_EQ(material.textures.size(), 2u);
  EXPECT_STREQ(material.textures[1], "body_n.texture");
  ASSERT_EQ(material.properties.size(), 1u);
  EXPECT_STREQ(material.properties[0].first, "shine");
  EXPECT_STREQ(material.properties[0].second, "0.5");
  EXPECT_EQ(material.flag, 3u);
  EXPECT_FLOAT_EQ(material.value, 0.25f);
  EXPECT_FLOAT_EQ(material.exponent, 0.5f);  // as written, unscaled
  EXPECT_FLOAT_EQ(material.ambient[3], 0.4f);
  EXPECT_FLOAT_EQ(material.emissive[1], 1.0f);
  ASSERT_EQ(config.GetNumInfluences(), 2u);
  const GeometryConfigData::Influence& root = config.GetInfluence(0);
  EXPECT_STREQ(root.name, "root");
  EXPECT_STREQ(root.parentName, "");
  ASSERT_EQ(root.groups.size(), 1u);
  ASSERT_EQ(root.groups[0].entries.size(), 1u);
  EXPECT_EQ(root.groups[0].entries[0].vertex, 2u);
  EXPECT_FLOAT_EQ(root.groups[0].entries[0].weight, 0.75f);
  EXPECT_STREQ(config.GetInfluence(1).parentName, "root");
  ASSERT_EQ(config.GetNumAttachmentPoints(), 1u);
  EXPECT_STREQ(config.GetAttachmentPoint(0).name, "a.light");
  EXPECT_EQ(config.GetAttachmentPoint(0).position, Vak::Vector3(4, 5, 6));
}

// Each case breaks one rule of a sound config; the load must refuse it.
TEST(GeometryConfigData, Refuses) {
  const std::string sound = std::string(kHead) + kChunk + kTail;
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"version 1.1", Replace(sound, "version 1.0", "version 1.1")},
      {"no chunk", std::string(kHead) + "attachment { name \"a\" }\n"},
      {"chunk without group", Replace(sound, "chunk {", "chunk 1\nignored {")},
      {"no material", Replace(sound, "  material {", "  other {")},
      {"material without type", Replace(sound, "type \"onetex\"", "")},
      {"unquoted texture", Replace(sound, "texture \"body.texture\"", "texture 7")},
      {"short vertex", Replace(sound, "vertex 1 0 0  0 0 1  1 0", "vertex 1 0 0  0 0 1  1")},
      {"texture text in vertex", Replace(sound, "vertex 1 0 0  0 0 1  1 0", "vertex 1 0 0  0 0 1  1 \"0\"")},
      {"index past the vertices", Replace(sound, "triangle 0 1 2", "triangle 0 1 3")},
      {"negative index", Replace(sound, "triangle 0 1 2", "triangle 0 -1 2")},
      {"fractional index", Replace(sound, "triangle 0 1 2", "triangle 0 1.5 2")},
      {"face normals not one per triangle", Replace(sound, "faceNormal 0 0 1", "faceNormal 0 0 1 faceNormal 0 1 0")},
      {"colours for some vertices", Replace(sound, "triangle 0 1 2", "colour 1 1 1 1 0 0 0 1\ntriangle 0 1 2")},
      {"too many texture sets", Replace(sound, "texCoordSets 1", "texCoordSets 9")},
      {"five weights", Replace(sound, "weightsPerVertex 2", "weightsPerVertex 5")},
      {"over the maximum vertex count", Replace(sound, "maxMatrices 20", "maxMatrices 20 maxVertices 2")},
      {"maximum vertex count past 16 bits", Replace(sound, "maxMatrices 20", "maxMatrices 20 maxVertices 65537")},
      {"influence on a missing chunk", Replace(sound, "chunk 0  entry", "chunk 1  entry")},
      {"influence on a missing vertex", Replace(sound, "entry 2 0.75", "entry 3 0.75")},
      {"influence without name", Replace(sound, "name \"arm\"", "")},
      {"short matrix", Replace(sound, "matrix 1 0 0 0 1 0 0 0 1", "matrix 1 0 0 0 1 0 0 0")},
      {"attachment without name", Replace(sound, "name \"a.light\"", "")},
      {"short orientation", Replace(sound, "orientation 0 0 0.6 0.8", "orientation 0 0 0.6")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeometryConfigData config;
    EXPECT_FALSE(LoadText(c.text, config));
  }
}

TEST(GeometryConfigData, MaximumVertexCountKnownEvenWhenTheLoadFails) {
  GeometryConfigData config;
  const std::string text = std::string(kHead) + "maxVertices 3\nchunk { }\n";
  EXPECT_FALSE(LoadText(text, config));
  EXPECT_EQ(config.GetMaxVertexCount(), 3u);
  EXPECT_FALSE(LoadText(std::string(kHead) + "chunk { }\n", config));
  EXPECT_EQ(config.GetMaxVertexCount(), 0u);
}

TEST(GeometryConfigData, ColoursAndTextureSets) {
  std::string text = std::string(kHead) + kChunk;
  text = Replace(text, "texCoordSets 1", "texCoordSets 0");
  text = Replace(text, "vertex 0 0 0  0 0 1  0 0", "vertex 0 0 0 0 0 1 colour 1 0 0 1 0 0 0 1");
  text = Replace(text, "vertex 1 0 0  0 0 1  1 0", "vertex 1 0 0 0 0 1 colour 0 1 0 1 0 0 0 1");
  text = Replace(text, "vertex 0 1 0  0 0 1  0 1", "vertex 0 1 0 0 0 1 colour 0 0 1 1 0 0 0 1");
  GeometryConfigData config;
  ASSERT_TRUE(LoadText(text, config));
  const GeometryConfigData::Chunk& chunk = config.GetChunk(0);
  EXPECT_TRUE(chunk.texCoords.empty());
  ASSERT_EQ(chunk.colours.size(), 24u);
  EXPECT_EQ(chunk.colours[8 + 1], 1.0f);
}

} // namespace
