// The dispatcher's commands that need no open asset database, and how the
// others fail without one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/ResultsLog.h"
#include "gscompiler/ScriptFile.h"
#include "tests/platform/os/TempFolder.h"
#include "tests/util/frontend/PrintedLog.h"
#include "util/CommandDispatcher.h"
#include "util/EngineContext.h"

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

TEST(ScriptCommandsTest, EncryptIsDoneOnlyWhenTheScriptWasWritten) {
  platform::test::TempFolder folder;
  folder.WriteFile("Scripts/Engine.gs", "class Engine {};\n");
  folder.WriteFile("Scripts/empty.gs", "");
  const std::string failed = "- <NULL> : Invalid file path.\nOK (1 Errors, 0 Warnings)\n";
  struct Case {
    std::string script;
    bool failed;
    std::string log;
  };
  const Case cases[] = {
      {folder / "Scripts/Engine.GS", false, "OK (0 Errors, 0 Warnings)\n"},
      {folder / "Scripts/missing.gs", true, failed},
      {folder / "Scripts/empty.gs", true, failed},  // an empty text cannot be packed
  };
  for (const Case& c : cases) {
    const Outcome outcome = RunLine({"encrypt", c.script});
    EXPECT_EQ(outcome.failed, c.failed) << c.script;
    EXPECT_EQ(outcome.log, c.log) << c.script;
  }
  // The output name is the lower-cased parameter's.
  ScriptFile packed;
  ASSERT_TRUE(packed.Load(nullptr, (folder / "Scripts/engine.gse").c_str()));
  EXPECT_EQ(std::string(packed.GetText(), packed.GetPlainLength()), "class Engine {};\n");
  EXPECT_FALSE(folder.Has("Scripts/empty.gse"));
  EXPECT_FALSE(folder.Has("Scripts/missing.gse"));
}

TEST(ScriptCommandsTest, CompileHandsTheLineOnAndFailsOnErrors) {
  platform::test::TempFolder folder;
  folder.WriteFile("bad.gs", "class {");
  struct Case {
    std::vector<std::string> arguments;
    bool failed;
    std::string printed;  // the first line on standard output
  };
  const Case cases[] = {
      {{"compile", "-s"}, true, "MOXEL VozoVavuri Compiler V1.02"},  // usage: 1
      {{"compile", "-d"}, false, ""},
      {{"compile", folder / "bad.gs"}, true, "bad.gs(1) : parse error, line 1"},
      {{"compile", folder / "missing.gs"}, true, "Could not read file  missing.gs."},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    const Outcome outcome = RunLine(c.arguments);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome.failed, c.failed) << c.arguments[1];
    EXPECT_EQ(outcome.log, "OK (0 Errors, 0 Warnings)\n") << c.arguments[1];
    if (!c.printed.empty()) {
      EXPECT_EQ(printed.substr(0, printed.find('\n')), c.printed) << c.arguments[1];
    }
  }
  EXPECT_FALSE(folder.Has("bad.gsl"));
}

} // namespace
