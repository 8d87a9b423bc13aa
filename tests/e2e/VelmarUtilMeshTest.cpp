// `validate` reading real meshes: the meshes a config names are loaded
// through the program's resource types, and the legacy upgrade takes track
// ends from their attachment points.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"
#include "tests/assets3d/mesh/LodmBuilder.h"
#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;
using namespace meshtest;

std::string Count(int errors, int warnings) {
  return "OK (" + std::to_string(errors) + " Errors, " + std::to_string(warnings) + " Warnings)\n";
}

std::string Header(int content, const char* kind, const char* build) {
  return "kuid <kuid:414141:" + std::to_string(content) + ">\r\nkind \"" + kind + "\"\r\nusername \"Mesh " +
         std::to_string(content) + "\"\r\nvelmar-build " + build + "\r\n";
}

std::string MeshTable(const char* mesh) {
  return std::string("mesh-table\r\n{\r\n  default\r\n  {\r\n    mesh \"") + mesh +
         "\"\r\n    auto-create 1\r\n  }\r\n}\r\n";
}

std::string Quad(const std::vector<std::string>& textures = {}, const std::vector<Attachment>& points = {}) {
  ChunkGroup g = QuadGroup();
  for (const std::string& file : textures) g.material.textures.push_back(Texture{0, file, 1});
  return IdxmFile({g}, points.empty() ? "" : AtchChunk(points));
}

std::vector<Attachment> TrackEnds(const char* prefix, int pairs) {
  std::vector<Attachment> points;
  for (int n = 0; n < pairs; ++n)
    for (const char end : {'a', 'b'})
      points.push_back(Attachment{std::string("a.") + prefix + std::to_string(n) + end, kIdentity9,
                                  {float(n), end == 'a' ? 0.0f : 10.0f, 0}});
  return points;
}

// Levels switched at 10 and 50 (or only the first), drawn with one material;
// the last level is a grid of `side` x `side` vertices.
std::string Levels(bool single, uint32_t side, const std::vector<std::string>& textures) {
  Lodm m = LevelsAt(single ? std::vector<float>{10} : std::vector<float>{10, 50});
  for (const std::string& file : textures) m.materials[0].textures.push_back(Texture{0, file, 1});
  m.levels.back().chunks = {LevelChunk{0, Grid(side)}};
  return LodmFile(m);
}

// An animation of one frame that moves no bone.
std::string StillAnimation() {
  std::string out = "KINA";
  Vak::AppendLE32(out, 1u);
  Vak::AppendLE32(out, 1u);
  Vak::AppendLE32(out, 0u);
  return out;
}

class VelmarUtilMeshTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    install_ = new Installation;
    const std::string made = install_->Scratch("made");
    auto write = [&](const std::string& file, const std::string& bytes) { e2e::WriteText(made + "/" + file, bytes); };
    const std::string sound = Quad();

    write("sound/config.txt", Header(60, "scenery", "3.1") + MeshTable("body.im"));
    write("sound/body.im", sound);
    write("short/config.txt", Header(61, "scenery", "3.1") + MeshTable("body.im"));
    write("short/body.im", sound.substr(0, sound.size() / 2));
    std::string magic = sound;
    magic.replace(0, 4, "RIFF");
    write("magic/config.txt", Header(62, "scenery", "3.1") + MeshTable("body.im"));
    write("magic/body.im", magic);
    write("texture/config.txt", Header(63, "scenery", "3.1") + MeshTable("body.im"));
    write("texture/body.im", Quad({"wall.texture"}));
    write("progressive/config.txt", Header(64, "scenery", "3.1") + MeshTable("body.pm"));
    write("progressive/body.pm", sound);

    write("turntable/config.txt", Header(65, "turntable", "2.5") +
                                      "asset-filename \"turn\"\r\nmode0 \"base\"\r\nmode1 \"deck\"\r\n"
                                      "track <kuid:414141:66>\r\n");
    write("turntable/base/base.im", Quad({}, TrackEnds("otrack", 2)));
    write("turntable/deck/deck.im", Quad({}, TrackEnds("itrack", 1)));
    write("crossing/config.txt", Header(67, "mocrossing", "2.5") +
                                     "asset-filename \"cross\"\r\nmode0 \"cross\"\r\nmode1 \"up\"\r\n"
                                     "road <kuid:414141:66>\r\ntrack <kuid:414141:66>\r\n");
    std::vector<Attachment> crossingEnds = TrackEnds("road", 1);
    for (const Attachment& a : TrackEnds("track", 1)) crossingEnds.push_back(a);
    write("crossing/cross/cross.im", Quad({}, crossingEnds));
    write("crossing/cross/anim.kin", StillAnimation());
    write("track/config.txt", Header(66, "track", "3.1"));

    // Level-of-detail meshes; a grid of 14 x 14 vertices has 338 triangles,
    // one of 13 x 13 has 288. The texture is there with its description.
    struct LevelAsset {
      const char* folder;
      int content;
      std::string bytes;
    };
    const LevelAsset lods[] = {
        {"lodsound", 68, Levels(false, 14, {"wall.texture"})},
        {"lodsingle", 69, Levels(true, 14, {"wall.texture"})},
        {"lodfew", 70, Levels(false, 13, {"wall.texture"})},
        {"lodbare", 71, Levels(false, 14, {})},
        {"lodshort", 72, Levels(false, 14, {}).substr(0, 200)},
    };
    for (const LevelAsset& a : lods) {
      const std::string folder = a.folder;
      write(folder + "/config.txt", Header(a.content, "scenery", "3.1") + MeshTable("body.lm"));
      write(folder + "/body.lm", a.bytes);
      write(folder + "/wall.texture", "compressed");
      write(folder + "/wall.texture.txt", "Primary=wall.tga\r\n");
      const Result convert = e2e::RunProgram(
          {"/usr/bin/convert-im6.q16", "-size", "8x8", "xc:red", made + "/" + folder + "/wall.tga"}, made);
      ASSERT_EQ(convert.code, 0) << convert.err;
    }

    // Descriptions of indexed levels: a near grid of 3 x 3 and a far one of
    // 14 x 14 vertices, drawn with `texture`.
    struct DescriptionAsset {
      const char* folder;
      int content;
      const char* text;
      const char* texture;
    };
    const char* const twoLevels = "version 1.0\r\nmesh 0 { name \"near.im\" }\r\nmesh 50 { name \"far.im\" }\r\n";
    const DescriptionAsset descriptions[] = {
        {"lodtext", 73, twoLevels, "wall.texture"},
        {"lodtextgone", 74, twoLevels, "gone.texture"},
        {"lodtextfalling", 75, "version 1.0\r\nmesh 50 { name \"near.im\" }\r\nmesh 0 { name \"far.im\" }\r\n",
         "wall.texture"},
        {"lodtextmissing", 76, "version 1.0\r\nmesh 0 { name \"near.im\" }\r\nmesh 50 { name \"none.im\" }\r\n",
         "wall.texture"},
    };
    for (const DescriptionAsset& a : descriptions) {
      const std::string folder = a.folder;
      write(folder + "/config.txt", Header(a.content, "scenery", "3.1") + MeshTable("body.lm.txt"));
      write(folder + "/body.lm.txt", a.text);
      for (const auto& [file, side] : {std::pair{"near.im", 3u}, std::pair{"far.im", 14u}}) {
        ChunkGroup g;
        g.geometry = Grid(side);
        g.material.textures.push_back(Texture{0, a.texture, 1});
        write(folder + "/" + file, IdxmFile({g}));
      }
      write(folder + "/wall.texture", "compressed");
      write(folder + "/wall.texture.txt", "Primary=wall.tga\r\n");
      const Result convert = e2e::RunProgram(
          {"/usr/bin/convert-im6.q16", "-size", "8x8", "xc:red", made + "/" + folder + "/wall.tga"}, made);
      ASSERT_EQ(convert.code, 0) << convert.err;
    }

    // Skinned meshes: an indexed one and levels of detail with a bone table.
    ChunkGroup skinnedQuad = QuadGroup();
    skinnedQuad.geometry.weights = 4;
    Info skinnedInfo;
    skinnedInfo.maxInfluences = 4;
    skinnedInfo.maxMatrices = 20;
    write("skinned/config.txt", Header(77, "scenery", "3.1") + MeshTable("body.im"));
    write("skinned/body.im",
          IdxmFile({skinnedQuad},
                   InflChunk({Influence{"root", std::nullopt, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 1}}}}}}),
                   skinnedInfo));
    Lodm skinnedLevels = LevelsAt({10, 50});
    skinnedLevels.materials[0].textures.push_back(Texture{0, "wall.texture", 1});
    skinnedLevels.levels.back().chunks = {LevelChunk{0, Grid(14)}};
    skinnedLevels.bont = std::vector<BoneRecord>{{"root", ""}};
    write("lodskinned/config.txt", Header(78, "scenery", "3.1") + MeshTable("body.lm"));
    write("lodskinned/body.lm", LodmFile(skinnedLevels));
    write("lodskinned/wall.texture", "compressed");
    write("lodskinned/wall.texture.txt", "Primary=wall.tga\r\n");
    const Result convert = e2e::RunProgram(
        {"/usr/bin/convert-im6.q16", "-size", "8x8", "xc:red", made + "/lodskinned/wall.tga"}, made);
    ASSERT_EQ(convert.code, 0) << convert.err;

    std::string batch = "installfrompath " + made + "\n";
    for (int content = 60; content <= 78; ++content) batch += "commit <kuid:414141:" + std::to_string(content) + ">\n";
    const Result installed = install_->RunBatch(batch);
    ASSERT_EQ(installed.code, 0) << installed.out << installed.err;
  }
  static void TearDownTestSuite() {
    delete install_;
    install_ = nullptr;
  }

  // The installed folder of the asset whose config holds `text`, relative to
  // the content folder ("local").
  static std::filesystem::path InstalledFolder(const std::string& text) {
    const std::filesystem::path local = install_->Root() + "/local";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(local))
      if (entry.path().filename() == "config.txt" && e2e::ReadText(entry.path()).find(text) != std::string::npos)
        return entry.path().parent_path().lexically_relative(local);
    return {};
  }

  static Installation* install_;
};

