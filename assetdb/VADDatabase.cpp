#include "assetdb/VADDatabase.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "assetdb/GWSpecRegistry.h"
#include "assetdb/JobScheduler.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADIPC.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADReconcile.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "content/VelmarEx.h"
#include "platform/os/CrashFile.h"
#include "platform/os/Program.h"

using Path = Vak::File::Path;

namespace {

std::atomic<bool> gOpen{false};
std::atomic<bool> gRebuilding{false};
std::atomic<bool> gIndexLoaded{false};
// Set when an index file turned out newer than this build reads: from then
// on nothing is written over it or moved.
std::atomic<bool> gRefused{false};
std::mutex gMovedAsideLock;
std::string gMovedAside;
std::atomic<VADWallClock> gClock{&platform::WallClockSeconds};
VADStartBlock gStart;
Vak::CriticalSection gThreadLock{"VADThreads"};
Vak::Thread* gRefreshThread = nullptr;  // under gThreadLock
Vak::Thread* gSecondThread = nullptr;   // under gThreadLock

class LoadCycle final : public VADLoadCycle {
public:
  bool IsDatabaseOpen() override { return gOpen.load(); }
  void Reload() override { VADReload(); }
  void StartRefreshThread() override { VADStartRefreshThread(); }
};

LoadCycle gLoadCycle;

unsigned RefreshBody(void*) {
  VADLock lock;
  lock.Acquire(true);
  return 0;
}

void StopThread(Vak::Thread*& slot) {
  Vak::Thread* thread;
  {
    Vak::SingleLock guard(&gThreadLock, true);
    thread = slot;
    slot = nullptr;
  }
  if (!thread) return;
  while (!thread->IsDone() && !thread->Lock(10)) {
    if (IsMainThread()) JobScheduler::Instance().RunPending(0);
  }
  thread->Terminate();
  delete thread;
}

// Moves the root file that could not be read into "cache" under a name no
// earlier one holds, so it is kept for a look and the demotion of the first
// change cannot move it over the good copy the restore reads.
void MoveAsideUnreadable() {
  const Path root = InDatabaseRoot("assets.tdx");
  if (root.Length() == 0 || !Vak::File::Exists(root).Ok()) return;
  Vak::File::Md(InDatabaseRoot("cache"));
  constexpr unsigned kNames = 1000;
  for (unsigned n = 0; n < kNames; ++n) {
    char name[48];
    if (n == 0) std::snprintf(name, sizeof name, "cache/assets.tdx.unreadable");
    else std::snprintf(name, sizeof name, "cache/assets.tdx.unreadable.%u", n);
    const Path target = InDatabaseRoot(name);
    if (target.Length() == 0) break;
    if (Vak::File::Exists(target).Ok()) continue;
    if (Vak::File::Rename(root, target)) {
      VelmarLogError("VADRestoreFromCache> unreadable \"%s\" moved to \"%s\"", static_cast<const char*>(root),
                     static_cast<const char*>(target));
      std::lock_guard<std::mutex> hold(gMovedAsideLock);
      gMovedAside = static_cast<const char*>(target);
    } else
      VelmarLogError("VADRestoreFromCache> Rename(\"%s\", \"%s\") failed", static_cast<const char*>(root),
                     static_cast<const char*>(target));
    return;
  }
  VelmarLogError("VADRestoreFromCache> no free name in \"cache\" for the unreadable \"%s\"",
                 static_cast<const char*>(root));
}

void StoreTimeMarkerPending() {
  TimeMarkerHandler handler = nullptr;
  {
    Vak::SingleLock guard(&AppGlobalsLock(), true);
    handler = IsTimeMarkerPending() ? GetTimeMarkerHandler() : nullptr;
  }
  if (handler) handler();
}

} // namespace

void VADSetWallClock(VADWallClock clock) { gClock.store(clock ? clock : &platform::WallClockSeconds); }

bool VADIsDatabaseOpen() { return gOpen.load(); }
bool VADIsRebuilding() { return gRebuilding.load(); }
bool VADIsIndexLoaded() { return gIndexLoaded.load(); }
bool VADIndexRefused() { return gRefused.load(); }

std::string VADUnreadableIndexMovedTo() {
  std::lock_guard<std::mutex> hold(gMovedAsideLock);
  return gMovedAside;
}

Path VADNewerIndexFile() {
  for (const char* name : {"assets.tdx", "cache/assets.tdx", "cache/assets.bku"}) {
    const Path path = InDatabaseRoot(name);
    if (path.Length() > 0 && DatabaseFileVersion(path) > vad_file::kVersion) return path;
  }
  return Path();
}

