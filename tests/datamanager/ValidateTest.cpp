// Asset validation: the config check, the container check and the texture
// files of the asset's folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "datamanager/Container.h"
#include "datamanager/Validate.h"
#include "tests/datamanager/ConfigModelSupport.h"
#include "tests/engine/kernelx/ImageFiles.h"

namespace {

using RUZLib::Container;

const char* const kSchema = R"(scenery
{
  top-level 1
  subpossibilities
  {
    kind
    {
      kind "value"
      type "string"
    }
    velmar-build
    {
      kind "value"
      type "float"
    }
    range
    {
      kind "value"
      type "vector2"
      validation
      {
        arraysize
        {
          size "2"
        }
      }
    }
    alias
    {
      kind "value"
      type "string"
    }
    mesh
    {
      kind "value"
      type "filepath"
      datatype "meshes"
    }
  }
}
)";

std::string AssetConfig(const char* build, const char* more = "") {
  return std::string("kind \"scenery\"\r\nvelmar-build ") + build + "\r\n" + more;
}

// A TGA of the size, as the texture check reads it.
std::string Image(uint32_t width, uint32_t height) {
  return imagefiles::Tga(imagefiles::Pattern(width, height, 0), 24, false);
}

class Validate : public datamanager::test::ConfigModelFixture {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    ASSERT_TRUE(SetDatabaseRootPath(folder_.Path().c_str()));
    Start(kSchema);
  }
  void TearDown() override {
    SetDatabaseRootPath(savedRoot_);
    ConfigModelFixture::TearDown();
  }

  // Writes the asset's config under local/NAME and validates it the way the
  // asset database does; the results log's lines as "severity:text".
  std::vector<std::string> Run(const std::string& name, const std::string& config, bool archivePresent = false,
                               bool* passed = nullptr) {
    folder_.WriteFile("local/" + name + "/config.txt", config);
    ResultsLog results;
    RUZLib::DataManagerValidation validation;
    bool kindUnchanged = false;
    const bool loaded = validation.ValidateAsset((folder_ / ("local/" + name)).c_str(), nullptr, "config.txt",
                                                 archivePresent, results, kindUnchanged);
    validation.PurgeLoadedData();
    validation.ClearMeshFailureReported();
    if (passed) *passed = loaded && kindUnchanged;
    return Lines(results);
  }
  static std::vector<std::string> Lines(ResultsLog& results) {
    std::vector<std::string> lines;
    results.Lock();
    for (const ResultsLog::Line& line : results.GetLines())
      lines.push_back(std::to_string(line.severity) + ":" + static_cast<const char*>(line.text));
    results.Unlock();
    return lines;
  }
  // The texture check alone over local/NAME at the build.
  std::vector<std::string> Textures(const std::string& name, float build, bool* passed = nullptr) {
    ClearRecords();
    Manager().currentBuild = build;
    Container container;
    const bool result = container.CheckTextureFiles((folder_ / ("local/" + name)).c_str());
    if (passed) *passed = result;
    return Records();
  }

  Vak::File::Path savedRoot_;
};

TEST_F(Validate, ConfigChecksFollowTheBuildAndKind) {
  const char* const unknown = "colour \"red\"\r\n";
  struct Case {
    const char* what;
    std::string config;
    bool archivePresent;
    bool passes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"clean", AssetConfig("3.1"), false, true, {}},
      {"unknown tag", AssetConfig("3.1", unknown), false, true, {"3:107|colour|scenery"}},
      {"build 3.10 is checked", AssetConfig("3.10", unknown), false, true, {"3:107|colour|scenery"}},
      {"build 3.11 is a future asset", AssetConfig("3.11", unknown), false, false, {"3:$ruz_future_asset"}},
      {"water", std::string("kind \"Water\"\r\nvelmar-build 3.1\r\n") + unknown, false, true,
       {"2:$ruz_obsolete_water"}},
      {"dye loft", std::string("kind \"dyeloft-skin\"\r\n") + unknown, false, true, {"2:$ruz_obsolete_dyeloft"}},
      {"archived 2.80 unchecked", AssetConfig("2.80", unknown), true, true, {}},
      {"archived 2.90 checked", AssetConfig("2.90", unknown), true, true, {"3:107|colour|scenery"}},
      {"vector of three values", AssetConfig("3.1", "range \"1, 2\"\r\n"), false, true, {"3:198|range|2|3"}},
      {"no kind", "velmar-build 3.1\r\n", false, false, {"3:115"}},
  };
  for (const Case& c : cases) {
    bool passed = false;
    EXPECT_EQ(Run("a", c.config, c.archivePresent, &passed), c.lines) << c.what;
    EXPECT_EQ(passed, c.passes) << c.what;
  }
}

