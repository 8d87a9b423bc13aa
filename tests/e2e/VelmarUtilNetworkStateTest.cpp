// The download station's state and the user-name cache as the programs keep
// them in "assets.tdx": this test writes them in-process with the same
// classes, then runs the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabaseFile.h"
#include "content/AppGlobals.h"
#include "net/NetworkService.h"
#include "net/UserNameLookup.h"
#include "net/VADDownloadStation.h"
#include "tests/e2e/E2ESupport.h"
#include "tests/net/TestBytes.h"

namespace {

using e2e::Installation;

const std::string kOk = "OK (0 Errors, 0 Warnings)\n";

// Reads the installation's index in-process, lets `edit` change the network
// state, and writes the index back.
template <class Edit> void EditIndex(const Installation& install, Edit edit) {
  InstallNetworkService();
  const std::string index = install.Root() + "/assets.tdx";
  ASSERT_TRUE(SetDatabaseRootPath(install.Root().c_str()));
  ASSERT_TRUE(ReadDatabaseFile(index.c_str()));
  edit();
  ASSERT_TRUE(WriteDatabaseFile(index.c_str()));
  gVadAssetIndex.Clear();
}

void InstallAssetOf(const Installation& install, int user, const std::string& name) {
  const std::string folder = install.Scratch("asset-" + std::to_string(user));
  std::filesystem::create_directories(folder);
  e2e::WriteText(folder + "/config.txt", "kuid <kuid:" + std::to_string(user) + ":1>\r\nkind \"scenery\"\r\nusername \"" +
                                             name + "\"\r\nvelmar-build 3.1\r\n");
  const e2e::Result installed = install.Run({"installfrompath", folder});
  ASSERT_EQ(installed.code, 0) << installed.out;
  // A path installs open for edit; the commit makes it local.
  const e2e::Result committed = install.Run({"commit", "<kuid:" + std::to_string(user) + ":1>"});
  ASSERT_EQ(committed.code, 0) << committed.out;
}

TEST(VelmarUtilNetworkStateTest, AuthorsShowCachedNamesAndTheIdOfTheOthers) {
  Installation install;
  InstallAssetOf(install, 777, "Erins Shed");
  InstallAssetOf(install, 888, "Unknown Shed");
  EditIndex(install, [] {
    std::vector<uint8_t> names;
    Vak::AppendLE32(names, 0);
    Vak::AppendLE32(names, 1);
    nettest::PText(names, "Erin");
    Vak::AppendLE32(names, 1);
    Vak::AppendLE32(names, 777);
    ASSERT_TRUE(blocktest::ReadBlock(UserNameLookup::Global(), names));
  });
  const e2e::Result result = install.Run({"authors"});
  EXPECT_EQ(result.code, 0);
  EXPECT_NE(result.out.find("erin\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("#888\n"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("#777"), std::string::npos) << result.out;
}

// Only the extended repair resets the station's state.
TEST(VelmarUtilNetworkStateTest, ExtendedRepairResetsTheStationBlock) {
  struct Case {
    const char* mode;
    bool reset;
  } cases[] = {{"", false}, {"extended", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Installation install;
    ASSERT_EQ(install.Run({"generatekuid"}).code, 0);
    EditIndex(install, [] {
      std::vector<uint8_t> block;
      Vak::AppendLE32(block, 1);
      nettest::Text(block, "20261211");
      Vak::AppendLE32(block, 1700000000);
      Vak::AppendLE32(block, 0);
      Vak::AppendLE32(block, 1);
      nettest::PText(block, "http://files.example.com/lists/a.gz");
      ASSERT_TRUE(blocktest::ReadBlock(VADDownloadStation::Global(), block));
    });
    std::vector<std::string> command{"repairdatabase"};
    if (*c.mode) command.push_back(c.mode);
    const e2e::Result result = install.Run(command);
    EXPECT_EQ(result.code, 0) << result.out;
    const std::string index = install.Root() + "/assets.tdx";
    ASSERT_TRUE(ReadDatabaseFile(index.c_str()));
    const VADDownloadStation& station = VADDownloadStation::Global();
    EXPECT_EQ(station.Queue().IsEmpty(), c.reset);
    EXPECT_STREQ(station.LastReceivedFile(), c.reset ? "0" : "20261211");
    EXPECT_EQ(station.LastSearchTime(), c.reset ? 0u : 1700000000u);
    gVadAssetIndex.Clear();
  }
}

// The station's worker runs from the program's start; every way out ends
// the process with its code.
TEST(VelmarUtilNetworkStateTest, EveryExitEndsTheRunWithTheStationsWorkerRunning) {
  Installation install;
  struct Case {
    std::vector<std::string> arguments;
    int code;
  } cases[] = {{{"version"}, 0}, {{}, 255}, {{"nosuchcommand"}, 255}, {{"status", "<kuid:1:1>"}, 255}};
  for (const Case& c : cases) {
    const e2e::Result result = install.Run(c.arguments);
    EXPECT_EQ(result.code, c.code) << (c.arguments.empty() ? "" : c.arguments[0]) << "\n" << result.out;
  }
}

} // namespace
