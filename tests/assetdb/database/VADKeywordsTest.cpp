#include "assetdb/VADKeywords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADLock.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "platform/os/FileSystem.h"
#include "tests/assetdb/database/IPCTestSupport.h"
#include "tests/assetdb/database/IndexFileSupport.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/assetdb/database/OpenDatabaseFixture.h"

namespace {

const KUID kBridge(1000, 1, 0);
const KUID kSignal(1000, 2, 3);

class VADKeywordsTest : public IndexFixture {
protected:
  void AddRecord(const KUID& kuid, const char* name, const char* keywords) {
    VADAssetInfo record = LocalRecord(kuid, name);
    record.keywords = keywords;
    VADAssetInfo* stored = gVadAssetIndex.Insert(record);
    ASSERT_NE(stored, nullptr);
    stored->BuildKeywords();
  }
  static std::string Keywords(const KUID& kuid) {
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record ? std::string(record->keywords) : std::string("<no record>");
  }
  std::string Folder() const { return root_.Path().string(); }
  std::string ReadFile(const std::string& name) const {
    std::string text;
    FILE* file = std::fopen(Root(name).c_str(), "rb");
    if (!file) return "<missing>";
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
  }
};

TEST_F(VADKeywordsTest, BackupOfAnEmptyIndexHasNoChildren) {
  ASSERT_TRUE(VADBackupKeywords(Folder().c_str(), "KeywordsBackup.dat", "txt"));
  const std::string text = ReadFile("KeywordsBackup.dat");
  EXPECT_EQ(text.find("kuid"), std::string::npos) << text;
  ASSERT_TRUE(VADImportKeywords(Folder().c_str(), "KeywordsBackup.dat", "txt"));
  EXPECT_EQ(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, 0u);
}

TEST_F(VADKeywordsTest, BackupNamesEachAssetByItsConfigKuidInTextForm) {
  AddRecord(kBridge, "bridge", "steel river");
  AddRecord(kSignal, "signal", "semaphore");
  ASSERT_TRUE(VADBackupKeywords(Folder().c_str(), "KeywordsBackup.dat", "txt"));
  // Text form although the extension says otherwise: the config text names
  // appear in the file as written.
  const std::string text = ReadFile("KeywordsBackup.dat");
  EXPECT_NE(text.find("<kuid:1000:1>"), std::string::npos) << text;
  EXPECT_NE(text.find("<kuid2:1000:2:3>"), std::string::npos) << text;
  EXPECT_NE(text.find("steel"), std::string::npos) << text;
}

TEST_F(VADKeywordsTest, ImportRestoresWhatTheBackupSaved) {
  AddRecord(kBridge, "bridge", "steel river");
  AddRecord(kSignal, "signal", "semaphore");
  ASSERT_TRUE(VADBackupKeywords(Folder().c_str(), "KeywordsBackup.dat", "txt"));
  const std::string bridgeList(gVadAssetIndex.Find(kBridge)->keywordList);

  gVadAssetIndex.Find(kBridge)->keywords = "";
  gVadAssetIndex.Find(kBridge)->BuildKeywords();
  gVadAssetIndex.Find(kSignal)->keywords = "other";
  gVadAssetIndex.ClearDirtyFlags();

  ASSERT_TRUE(VADImportKeywords(Folder().c_str(), "KeywordsBackup.dat", "txt"));
  EXPECT_EQ(Keywords(kBridge), bridgeList);
  EXPECT_NE(Keywords(kSignal).find("semaphore"), std::string::npos);
  EXPECT_NE(std::string(gVadAssetIndex.Find(kBridge)->keywordList).find("steel"), std::string::npos);
}

// An import that changed records must leave the index marked changed, or
// the keywords are never written to the index file.
TEST_F(VADKeywordsTest, ImportThatChangesARecordMarksTheIndexChanged) {
  AddRecord(kBridge, "bridge", "");
  root_.WriteFile("KeywordsDump.dat", "<kuid:1000:1>  \"viaduct stone\"\r\n");
  gVadAssetIndex.ClearDirtyFlags();
  ASSERT_TRUE(VADImportKeywords(Folder().c_str(), "KeywordsDump.dat", "txt"));
  EXPECT_EQ(Keywords(kBridge), "viaduct stone");
  EXPECT_NE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, 0u);
}

TEST_F(VADKeywordsTest, ImportSkipsChildrenThatNameNoRecord) {
  AddRecord(kBridge, "bridge", "steel");
  struct Case {
    const char* label;
    const char* text;
  };
  const Case cases[] = {
      {"not a KUID", "platform \"words\"\r\n"},
      {"unknown KUID", "<kuid:77:77> \"words\"\r\n"},
      {"other version of a known asset", "<kuid2:1000:1:5> \"words\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    root_.WriteFile("KeywordsDump.dat", c.text);
    gVadAssetIndex.ClearDirtyFlags();
    EXPECT_TRUE(VADImportKeywords(Folder().c_str(), "KeywordsDump.dat", "txt"));
    EXPECT_EQ(Keywords(kBridge), "steel");
    EXPECT_EQ(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, 0u);
  }
}

TEST_F(VADKeywordsTest, ImportOfAMissingFileFails) {
  EXPECT_FALSE(VADImportKeywords(Folder().c_str(), "KeywordsDump.dat", "txt"));
}

// The whole database opened over an index file, for what must outlive a
// shutdown.
class VADKeywordsDatabaseTest : public OpenDatabaseFixture {};

TEST_F(VADKeywordsDatabaseTest, ImportedKeywordsOutliveAShutdown) {
  VADAssetInfo record;
  record.kuid = kBridge;
  record.name = "bridge";
  record.keywords = "old";
  gVadAssetIndex.Insert(record);
  platform::MakeFolderPath((db_.Root() + "/cache").c_str());
  ASSERT_TRUE(WriteDatabaseFile(db_.Index().c_str()));
  gVadAssetIndex.Clear();
  gVadAssetIndex.ClearDirtyFlags();
  {
    FILE* file = std::fopen((db_.Root() + "/KeywordsDump.dat").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("<kuid:1000:1> \"viaduct\"\r\n", file);
    std::fclose(file);
  }

  Open();
  ASSERT_NE(gVadAssetIndex.Find(kBridge), nullptr);
  ASSERT_TRUE(VADImportKeywords(db_.Root().c_str(), "KeywordsDump.dat", "txt"));
  EXPECT_TRUE(VADShutdown());
  gVadAssetIndex.Clear();

  ASSERT_TRUE(ReadDatabaseFile(db_.Index().c_str()));
  const VADAssetInfo* stored = gVadAssetIndex.Find(kBridge);
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(static_cast<const char*>(stored->keywords), "viaduct");
}

}  // namespace
