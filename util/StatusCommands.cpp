#include "util/StatusCommands.h"

#include <cstdio>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADFilters.h"
#include "assetdb/VADInstall.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "assetdb/VADThumbnails.h"
#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/FileHelpers.h"
#include "content/KUIDList.h"
#include "content/ResultsLog.h"
#include "util/AssetReports.h"

namespace {

using Vak::AnsiString;
using Vak::PString;

// Where the validation finds the asset's config: its local folder, else its
// folder inside an archive. False when it has neither.
bool ValidationPlace(const VADAssetHandle& handle, PString& archive, Vak::File::Path& folder) {
  VADLock lock;
  lock.Acquire(false);
  const VADAssetInfo* record = handle.FindRecord();
  if (!record) return false;
  if (record->HasLocalFolder()) {
    archive = PString();
    folder = record->GetLocalFolder();
    return folder.Length() > 0;
  }
  if (!record->HasArchiveLocation()) return false;
  archive = record->archiveName;
  folder = static_cast<const char*>(record->archivePath);
  return true;
}

void AddNote(ResultsLog& log, const char* format, const char* text) {
  AnsiString line;
  line.Setf(format, text);
  log.AddMessage(ResultsLog::kNote, nullptr, line);
}

// Writes `target` through a temporary file beside it, which replaces the
// target only once `write` has made it whole.
template <typename Write>
bool ReplaceFile(const char* target, Write write) {
  Vak::File::Path temporary(target);
  if (!temporary.Add(".part")) return false;
  Vak::File::Unlink(temporary);
  if (write(static_cast<const char*>(temporary)) && Vak::File::Rename(temporary, target)) return true;
  Vak::File::Unlink(temporary);
  return false;
}

// The asset's thumbnail as `target`: the extracted ".jpg" when there is one,
// else the package's own thumbnail.
void WriteThumbnail(const KUID& kuid, const ACSChunkPtr& packageThumbnail, const char* target) {
  Vak::File::Path found;
  Vak::String rootName;
  if (VADExtractThumbnail(kuid, kThumbnailSize, found, rootName) == 1 && found.IsExt("jpg")) {
    ReplaceFile(target, [&](const char* temporary) {
      return CopyFileStream(PString(), found, PString(), temporary);
    });
    return;
  }
  if (packageThumbnail.IsNull() || packageThumbnail->GetDataSize() == 0) return;
  Vak::String error;
  SaveThumbnailFile(error, packageThumbnail, target);
}

void ReportAsset(const KUID& kuid, const ACSChunkPtr& packageThumbnail, const Vak::File::Path& outputFolder,
                 ResultsLog& log) {
  VelmarPropertyPtr property = MakeAssetProperty(kuid);
  log.PushProperty(property.Get());

  VADAssetHandle handle = VADOpenAsset(kuid, true, &log);
  bool kept = false;
  VADCommitAssetEdits(handle, 0, &log, kept);
  CommandStatus(kuid, log);
  CommandValidate(kuid, log);

  VADAssetStatus status;
  VADGetAssetStatus(kuid, status, 255);
  AddNote(log, "Name: %s", EscapeResultText(VADGetAssetName(kuid)));
  AddNote(log, "Description: %s", EscapeResultText(VADGetAssetDescription(kuid)));
  AnsiString build;
  build.Setf("Velmar-build: %.1f", static_cast<double>(status.build));
  log.AddMessage(ResultsLog::kNote, nullptr, build);
  KUIDList dependencies;
  VADGetDependencies(kuid, dependencies);
  AddNote(log, "Dependencies: %s", FormatKUIDList(dependencies));
  KUIDList obsoleted;
  VADGetObsoletedKuids(kuid, obsoleted);
  AddNote(log, "Obsoletes: %s", FormatKUIDList(obsoleted));

  const AnsiString spaced = kuid.ToSpacedText();
  Vak::File::Path target(outputFolder);
  target.AddPath(spaced);
  target.Add(".cdp");
  WriteAssetToCDP(kuid, target, log);
  target.SetExt("jpg");
  WriteThumbnail(kuid, packageThumbnail, target);

  const ACSChunkPtr config = VADGetAssetConfig(kuid);
  AddNote(log, "kind: %s", config.GetChildString(PString("kind")).c_str());
  const KUID alias = config.GetChildKUID(PString("alias"), KUID::Null());
  AddNote(log, "alias-kuid: %s", alias.ToConfigText().c_str());
  AddNote(log, "category-region: %s", EscapeResultText(VADGetAssetRegionList(kuid)));
  AddNote(log, "category-era: %s", EscapeResultText(VADGetAssetEraList(kuid)));
  AddNote(log, "category-class: %s", EscapeResultText(config.GetChildString(PString("category-class")).c_str()));

  log.PopProperty();
}

} // namespace

