// The repair steps on small installations made by each test, run in the
// repair task's order, and the settings services beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRepair.h"
#include "content/ResultsLog.h"
#include "platform/os/FileSystem.h"
#include "tests/assetdb/database/IndexFileSupport.h"
#include "tests/assetdb/database/OpenDatabaseFixture.h"

namespace {

using Vak::PString;

const KUID kLocal(100, 1, 0), kArchived(100, 2, 0), kEdited(100, 3, 0), kReplacer(100, 4, 2),
    kStaleKey(100, 50, 0), kStaleTarget(100, 51, 0);

std::string Config(const KUID& kuid, const char* name, const std::string& more = "") {
  return "kuid " + std::string(kuid.ToConfigText().c_str()) + "\nusername \"" + name +
         "\"\nkind \"scenery\"\nbuild 2.9\n" + more;
}

class RepairTest : public OpenDatabaseFixture {
public:
  // Also for the cases of table-driven tests.
  std::string Path(const std::string& relative) const { return db_.Root() + "/" + relative; }
  void WriteFile(const std::string& relative, const std::string& text) const {
    const std::string path = Path(relative);
    platform::MakeFolderPath(path.substr(0, path.find_last_of('/')).c_str());
    std::ofstream(path, std::ios::binary) << text;
  }

protected:
  bool Exists(const std::string& relative) const { return platform::Exists(Path(relative).c_str()); }
  // A "config.txt" and, compiled from it, a "config.chump".
  void WriteCompiledConfig(const std::string& folder, const std::string& text) const {
    WriteFile(folder + "/config.txt", text);
    ACSChunkPtr config;
    ASSERT_TRUE(config.Load(nullptr, Path(folder + "/config.txt").c_str()));
    ASSERT_TRUE(config.Save(nullptr, Path(folder + "/config.chump").c_str()));
  }

  // An installation with an asset in each kind of folder: a local one with a
  // compiled config, one in the "base" archive and one being edited. The
  // local asset replaces an older version of itself and another asset.
  void Install() const {
    WriteCompiledConfig("local/hash-00/a", Config(kLocal, "local"));
    WriteFile("base/assets/b/config.txt", Config(kArchived, "archived"));
    WriteFile("editing/e/config.txt", Config(kEdited, "edited"));
    WriteCompiledConfig("local/hash-01/r",
                        Config(kReplacer, "replacer", "obsolete-table\n{\n  0 <kuid:100:40>\n}\n"));
  }

  // Opens the installation (rebuilt from its folders when it has no index
  // file yet) and writes it, so that nothing is left to save.
  void Open() {
    OpenDatabaseFixture::Open();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(VADThread_WriteDatabaseLocal());
    ASSERT_EQ(gVadAssetIndex.DirtyFlags(), 0u);
  }

  // The repair task's modes: which passes run, and whether the steps are
  // told they serve the patcher.
  enum Mode { kNormal, kExtended, kPatcher };

  // The repair task's order of the steps in `mode`; `after` sees the index
  // after each pass that ran.
  void RunRepair(Mode mode = kExtended,
                 const std::function<void(const std::string&)>& after = [](const std::string&) {}) {
    const bool patcher = mode == kPatcher;
    VADRepairPurge();
    after("erasing");
    for (uint32_t i = 0; VADRepairReloadConfig(i, patcher); ++i) {
    }
    after("deletes");
    VADRepairScanFolders(&cancel_, patcher);
    after("adds");
    for (uint32_t i = 0; VADRepairDamaged(i, &log_, patcher); ++i) {
    }
    after("changes");
    if (mode == kExtended) {
      for (uint32_t i = 0; VADRepairObsolete(i); ++i) {
      }
      after("obsolete");
    }
    if (patcher) return;
    for (uint32_t i = 0; VADRepairDependencies(i); ++i) {
    }
    after("depend");
    if (mode == kExtended) {
      VADRepairResetState();
      after("reset");
    }
    VADRepairSetFlag();
    after("flag");
  }

