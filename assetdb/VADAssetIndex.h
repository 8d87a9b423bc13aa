#pragma once
// The asset index: every asset the installation knows, one record per KUID,
// found by KUID through a hash table, in insertion order through the list
// of all records and in display-name order through the sorted array. It also
// owns the two KUID replacement tables, the settings and global-data trees,
// a few stored scalars and the dirty and change flags that drive saving and
// change notification.
//
// Callers hold the index lock: shared to read, exclusive to change. What
// queries under a shared hold write (the answers cached in records, the
// dirty and pending change flags, the walking cursor) is atomic or guarded
// here, and the first change's demotion of the index file runs once.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assetdb/KuidTable.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADAssetInfo.h"
#include "assetdb/VADDependencyTable.h"
#include "content/ACSChunkPtr.h"
#include "content/ChunkedList.h"
#include "content/GrowArray.h"
#include "content/KUIDHashTable.h"
#include "platform/os/LargeBuffer.h"

// The folders the index already knows, as location keys ("source:path"):
// separators and letter case do not matter, so back-slashed stored paths
// meet the folder names a scan lists.
class VADLocationSet {
public:
  static std::string Key(const char* source, const char* path);
  void Add(const char* source, const char* path) { keys_.insert(Key(source, path)); }
  bool Contains(const char* source, const char* path) const { return keys_.count(Key(source, path)) != 0; }
  std::size_t Count() const { return keys_.size(); }
  void Clear() { keys_.clear(); }

private:
  std::unordered_set<std::string> keys_;
};

class TStream;

class VADAssetIndex final : public VADDependencyRecords {
public:
  static constexpr unsigned kInitialBuckets = 4093;
  // Past this load the records' table moves to about twice the buckets.
  static constexpr unsigned kMaxRecordsPerBucket = 16;
  static constexpr uint32_t kInitialBuild = 38841;
  static constexpr int64_t kTimeMarkerUnset = -1;
  static constexpr unsigned kRecordBlockItems = 512;
  static constexpr unsigned kSortedStep = 8192;

  // Dirty and change bits.
  enum : uint32_t {
    kDirtyRecords = 0x01,
    kDirtyDependencyAnswers = 0x02,
    kDirtyTimeMarker = 0x08,
    kDirtyRebuilt = 0x10,
    kDirtyGlobalData = 0x20,
    kDirtySetting = 0x40,
    kDirtyLatestBuild = 0x80,
  };

  using RecordList = ChunkedList<VADAssetInfo*, kRecordBlockItems>;

  VADAssetIndex();
  ~VADAssetIndex() override;
  VADAssetIndex(const VADAssetIndex&) = delete;
  VADAssetIndex& operator=(const VADAssetIndex&) = delete;

  VADAssetInfo* Find(const KUID& kuid) const;
  // The n-th record of the list of all records; null past the end. Walking
  // n = 0, 1, 2, ... costs one step each.
  VADAssetInfo* RecordAt(uint64_t n) const;
  // The n-th record in display-name order (after the last sort).
  VADAssetInfo* SortedAt(uint32_t n) const {
    SortIfPending();
    return n < sorted_.Count() ? sorted_[n] : nullptr;
  }
  uint32_t RecordCount() const {
    if (recordsKept_.load(std::memory_order_acquire)) return kept_.count;
    return sorted_.Count();
  }

  // A null KUID is refused; a present KUID merges into the stored record.
  // `config`, when given, is the record's config just read from its folder.
  bool Add(const VADAssetInfo& record, const ACSChunkPtr* config = nullptr);
  // Takes a new record (from Add or the index reader) into the list, the
  // table and the sorted array, without refreshing it.
  VADAssetInfo* Insert(const VADAssetInfo& record);
  void Remove(const KUID& kuid);
  void Refresh(VADAssetInfo& record, bool full, const ACSChunkPtr* config = nullptr);
  // Display-name order; costs about one pass when few records are out of
  // place.
  void SortByName();
  // While one is held, SortByName only notes that a sort is due, and the
  // last one released sorts once: a run of changes (an install of many
  // assets) ends in one sort. Held under the exclusive lock.
  class SortBatch {
  public:
    explicit SortBatch(VADAssetIndex& index);
    ~SortBatch();
    SortBatch(const SortBatch&) = delete;
    SortBatch& operator=(const SortBatch&) = delete;

  private:
    VADAssetIndex& index_;
  };
  void Clear();

  // The index file's head and its blocks in order (VADDatabaseFile.cpp).
  // Read clears the index first and leaves it cleared when it fails.
  bool WriteDatabase(TStream& stream);
  bool ReadDatabase(TStream& stream);

  KUID ResolveThroughTableB(const KUID& kuid) const { return tableB_.Resolve(kuid); }
  void ResolveKuidList(KUIDList& list) const;
  // Adds each KUID once: what table B maps to the KUID's resolution, the
  // resolution and the KUID. Takes the index lock shared.
  void CollectKuidFamily(const KUID& kuid, KUIDList& out) const;

  void AddObsoleteLinks(VADAssetInfo& record);
  void RemoveObsoleteLinks(VADAssetInfo& record);
  void RaiseObsoleteGeneration() { obsoleteGeneration_.fetch_add(1); }
  uint32_t ObsoleteGeneration() const { return obsoleteGeneration_.load(); }

  void CollectLocations(VADLocationSet& out) const;

  void SetRebuiltFlag(uint8_t value);
  uint8_t RebuiltFlag() const { return rebuilt_; }
  void RaiseTimeMarker(int64_t time);
  int64_t TimeMarker() const { return timeMarker_; }
  void SetTimeMarker(int64_t time) { timeMarker_ = time; }

