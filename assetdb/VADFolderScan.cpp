#include "assetdb/VADFolderScan.h"

#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Exception.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADRecordConfig.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"

using Vak::File;
using Path = Vak::File::Path;

namespace {

bool Cancelled(const std::atomic<uint8_t>* cancel) { return cancel && cancel->load() != 0; }

// Record folders are stored with '\'.
constexpr char kStoredSeparator = '\\';

// Where a folder of a scan lies: inside the archive `source` for archive
// mode, else under the root folder `source`.
struct Place {
  Vak::PString substitute;
  std::string path;
};

Place PlaceOf(const char* source, const char* folder, int mode) {
  Place place;
  if (mode == kScanArchive) {
    place.substitute = Vak::PString(source);
    place.path = folder ? folder : "";
  } else {
    Path root = GetDatabaseRootPath();
    root.AddPath(Vak::JoinPath(source, folder, kStoredSeparator).c_str());
    place.path = static_cast<const char*>(root);
  }
  return place;
}

std::vector<std::string> SubFolders(const Place& place) {
  std::vector<std::string> names;
  Path pattern;
  if (!pattern.Set(place.path.c_str()) || (place.path.size() && !pattern.AddSlash()) || !pattern.Add("*"))
    return names;
  pattern.ReplaceForwardSlashes();
  File::Find find;
  try {
    if (!(place.substitute.Length() > 0 ? find.Open(pattern, place.substitute) : find.Open(pattern))) return names;
  } catch (const Vak::FileEx&) {
    return names;
  }
  do {
    if (!IsDotName(find.name) && (find.attributes & File::Entry::kFolder)) names.emplace_back(find.name);
  } while (find.Next());
  return names;
}

// The last component of a path, whichever separator it uses.
std::string LastName(const char* path) {
  std::string name = path ? path : "";
  while (!name.empty() && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  const std::size_t cut = name.find_last_of("\\/");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

} // namespace

bool MoveFolderToTrash(const Vak::PString& substitute, const char* path, Path& moved) {
  moved = Path();
  if (!FolderHasFiles(substitute, path)) return DeleteInsideDatabaseRoot(substitute, path);
  Path trash = GetDatabaseRootPath();
  trash.AddPath("trash");
  Path target;
  if (!CreateTemporaryFilePath(Vak::PString(), trash, "unknown", nullptr, LastName(path).c_str(), target)) return false;
  if (!RenameInRoot(substitute, path, Vak::PString(), target)) return false;
  moved = target;
  return true;
}

std::vector<std::string> ListSubFolders(const char* source, const char* folder, int mode) {
  return SubFolders(PlaceOf(source, folder, mode));
}

bool AddAssetFromFolder(const char* folder, const char* source, int mode) {
  VADAssetInfo record;
  switch (mode) {
  case kScanArchive:
    record.archivePath = folder;
    record.archiveName = Vak::PString(source);
    record.flags |= VADAssetInfo::kArchiveHeld;
    record.stateFlags |= VADAssetInfo::kBuiltIn;
    break;
  case kScanLocal:
    record.localPath = Vak::JoinPath(source, folder, kStoredSeparator).c_str();
    break;
  case kScanEditing:
    record.editingPath = Vak::JoinPath(source, folder, kStoredSeparator).c_str();
    break;
  default:
    return false;
  }
  ACSChunkPtr config;
  if (!ReadRecordConfig(record, config) || !FillFromConfig(config, record, true)) return false;

  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo* stored = gVadAssetIndex.Find(record.kuid);
  const bool existed = stored != nullptr;
  // A second local copy of an asset whose record has its own (as its local
  // folder, or in the folder archive "local") is a leftover, not the asset.
  if (mode == kScanLocal && existed && stored->HasArchiveLocation() &&
      stored->archiveName.EqualsIgnoreCase("local") && !VADSamePath(stored->archivePath, folder))
    return false;
  // The config just read serves the refresh too.
  if (!gVadAssetIndex.Add(record, &config) && mode == kScanLocal) return false;
  stored = gVadAssetIndex.Find(record.kuid);
  if (existed && stored && static_cast<int32_t>(stored->ComputeContentHash()) != stored->contentHash) {
    stored->UpdateStateFlags(0, VADAssetInfo::kFaulty);
    gVadAssetIndex.Refresh(*stored, false);
    gVadAssetIndex.SetRebuiltFlag(1);
  }
  return true;
}

void ScanFolder(const char* source, const char* folder, int mode, const VADLocationSet& known,
                const std::atomic<uint8_t>* cancel) {
  std::vector<std::string> found;
  for (const std::string& name : SubFolders(PlaceOf(source, folder, mode))) {
    const std::string path = Vak::JoinPath(folder, name.c_str(), kStoredSeparator);
    if (!known.Contains(source, path.c_str())) found.push_back(name);
  }
  for (const std::string& name : found) {
    if (Cancelled(cancel)) return;
    const std::string path = Vak::JoinPath(folder, name.c_str(), kStoredSeparator);
    // A "temp" folder in a hash folder is what a killed folder rewrite left:
    // a copy, never the asset's place. (Editing folders may carry any asset's
    // name, so the rule is for local folders only.)
    const bool leftover = mode == kScanLocal && Vak::CodePage::CompareIgnoreCaseN(name.c_str(), "temp", 4) == 0;
    if (leftover || !AddAssetFromFolder(path.c_str(), source, mode)) {
      const Place place = PlaceOf(source, path.c_str(), mode);
      Path moved;
      MoveFolderToTrash(place.substitute, place.path.c_str(), moved);
    }
  }
}

void ScanLocalFolders(const std::atomic<uint8_t>* cancel) {
  VADLocationSet known;
  {
    VADLock lock;
    lock.Acquire(false);
    gVadAssetIndex.CollectLocations(known);
  }
  for (int i = 0; i < 256 && !Cancelled(cancel); ++i) {
    char bucket[16];
    std::snprintf(bucket, sizeof bucket, "hash-%02X", i);
    Path folder = GetDatabaseRootPath();
    folder.AddPath("local");
    folder.AddPath(bucket);
    if (!File::Exists(folder).Ok()) continue;
    ScanFolder("local", bucket, kScanLocal, known, cancel);
  }
}

void ScanArchive(const char* name, const std::atomic<uint8_t>* cancel) {
  const Vak::PString archive(name);
  AssetArchiveHold hold(archive);
  if (!hold.Database()) return;
  VADLocationSet known;
  {
    VADLock lock;
    lock.Acquire(false);
    gVadAssetIndex.CollectLocations(known);
  }
  Place top;
  top.substitute = archive;
  for (const std::string& folder : SubFolders(top)) {
    if (Cancelled(cancel)) return;
    ScanFolder(name, folder.c_str(), kScanArchive, known, cancel);
  }
}

Vak::PString GetSettingValue(const char* section, const char* key) {
  gVadAssetIndex.settingsLock.Lock();
  const Vak::PString value = gVadAssetIndex.settings.GetChildContainer(section).GetChildString(key);
  gVadAssetIndex.settingsLock.Unlock();
  return value;
}

void SetSettingValue(const char* section, const char* key, const char* value) {
  VADLock lock;
  lock.Acquire(true);
  gVadAssetIndex.settingsLock.Lock();
  ACSChunkPtr& settings = gVadAssetIndex.settings;
  ACSChunkPtr group = settings.GetChildContainer(section);
  const bool changed = group.IsNull() || std::string(group.GetChildString(key).c_str()) != (value ? value : "");
  if (changed) {
    settings.MakeContainer();
    if (group.IsNull()) {
      group.MakeContainer();
      settings.SetChild(section, group);
    }
    group.SetChildString(key, value);
  }
  gVadAssetIndex.settingsLock.Unlock();
  if (changed) gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtySetting);
}
