#include "assetdb/KuidTable.h"

#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/TStream.h"

KuidTable::~KuidTable() { Clear(); }

void KuidTable::MakeIndexes() {
  if (byKey_) return;
  byKey_ = std::make_unique<KUIDHashTable>(kBuckets, offsetof(Entry, key));
  byTarget_ = std::make_unique<KUIDHashTable>(kBuckets, offsetof(Entry, resolved));
}

KUID KuidTable::Lookup(const KUID& kuid) const {
  if (!byKey_) return KUID::Null();
  KUIDHashTable::Iterator it = byKey_->Find(kuid);
  return it.IsEnd() ? KUID::Null() : it.Get<Entry>()->resolved;
}

KUID KuidTable::Resolve(const KUID& kuid) const {
  if (kuid.IsNull()) return kuid;
  KUID to = Lookup(kuid);
  return to.IsNull() ? kuid : to;
}

bool KuidTable::Insert(const KUID& key, const KUID& target) { return InsertTriple(key, target, target); }

bool KuidTable::InsertTriple(const KUID& key, const KUID& first, const KUID& named) {
  if (key.IsNull() || first.IsNull()) return false;
  KUID resolved = Lookup(first);
  if (resolved.IsNull()) resolved = first;
  if (resolved == key) return false;
  Repoint(key, resolved);
  RemoveByKey(key);
  MakeIndexes();
  Entry* entry = new Entry{key, named, resolved};
  byKey_->Insert(entry);
  byTarget_->Insert(entry);
  return true;
}

std::vector<KuidTable::Entry*> KuidTable::Take(KUIDHashTable& index, const KUID& kuid) {
  std::vector<Entry*> taken;
  KUIDHashTable::Iterator it = index.Find(kuid);
  const unsigned bucket = it.bucket;
  while (!it.IsEnd() && it.bucket == bucket) {
    if (it.at->key == kuid) {
      taken.push_back(it.Get<Entry>());
      it = index.Erase(it);
    } else {
      it.Next();
    }
  }
  return taken;
}

void KuidTable::EraseRecord(KUIDHashTable& index, const KUID& kuid, const Entry* entry) {
  KUIDHashTable::Iterator it = index.Find(kuid);
  const unsigned bucket = it.bucket;
  for (; !it.IsEnd() && it.bucket == bucket; it.Next()) {
    if (it.Record() == entry) {
      index.Erase(it);
      return;
    }
  }
}

void KuidTable::RemoveByKey(const KUID& kuid) {
  if (!byKey_) return;
  for (Entry* entry : Take(*byKey_, kuid)) {
    EraseRecord(*byTarget_, entry->resolved, entry);
    delete entry;
  }
}

void KuidTable::RemoveByTarget(const KUID& kuid) {
  if (!byKey_) return;
  for (Entry* entry : Take(*byTarget_, kuid)) {
    EraseRecord(*byKey_, entry->key, entry);
    delete entry;
  }
}

void KuidTable::Repoint(const KUID& from, const KUID& to) {
  if (!byKey_ || from == to) return;
  // The reverse index keys on `resolved`, so an entry leaves it before the
  // field changes.
  for (Entry* entry : Take(*byTarget_, from)) {
    entry->resolved = to;
    byTarget_->Insert(entry);
  }
}

void KuidTable::ReverseLookup(const KUID& kuid, KUIDList& list) const {
  if (!byTarget_) return;
  KUIDHashTable::Iterator it = byTarget_->Find(kuid);
  const unsigned bucket = it.bucket;
  for (; !it.IsEnd() && it.bucket == bucket; it.Next())
    if (it.at->key == kuid) list.Append(it.Get<Entry>()->key);
}

void KuidTable::Clear() {
  if (!byKey_) return;
  for (KUIDHashTable::Iterator it = byKey_->Begin(); !it.IsEnd(); it.Next()) delete it.Get<Entry>();
  byKey_->Clear();
  byTarget_->Clear();
}

void KuidTable::Destroy() {
  Clear();
  byKey_.reset();
  byTarget_.reset();
}

std::vector<KuidTable::Entry> KuidTable::Entries(const KUIDHashTable* index) {
  std::vector<Entry> out;
  if (!index) return out;
  for (KUIDHashTable::Iterator it = index->Begin(); !it.IsEnd(); it.Next()) out.push_back(*it.Get<Entry>());
  return out;
}

bool KuidTable::Read(TStream& stream) {
  Clear();
  uint8_t word[4];
  if (stream.ReadBytes(word, sizeof word) != sizeof word) return false;
  const bool triples = Vak::GetLE32(word) != 0;
  for (;;) {
    KUID first, key, named;
    if (!KUID::Read(stream, first)) break;
    if (first.IsNull()) return true;
    if (!KUID::Read(stream, key)) break;
    if (triples) {
      if (!KUID::Read(stream, named)) break;
      if (!InsertTriple(key, first, named)) break;
    } else if (!Insert(key, first)) {
      break;
    }
  }
  Clear();
  return false;
}

void KuidTable::Write(TStream& stream) const {
  stream.WriteInt(0);
  if (byKey_) {
    for (KUIDHashTable::Iterator it = byKey_->Begin(); !it.IsEnd(); it.Next()) {
      const Entry* entry = it.Get<Entry>();
      entry->resolved.Write(stream);
      entry->key.Write(stream);
    }
  }
  KUID::Null().Write(stream);
}
