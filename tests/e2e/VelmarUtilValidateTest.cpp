// `validate` and `dlsparse` on installed assets: the findings of the config
// and texture checks as the front end prints them. Findings never fail the
// command.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

// Stand for the asset's installed folder, and its name, inside an expected
// text.
const std::string kFolder = "<FOLDER>";
const std::string kFolderName = "<FOLDER-NAME>";

std::string Count(int errors, int warnings) {
  return "OK (" + std::to_string(errors) + " Errors, " + std::to_string(warnings) + " Warnings)\n";
}

struct Made {
  const char* folder;
  int content;
  const char* kind;
  const char* build;
  const char* more;
};

// The assets the test makes; their KUIDs are 414141:<content>.
const Made kMade[] = {
    {"water", 20, "water", "3.1", ""},
    {"vector", 21, "scenery", "3.1", "height-range \"1, 2\"\r\n"},
    {"texture28", 22, "scenery", "2.8", ""},
    {"texture29", 23, "scenery", "2.9", ""},
    {"square", 24, "scenery", "3.1", ""},
    {"oblong", 25, "scenery", "3.1", ""},
    {"future", 26, "scenery", "3.11", "colour \"red\"\r\n"},
    {"build310", 27, "scenery", "3.1", ""},
    {"turntable", 28, "turntable", "2.5",
     "asset-filename \"turn\"\r\nmode0 \"base\"\r\nmode1 \"deck\"\r\ntrack <kuid:414141:1>\r\n"},
};

class VelmarUtilValidateTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    install_ = new Installation;
    const std::string made = install_->Scratch("made");
    for (const Made& m : kMade) {
      e2e::WriteText(made + "/" + m.folder + "/config.txt",
                     "kuid <kuid:414141:" + std::to_string(m.content) + ">\r\nkind \"" + m.kind +
                         "\"\r\nusername \"Check " + m.folder + "\"\r\nvelmar-build " + m.build + "\r\n" + m.more);
    }
    e2e::WriteText(made + "/texture28/wall.texture", "compressed");
    e2e::WriteText(made + "/texture29/wall.texture", "compressed");
    for (const auto& [folder, size] : {std::pair{"square", "256x128"}, std::pair{"oblong", "256x100"}}) {
      const std::string image = made + "/" + folder + "/wall.tga";
      const Result convert =
          e2e::RunProgram({"/usr/bin/convert-im6.q16", "-size", size, "xc:red", image}, install_->Scratch(""));
      ASSERT_EQ(convert.code, 0) << convert.err;
      e2e::WriteText(made + "/" + folder + "/wall.texture.txt", "Primary=wall.tga\r\n");
    }
    std::string batch = "installfrompath " + install_->Samples() + "/assets\n" + "installfrompath " +
                        install_->Samples() + "/validate\n" + "installfrompath " + made + "\n";
    for (int content : {1, 8, 9, 20, 21, 22, 23, 24, 25, 26, 27, 28})
      batch += "commit <kuid:414141:" + std::to_string(content) + ">\n";
    const Result installed = install_->RunBatch(batch);
    ASSERT_EQ(installed.code, 0) << installed.out << installed.err;
  }
  static void TearDownTestSuite() {
    delete install_;
    install_ = nullptr;
  }

  // The installed folder of the asset whose config holds `text`.
  static std::string InstalledFolder(const std::string& text) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(install_->Root() + "/local"))
      if (entry.path().filename() == "config.txt" && e2e::ReadText(entry.path()).find(text) != std::string::npos)
        return entry.path().parent_path().string();
    return "";
  }

  static Installation* install_;
};

Installation* VelmarUtilValidateTest::install_ = nullptr;

TEST_F(VelmarUtilValidateTest, FindingsOfEachAsset) {
  struct Case {
    const char* what;
    int content;
    std::string out;  // kFolder stands for the asset's folder
  };
  const Case cases[] = {
      {"clean", 1, Count(0, 0)},
      {"unknown tag", 9, "- <kuid:414141:9> : Unknown tag 'colour' in 'scenery'\n" + Count(1, 0)},
      {"build 3.1 checked", 27, Count(0, 0)},
      {"build 3.11 future", 26,
       "- <kuid:414141:26> : This asset was made for a newer version and cannot be validated\n" + Count(1, 0)},
      {"water", 20, "! <kuid:414141:20> : Water is obsolete in this kind of asset\n" + Count(0, 1)},
      {"vector of three", 21, "- <kuid:414141:21> : 'height-range' must hold 2 values, not 3\n" + Count(1, 0)},
      {"texture without description at 2.8", 22,
       "! <kuid:414141:22> : Texture '" + kFolder + "/wall.texture' has no texture description\n" + Count(0, 1)},
      {"texture without description at 2.9", 23,
       "- <kuid:414141:23> : Texture '" + kFolder + "/wall.texture' has no texture description\n" + Count(1, 0)},
      {"primary 256 x 128", 24, Count(0, 0)},
      {"primary 256 x 100", 25,
       "- <kuid:414141:25> : The width and height of an image must be powers of two\n" + Count(1, 0)},
      // The upgrade's mesh table reaches the mesh check; no mesh is there.
      {"legacy turntable", 28,
       "- <kuid:414141:28> : Mesh '" + kFolderName + "\\base\\base.im' is missing or is not a mesh\n"
       "- <kuid:414141:28> : Mesh '" + kFolderName + "\\deck\\deck.im' is missing or is not a mesh\n" +
           Count(2, 0)},
  };
  for (const Case& c : cases) {
    const std::string kuid = "<kuid:414141:" + std::to_string(c.content) + ">";
    const Result result = install_->Run({"validate", kuid});
    EXPECT_EQ(result.code, 0) << c.what;
    std::string expected = c.out;
    const std::string folder = InstalledFolder("kuid:414141:" + std::to_string(c.content) + ">");
    for (const auto& [mark, text] : {std::pair{kFolder, folder},
                                     std::pair{kFolderName, std::filesystem::path(folder).filename().string()}})
      for (std::size_t at = expected.find(mark); at != std::string::npos; at = expected.find(mark, at + text.size()))
        expected.replace(at, mark.size(), text);
    EXPECT_EQ(result.out, expected) << c.what;
    EXPECT_EQ(result.err, "") << c.what;
  }
}

TEST_F(VelmarUtilValidateTest, LegacyAssetValidatesWithoutItsConfigChanging) {
  const std::string config = InstalledFolder("Sample Old Hut") + "/config.txt";
  const std::string before = e2e::ReadText(config);
  ASSERT_NE(before, "");
  const Result result = install_->Run({"validate", "<kuid:414141:8>"});
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out, Count(0, 0));
  EXPECT_EQ(e2e::ReadText(config), before);
}

TEST_F(VelmarUtilValidateTest, PackageParseShowsTheFindingAmongTheNotes) {
  const std::string package = install_->Scratch("odd.cdp");
  ASSERT_EQ(install_->Run({"createcdp", package, "<kuid:414141:9>"}).code, 0);
  const Result result = install_->Run({"dlsparse", package});
  EXPECT_EQ(result.code, 0);
  const std::string finding = "- <kuid:414141:9> : Unknown tag 'colour' in 'scenery'\n";
  const std::size_t at = result.out.find(finding);
  ASSERT_NE(at, std::string::npos) << result.out;
  EXPECT_NE(result.out.find("; <kuid:414141:9> : Name: Sample Odd Shed\n", at), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(Count(1, 0)), std::string::npos) << result.out;
}

} // namespace
