#include <gtest/gtest.h>

#include "tests/content/LogCapture.h"

#include <cstdio>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/PString.h"
#include "assetdb/InterfaceTextDB.h"
#include "content/ACSChunkPtr.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::PString;

constexpr const char kFailedCompiled[] = "InterfaceTextDB> failed to load compiled interfacetext file";
constexpr const char kUnableToRead[] = "InterfaceTextDB> Unable to read interface file 'interfacetext.chump'";

using content::test::LogCapture;

// A temporary folder mounted as the substitute "data".
class InterfaceTextTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Vak::File::Subst(PString("data"), (folder_.Path().string() + "/").c_str(), false)); }
  void TearDown() override { Vak::FileSubstList::Get().Remove(PString("data"), false); }

  // The text form, as translators write it.
  void WriteText(const std::string& greeting) const {
    folder_.WriteFile("interfacetext.txt", "$vad_hello \"" + greeting +
                                               "\"\r\n"
                                               "moxel_map_text\r\n{\r\n  map_title \"Map\"\r\n}\r\n"
                                               "scenario_text\r\n{\r\n  intro \"Intro\"\r\n}\r\n");
  }
  // The compiled form, written by the tree itself.
  void WriteCompiled(const std::string& greeting) const {
    ACSChunkPtr root;
    root.SetChildString(PString("$vad_hello"), greeting.c_str());
    ACSChunkPtr spec;
    spec.SetChildString(PString("spec_title"), "Spec");
    root.SetChild(PString("moxel_spec_text"), spec);
    ASSERT_TRUE(root.Save(nullptr, (folder_ / "interfacetext.chump").c_str()));
  }

  platform::test::TempFolder folder_;
};

TEST_F(InterfaceTextTest, LoadPrefersTheCompiledFileAndFallsBackToText) {
  enum Chump { kNone, kGood, kEmptyFile, kEmptyTree, kGarbage };
  struct Case {
    const char* what;
    Chump chump;
    bool text;
    const char* greeting;  // what $vad_hello reads as
    int failedCompiled, unable;
  };
  const std::vector<Case> cases = {
      {"compiled only", kGood, false, "from chump", 0, 0},
      {"both", kGood, true, "from chump", 0, 0},
      {"text only", kNone, true, "from text", 1, 0},
      {"neither", kNone, false, "$vad_hello", 1, 1},
      {"empty compiled file, text", kEmptyFile, true, "from text", 1, 0},
      {"compiled tree without entries, text", kEmptyTree, true, "from text", 1, 0},
      {"garbage compiled file, text", kGarbage, true, "from text", 1, 0},
      {"garbage compiled file only", kGarbage, false, "$vad_hello", 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((folder_ / "interfacetext.chump").c_str());
    std::remove((folder_ / "interfacetext.txt").c_str());
    switch (c.chump) {
      case kNone: break;
      case kGood: WriteCompiled("from chump"); break;
      case kEmptyFile: folder_.WriteFile("interfacetext.chump", ""); break;
      case kEmptyTree: {
        ACSChunkPtr empty;
        empty.MakeContainer();
        ASSERT_TRUE(empty.Save(nullptr, (folder_ / "interfacetext.chump").c_str()));
        break;
      }
      case kGarbage: folder_.WriteFile("interfacetext.chump", "this is not a chunk file at all"); break;
    }
    if (c.text) WriteText("from text");

    LogCapture log;
    InterfaceTextDB db;
    db.Load();
    EXPECT_STREQ(db.GetString(PString("$vad_hello"), true).c_str(), c.greeting);
    EXPECT_EQ(log.Count(kFailedCompiled), c.failedCompiled) << log.Text();
    EXPECT_EQ(log.Count(kUnableToRead), c.unable) << log.Text();
  }
}

TEST_F(InterfaceTextTest, SubTablesComeFromTheRootAndAreReplacedOnReload) {
  WriteText("hi");
  InterfaceTextDB db;
  EXPECT_TRUE(db.Root().IsNull()) << "nothing is read before Load";
  db.Load();
  EXPECT_STREQ(db.MapText().GetChildString(PString("map_title")).c_str(), "Map");
  EXPECT_STREQ(db.ScenarioText().GetChildString(PString("intro")).c_str(), "Intro");
  EXPECT_TRUE(db.SpecText().IsNull());

  WriteCompiled("hello");
  db.Load();
  EXPECT_STREQ(db.SpecText().GetChildString(PString("spec_title")).c_str(), "Spec");
  EXPECT_TRUE(db.MapText().IsNull());
  EXPECT_TRUE(db.ScenarioText().IsNull());
  EXPECT_STREQ(db.GetString(PString("$vad_hello"), true).c_str(), "hello");
}

TEST_F(InterfaceTextTest, MissingTagsStandForThemselvesWithLimitedReports) {
  WriteText("hi");
  InterfaceTextDB db;
  db.Load();
  LogCapture log;

  EXPECT_STREQ(db.GetString(PString(""), true).c_str(), "");
  EXPECT_TRUE(db.GetString(PString(), true).IsNull());
  EXPECT_STREQ(db.GetString(PString("$vad_hello"), true).c_str(), "hi");
  // A quiet lookup tells a missing tag by the empty result and uses up no report.
  EXPECT_STREQ(db.GetString(PString("$vad_quiet"), false).c_str(), "");
  EXPECT_EQ(log.Text(), "");

  for (int i = 1; i <= InterfaceTextDB::kMaxReports + 2; ++i) {
    const std::string tag = "$vad_missing_" + std::to_string(i);
    EXPECT_STREQ(db.GetString(PString(tag.c_str()), true).c_str(), tag.c_str());
    const std::string line = "InterfaceTextDB::GetString> Tag '" + tag + "' not found in 'interfacetext.chump'";
    EXPECT_EQ(log.Count(line), i <= InterfaceTextDB::kMaxReports ? 1 : 0) << i;
  }
  EXPECT_EQ(log.Count("not found in"), InterfaceTextDB::kMaxReports);
}

// The process's table is loaded once; only this test touches it.
TEST_F(InterfaceTextTest, ProcessTableLoadsLazilyAndOnce) {
  WriteText("first");
  LogCapture log;
  EXPECT_STREQ(GetInterfaceString(PString("")).c_str(), "");
  EXPECT_STREQ(GetInterfaceString(PString("$vad_hello")).c_str(), "first");
  EXPECT_EQ(log.Count(kFailedCompiled), 1);

  WriteText("second");
  EXPECT_STREQ(GetInterfaceString(PString("$vad_hello")).c_str(), "first") << "the table is read only once";
  EXPECT_STREQ(InterfaceTextDB::Instance().MapText().GetChildString(PString("map_title")).c_str(), "Map");
  EXPECT_STREQ(GetInterfaceString(PString("$vad_unknown")).c_str(), "$vad_unknown");
  EXPECT_EQ(log.Count(kFailedCompiled), 1);
  EXPECT_EQ(log.Count(kUnableToRead), 0);
}

} // namespace
