#include "assetdb/VADRecordConfig.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/CategoryList.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADDependencyTable.h"
#include "assetdb/VADKeys.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"

namespace {

using Vak::AnsiString;
using Vak::PString;
using Vak::CodePage::AsciiLower;

// Keys only this file reads.
const PString& MapKuidKey() {
  static const PString key("map-kuid");
  return key;
}
const PString& SecretKey() {
  static const PString key("secret");
  return key;
}
const PString& UntitledTag() {
  static const PString key("$cm_general_untitled");
  return key;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsQuote(char c) { return c == '\'' || c == '"'; }

// The build as the config states it, in whole hundredths.
int StatedHundredths(const ACSChunkPtr& config) {
  return BuildHundredths(config.GetChildFloat(VADKeys::VelmarBuild(), 0.0f), 0.005f);
}

bool HasChild(const ACSChunkPtr& config, const PString& key) { return config.HasChild(key); }

// The values "base-0", "base-1", ... up to the first missing or empty one.
template <typename Visit>
void ForEachIndexed(const ACSChunkPtr& config, const char* base, Visit visit) {
  for (int i = 0;; ++i) {
    PString key;
    key.Setf("%s-%d", base, i);
    const PString value = config.GetChildString(key);
    if (value.Length() == 0) return;
    visit(value.c_str());
  }
}

// The list without the code.
AnsiString WithoutCode(const char* codes, const char* code) {
  AnsiString out;
  const char* p = codes;
  while (*p) {
    const char* end = p;
    while (*end && *end != ';') ++end;
    const AnsiString item(p, static_cast<unsigned>(end - p));
    if (item.Size() > 0 && !item.EqualsIgnoreCase(code) && std::strcmp(item, code) != 0) CategoryList::AppendTerm(out, item);
    p = *end ? end + 1 : end;
  }
  return out;
}

std::string AsciiCase(const char* text, bool upper) {
  std::string out(text ? text : "");
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper) c = AsciiLower(c);
  }
  return out;
}

// One region entry: upper case, no trailing blanks; a known code as it is,
// else the code of a region of that name.
void AppendRegion(AnsiString& list, const char* entry) {
  std::string text = AsciiCase(entry, true);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  const char* code = text.size() == 2 && IsRegionCode(text.c_str()) ? text.c_str() : RegionCodeForName(text.c_str());
  if (*code) CategoryList::AppendTerm(list, code);
}

struct ConfigCache {
  std::mutex mutex;
  const VADAssetInfo* record = nullptr;
  ACSChunkPtr config;
};

ConfigCache& Cache() {
  static ConfigCache* cache = new ConfigCache;
  return *cache;
}

bool LoadChunk(const PString& archive, const char* folder, const char* file, ACSChunkPtr& config) {
  Vak::File::Path path(folder);
  if (!path.AddPath(file)) return false;
  ACSChunkPtr loaded;
  const bool opened = archive.Length() > 0 ? loaded.Load(archive.c_str(), path) : loaded.Load(nullptr, path);
  if (!opened || loaded.IsNull()) return false;
  config = loaded;
  return true;
}

bool FolderExists(const PString& archive, const char* folder) {
  AssetArchiveHold hold(archive);
  return FileExists(archive, folder);
}

} // namespace

Vak::String VADCleanAssetName(const char* text) {
  const char* start = text ? text : "";
  while (IsBlank(*start)) ++start;
  const char* end = start + std::strlen(start);
  while (end > start && IsBlank(end[-1])) --end;
  if (end > start && IsQuote(*start)) ++start;
  if (end > start && IsQuote(end[-1])) --end;
  if (end == start) return Vak::String(GetInterfaceString(UntitledTag()));
  return Vak::String(start, static_cast<unsigned>(end - start));
}

float VADConfigBuild(const ACSChunkPtr& config) {
  const float stated = config.GetChildFloat(VADKeys::VelmarBuild(), 0.0f);
  if (stated >= 1.0f && stated < 100.0f) return stated + 0.005f;
  if (HasChild(config, VADKeys::MeshTable()) || HasChild(config, VADKeys::Class()) ||
      HasChild(config, VADKeys::ScriptClass()))
    return 2.0f;
  return 1.3f;
}

