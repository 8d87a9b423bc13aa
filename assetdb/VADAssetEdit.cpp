#include "assetdb/VADAssetEdit.h"

#include "assetdb/GWSpecRegistry.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADRecordConfig.h"
#include "cdp/PackageFiles.h"
#include "content/ACSChunk.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"
#include "content/VelmarEx.h"
#include "platform/os/FileSystem.h"

using Vak::PString;
using Path = Vak::File::Path;

bool VADDeleteFolder(const char* path) {
  if (!platform::Exists(path)) return true;
  // One rename takes the folder out of its place, so that a kill leaves it
  // whole there or gone; only then is the copy in "trash" pruned.
  Path moved;
  if (!MoveFolderToTrash(PString(), path, moved)) return DeleteInsideDatabaseRoot(PString(), path);
  if (moved.Length() > 0) DeleteInsideDatabaseRoot(PString(), moved);
  return true;
}

VADDeleteFolderFunction gVadDeleteFolder = VADDeleteFolder;

namespace {

void Changed() { gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords); }

// The asset's own folder inside a folder archive (root, name, path); false
// for an engine archive file or a location that would name the whole
// archive, neither of which is the asset's alone.
bool ArchiveFolderOf(const VADAssetInfo& record, Path& folder) {
  if (record.archiveName.IsNull() || ArchiveFileExists(record.archiveName.c_str())) return false;
  Path inside(static_cast<const char*>(record.archivePath));
  if (!inside.Normalize()) return false;
  inside.DelSlash();
  const char* text = inside;
  while (*text == '/' || *text == '\\') ++text;
  if (!*text || !IsSafePackagePath(text)) return false;
  folder = GetDatabaseRootPath();
  return folder.AddPath(record.archiveName.c_str()) && folder.AddPath(text);
}

// The end of every commit, once the local folder holds the new content.
void FinishCommit(VADAssetInfo& record, uint32_t flags, ResultsLog* log) {
  const KUID kuid = record.kuid;
  if (flags & kCommitLegacyPath) record.FixLegacyLocalPath();
  Changed();
  if (!VerifyRecord(record)) VelmarLogError("VADCommitAssetEdits> unable to update asset info");
  RemoveGlobalDataEntry(kuid);
  gVadAssetIndex.SortByName();
  GWSpecRegistry::Refresh(kuid);
  VADReportAsset(log, ResultsLog::kResult, "$vad_log_commit_success", kuid);
}

} // namespace

bool VADCommitAssetEdits(VADAssetHandle& handle, uint32_t flags, ResultsLog* log, bool& kept) {
  if (handle.GetKUID().IsNull() || handle.GetMode() != VADAssetHandle::kEdit) return false;
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = handle.FindRecord();
  if (!record) return false;
  const KUID kuid = record->kuid;

  if (!(record->permissions & VADAssetInfo::kPermitCommit)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_commit_perm", kuid);
    return false;
  }
  if (!record->HasEditingFolder()) {
    VADReportAsset(log, ResultsLog::kError, "$vad_commit_open_for_edit", kuid);
    return false;
  }
  if (record->HasArchiveLocation()) flags &= ~kCommitLegacyPath;

  // A local folder made here and not filled goes again.
  bool madeLocal = false;
  auto fail = [&](const char* key) {
    if (madeLocal) {
      if (gVadDeleteFolder(record->GetLocalFolder())) record->ClearLocalFolder();
      Changed();
    }
    VADReportAsset(log, ResultsLog::kError, key, kuid);
    return false;
  };
  if (!record->HasLocalFolder()) {
    if (!AllocateLocalFolder(*record)) return fail("$vad_commit_database_error");
    madeLocal = true;
  }

  const Path editing = record->GetEditingFolder();
  ACSChunkPtr config;
  if (!FindConfig(editing, PString(), config)) return fail("$vad_commit_missing_config");
  if (config.GetChildKUID(PString("kuid"), KUID::Null()) != kuid) return fail("$vad_commit_wrong_kuid");

  ResultsLog scratch;
  ResultsLog& results = log ? *log : scratch;
  if (!(flags & kCommitSkipFileCheck) && !CheckFolderFiles(editing, results))
    return fail("$vad_commit_invalid_files");

  // The index file on disk is demoted before the folders change, so that a
  // kill from here on reopens through the restore, which mends the rest.
  Changed();
  const uint32_t mode = ((flags & kCommitKeepEditing) ? 2u : 3u) | ((flags & kCommitConvert) ? kRewriteConvert : 0u);
  if (!RewriteAssetFolder(PString(), editing, record->GetLocalFolder(), results, mode))
    return fail("$vad_commit_file_error");
  madeLocal = false;

  // The editing copy goes only now that the local copy is complete.
  if (!(flags & kCommitKeepEditing)) {
    if (!gVadDeleteFolder(editing)) kept = true;
    record->ClearEditingFolder();
  }
  FinishCommit(*record, flags, log);
  handle.SetMode(VADAssetHandle::kRead);
  return true;
}

