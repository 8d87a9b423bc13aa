// The load and save cycle on small installations made by each test: the
// fall-backs from a damaged "assets.tdx", the rebuild from folders, the time
// marker rule, failing writes, and the data folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "IPCTestSupport.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/JobScheduler.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDataFolders.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "content/AppGlobals.h"
#include "platform/os/FileSystem.h"
#include "tests/assetdb/database/IndexFileSupport.h"

namespace {

constexpr int64_t kNow = 1800000000;
int64_t FixedClock() { return kNow; }

uint64_t gFreeBytes = 0;
bool FakeFreeSpace(const char*, uint64_t& bytes) {
  bytes = gFreeBytes;
  return true;
}

std::string Config(const KUID& kuid, const char* name) {
  return "kuid " + std::string(kuid.ToConfigText().c_str()) + "\nusername \"" + name + "\"\nkind \"scenery\"\n";
}

class DatabaseTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    savedFreeSpace_ = GetVADServices().freeSpace;
    VADSetWallClock(&FixedClock);
    KuidBaseFile::Reset();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    DrainMessages();
  }
  void TearDown() override {
    VADShutdown();
    AssetArchiveCache::Purge();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    VADSetWallClock(nullptr);
    GetVADServices().freeSpace = savedFreeSpace_;
    SetDatabaseRootPath(savedRoot_);
    KuidBaseFile::Reset();
    DrainMessages();
  }

  static int DrainMessages() {
    int lowDisk = 0;
    MainThreadQueue::Message message;
    while (MainThreadQueue::Instance().Get(&message, 0))
      if (message.message == kVADLowDiskMessage) ++lowDisk;
    return lowDisk;
  }

  std::string Path(const std::string& relative) const { return db_.Root() + "/" + relative; }
  void WriteFile(const std::string& relative, const std::string& text) const {
    const std::string path = Path(relative);
    platform::MakeFolderPath(path.substr(0, path.find_last_of('/')).c_str());
    std::ofstream(path, std::ios::binary) << text;
  }
  bool Exists(const std::string& relative) const { return platform::Exists(Path(relative).c_str()); }
  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The index file given a version word this build does not read.
  void MakeNewer(const std::string& relative) const {
    std::string bytes = ReadFile(relative);
    ASSERT_GE(bytes.size(), 8u);
    bytes[4] = static_cast<char>(vad_file::kVersion + 1);
    std::ofstream(Path(relative), std::ios::binary) << bytes;
  }
  void AddAsset(const std::string& folder, const KUID& kuid, const char* name) const {
    WriteFile(folder + "/config.txt", Config(kuid, name));
  }

  // An index file holding records of the KUIDs (local folders), and the
  // time marker when given.
  void WriteIndexFile(const std::string& relative, const std::vector<KUID>& kuids,
                      int64_t marker = VADAssetIndex::kTimeMarkerUnset) const {
    gVadAssetIndex.Clear();
    for (const KUID& kuid : kuids) {
      VADAssetInfo record;
      record.kuid = kuid;
      record.name = "stored";
      gVadAssetIndex.Insert(record);
    }
    gVadAssetIndex.SetTimeMarker(marker);
    platform::MakeFolderPath(Path("cache").c_str());
    ASSERT_TRUE(WriteDatabaseFile(Path(relative).c_str()));
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
  }
  // The records of an index file, read while the database is closed.
  static std::vector<KUID> KuidsIn(const std::string& path) {
    std::vector<KUID> kuids;
    if (!ReadDatabaseFile(path.c_str())) return kuids;
    for (uint32_t i = 0; i < gVadAssetIndex.RecordCount(); ++i) kuids.push_back(gVadAssetIndex.SortedAt(i)->kuid);
    std::sort(kuids.begin(), kuids.end(), [](const KUID& a, const KUID& b) { return a.content < b.content; });
    gVadAssetIndex.Clear();
    return kuids;
  }

  void Open(bool rebuildWhenMissing = true) {
    VADStartBlock block;
    VADStartParams(block);
    std::strncpy(block.root, db_.Root().c_str(), sizeof block.root - 1);
    block.rebuildWhenMissing = rebuildWhenMissing ? 1 : 0;
    ASSERT_TRUE(VADInit(block));
    VADLock lock;
    lock.Acquire(true);  // loads, unless the refresh thread did
    ASSERT_TRUE(lock.IsHeld());
  }
  std::vector<KUID> LoadedKuids() {
    VADLock lock;
    lock.Acquire(false);
    std::vector<KUID> kuids;
    for (uint32_t i = 0; i < gVadAssetIndex.RecordCount(); ++i) kuids.push_back(gVadAssetIndex.SortedAt(i)->kuid);
    std::sort(kuids.begin(), kuids.end(), [](const KUID& a, const KUID& b) { return a.content < b.content; });
    return kuids;
  }

  ipctest::Database db_;
  VelmarResourceDatabaseServices services_;
  indexfile::FakeNetwork network_;
  indexfile::NetworkScope scope_{&network_};
  Vak::File::Path savedRoot_;
  VADFreeSpaceFunction savedFreeSpace_ = nullptr;
};

