// The index file the program cannot read: one of a newer version is left
// alone and the command fails; a damaged one is kept aside and the backup
// takes its place.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/E2ESupport.h"

namespace {

using e2e::Installation;
using e2e::Result;

// An installation whose index has a backup: the install writes the index,
// and the commit's change moves it to "cache/assets.bku".
void InstallWithBackup(const Installation& install) {
  ASSERT_EQ(install.Run({"installfrompath", install.Samples() + "/assets"}).code, 0);
  ASSERT_EQ(install.Run({"commit", "<kuid:414141:1>"}).code, 0);
  ASSERT_TRUE(std::filesystem::exists(install.Root() + "/cache/assets.bku"));
}

void SetVersionWord(const std::string& path, uint32_t version) {
  std::string bytes = e2e::ReadText(path);
  ASSERT_GE(bytes.size(), 12u) << path;
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(version >> (8 * i));
  e2e::WriteText(path, bytes);
}

TEST(VelmarUtilIndexFileTest, AnIndexOfANewerVersionIsLeftAsItIsAndTheCommandFails) {
  struct Case {
    const char* what;
    const char* newer;  // the file given version 37
    bool damagedRoot;   // "assets.tdx" holds garbage
  };
  const Case cases[] = {
      {"the index", "assets.tdx", false},
      {"the backup of a damaged index", "cache/assets.bku", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation install;
    InstallWithBackup(install);
    const std::string newer = install.Root() + "/" + c.newer;
    SetVersionWord(newer, 37);
    if (c.damagedRoot) e2e::WriteText(install.Root() + "/assets.tdx", "not an index");
    const e2e::Snapshot before = install.Take();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"status", "<kuid:414141:1>"}, {"version"}, {"repairdatabase"}}) {
      const Result result = install.Run(arguments);
      EXPECT_EQ(result.out, "") << arguments[0];
      EXPECT_EQ(result.err, "- \"" + newer + "\" is asset index version 37; this program reads up to version 36. " +
                                "Nothing was changed.\n")
          << arguments[0];
      EXPECT_EQ(result.code, 255) << arguments[0];
      EXPECT_EQ(install.Take(), before) << arguments[0];
    }
  }
}

TEST(VelmarUtilIndexFileTest, ADamagedIndexIsMovedAsideAndTheBackupTakesItsPlace) {
  Installation install;
  InstallWithBackup(install);
  const std::string root = install.Root() + "/assets.tdx";
  // Each damaged index keeps a name of its own; none is written over.
  const std::vector<std::string> damaged = {std::string(40, '\xA5'), "not an index"};
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    e2e::WriteText(root, damaged[i]);
    const Result result = install.Run({"status", "<kuid:414141:2>"});
    EXPECT_EQ(result.code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Sample Wagon"), std::string::npos) << result.out;
    EXPECT_NE(e2e::ReadText(root), damaged[i]);
    for (std::size_t j = 0; j <= i; ++j) {
      const std::string aside = install.Root() + "/cache/assets.tdx.unreadable" + (j ? "." + std::to_string(j) : "");
      EXPECT_EQ(e2e::ReadText(aside), damaged[j]) << aside;
      // The user is told where it went.
      if (j == i) {
        EXPECT_NE(result.err.find("moved to \"" + aside + "\""), std::string::npos) << result.err;
      }
    }
  }
  // The restored index reads without another move, and says nothing of one.
  const Result again = install.Run({"status", "<kuid:414141:3>"});
  EXPECT_EQ(again.code, 0);
  EXPECT_EQ(again.err.find("moved to"), std::string::npos) << again.err;
  EXPECT_FALSE(std::filesystem::exists(install.Root() + "/cache/assets.tdx.unreadable.2"));
}

} // namespace
