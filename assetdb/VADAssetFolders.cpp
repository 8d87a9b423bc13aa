#include "assetdb/VADAssetFolders.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADRecordConfig.h"
#include "assetdb/VADTask.h"
#include "cdp/PackageFiles.h"
#include "content/ACSChunk.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"
#include "content/TStream.h"
#include "platform/os/ExchangePaths.h"
#include "platform/os/FileSystem.h"

using Vak::PString;
using Path = Vak::File::Path;

namespace {

bool PlatformRename(const char* from, const char* to) { return platform::Rename(from, to) == platform::Error::None; }

bool MakeFreshFolder(const char* folder, const char* prefix, const char* preferred, Path& out,
                     bool (*claimed)(const char*) = nullptr) {
  return CreateTemporaryFilePath(PString(), folder, prefix, nullptr, preferred, out, claimed) &&
         platform::MakeFolder(out) == platform::Error::None;
}

// A folder a record names stays its own even while empty or gone: handing
// it to another asset would let a revert of one delete the other's files.
bool RecordHolds(const char* folder) {
  Vak::String stored;
  if (!VADStoredFolder(folder, stored)) return false;
  const char* wanted = stored;
  for (const VADAssetInfo* record : gVadAssetIndex.Records()) {
    if (record->HasEditingFolder() && VADSamePath(static_cast<const char*>(record->editingPath), wanted)) return true;
    if (record->HasLocalFolder() && VADSamePath(static_cast<const char*>(record->localPath), wanted)) return true;
  }
  return false;
}

// A stored folder as VADSamePath compares it.
std::string ClaimKey(const char* stored) {
  std::string key(stored);
  for (char& c : key) c = c == '/' ? '\\' : Vak::CodePage::AsciiLower(c);
  return key;
}

// The table of a VADFolderClaimsBatch, made at its first use.
struct FolderClaims {
  bool made = false;
  std::unordered_set<std::string> keys;

  void Add(const Vak::String& stored) {
    if (stored.Size() > 0) keys.insert(ClaimKey(static_cast<const char*>(stored)));
  }
};
FolderClaims* gFolderClaims = nullptr;
int gFolderClaimBatches = 0;

void NoteClaim(const VADAssetInfo& record) {
  if (!gFolderClaims || !gFolderClaims->made) return;
  gFolderClaims->Add(record.editingPath);
  gFolderClaims->Add(record.localPath);
}

bool NamedByRecord(const char* folder) {
  if (!gFolderClaims) return RecordHolds(folder);
  if (!gFolderClaims->made) {
    for (const VADAssetInfo* record : gVadAssetIndex.Records()) {
      gFolderClaims->Add(record->editingPath);
      gFolderClaims->Add(record->localPath);
    }
    gFolderClaims->made = true;
  }
  Vak::String stored;
  if (!VADStoredFolder(folder, stored)) return false;
  // A folder the table does not hold is free; one it holds may have been
  // let go since, which the records tell.
  return gFolderClaims->keys.count(ClaimKey(static_cast<const char*>(stored))) > 0 && RecordHolds(folder);
}

// The name of a child that is a container, or empty for a value.
bool IsContainerAt(const ACSChunkPtr& tree, int index) { return !tree.GetChildContainerAt(index).IsNull(); }

// A config file of the folder that exists; empty when none.
std::string ExistingConfig(const PString& archive, const char* folder) {
  for (const char* name : {"config.txt", "config.chump"}) {
    Path path(folder);
    if (!path.AddPath(name)) continue;
    if (archive.IsNull() ? platform::Exists(path) : FileExists(archive, path)) return std::string(path);
  }
  return std::string();
}

} // namespace

VADFolderClaimsBatch::VADFolderClaimsBatch() {
  if (gFolderClaimBatches++ == 0) gFolderClaims = new FolderClaims;
}

VADFolderClaimsBatch::~VADFolderClaimsBatch() {
  if (--gFolderClaimBatches > 0) return;
  delete gFolderClaims;
  gFolderClaims = nullptr;
}

VADRenameFunction gVadRewriteRename = PlatformRename;
bool gVadRewriteExchange = true;

VADAssetInfo* NewAssetRecord(const KUID& requested, const char* name) {
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  const KUID kuid = requested.IsNull() ? VADGenerateKuid() : requested;
  if (kuid.IsNull() || gVadAssetIndex.Find(kuid) != nullptr) return nullptr;
  VADAssetInfo record;
  record.kuid = kuid;
  record.categoryClasses = "?";
  record.name = (name && *name) ? name : "New Asset";
  record.BuildKeywords();
  return gVadAssetIndex.Insert(record);
}

