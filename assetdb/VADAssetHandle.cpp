#include "assetdb/VADAssetHandle.h"

#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "content/ACSChunk.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"
#include "content/VelmarProperty.h"

using Vak::PString;
using Path = Vak::File::Path;

VADAssetHandle::VADAssetHandle(const KUID& kuid, Mode mode) : block_(new Block), mode_(mode) { block_->kuid = kuid; }

VADAssetHandle::VADAssetHandle(const VADAssetHandle& other) : block_(other.block_), mode_(other.mode_) {
  if (block_) block_->count.fetch_add(1);
}

VADAssetHandle& VADAssetHandle::operator=(const VADAssetHandle& other) {
  Block* block = other.block_;
  if (block) block->count.fetch_add(1);
  Reset();
  block_ = block;
  mode_ = other.mode_;
  return *this;
}

VADAssetHandle::~VADAssetHandle() { Reset(); }

void VADAssetHandle::Reset() {
  if (block_ && block_->count.fetch_sub(1) == 1) delete block_;
  block_ = nullptr;
}

int32_t VADAssetHandle::UseCount() const { return block_ ? block_->count.load() : 0; }

KUID VADAssetHandle::GetKUID() const { return block_ ? block_->kuid : KUID::Null(); }

VADAssetInfo* VADAssetHandle::FindRecord() const {
  return block_ ? gVadAssetIndex.Find(block_->kuid) : nullptr;
}

bool VADAssetHandle::IsValid() const {
  if (!block_) return false;
  VADLock lock;
  lock.Acquire(false);
  return FindRecord() != nullptr;
}

bool VADAssetPath(const VADAssetInfo& record, VADAssetHandle::Mode mode, Path& path) {
  path = "";
  if (mode == VADAssetHandle::kEdit) {
    if (!record.HasEditingFolder()) return false;
    path = record.GetEditingFolder();
    return path.Length() > 0;
  }
  if (record.HasLocalFolder()) {
    path = record.GetLocalFolder();
    return path.Length() > 0;
  }
  if (!record.HasArchiveLocation()) return false;
  // The archive file when there is one, else the folder of that name.
  path = GetDatabaseRootPath();
  Vak::AnsiString archive(record.archiveName.c_str());
  if (ArchiveFileExists(record.archiveName.c_str())) archive += ".va";
  if (!path.AddPath(archive) || !path.AddPath(record.archivePath)) {
    path = "";
    return false;
  }
  return true;
}

bool VADAssetHandle::GetPath(Path& path) const {
  path = "";
  if (!block_) return false;
  VADLock lock;
  lock.Acquire(false);
  const VADAssetInfo* record = FindRecord();
  return record && VADAssetPath(*record, mode_, path);
}

void VADReportAsset(ResultsLog* log, int32_t severity, const char* key, const KUID& kuid) {
  if (!log) return;
  ACSChunkPtr parameters;
  parameters.MakeContainer();
  parameters.SetChildString(PString("asset_kuid"), kuid.ToConfigText().c_str());
  VelmarPropertyPtr property;
  property.Attach(new VelmarPropertyAssetID(PString("asset"), kuid.user, kuid.content, kuid.version));
  log->AddMessage(severity, property.Get(), key, parameters);
}

void VADReportPath(ResultsLog* log, int32_t severity, const char* key, const char* path) {
  if (!log) return;
  ACSChunkPtr parameters;
  parameters.MakeContainer();
  parameters.SetChildString(PString("file_path"), path);
  log->AddMessage(severity, nullptr, key, parameters);
}

VADAssetHandle VADOpenAsset(const KUID& kuid, bool forEdit, ResultsLog* log) {
  VADLock lock;
  lock.Acquire(forEdit);
  VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  if (!record) return VADAssetHandle();

  if (!forEdit) {
    if (!record->IsInstalled()) {
      VADReportAsset(log, ResultsLog::kError, "$vad_not_committed", kuid);
      return VADAssetHandle();
    }
    return VADAssetHandle(kuid, VADAssetHandle::kRead);
  }

  if (!(record->permissions & VADAssetInfo::kPermitEdit)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_edit_perm", kuid);
    return VADAssetHandle();
  }
  if (record->HasEditingFolder()) return VADAssetHandle(kuid, VADAssetHandle::kEdit);

  PString sourceArchive;
  Path source;
  if (record->HasLocalFolder()) {
    source = record->GetLocalFolder();
  } else if (record->HasArchiveLocation()) {
    sourceArchive = record->archiveName;
    source = static_cast<const char*>(record->archivePath);
  }
  if (!AllocateEditingFolder(*record)) {
    VADReportAsset(log, ResultsLog::kError, "$vad_open_file_error", kuid);
    return VADAssetHandle();
  }
  if (source.Length() > 0) {
    ResultsLog scratch;
    ResultsLog& results = log ? *log : scratch;
    if (!RewriteAssetFolder(sourceArchive, source, record->GetEditingFolder(), results, kRewriteCopyOnly)) {
      // The empty folder AllocateEditingFolder made goes with the field.
      DeleteInsideDatabaseRoot(PString(), record->GetEditingFolder());
      record->ClearEditingFolder();
      gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
      VerifyRecord(*record);
      VADReportAsset(log, ResultsLog::kError, "$vad_copy_file_error", kuid);
      return VADAssetHandle();
    }
  }
  VADReportAsset(log, ResultsLog::kResult, "$vad_log_openforedit_success", kuid);
  return VADAssetHandle(kuid, VADAssetHandle::kEdit);
}
