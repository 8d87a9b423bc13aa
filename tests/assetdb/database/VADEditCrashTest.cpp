// The editing cycle killed at random moments: every asset's local folder
// stays whole, old or new and never a mix, and an editing copy goes only
// once its local copy is complete. After each kill the database reopens as
// the program does: every reported commit has a record on its whole folder,
// and the rewrite's leftover "temp" copies are neither taken for assets nor
// left in "local".
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"
#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/assetdb/database/CrashTestSupport.h"
#include "tests/assetdb/database/IPCTestSupport.h"

namespace {

constexpr int kAssets = 3;
constexpr int kFiles = 20;
constexpr int kRounds = 20;

KUID AssetKuid(int asset) { return KUID(600, asset + 1, 0); }

// The generation every file of the folder holds; -1 for a mix or a gap.
int WholeGeneration(const std::string& folder) {
  int generation = -2;
  for (int j = 0; j < kFiles; ++j) {
    std::ifstream in(folder + "/f" + std::to_string(j) + ".im");
    std::string word, fileWord;
    int g = -1, file = -1;
    if (!(in >> word >> g >> fileWord >> file) || file != j) return -1;
    if (generation != -2 && g != generation) return -1;
    generation = g;
  }
  if (!std::filesystem::exists(folder + "/config.txt")) return -1;
  return generation;
}

bool IsTempName(const std::string& name) { return Vak::CodePage::CompareIgnoreCaseN(name.c_str(), "temp", 4) == 0; }

// The last component of a stored folder path, whichever separator it uses.
std::string LastName(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Edit {
  int generation = -1;
  std::string folder;
};

struct Progress {
  std::map<int, int> committed;  // asset: last generation reported committed
  std::map<int, Edit> edited;    // asset: last generation written to an editing copy, and that copy
  int commits = 0;
};

Progress ReadProgress(const std::string& text) {
  Progress progress;
  std::map<int, std::string> editing;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string what;
    int asset = 0, generation = 0;
    if (!(fields >> what) || what == "ready") continue;
    if (!(fields >> asset)) break;
    if (what == "editing") {
      std::getline(fields >> std::ws, editing[asset]);
      // The worker rewrites that copy from here on: a kill may leave it half
      // written, so an earlier edit no longer stands for what it holds.
      progress.edited.erase(asset);
      continue;
    }
    if (!(fields >> generation)) break;
    if (what == "committed") {
      progress.committed[asset] = generation;
      ++progress.commits;
    } else if (what == "edited") {
      progress.edited[asset] = Edit{generation, editing[asset]};
    } else {
      ADD_FAILURE() << "the worker failed: " << line;
    }
  }
  return progress;
}

// Files of a test database.
std::string PathIn(const ipctest::Database& db, const std::string& relative) { return db.Root() + "/" + relative; }

void WriteFile(const ipctest::Database& db, const std::string& relative, const std::string& text) {
  const std::string path = PathIn(db, relative);
  platform::MakeFolderPath(path.substr(0, path.find_last_of('/')).c_str());
  std::ofstream(path, std::ios::binary) << text;
}

// The asset's hash folder under "local", relative to the root.
std::string HashFolder(int asset) {
  char hash[16];
  std::snprintf(hash, sizeof hash, "hash-%02X", LocalHashBucket(AssetKuid(asset)));
  return "local/" + std::string(hash);
}

// An asset folder holding generation `generation` whole.
void WriteAssetFolder(const ipctest::Database& db, const std::string& folder, int asset, int generation) {
  WriteFile(db, folder + "/config.txt", "kuid " + std::string(AssetKuid(asset).ToConfigText().c_str()) + "\n");
  for (int j = 0; j < kFiles; ++j)
    WriteFile(db, folder + "/f" + std::to_string(j) + ".im",
              "gen " + std::to_string(generation) + " file " + std::to_string(j) + "\n");
}

// Folders named "temp..." anywhere in the hash folders of "local".
std::vector<std::string> TempFoldersInLocal(const ipctest::Database& db) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& hash : std::filesystem::directory_iterator(PathIn(db, "local"), error))
    for (const auto& folder : std::filesystem::directory_iterator(hash.path(), error))
      if (IsTempName(folder.path().filename().string())) found.push_back(folder.path().string());
  return found;
}

class EditCrashTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
  void TearDown() override {
    Close();
    SetDatabaseRootPath(savedRoot_);
  }
  static void Reopen(const ipctest::Database& db) { crashtest::Reopen(db.Root()); }
  static void Close() { crashtest::Close(); }

  Vak::File::Path savedRoot_;
};

// The generation the asset's local folder holds whole; -1 for none. Under
// an index lock.
int LocalGeneration(int asset) {
  const VADAssetInfo* record = gVadAssetIndex.Find(AssetKuid(asset));
  return record && record->HasLocalFolder() ? WholeGeneration(std::string(record->GetLocalFolder())) : -1;
}

// No record of the index has its local folder in a "temp" folder. Under an
// index lock.
void ExpectNoRecordInTemp() {
  for (uint32_t r = 0; r < gVadAssetIndex.RecordCount(); ++r) {
    const VADAssetInfo* record = gVadAssetIndex.SortedAt(r);
    const char* local = record->localPath;
    EXPECT_FALSE(IsTempName(LastName(local))) << record->kuid.ToConfigText().c_str() << " is on " << local;
  }
}