bool VADCommitStagedFolder(VADAssetInfo& record, const char* staged, uint32_t flags, ResultsLog* log) {
  VADLock lock;
  lock.Acquire(true);
  const KUID kuid = record.kuid;
  // A commit that fails leaves the files open for edit.
  auto fail = [&](const char* key) {
    PlaceStagedEditingFolder(record, staged);
    Changed();
    VADReportAsset(log, ResultsLog::kError, key, kuid);
    return false;
  };
  if (record.HasLocalFolder() || record.HasEditingFolder()) return fail("$vad_commit_database_error");
  if (!(record.permissions & VADAssetInfo::kPermitCommit)) return fail("$vad_commit_perm");
  if (record.HasArchiveLocation()) flags &= ~kCommitLegacyPath;

  ResultsLog scratch;
  if (!(flags & kCommitSkipFileCheck) && !CheckFolderFiles(staged, log ? *log : scratch))
    return fail("$vad_commit_invalid_files");
  Changed();
  if (!PlaceStagedLocalFolder(record, staged)) return fail("$vad_commit_file_error");
  FinishCommit(record, flags, log);
  return true;
}

bool VADRevertAsset(VADAssetHandle handle, ResultsLog* log) {
  if (handle.GetKUID().IsNull()) return false;
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = handle.FindRecord();
  handle.Reset();
  if (!record || !record->HasEditingFolder()) return false;
  const KUID kuid = record->kuid;

  Changed();
  if (!gVadDeleteFolder(record->GetEditingFolder())) return false;
  record->ClearEditingFolder();
  if (!record->IsInstalled()) VADDeleteAsset(kuid, true, nullptr);

  VADReportAsset(log, ResultsLog::kResult, "$vad_log_revert_success", kuid);
  return true;
}

bool VADDeleteAsset(const KUID& kuid, bool removeRecord, ResultsLog* log) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  if (!record) return false;
  if (VADIsRecordArchived(*record)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_log_delete_err_archive", kuid);
    return false;
  }
  if (GWSpecRegistry* registry = GWSpecRegistry::Instance()) {
    if (GlimmerwerkSpec* spec = GWSpecRegistry::Find(kuid)) registry->Delete(spec);
  }

  // The index file on disk is demoted before the first folder goes, so that
  // a kill from here on reopens through the restore, which mends the rest.
  Changed();
  if (record->HasEditingFolder()) {
    if (!gVadDeleteFolder(record->GetEditingFolder())) return false;
    record->ClearEditingFolder();
  }
  if (record->HasLocalFolder()) {
    if (!gVadDeleteFolder(record->GetLocalFolder())) return false;
    record->ClearLocalFolder();
  }
  if (record->HasArchiveLocation() && !record->IsBuiltIn()) {
    Path folder;
    if (!ArchiveFolderOf(*record, folder) || !gVadDeleteFolder(folder)) return false;
    record->ClearArchiveLocation();
  }

  const bool keep = !removeRecord || (record->Flags() & VADAssetInfo::kDownloadStation) || record->IsBuiltIn();
  if (keep) {
    if (!VerifyRecord(*record)) VelmarLogError("VADDeleteAsset> warning: unable to update asset info");
  } else {
    gVadAssetIndex.Remove(kuid);
    Changed();
  }
  RemoveGlobalDataEntry(kuid);
  VADReportAsset(log, ResultsLog::kResult, "$vad_log_delete_success", kuid);
  return true;
}

VADAssetInfo* VADCreateAssetRecord(const KUID& requested, const char* name) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = NewAssetRecord(requested, name);
  if (!record) return nullptr;
  const KUID kuid = record->kuid;
  Vak::AnsiString text(GetInterfaceString(PString("$vad_log_asset_created")).c_str());
  ResultsLog::ExpandMacro(kuid.ToConfigText().c_str(), text, "ASSET_KUID");
  VADLog::Instance().AddEntry(&kuid, nullptr, text, VADLog::kPlain);
  return record;
}

VADAssetHandle VADCreateAsset(const KUID& requested, bool writeConfig, const char* name) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* record = VADCreateAssetRecord(requested, name);
  if (!record) return VADAssetHandle();
  const KUID kuid = record->kuid;

  VADAssetHandle handle = VADOpenAsset(kuid, true, nullptr);
  Path folder;
  if (writeConfig && handle.GetPath(folder)) {
    ACSChunkPtr config;
    config.MakeContainer();
    config.SetChildKUID(PString("kuid"), kuid);
    config.SetChildString(PString("kind"), "unknown");
    if (folder.AddPath("config.txt")) config.Save(nullptr, folder);
  }
  return handle;
}