  // ORs the bits into the dirty flags and into the pending change flags
  // (which the index lock keeps and delivers). The first change since the
  // index was loaded or written demotes the index file to the backup first,
  // once, whichever thread gets there first.
  void MarkDirty(uint32_t bits) { Mark(bits, true); }
  uint32_t DirtyFlags() const { return dirty_.load(); }
  // After a write: nothing is dirty, and the next change demotes again.
  void ClearDirtyFlags();

  // The replacement tables: A decides what is obsolete, B what is up to date.
  KuidTable& TableA() { return tableA_; }
  KuidTable& TableB() { return tableB_; }
  const KuidTable& TableA() const { return tableA_; }
  const KuidTable& TableB() const { return tableB_; }

  const RecordList& Records() const {
    MakeRecordsIfKept();
    return records_;
  }
  unsigned BucketCount() const {
    MakeRecordsIfKept();
    return byKuid_->BucketCount();
  }

  // Stored scalars and trees, carried through the index file.
  Vak::PString storedText[2];
  uint8_t storedByte[2] = {0, 0};
  uint32_t latestBuild = kInitialBuild;
  uint32_t indexBuild = kInitialBuild;
  int64_t serverTime = 0;
  ACSChunkPtr settings;
  CountedLock settingsLock;
  uint8_t settingsPresent = 0;
  ACSChunkPtr globalData;

  // What the index keeps for the network code and lets go in Clear: two
  // pending download tasks (opaque), the KUID being looked up and the queue
  // of those waiting.
  void SetPendingDownloadTask(unsigned slot, void* task) { pendingTasks_[slot & 1] = task; }
  void* PendingDownloadTask(unsigned slot) const { return pendingTasks_[slot & 1]; }
  KUID lookupKuid;
  KUIDList lookupQueue;

  // VADDependencyRecords.
  void SetDependencyFlags(const KUID& kuid, bool hasDependencies, bool hasDependants) override;

private:
  // The index file's blocks (VADDatabaseFile.cpp) read and write the
  // index's own tables and values.
  friend class VADIndexFileBlocks;

  // The records of the file last read, checked but not made: most
  // commands ask the index nothing, and those that do pay for the records
  // at their first question. An index never asked writes these bytes back.
  struct KeptRecords {
    platform::LargeBuffer file;  // owns the bytes below
    const uint8_t* at = nullptr;      // the count, then the records
    std::size_t size = 0;
    uint32_t count = 0;
    uint32_t version = 0;
    // The obsolete generation when read; the records' stamps refer to it.
    uint32_t generation = 0;
    // Whether writing the made records gives these bytes back (while the
    // generation stays): found out at the first write.
    enum class Same : uint8_t { kUnknown, kYes, kNo } same = Same::kUnknown;
  };
  void MakeRecordsIfKept() const {
    if (recordsKept_.load(std::memory_order_acquire)) MakeKeptRecords();
  }
  // Makes the kept records (VADDatabaseFile.cpp); shared holders may ask
  // together.
  void MakeKeptRecords() const;
  void DropKeptRecords();

  void Mark(uint32_t bits, bool demote);
  void GrowTableIfNeeded();
  // The bucket count the table grows to for `count` records.
  static unsigned BucketsFor(unsigned count);
  // Takes the n records read from the index file (made by MakeBlock, each
  // of its own KUID: the reader checked) into the empty index, in their
  // order.
  void AdoptLoaded(VADAssetInfo* loaded, uint32_t n);
  void ForgetCursor() const;
  // The sort of the records just read, which waits for the first question
  // about the order; shared holders may ask together.
  void SortIfPending() const;
  void SortNow();
  // Records that depend on `kuid` and hold cached answers are refreshed.
  void RefreshDependants(const KUID& kuid);

  KeptRecords kept_;
  mutable std::atomic<bool> recordsKept_{false};
  mutable std::mutex keptMutex_;
  std::unique_ptr<KUIDHashTable> byKuid_;
  KuidTable tableB_;
  KuidTable tableA_;
  RecordList records_;
  GrowArray<VADAssetInfo*, kSortedStep> sorted_;
  unsigned sortHolds_ = 0;
  bool sortDue_ = false;
  mutable std::atomic<bool> sortPending_{false};
  mutable std::mutex sortMutex_;
  int64_t timeMarker_ = kTimeMarkerUnset;
  uint8_t rebuilt_ = 0;
  std::atomic<uint32_t> dirty_{0};
  std::atomic<uint32_t> obsoleteGeneration_{0};
  // Set once the current change cycle has demoted the index file.
  std::atomic<bool> demoted_{false};
  std::mutex demoteMutex_;
  void* pendingTasks_[2] = {nullptr, nullptr};

  // Where the last RecordAt stopped; shared holders walk through it.
  mutable std::mutex cursorMutex_;
  mutable uint64_t cursorIndex_ = 0;
  mutable RecordList::Iterator cursor_;
};

extern VADAssetIndex gVadAssetIndex;

// Table A's replacement, else the KUID itself (the null KUID too).
KUID VADResolveKuid(const KUID& kuid);
// Moves "assets.tdx" of the database root to "cache/assets.bku", removing
// the older cache files first; true when there was no root file.
bool VADDemoteDatabaseFile();
// The index's status tests of one dependency, after resolving it through
// table A: missing without a record or without any location; faulty when
// its record has errors.
bool VADIsDependencyMissing(const KUID& kuid);
bool VADIsDependencyFaulty(const KUID& kuid);