Installation* VelmarUtilMeshTest::install_ = nullptr;

TEST_F(VelmarUtilMeshTest, MeshFindingsOfEachAsset) {
  struct Case {
    const char* what;
    int content;
    std::string out;  // "<F>" stands for the installed folder's name, "<P>" for its path below "local"
  };
  const std::string loadFailed = "- <kuid:414141:%> : Mesh '<F>\\body.im' failed to load\n" + Count(1, 0);
  const Case cases[] = {
      {"sound mesh", 60, Count(0, 0)},
      {"cut short", 61, loadFailed},
      {"bad magic", 62, loadFailed},
      {"missing texture", 63, "- <kuid:414141:%> : Texture '<P>\\wall.texture' is missing\n" + Count(1, 0)},
      {"progressive mesh", 64, "- <kuid:414141:%> : Progressive meshes (.pm) are no longer supported\n" + Count(1, 0)},
      {"sound levels of detail", 68, Count(0, 0)},
      {"a single level", 69, "! <kuid:414141:%> : Mesh 'body.lm' has only one level of detail\n" + Count(0, 1)},
      {"few primitives in the last level", 70,
       "! <kuid:414141:%> : The last level of detail of mesh 'body.lm' has fewer than 300 primitives\n" + Count(0, 1)},
      {"levels without textures", 71,
       "! <kuid:414141:%> : Mesh 'body.lm' has no textures and no animations\n" + Count(0, 1)},
      {"levels cut short", 72, "- <kuid:414141:%> : Mesh '<F>\\body.lm' failed to load\n" + Count(1, 0)},
      {"sound description", 73, Count(0, 0)},
      {"description with a missing texture", 74,
       "- <kuid:414141:%> : Texture '<P>\\gone.texture' is missing\n" + Count(1, 0)},
      {"description with falling distances", 75,
       "- <kuid:414141:%> : Mesh '<F>\\body.lm.txt' failed to load\n" + Count(1, 0)},
      {"description naming a missing level", 76,
       "- <kuid:414141:%> : Mesh '<F>\\body.lm.txt' failed to load\n" + Count(1, 0)},
      {"skinned mesh", 77, Count(0, 0)},
      {"skinned levels of detail", 78, Count(0, 0)},
  };
  for (const Case& c : cases) {
    const std::string kuid = "<kuid:414141:" + std::to_string(c.content) + ">";
    const std::filesystem::path folder = InstalledFolder("kuid:414141:" + std::to_string(c.content) + ">");
    std::string path = folder.string();
    for (char& ch : path) ch = ch == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string expected = c.out;
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"%", std::to_string(c.content)},
                                   {"<F>", folder.filename().string()}, {"<P>", path}})
      for (std::size_t at; (at = expected.find(from)) != std::string::npos;) expected.replace(at, from.size(), to);
    const Result result = install_->Run({"validate", kuid});
    EXPECT_EQ(result.code, 0) << c.what;
    EXPECT_EQ(result.out, expected) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
  }
}

TEST_F(VelmarUtilMeshTest, LegacyTurntableAndCrossingTakeTheirTracksFromTheMeshes) {
  for (int content : {65, 67}) {
    const Result result = install_->Run({"validate", "<kuid:414141:" + std::to_string(content) + ">"});
    EXPECT_EQ(result.code, 0) << content;
    EXPECT_EQ(result.out, Count(0, 0)) << content;
    EXPECT_EQ(result.err, "") << content;
  }
}

// The sample installation's mesh asset (scripts/demo shows it): its mesh
// names the brick texture, found once the asset's description is compressed.
TEST(VelmarUtilSampleMeshTest, TheSampleMeshAssetValidatesCleanOnceItsTextureIsCompressed) {
  Installation install;
  const Result installed =
      install.RunBatch("installfrompath " + install.Samples() + "/mesh\ncommit <kuid:414141:4>\n");
  ASSERT_EQ(installed.code, 0) << installed.out << installed.err;

  const Result before = install.Run({"validate", "<kuid:414141:4>"});
  EXPECT_EQ(before.code, 0);
  EXPECT_NE(before.out.find("brick.texture' is missing\n" + Count(1, 0)), std::string::npos) << before.out;

  ASSERT_EQ(install.Run({"compresstexture", install.Root() + "/local"}).code, 0);
  const Result after = install.Run({"validate", "<kuid:414141:4>"});
  EXPECT_EQ(after.code, 0);
  EXPECT_EQ(after.out, Count(0, 0));
  EXPECT_EQ(after.err, "");
}

} // namespace