  // A copy of a record under a shared lock; a default record when missing.
  static VADAssetInfo RecordOf(const KUID& kuid) {
    VADLock lock;
    lock.Acquire(false);
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record ? *record : VADAssetInfo();
  }
  static std::vector<std::pair<KUID, KUID>> Links(const KuidTable& table) {
    std::vector<std::pair<KUID, KUID>> links;
    for (const KuidTable::Entry& entry : table.EntriesByKey()) links.emplace_back(entry.key, entry.resolved);
    std::sort(links.begin(), links.end(), [](const auto& a, const auto& b) {
      return std::make_pair(a.first.content, a.first.version) < std::make_pair(b.first.content, b.first.version);
    });
    return links;
  }

  std::atomic<uint8_t> cancel_{0};
  ResultsLog log_;
};

TEST_F(RepairTest, StepsInTaskOrderKeepALocalFolderThatHoldsOnlyItsTextConfig) {
  Install();
  Open();
  ASSERT_TRUE(RecordOf(kLocal).HasLocalFolder());
  platform::DeleteFile(Path("local/hash-00/a/config.chump").c_str());

  RunRepair(kExtended, [&](const std::string& step) {
    SCOPED_TRACE(step);
    const VADAssetInfo local = RecordOf(kLocal);
    // A committed asset keeps only its text config: it is not damaged.
    EXPECT_EQ(local.kuid, kLocal);
    EXPECT_TRUE(local.HasLocalFolder());
    EXPECT_STREQ(indexfile::Text(local.localPath), "local\\hash-00\\a");
    // The other folders keep their configs, so nothing else moves.
    EXPECT_TRUE(RecordOf(kArchived).HasArchiveLocation());
    EXPECT_TRUE(RecordOf(kEdited).HasEditingFolder());
    EXPECT_TRUE(RecordOf(kReplacer).HasLocalFolder());
  });
  EXPECT_TRUE(Exists("local/hash-00/a/config.txt"));
  EXPECT_TRUE(VADShutdown());
  ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
  ASSERT_NE(gVadAssetIndex.Find(kLocal), nullptr);
  EXPECT_STREQ(indexfile::Text(gVadAssetIndex.Find(kLocal)->localPath), "local\\hash-00\\a");
}

// Which locations the deletes pass drops, and that the patcher's pass leaves
// everything but built-in records alone.
TEST_F(RepairTest, ReloadDropsOnlyLocationsWhoseConfigIsGone) {
  struct Case {
    const char* what;
    const char* remove;  // relative to the root
    bool patcher;
    KUID kuid;
    bool archive, local, editing;  // what the record keeps
  };
  const Case cases[] = {
      {"nothing removed", "", false, kLocal, false, true, false},
      {"local with only its text config", "local/hash-00/a/config.chump", false, kLocal, false, true, false},
      {"local without any config", "local/hash-00/a", false, kLocal, false, false, false},
      {"patcher spares a local folder", "local/hash-00/a", true, kLocal, false, true, false},
      {"archive folder without a config", "base/assets/b/config.txt", false, kArchived, false, false, false},
      {"patcher drops an archive folder too", "base/assets/b/config.txt", true, kArchived, false, false, false},
      {"editing folder without a config", "editing/e/config.txt", false, kEdited, false, false, false},
      {"editing folder gone", "editing/e", false, kEdited, false, false, false},
      {"archive folder keeps its config", "", false, kArchived, true, false, false},
      {"editing folder keeps its config", "", true, kEdited, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Install();
    Open();
    if (*c.remove && platform::DeleteFile(Path(c.remove).c_str()) != platform::Error::None)
      platform::DeleteTree(Path(c.remove).c_str());
    uint32_t passed = 0;
    while (VADRepairReloadConfig(passed, c.patcher)) ++passed;
    EXPECT_EQ(passed, VADRecordCount());
    const VADAssetInfo record = RecordOf(c.kuid);
    EXPECT_EQ(record.kuid, c.kuid);
    EXPECT_EQ(record.HasArchiveLocation(), c.archive);
    EXPECT_EQ(record.HasLocalFolder(), c.local);
    EXPECT_EQ(record.HasEditingFolder(), c.editing);
    // A dropped location is saved; nothing dropped leaves nothing to save.
    const bool dropped = !(c.archive || c.local || c.editing);
    EXPECT_EQ(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, dropped ? VADAssetIndex::kDirtyRecords : 0u);
    VADShutdown();
    AssetArchiveCache::Purge();
    platform::DeleteTree(db_.Root().c_str());
    platform::MakeFolder(db_.Root().c_str());
  }
}

TEST_F(RepairTest, PerRecordStepsEndPastTheLastRecord) {
  Install();
  Open();
  const uint32_t count = VADRecordCount();
  ASSERT_EQ(count, 4u);
  const std::vector<std::pair<const char*, std::function<bool(uint32_t)>>> steps = {
      {"reload", [](uint32_t n) { return VADRepairReloadConfig(n, false); }},
      {"damaged", [&](uint32_t n) { return VADRepairDamaged(n, &log_, false); }},
      {"obsolete", [](uint32_t n) { return VADRepairObsolete(n); }},
      {"dependencies", [](uint32_t n) { return VADRepairDependencies(n); }},
  };
  for (const auto& [name, step] : steps) {
    EXPECT_TRUE(step(count - 1)) << name;
    EXPECT_FALSE(step(count)) << name;
  }
}

TEST_F(RepairTest, ObsoletePassRebuildsBothTablesFromRecordZero) {
  Install();
  Open();
  {
    VADLock lock;
    lock.Acquire(true);
    // Table A takes the links of locally enabled assets too.
    gVadAssetIndex.Find(kReplacer)->UpdateFlags(0, VADAssetInfo::kLocallyEnabled);
    gVadAssetIndex.TableA().Insert(kStaleKey, kStaleTarget);
    gVadAssetIndex.TableB().Insert(kStaleKey, kStaleTarget);
  }
  ASSERT_TRUE(VADThread_WriteDatabaseLocal());
  for (uint32_t i = 0; VADRepairObsolete(i); ++i) {
  }
  const std::vector<std::pair<KUID, KUID>> expected = {
      {KUID(100, 4, 0), kReplacer}, {KUID(100, 4, 1), kReplacer}, {KUID(100, 40, 0), kReplacer}};
  EXPECT_EQ(Links(gVadAssetIndex.TableA()), expected);
  EXPECT_EQ(Links(gVadAssetIndex.TableB()), expected);
  EXPECT_TRUE(VADShutdown());
  ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
  EXPECT_EQ(Links(gVadAssetIndex.TableB()), expected);
}

// Each of these steps changes only what it names; the change must still
// reach the file at shutdown.
TEST_F(RepairTest, StepsThatChangeTheIndexMarkItForSaving) {
  struct Case {
    const char* what;
    std::function<void()> prepare;  // under an exclusive lock
    std::function<void()> step;
    uint32_t dirty;
    std::function<bool()> saved;  // on the index read back from the file
  };
  const auto stepOver = [](bool (*step)(uint32_t)) {
    return [step] {
      for (uint32_t i = 0; step(i); ++i) {
      }
    };
  };
  const Case cases[] = {
      {"purge releases the global data tree",
       [] {
         gVadAssetIndex.globalData.MakeContainer();
         gVadAssetIndex.globalData.SetChildString(PString("100"), "author");
       },
       &VADRepairPurge, VADAssetIndex::kDirtyGlobalData, [] { return gVadAssetIndex.globalData.IsNull(); }},
      {"purge without a global data tree", [] {}, &VADRepairPurge, 0u,
       [] { return gVadAssetIndex.globalData.IsNull(); }},
      {"obsolete pass drops a stale link",
       [] { gVadAssetIndex.TableB().Insert(kStaleKey, kStaleTarget); }, stepOver(&VADRepairObsolete),
       VADAssetIndex::kDirtyRecords, [] { return gVadAssetIndex.TableB().Lookup(kStaleKey) == KUID(); }},
      {"obsolete pass over stale table A alone",
       [] { gVadAssetIndex.TableA().Insert(kStaleKey, kStaleTarget); }, stepOver(&VADRepairObsolete),
       VADAssetIndex::kDirtyRecords, [] { return gVadAssetIndex.TableA().Count() == 0; }},
      {"reset clears the download-station flag",
       [] { gVadAssetIndex.Find(kEdited)->UpdateFlags(0, VADAssetInfo::kDownloadStation); },
       &VADRepairResetState, VADAssetIndex::kDirtyRecords,
       [] { return !(gVadAssetIndex.Find(kEdited)->Flags() & VADAssetInfo::kDownloadStation); }},
      {"reset with no flag set", [] {}, &VADRepairResetState, 0u,
       [] { return !(gVadAssetIndex.Find(kEdited)->Flags() & VADAssetInfo::kDownloadStation); }},
  };
  // Without the replacing asset the tables rebuild empty.
  WriteFile("local/hash-00/a/config.txt", Config(kLocal, "local"));
  WriteFile("editing/e/config.txt", Config(kEdited, "edited"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    {
      VADLock lock;
      lock.Acquire(true);
      c.prepare();
    }
    ASSERT_TRUE(VADThread_WriteDatabaseLocal());
    c.step();
    EXPECT_EQ(gVadAssetIndex.DirtyFlags(), c.dirty);
    EXPECT_TRUE(VADShutdown());
    ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
    EXPECT_TRUE(c.saved());
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
}

// The patcher's repair has no pass that caches dependency answers, so only
// the marks of what the steps changed get its result written.
TEST_F(RepairTest, RepairOfAnUnchangedIndexIsWrittenAtShutdown) {
  struct Case {
    const char* what;
    Mode mode;
    bool stationReset;  // the extended repair's
  };
  const Case cases[] = {
      {"normal", kNormal, false},
      {"extended", kExtended, true},
      {"patcher", kPatcher, false},
  };
  Install();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    // A first repair settles what a rebuild leaves to it (the stamp of the
    // asset that is only being edited).
    RunRepair(c.mode);
    ASSERT_TRUE(VADThread_WriteDatabaseLocal());
    {
      VADLock lock;
      lock.Acquire(true);
      gVadAssetIndex.globalData.MakeContainer();
      gVadAssetIndex.globalData.SetChildString(PString("100"), "author");
      gVadAssetIndex.TableB().Insert(kStaleKey, kStaleTarget);
      gVadAssetIndex.Find(kLocal)->UpdateFlags(0, VADAssetInfo::kDownloadStation);
      network_.lastFile = "20240101";
      network_.urls = {"http://station/list"};
    }
    ASSERT_TRUE(VADThread_WriteDatabaseLocal());
    WriteFile("cache/libraries/old.lib", "compiled");

    const int32_t errorsBefore = log_.GetErrorCount();
    RunRepair(c.mode, [&](const std::string& step) {
      // Every record reads as it did.
      if (step == "changes") {
        EXPECT_EQ(log_.GetErrorCount(), errorsBefore);
      }
    });
    EXPECT_TRUE(Exists("cache/libraries"));
    EXPECT_FALSE(Exists("cache/libraries/old.lib"));
    EXPECT_EQ(network_.urls.empty(), c.stationReset);
    EXPECT_TRUE(VADShutdown());

    network_.lastFile = "unread";
    ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
    EXPECT_TRUE(gVadAssetIndex.globalData.IsNull());
    EXPECT_EQ(gVadAssetIndex.TableB().Lookup(kStaleKey) == KUID(), c.mode == kExtended);
    ASSERT_NE(gVadAssetIndex.Find(kLocal), nullptr);
    EXPECT_EQ((gVadAssetIndex.Find(kLocal)->Flags() & VADAssetInfo::kDownloadStation) == 0, c.stationReset);
    EXPECT_EQ(network_.lastFile, c.stationReset ? "0" : "20240101");
    EXPECT_EQ(gVadAssetIndex.RecordCount(), 4u);
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    platform::DeleteFile(Path("assets.tdx").c_str());
  }
}

TEST_F(RepairTest, DamagedPassRereadsRecordsWhoseFilesChanged) {
  struct Case {
    const char* what;
    std::function<void(RepairTest&)> change;
    const char* name;  // the record's name afterwards
    bool faulty;
    int errors;  // lines "$vadtask_repair_damaged"
  };
  const Case cases[] = {
      {"unchanged", [](RepairTest&) {}, "local", false, 0},
      {"config edited",
       [](RepairTest& t) {
         t.WriteFile("local/hash-00/a/config.txt", Config(kLocal, "renamed"));
         platform::DeleteFile(t.Path("local/hash-00/a/config.chump").c_str());
       },
       "renamed", false, 1},
      {"config unreadable",
       [](RepairTest& t) {
         platform::DeleteFile(t.Path("local/hash-00/a/config.chump").c_str());
         platform::DeleteFile(t.Path("local/hash-00/a/config.txt").c_str());
         t.WriteFile("local/hash-00/a/readme.txt", "left over");
       },
       "local", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteCompiledConfig("local/hash-00/a", Config(kLocal, "local"));
    Open();
    c.change(*this);
    ResultsLog log;
    for (uint32_t i = 0; VADRepairDamaged(i, &log, false); ++i) {
    }
    const VADAssetInfo record = RecordOf(kLocal);
    EXPECT_STREQ(indexfile::Text(record.name), c.name);
    EXPECT_EQ((record.StateFlags() & VADAssetInfo::kFaulty) != 0, c.faulty);
    EXPECT_EQ(log.GetErrorCount(), c.errors);
    log.Lock();
    for (const ResultsLog::Line& line : log.GetLines()) EXPECT_STREQ(indexfile::Text(line.text), "$vadtask_repair_damaged");
    log.Unlock();
    EXPECT_EQ((gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords) != 0, c.errors != 0);
    VADShutdown();
    platform::DeleteTree(db_.Root().c_str());
    platform::MakeFolder(db_.Root().c_str());
  }
}

TEST_F(RepairTest, DependencyPassAnswersAfresh) {
  WriteFile("local/hash-00/a/config.txt",
            Config(kLocal, "local", "kuid-table\n{\n  0 <kuid:100:3>\n}\n"));
  Open();
  {
    VADLock lock;
    lock.Acquire(true);
    // A stale answer: the dependency is said to be missing.
    gVadAssetIndex.Find(kLocal)->UpdateStateFlags(0, VADAssetInfo::kMissingAnswer | VADAssetInfo::kMissingKnown);
  }
  for (uint32_t i = 0; VADRepairDependencies(i); ++i) {
  }
  EXPECT_TRUE(RecordOf(kLocal).StateFlags() & VADAssetInfo::kMissingKnown);
  EXPECT_TRUE(RecordOf(kLocal).StateFlags() & VADAssetInfo::kMissingAnswer);

  // Once the dependency is there, the pass finds it.
  WriteFile("editing/e/config.txt", Config(kEdited, "edited"));
  VADRepairScanFolders(nullptr, false);
  for (uint32_t i = 0; VADRepairDependencies(i); ++i) {
  }
  const uint8_t state = RecordOf(kLocal).StateFlags();
  EXPECT_TRUE(state & VADAssetInfo::kMissingKnown);
  EXPECT_FALSE(state & VADAssetInfo::kMissingAnswer);
  EXPECT_TRUE(state & VADAssetInfo::kFaultyDepsKnown);
}

TEST_F(RepairTest, SetFlagClearsTheRebuiltFlagOnce) {
  Install();
  Open();
  // Rebuilt from its folders.
  ASSERT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
  VADRepairSetFlag();
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 0);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), VADAssetIndex::kDirtyRebuilt);
  ASSERT_TRUE(VADThread_WriteDatabaseLocal());
  VADRepairSetFlag();
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), 0u);
}

