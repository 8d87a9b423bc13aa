#include "assetdb/VADAssetIndex.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADKeys.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADRecordConfig.h"
#include "assetdb/VADServices.h"
#include "cdp/ContentPackage.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/KUIDList.h"
#include "content/ResultsLog.h"

VADAssetIndex gVadAssetIndex;

namespace {

using Path = Vak::File::Path;
using Vak::CodePage::AsciiLower;

// Bucket counts the records' table grows through; its order is never
// stored, so only the load matters. Fuller buckets keep the table small
// enough for the cache: a look-up's cost is its one miss on the bucket.
constexpr unsigned kBucketSteps[] = {4093,   8191,   16381,   32749,   65521,    131071,  262139,
                                     524287, 1048573, 2097143, 4194301, 8388593, 16777213};

// Display-name order: bytes through the lower-case table; a prefix first.
// The names are lower-cased once; a comparison looks at the first sixteen
// bytes as two numbers and only then at the rest.
constexpr unsigned kHeadBytes = 16;

struct NamedRecord {
  uint64_t head[2];  // the first 16 bytes, big-endian, zeros after the end
  const char* tail;  // from the seventeenth byte on, when the name has that many
  VADAssetInfo* record;
};

bool NameLess(const NamedRecord& a, const NamedRecord& b) {
  if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
  if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
  // Equal heads that end early are equal names.
  if ((a.head[1] & 0xFF) == 0) return false;
  return std::strcmp(a.tail, b.tail) < 0;
}

// Lower-cased copies of the records' display names, one block for all.
std::vector<NamedRecord> LowerCasedNames(const GrowArray<VADAssetInfo*, VADAssetIndex::kSortedStep>& records,
                                         std::vector<char>& text) {
  const uint32_t n = records.Count();
  std::size_t total = 0;
  for (uint32_t i = 0; i < n; ++i) total += records[i]->DisplayName().Size() + 1;
  text.resize(total);
  std::vector<NamedRecord> items(n);
  char* out = text.data();
  for (uint32_t i = 0; i < n; ++i) {
    const Vak::String& name = records[i]->DisplayName();
    const char* in = name;
    const unsigned size = name.Size();
    for (unsigned k = 0; k < size; ++k) out[k] = AsciiLower(in[k]);
    out[size] = 0;
    NamedRecord& item = items[i];
    uint8_t head[kHeadBytes] = {};
    std::memcpy(head, out, std::min<std::size_t>(std::strlen(out), kHeadBytes));
    item.head[0] = Vak::GetBE64(head);
    item.head[1] = Vak::GetBE64(head + 8);
    item.tail = out + std::min(size, kHeadBytes);
    item.record = records[i];
    out += size + 1;
  }
  return items;
}

// The archive bits mean nothing without the archive path.
void DropStrayArchiveBits(VADAssetInfo& record) {
  if (record.HasArchiveLocation()) return;
  record.UpdateFlags(VADAssetInfo::kArchiveHeld, 0);
  record.UpdateStateFlags(VADAssetInfo::kBuiltIn, 0);
}

} // namespace

// --- Location keys -----------------------------------------------------------

std::string VADLocationSet::Key(const char* source, const char* path) {
  std::string key;
  // Archive names hold separators too ("builtin\\1").
  for (const char* s = source ? source : ""; *s; ++s) key += *s == '\\' ? '/' : AsciiLower(*s);
  key += ':';
  const char* p = path ? path : "";
  while (*p == '/' || *p == '\\') ++p;
  for (; *p; ++p) key += *p == '\\' ? '/' : AsciiLower(*p);
  while (!key.empty() && key.back() == '/') key.pop_back();
  return key;
}

// --- The index ---------------------------------------------------------------

VADAssetIndex::VADAssetIndex() : byKuid_(std::make_unique<KUIDHashTable>(kInitialBuckets, 0)) {
  VADDependencyTable::Instance().SetRecords(this);
}

VADAssetIndex::~VADAssetIndex() {
  for (VADAssetInfo* record : records_) VADAssetInfo::Free(record);
  records_.Clear();
  VADDependencyTable::Instance().SetRecords(nullptr);
}

VADAssetInfo* VADAssetIndex::Find(const KUID& kuid) const {
  MakeRecordsIfKept();
  KUIDHashTable::Iterator it = byKuid_->Find(kuid);
  return it.IsEnd() ? nullptr : it.Get<VADAssetInfo>();
}