uint8_t LocalHashBucket(const KUID& kuid) {
  uint32_t w0 = 0, w1 = 0;
  kuid.Pack(w0, w1);
  uint32_t h = w0 ^ w1;
  h ^= h >> 16;
  return static_cast<uint8_t>((h >> 8) ^ h);
}

Path MakeLocalHashFolder(const KUID& kuid) {
  char name[16];
  std::snprintf(name, sizeof name, "hash-%02X", LocalHashBucket(kuid));
  Path local = InDatabaseRoot("local");
  Path hash = local;
  if (local.Length() == 0 || !hash.AddPath(name)) return Path();
  // Mostly there already, else mostly its parent is: neither needs a walk
  // down from the file system's root.
  platform::FileInfo info;
  if (platform::Stat(hash, info) == platform::Error::None && info.isFolder) return hash;
  if (platform::MakeFolder(hash) != platform::Error::None && platform::MakeFolderPath(hash) != platform::Error::None)
    return Path();
  return hash;
}

Path MakeLocalStagingFolder(const KUID& kuid) {
  const Path hash = MakeLocalHashFolder(kuid);
  Path folder;
  if (hash.Length() == 0 || !MakeFreshFolder(hash, "temp", nullptr, folder)) return Path();
  return folder;
}

bool PlaceStagedLocalFolder(VADAssetInfo& record, const char* staged) {
  if (record.HasLocalFolder()) return false;
  Path hash(staged);
  hash.DelName(true);
  Path folder;
  if (!CreateTemporaryFilePath(PString(), hash, "content", nullptr, nullptr, folder) || !record.SetLocalFolder(folder))
    return false;
  NoteClaim(record);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  if (platform::Rename(staged, folder) == platform::Error::None) return true;
  record.ClearLocalFolder();
  return false;
}

bool PlaceStagedEditingFolder(VADAssetInfo& record, const char* staged) {
  // The empty folder made for the record is replaced by the staged one.
  if (AllocateEditingFolder(record) && platform::Rename(staged, record.GetEditingFolder()) == platform::Error::None)
    return true;
  platform::DeleteTree(staged);
  return false;
}

bool AllocateLocalFolder(VADAssetInfo& record) {
  if (record.HasLocalFolder()) return false;
  const Path hash = MakeLocalHashFolder(record.kuid);
  Path folder;
  if (hash.Length() == 0 || !MakeFreshFolder(hash, "content", nullptr, folder)) return false;
  if (!record.SetLocalFolder(folder)) {
    platform::DeleteTree(folder);
    return false;
  }
  NoteClaim(record);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  return true;
}

bool AllocateEditingFolder(VADAssetInfo& record) {
  if (record.HasEditingFolder()) return false;
  const Path editing = InDatabaseRoot("editing");
  Path folder;
  if (editing.Length() == 0 || !MakeFreshFolder(editing, "edit ", record.DisplayName(), folder, &NamedByRecord))
    return false;
  if (!record.SetEditingFolder(folder)) {
    platform::DeleteTree(folder);
    return false;
  }
  NoteClaim(record);
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  return true;
}

bool FileOrTextureSourceExists(const char* path) {
  if (!path) return false;
  if (platform::Exists(path)) return true;
  if (!IsExtension(path, "texture")) return false;
  return platform::Exists((std::string(path) + ".txt").c_str());
}

bool DeleteCompiledScripts(const char* folder) {
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder, entries) != platform::Error::None) return false;
  bool ok = true;
  for (const platform::FolderEntry& entry : entries) {
    const std::string path = std::string(folder) + "/" + entry.name;
    if (entry.info.isFolder) {
      ok = DeleteCompiledScripts(path.c_str()) && ok;
      continue;
    }
    if (!IsExtension(entry.name.c_str(), "gse")) continue;
    const std::string source = path.substr(0, path.size() - 1);
    if (platform::Exists(source.c_str())) ok = platform::DeleteFile(path.c_str()) == platform::Error::None && ok;
  }
  return ok;
}

void RemoveConfigFiles(ACSChunkPtr& files) {
  files.RemoveChild(PString("config.txt"));
  files.RemoveChild(PString("config.chump"));
}

void RemoveTextureSources(ACSChunkPtr& files) {
  for (int i = files.GetChildCount() - 1; i >= 0; --i) {
    if (IsContainerAt(files, i)) {
      ACSChunkPtr sub = files.GetChildContainerAt(i);
      RemoveTextureSources(sub);
      continue;
    }
    const std::string name = files.GetChildName(i).c_str();
    if (!IsExtension(name.c_str(), "texture.txt")) continue;
    if (files.HasChild(PString(name.substr(0, name.size() - 4).c_str()))) files.RemoveChild(PString(name.c_str()));
  }
}