bool CommandStatus(const KUID& kuid, ResultsLog& log) {
  VADAssetStatus status;
  if (!VADGetAssetStatus(kuid, status, 255)) {
    AddAssetError(log, "Unknown AssetID.", kuid);
    return false;
  }
  const AnsiString letters =
      VADStatusLetters(status, VADHasMissingDependencies(kuid, 0), VADAssetHasErrors(kuid));
  std::printf("+ %s : %s : %s : %s\n", kuid.ToConfigText().c_str(), static_cast<const char*>(letters),
              static_cast<const char*>(status.text0), static_cast<const char*>(status.name));
  return true;
}

bool CommandValidate(const KUID& kuid, ResultsLog& log) {
  const VADAssetHandle handle = VADOpenAsset(kuid, false, &log);
  Vak::File::Path path;
  if (!handle.IsValid() || !handle.GetPath(path)) return false;
  PString archive;
  Vak::File::Path folder;
  if (!ValidationPlace(handle, archive, folder)) return false;
  VelmarPropertyPtr property = MakeAssetProperty(kuid);
  log.PushProperty(property.Get());
  VADValidateAsset(archive, folder, log);
  log.PopProperty();
  return true;
}

bool CommandDLSParse(const char* path, ResultsLog& log) {
  VADLock lock;
  lock.Acquire(true);
  const int32_t errorsBefore = log.GetErrorCount();
  ContentPackage package;
  Vak::String error;
  package.Read(error, "", path);
  if (error.Size() > 0) {
    ACSChunkPtr parameters;
    parameters.SetChildString(PString("file_path"), path);
    log.AddMessage(ResultsLog::kError, nullptr, "$vad_unreadable_cdp", parameters);
    return false;
  }
  const ACSChunkPtr packageThumbnail = package.GetChild(PString("thumbnail"));

  KUIDList installed;
  for (int i = 0; i < package.GetAssetCount(); ++i) {
    ContentPackageItem item = package.GetAsset(i);
    bool kept = false;
    AddKUIDUnique(VADInstallAsset(item, &log, 0, kept, nullptr), installed);
  }

  if (log.GetErrorCount() > errorsBefore) {
    // Every install left its asset open for edit: a new asset exists only
    // there, so it is reverted through an edit handle, which copies nothing.
    for (const KUID& kuid : installed) VADRevertAsset(VADOpenAsset(kuid, true, nullptr), nullptr);
    log.AddMessage(ResultsLog::kError, nullptr, "Aborted processing");
    return false;
  }

  Vak::File::Path outputFolder(path);
  outputFolder.DelName(true);
  for (const KUID& kuid : installed) ReportAsset(kuid, packageThumbnail, outputFolder, log);
  return true;
}

bool CommandDLSDeleteAll(ResultsLog&) {
  KUIDList local;
  VADSelectAssets(VADFilterElementBool(0), local);
  for (const KUID& kuid : local) VADDeleteAsset(kuid, true, nullptr);
  return true;
}

AnsiString EscapeResultText(const char* text) {
  AnsiString out;
  if (!text) return out;
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    if (c == '\r' || c == '\n') {
      out += "\\n";
      const char pair = c == '\r' ? '\n' : '\r';
      if (p[1] == pair) ++p;
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      const char one[2] = {c, 0};
      out += one;
    }
  }
  return out;
}

AnsiString FormatKUIDList(const KUIDList& list) {
  AnsiString out;
  bool first = true;
  for (const KUID& kuid : list) {
    if (!first) out += ", ";
    out += kuid.ToConfigText().c_str();
    first = false;
  }
  return out;
}

void WriteAssetToCDP(const KUID& kuid, const char* path, ResultsLog& log) {
  ContentPackageItem item = VADReadAssetForPackage(kuid, &log, 3);
  item.UpdateDSID();
  ContentPackage package;
  Vak::String error;
  if (package.AddAsset(error, item)) package.Write(error, path);
  if (error.Size() == 0) return;
  AnsiString line;
  line.Setf("Unable to write asset to CDP: %s", static_cast<const char*>(error));
  log.AddMessage(ResultsLog::kError, nullptr, line);
}

bool SaveThumbnailFile(Vak::String& error, const ACSChunkPtr& data, const char* path) {
  if (error.Size() > 0) return false;
  const bool written = ReplaceFile(path, [&](const char* temporary) {
    return WritePackageFile(error, data, temporary, PString()) && error.Size() == 0;
  });
  return written && error.Size() == 0;
}
