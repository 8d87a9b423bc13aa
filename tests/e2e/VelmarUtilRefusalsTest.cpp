// Every command word with missing or bad input: the exact output, error
// output and exit code, and an installation that the command left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"
#include "tests/e2e/HelpText.h"

namespace {

using e2e::Installation;
using e2e::Result;

std::string Errors(const std::string& lines, int count) {
  return lines + "OK (" + std::to_string(count) + " Errors, 0 Warnings)\n";
}

const std::string kInvalid = "- <NULL> : Invalid argument, please check the help for the list of valid argument\n\n";

struct Case {
  const char* name;
  std::vector<std::string> arguments;  // with "@" first: batch file content follows
  std::string out;
  std::string err;
  int code;
};

class VelmarUtilRefusalsTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    install_ = new Installation;
    const Result first = install_->Run({"version"});
    EXPECT_EQ(first.code, 0) << first.err;
    before_ = new e2e::Snapshot(install_->Take());
  }
  static void TearDownTestSuite() {
    delete before_;
    delete install_;
  }

  static void Check(const Case& c) {
    SCOPED_TRACE(c.name);
    Result result;
    if (!c.arguments.empty() && c.arguments[0] == "@") {
      result = install_->RunBatch(c.arguments.size() > 1 ? c.arguments[1] : "");
    } else {
      result = install_->Run(c.arguments);
    }
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(install_->Take(), *before_);
  }

  static inline Installation* install_ = nullptr;
  static inline e2e::Snapshot* before_ = nullptr;
};

TEST_F(VelmarUtilRefusalsTest, MissingOrBadInput) {
  const std::string missingId = Errors("- <NULL> : Missing AssetID parameter.\n", 1);
  const std::string missingPath = Errors("- <NULL> : Missing input path parameter.\n", 1);
  const std::string invalidPath = Errors("- <NULL> : Invalid input path.\n", 1);
  const std::string invalidFile = Errors("- <NULL> : Invalid file path.\n", 1);
  const std::string nothing = Errors("", 0);
  // Bytes that start like no package.
  const std::string damaged = install_->Scratch("Damaged.cdp");
  e2e::WriteText(damaged, "ACS$\x01\x00\x00\x00garbage");
  const Case cases[] = {
      {"no arguments", {}, e2e::kHelpText + "\n", "", 255},
      {"unknown word", {"frobnicate"}, Errors(kInvalid, 1), "", 255},
      {"empty word", {""}, Errors(kInvalid, 1), "", 255},
      {"version with a parameter is still version", {"VERSION", "norender"}, "Build 38841\n" + nothing, "", 0},
      {"setlanguage", {"setlanguage"}, Errors("- <NULL> : Missing input langauge id parameter.\n", 1), "", 255},
      {"setlanguage unknown", {"setlanguage", "XX"}, Errors("- <NULL> : Unknown language code.\n", 1), "", 255},
      {"installcdp", {"installcdp"}, Errors("- <NULL> : Missing input filepath parameter.\n", 1), "", 255},
      {"installcdp missing", {"installcdp", "/no/such/File.cdp"},
       Errors("- <NULL> : Package '/no/such/file.cdp' could not be read\n", 1), "", 255},
      {"installfrompath", {"installfrompath"}, missingPath, "", 255},
      {"installfrompath missing", {"installfrompath", "/no/such/folder"}, invalidPath, "", 255},
      {"importconsists", {"importconsists"}, missingPath, "", 255},
      {"importconsists missing", {"importconsists", "/no/such/list.txt"}, invalidPath, "", 255},
      {"edit", {"edit"}, missingId, "", 255},
      {"edit unparsable", {"edit", "foo"}, Errors("- <NULL> : Unknown AssetID.\n", 1), "", 255},
      {"edit unknown", {"edit", "<kuid:1:2>"}, Errors("- <kuid:1:2> : Unknown AssetID.\n", 1), "", 255},
      {"printconfig", {"printconfig"}, missingId, "", 255},
      {"printconfig unknown", {"printconfig", "<KUID:1:2>"}, Errors("- <kuid:1:2> : Asset is not local.\n", 1), "", 255},
      {"compile", {"compile"}, invalidFile, "", 255},
      {"compile of a missing script", {"compile", "main.gs"}, "Could not read file  main.gs.\n\nBuild Failed...\n" + nothing, "", 255},
      {"encrypt", {"encrypt"}, invalidFile, "", 255},
      {"encrypt of a missing script", {"encrypt", "main.gs"}, invalidFile, "", 255},
      {"encrypt wrong extension", {"encrypt", "script.txt"}, invalidFile, "", 255},
      {"commit", {"commit"}, missingId, "", 255},
      {"commit unknown", {"commit", "<kuid:1:2>"}, nothing, "", 255},
      {"revert", {"revert"}, missingId, "", 255},
      {"revert unknown", {"revert", "<kuid:1:2>"}, nothing, "", 255},
      {"delete", {"delete"}, missingId, "", 255},
      {"delete unparsable", {"delete", "foo"}, nothing, "", 255},
      {"compresstexture", {"compresstexture"}, missingId, "", 255},
      {"compresstexture missing", {"compresstexture", "/no/such/folder"},
       Errors("- <NULL> : Unable to search path: '/no/such/folder'\n", 1), "", 255},
      {"searchbycategory -a", {"searchbycategory", "-a"}, Errors("- <NULL> : Missing category parameter.\n", 1), "",
       255},
      {"searchbycategory matching nothing", {"searchbycategory", "NOSUCH"}, nothing, "", 255},
      {"createcdp", {"createcdp"}, Errors("- <NULL> : Missing output path parameter.\n", 1), "", 255},
      {"createcdp wrong extension", {"createcdp", "out.zip", "<kuid:1:2>"},
       Errors("- <NULL> : The output filename must have a .cdp extension.\n", 1), "", 255},
      {"createcdp unparsable", {"createcdp", "out.cdp", "foo"}, Errors("- <NULL> : Invalid AssetID.\n", 1), "", 255},
      {"createcdp unknown", {"createcdp", "out.cdp", "<kuid:1:2>"},
       Errors("- <kuid:1:2> : Asset is not local.\n", 1), "", 255},
      {"status", {"status"}, missingId, "", 255},
      {"status unknown", {"status", "<KUID:1:2>"}, Errors("- <kuid:1:2> : Unknown AssetID.\n", 1), "", 255},
      {"validate", {"validate"}, missingId, "", 255},
      {"validate unknown", {"validate", "<kuid:1:2>"}, nothing, "", 255},
      {"dlsparse", {"dlsparse"}, Errors("- <NULL> : Missing CDP filepath.\n", 1), "", 255},
      {"dlsparse missing", {"dlsparse", "/no/such/File.cdp"},
       Errors("- <NULL> : Package '/no/such/File.cdp' could not be read\n", 1), "", 255},
      {"dlsparse damaged", {"dlsparse", damaged}, Errors("- <NULL> : Package '" + damaged + "' could not be read\n", 1),
       "", 255},
      {"dlsdeleteall on an empty installation", {"dlsdeleteall"}, nothing, "", 0},
      {"empty parameter from a batch line", {"@", "edit  <kuid:414141:1>"}, missingId + "\n", "", 255},
      {"empty batch file", {"@", ""}, "", "", 0},
      {"batch files do not nest", {"@", "@other.txt"}, Errors(kInvalid, 1) + "\n", "", 255},
      {"missing batch file", {"@/no/such/batch.txt"}, "",
       "-The file \"/no/such/batch.txt\" does not exist, please specify a valid filename\n", 255},
  };
  for (const Case& c : cases) Check(c);
}

} // namespace

