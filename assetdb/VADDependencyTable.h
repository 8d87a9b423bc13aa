#pragma once
// For every KUID the index has met, the KUIDs it depends on and the KUIDs
// that depend on it, kept in step in both directions, and its block of
// "assets.tdx". Not locked: callers hold the index lock.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "content/ACSChunkPtr.h"
#include "content/HashTable.h"
#include "content/KUID.h"

class KuidTable;
class TStream;

// What the table changes in the index's records: the narrow view the index
// gives it (tests fake it).
class VADDependencyRecords {
public:
  virtual ~VADDependencyRecords() = default;
  // When the index holds a record of exactly this KUID: sets its
  // has-dependencies and has-dependants flags, sets its dependency state to
  // none-needed when it has no dependencies, and marks the index changed.
  virtual void SetDependencyFlags(const KUID& kuid, bool hasDependencies, bool hasDependants) = 0;
};

class VADDependencyTable {
public:
  static constexpr unsigned kBuckets = 8191;
  static constexpr uint16_t kBlockVersion = 1;

  // The key of an entry: a KUID as its three in-memory words.
  class DependencyInfoBase : public Utils::IHashNode {
  public:
    explicit DependencyInfoBase(const KUID& id) : kuid(id) {}
    uint32_t Hash() const override;
    // By the three words in order, each as an unsigned number.
    int Compare(const Utils::IHashNode& other) const override;
    KUID kuid;
  };

  class DependencyInfo : public DependencyInfoBase {
  public:
    using DependencyInfoBase::DependencyInfoBase;
    // Ordered by the entries' addresses; each entry at most once.
    std::set<DependencyInfo*> dependencies;
    std::set<DependencyInfo*> dependants;
  };

  VADDependencyTable() : table_(kBuckets) {}
  ~VADDependencyTable();
  VADDependencyTable(const VADDependencyTable&) = delete;
  VADDependencyTable& operator=(const VADDependencyTable&) = delete;

  // The process's table, made on first use.
  static VADDependencyTable& Instance();

  void SetRecords(VADDependencyRecords* records) { records_ = records; }

  // The entry of the KUID, made (both sets empty) when missing.
  DependencyInfo* FindOrAdd(const KUID& kuid);
  // Null when the KUID has no entry.
  DependencyInfo* Find(const KUID& kuid) const;
  // Replaces the asset's dependencies by the KUIDs of `list` (the null KUID
  // is ignored) and updates the flags of the records involved.
  void SetDependencies(const KUID& kuid, const KUIDList& list);
  // Appends each dependency's KUID that the list does not hold yet.
  void GetDependencies(const KUID& kuid, KUIDList& list) const;
  // Appends the dependants of the KUID, of what `replacements` (the
  // obsolete-KUID table) maps to it and of what it maps the KUID to, each KUID
  // once.
  void GetDependants(const KUID& kuid, const KuidTable& replacements, KUIDList& list) const;

  // The block; a failed read leaves the table empty. A read checks the
  // block and keeps its bytes: the entries are made when first asked for
  // (most commands ask nothing), and a table never asked is written back
  // as it was read.
  bool Read(TStream& stream);
  bool Write(TStream& stream) const;
  // Deletes every entry; the buckets stay.
  void Clear();
  // Clears and frees the buckets.
  void Destroy();

  unsigned Count() const;
  const Utils::HashTable& Table() const;

private:
  void UpdateRecord(const DependencyInfo& entry) const;
  // One stored entry with its two sets; false on a short read.
  bool ReadEntry(TStream& stream);
  // Makes the entries of the kept block, once; readers under a shared
  // index lock may get here together.
  void Unpack() const;
  DependencyInfo* FindEntry(const KUID& kuid) const;
  DependencyInfo* AddEntry(const KUID& kuid);
  void DropStored();

  // The hash table fixes the stored order; look-ups go through the index,
  // because walking chains of nodes scattered over the heap cost more than
  // everything else together with 100,000 entries.
  Utils::HashTable table_;
  std::unordered_map<KUID, DependencyInfo*, KUIDHash> index_;
  VADDependencyRecords* records_ = nullptr;
  // The entries of the block last read, not yet made: the count, then each
  // entry as stored.
  std::vector<uint8_t> stored_;
  uint32_t storedCount_ = 0;
  std::atomic<bool> storedPending_{false};
  std::mutex unpackMutex_;
};