VADAssetInfo* VADAssetIndex::RecordAt(uint64_t n) const {
  MakeRecordsIfKept();
  std::lock_guard<std::mutex> guard(cursorMutex_);
  if (cursor_.IsEnd() || n < cursorIndex_) {
    cursor_ = records_.Begin();
    cursorIndex_ = 0;
  }
  if (n > static_cast<uint64_t>(INT64_MAX)) return nullptr;
  cursor_.Advance(static_cast<int64_t>(n - cursorIndex_));
  cursorIndex_ = n;
  return cursor_.IsEnd() ? nullptr : *cursor_;
}

void VADAssetIndex::ForgetCursor() const {
  std::lock_guard<std::mutex> guard(cursorMutex_);
  cursor_ = RecordList::Iterator();
  cursorIndex_ = 0;
}

unsigned VADAssetIndex::BucketsFor(unsigned count) {
  unsigned buckets = kInitialBuckets;
  for (unsigned step : kBucketSteps) {
    if (count <= buckets * kMaxRecordsPerBucket) break;
    if (step > buckets) buckets = step;
  }
  return buckets;
}

void VADAssetIndex::GrowTableIfNeeded() {
  const unsigned buckets = byKuid_->BucketCount();
  if (byKuid_->Count() <= buckets * kMaxRecordsPerBucket) return;
  unsigned next = buckets;
  for (unsigned step : kBucketSteps)
    if (step > buckets) {
      next = step;
      break;
    }
  if (next == buckets) return;
  auto grown = std::make_unique<KUIDHashTable>(next, 0);
  for (VADAssetInfo* record : records_) grown->Insert(record);
  byKuid_ = std::move(grown);
}

void VADAssetIndex::AdoptLoaded(VADAssetInfo* loaded, uint32_t n) {
  // The table is made at its final size and filled bucket by bucket, each
  // bucket's records in their order: the same table as inserting them one
  // by one, without a cache miss per record.
  const unsigned buckets = BucketsFor(n);
  auto table = std::make_unique<KUIDHashTable>(buckets, 0);
  std::vector<uint32_t> bucketOf(n);
  std::vector<uint32_t> start(std::size_t(buckets) + 1, 0);
  for (uint32_t i = 0; i < n; ++i) {
    bucketOf[i] = KUIDHashTable::BucketIndex(loaded[i].kuid, buckets);
    ++start[bucketOf[i] + 1];
  }
  for (unsigned b = 0; b < buckets; ++b) start[b + 1] += start[b];
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[start[bucketOf[i]]++] = i;
  // In bucket order the records are visited out of their memory order: their
  // keys are fetched a few records ahead.
  constexpr uint32_t kAhead = 16;
  for (uint32_t k = 0; k < n; ++k) {
    if (k + kAhead < n) __builtin_prefetch(&loaded[order[k + kAhead]].kuid);
    table->Insert(&loaded[order[k]]);
  }
  byKuid_ = std::move(table);
  for (uint32_t i = 0; i < n; ++i) {
    VADAssetInfo* record = &loaded[i];
    DropStrayArchiveBits(*record);
    records_.Append(record);
    sorted_.Append(record);
  }
  ForgetCursor();
}

VADAssetInfo* VADAssetIndex::Insert(const VADAssetInfo& source) {
  SortIfPending();  // makes the kept records first
  auto* record = new VADAssetInfo(source);
  DropStrayArchiveBits(*record);
  records_.Append(record);
  byKuid_->Insert(record);
  sorted_.Append(record);
  GrowTableIfNeeded();
  ForgetCursor();
  return record;
}

bool VADAssetIndex::Add(const VADAssetInfo& source, const ACSChunkPtr* config) {
  if (source.kuid.IsNull()) return false;
  if (VADAssetInfo* stored = Find(source.kuid)) return stored->Merge(source);
  VADAssetInfo copy(source);
  copy.BuildKeywords();
  VADAssetInfo* record = Insert(copy);
  Refresh(*record, true, config);
  return true;
}