const KUID kA(100, 1, 0), kB(100, 2, 0), kC(100, 3, 0), kD(100, 4, 0), kE(100, 5, 0), kF(100, 6, 0),
    kG(100, 7, 0), kH(100, 8, 0);

TEST_F(DatabaseTest, DamagedRootWithGoodCacheCopyIsRestoredAndWrittenAtOnce) {
  WriteFile("assets.tdx", "not an index");
  WriteIndexFile("cache/assets.tdx", {kA});
  AddAsset("editing/e1", kB, "edited");
  Open();
  EXPECT_EQ(LoadedKuids(), (std::vector<KUID>{kA, kB}));
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
  VADShutdown();
  EXPECT_FALSE(Exists("cache/assets.tdx"));
  EXPECT_EQ(KuidsIn(Path("cache/assets.bku")), (std::vector<KUID>{kA}));
  EXPECT_EQ(KuidsIn(Path("assets.tdx")), (std::vector<KUID>{kA, kB}));
}

// The restore once demoted the unreadable root file over the backup it had
// just read, so the only good copy was gone before the new one was written.
TEST_F(DatabaseTest, DamagedRootWithOnlyABackupKeepsTheBackup) {
  WriteFile("assets.tdx", "not an index");
  WriteIndexFile("cache/assets.bku", {kA, kB});
  Open();
  EXPECT_EQ(LoadedKuids(), (std::vector<KUID>{kA, kB}));
  EXPECT_EQ(KuidsIn(Path("cache/assets.bku")), (std::vector<KUID>{kA, kB}));
  EXPECT_EQ(KuidsIn(Path("assets.tdx")), (std::vector<KUID>{kA, kB}));
  EXPECT_EQ(ReadFile("cache/assets.tdx.unreadable"), "not an index") << "kept aside, not deleted";
}