void RemoveGlobalDataEntry(const KUID& kuid) {
  char user[16];
  std::snprintf(user, sizeof user, "%d", kuid.user);
  const PString userName(user);
  ACSChunkPtr author = gVadAssetIndex.globalData.GetChildContainer(userName);
  if (!author.IsNull()) {
    author.RemoveChild(kuid.ToConfigText());
    if (author.GetChildCount() == 0) gVadAssetIndex.globalData.RemoveChild(userName);
  }
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyGlobalData);
}

Vak::AnsiString FormatKuidPair(const KUID& kuid) {
  uint32_t w0 = 0, w1 = 0;
  kuid.Pack(w0, w1);
  Vak::AnsiString text;
  text.Setf("%d:%d", static_cast<int32_t>(w1), static_cast<int32_t>(w0));
  return text;
}

namespace {

// The temporary folders of one rewrite, gone at the end whatever happened.
struct RewriteFolders {
  Path fresh;  // the new content
  Path spare;  // the old content's way out, only where there is no exchange
  ~RewriteFolders() {
    if (fresh.Length() > 0) platform::DeleteTree(fresh);
    if (spare.Length() > 0) platform::DeleteTree(spare);
  }
};

// The fresh folder takes the destination's place.
bool SwapIntoPlace(RewriteFolders& folders, const char* destination) {
  if (!platform::Exists(destination)) return gVadRewriteRename(folders.fresh, destination);
  if (gVadRewriteExchange) {
    bool supported = false;
    if (platform::ExchangePaths(folders.fresh, destination, supported) == platform::Error::None) return true;
    if (supported) return false;
  }
  // The spare is named only now; the old folder takes the free name.
  Path parent(destination);
  parent.DelName(true);
  if (!CreateTemporaryFilePath(PString(), parent, "temp", nullptr, nullptr, folders.spare)) return false;
  if (!gVadRewriteRename(destination, folders.spare)) {
    folders.spare = Path();
    return false;
  }
  if (gVadRewriteRename(folders.fresh, destination)) return true;
  gVadRewriteRename(folders.spare, destination);
  return false;
}

} // namespace

bool RewriteAssetFolder(const PString& sourceArchive, const char* sourceFolder, const char* destinationFolder,
                        ResultsLog& results, uint32_t flags) {
  if (!sourceFolder || !destinationFolder) return false;
  AssetArchiveHold sourceHold(sourceArchive);

  const std::string oldConfig = ExistingConfig(PString(), destinationFolder);
  if (!oldConfig.empty()) {
    TFile probe;
    if (!probe.Open(oldConfig.c_str(), Vak::File::kRead)) return false;
  }

  Path parent(destinationFolder);
  parent.DelName(true);
  RewriteFolders folders;
  if (!MakeFreshFolder(parent, "temp", nullptr, folders.fresh)) return false;

  ACSChunkPtr files;
  if (!PackFolderFiles(files, sourceFolder, sourceArchive, results, PString())) return false;
  RemoveConfigFiles(files);
  ACSChunkPtr config;
  const bool hasConfig = FindConfig(sourceFolder, sourceArchive, config);

  Vak::String error;
  if (!WritePackageFiles(error, files, folders.fresh, PString())) {
    results.AddMessage(ResultsLog::kError, nullptr, error);
    return false;
  }
  files.Release();

  if (hasConfig) {
    const PString build("velmar-build"), fileName("asset-filename");
    if (config.GetChildFloat(build, 0.0f) < 2.5f && !config.HasChild(fileName)) {
      Path source(sourceFolder);
      source.DelSlash();
      config.SetChildString(fileName, source.GetFileName());
    }
    Path chump(sourceFolder);
    const bool binary = chump.AddPath("config.chump") &&
                        (sourceArchive.IsNull() ? platform::Exists(chump) : FileExists(sourceArchive, chump));
    Path target(folders.fresh);
    if (!target.AddPath(binary ? "config.chump" : "config.txt") || !config.Save(nullptr, target)) return false;
  }

  if (!(flags & kRewriteCopyOnly) || (flags & kRewriteConvert)) {
    if (VADConvertTextures(PString(), folders.fresh, results) != 2) return false;
    DeleteCompiledScripts(folders.fresh);
  }

  return SwapIntoPlace(folders, destinationFolder);
}