void VADAssetIndex::Remove(const KUID& kuid) {
  VADAssetInfo* record = Find(kuid);
  if (!record) return;
  RemoveObsoleteLinks(*record);
  SortIfPending();
  for (uint32_t i = 0; i < sorted_.Count(); ++i) {
    if (sorted_[i] != record) continue;
    sorted_.EraseAt(i);
    break;
  }
  // The table keeps an entry for what others still depend on; the asset's
  // own dependencies go.
  VADDependencyTable::Instance().SetDependencies(kuid, KUIDList());
  DropRecordConfig(*record);
  records_.Remove(record);
  byKuid_->Erase(byKuid_->Find(kuid));
  ForgetCursor();
  VADAssetInfo::Free(record);
}

void VADAssetIndex::Refresh(VADAssetInfo& record, bool full, const ACSChunkPtr* config) {
  if (full) {
    if (config) KeepRecordConfig(record, *config);
    else DropRecordConfig(record);
    RemoveObsoleteLinks(record);
    AddObsoleteLinks(record);
    record.lastInstalled = record.HasLocalFolder() ? static_cast<int64_t>(Vak::Time::TimeStamp()) : 0;
    if (!record.IsBuiltIn() && record.firstInstalled == 0) record.firstInstalled = record.lastInstalled;
    KUIDList dependencies;
    CollectAssetDependencies(record.kuid, GetRecordConfig(record), dependencies);
    VADDependencyTable::Instance().SetDependencies(record.kuid, dependencies);
    if (record.IsInstalled()) {
      const bool hadScripts = record.hasScripts != 0;
      Vak::PString archive;
      Vak::File::Path folder;
      if (record.HasLocalFolder()) {
        folder = record.GetLocalFolder();
      } else {
        archive = record.archiveName;
        folder = static_cast<const char*>(record.archivePath);
      }
      ResultsLog results;
      const bool valid = VADValidateAsset(archive, folder, results);
      record.UpdateStateFlags(VADAssetInfo::kFaulty | VADAssetInfo::kWarnings,
                              static_cast<uint8_t>((valid ? 0 : VADAssetInfo::kFaulty) |
                                                   (results.GetWarningCount() > 0 ? VADAssetInfo::kWarnings : 0)));
      record.hasScripts = VADFolderHasScripts(archive, folder) ? 1 : 0;
      if (hadScripts || record.hasScripts) MakeFolderPath(Vak::PString("cache"), "libraries");
    } else {
      record.hasScripts = 0;
    }
    record.BuildKeywords();
    record.contentHash = static_cast<int32_t>(record.ComputeContentHash());
    MarkDirty(kDirtyRecords);
  }
  record.UpdateStateFlags(VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown, 0);
  RefreshDependants(record.kuid);
}

void VADAssetIndex::RefreshDependants(const KUID& kuid) {
  KUIDList dependants;
  VADDependencyTable::Instance().GetDependants(kuid, tableA_, dependants);
  constexpr uint8_t kCached = VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown;
  for (const KUID& dependant : dependants) {
    VADAssetInfo* record = Find(dependant);
    // Dropping the answers first ends the walk at cycles.
    if (record && (record->StateFlags() & kCached)) Refresh(*record, false);
  }
}

VADAssetIndex::SortBatch::SortBatch(VADAssetIndex& index) : index_(index) { ++index_.sortHolds_; }

VADAssetIndex::SortBatch::~SortBatch() {
  if (--index_.sortHolds_ > 0 || !index_.sortDue_) return;
  index_.sortDue_ = false;
  index_.SortByName();
}

