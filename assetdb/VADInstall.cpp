#include "assetdb/VADInstall.h"

#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADKeys.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "cdp/PackageFiles.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/NativePath.h"

using Vak::PString;
using Path = Vak::File::Path;

namespace {

const PString& KuidTag() {
  static const PString tag("kuid");
  return tag;
}
const PString& CompressionTag() {
  static const PString tag("compression");
  return tag;
}

bool Cancelled(const VADInstallPrompt* prompt) { return prompt && prompt->cancel.load(); }

// The key the prompt is asked with about an asset that is already there.
const char* PromptKeyFor(const VADAssetStatus& status) {
  if (status.detail & VADAssetStatus::kOpenForEdit) return "$vad_prompt_openforedit";
  if (status.state & VADAssetStatus::kBuiltIn) return "$vad_prompt_builtin";
  if (status.state & VADAssetStatus::kStationItem) return "$vad_prompt_dls_item";
  return "$vad_prompt_alreadyinstalled";
}

// The display name a new record starts with; the record is read from its
// config once the files are in place.
PString ConfigName(const ACSChunkPtr& config) {
  PString name = config.GetChildString(VADKeys::Username());
  return name.Length() > 0 ? name : config.GetChildString(VADKeys::Name());
}

// "config.txt" and "config.chump" are written from the config, never
// carried as files.
void DropConfigFiles(ACSChunkPtr& files) {
  if (files.IsNull()) return;
  files.RemoveChild(PString("config.txt"));
  files.RemoveChild(PString("config.chump"));
}

// Older configs were named after their folder.
void AddAssetFilename(ACSChunkPtr& config, const char* folder) {
  if (VADConfigBuild(config) >= 2.5f || config.HasChild(VADKeys::AssetFilename())) return;
  Path path(folder);
  path.DelSlash();
  config.SetChildString(VADKeys::AssetFilename(), path.GetFileName());
}

// Drops each ".texture" whose ".texture.txt" source sits beside it.
void DropCompiledTextures(ACSChunkPtr& folder) {
  std::vector<PString> compiled;
  for (int i = 0; i < folder.GetChildCount(); ++i) {
    const PString name = folder.GetChildName(i);
    if (ACSChunkPtr sub = folder.GetChildContainerAt(i); !sub.IsNull()) {
      DropCompiledTextures(sub);
      continue;
    }
    if (!IsExtension(name.c_str(), "texture")) continue;
    const std::string source = std::string(name.c_str()) + ".txt";
    if (folder.HasChild(PString(source.c_str()))) compiled.push_back(name);
  }
  for (const PString& name : compiled) folder.RemoveChild(name);
}

// The folder walk. `onPath` holds the folders from the start of the walk
// down to this one, so a link that leads back up is not followed.
int InstallTree(const Path& folder, std::vector<platform::FileId>& onPath, ResultsLog* log, uint32_t flags,
                bool& kept, VADInstallPrompt* prompt) {
  for (const char* name : {"config.txt", "config.chump"}) {
    Path config = folder;
    if (config.AddPath(name) && platform::Exists(config))
      return VADInstallFolderAsset(folder, log, flags, kept, prompt).IsNull() ? 0 : 1;
  }
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder, entries) != platform::Error::None) return 0;
  int count = 0;
  for (const platform::FolderEntry& entry : entries) {
    if (Cancelled(prompt)) break;
    Path sub = folder;
    if (!sub.AddPath(entry.name.c_str())) continue;
    if (entry.info.isLink) {
      platform::FileInfo target;
      if (platform::Stat(sub, target) != platform::Error::None || !target.isFolder) continue;
    } else if (!entry.info.isFolder) {
      continue;
    }
    platform::FileId id;
    if (platform::GetFileId(sub, id) != platform::Error::None) continue;
    bool loop = false;
    for (const platform::FileId& above : onPath) loop = loop || above == id;
    if (loop) continue;
    onPath.push_back(id);
    count += InstallTree(sub, onPath, log, flags, kept, prompt);
    onPath.pop_back();
  }
  return count;
}

// The install times of an asset whose files are in place.
bool Installed(const KUID& kuid, ResultsLog* log) {
  VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  if (!record) {
    VADReportAsset(log, ResultsLog::kError, "$vad_write_error", kuid);
    return false;
  }
  const auto now = static_cast<int64_t>(Vak::Time::TimeStamp());
  record->firstInstalled = now;
  record->lastInstalled = now;
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  VADReportAsset(log, ResultsLog::kResult, "$vad_installed", kuid);
  return true;
}

// A commit of a config without either would name it after the editing
// folder it was read from.
bool NamedAfterFolder(const ACSChunkPtr& config) {
  return config.GetChildFloat(PString("velmar-build"), 0.0f) < 2.5f && !config.HasChild(VADKeys::AssetFilename());
}