void VADConfigClassCodes(const ACSChunkPtr& config, AnsiString& out) {
  const PString kind = config.GetChildString(VADKeys::Kind());
  AnsiString codes;
  const PString legacy = config.GetChildString(VADKeys::CategoryClass());
  if (legacy.Length() > 0) {
    codes = CategoryList::CodesForLegacyCode(kind.c_str(), legacy.c_str());
    const char* implied = CategoryList::KindForCodes(codes);
    if (*implied && !kind.EqualsIgnoreCase(implied)) codes = AnsiString();
    // A config that says it is not track keeps no track code.
    if (HasChild(config, VADKeys::IsTrack()) && config.GetChildInt(VADKeys::IsTrack(), 0) == 0)
      codes = WithoutCode(codes, "TK");
  }
  const bool trackside = HasChild(config, VADKeys::Trackside()) || kind.EqualsIgnoreCase(VADKeys::MoJunction()) ||
                         kind.EqualsIgnoreCase(VADKeys::Speedboard()) || kind.EqualsIgnoreCase(VADKeys::Signal());
  if (codes.Size() == 0) {
    AnsiString qualifier;
    CategoryList::AppendTerm(qualifier, config.GetChildString(VADKeys::Type()).c_str());
    if (config.GetChildInt(VADKeys::IsTrack(), 0) != 0) {
      CategoryList::AppendTerm(qualifier, "track");
    } else if (config.GetChildInt(VADKeys::IsRoad(), 0) != 0) {
      CategoryList::AppendTerm(qualifier, "road");
    } else if (trackside) {
      CategoryList::AppendTerm(qualifier, "trackside");
    } else if (HasChild(config, VADKeys::IsTrack())) {
      CategoryList::AppendTerm(qualifier, "road");
    }
    if (kind.EqualsIgnoreCase(VADKeys::Traincar())) {
      if (config.GetChildInt(VADKeys::Tender(), 0) != 0) {
        CategoryList::AppendTerm(qualifier, "tender");
      } else if (config.GetChildInt(VADKeys::Engine(), 0) == 1) {
        CategoryList::AppendTerm(qualifier, "locomotive");
      } else {
        CategoryList::AppendTerm(qualifier, "rollingstock");
      }
    }
    codes = CategoryList::CodesForKind(kind.c_str(), qualifier);
  }
  const bool hasTO = CategoryList::HasCode(codes, "TO");
  if (trackside && !hasTO) CategoryList::AppendTerm(codes, "TO");
  if (!trackside && hasTO) codes = WithoutCode(codes, "TO");
  const PString custom = config.GetChildString(VADKeys::CustomCategoryList());
  if (custom.Length() > 0 && custom.Length() <= 64) {
    // A union: each code of the list that is not there yet joins at the end.
    AnsiString merged;
    CategoryList::Merge(codes, merged, AsciiCase(custom.c_str(), true).c_str());
    codes = merged;
  }
  out = codes;
}

void VADConfigEraList(const ACSChunkPtr& config, AnsiString& out) {
  if (HasChild(config, VADKeys::CategoryEra())) {
    out = config.GetChildString(VADKeys::CategoryEra());
    return;
  }
  AnsiString list;
  ForEachIndexed(config, "category-era", [&](const char* value) {
    const char* start = value;
    while (*start == ' ') ++start;
    const char* end = start + std::strlen(start);
    while (end > start && end[-1] == ' ') --end;
    if (end > start && (end[-1] == 's' || end[-1] == 'S')) --end;
    const auto n = static_cast<unsigned>(end - start);
    bool digits = n == 2 || n == 4;
    for (const char* c = start; digits && c < end; ++c) digits = *c >= '0' && *c <= '9';
    if (digits) CategoryList::AppendTerm(list, AnsiString(start, n));
  });
  out = list;
}

