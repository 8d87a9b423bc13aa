#include "tools/ConvertBase.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assetdb/AssetArchiveCache.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "tests/tools/PatchTestSupport.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using patchtest::MakeArchive;
using tooltest::Printed;
using tooltest::TempFolder;
using tooltest::WorkingFolder;
using tooltest::WriteBytes;

// Records the walk; returns 1 for the file named `stopAt`.
class RecordingConverter : public ConvertBase {
public:
  int ProcessDirectory(const char* path) override {
    calls.push_back(std::string("dir ") + path);
    return ConvertBase::ProcessDirectory(path);
  }
  int ProcessFile(const char* path) override {
    calls.push_back(std::string("file ") + path);
    return stopAt == path ? 1 : 0;
  }
  void Mount(const char* name) { inputSubstituteName_ = Vak::PString(name); }

  std::vector<std::string> calls;
  std::string stopAt;
};

class ConvertBaseTest : public testing::Test {
protected:
  // Each test's archives leave the cache with it.
  void TearDown() override { AssetArchiveCache::Purge(); }

  bool Parse(RecordingConverter& converter, const std::string& archive, std::string& printed) {
    std::string program = "VAConverter", operation = "patchdiff", other = "other.va";
    char* argv[] = {program.data(), operation.data(), const_cast<char*>(archive.c_str()), other.data()};
    bool ok = false;
    printed = Printed([&] { ok = converter.ParseArguments(4, argv); });
    return ok;
  }

  VelmarResourceDatabaseServices databases_;
  TempFolder folder_;
  WorkingFolder inside_{folder_.Path()};
};

TEST_F(ConvertBaseTest, CapitalNamesAreMountedInLowerCaseAndWalkedDepthFirst) {
  MakeArchive(folder_ / "DATA.VA", {{"a.txt", "a"}, {"Sub/b.txt", "b"}, {"Sub/Deep/c.txt", "c"}});
  RecordingConverter converter;
  std::string printed;
  ASSERT_TRUE(Parse(converter, folder_ / "DATA.VA", printed)) << printed;
  EXPECT_EQ("", printed);
  EXPECT_EQ("data", std::string(converter.InputSubstituteName().c_str()));
  EXPECT_NE(nullptr, converter.InputDatabase());
  EXPECT_EQ(1, AssetArchiveCache::UseCount(Vak::PString("data")));
  EXPECT_FALSE(converter.ProgramFolder().LastChar() == '/');

  EXPECT_EQ(0, converter.Run());
  std::sort(converter.calls.begin(), converter.calls.end());
  EXPECT_EQ((std::vector<std::string>{"dir ", "dir Sub", "dir Sub/Deep", "file Sub/Deep/c.txt", "file Sub/b.txt",
                                      "file a.txt"}),
            converter.calls);
}

TEST_F(ConvertBaseTest, DestructorGivesTheDatabaseBack) {
  MakeArchive(folder_ / "pkg.va", {{"a.txt", "a"}});
  {
    RecordingConverter converter;
    std::string printed;
    ASSERT_TRUE(Parse(converter, folder_ / "pkg.va", printed));
    EXPECT_EQ(1, AssetArchiveCache::UseCount(Vak::PString("pkg")));
  }
  EXPECT_EQ(0, AssetArchiveCache::UseCount(Vak::PString("pkg")));
}

TEST_F(ConvertBaseTest, EmptyArchiveWalksToZero) {
  MakeArchive(folder_ / "empty.va", {});
  RecordingConverter converter;
  std::string printed;
  ASSERT_TRUE(Parse(converter, folder_ / "empty.va", printed));
  EXPECT_EQ(0, converter.Run());
  EXPECT_EQ((std::vector<std::string>{"dir "}), converter.calls);
}

TEST_F(ConvertBaseTest, HandlerResultOneInsideAFolderStopsTheWholeWalk) {
  MakeArchive(folder_ / "stop.va", {{"a/1.txt", "1"}, {"a/2.txt", "2"}, {"b/3.txt", "3"}, {"c/4.txt", "4"}});
  RecordingConverter converter;
  std::string printed;
  ASSERT_TRUE(Parse(converter, folder_ / "stop.va", printed));
  converter.stopAt = "a/2.txt";
  EXPECT_EQ(1, converter.Run());
  // Nothing ran after the file that stopped it, in its folder or above.
  EXPECT_EQ("file a/2.txt", converter.calls.back());
  EXPECT_LT(converter.calls.size(), 8u);
}

TEST_F(ConvertBaseTest, RefusalsPrintTheirMessages) {
  ASSERT_TRUE(WriteBytes(folder_ / "archive.zip", "x"));
  MakeArchive(folder_ / "noext", {});
  const std::string missing = folder_ / "missing.va";
  const struct {
    std::string archive;
    std::string printed;
  } cases[] = {
      {missing, "Failed to find input archive \"" + missing + "\"\n"},
      {folder_ / "archive.zip", "Invalid input archive \"" + (folder_ / "archive.zip") + "\"\n"},
      {folder_ / "noext", "Invalid input archive \"" + (folder_ / "noext") + "\"\n"},
  };
  for (const auto& c : cases) {
    RecordingConverter converter;
    std::string printed;
    EXPECT_FALSE(Parse(converter, c.archive, printed)) << c.archive;
    EXPECT_EQ(c.printed, printed);
  }

  RecordingConverter converter;
  std::string program = "VAConverter", operation = "patchapply";
  char* argv[] = {program.data(), operation.data(), nullptr};
  EXPECT_EQ("", Printed([&] { EXPECT_FALSE(converter.ParseArguments(2, argv)); }));
}

TEST_F(ConvertBaseTest, UnlistedSubstituteStopsTheWalkWithItsPattern) {
  RecordingConverter converter;
  converter.Mount("nothing-mounted");
  std::string printed = Printed([&] { EXPECT_EQ(1, converter.Run()); });
  EXPECT_EQ("Unable to open search path \"*\"\n", printed);
}

} // namespace