// A new asset that is committed at once is unpacked where its local folder
// will be, and renamed into place, instead of into an editing folder that
// the commit would copy and delete.
bool InstallCommitted(ContentPackageItem& item, const ACSChunkPtr& summary, const KUID& kuid, uint32_t flags,
                      ResultsLog* log) {
  VADAssetInfo* record = VADCreateAssetRecord(kuid, ConfigName(item).c_str());
  const Path staged = record ? MakeLocalStagingFolder(kuid) : Path();
  if (staged.Length() == 0) {
    if (record) VADDeleteAsset(kuid, true, nullptr);
    VADReportAsset(log, ResultsLog::kError, "$vad_write_error", kuid);
    return false;
  }
  Vak::String error;
  Path configPath = staged;
  if (!WritePackageFiles(error, item.GetFiles(), staged, item.GetCompression()) ||
      !configPath.AddPath("config.chump") || !summary.Save(nullptr, configPath)) {
    platform::DeleteTree(staged);
    VADDeleteAsset(kuid, true, nullptr);
    VADReportAsset(log, ResultsLog::kError, "$vad_failed_install", kuid);
    return false;
  }
  // What the extraction writes passes the commit's file check: it skips
  // every name and type the check refuses.
  const uint32_t commitFlags =
      (flags & kVADInstallSkipFileCheck) ? (kCommitLegacyPath | kCommitSkipFileCheck) : kCommitSkipFileCheck;
  return VADCommitStagedFolder(*record, staged, commitFlags, log);
}

} // namespace

KUID VADInstallAsset(ContentPackageItem& item, ResultsLog* log, uint32_t flags, bool& kept,
                     VADInstallPrompt* prompt) {
  // One hold for the whole asset: the record found below stays the same
  // record until its times are set.
  VADLock lock;
  lock.Acquire(true);

  const ACSChunkPtr files = item.GetFiles();
  if (item.VerifyDSID()) flags |= kVADInstallSkipFileCheck;
  else flags &= ~kVADInstallSkipFileCheck;

  const KUID kuid = item.GetChildKUID(KuidTag(), KUID::Null());
  // The null KUID would make a record under a freshly generated one.
  if (kuid.IsNull()) {
    VADReportAsset(log, ResultsLog::kError, "$vad_failed_install", kuid);
    return KUID();
  }
  VADAssetStatus status;
  const bool known = VADGetAssetStatus(kuid, status, 0xFFFFFFFFu);
  const bool installed = known && (status.state & VADAssetStatus::kInstalled);
  if (installed) {
    if (prompt) {
      const char* key = PromptKeyFor(status);
      const std::string logKey = std::string(key) + "_log";
      const int answer = prompt->Ask(key, logKey.c_str(), kuid, log);
      if (answer != 2 && answer != 3) return KUID();
    }
    flags &= ~kVADInstallCommit;
  }
  const bool commit = (flags & kVADInstallCommit) != 0;
  const ACSChunkPtr summary = MakePackageAssetSummary(item);
  if (commit && !known && !(flags & kVADInstallCommitExtra) && !NamedAfterFolder(summary)) {
    if (!InstallCommitted(item, summary, kuid, flags, log)) return KUID();
    return Installed(kuid, log) ? kuid : KUID();
  }

  VADAssetHandle handle =
      known ? VADOpenAsset(kuid, true, nullptr) : VADCreateAsset(kuid, false, ConfigName(item).c_str());
  Path folder;
  if (!handle.IsValid() || !handle.GetPath(folder)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_write_error", kuid);
    return KUID();
  }
  // The index file on disk is demoted before the old copy goes.
  if (installed) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  if (installed && !gVadDeleteFolder(folder)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_overwrite_error", kuid);
    return KUID();
  }

  // The extraction makes the folder (and any missing above it) when it is
  // not there.
  Vak::String error;
  if (!WritePackageFiles(error, files, folder, item.GetCompression())) {
    VADReportAsset(log, ResultsLog::kError, "$vad_failed_install", kuid);
    VADRevertAsset(handle, nullptr);
    return KUID();
  }
  // The config goes last: a folder cut short before it holds no asset, and
  // the next scan moves it out of the way.
  Path configPath = folder;
  if (!configPath.AddPath(commit ? "config.chump" : "config.txt") || !summary.Save(nullptr, configPath)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_failed_install", kuid);
    VADRevertAsset(handle, nullptr);
    return KUID();
  }

  if (commit) {
    uint32_t commitFlags = (flags & kVADInstallSkipFileCheck) ? (kCommitLegacyPath | kCommitSkipFileCheck) : 0u;
    if (flags & kVADInstallCommitExtra) commitFlags |= kCommitConvert;
    if (!VADCommitAssetEdits(handle, commitFlags, log, kept)) return KUID();
  }
  if (!commit) {
    VADAssetInfo* record = handle.FindRecord();
    if (record) VerifyRecord(*record);
  }
  return Installed(kuid, log) ? kuid : KUID();
}