void VADConfigRegionList(const ACSChunkPtr& config, AnsiString& out) {
  if (HasChild(config, VADKeys::CategoryRegion())) {
    out = config.GetChildString(VADKeys::CategoryRegion());
    return;
  }
  AnsiString list;
  if (HasChild(config, VADKeys::CategoryRegion0())) {
    ForEachIndexed(config, "category-region", [&](const char* value) { AppendRegion(list, value); });
    if (StatedHundredths(config) < 250 && list.EqualsIgnoreCase("to")) list = "00";
  } else {
    const PString region = config.GetChildString(VADKeys::Region());
    if (HasChild(config, VADKeys::Region()) && region.c_str()[0] != '<') {
      AppendRegion(list, region.c_str());
    } else if (HasChild(config, VADKeys::Origin())) {
      AppendRegion(list, config.GetChildString(VADKeys::Origin()).c_str());
    }
  }
  out = list;
}

bool FillFromConfig(const ACSChunkPtr& config, VADAssetInfo& record, bool readKuid) {
  if (ACSChunk::AsContainer(config.Get()).IsNull()) return false;
  if (readKuid) {
    record.kuid = config.GetChildKUID(VADKeys::Kuid(), KUID::Null());
    if (record.kuid.IsNull()) return false;
  }
  AnsiString text;
  VADConfigClassCodes(config, text);
  record.categoryClasses = text;

  PString name;
  for (const PString* key : {&VADKeys::Username(), &VADKeys::Name(), &VADKeys::AssetFilename()}) {
    name = config.GetChildString(*key);
    if (name.Length() > 0) break;
  }
  std::string raw(name.c_str());
  if (StatedHundredths(config) < 290)
    for (char& c : raw)
      if (c == '_') c = ' ';
  record.name = VADCleanAssetName(raw.c_str());

  VADConfigRegionList(config, text);
  record.regionList = text;
  VADConfigEraList(config, text);
  record.eraList = text;

  const PString keyword = config.GetChildString(VADKeys::CategoryKeyword());
  AnsiString keywords;
  if (keyword.Length() > 0) {
    keywords = keyword;
  } else {
    CategoryList::Normalise(config.GetChildString(VADKeys::Company()).c_str(), keywords);
  }
  record.keywords = AsciiCase(keywords, false).c_str();

  record.mapKuid = CategoryList::HasCode(record.categoryClasses, "SS") ? config.GetChildKUID(MapKuidKey(), KUID::Null())
                                                                       : KUID::Null();
  if (record.sizeOnDisk == -1) record.sizeOnDisk = record.ComputeSize();
  record.build = VADConfigBuild(config);

  const PString productType = config.GetChildString(VADKeys::ProductType());
  record.UpdateFlags(VADAssetInfo::kReskin | VADAssetInfo::kInArchiveKnown,
                     productType.EqualsIgnoreCase("reskin") ? VADAssetInfo::kReskin : 0);

  uint8_t permissions = record.permissions & ~(VADAssetInfo::kPermitCommit | VADAssetInfo::kPermitEdit |
                                               VADAssetInfo::kPermitListing);
  const ACSChunkPtr privileges = config.GetChildContainer(VADKeys::Privileges());
  const bool hasPrivileges = !privileges.IsNull();
  if (BuildHundredths(record.build) >= 250 || hasPrivileges) {
    const bool commit = !record.IsBuiltIn() || privileges.GetChildInt(VADKeys::PermitCommit(), 1) != 0;
    const bool edit = !record.IsBuiltIn() || privileges.GetChildInt(VADKeys::PermitEdit(), 1) != 0;
    bool listing = privileges.GetChildInt(VADKeys::PermitListing(), 1) != 0;
    if (HasChild(config, SecretKey())) listing = config.GetChildInt(SecretKey(), 0) == 0;
    if (commit) permissions |= VADAssetInfo::kPermitCommit;
    if (edit) permissions |= VADAssetInfo::kPermitEdit;
    if (listing) permissions |= VADAssetInfo::kPermitListing;
  } else {
    permissions |= VADAssetInfo::kPermitCommit | VADAssetInfo::kPermitEdit;
    if (config.GetChildInt(SecretKey(), 0) == 0 && !productType.EqualsIgnoreCase("template"))
      permissions |= VADAssetInfo::kPermitListing;
  }
  record.permissions = permissions;
  record.BuildKeywords();
  return true;
}

bool FindConfig(const char* folder, const PString& archiveName, ACSChunkPtr& config) {
  if (!folder) return false;
  AssetArchiveHold hold(archiveName);
  return LoadChunk(archiveName, folder, "config.chump", config) || LoadChunk(archiveName, folder, "config.txt", config);
}

