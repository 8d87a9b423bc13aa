#include "assetdb/VADRepair.h"

#include "Vak/Bexlorn/File.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"

using Vak::PString;
using Path = Vak::File::Path;

namespace {

bool HasFile(const PString& archive, const char* folder, const char* name) {
  Path path(folder);
  return path.AddPath(name) && FileExists(archive, path);
}

bool HasConfig(const PString& archive, const char* folder) {
  return HasFile(archive, folder, "config.chump") || HasFile(archive, folder, "config.txt");
}

// Runs `step` on record n under an exclusive lock; false past the last
// record.
template <typename Step>
bool OnRecord(uint32_t n, Step&& step) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = gVadAssetIndex.RecordAt(n);
  if (!record) return false;
  step(*record);
  return true;
}

// The record's own steps; OnRecord holds the lock.

void ReloadConfig(VADAssetInfo& record, bool patcher) {
  if (patcher && !record.IsBuiltIn()) return;
  bool changed = false;
  if (record.HasArchiveLocation()) {
    const PString archive = record.archiveName;
    AssetArchiveHold hold(archive);
    if (!HasConfig(archive, record.archivePath)) {
      record.ClearArchiveLocation();
      changed = true;
    }
  }
  // A committed folder holds its config as text; only a folder without
  // either form has lost its asset.
  if (record.HasLocalFolder() && !HasConfig(PString(), record.GetLocalFolder())) {
    record.ClearLocalFolder();
    changed = true;
  }
  if (record.HasEditingFolder()) {
    const Path folder = record.GetEditingFolder();
    if (!Vak::File::Exists(folder).Ok() || !HasConfig(PString(), folder)) {
      record.ClearEditingFolder();
      changed = true;
    }
  }
  if (changed) {
    DropRecordConfig(record);
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
}

void RereadDamaged(VADAssetInfo& record, ResultsLog* log, bool patcher) {
  if (patcher && !(record.IsBuiltIn() && !record.HasLocalFolder())) return;
  const int32_t stamp = static_cast<int32_t>(record.ComputeContentHash());
  if (stamp != 0 && stamp == record.contentHash) return;
  if (stamp != record.contentHash) {
    record.contentHash = stamp;
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  record.UpdateStateFlags(VADAssetInfo::kFaulty, 0);
  gVadAssetIndex.RaiseObsoleteGeneration();
  record.sizeOnDisk = -1;
  if (!record.HasAnyLocation()) return;

  ACSChunkPtr config;
  if (ReadRecordConfig(record, config) && FillFromConfig(config, record, false)) {
    gVadAssetIndex.Refresh(record, true, &config);
  } else {
    record.UpdateStateFlags(0, VADAssetInfo::kFaulty);
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  }
  // Every record whose stamp changed is listed, read again or not.
  VADReportAsset(log, ResultsLog::kError, "$vadtask_repair_damaged", record.kuid);
}

void RebuildObsoleteLinks(VADAssetInfo& record, bool first) {
  KuidTable& tableA = gVadAssetIndex.TableA();
  KuidTable& tableB = gVadAssetIndex.TableB();
  bool changed = false;
  if (first) {
    changed = tableA.Count() != 0 || tableB.Count() != 0;
    tableA.Clear();
    tableB.Clear();
  }
  // After the clear each link entered is new, so a rebuilt table grows.
  const unsigned countA = tableA.Count(), countB = tableB.Count();
  gVadAssetIndex.AddObsoleteLinks(record);
  changed = changed || tableA.Count() != countA || tableB.Count() != countB;
  if (changed) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
}

void RecomputeDependencyState(VADAssetInfo& record) {
  record.UpdateStateFlags(VADAssetInfo::kMissingAnswer | VADAssetInfo::kMissingKnown |
                              VADAssetInfo::kFaultyDepsAnswer | VADAssetInfo::kFaultyDepsKnown,
                          0);
  record.HasMissingDependencies();
  record.HasFaultyDependencies();
}

} // namespace

void VADRepairPurge() {
  VADLock lock;
  lock.Acquire(true);
  Path libraries = GetDatabaseRootPath();
  libraries.AddPath("cache/libraries");
  DeleteInsideDatabaseRoot(PString(), libraries);
  MakeFolderPath(PString(), libraries);
  if (VADNetworkService* network = GetVADServices().network) network->ProcessDownloadQueue();
  if (!gVadAssetIndex.globalData.IsNull()) {
    gVadAssetIndex.globalData.Release();
    // Written out, or the next start reads the released tree back.
    gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyGlobalData);
  }
  gVadAssetIndex.RaiseObsoleteGeneration();
}

uint32_t VADRecordCount() {
  VADLock lock;
  lock.Acquire(true);
  return gVadAssetIndex.RecordCount();
}

bool VADRepairReloadConfig(uint32_t n, bool patcher) {
  return OnRecord(n, [patcher](VADAssetInfo& record) { ReloadConfig(record, patcher); });
}

void VADRepairScanFolders(const std::atomic<uint8_t>* cancel, bool patcher) {
  VADLock lock;
  lock.Acquire(true);
  for (const char* archive : {"base", "builtin\\1", "builtin\\2", "builtin\\3", "builtin\\4"})
    ScanArchive(archive, cancel);
  if (!patcher) {
    ScanLocalFolders(cancel);
    VADLocationSet known;
    gVadAssetIndex.CollectLocations(known);
    ScanFolder("editing", "", kScanEditing, known, cancel);
  }
  gVadAssetIndex.SortByName();
}

bool VADRepairDamaged(uint32_t n, ResultsLog* log, bool patcher) {
  return OnRecord(n, [log, patcher](VADAssetInfo& record) { RereadDamaged(record, log, patcher); });
}

bool VADRepairObsolete(uint32_t n) {
  return OnRecord(n, [n](VADAssetInfo& record) { RebuildObsoleteLinks(record, n == 0); });
}

bool VADRepairDependencies(uint32_t n) { return OnRecord(n, RecomputeDependencyState); }

void VADRepairResetState() {
  VADLock lock;
  lock.Acquire(true);
  bool changed = false;
  for (VADAssetInfo* record : gVadAssetIndex.Records()) {
    if (!(record->Flags() & VADAssetInfo::kDownloadStation)) continue;
    record->UpdateFlags(VADAssetInfo::kDownloadStation, 0);
    changed = true;
  }
  if (changed) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  if (VADNetworkService* network = GetVADServices().network) network->ResetStation();
}

void VADRepairSetFlag() {
  VADLock lock;
  lock.Acquire(true);
  if (gVadAssetIndex.RebuiltFlag() != 0) gVadAssetIndex.SetRebuiltFlag(0);
}

bool VADSetSetting(const char* section, const char* key, const char* value, uint32_t lockFlags) {
  VADLock lock;
  if (!lock.Acquire(true, lockFlags).IsHeld()) return false;
  SetSettingValue(section, key, value);
  return true;
}

bool VADIsIndexReady() {
  if (!VADIsDatabaseOpen()) return false;
  if (VADIsIndexLoaded()) return true;
  VADLock lock;
  return lock.Acquire(false).IsHeld();
}

Vak::PString VADTryLocked(const char* section, const char* key) {
  if (!VADIsIndexReady()) return {};
  VADLock lock;
  if (!lock.Acquire(false).IsHeld()) return {};
  return GetSettingValue(section, key);
}