// A kill inside the folder rewrite leaves a complete copy, old or new, in a
// "temp" folder beside the asset's folder, or (on the first commit of a new
// asset) without one, and the index file demoted to the backup. Whether the
// backup knew the asset or the index is rebuilt, the reopening keeps the
// record on the real folder and clears the copy out of "local".
TEST_F(EditCrashTest, ScanNeverTakesARewriteLeftoverForTheAsset) {
  struct Case {
    const char* what;
    bool realFolder;  // the asset's own folder exists, holding generation 1
    bool indexed;     // an index file knows it; else the reopen rebuilds
    int leftover;     // the generation the "temp" copy holds
  };
  const Case cases[] = {
      {"new copy beside an indexed folder", true, true, 2},
      {"old copy beside an indexed folder", true, true, 0},
      {"new copy beside a folder, rebuilt", true, false, 2},
      {"old copy beside a folder, rebuilt", true, false, 0},
      {"copy of a never committed asset", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ipctest::Database db;
    SetDatabaseRootPath(db.Root().c_str());
    if (c.realFolder) WriteAssetFolder(db, HashFolder(0) + "/asset0", 0, 1);
    if (c.indexed) {
      Reopen(db);
      Close();
      ASSERT_TRUE(std::filesystem::exists(PathIn(db, "assets.tdx")));
      // A commit demotes the index file before it rewrites a folder.
      ASSERT_TRUE(VADDemoteDatabaseFile());
    }
    // Names either side of the asset's own, whatever order a listing gives.
    WriteAssetFolder(db, HashFolder(0) + "/temp0leftover", 0, c.leftover);
    WriteAssetFolder(db, HashFolder(0) + "/tempzleftover", 0, c.leftover);
    Reopen(db);
    {
      VADLock lock;
      lock.Acquire(false);
      ExpectNoRecordInTemp();
      EXPECT_EQ(LocalGeneration(0), c.realFolder ? 1 : -1);
    }
    EXPECT_EQ(TempFoldersInLocal(db), std::vector<std::string>());
    Close();
  }
}

// Editing folders are named after their assets, so one may begin with
// "temp" too: a rebuild keeps it as the asset's editing copy.
TEST_F(EditCrashTest, RebuildKeepsAnEditingCopyNamedLikeATemporary) {
  ipctest::Database db;
  SetDatabaseRootPath(db.Root().c_str());
  WriteAssetFolder(db, "editing/temp station", 0, 1);
  Reopen(db);
  {
    VADLock lock;
    lock.Acquire(false);
    const VADAssetInfo* record = gVadAssetIndex.Find(AssetKuid(0));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(LastName(static_cast<const char*>(record->editingPath)), "temp station");
  }
  EXPECT_EQ(WholeGeneration(PathIn(db, "editing/temp station")), 1);
  Close();
}

TEST_F(EditCrashTest, KilledCommitsLeaveWholeAssetsThatTheReopenedDatabaseFinds) {
  ipctest::Database db;
  SetDatabaseRootPath(db.Root().c_str());
  for (int i = 0; i < kAssets; ++i) WriteAssetFolder(db, HashFolder(i) + "/asset" + std::to_string(i), i, 0);
  std::mt19937 random(20);
  const std::string output = db.Scratch("progress.txt");
  int commits = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const int before = ReadProgress(ipctest::ReadText(output)).commits;
    const int target = before + 1 + static_cast<int>(random() % 4);
    const int extraUs = static_cast<int>(random() % 15000);
    platform::Process worker;
    ASSERT_EQ(worker.Start({EDIT_PEER_PATH, output, db.Root(), std::to_string(kAssets), std::to_string(kFiles)}),
              platform::Error::None);
    ASSERT_TRUE(WaitUntil([&] { return ReadProgress(ipctest::ReadText(output)).commits >= target; }))
        << ipctest::ReadText(output);
    std::this_thread::sleep_for(std::chrono::microseconds(extraUs));
    worker.Kill();
    worker.Wait(platform::kInfinite);

    // Now and then the index is lost as well, and the reopen rebuilds it
    // from the folders.
    if (round % 3 == 1) {
      for (const char* file : {"assets.tdx", "cache/assets.tdx", "cache/assets.bku"})
        std::filesystem::remove(PathIn(db, file));
    }
    const Progress progress = ReadProgress(ipctest::ReadText(output));
    commits = progress.commits;
    Reopen(db);
    {
      VADLock lock;
      lock.Acquire(false);
      ExpectNoRecordInTemp();
      for (const auto& [asset, generation] : progress.committed) {
        ASSERT_NE(gVadAssetIndex.Find(AssetKuid(asset)), nullptr) << "asset " << asset << " has no record";
        const int whole = LocalGeneration(asset);
        ASSERT_GE(whole, 0) << "asset " << asset << " has no whole local folder";
        EXPECT_GE(whole, generation) << "asset " << asset << ": a commit was lost";
      }
      for (const auto& [asset, edit] : progress.edited) {
        if (!std::filesystem::exists(edit.folder)) {
          EXPECT_GE(LocalGeneration(asset), edit.generation)
              << "asset " << asset << ": the editing copy went before its local copy was whole";
        }
      }
    }
    EXPECT_EQ(TempFoldersInLocal(db), std::vector<std::string>());
    Close();
  }
  EXPECT_GE(commits, kRounds);
}

} // namespace
