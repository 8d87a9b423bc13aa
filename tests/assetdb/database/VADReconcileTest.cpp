// The restore after an unclean end: the backup index is a step behind the
// folders, and the reopening brings records and folders back to one story.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/database/CrashTestSupport.h"
#include "tests/assetdb/database/IPCTestSupport.h"

namespace {

namespace fs = std::filesystem;

KUID AssetKuid(int n) { return KUID(700, n + 1, 0); }

std::string EditingFolder(int n) { return "editing/asset" + std::to_string(n); }
std::string LocalFolder(int n, const char* name = "content") {
  char hash[16];
  std::snprintf(hash, sizeof hash, "hash-%02X", LocalHashBucket(AssetKuid(n)));
  return "local/" + std::string(hash) + "/" + name + std::to_string(n);
}

void WriteAsset(const std::string& root, const std::string& folder, int n) {
  fs::create_directories(root + "/" + folder);
  std::ofstream(root + "/" + folder + "/config.txt")
      << "kuid " << AssetKuid(n).ToConfigText().c_str() << "\nkind \"scenery\"\n";
  std::ofstream(root + "/" + folder + "/mesh.im") << "mesh of " << n << "\n";
}

std::string LastName(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ReconcileTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
  void TearDown() override { SetDatabaseRootPath(savedRoot_); }

  Vak::File::Path savedRoot_;
};

TEST_F(ReconcileTest, TheRestoreBringsRecordsAndFoldersToOneStory) {
  struct Case {
    const char* what;
    bool editingBefore, localBefore;  // the asset's folders the backup knows
    bool editingAfter, localAfter;    // and those on disk at the kill
    bool secondCopy;                  // a second local copy beside its own
    bool listed, open, local;         // what the reopened index says
  };
  const Case cases[] = {
      {"a commit the backup missed", true, false, false, true, false, true, false, true},
      {"an open edit over a commit the backup missed", true, false, true, true, false, true, true, true},
      {"a delete the backup missed", false, true, false, false, false, false, false, false},
      {"a delete cut between its folders", true, true, false, true, false, true, false, true},
      {"an install the backup missed", false, false, false, true, false, true, false, true},
      {"a second local copy", false, true, false, true, true, true, false, true},
      {"nothing changed", true, true, true, true, false, true, true, true},
  };
  ipctest::Database db;
  const std::string root = db.Root();
  SetDatabaseRootPath(root.c_str());
  int n = 0;
  for (const Case& c : cases) {
    if (c.editingBefore) WriteAsset(root, EditingFolder(n), n);
    if (c.localBefore) WriteAsset(root, LocalFolder(n), n);
    ++n;
  }
  // The backup: the index as the run found it, demoted by its first change.
  crashtest::Reopen(root);
  crashtest::Close();
  ASSERT_TRUE(VADDemoteDatabaseFile());

  n = 0;
  for (const Case& c : cases) {
    if (!c.editingAfter) fs::remove_all(root + "/" + EditingFolder(n));
    if (c.localAfter && !c.localBefore) WriteAsset(root, LocalFolder(n), n);
    if (!c.localAfter) fs::remove_all(root + "/" + LocalFolder(n));
    if (c.secondCopy) WriteAsset(root, LocalFolder(n, "copy"), n);
    ++n;
  }
  // A folder of no asset.
  fs::create_directories(root + "/local/hash-00/junk");
  std::ofstream(root + "/local/hash-00/junk/a.txt") << "no config here\n";

  crashtest::Reopen(root);
  {
    VADLock lock;
    lock.Acquire(false);
    n = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      const VADAssetInfo* record = gVadAssetIndex.Find(AssetKuid(n));
      ASSERT_EQ(record != nullptr, c.listed);
      if (record) {
        EXPECT_EQ(record->HasEditingFolder(), c.open);
        EXPECT_EQ(record->HasLocalFolder(), c.local);
        if (c.local) {
          EXPECT_EQ(LastName(static_cast<const char*>(record->localPath)), "content" + std::to_string(n));
        }
        EXPECT_FALSE(record->HasErrors());
      }
      EXPECT_FALSE(fs::exists(root + "/" + LocalFolder(n, "copy"))) << "the second copy stays in local";
      ++n;
    }
  }
  EXPECT_FALSE(fs::exists(root + "/local/hash-00/junk"));
  // What left "local" is in "trash", whole.
  std::vector<std::string> trash;
  for (const auto& entry : fs::directory_iterator(root + "/trash")) trash.push_back(entry.path().filename().string());
  std::sort(trash.begin(), trash.end());
  EXPECT_EQ(trash, (std::vector<std::string>{"copy5", "junk"}));
  EXPECT_TRUE(fs::exists(root + "/trash/copy5/mesh.im"));
  crashtest::Close();

  // Written at once: the next start finds the same story without a restore.
  ASSERT_TRUE(fs::exists(root + "/assets.tdx"));
}

} // namespace
