// The dispatcher's commands that need no open asset database, and how the
// others fail without one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/ResultsLog.h"
#include "tests/platform/os/TempFolder.h"
#include "tests/util/frontend/PrintedLog.h"
#include "util/CommandDispatcher.h"
#include "util/EngineContext.h"
#include "util/ScriptTools.h"

namespace {

struct Outcome {
  bool failed;
  std::string log;
};

Outcome RunLine(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "VelmarUtil");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ResultsLog log;
  EngineContext context;
  Outcome outcome;
  outcome.failed = RunCommand(log, context, static_cast<int>(arguments.size()), argv.data());
  outcome.log = PrintedLog(log);
  return outcome;
}

const char* const kInvalid =
    "- <NULL> : Invalid argument, please check the help for the list of valid argument\n\nOK (1 Errors, 0 Warnings)\n";

TEST(CommandDispatcherTest, MissingOrBadInput) {
  struct Case {
    std::vector<std::string> arguments;
    std::string log;
  };
  const Case cases[] = {
      {{"frobnicate"}, kInvalid},
      {{""}, kInvalid},
      {{}, kInvalid},
      {{"@batch.txt"}, kInvalid},
      {{"status"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"status", "<kuid:1:2>"}, "- <kuid:1:2> : Unknown AssetID.\nOK (1 Errors, 0 Warnings)\n"},
      {{"validate"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"validate", "<kuid:1:2>"}, "OK (0 Errors, 0 Warnings)\n"},
      {{"dlsparse"}, "- <NULL> : Missing CDP filepath.\nOK (1 Errors, 0 Warnings)\n"},
      {{"setlanguage"}, "- <NULL> : Missing input langauge id parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"setlanguage", ""}, "- <NULL> : Missing input langauge id parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"setlanguage", "xx"}, "- <NULL> : Unknown language code.\nOK (1 Errors, 0 Warnings)\n"},
      {{"installcdp"}, "- <NULL> : Missing input filepath parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"installfrompath"}, "- <NULL> : Missing input path parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"installfrompath", "/nonexistent-folder/x"}, "- <NULL> : Invalid input path.\nOK (1 Errors, 0 Warnings)\n"},
      {{"importconsists"}, "- <NULL> : Missing input path parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"importconsists", "/nonexistent-folder/x.txt"}, "- <NULL> : Invalid input path.\nOK (1 Errors, 0 Warnings)\n"},
      {{"edit"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"EDIT", "foo"}, "- <NULL> : Unknown AssetID.\nOK (1 Errors, 0 Warnings)\n"},
      {{"printconfig", "<kuid:1:2>"}, "- <kuid:1:2> : Asset is not local.\nOK (1 Errors, 0 Warnings)\n"},
      {{"compile"}, "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n"},
      {{"encrypt"}, "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n"},
      {{"encrypt", "script.txt"}, "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n"},
      {{"commit"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"revert"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"delete"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"compresstexture"}, "- <NULL> : Missing AssetID parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"searchbycategory", "-a"}, "- <NULL> : Missing category parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"searchbycategory", "-A", ""}, "- <NULL> : Missing category parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"createcdp"}, "- <NULL> : Missing output path parameter.\nOK (1 Errors, 0 Warnings)\n"},
      {{"createcdp", "out.zip"}, "- <NULL> : The output filename must have a .cdp extension.\nOK (1 Errors, 0 Warnings)\n"},
      {{"createcdp", "out.cdp", "nonsense"}, "- <NULL> : Invalid AssetID.\nOK (1 Errors, 0 Warnings)\n"},
      {{"createcdp", "out.cdp", "<kuid:1:2>"}, "- <kuid:1:2> : Asset is not local.\nOK (1 Errors, 0 Warnings)\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& argument : c.arguments) line += "[" + argument + "]";
    const Outcome outcome = RunLine(c.arguments);
    EXPECT_TRUE(outcome.failed) << line;
    EXPECT_EQ(outcome.log, c.log) << line;
  }
}