void VADAssetIndex::SortIfPending() const {
  MakeRecordsIfKept();
  if (!sortPending_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(sortMutex_);
  if (!sortPending_.load(std::memory_order_relaxed)) return;
  const_cast<VADAssetIndex*>(this)->SortNow();
  sortPending_.store(false, std::memory_order_release);
}

void VADAssetIndex::SortByName() {
  if (sortHolds_ > 0) {
    sortDue_ = true;
    return;
  }
  sortPending_.store(false);
  SortNow();
}

void VADAssetIndex::SortNow() {
  MakeRecordsIfKept();
  const uint32_t n = sorted_.Count();
  if (n < 2) return;
  std::vector<char> text;
  std::vector<NamedRecord> items = LowerCasedNames(sorted_, text);

  // One pass keeps a sorted run and sets aside the records out of place;
  // with few of those a sort of them and one merge finish the job.
  const std::size_t maxOutliers = n / 32 + 16;
  std::vector<NamedRecord> kept;
  std::vector<NamedRecord> outliers;
  kept.reserve(n);
  bool fewOutliers = true;
  for (uint32_t i = 0; i < n && fewOutliers; ++i) {
    const NamedRecord& item = items[i];
    bool keep = kept.empty() || !NameLess(item, kept.back());
    if (keep && i + 1 < n && NameLess(items[i + 1], item)) {
      // The item or its successor is out of place: drop the item when the
      // successor fits behind the run.
      keep = !(kept.empty() || !NameLess(items[i + 1], kept.back()));
    }
    if (keep) {
      kept.push_back(item);
    } else {
      outliers.push_back(item);
      fewOutliers = outliers.size() <= maxOutliers;
    }
  }
  if (fewOutliers) {
    if (outliers.empty()) return;
    std::sort(outliers.begin(), outliers.end(), NameLess);
    std::merge(kept.begin(), kept.end(), outliers.begin(), outliers.end(), items.begin(), NameLess);
  } else {
    std::sort(items.begin(), items.end(), NameLess);
  }
  for (uint32_t i = 0; i < n; ++i) sorted_[i] = items[i].record;
}

void VADAssetIndex::Clear() {
  DropKeptRecords();
  for (VADAssetInfo* record : records_) VADAssetInfo::Free(record);
  records_.Clear();
  byKuid_ = std::make_unique<KUIDHashTable>(kInitialBuckets, 0);
  tableB_.Clear();
  tableA_.Clear();
  sorted_.Free();
  sortPending_.store(false);
  ForgetCursor();
  // The cache names a record by its address, and a new record may be
  // allocated where a freed one lay.
  ClearRecordConfigCache();
  VADDependencyTable::Instance().Clear();
  PersistentRecordList::Global().Clear();
  VADLog::Instance().ClearFinished();
  VADNetworkService* network = GetVADServices().network;
  for (void*& task : pendingTasks_) {
    if (task && network) network->ReleaseDownloadTask(task);
    task = nullptr;
  }
  lookupKuid = KUID::Null();
  lookupQueue.Clear();
  if (network) {
    network->ResetThumbnailLookup();
    network->ResetUserNames();
  }
  settings.Release();
  globalData.Release();
  dirty_.store(0);
  demoted_.store(false);
  rebuilt_ = 0;
}

void VADAssetIndex::ResolveKuidList(KUIDList& list) const {
  for (KUID& kuid : list) kuid = tableA_.Resolve(kuid);
}

void VADAssetIndex::CollectKuidFamily(const KUID& kuid, KUIDList& out) const {
  VADLock lock;
  lock.Acquire(false);
  const KUID resolved = ResolveThroughTableB(kuid);
  KUIDList keys;
  tableB_.ReverseLookup(resolved, keys);
  for (const KUID& key : keys) AddKUIDUnique(key, out);
  AddKUIDUnique(resolved, out);
  AddKUIDUnique(kuid, out);
}

void VADAssetIndex::AddObsoleteLinks(VADAssetInfo& record) {
  const KUID& self = record.kuid;
  KUIDList entries;
  {
    KUIDList listed;
    CollectChildKUIDs(GetRecordConfig(record).GetChildContainer(VADKeys::ObsoleteTable()), listed);
    for (const KUID& kuid : listed) {
      if (kuid.user == self.user && kuid.content == self.content) continue;
      if (self.user >= 0 && kuid.user != self.user) continue;
      AddKUIDUnique(kuid, entries);
    }
  }
  if (self.user >= 0) {
    // Above the user range every earlier version is the null KUID, which
    // adds nothing.
    if (self.user <= KUID::kMaxUser)
      for (int32_t version = 0; version < self.version; ++version)
        AddKUIDUnique(KUID(self.user, self.content, version), entries);
  }
  for (const KUID& kuid : entries) tableB_.Insert(kuid, self);
  const bool toTableA = (record.Flags() & VADAssetInfo::kLocallyEnabled) &&
                        BuildHundredths(record.build) <= 310 && record.IsInstalled();
  if (toTableA)
    for (const KUID& kuid : entries) tableA_.Insert(kuid, self);
  RaiseObsoleteGeneration();
}

void VADAssetIndex::RemoveObsoleteLinks(VADAssetInfo& record) {
  KUIDList keys;
  tableA_.ReverseLookup(record.kuid, keys);
  tableA_.RemoveByTarget(record.kuid);
  tableB_.ReverseLookup(record.kuid, keys);
  tableB_.RemoveByTarget(record.kuid);
  KUIDList unique;
  for (const KUID& key : keys) AddKUIDUnique(key, unique);
  for (const KUID& key : unique) {
    VADAssetInfo* other = Find(key);
    if (other && other != &record && other->IsInstalled()) AddObsoleteLinks(*other);
  }
  RaiseObsoleteGeneration();
}

void VADAssetIndex::CollectLocations(VADLocationSet& out) const {
  MakeRecordsIfKept();
  for (const VADAssetInfo* record : records_) {
    if (record->localPath.Size() > 6) out.Add("local", static_cast<const char*>(record->localPath) + 6);
    if (record->editingPath.Size() > 8) out.Add("editing", static_cast<const char*>(record->editingPath) + 8);
    if (record->HasArchiveLocation()) out.Add(record->archiveName.c_str(), record->archivePath);
  }
}

void VADAssetIndex::SetRebuiltFlag(uint8_t value) {
  if (value == rebuilt_) return;
  rebuilt_ = value;
  Mark(kDirtyRebuilt, false);
}

void VADAssetIndex::RaiseTimeMarker(int64_t time) {
  if (timeMarker_ == kTimeMarkerUnset) return;
  if (time != kTimeMarkerUnset && time > timeMarker_) timeMarker_ = time;
  MarkDirty(kDirtyRecords | kDirtyTimeMarker);
}

void VADAssetIndex::Mark(uint32_t bits, bool demote) {
  if (demote && !(dirty_.load() & kDirtyRecords) && !demoted_.load(std::memory_order_acquire)) {
    // Readers under a shared hold mark too: one of them demotes, the
    // others wait for it, and none deletes the backup another just made.
    std::lock_guard<std::mutex> guard(demoteMutex_);
    if (!demoted_.load() && !(dirty_.load() & kDirtyRecords)) VADDemoteDatabaseFile();
    demoted_.store(true, std::memory_order_release);
  }
  dirty_.fetch_or(bits);
  VADLock::AddChangeFlags(bits);
}

void VADAssetIndex::ClearDirtyFlags() {
  std::lock_guard<std::mutex> guard(demoteMutex_);
  dirty_.store(0);
  demoted_.store(false);
}

void VADAssetIndex::SetDependencyFlags(const KUID& kuid, bool hasDependencies, bool hasDependants) {
  VADAssetInfo* record = Find(kuid);
  if (!record) return;
  uint8_t permissions = record->permissions & ~(VADAssetInfo::kHasDependencies | VADAssetInfo::kHasDependants);
  if (hasDependencies) permissions |= VADAssetInfo::kHasDependencies;
  if (hasDependants) permissions |= VADAssetInfo::kHasDependants;
  record->permissions = permissions;
  if (!hasDependencies)
    record->UpdateStateFlags(VADAssetInfo::kMissingAnswer | VADAssetInfo::kFaultyDepsAnswer,
                             VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown);
  MarkDirty(kDirtyRecords);
}

KUID VADResolveKuid(const KUID& kuid) { return gVadAssetIndex.TableA().Resolve(kuid); }

bool VADIsDependencyMissing(const KUID& kuid) {
  const VADAssetInfo* record = gVadAssetIndex.Find(VADResolveKuid(kuid));
  return !record || !record->HasAnyLocation();
}

bool VADIsDependencyFaulty(const KUID& kuid) {
  const VADAssetInfo* record = gVadAssetIndex.Find(VADResolveKuid(kuid));
  return record && record->HasErrors();
}

bool VADDemoteDatabaseFile() {
  if (VADIndexRefused()) return false;
  const Path current = InDatabaseRoot("assets.tdx");
  if (current.Length() == 0 || !Vak::File::Exists(current).Ok()) return true;
  const Path cacheFile = InDatabaseRoot("cache/assets.tdx");
  const Path backup = InDatabaseRoot("cache/assets.bku");
  Vak::File::Unlink(cacheFile);
  Vak::File::Unlink(backup);
  Vak::File::Md(InDatabaseRoot("cache"));
  return Vak::File::Rename(current, backup);
}