TEST_F(RepairTest, SettingWithTheTryFlagFailsWhileAnotherProcessOwnsTheIndex) {
  Install();
  Open();
  EXPECT_TRUE(VADSetSetting("internet", "language", "english", VADLock::kTry));
  ASSERT_TRUE(VADThread_WriteDatabaseLocal());
  VADGiveUpOwnership();
  ipctest::Peer owner(db_, "owner", {"open", "take", "await:" + db_.Scratch("go"), "release", "close"});
  ASSERT_TRUE(owner.Reaches("take 1"));

  EXPECT_FALSE(VADSetSetting("internet", "language", "german", VADLock::kTry));
  EXPECT_STREQ(GetSettingValue("internet", "language").c_str(), "english");
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), 0u);
  EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);

  db_.Signal("go");
  EXPECT_TRUE(owner.Ends());
  EXPECT_TRUE(VADSetSetting("internet", "language", "german", 0));
  EXPECT_STREQ(VADTryLocked("internet", "language").c_str(), "german");
  EXPECT_TRUE(VADShutdown());
  EXPECT_FALSE(VADIsIndexReady());
  EXPECT_STREQ(VADTryLocked("internet", "language").c_str(), "");
  ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
  EXPECT_STREQ(gVadAssetIndex.settings.GetChildContainer(PString("internet")).GetChildString(PString("language")).c_str(),
               "german");
}

} // namespace