TEST(CommandDispatcherTest, SetLanguageFailsWhenTheSettingIsNotStored) {
  // No asset database is open here, so the index cannot take the code.
  const Outcome outcome = RunLine({"setlanguage", "FR"});
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.log, "OK (0 Errors, 0 Warnings)\n");
}

TEST(CommandDispatcherTest, ImportConsistsFailsWhenATrainsAssetCannotBeMade) {
  platform::test::TempFolder folder;
  folder.WriteFile("list.txt",
                   "train-0\r\n{\r\n  name \"Goods\"\r\n  list\r\n  {\r\n    car-0 <kuid:414141:3>\r\n  }\r\n}\r\n");
  const Outcome outcome = RunLine({"importconsists", folder / "list.txt"});
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.log.find("Invalid input path."), std::string::npos) << outcome.log;
}

TEST(CommandDispatcherTest, ImportConsistsOfAListWithoutTrainsSucceeds) {
  platform::test::TempFolder folder;
  folder.WriteFile("list.txt", "train-0\r\n{\r\n  name \"No cars\"\r\n}\r\nother 1\r\n");
  const Outcome outcome = RunLine({"importconsists", folder / "list.txt"});
  EXPECT_FALSE(outcome.failed) << outcome.log;
}

// Script tools that play a compiler: they record what reached them.
class FakeScriptTools : public ScriptTools {
public:
  int RunCommandLine(int argc, char** argv) override {
    arguments.assign(argv, argv + argc);
    return errors;
  }
  bool Load(const char* path) override {
    loaded = path;
    return loadWorks;
  }
  bool Save(const char* path) override {
    saved = path;
    return saveWorks;
  }
  void Clear() override { ++clears; }

  int errors = 0;
  bool loadWorks = true;
  bool saveWorks = true;
  std::vector<std::string> arguments;
  std::string loaded;
  std::string saved;
  int clears = 0;
};

class ScriptCommandsTest : public testing::Test {
protected:
  ScriptCommandsTest() { SetScriptTools(&tools_); }
  ~ScriptCommandsTest() override { SetScriptTools(nullptr); }
  FakeScriptTools tools_;
};

TEST_F(ScriptCommandsTest, EncryptIsDoneOnlyWhenTheScriptWasWritten) {
  struct Case {
    const char* name;
    bool loadWorks;
    bool saveWorks;
    bool failed;
    std::string log;
  };
  const Case cases[] = {
      {"written", true, true, false, "OK (0 Errors, 0 Warnings)\n"},
      {"load failed", false, true, true, "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n"},
      {"save failed", true, false, true, "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n"},
  };
  for (const Case& c : cases) {
    tools_.loadWorks = c.loadWorks;
    tools_.saveWorks = c.saveWorks;
    tools_.clears = 0;
    const Outcome outcome = RunLine({"encrypt", "Scripts/Engine.GS"});
    EXPECT_EQ(outcome.failed, c.failed) << c.name;
    EXPECT_EQ(outcome.log, c.log) << c.name;
    EXPECT_EQ(tools_.loaded, "scripts/engine.gs") << c.name;
    EXPECT_EQ(tools_.clears, 1) << c.name;
  }
  EXPECT_EQ(tools_.saved, "scripts/engine.gse");
}

TEST_F(ScriptCommandsTest, CompileHandsTheLineOnWithoutTheCommandWord) {
  tools_.errors = 0;
  Outcome outcome = RunLine({"compile", "-s", "Main.gs"});
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(tools_.arguments, (std::vector<std::string>{"VelmarUtil", "", "-s", "Main.gs"}));
  tools_.errors = 2;
  outcome = RunLine({"compile", "main.gs"});
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.log, "OK (0 Errors, 0 Warnings)\n");
}

TEST(ScriptCommandsWithoutCompilerTest, FailWithoutAMessageOfTheirOwn) {
  for (const char* word : {"compile", "encrypt"}) {
    const Outcome outcome = RunLine({word, "main.gs"});
    EXPECT_TRUE(outcome.failed) << word;
    EXPECT_EQ(outcome.log, "OK (0 Errors, 0 Warnings)\n") << word;
  }
}

} // namespace
