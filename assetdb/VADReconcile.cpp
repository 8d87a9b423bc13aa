#include "assetdb/VADReconcile.h"

#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADFolderScan.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "content/AppGlobals.h"
#include "platform/os/FileSystem.h"

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

// The folders of "editing" and of the hash folders of "local", one listing
// each, keyed as VADAssetIndex::CollectLocations keys them.
VADLocationSet PresentFolders() {
  VADLocationSet present;
  for (const std::string& name : ListSubFolders("editing", "", kScanEditing)) present.Add("editing", name.c_str());
  for (const std::string& hash : ListSubFolders("local", "", kScanLocal)) {
    for (const std::string& name : ListSubFolders("local", hash.c_str(), kScanLocal))
      present.Add("local", (hash + "\\" + name).c_str());
  }
  return present;
}

// `relative` below the root folder `top` ("editing\x" for "editing"), with
// `depth` components after it: the listing answers. Any other shape (an old
// layout) is looked up on disk.
bool StillThere(const VADLocationSet& present, const char* top, int depth, const char* relative,
                const char* absolute) {
  const std::size_t length = std::char_traits<char>::length(top);
  if (Vak::CodePage::CompareIgnoreCaseN(relative, top, length) == 0 && IsSep(relative[length])) {
    const char* rest = relative + length + 1;
    int components = *rest ? 1 : 0;
    for (const char* p = rest; *p; ++p) components += IsSep(*p) && p[1] && !IsSep(p[1]);
    if (components == depth) return present.Contains(top, rest);
  }
  return platform::Exists(absolute);
}

// A local copy as a local folder or in the folder archive "local".
bool HasLocalCopy(const VADAssetInfo& record) {
  return record.HasLocalFolder() || (record.HasArchiveLocation() && record.archiveName.EqualsIgnoreCase("local"));
}

// Forgets the record's folders that are gone; true when it forgot one.
bool ForgetMissingFolders(VADAssetInfo& record, const VADLocationSet& present, bool& editingForgotten) {
  bool forgot = false;
  if (record.HasEditingFolder() &&
      !StillThere(present, "editing", 1, static_cast<const char*>(record.editingPath), record.GetEditingFolder())) {
    record.ClearEditingFolder();
    editingForgotten = forgot = true;
  }
  if (record.HasLocalFolder() && !StillThere(present, "local", 2, static_cast<const char*>(record.localPath), record.GetLocalFolder())) {
    record.ClearLocalFolder();
    forgot = true;
  }
  if (record.HasArchiveLocation() && record.archiveName.EqualsIgnoreCase("local")) {
    const std::string relative = "local\\" + std::string(static_cast<const char*>(record.archivePath));
    Vak::File::Path absolute = GetDatabaseRootPath();
    absolute.AddPath(relative.c_str());
    if (!StillThere(present, "local", 2, relative.c_str(), absolute)) {
      record.ClearArchiveLocation();
      forgot = true;
    }
  }
  return forgot;
}

} // namespace

void VADReconcileFolders() {
  VADLock lock;
  lock.Acquire(true);
  const VADLocationSet present = PresentFolders();

  std::vector<VADAssetInfo*> changed;  // records whose folders are not what they were
  std::vector<VADAssetInfo*> noLocal;  // records a local folder may yet be found for
  bool editingForgotten = false;
  for (uint32_t n = 0; n < gVadAssetIndex.RecordCount(); ++n) {
    VADAssetInfo* record = gVadAssetIndex.SortedAt(n);
    if (ForgetMissingFolders(*record, present, editingForgotten)) changed.push_back(record);
    else if (!HasLocalCopy(*record)) noLocal.push_back(record);
  }
  if (!changed.empty()) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);

  // An editing folder whose record named it under a claim just forgotten
  // (the restore's scan could not merge it) is taken in now.
  if (editingForgotten) {
    VADLocationSet known;
    gVadAssetIndex.CollectLocations(known);
    ScanFolder("editing", "", kScanEditing, known, nullptr);
  }
  // Local folders no record names: a commit the backup never saw, or a
  // leftover for "trash".
  ScanLocalFolders(nullptr);
  for (VADAssetInfo* record : noLocal)
    if (HasLocalCopy(*record)) changed.push_back(record);

  for (VADAssetInfo* record : changed) {
    const bool keep = (record->Flags() & VADAssetInfo::kDownloadStation) || record->IsBuiltIn();
    if (!record->HasAnyLocation() && !keep) {
      const KUID kuid = record->kuid;
      gVadAssetIndex.Remove(kuid);
      RemoveGlobalDataEntry(kuid);
      continue;
    }
    // Read again from the folders it has now; an asset open for edit over a
    // committed copy is checked against that copy.
    if (!VerifyRecord(*record) && record->HasEditingFolder() && record->IsInstalled())
      gVadAssetIndex.Refresh(*record, true);
  }
  gVadAssetIndex.SortByName();
}