bool ReadRecordConfig(const VADAssetInfo& record, ACSChunkPtr& config) {
  if (record.HasLocalFolder()) return FindConfig(record.GetLocalFolder(), PString(), config);
  if (record.HasArchiveLocation()) return FindConfig(record.archivePath, record.archiveName, config);
  if (record.HasEditingFolder()) return FindConfig(record.GetEditingFolder(), PString(), config);
  return false;
}

ACSChunkPtr GetRecordConfig(const VADAssetInfo& record) {
  ConfigCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  if (cache.record == &record) return cache.config;
  ACSChunkPtr config;
  if (!ReadRecordConfig(record, config)) config.Release();
  cache.record = &record;
  cache.config = config;
  return config;
}

void DropRecordConfig(const VADAssetInfo& record) {
  ConfigCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  if (cache.record != &record) return;
  cache.record = nullptr;
  cache.config.Release();
}

void KeepRecordConfig(const VADAssetInfo& record, const ACSChunkPtr& config) {
  ConfigCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  cache.record = &record;
  cache.config = config;
}

void ClearRecordConfigCache() {
  ConfigCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.mutex);
  cache.record = nullptr;
  cache.config.Release();
}

bool VerifyRecord(VADAssetInfo& record) {
  if (record.HasArchiveLocation() && !FolderExists(record.archiveName, record.archivePath))
    record.ClearArchiveLocation();
  if (record.HasLocalFolder() && !FolderExists(PString(), record.GetLocalFolder())) record.ClearLocalFolder();
  if (record.HasEditingFolder() && !FolderExists(PString(), record.GetEditingFolder())) record.ClearEditingFolder();

  // The hash, the size, the refresh and its validation each walk the
  // asset's folders, which nothing here changes: one listing serves them all.
  Vak::File::ListingMemo listings;
  const uint32_t hash = record.ComputeContentHash();
  if (hash != 0 && static_cast<int32_t>(hash) == record.contentHash) return true;
  record.contentHash = static_cast<int32_t>(hash);
  gVadAssetIndex.RaiseObsoleteGeneration();
  record.sizeOnDisk = -1;

  if (!record.HasAnyLocation()) {
    VADDependencyTable::Instance().SetDependencies(record.kuid, KUIDList());
    return true;
  }
  if (record.HasEditingFolder() && record.IsInstalled()) return false;
  ACSChunkPtr config;
  if (!ReadRecordConfig(record, config) || !FillFromConfig(config, record, false)) return false;
  // The config just read serves the refresh too.
  gVadAssetIndex.Refresh(record, true, &config);
  return true;
}

bool VADValidateAsset(const PString& archiveName, const char* folder, ResultsLog& results) {
  if (IsMainThread()) SharedLock::DropUnusedCaches();
  VADLock lock;
  lock.Acquire(false);
  AssetArchiveHold hold(archiveName);
  const char* configName = nullptr;
  for (const char* name : {"config.chump", "config.txt"}) {
    Vak::File::Path path(folder);
    if (path.AddPath(name) && FileExists(archiveName, path)) {
      configName = name;
      break;
    }
  }
  if (!configName) return false;
  VADValidationService* service = GetVADServices().validation;
  if (!service) return true;

  // Inside an archive the data manager reaches the folder through its
  // substitute.
  AnsiString where;
  if (archiveName.Length() > 0) where.Setf("%s:", archiveName.c_str());
  where += folder;
  const bool archivePresent = archiveName.Length() > 0 && ArchiveFileExists(archiveName.c_str());
  bool loaded = false;
  bool kindUnchanged = false;
  try {
    loaded = service->ValidateAsset(where, archiveName.Length() > 0 ? archiveName.c_str() : nullptr, configName,
                                    archivePresent, results, kindUnchanged);
  } catch (...) {
    Vak::File::Path path(where);
    path.AddPath(configName);
    ACSChunkPtr parameters;
    parameters.SetChildString(PString("file_path"), path);
    results.AddMessage(3, nullptr, "$vad_validating_crash", parameters);
  }
  if (IsMainThread()) service->PurgeLoadedData();
  service->ClearMeshFailureReported();
  return loaded && kindUnchanged;
}
