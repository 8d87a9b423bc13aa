// The commands' good paths on fresh installations.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"
#include "tests/e2e/HelpText.h"

namespace {

using e2e::Installation;
using e2e::Result;

const std::string kOk = "OK (0 Errors, 0 Warnings)\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The asset's files other than its config, which a package carries in
// binary form.
e2e::Snapshot FilesBesideConfig(const std::string& folder) {
  e2e::Snapshot files = e2e::TakeSnapshot(folder);
  files.erase("config.txt");
  files.erase("config.chump");
  return files;
}

TEST(VelmarUtilCommandsTest, HelpVersionEchoAndGeneratedKuids) {
  Installation install;
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    int code;
  };
  const Case cases[] = {
      {{"help"}, e2e::kHelpText + "\n", 0},
      {{"HeLP"}, e2e::kHelpText + "\n", 0},
      {{"version"}, "Build 38841\n" + kOk, 0},
      {{"version", "NoRender"}, "Build 38841\n" + kOk, 0},
      {{"echo", "MiXeD", "two words", "", "\"q\""}, "MiXeD two words  \"q\" \n" + kOk, 0},
      {{"echo"}, "\n" + kOk, 0},
      {{"setlanguage", "Fr"}, kOk, 0},
      {{"generatekuid"}, "<KUID2:414141:1001:0>\n" + kOk, 0},
      {{"GenerateKUID", "norender"}, "<KUID2:414141:1002:0>\n" + kOk, 0},
  };
  for (const Case& c : cases) {
    const Result result = install.Run(c.arguments);
    EXPECT_EQ(result.out, c.out) << c.arguments[0];
    EXPECT_EQ(result.err, "") << c.arguments[0];
    EXPECT_EQ(result.code, c.code) << c.arguments[0];
  }
  EXPECT_NE(e2e::ReadText(install.Root() + "/settings/kuid.txt").find("<kuid:414141:1002>"), std::string::npos);
}

