// Installs killed at random moments: a folder tree left open for edit, and a
// package committed asset by asset. After each kill the database reopens as
// the program would; every asset it lists has its files whole, a copy cut
// short is moved to "trash" by that reopening, every install the worker
// reported survives, and the assets installed before are untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/database/CrashTestSupport.h"
#include "tests/assetdb/database/IPCTestSupport.h"

namespace {

namespace fs = std::filesystem;
using Vak::PString;

constexpr int kGroups = 3;
constexpr int kPerGroup = 8;
constexpr int kAssets = kGroups * kPerGroup;
constexpr int kFiles = 6;
constexpr int kOldAssets = 3;
constexpr int kRounds = 5;

KUID NewKuid(int n) { return KUID(820, n + 1, 0); }
KUID OldKuid(int n) { return KUID(821, n + 1, 0); }

// Bytes no other file of the run shares, long enough that a copy is cut
// short now and then.
std::string FileBytes(const KUID& kuid, int file) {
  std::string text = std::string(kuid.ToConfigText().c_str()) + " file " + std::to_string(file) + "\n";
  while (text.size() < 6000) text += text;
  return text;
}

std::string FileName(int file) { return file % 2 ? "art/f" + std::to_string(file) + ".bmp" : "f" + std::to_string(file) + ".im"; }

void WriteAsset(const std::string& folder, const KUID& kuid) {
  fs::create_directories(folder + "/art");
  std::ofstream(folder + "/config.txt") << "kuid " << kuid.ToConfigText().c_str() << "\nkind \"scenery\"\n";
  for (int j = 0; j < kFiles; ++j) std::ofstream(folder + "/" + FileName(j), std::ios::binary) << FileBytes(kuid, j);
}

// Every file of the asset is in `folder` with its bytes, beside a config
// that names the asset.
::testing::AssertionResult HoldsWholeAsset(const std::string& folder, const KUID& kuid) {
  ACSChunkPtr config;
  if (!FindConfig(folder.c_str(), PString(), config) || config.GetChildKUID(PString("kuid"), KUID::Null()) != kuid)
    return ::testing::AssertionFailure() << folder << " has no config of its asset";
  for (int j = 0; j < kFiles; ++j) {
    if (ipctest::ReadText(folder + "/" + FileName(j)) != FileBytes(kuid, j))
      return ::testing::AssertionFailure() << folder << "/" << FileName(j) << " is not whole";
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> SubFolderNames(const std::string& folder);

// Each asset file of `folder` is one of a new asset's files, or the start of
// one. (Beside them lie configs and, cut short, their temporaries.)
::testing::AssertionResult HoldsPieceOfNewAsset(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), folder).string();
    if (name.find(".im") == std::string::npos && name.find(".bmp") == std::string::npos) continue;
    const std::string bytes = ipctest::ReadText(entry.path());
    bool known = false;
    for (int n = 0; n < kAssets && !known; ++n)
      for (int j = 0; j < kFiles && !known; ++j)
        known = name == FileName(j) && FileBytes(NewKuid(n), j).compare(0, bytes.size(), bytes) == 0;
    if (!known) return ::testing::AssertionFailure() << entry.path() << " is no new asset's file";
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> SubFolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  return names;
}

// Every file below `folder`, relative path to bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ipctest::ReadText(entry.path());
  return files;
}

// The local folders of the database: hash folder entries, without the
// rewrite's "temp" leftovers.
int CountLocalFolders(const std::string& root) {
  int count = 0;
  for (const std::string& hash : SubFolderNames(root + "/local"))
    for (const std::string& name : SubFolderNames(root + "/local/" + hash)) count += name.rfind("temp", 0) != 0;
  return count;
}

class InstallCrashTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    for (int n = 0; n < kAssets; ++n)
      WriteAsset(source_ / ("tree/group" + std::to_string(n / kPerGroup) + "/asset" + std::to_string(n)), NewKuid(n));
  }
  void TearDown() override { SetDatabaseRootPath(savedRoot_); }

  static void Open(const ipctest::Database& db) { crashtest::Reopen(db.Root()); }
  static void Close() { crashtest::Close(); }

  // A database holding the old assets, committed and indexed; their files
  // as they are then.
  static std::map<std::string, std::string> InstallOldAssets(const ipctest::Database& db) {
    for (int n = 0; n < kOldAssets; ++n) {
      char hash[16];
      std::snprintf(hash, sizeof hash, "hash-%02X", LocalHashBucket(OldKuid(n)));
      WriteAsset(db.Root() + "/local/" + hash + "/old" + std::to_string(n), OldKuid(n));
    }
    Open(db);
    {
      VADLock lock;
      lock.Acquire(false);
      for (int n = 0; n < kOldAssets; ++n) EXPECT_NE(gVadAssetIndex.Find(OldKuid(n)), nullptr);
    }
    Close();
    return Snapshot(db.Root() + "/local");
  }

  // One package of all the tree's assets; their configs get `build` as
  // "velmar-build" when it is not 0.
  std::string WritePackage(float build) {
    const std::string path = source_ / ("all-" + std::to_string(build) + ".cdp");
    ContentPackage package;
    Vak::String error;
    for (int n = 0; n < kAssets; ++n) {
      const std::string folder = source_ / ("tree/group" + std::to_string(n / kPerGroup) + "/asset" + std::to_string(n));
      ContentPackageItem item;
      item.SetChildString(PString("compression"), "");
      ACSChunkPtr config, files;
      EXPECT_TRUE(FindConfig(folder.c_str(), PString(), config));
      files.MakeContainer();
      ResultsLog log;
      EXPECT_TRUE(PackFolderFiles(files, folder.c_str(), PString(), log, PString()));
      files.RemoveChild(PString("config.txt"));
      if (build != 0.0f) config.SetChildFloat(PString("velmar-build"), build);
      item.Assign(config);
      item.SetFiles(files);
      item.UpdateDSID();
      EXPECT_TRUE(package.AddAsset(error, item)) << static_cast<const char*>(error);
    }
    EXPECT_TRUE(package.Write(error, path.c_str())) << static_cast<const char*>(error);
    return path;
  }

  struct Outcome {
    int listed = 0;  // of the run's assets
  };

  // Runs the worker until the installed folders counted by `progress`
  // reach a seeded number, kills it a moment later, reopens and checks.
  void KillAndCheck(const std::string& mode, const std::string& source, int (*progress)(const std::string& root),
                    std::mt19937& random, Outcome& outcome) {
    ipctest::Database db;
    const std::map<std::string, std::string> old = InstallOldAssets(db);
    const int target = 1 + static_cast<int>(random() % kAssets);
    const int extraUs = static_cast<int>(random() % 3000);
    const std::string output = db.Scratch("progress.txt");
    platform::Process worker;
    ASSERT_EQ(worker.Start({INSTALL_PEER_PATH, output, db.Root(), mode, source}), platform::Error::None);
    ASSERT_TRUE(WaitUntil([&] {
      return progress(db.Root()) >= target || ipctest::ReadText(output).find("done") != std::string::npos;
    })) << ipctest::ReadText(output);
    std::this_thread::sleep_for(std::chrono::microseconds(extraUs));
    worker.Kill();
    worker.Wait(platform::kInfinite);

    // Installs the worker reported, and so wrote into the index.
    std::set<int> reported;
    std::istringstream lines(ipctest::ReadText(output));
    for (std::string what, name; lines >> what;) {
      if (what == "group" && lines >> name) {
        int count = 0;
        lines >> count;
        EXPECT_EQ(count, kPerGroup) << name;
        const int group = std::stoi(name.substr(5));
        for (int k = 0; k < kPerGroup; ++k) reported.insert(group * kPerGroup + k);
      } else if (what == "package") {
        int count = 0;
        lines >> count;
        EXPECT_EQ(count, kAssets);
        for (int n = 0; n < kAssets; ++n) reported.insert(n);
      }
    }

    Open(db);
    {
      VADLock lock;
      lock.Acquire(false);
      std::set<std::string> editingFolders;
      std::set<std::string> localFolders;  // "hash/name" of each record's local folder
      auto noteLocal = [&localFolders](const VADAssetInfo* record) {
        if (!record || !record->HasLocalFolder()) return;
        const fs::path folder(std::string(record->GetLocalFolder()));
        localFolders.insert(folder.parent_path().filename().string() + "/" + folder.filename().string());
      };
      for (int n = 0; n < kAssets; ++n) {
        const VADAssetInfo* record = gVadAssetIndex.Find(NewKuid(n));
        noteLocal(record);
        if (!record) {
          EXPECT_EQ(reported.count(n), 0u) << "asset " << n << " was reported installed and is lost";
          continue;
        }
        ++outcome.listed;
        EXPECT_TRUE(record->HasLocalFolder() || record->HasEditingFolder()) << "asset " << n << " has no folder";
        for (const auto mode : {VADAssetHandle::kRead, VADAssetHandle::kEdit}) {
          Vak::File::Path folder;
          if (VADAssetPath(*record, mode, folder)) {
            EXPECT_TRUE(HoldsWholeAsset(std::string(folder), NewKuid(n))) << "asset " << n;
          }
        }
        if (record->HasEditingFolder())
          editingFolders.insert(fs::path(std::string(record->GetEditingFolder())).filename());
      }
      for (int n = 0; n < kOldAssets; ++n) {
        EXPECT_NE(gVadAssetIndex.Find(OldKuid(n)), nullptr) << "old asset " << n;
        noteLocal(gVadAssetIndex.Find(OldKuid(n)));
      }
      // What is left in "editing" and "local" belongs to a record.
      for (const std::string& name : SubFolderNames(db.Root() + "/editing"))
        EXPECT_EQ(editingFolders.count(name), 1u) << "editing/" << name << " has no record";
      for (const std::string& hash : SubFolderNames(db.Root() + "/local"))
        for (const std::string& name : SubFolderNames(db.Root() + "/local/" + hash))
          EXPECT_EQ(localFolders.count(hash + "/" + name), 1u) << "local/" << hash << "/" << name << " has no record";
    }
    // "trash" holds only copies of the run's assets, whole or cut short.
    for (const std::string& name : SubFolderNames(db.Root() + "/trash"))
      EXPECT_TRUE(HoldsPieceOfNewAsset(db.Root() + "/trash/" + name));
    for (const std::string& hash : SubFolderNames(db.Root() + "/local"))
      for (const std::string& name : SubFolderNames(db.Root() + "/local/" + hash))
        EXPECT_NE(name.rfind("temp", 0), 0u) << "local/" << hash << "/" << name << " is a rewrite's leftover";
    const std::map<std::string, std::string> now = Snapshot(db.Root() + "/local");
    for (const auto& [file, bytes] : old) {
      const auto found = now.find(file);
      EXPECT_TRUE(found != now.end() && found->second == bytes) << "old file " << file << " changed";
    }
    Close();
  }

  Vak::File::Path savedRoot_;
  platform::test::TempFolder source_;
};

int EditingFolders(const std::string& root) { return static_cast<int>(SubFolderNames(root + "/editing").size()); }
int CommittedFolders(const std::string& root) { return CountLocalFolders(root) - kOldAssets; }

TEST_F(InstallCrashTest, KilledFolderTreeInstallLeavesWholeAssets) {
  std::mt19937 random(2112);
  Outcome outcome;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    KillAndCheck("tree", source_ / "tree", EditingFolders, random, outcome);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(outcome.listed, 0) << "no round got as far as one asset";
}

// An older config goes through an editing folder that the commit copies; a
// current one is unpacked into a "temp" folder beside its local folder and
// renamed into place.
TEST_F(InstallCrashTest, KilledPackageInstallWithCommitLeavesWholeAssets) {
  struct Case {
    const char* what;
    float build;
  };
  const Case cases[] = {{"older build", 0.0f}, {"current build", 3.1f}};
  std::mt19937 random(2113);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string package = WritePackage(c.build);
    Outcome outcome;
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(round);
      KillAndCheck("package", package, CommittedFolders, random, outcome);
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(outcome.listed, 0) << "no round got as far as one asset";
  }
}

} // namespace
