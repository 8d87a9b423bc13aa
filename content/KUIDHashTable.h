#pragma once
// Records keyed by KUID. Each bucket is a block list of record pointers; the
// table neither copies nor owns the records. The key is a KUID inside each
// record, `keyOffset` bytes from its start (0 for records that begin with
// their KUID; offsetof the field otherwise). A record's key must not change
// while it is in the table.
//
// Each entry keeps a copy of its record's key beside the pointer, so a
// look-up scans its bucket's blocks without touching the records.
//
// Not locked: owners lock.
#include <cstddef>
#include <cstdint>

#include "content/ChunkedList.h"
#include "content/KUID.h"

class KUIDHashTable {
public:
  static constexpr unsigned kBucketBlockItems = 13;
  struct Entry {
    KUID key;
    void* record = nullptr;
    bool operator==(const Entry& other) const { return record == other.record; }
  };
  using Bucket = ChunkedList<Entry, kBucketBlockItems>;
  static constexpr unsigned kDefaultBuckets = 97;

  // Buckets in index order, each in its list order.
  class Iterator {
  public:
    const KUIDHashTable* table = nullptr;
    unsigned bucket = 0;  // the bucket count at the end
    Bucket::Iterator at;

    bool IsEnd() const { return at.IsEnd(); }
    void* Record() const { return at->record; }
    template <typename R>
    R* Get() const { return static_cast<R*>(at->record); }
    Iterator& Next();
    Iterator& operator++() { return Next(); }
    void* operator*() const { return at->record; }
    bool operator==(const Iterator& other) const { return at == other.at; }
  };

  // Throws Vak::Exception for a bucket count of 0.
  explicit KUIDHashTable(unsigned bucketCount = kDefaultBuckets, std::size_t keyOffset = 0);
  KUIDHashTable(const KUIDHashTable&) = delete;
  KUIDHashTable& operator=(const KUIDHashTable&) = delete;
  ~KUIDHashTable();

  // (user XOR content << 5 XOR version) as unsigned 32 bits, modulo the count.
  static unsigned BucketIndex(const KUID& kuid, unsigned bucketCount);

  // Appends to the record's bucket; no duplicate test.
  Iterator Insert(void* record);
  // Before the first record with the same KUID (equal keys stay together,
  // the newest first), else appended.
  Iterator InsertEqual(void* record);
  // The first record of the key's bucket whose KUID equals `kuid`.
  Iterator Find(const KUID& kuid) const;
  // Unordered erase inside the bucket; returns the next entry's iterator.
  Iterator Erase(const Iterator& where);
  void Clear();

  Iterator Begin() const { return FirstFrom(0); }
  Iterator End() const;
  Iterator begin() const { return Begin(); }
  Iterator end() const { return End(); }

  const KUID& KeyOf(const void* record) const {
    return *reinterpret_cast<const KUID*>(static_cast<const char*>(record) + keyOffset_);
  }
  unsigned Count() const { return count_; }
  unsigned BucketCount() const { return bucketCount_; }
  const Bucket& BucketAt(unsigned index) const { return buckets_[index]; }

private:
  Iterator FirstFrom(unsigned bucket) const;
  Iterator Make(unsigned bucket, const Bucket::Iterator& at) const { return Iterator{this, bucket, at}; }

  Bucket* buckets_ = nullptr;
  unsigned bucketCount_ = 0;
  unsigned count_ = 0;
  std::size_t keyOffset_ = 0;
};
