#include "tools/ConverterHelpers.h"

#include <string>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "platform/os/FileSystem.h"
#include "tests/content/LogCapture.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/ToolGlobals.h"
#include "tools/VArchive.h"

namespace {

using tooltest::TempFolder;
using tooltest::WorkingFolder;
using tooltest::WriteBytes;

TEST(NextPowerOfTwo, RoundsUpToAPowerOfTwo) {
  struct Case {
    uint32_t v, power;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{3, 4}, Case{5, 8}, Case{1024, 1024},
                        Case{1025, 2048}, Case{0x80000000u, 0x80000000u}, Case{0x80000001u, 0}})
    EXPECT_EQ(c.power, NextPowerOfTwo(c.v)) << c.v;
}

TEST(CompareTagText, MatchesTagsOfExactlyTheLength) {
  struct Case {
    const char* text;
    int length;
    const char* tag;
    bool equal;
  };
  const Case cases[] = {
      {"Mesh", 4, "mesh", true},   {"Mesh", 3, "mesh", false}, {"Mesh", 3, "mes", true},  {"Meshes", 4, "mesh", true},
      {"Mesh", 4, "mest", false},  {"", 0, "", true},          {"Mesh", 1, "", false},    {"Me", 4, "mesh", false},
      {nullptr, 4, "mesh", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.equal, CompareTagText(c.text, c.length, c.tag)) << (c.text ? c.text : "null") << " " << c.length;
  EXPECT_FALSE(CompareTagText("Mesh", 4, nullptr));
}

TEST(EqualTextNoCase, NeedsEqualLengthsAndLetters) {
  struct Case {
    const char* a;
    int la;
    const char* b;
    int lb;
    bool equal;
  };
  for (const Case& c : {Case{"Track", 5, "tRACK", 5, true}, Case{"Track", 5, "Tracks", 6, false},
                        Case{"Tracks", 5, "trackX", 5, true}, Case{"abc", 3, "abd", 3, false}, Case{"", 0, "", 0, true},
                        Case{"\xC4", 1, "\xE4", 1, false}})
    EXPECT_EQ(c.equal, EqualTextNoCase(c.a, c.la, c.b, c.lb)) << c.a << " " << c.b;
}

TEST(ParseNumberText, ReadsSignDigitsAndOnePoint) {
  struct FloatCase {
    const char* text;
    float value;
  };
  const FloatCase floats[] = {{"12.5", 12.5f}, {"-0.25", -0.25f}, {"7", 7.0f}, {".5", 0.5f}, {"3.", 3.0f},
                              {"1.2.3", 0.0f}, {"1e5", 0.0f},     {"+1", 0.0f}, {"", 0.0f},   {"-", 0.0f},
                              {"0.001", 0.001f}};
  for (const FloatCase& c : floats)
    EXPECT_FLOAT_EQ(c.value, ParseFloatText(c.text, static_cast<int>(std::strlen(c.text)))) << c.text;
  EXPECT_FLOAT_EQ(1.5f, ParseFloatText("1.5xyz", 3));

  struct IntCase {
    const char* text;
    int32_t value;
  };
  const IntCase ints[] = {{"42", 42}, {"-17", -17}, {"0", 0}, {"4x", 0}, {"1.0", 0}, {" 1", 0}, {"", 0},
                          {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}};
  for (const IntCase& c : ints) EXPECT_EQ(c.value, ParseIntText(c.text, static_cast<int>(std::strlen(c.text)))) << c.text;
  EXPECT_EQ(12, ParseIntText("123", 2));
}

TEST(RunProgramAndWait, AnswersTheExitCode) {
  struct Case {
    const char* program;
    const char* line;
    bool wait;
    int result;
  };
  const Case cases[] = {
      {nullptr, "/bin/sh -c 'exit 3'", true, 3},
      {"/bin/sh", "sh -c \"exit 4\"", true, 4},
      {nullptr, "/bin/sh -c 'exit 3'", false, 0},
      {nullptr, "/no/such/program", true, -1},
      {"/no/such/program", "x", false, -1},
      {nullptr, "", true, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, RunProgramAndWait(c.program, c.line, c.wait)) << c.line;
}

TEST(GetProgramBinFolder, EntersTheBinFolderBesideTheProgram) {
  // The tests run from tests/tools of the build, which holds no "bin".
  TempFolder folder;
  WorkingFolder here(folder.Path());
  EXPECT_FALSE(GetProgramBinFolder());
  std::string now;
  platform::CurrentFolder(now);
  EXPECT_EQ(folder.Path(), now);
}

// The interface texts are not loaded here: each key stands for itself.
TEST(FormatByteCount, PicksTheUnitAbove1024) {
  struct Case {
    int64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {-1, "$cm_unknown"},
      {0, "0 $cm_general_bytes"},
      {1023, "1023 $cm_general_bytes"},
      {1024, "1.00 $cm_general_kilobytes"},
      {1536, "1.50 $cm_general_kilobytes"},
      {1048576, "1024.00 $cm_general_kilobytes"},
      {1048577, "1.00 $cm_general_megabytes"},
      {1073741824, "1024.00 $cm_general_megabytes"},
      {1073741825, "1.00 $cm_general_gigabytes"},
      {int64_t{5} << 40, "5120.00 $cm_general_gigabytes"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.text, FormatByteCount(c.bytes).c_str()) << c.bytes;
}

TEST(FormatTransferRate, FillsTheRateOfItsUnit) {
  struct Case {
    int64_t rate;
    const char* text;
  };
  // The key itself holds no parameter, so nothing is filled in.
  const Case cases[] = {
      {-5, "$cm_general_bps"}, {1023, "$cm_general_bps"}, {1024, "$cm_general_kbps"},
      {1048576, "$cm_general_kbps"}, {1048577, "$cm_general_mbps"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.text, FormatTransferRate(c.rate).c_str()) << c.rate;
}

TEST(KuidToHtmlText, WritesTheAngleBracketsAsEntities) {
  struct Case {
    KUID kuid;
    const char* text;
  };
  const Case cases[] = {
      {KUID::Null(), "&#60;NULL KUID&#62;"},
      {KUID(12, 345, 0), "&#60;kuid:12:345&#62;"},
      {KUID(-3, 345, 127), "&#60;kuid:-3:345&#62;"},
      {KUID(12, 345, 2), "&#60;kuid2:12:345:2&#62;"},
      {KUID(12, 345, 127), "&#60;kuid2:12:345:127&#62;"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.text, KuidToHtmlText(c.kuid).c_str()) << c.text;
}

TEST(ReadConfigKuid, ReadsTheKuidOfAConfig) {
  TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "config.txt", "kuid <kuid2:523:1001:3>\nusername \"x\"\n"));
  ASSERT_TRUE(WriteBytes(folder / "nokuid.txt", "username \"x\"\n"));
  const KUID read = ReadConfigKuid((folder / "config.txt").c_str());
  EXPECT_TRUE(read == KUID(523, 1001, 3));
  EXPECT_TRUE(ReadConfigKuid((folder / "nokuid.txt").c_str()).IsNull());
  EXPECT_TRUE(ReadConfigKuid((folder / "missing.txt").c_str()).IsNull());
}

TEST(LogAverageFrameRate, ReportsOnlyOnceTimeHasPassed) {
  content::test::LogCapture log;
  RunFrameStatistics() = FrameStatistics{};
  LogAverageFrameRate();
  EXPECT_EQ(0, log.Count("VelmarLogEnd>"));
  RunFrameStatistics() = FrameStatistics{120, 4};
  LogAverageFrameRate();
  EXPECT_EQ(1, log.Count("VelmarLogEnd> Averaged 30.000000fps over 4.000000sec")) << log.Text();
  RunFrameStatistics() = FrameStatistics{};
}

TEST(CompareTagText, LogsANullTag) {
  content::test::LogCapture log;
  EXPECT_FALSE(CompareTagText("Mesh", 4, nullptr));
  EXPECT_EQ(1, log.Count("comptagstr> null str")) << log.Text();
}

TEST(TryAcquireGate, GrantsByHoldersAndWaitingWriters) {
  struct Case {
    int32_t holders;
    bool exclusiveHolder;
    int32_t waitingWriters;
    bool exclusive;
    bool granted;
  };
  const Case cases[] = {
      {0, false, 0, true, true},  {0, false, 0, false, true}, {1, false, 0, false, true}, {1, false, 0, true, false},
      {1, true, 0, false, false}, {1, true, 0, true, false},  {1, false, 1, false, false}, {0, false, 1, true, true},
      {0, true, 0, false, true},
  };
  for (const Case& c : cases) {
    Gate gate;
    gate.holders = c.holders;
    gate.exclusive = c.exclusiveHolder;
    gate.waitingWriters = c.waitingWriters;
    gate.event.Set();
    EXPECT_EQ(c.granted, TryAcquireGate(gate, c.exclusive));
    EXPECT_EQ(c.holders + (c.granted ? 1 : 0), gate.holders);
    EXPECT_EQ(c.granted ? c.exclusive : c.exclusiveHolder, gate.exclusive);
    // A grant resets the event that waiters wait on.
    EXPECT_EQ(!c.granted, gate.event.Lock(0));
  }
}

TEST(ToolGlobals, HoldTheProcessWideObjects) {
  EXPECT_EQ("8DBDFEB0-52F4-4C1B-BA91-6A7B1CCC6D3E", Vak::ToolGlobals::ToolId().ToText());
  EXPECT_STREQ("_ToolArc_", Vak::ToolGlobals::FrameworkSubstitute().c_str());
  // Interned: both names are the one node.
  EXPECT_TRUE(Vak::ToolGlobals::FrameworkSubstitute() == Vak::ToolGlobals::ArchiveSubstitute());
  EXPECT_TRUE(Vak::ToolGlobals::FrameworkSubstitute() == Vak::ToolArchiveSubstitute());
  EXPECT_TRUE(Vak::ToolGlobals::Archive().FullPaths());
  EXPECT_EQ(nullptr, Vak::ToolGlobals::Archive().CopyBuffer());
  EXPECT_STREQ("", Vak::ToolGlobals::EmptyPString().c_str());
  EXPECT_FALSE(Vak::ToolGlobals::EmptyPString().IsNull());
  EXPECT_EQ(0u, Vak::ToolGlobals::EmptyString().Size());
  EXPECT_TRUE(Vak::ToolGlobals::HeapLock().Lock());
  Vak::ToolGlobals::HeapLock().Unlock();
}

} // namespace
