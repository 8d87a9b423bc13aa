#pragma once
// Links from an obsoleted KUID to the KUID that replaces it. Each entry keeps
// its key, the target it was given and the resolved target: the given target
// after one step through the table. Inserting keeps every chain one step long
// (no resolved target is ever a key), so a lookup is a single probe.
//
// Entries are indexed twice: by key (at most one entry per key) and by
// resolved target (many keys may share one), for the reverse question of
// which KUIDs an asset replaces. The table owns its entries.
//
// Stored form: u32 form word (0 pairs, else triples), then entries up to a
// null KUID. A pair is resolved target then key; a triple is first target,
// key, named target. The writer writes pairs in key-index order.
//
// Not locked: owners lock.
#include <memory>
#include <vector>

#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/KUIDHashTable.h"

class TStream;

class KuidTable {
public:
  // Fixes the order in which the key index is walked, hence the written order.
  static constexpr unsigned kBuckets = 97;

  struct Entry {
    KUID key;
    KUID target;    // as given
    KUID resolved;  // as followed one step when the entry was made
  };

  KuidTable() = default;
  KuidTable(const KuidTable&) = delete;
  KuidTable& operator=(const KuidTable&) = delete;
  ~KuidTable();

  // The key's resolved target, else the null KUID.
  KUID Lookup(const KUID& kuid) const;
  // Lookup, but a KUID without a link (and the null KUID) maps to itself.
  KUID Resolve(const KUID& kuid) const;

  // False, leaving the table as it was, for a null key or target, or when
  // the target leads back to the key. A newer link for a key replaces the
  // older one; links that ended at the key move on to its replacement.
  bool Insert(const KUID& key, const KUID& target);
  // Insert with `first` as the target, remembering `named` as the given one.
  bool InsertTriple(const KUID& key, const KUID& first, const KUID& named);

  void RemoveByKey(const KUID& kuid);
  void RemoveByTarget(const KUID& kuid);
  // Entries resolved to `from` are resolved to `to` instead.
  void Repoint(const KUID& from, const KUID& to);
  // Appends the key of every entry resolved to `kuid`.
  void ReverseLookup(const KUID& kuid, KUIDList& list) const;

  void Clear();
  // Clear, and give back the indexes' bucket arrays too.
  void Destroy();

  // Reads either form. False, with the table left empty, on a short block or
  // an entry that Insert refuses.
  bool Read(TStream& stream);
  void Write(TStream& stream) const;

  unsigned Count() const { return byKey_ ? byKey_->Count() : 0; }
  // Copies of the entries in the walking order of each index.
  std::vector<Entry> EntriesByKey() const { return Entries(byKey_.get()); }
  std::vector<Entry> EntriesByTarget() const { return Entries(byTarget_.get()); }

private:
  static std::vector<Entry> Entries(const KUIDHashTable* index);
  // Takes every entry whose index key equals `kuid` out of `index`.
  static std::vector<Entry*> Take(KUIDHashTable& index, const KUID& kuid);
  static void EraseRecord(KUIDHashTable& index, const KUID& kuid, const Entry* entry);
  void MakeIndexes();

  std::unique_ptr<KUIDHashTable> byKey_;
  std::unique_ptr<KUIDHashTable> byTarget_;
};