TEST(VelmarUtilCommandsTest, InstalledAssetTravelsThroughAPackageToAnotherInstallation) {
  Installation install;
  Result result = install.Run({"installfrompath", install.Samples() + "/assets"});
  ASSERT_EQ(result.code, 0) << result.out;
  EXPECT_NE(result.out.find("+ <kuid:414141:1> : "), std::string::npos) << result.out;

  result = install.Run({"edit", "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out;
  const std::string editLine = "+ <kuid:414141:1> : " + install.Root() + "/editing/";
  EXPECT_EQ(result.out.rfind(editLine, 0), 0u) << result.out;

  EXPECT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  const Result config = install.Run({"printconfig", "<kuid:414141:1>"});
  EXPECT_EQ(config.code, 0);
  EXPECT_EQ(config.out.rfind("+ Start of <kuid:414141:1> dump\n", 0), 0u) << config.out;
  EXPECT_NE(config.out.find("\"Sample Shed\""), std::string::npos) << config.out;
  const std::string end = "+ End of <kuid:414141:1> dump\n" + kOk;
  ASSERT_GE(config.out.size(), end.size());
  EXPECT_EQ(config.out.substr(config.out.size() - end.size()), end);

  const std::string package = install.Scratch("Shed.cdp");
  result = install.Run({"createcdp", package, "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out << result.err;
  ASSERT_TRUE(std::filesystem::exists(package));

  Installation other("other");
  result = other.Run({"installcdp", package});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_EQ(other.Run({"printconfig", "<kuid:414141:1>"}).out, config.out);
  const std::string mesh = "mesh data of Sample Shed\n";
  const std::string here = e2e::LocalFolderHolding(install.Root(), "art/body.im", mesh);
  const std::string there = e2e::LocalFolderHolding(other.Root(), "art/body.im", mesh);
  ASSERT_FALSE(here.empty());
  ASSERT_FALSE(there.empty());
  const e2e::Snapshot files = FilesBesideConfig(here);
  EXPECT_EQ(FilesBesideConfig(there), files);
  EXPECT_EQ(files.count("art/body.im"), 1u);
  EXPECT_EQ(files.count("sound.wav"), 1u);
}

// Two spellings of one path, each naming something else: the one typed is
// read; case is folded only for a path that does not exist as typed.
TEST(VelmarUtilCommandsTest, APathThatExistsAsTypedIsReadAsTyped) {
  Installation source("source");
  ASSERT_EQ(source.Run({"installfrompath", source.Samples() + "/assets"}).code, 0);
  const std::string shed = "<kuid:414141:1>";
  const std::string wagon = "<kuid:414141:2>";
  const std::string places = source.Scratch("places");
  std::filesystem::create_directories(places + "/UP");
  std::filesystem::create_directories(places + "/up");
  for (const std::string& kuid : {shed, wagon}) ASSERT_EQ(source.Run({"commit", kuid}).code, 0);
  ASSERT_EQ(source.Run({"createcdp", places + "/UP/Pkg.cdp", shed}).code, 0);
  ASSERT_EQ(source.Run({"createcdp", places + "/up/pkg.cdp", wagon}).code, 0);
  const auto recursive = std::filesystem::copy_options::recursive;
  std::filesystem::create_directories(places + "/Pick/shed");
  std::filesystem::create_directories(places + "/pick/wagon");
  std::filesystem::copy(source.Samples() + "/assets/shed", places + "/Pick/shed", recursive);
  std::filesystem::copy(source.Samples() + "/assets/wagon", places + "/pick/wagon", recursive);

  struct Case {
    std::string command;
    std::string path;
    std::string installed;
    std::string left;
  };
  const Case cases[] = {
      {"installcdp", "/UP/Pkg.cdp", shed, wagon},
      {"installcdp", "/Up/PKG.cdp", wagon, shed},  // not as typed: folded
      {"installfrompath", "/Pick", shed, wagon},
      {"installfrompath", "/PICK", wagon, shed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + " " + c.path);
    Installation install;
    const Result result = install.Run({c.command, places + c.path});
    EXPECT_EQ(result.code, 0) << result.out;
    EXPECT_NE(result.out.find("+ " + c.installed + " : "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find(c.left), std::string::npos) << result.out;
  }
}

TEST(VelmarUtilCommandsTest, RevertDiscardsTheEditsAndDeleteRemovesTheAsset) {
  Installation install;
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  ASSERT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  const Result edit = install.Run({"edit", "<kuid:414141:1>"});
  ASSERT_EQ(edit.code, 0);
  const std::string prefix = "+ <kuid:414141:1> : ";
  const std::string folder = edit.out.substr(prefix.size(), edit.out.find('\n') - prefix.size());
  EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;

  Result result = install.Run({"revert", "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out;
  EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
  EXPECT_EQ(install.Run({"printconfig", "<kuid:414141:1>"}).code, 0);

  result = install.Run({"delete", "<kuid:414141:1>"});
  EXPECT_EQ(result.code, 0) << result.out;
  result = install.Run({"printconfig", "<kuid:414141:1>"});
  EXPECT_EQ(result.out, "- <kuid:414141:1> : Asset is not local.\nOK (1 Errors, 0 Warnings)\n");
  EXPECT_EQ(result.code, 255);
  EXPECT_EQ(install.Run({"delete", "<kuid:414141:1>"}).code, 255);
}

TEST(VelmarUtilCommandsTest, AnAssetOfTheSameNameGetsAnEditingFolderOfItsOwn) {
  Installation install;
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  ASSERT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  // The first line of an edit names the editing folder.
  auto editFolder = [&](const std::string& kuid) {
    const Result edit = install.Run({"edit", kuid});
    EXPECT_EQ(edit.code, 0) << edit.out;
    const std::string prefix = "+ " + kuid + " : ";
    if (edit.out.rfind(prefix, 0) != 0) return edit.out;
    return edit.out.substr(prefix.size(), edit.out.find('\n') - prefix.size());
  };
  const std::string shed = install.Root() + "/editing/Sample Shed";
  ASSERT_EQ(editFolder("<kuid:414141:1>"), shed);
  // The user empties it; the asset stays open for edit.
  for (const auto& entry : std::filesystem::directory_iterator(shed)) std::filesystem::remove_all(entry.path());

  const std::string source = install.Scratch("second/shed");
  e2e::WriteText(source + "/config.txt",
                 "kuid <kuid:414141:4>\r\nkind \"scenery\"\r\nusername \"Sample Shed\"\r\nvelmar-build 3.1\r\n");
  e2e::WriteText(source + "/only.txt", "the only copy\n");
  ASSERT_EQ(install.Run({"installfrompath", install.Scratch("second")}).code, 0);
  const std::string second = editFolder("<kuid:414141:4>");
  EXPECT_NE(second, shed);
  EXPECT_EQ(editFolder("<kuid:414141:1>"), shed);

  const Result revert = install.Run({"revert", "<kuid:414141:1>"});
  EXPECT_EQ(revert.code, 0) << revert.out;
  EXPECT_EQ(e2e::ReadText(second + "/only.txt"), "the only copy\n");
  EXPECT_EQ(install.Run({"commit", "<kuid:414141:4>"}).code, 0);
}

TEST(VelmarUtilCommandsTest, CompressTextureFindsARelativeFolderFromTheProgramFolder) {
  Installation install;
  // The working directory is the program's folder: "../local" is the
  // installation's local folder, which holds no textures to convert.
  const Result result = install.Run({"compresstexture", "../local"});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(install.Run({"compresstexture", "../no-such-folder"}).code, 255);
}

TEST(VelmarUtilCommandsTest, TheSampleTextureConvertsWhereTheInstallationHoldsIt) {
  Installation install;
  const std::string folder = install.Root() + "/textures";
  const Result result = install.Run({"compresstexture", folder});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  EXPECT_TRUE(std::filesystem::exists(folder + "/brick/brick.texture"));
}

// The converted file's one image, level 0 of slice 0: the bytes of its
// "TXDT" chunk after slice, level, width, height and byte count.
std::string FirstImage(const std::string& bytes) {
  const std::size_t at = bytes.find("TXDT");
  if (at == std::string::npos || at + 32 > bytes.size()) return {};
  uint32_t count = 0;
  std::memcpy(&count, bytes.data() + at + 28, 4);
  return bytes.substr(at + 32, count);
}

TEST(VelmarUtilCommandsTest, CompressTextureConvertsEveryDescriptionUnderTheFolder) {
  Installation install;
  const std::filesystem::path local = install.Root() + "/local/textures";
  std::filesystem::create_directories(local / "deeper");
  std::filesystem::copy(install.Root() + "/textures/brick", local / "brick");
  std::filesystem::copy(install.Root() + "/textures/brick", local / "deeper/brick2");
  std::filesystem::rename(local / "deeper/brick2/brick.texture.txt", local / "deeper/brick2/wall.texture.txt");

  Result result = install.Run({"compresstexture", "../local"});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  // A 4 x 4 opaque image stays uncompressed: blue, green, red, alpha as in
  // the source, whose rows already run from the top.
  const std::string source = e2e::ReadText(install.Root() + "/textures/brick/brick.tga").substr(18);
  for (const auto& output : {local / "brick/brick.texture", local / "deeper/brick2/wall.texture"}) {
    SCOPED_TRACE(output.string());
    const std::string bytes = e2e::ReadText(output.string());
    ASSERT_EQ(bytes.substr(0, 4), "VIRF");
    EXPECT_EQ(FirstImage(bytes), source);
  }

  // A description whose image is missing fails the command.
  std::filesystem::remove(local / "brick/brick.tga");
  std::filesystem::remove(local / "brick/brick.texture");
  result = install.Run({"compresstexture", "../local"});
  EXPECT_EQ(result.code, 255);
  EXPECT_NE(result.out.find("- <NULL> : "), std::string::npos) << result.out;
  EXPECT_FALSE(std::filesystem::exists(local / "brick/brick.texture"));
}

TEST(VelmarUtilCommandsTest, ImportingConsistsTwiceCreatesEachOnce) {
  Installation install;
  const std::string list = install.Samples() + "/consists.txt";
  Result result = install.Run({"importconsists", list});
  EXPECT_EQ(result.code, 0) << result.out;
  result = install.Run({"importconsists", list});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  result = install.Run({"searchbycategory", "CN"});
  ASSERT_EQ(result.code, 0);
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.out;
  EXPECT_EQ(lines[0], "+ 2 : assets matching the specified criteria");
  // Both consists are the user's: the author is listed once.
  EXPECT_EQ(install.Run({"authors"}).out, "#414141\n" + kOk);

  // The goods train: three cars, two distinct KUIDs in the table, sorted.
  const std::string goods = install.Run({"printconfig", "<kuid:414141:1001>"}).out;
  EXPECT_NE(goods.find("\"Sample Goods\""), std::string::npos) << goods;
  EXPECT_NE(goods.find("consist-list"), std::string::npos) << goods;
  const std::size_t table = goods.find("kuid-table");
  ASSERT_NE(table, std::string::npos) << goods;
  const std::size_t wagon = goods.find("<kuid:414141:2>", table);
  const std::size_t van = goods.find("<kuid:414141:3>", table);
  ASSERT_NE(wagon, std::string::npos);
  ASSERT_NE(van, std::string::npos);
  EXPECT_LT(wagon, van);
  EXPECT_EQ(goods.find("<kuid:414141:3>", van + 1), std::string::npos) << "a KUID twice in the table";
}

TEST(VelmarUtilCommandsTest, KeywordsBackupAndImportRoundTrip) {
  Installation install;
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  ASSERT_EQ(install.Run({"backupkeywords"}).code, 0);
  std::string backup = e2e::ReadText(install.Root() + "/bin/KeywordsBackup.dat");
  const std::size_t shed = backup.find("\"sample;shed;shed;wood\"");
  ASSERT_NE(shed, std::string::npos) << backup;
  backup.replace(shed, std::string("\"sample;shed;shed;wood\"").size(), "\"red;barn\"");
  e2e::WriteText(install.Root() + "/KeywordsDump.dat", backup);
  Result result = install.Run({"importkeywords"});
  EXPECT_EQ(result.out, kOk);
  EXPECT_EQ(result.code, 0);
  ASSERT_EQ(install.Run({"backupkeywords", "After.DAT"}).code, 0);
  // The shed's keywords are its own words and the imported ones now.
  const std::string after = e2e::ReadText(install.Root() + "/bin/after.dat");
  const std::size_t line = after.find("<kuid:414141:1>");
  ASSERT_NE(line, std::string::npos) << after;
  const std::string shedLine = after.substr(line, after.find('\n', line) - line);
  EXPECT_NE(shedLine.find("red;barn"), std::string::npos) << shedLine;
  EXPECT_EQ(shedLine.find("wood"), std::string::npos) << shedLine;
}

TEST(VelmarUtilCommandsTest, BatchLinesRunOneAfterAnother) {
  Installation install;
  const Result result = install.RunBatch(
      "version\n"
      "echo \"two words\"  x \r\n"
      "\n"
      "frobnicate\n"
      "echo last");
  EXPECT_EQ(result.out,
            "Build 38841\n" + kOk + "\n" +
            "two words  x  \n" + kOk + "\n" +
            "- <NULL> : Invalid argument, please check the help for the list of valid argument\n\n"
            "OK (1 Errors, 0 Warnings)\n\n" +
            "last \n" + kOk + "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.code, 255);
}

TEST(VelmarUtilCommandsTest, ABatchFileEndingWithALineEndRunsOnlyItsLines) {
  Installation install;
  for (const char* ending : {"\n", "\r\n"}) {
    SCOPED_TRACE(ending);
    const Result result = install.RunBatch(std::string("version") + ending + "echo done" + ending);
    EXPECT_EQ(result.out, "Build 38841\n" + kOk + "\n" + "done \n" + kOk + "\n");
    EXPECT_EQ(result.code, 0);
  }
}

TEST(VelmarUtilCommandsTest, ALongBatchLineRunsAsOneCommand) {
  Installation install;
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  ASSERT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  // The tail would start exactly at a 512-byte piece's end.
  std::string line = "echo ";
  line += std::string(511 - line.size() - 1, 'x') + " ";
  line += "delete <kuid:414141:1>";
  const Result result = install.RunBatch(line);
  EXPECT_EQ(result.out, line.substr(5) + " \n" + kOk + "\n");
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(install.Run({"printconfig", "<kuid:414141:1>"}).code, 0);
}

TEST(VelmarUtilCommandsTest, TheDemoTourEndsAsExpected) {
  platform::test::TempFolder work;
  const Result result = e2e::RunProgram(
      {"/bin/bash", std::string(E2E_SOURCE_DIR) + "/scripts/demo", "--tour", E2E_BUILD_DIR, work / "tour"},
      work.Path().string());
  EXPECT_EQ(result.code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("demo: every command ended as expected"), std::string::npos);
}

} // namespace