int VADInstallFromCDP(const char* path, ResultsLog* log, uint32_t flags, bool& kept, VADInstallPrompt* prompt) {
  VADLock lock;
  lock.Acquire(true);
  // Each asset makes its folder in "editing": that listing is kept, not
  // read again per asset.
  platform::ListingCacheScope listings;
  VADAssetIndex::SortBatch sort(gVadAssetIndex);
  VADFolderClaimsBatch claims;
  // One sync of the file system at the end instead of one per config; the
  // index file flushes it before it is written, so it never lists an asset
  // whose files could still be lost.
  platform::SyncBatch syncs;
  ContentPackage package;
  Vak::String error;
  if (!package.Read(error, nullptr, path)) {
    VADReportPath(log, ResultsLog::kError, "$vad_unreadable_cdp", path);
    return 0;
  }
  int count = 0;
  const int items = package.GetAssetCount();
  for (int i = 0; i < items; ++i) {
    ContentPackageItem item = package.GetAsset(i);
    if (!VADInstallAsset(item, log, flags, kept, prompt).IsNull()) ++count;
    else if (Cancelled(prompt)) break;
  }
  return count;
}

int VADInstallFromPath(const char* folder, ResultsLog* log, uint32_t flags, bool& kept, VADInstallPrompt* prompt) {
  if (!folder || !*folder) return 0;
  VADLock lock;
  lock.Acquire(true);
  platform::ListingCacheScope listings;
  VADAssetIndex::SortBatch sort(gVadAssetIndex);
  VADFolderClaimsBatch claims;
  platform::SyncBatch syncs;
  const Path start(folder);
  std::vector<platform::FileId> onPath(1);
  if (platform::GetFileId(start, onPath[0]) != platform::Error::None) onPath.clear();
  return InstallTree(start, onPath, log, flags, kept, prompt);
}

KUID VADInstallFolderAsset(const char* folder, ResultsLog* log, uint32_t flags, bool& kept,
                           VADInstallPrompt* prompt) {
  VADLock lock;
  lock.Acquire(true);
  ContentPackageItem item;
  item.SetChildString(CompressionTag(), "");

  ACSChunkPtr config;
  // A config that names no asset is no config: a record under a generated
  // KUID would never match it.
  if (!FindConfig(folder, PString(), config) || config.IsNull() ||
      config.GetChildKUID(KuidTag(), KUID::Null()).IsNull()) {
    VADReportPath(log, ResultsLog::kWarning, "$vad_unable_read_config_at", folder);
    return KUID();
  }
  ResultsLog scratch;
  ACSChunkPtr files;
  files.MakeContainer();
  if (!PackFolderFiles(files, folder, PString(), log ? *log : scratch, item.GetCompression())) {
    VADReportPath(log, ResultsLog::kWarning, "$vad_skipping_asset_at", folder);
    return KUID();
  }
  DropConfigFiles(files);
  AddAssetFilename(config, folder);
  item.Assign(config);
  item.SetFiles(files);
  return VADInstallAsset(item, log, flags, kept, prompt);
}

ContentPackageItem VADReadAssetForPackage(const KUID& kuid, ResultsLog* log, uint32_t flags) {
  ContentPackageItem item;
  if (!(flags & kVADPackageKeepCompression)) item.SetChildString(CompressionTag(), "");

  VADAssetHandle handle = VADOpenAsset(kuid, false, nullptr);
  if (!handle.IsValid()) {
    VADReportAsset(log, ResultsLog::kError, "$vad_unable_to_open", kuid);
    return item;
  }
  VADAssetStatus status;
  if (VADGetAssetStatus(kuid, status, 0) && (status.detail & VADAssetStatus::kOpenForEdit)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_already_open_for_edit", kuid);
    return item;
  }
  ACSChunkPtr config = VADGetAssetConfig(kuid);
  if (config.IsNull() || config.GetChildCount() == 0) {
    VADReportAsset(log, ResultsLog::kError, "$vad_unable_read_config", kuid);
    return item;
  }
  // An asset held only in an engine archive is read through it, as its
  // config is.
  Path folder;
  PString archive;
  {
    VADLock lock;
    lock.Acquire(false);
    const VADAssetInfo* record = handle.FindRecord();
    if (record && !record->HasLocalFolder() && record->HasArchiveLocation()) {
      archive = record->archiveName;
      folder = record->archivePath;
    }
  }
  AssetArchiveHold hold(archive);
  ResultsLog scratch;
  ACSChunkPtr files;
  files.MakeContainer();
  if ((archive.Length() == 0 && !handle.GetPath(folder)) ||
      !PackFolderFiles(files, folder, archive, log ? *log : scratch, item.GetCompression())) {
    VADReportAsset(log, ResultsLog::kError, "$vad_unable_read_files", kuid);
    return item;
  }
  DropConfigFiles(files);
  if (flags & kVADPackageDropCompiledTextures) DropCompiledTextures(files);

  // The export must not change the installed asset's own config.
  ACSChunkPtr copy;
  copy.DeepCopy(config);
  AddAssetFilename(copy, folder);
  item.Assign(copy);
  item.SetFiles(files);
  return item;
}
