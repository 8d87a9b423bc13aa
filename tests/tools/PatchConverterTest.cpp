#include "tools/PatchConverter.h"

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

std::vector<std::string> ListTree(const std::string& folder) {
  std::vector<std::string> out = tooltest::ListTree(folder);
  std::sort(out.begin(), out.end());
  return out;
}

class PatchConverterTest : public testing::Test {
protected:
  void TearDown() override { AssetArchiveCache::Purge(); }

  bool Parse(PatchConverter& converter, std::vector<std::string> words, std::string& printed) {
    words.insert(words.begin(), "VAConverter");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    bool ok = false;
    printed = Printed([&] { ok = converter.ParseArguments(static_cast<int>(words.size()), argv.data()); });
    return ok;
  }

  VelmarResourceDatabaseServices databases_;
  TempFolder folder_;
  WorkingFolder inside_{folder_.Path()};
};

TEST_F(PatchConverterTest, UnknownOperationIsRefusedByTheClass) {
  MakeArchive(folder_ / "old.va", {{"a.txt", "a"}});
  MakeArchive(folder_ / "new.va", {{"a.txt", "b"}});
  PatchConverter converter;
  std::string printed;
  EXPECT_FALSE(Parse(converter, {"patchmerge", folder_ / "old.va", folder_ / "new.va", folder_ / "out"}, printed));
  EXPECT_EQ("Invalid patch converter operation\n", printed);
  EXPECT_EQ(PatchConverter::kNone, converter.GetOperation());
  EXPECT_EQ("", Printed([&] { EXPECT_EQ(1, converter.Run()); }));
}

TEST_F(PatchConverterTest, OperationWordIgnoresCase) {
  const struct {
    const char* word;
    int operation;
  } cases[] = {{"patchdiff", PatchConverter::kPatchDiff},
               {"PATCHDIFF", PatchConverter::kPatchDiff},
               {"PatchApply", PatchConverter::kPatchApply}};
  MakeArchive(folder_ / "old.va", {{"a.txt", "a"}});
  MakeArchive(folder_ / "set.va", {{"a.txt", "b"}});
  for (const auto& c : cases) {
    PatchConverter converter;
    std::string printed;
    ASSERT_TRUE(Parse(converter, {c.word, folder_ / "old.va", folder_ / "set.va", folder_ / "out"}, printed))
        << c.word << printed;
    EXPECT_EQ(c.operation, converter.GetOperation());
    // Nothing is left when the run never happens.
  }
  // The output path stays; the working folder in it goes.
  EXPECT_EQ((std::vector<std::string>{"old.va", "out/", "set.va"}), ListTree(folder_.Path()));
}

TEST_F(PatchConverterTest, SecondArchiveRefusals) {
  MakeArchive(folder_ / "old.va", {{"a.txt", "a"}});
  tooltest::WriteBytes(folder_ / "new.zip", "x");
  const struct {
    std::string second;
  } cases[] = {{folder_ / "missing.va"}, {folder_ / "new.zip"}};
  for (const auto& c : cases) {
    PatchConverter converter;
    std::string printed;
    EXPECT_FALSE(Parse(converter, {"patchapply", folder_ / "old.va", c.second}, printed));
    EXPECT_EQ("Invalid input archive \"" + c.second + "\"\n", printed);
  }
}

TEST_F(PatchConverterTest, PatchdiffWithoutOutputPathTouchesNothing) {
  MakeArchive(folder_ / "old/data.va", {{"a.txt", "a"}});
  MakeArchive(folder_ / "new/data.va", {{"a.txt", "b"}});
  PatchConverter converter;
  std::string printed;
  EXPECT_FALSE(Parse(converter, {"patchdiff", folder_ / "old/data.va", folder_ / "new/data.va"}, printed));
  EXPECT_EQ("", printed);
  EXPECT_EQ(-1, AssetArchiveCache::UseCount(Vak::PString("data")));
  EXPECT_EQ((std::vector<std::string>{"new/", "new/data.va", "old/", "old/data.va"}), ListTree(folder_.Path()));
}

TEST_F(PatchConverterTest, SameNamedSecondArchiveIsRenamedForTheRunOnly) {
  MakeArchive(folder_ / "old/data.va", {{"a.txt", "a"}});
  MakeArchive(folder_ / "new/data.va", {{"a.txt", "b"}});
  {
    PatchConverter converter;
    std::string printed;
    ASSERT_TRUE(Parse(converter, {"patchapply", folder_ / "old/data.va", folder_ / "new/data.va"}, printed));
    EXPECT_TRUE(Vak::File::Exists((folder_ / "new/data-out.va").c_str()).Ok());
    EXPECT_FALSE(Vak::File::Exists((folder_ / "new/data.va").c_str()).Ok());
  }
  // An unfinished run gives the name back and removes its working archive.
  EXPECT_EQ((std::vector<std::string>{"new/", "new/data.va", "old/", "old/data.va"}), ListTree(folder_.Path()));

  MakeArchive(folder_ / "new/data-out.va", {});
  PatchConverter converter;
  std::string printed;
  EXPECT_FALSE(Parse(converter, {"patchapply", folder_ / "old/data.va", folder_ / "new/data.va"}, printed));
  EXPECT_EQ("Archive already exists \"" + (folder_ / "new/data-out.va") + "\"\n", printed);
  EXPECT_TRUE(Vak::File::Exists((folder_ / "new/data.va").c_str()).Ok());
}

} // namespace