void VADStartParams(VADStartBlock& block) { block = VADStartBlock(); }

bool HasFreeDiskSpace(const char* folder) {
  uint64_t bytes = 0;
  VADFreeSpaceFunction query = GetVADServices().freeSpace;
  return query && query(folder, bytes) && bytes >= kVADMinFreeBytes;
}

bool VADInit(const VADStartBlock& block) {
  if (gOpen.load()) return true;
  std::string root(block.root, strnlen(block.root, sizeof block.root));
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  if (!SetDatabaseRootPath(root.c_str())) return false;
  const Path newer = VADNewerIndexFile();
  if (newer.Length() > 0) {
    VelmarLogError("VADInit> \"%s\" is of a newer version than this build reads; the database stays closed",
                   static_cast<const char*>(newer));
    return false;
  }
  gRefused.store(false);
  const Path index = InDatabaseRoot("assets.tdx");
  if (index.Length() == 0 || !IPCOpen(index, false)) return false;
  SetLatestBuildHandler(&VADOnLatestBuild);
  SetServerTimeHandler(&VADOnServerTime);
  {
    Vak::SingleLock guard(&AppGlobalsLock(), true);
    SetTimeMarkerHandler(&VADOnTimeMarker);
  }
  gStart = block;
  VADLock::SetLoadCycle(&gLoadCycle);
  gOpen.store(true);
  StoreTimeMarkerPending();
  if (!GWSpecRegistry::Instance()) GWSpecRegistry::Create();
  VADStartRefreshThread();
  return true;
}

void VADStartRefreshThread() {
  if (!gOpen.load()) return;
  {
    Vak::SingleLock guard(&gThreadLock, true);
    if (gRefreshThread && !gRefreshThread->IsDone()) return;
  }
  StopThread(gRefreshThread);
  auto* thread = new Vak::Thread(&RefreshBody, nullptr, true);
  Vak::SingleLock guard(&gThreadLock, true);
  gRefreshThread = thread;
}

void VADStopThreads() {
  StopThread(gRefreshThread);
  StopThread(gSecondThread);
}

void VADReload() {
  VADLock lock;
  lock.Acquire(true);
  gVadAssetIndex.Clear();
  VADLoad();
}

bool VADLoad() {
  VADLock lock;
  lock.Acquire(true);
  bool loaded = ReadDatabaseFile(InDatabaseRoot("assets.tdx"));
  if (!loaded && VADNewerIndexFile().Length() > 0) {
    // A newer build wrote it since start-up: neither restored over nor
    // rebuilt, and this process writes nothing more.
    gRefused.store(true);
    VelmarLogError("VADLoad> the index is of a newer version than this build reads; nothing is written to it");
    return false;
  }
  if (!loaded) {
    gVadAssetIndex.SetRebuiltFlag(1);
    if (!gStart.rebuildWhenMissing) return false;
    gRebuilding.store(true);
    loaded = VADRestoreFromCache();
    if (!loaded) VADRebuildFromFolders();
  }
  int64_t marker = gVadAssetIndex.TimeMarker();
  if (marker == VADAssetIndex::kTimeMarkerUnset) {
    if (VADLock::ChangeCallback callback = VADLock::GetChangeCallback()) callback(VADAssetIndex::kDirtyTimeMarker);
  } else if (marker != kVADMarkerDistrusted && marker > gClock.load()() + kVADMarkerSlackSeconds) {
    marker = kVADMarkerDistrusted;
  }
  gVadAssetIndex.RaiseTimeMarker(marker);
  gRebuilding.store(false);
  gIndexLoaded.store(true);
  return loaded;
}

bool VADRestoreFromCache() {
  MoveAsideUnreadable();
  const Path cacheFile = InDatabaseRoot("cache/assets.tdx");
  const Path backup = InDatabaseRoot("cache/assets.bku");
  if (ReadDatabaseFile(cacheFile)) {
    gVadAssetIndex.SetRebuiltFlag(1);
    Vak::File::Unlink(backup);
    Vak::File::Rename(cacheFile, backup);
  } else if (!ReadDatabaseFile(backup)) {
    gVadAssetIndex.SetRebuiltFlag(1);
    return false;
  }
  VADLocationSet known;
  gVadAssetIndex.CollectLocations(known);
  ScanFolder("editing", "", kScanEditing, known, nullptr);
  VADReconcileFolders();
  gVadAssetIndex.SortByName();
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  VADThread_WriteDatabaseLocal();
  return true;
}