TEST_F(Validate, EachAssetReportsItsOwnMissingMeshes) {
  // An alias silences missing meshes for its own asset only.
  const std::string missing = AssetConfig("3.1", "mesh \"body.im\"\r\n");
  EXPECT_EQ(Run("a", missing), std::vector<std::string>{"3:131|body.im"});
  EXPECT_EQ(Run("b", AssetConfig("3.1", "alias \"x\"\r\nmesh \"body.im\"\r\n")), std::vector<std::string>{"2:119"});
  EXPECT_EQ(Run("c", missing), std::vector<std::string>{"3:131|body.im"});
}

TEST_F(Validate, TextureFindingsReachTheResultsLog) {
  folder_.WriteFile("local/t/wall.texture", "compressed");
  EXPECT_EQ(Run("t", AssetConfig("3.1")),
            std::vector<std::string>{"3:186|" + (folder_ / "local/t/wall.texture")});
  // A config without children is not looked at.
  EXPECT_EQ(Run("t", ""), std::vector<std::string>{"3:115"});
}

TEST_F(Validate, TextureFilesOfTheFolderAndItsSubFolders) {
  const std::string base = folder_ / "local";
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    float build;
    std::vector<std::string> records;
  };
  const Case cases[] = {
      {"texture with its description", {{"a.texture", "x"}, {"a.texture.txt", "Primary=a.tga\r\n"}, {"a.tga", Image(256, 128)}},
       3.1f, {}},
      {"texture without description at 2.8", {{"a.texture", "x"}}, 2.8f, {"2:186|" + base + "/case/a.texture"}},
      {"texture without description at 2.9", {{"a.texture", "x"}}, 2.9f, {"3:186|" + base + "/case/a.texture"}},
      {"in a sub-folder", {{"sub/deeper/a.texture", "x"}}, 3.1f, {"3:186|" + base + "/case/sub/deeper/a.texture"}},
      {"primary 256 x 100", {{"a.texture.txt", "Primary=A.TGA\r\n"}, {"a.tga", Image(256, 100)}}, 3.1f, {"3:190"}},
      {"primary and alpha agree",
       {{"a.texture.txt", "Primary=a.tga\nAlpha=m.bmp\n"}, {"a.tga", Image(64, 32)},
        {"m.bmp", imagefiles::Bmp(imagefiles::Pattern(64, 32, 0), 24)}},
       3.1f, {}},
      {"primary and alpha differ",
       {{"a.texture.txt", "Primary=a.tga\r\nAlpha=m.tga\r\n"}, {"a.tga", Image(64, 32)}, {"m.tga", Image(32, 32)}},
       3.1f, {"3:189"}},
      {"missing image", {{"a.texture.txt", "Primary=gone.tga\r\n"}}, 3.1f, {"3:133|" + base + "/case/gone.tga"}},
      {"unreadable image", {{"a.texture.txt", "Primary=a.tga\r\n"}, {"a.tga", Image(8, 8).substr(0, 40)}}, 3.1f,
       {"3:191|" + base + "/case/a.tga"}},
      {"conversion leftover", {{"b.convert-tex.txt", "x"}}, 3.1f, {"3:191|" + base + "/case/b.convert-tex.txt"}},
      {"other files", {{"notes.txt", "Primary=x.tga"}, {"a.tga", "not an image"}}, 3.1f, {}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(folder_ / "local/case");
    std::filesystem::create_directories(folder_ / "local/case");
    for (const auto& [name, content] : c.files) folder_.WriteFile("local/case/" + name, content);
    bool passed = false;
    EXPECT_EQ(Textures("case", c.build, &passed), c.records) << c.what;
    EXPECT_EQ(passed, c.records.empty()) << c.what;
  }
}

TEST_F(Validate, ALinkBackToAnAncestorEndsTheWalk) {
  folder_.WriteFile("local/loop/a.texture", "x");
  std::filesystem::create_directory_symlink(folder_ / "local", folder_ / "local/loop/up");
  EXPECT_EQ(Textures("loop", 3.1f), std::vector<std::string>{"3:186|" + (folder_ / "local/loop/a.texture")});
}

} // namespace
