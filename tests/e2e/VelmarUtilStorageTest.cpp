// What a command stores: KUIDs handed out once each, across processes and
// up to the last number; and a command whose changes could not be stored
// fails and says so. The installations are made unwritable by putting a
// file or folder where the program must write, which holds for root too.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

const std::string kOk = "OK (0 Errors, 0 Warnings)\n";
const std::string kIndexNotWritten = "- The asset index could not be written.\n";

std::string OneError(const std::string& text) { return "- <NULL> : " + text + "\nOK (1 Errors, 0 Warnings)\n"; }

std::string KuidFile(const Installation& install) { return install.Root() + "/settings/kuid.txt"; }

// The settings file replaced by a folder: the base can be neither read nor
// saved.
void MakeKuidFileUnwritable(const Installation& install) {
  std::filesystem::remove(KuidFile(install));
  e2e::WriteText(KuidFile(install) + "/keep", "");
}

TEST(VelmarUtilKuidTest, ParallelRunsHandOutEachKuidOnce) {
  Installation install;
  ASSERT_EQ(install.Run({"version"}).code, 0);
  constexpr int kRounds = 3;
  constexpr int kRuns = 6;
  std::set<std::string> handedOut;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::unique_ptr<e2e::Running>> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(install.Start({"generatekuid"}, std::to_string(i) + "-"));
    for (const std::unique_ptr<e2e::Running>& run : runs) {
      const Result result = run->Finish();
      EXPECT_EQ(result.code, 0) << result.err;
      const std::string kuid = result.out.substr(0, result.out.find('\n'));
      EXPECT_TRUE(handedOut.insert(kuid).second) << kuid << " handed out twice";
    }
  }
  std::set<std::string> expected;
  for (int content = 1001; content <= 1000 + kRounds * kRuns; ++content)
    expected.insert("<KUID2:414141:" + std::to_string(content) + ":0>");
  EXPECT_EQ(handedOut, expected);
}

TEST(VelmarUtilKuidTest, NothingIsHandedOutPastTheLastContentId) {
  Installation install;
  e2e::WriteText(KuidFile(install), "base-kuid <kuid:414141:2147483647>\r\n");
  ASSERT_EQ(install.Run({"version"}).code, 0);
  const e2e::Snapshot before = install.Take();
  const Result result = install.Run({"generatekuid"});
  EXPECT_EQ(result.out, OneError("No KUID is left after the base in '" + KuidFile(install) + "'"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.code, 255);
  EXPECT_EQ(install.Take(), before);
}

// Every call once printed the same KUID and succeeded.
TEST(VelmarUtilUnwritableTest, AKuidWhoseBaseCannotBeSavedIsNotHandedOut) {
  Installation install;
  ASSERT_EQ(install.Run({"version"}).code, 0);
  MakeKuidFileUnwritable(install);
  const e2e::Snapshot before = install.Take();
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    const Result result = install.Run({"generatekuid"});
    EXPECT_EQ(result.out, OneError("The KUID base could not be saved to '" + KuidFile(install) + "'"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.code, 255);
    EXPECT_EQ(install.Take(), before);
  }
}

TEST(VelmarUtilUnwritableTest, ACommandWhoseIndexCannotBeWrittenFails) {
  Installation install;
  // Committed assets, so that dlsdeleteall has something to delete.
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  for (const char* kuid : {"<kuid:414141:1>", "<kuid:414141:2>", "<kuid:414141:3>"})
    ASSERT_EQ(install.Run({"commit", kuid}).code, 0) << kuid;
  // The index goes to "cache" first: a file there stops every write.
  std::filesystem::remove_all(install.Root() + "/cache");
  e2e::WriteText(install.Root() + "/cache", "");
  const std::string index = e2e::ReadText(install.Root() + "/assets.tdx");
  ASSERT_FALSE(index.empty());

  struct Case {
    std::vector<std::string> arguments;
    bool changes;
  };
  const Case cases[] = {
      {{"version"}, false},
      {{"setlanguage", "FR"}, true},
      {{"repairdatabase"}, true},
      {{"dlsdeleteall"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    const Result result = install.Run(c.arguments);
    if (c.changes) {
      EXPECT_EQ(result.err, kIndexNotWritten);
      EXPECT_EQ(result.code, 255) << result.out;
    } else {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.code, 0) << result.out;
    }
    EXPECT_EQ(e2e::ReadText(install.Root() + "/assets.tdx"), index);
  }
}

} // namespace