void VADRebuildFromFolders() {
  gVadAssetIndex.Clear();
  gVadAssetIndex.settingsPresent = 1;
  SignalStartupEvent();
  for (const char* archive : {"base", "builtin\\1", "builtin\\2", "builtin\\3", "builtin\\4"}) ScanArchive(archive, nullptr);
  ScanLocalFolders(nullptr);
  VADLocationSet known;
  gVadAssetIndex.CollectLocations(known);
  ScanFolder("editing", "", kScanEditing, known, nullptr);
  gVadAssetIndex.SortByName();
  gVadAssetIndex.SetRebuiltFlag(1);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
}

bool VADThread_WriteDatabaseLocal() {
  if (gRefused.load()) return false;
  IPCRecordFields fields;
  const bool handOver = IPCIsOwner() && IPCReadRecord(fields) && fields.requester != -1 &&
                        fields.requester != static_cast<int32_t>(Vak::Thread::GetProcessId());
  VADLock lock;
  lock.Acquire(handOver);
  gVadAssetIndex.ClearDirtyFlags();
  const Path root = InDatabaseRoot("assets.tdx");
  const Path cacheFile = InDatabaseRoot("cache/assets.tdx");
  Vak::File::Md(InDatabaseRoot("cache"));
  Vak::File::Unlink(cacheFile);
  if (WriteDatabaseFile(cacheFile)) {
    if (Vak::File::Exists(root).Ok() && !Vak::File::Unlink(root))
      VelmarLogError("VADThread_WriteDatabaseLocal> Unlink(\"%s\") failed", static_cast<const char*>(root));
    if (Vak::File::Rename(cacheFile, root)) {
      IPCRaiseChangeCounter();
      if (handOver) VADGiveUpOwnership();
      return true;
    }
    VelmarLogError("VADThread_WriteDatabaseLocal> Rename(\"%s\", \"%s\") failed", static_cast<const char*>(cacheFile),
                   static_cast<const char*>(root));
  } else {
    VelmarLogError("VADThread_WriteDatabaseLocal> gVadAssetIndex.WriteDatabase(\"%s\" failed",
                   static_cast<const char*>(cacheFile));
    if (!HasFreeDiskSpace(cacheFile)) MainThreadQueue::Instance().Post(kVADLowDiskMessage, 0, 0);
  }
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  return false;
}

void VADGiveUpOwnership() {
  gVadAssetIndex.settingsPresent = 0;
  if (IPCIsOwner()) IPCReleaseOwnership();
}

bool VADShutdown(VADShutdownMode mode) {
  if (!gOpen.load()) return true;
  VADStopThreads();
  SetLatestBuildHandler(nullptr);
  SetServerTimeHandler(nullptr);
  {
    Vak::SingleLock guard(&AppGlobalsLock(), true);
    SetTimeMarkerHandler(nullptr);
  }
  bool onDisk = true;
  if (gVadAssetIndex.DirtyFlags() != 0) onDisk = VADThread_WriteDatabaseLocal();
  if (VADNetworkService* network = GetVADServices().network) network->ClearStation();
  GWSpecRegistry::Destroy();
  gOpen.store(false);
  gIndexLoaded.store(false);
  if (mode == VADShutdownMode::kFreeIndex || platform::kUnderSanitizer) gVadAssetIndex.Clear();
  gVadAssetIndex.ClearDirtyFlags();
  VADStartParams(gStart);
  VADLock::SetChangeCallback(nullptr);
  IPCClose();
  return onDisk;
}

void VADOnLatestBuild(uint32_t build) {
  {
    VADLock lock;
    lock.Acquire(true);
    if (build != gVadAssetIndex.latestBuild) {
      gVadAssetIndex.latestBuild = build;
      gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyLatestBuild);
    }
  }
  SetBuildNumber(build);
}

void VADOnServerTime(int64_t time) {
  {
    VADLock lock;
    lock.Acquire(true);
    const int64_t previous = gVadAssetIndex.serverTime;
    gVadAssetIndex.serverTime = time;
    if (time > previous + kVADMarkerSlackSeconds) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  SetServerTime(time);
}

void VADOnTimeMarker() {
  VADLock lock;
  lock.Acquire(true);
  const int64_t marker = gVadAssetIndex.TimeMarker();
  if (marker == VADAssetIndex::kTimeMarkerUnset) return;
  if (marker < 0) gVadAssetIndex.SetTimeMarker(VADAssetIndex::kTimeMarkerUnset);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords | VADAssetIndex::kDirtyTimeMarker);
}