// An older build once took a newer index for a damaged one and restored the
// backup over it.
TEST_F(DatabaseTest, ANewerIndexIsNeverReadRestoredOverOrMoved) {
  struct Case {
    const char* what;
    const char* newer;
    bool damagedRoot;
  };
  const Case cases[] = {
      {"the index", "assets.tdx", false},
      {"the cache copy", "cache/assets.tdx", true},
      {"the backup", "cache/assets.bku", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(db_.Root());
    WriteIndexFile("assets.tdx", {kA});
    WriteIndexFile("cache/assets.tdx", {kA});
    WriteIndexFile("cache/assets.bku", {kA});
    MakeNewer(c.newer);
    if (c.damagedRoot) WriteFile("assets.tdx", "not an index");
    const std::string root = ReadFile("assets.tdx"), newer = ReadFile(c.newer);
    VADStartBlock block;
    VADStartParams(block);
    std::strncpy(block.root, db_.Root().c_str(), sizeof block.root - 1);
    EXPECT_FALSE(VADInit(block));
    EXPECT_FALSE(VADIsDatabaseOpen());
    EXPECT_EQ(std::string(VADNewerIndexFile()), Path(c.newer));
    EXPECT_EQ(ReadFile("assets.tdx"), root);
    EXPECT_EQ(ReadFile(c.newer), newer);
    EXPECT_FALSE(Exists("cache/assets.tdx.unreadable"));
  }
}

// Written by a newer build while this one runs: the reload neither restores
// nor rebuilds, and nothing this process does afterwards touches the file.
TEST_F(DatabaseTest, ANewerIndexMetByAReloadIsNeverWrittenOver) {
  WriteIndexFile("assets.tdx", {kA});
  WriteIndexFile("cache/assets.bku", {kA, kB});
  Open();
  ASSERT_EQ(LoadedKuids(), (std::vector<KUID>{kA}));
  MakeNewer("assets.tdx");
  const std::string newer = ReadFile("assets.tdx");
  VADReload();
  EXPECT_TRUE(VADIndexRefused());
  EXPECT_TRUE(LoadedKuids().empty());
  {
    VADLock lock;
    lock.Acquire(true);
    VADAssetInfo record;
    record.kuid = kC;
    record.name = "new";
    gVadAssetIndex.Insert(record);
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  EXPECT_FALSE(VADShutdown()) << "the index did not reach the disk";
  EXPECT_EQ(ReadFile("assets.tdx"), newer);
  EXPECT_EQ(KuidsIn(Path("cache/assets.bku")), (std::vector<KUID>{kA, kB}));
  EXPECT_FALSE(Exists("cache/assets.tdx"));
}

TEST_F(DatabaseTest, NothingReadableRebuildsFromEveryFolder) {
  WriteFile("assets.tdx", "not an index");
  // Archives hold their assets one level down.
  AddAsset("base/assets/a", kA, "base");
  AddAsset("builtin/1/assets/b", kB, "one");
  AddAsset("builtin/2/assets/c", kC, "two");
  AddAsset("builtin/3/more/d", kD, "three");
  AddAsset("builtin/4/assets/e", kE, "four");
  AddAsset("local/hash-00/f", kF, "local");
  AddAsset("local/hash-FF/g", kG, "local too");
  AddAsset("editing/h", kH, "editing");
  WriteFile("local/hash-01/broken/readme.txt", "no config here");
  platform::MakeFolderPath(Path("local/hash-01/empty").c_str());
  Open();
  EXPECT_EQ(LoadedKuids(), (std::vector<KUID>{kA, kB, kC, kD, kE, kF, kG, kH}));
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
  {
    VADLock lock;
    lock.Acquire(false);
    const VADAssetInfo* base = gVadAssetIndex.Find(kA);
    ASSERT_NE(base, nullptr);
    EXPECT_STREQ(base->archiveName.c_str(), "base");
    EXPECT_TRUE(base->IsBuiltIn());
    EXPECT_STREQ(indexfile::Text(base->archivePath), "assets\\a");
    EXPECT_STREQ(indexfile::Text(gVadAssetIndex.Find(kF)->localPath), "local\\hash-00\\f");
    EXPECT_STREQ(indexfile::Text(gVadAssetIndex.Find(kH)->editingPath), "editing\\h");
  }
  // A folder without a record goes to the trash when it holds files, else
  // it is deleted.
  EXPECT_FALSE(Exists("local/hash-01/broken"));
  EXPECT_FALSE(Exists("local/hash-01/empty"));
  EXPECT_TRUE(Exists("trash/broken/readme.txt"));
  EXPECT_TRUE(VADShutdown());
  EXPECT_EQ(KuidsIn(Path("assets.tdx")).size(), 8u);
}

TEST_F(DatabaseTest, RebuildingForbiddenLeavesTheIndexEmpty) {
  WriteFile("assets.tdx", "not an index");
  AddAsset("local/hash-00/f", kF, "local");
  WriteIndexFile("cache/assets.bku", {kA});
  Open(false);
  EXPECT_TRUE(LoadedKuids().empty());
  EXPECT_TRUE(Exists("cache/assets.bku"));
}

TEST_F(DatabaseTest, TimeMarkerFarAheadIsDistrusted) {
  struct Case {
    const char* what;
    int64_t stored;
    int64_t loaded;
  };
  const Case cases[] = {
      {"two days ahead", kNow + 2 * 86400, kVADMarkerDistrusted},
      {"100 s ahead", kNow + 100, kNow + 100},
      {"in the past", kNow - 5, kNow - 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteIndexFile("assets.tdx", {kA}, c.stored);
    Open();
    {
      VADLock lock;
      lock.Acquire(false);
      EXPECT_EQ(gVadAssetIndex.TimeMarker(), c.loaded);
    }
    VADShutdown();
  }
}

TEST_F(DatabaseTest, FailingWriteWithLittleSpacePostsTheMessageOnce) {
  WriteIndexFile("assets.tdx", {kA});
  Open();
  GetVADServices().freeSpace = &FakeFreeSpace;
  // A folder in the place of the cache copy: neither removed nor written.
  WriteFile("cache/assets.tdx/keep", "x");
  struct Case {
    const char* what;
    uint64_t freeBytes;
    int messages;
  };
  const Case cases[] = {
      {"less than 50 MiB", kVADMinFreeBytes - 1, 1},
      {"50 MiB", kVADMinFreeBytes, 0},
  };
  for (const Case& c : cases) {
    gFreeBytes = c.freeBytes;
    {
      VADLock lock;
      lock.Acquire(true);
      gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
    }
    EXPECT_FALSE(VADThread_WriteDatabaseLocal()) << c.what;
    EXPECT_EQ(DrainMessages(), c.messages) << c.what;
    // Left dirty for a later try.
    EXPECT_NE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, 0u) << c.what;
  }
}

// A failed write at shutdown once ended the program as if the index were
// saved.
TEST_F(DatabaseTest, ShutdownTellsWhetherTheIndexReachedTheDisk) {
  WriteIndexFile("assets.tdx", {kA});
  Open();
  EXPECT_TRUE(VADShutdown());  // nothing changed: the file on disk is current

  Open();
  {
    VADLock lock;
    lock.Acquire(true);
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  WriteFile("cache/assets.tdx/keep", "x");
  EXPECT_FALSE(VADShutdown());

  platform::DeleteTree(Path("cache/assets.tdx").c_str());
  Open();
  {
    VADLock lock;
    lock.Acquire(true);
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  EXPECT_TRUE(VADShutdown());
  EXPECT_EQ(KuidsIn(Path("assets.tdx")), (std::vector<KUID>{kA}));
}

TEST_F(DatabaseTest, SettingValuesGoThroughTheIndex) {
  WriteIndexFile("assets.tdx", {kA});
  Open();
  SetSettingValue("internet", "language", "german");
  EXPECT_STREQ(GetSettingValue("internet", "language").c_str(), "german");
  EXPECT_STREQ(GetSettingValue("internet", "missing").c_str(), "");
  EXPECT_NE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtySetting, 0u);
  EXPECT_TRUE(VADShutdown());
  ASSERT_TRUE(ReadDatabaseFile(Path("assets.tdx").c_str()));
  EXPECT_STREQ(gVadAssetIndex.settings.GetChildContainer("internet").GetChildString("language").c_str(), "german");
}

TEST_F(DatabaseTest, BareRootGainsAllTenFolders) {
  VADPrepareDataFolders(db_.Root().c_str());
  for (const char* folder : kVADDataFolders) EXPECT_TRUE(Exists(folder)) << folder;
  for (const char* archive : kVADFolderArchives) EXPECT_EQ(AssetArchiveCache::UseCount(Vak::PString(archive)), 1) << archive;
  VADUnmountDataFolders();
  for (const char* archive : kVADFolderArchives) EXPECT_EQ(AssetArchiveCache::UseCount(Vak::PString(archive)), 0) << archive;
}

} // namespace

namespace {

bool FailingFreeSpace(const char*, uint64_t&) { return false; }

TEST_F(DatabaseTest, FreeSpaceNeedsAnAnswerAndFiftyMiB) {
  struct Case {
    const char* what;
    VADFreeSpaceFunction query;
    uint64_t bytes;
    bool enough;
  };
  const Case cases[] = {
      {"query fails", &FailingFreeSpace, 0, false},
      {"one byte short", &FakeFreeSpace, kVADMinFreeBytes - 1, false},
      {"exactly 50 MiB", &FakeFreeSpace, kVADMinFreeBytes, true},
  };
  for (const Case& c : cases) {
    GetVADServices().freeSpace = c.query;
    gFreeBytes = c.bytes;
    EXPECT_EQ(HasFreeDiskSpace(db_.Root().c_str()), c.enough) << c.what;
  }
}

TEST_F(DatabaseTest, HandlersStoreTheirValuesAndMarkTheIndex) {
  WriteIndexFile("assets.tdx", {kA}, kNow - 10);
  Open();
  auto dirtyAfter = [](auto&& change) {
    {
      VADLock lock;
      lock.Acquire(true);
      gVadAssetIndex.ClearDirtyFlags();
    }
    change();
    return gVadAssetIndex.DirtyFlags();
  };
  const uint32_t latest = gVadAssetIndex.latestBuild;
  EXPECT_EQ(GetLatestBuildHandler(), &VADOnLatestBuild);
  EXPECT_EQ(dirtyAfter([&] { VADOnLatestBuild(latest); }), 0u);
  EXPECT_EQ(dirtyAfter([&] { VADOnLatestBuild(latest + 1); }), VADAssetIndex::kDirtyLatestBuild);
  EXPECT_EQ(GetBuildNumber(), latest + 1);

  const int64_t before = gVadAssetIndex.serverTime;
  EXPECT_EQ(dirtyAfter([&] { VADOnServerTime(before + 86400); }), 0u);
  EXPECT_EQ(dirtyAfter([&] { VADOnServerTime(before + 2 * 86400 + 1); }), VADAssetIndex::kDirtyRecords);
  EXPECT_EQ(GetServerTime(), before + 2 * 86400 + 1);

  // The time marker handler, through its slot in the application globals.
  TimeMarkerHandler handler = GetTimeMarkerHandler();
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(dirtyAfter(handler), VADAssetIndex::kDirtyRecords | VADAssetIndex::kDirtyTimeMarker);
  gVadAssetIndex.SetTimeMarker(-5);
  EXPECT_EQ(dirtyAfter(handler), VADAssetIndex::kDirtyRecords | VADAssetIndex::kDirtyTimeMarker);
  EXPECT_EQ(gVadAssetIndex.TimeMarker(), VADAssetIndex::kTimeMarkerUnset);
  EXPECT_EQ(dirtyAfter(handler), 0u);

  VADShutdown();
  EXPECT_EQ(GetTimeMarkerHandler(), nullptr);
  EXPECT_EQ(GetServerTimeHandler(), nullptr);
  EXPECT_EQ(GetLatestBuildHandler(), nullptr);
}

TEST_F(DatabaseTest, AddAssetFromFolderPlacesTheRecordByMode) {
  WriteIndexFile("assets.tdx", {});
  Open();
  AddAsset("local/hash-00/l", kA, "local");
  AddAsset("editing/e", kB, "edited");
  AddAsset("base/assets/b", kC, "base");
  WriteFile("editing/none/config.txt", "username \"no kuid\"\n");
  struct Case {
    const char* folder;
    const char* source;
    int mode;
    bool added;
  };
  const Case cases[] = {
      {"hash-00\\l", "local", kScanLocal, true},
      {"e", "editing", kScanEditing, true},
      {"assets\\b", "base", kScanArchive, true},
      {"none", "editing", kScanEditing, false},
      {"e", "editing", 3, false},
  };
  for (const Case& c : cases) EXPECT_EQ(AddAssetFromFolder(c.folder, c.source, c.mode), c.added) << c.folder;
  VADLock lock;
  lock.Acquire(false);
  EXPECT_STREQ(indexfile::Text(gVadAssetIndex.Find(kA)->localPath), "local\\hash-00\\l");
  EXPECT_STREQ(indexfile::Text(gVadAssetIndex.Find(kB)->editingPath), "editing\\e");
  const VADAssetInfo* archived = gVadAssetIndex.Find(kC);
  EXPECT_STREQ(archived->archiveName.c_str(), "base");
  EXPECT_TRUE(archived->Flags() & VADAssetInfo::kArchiveHeld);
  EXPECT_TRUE(archived->IsBuiltIn());
}

TEST_F(DatabaseTest, ScanSkipsKnownFoldersAndStopsWhenCancelled) {
  WriteIndexFile("assets.tdx", {});
  Open();
  AddAsset("editing/a", kA, "known");
  AddAsset("editing/b", kB, "new");
  VADLocationSet known;
  known.Add("editing", "A");
  std::atomic<uint8_t> cancel{1};
  ScanFolder("editing", "", kScanEditing, known, &cancel);
  EXPECT_TRUE(LoadedKuids().empty());
  cancel = 0;
  ScanFolder("editing", "", kScanEditing, known, &cancel);
  EXPECT_EQ(LoadedKuids(), (std::vector<KUID>{kB}));
}

} // namespace

namespace {

TEST_F(DatabaseTest, FolderChangedSinceItsRecordMarksTheRecordFaulty) {
  WriteIndexFile("assets.tdx", {});
  Open();
  AddAsset("local/hash-00/l", kA, "local");
  ASSERT_TRUE(AddAssetFromFolder("hash-00\\l", "local", kScanLocal));
  {
    VADLock lock;
    lock.Acquire(true);
    EXPECT_FALSE(gVadAssetIndex.Find(kA)->StateFlags() & VADAssetInfo::kFaulty);
    gVadAssetIndex.SetRebuiltFlag(0);
  }
  // Unchanged: nothing to report.
  ASSERT_TRUE(AddAssetFromFolder("hash-00\\l", "local", kScanLocal));
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 0);
  WriteFile("local/hash-00/l/extra.txt", "a file more");
  ASSERT_TRUE(AddAssetFromFolder("hash-00\\l", "local", kScanLocal));
  VADLock lock;
  lock.Acquire(false);
  EXPECT_TRUE(gVadAssetIndex.Find(kA)->StateFlags() & VADAssetInfo::kFaulty);
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 1);
}

} // namespace
