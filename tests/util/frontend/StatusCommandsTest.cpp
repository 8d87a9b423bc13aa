// The status and validate commands over an index built by the test, the
// status letters and the text helpers of the download-station commands.
#include "util/StatusCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADServices.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/util/frontend/PrintedLog.h"

namespace {

// A validation that reports one error and one warning and remembers where
// it looked.
class FakeValidation : public VADValidationService {
public:
  bool ValidateAsset(const char* folder, const char*, const char* configFileName, bool, ResultsLog& results,
                     bool& kindUnchanged) override {
    folders.push_back(folder);
    configs.push_back(configFileName);
    results.AddMessage(ResultsLog::kError, nullptr, "mesh is missing");
    results.AddMessage(ResultsLog::kWarning, nullptr, "name is long");
    kindUnchanged = true;
    return true;
  }
  void PurgeLoadedData() override {}
  void ClearMeshFailureReported() override {}

  std::vector<std::string> folders;
  std::vector<std::string> configs;
};

class StatusCommandsTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    GetVADServices().validation = &validation_;
  }
  void TearDown() override {
    GetVADServices().validation = nullptr;
    IndexFixture::TearDown();
  }

  FakeValidation validation_;
  const KUID local_{414141, 7, 0};
};

TEST_F(StatusCommandsTest, ValidateReportsTheFindingsUnderTheAssetAndSucceeds) {
  WriteConfig("local/shed", "kuid <kuid:414141:7>\nkind \"scenery\"\n");
  gVadAssetIndex.Insert(LocalRecord(local_, "shed"));

  ResultsLog log;
  EXPECT_TRUE(CommandValidate(local_, log));
  ASSERT_EQ(validation_.folders.size(), 1u);
  EXPECT_EQ(validation_.folders[0], Root("local/shed"));
  EXPECT_EQ(validation_.configs[0], "config.txt");
  EXPECT_EQ(PrintedLog(log),
            "- <kuid:414141:7> : mesh is missing\n! <kuid:414141:7> : name is long\nOK (1 Errors, 1 Warnings)\n");

  // Lines added after the command name no asset.
  log.AddMessage(ResultsLog::kNote, nullptr, "after");
  EXPECT_NE(PrintedLog(log).find("; <NULL> : after\n"), std::string::npos) << PrintedLog(log);
}

TEST_F(StatusCommandsTest, ValidateOfAnAssetWithoutFolderFailsQuietly) {
  VADAssetInfo bare;
  bare.kuid = KUID(414141, 8, 0);
  bare.name = "bare";
  gVadAssetIndex.Insert(bare);
  // The only message is the open's own.
  struct Case {
    KUID kuid;
    const char* log;
  };
  const Case cases[] = {
      {KUID(414141, 8, 0), "- <kuid:414141:8> : $vad_not_committed\nOK (1 Errors, 0 Warnings)\n"},
      {KUID(414141, 9, 0), "OK (0 Errors, 0 Warnings)\n"},
  };
  for (const Case& c : cases) {
    ResultsLog log;
    EXPECT_FALSE(CommandValidate(c.kuid, log)) << c.log;
    EXPECT_EQ(PrintedLog(log), c.log);
  }
  EXPECT_TRUE(validation_.folders.empty());
}

TEST_F(StatusCommandsTest, StatusOfAnUnknownAssetNamesIt) {
  ResultsLog log;
  EXPECT_FALSE(CommandStatus(KUID(414141, 99, 2), log));
  EXPECT_EQ(PrintedLog(log), "- <kuid2:414141:99:2> : Unknown AssetID.\nOK (1 Errors, 0 Warnings)\n");
}

TEST(StatusLettersTest, EachTestGivesItsLetter) {
  struct Case {
    uint8_t state;
    uint8_t detail;
    bool missing;
    bool errors;
    const char* letters;
  };
  const Case cases[] = {
      {0, 0, false, false, "eiadlme"},
      {0, VADAssetStatus::kOpenForEdit, false, false, "Eiadlme"},
      {VADAssetStatus::kInstalled, 0, false, false, "eIadlme"},
      {VADAssetStatus::kInArchive, 0, false, false, "eiAdlme"},
      {VADAssetStatus::kOnStation, 0, false, false, "eiaDlme"},
      {VADAssetStatus::kLocal, 0, false, false, "eiadLme"},
      {0, 0, true, false, "eiadlMe"},
      {0, 0, false, true, "eiadlmE"},
      // Bits no letter stands for change nothing.
      {VADAssetStatus::kUpToDate | VADAssetStatus::kBuiltIn | VADAssetStatus::kStationItem,
       static_cast<uint8_t>(0xFF & ~VADAssetStatus::kOpenForEdit), false, false, "eiadlme"},
      {0xFF, 0xFF, true, true, "EIADLME"},
  };
  for (const Case& c : cases) {
    VADAssetStatus status;
    status.state = c.state;
    status.detail = c.detail;
    EXPECT_STREQ(VADStatusLetters(status, c.missing, c.errors), c.letters) << c.letters;
  }
}

TEST(EscapeResultTextTest, BreaksAndBackSlashes) {
  struct Case {
    const char* text;
    const char* escaped;
  };
  const Case cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a\r\nb", "a\\nb"},
      {"a\n\rb", "a\\nb"},
      {"a\r\rb", "a\\n\\nb"},
      {"a\n\nb", "a\\n\\nb"},
      {"a\r\n\r\nb", "a\\n\\nb"},
      {"a\n\r\nb", "a\\n\\nb"},
      {"end\r", "end\\n"},
      {"c:\\x\\y", "c:\\\\x\\\\y"},
      {"\\\n", "\\\\\\n"},
  };
  for (const Case& c : cases) EXPECT_STREQ(EscapeResultText(c.text), c.escaped) << c.escaped;
}

TEST(FormatKUIDListTest, ConfigTextsJoined) {
  KUIDList list;
  EXPECT_STREQ(FormatKUIDList(list), "");
  list.Append(KUID(1, 2, 0));
  EXPECT_STREQ(FormatKUIDList(list), "<kuid:1:2>");
  list.Append(KUID(3, 4, 5));
  list.Append(KUID(6, 7, 0));
  EXPECT_STREQ(FormatKUIDList(list), "<kuid:1:2>, <kuid2:3:4:5>, <kuid:6:7>");
}

} // namespace