namespace {

TEST(VelmarUtilPackageNamesTest, AFolderWithAFileNameNoPackageCanHoldIsNotInstalled) {
  Installation install;
  ASSERT_EQ(install.Run({"version"}).code, 0);
  const e2e::Snapshot before = install.Take();
  const Result result = install.Run({"installfrompath", install.Samples() + "/badname"});
  EXPECT_EQ(result.code, 255);
  const std::string counts = "OK (1 Errors, 1 Warnings)\n";
  ASSERT_GE(result.out.size(), counts.size()) << result.out;
  EXPECT_EQ(result.out.substr(result.out.size() - counts.size()), counts);
  EXPECT_EQ(install.Take(), before);
  EXPECT_EQ(install.Run({"printconfig", "<kuid:414141:9>"}).code, 255);
}

// Each of these once left a record under a freshly generated KUID that no
// commit could match ("+ <NULL> : Installed asset <NULL>"), one per try.
TEST(VelmarUtilPackageNamesTest, AFolderWhoseConfigNamesNoAssetIsNotInstalled) {
  Installation install;
  ASSERT_EQ(install.Run({"version"}).code, 0);
  const e2e::Snapshot before = install.Take();
  struct Case {
    const char* name;
    std::string config;
  };
  const Case cases[] = {
      {"nokuid", "kind \"scenery\"\r\nusername \"Sample Shed\"\r\nvelmar-build 3.1\r\n"},
      {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x01\xff\xfe", 19)},
      {"nulbytes", std::string("kind \"scen\0ery\"\r\nusername \"Nul\"\r\n\0\0\0\0", 37)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = install.Scratch(std::string("noasset/") + c.name);
    e2e::WriteText(folder + "/config.txt", c.config);
    e2e::WriteText(folder + "/notes.html", "<html></html>\n");
    for (int attempt = 0; attempt < 2; ++attempt) {
      const Result result = install.Run({"installfrompath", folder});
      EXPECT_EQ(result.out, "! <NULL> : The config at '" + folder + "' could not be read\nOK (0 Errors, 1 Warnings)\n");
      EXPECT_EQ(result.code, 255);
      EXPECT_EQ(install.Take(), before);
    }
  }
}

TEST(VelmarUtilStartUpTest, WithoutTheDataFolderNothingRuns) {
  Installation install;
  std::filesystem::remove_all(install.Root() + "/bin/RUZData");
  const e2e::Snapshot before = install.Take();
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"version"}, {"edit", "<kuid:1:2>"}, {"@/no/such/batch.txt"}}) {
    const Result result = install.Run(arguments);
    EXPECT_EQ(result.out, "") << arguments[0];
    EXPECT_EQ(result.err, "- RUZLib initialisation failed.\n") << arguments[0];
    EXPECT_EQ(result.code, 255) << arguments[0];
    EXPECT_EQ(install.Take(), before) << arguments[0];
  }
  // Help needs no start-up.
  EXPECT_EQ(install.Run({"help"}).code, 0);
}

} // namespace
