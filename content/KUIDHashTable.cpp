#include "content/KUIDHashTable.h"

#include <new>
#include <stdexcept>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/Exception.h"

KUIDHashTable::Iterator& KUIDHashTable::Iterator::Next() {
  if (at.IsEnd()) return *this;
  at.Next();
  if (at.IsEnd()) *this = table->FirstFrom(bucket + 1);
  return *this;
}

KUIDHashTable::KUIDHashTable(unsigned bucketCount, std::size_t keyOffset) : keyOffset_(keyOffset) {
  if (bucketCount == 0) throw Vak::Exception(__FILE__, __LINE__, "KUIDHashTable needs at least one bucket");
  uint64_t bytes = uint64_t{bucketCount} * sizeof(Bucket);
  if (bytes > UINT32_MAX) throw std::length_error("KUIDHashTable: too many buckets");
  void* memory = Vak::Alloc::New(static_cast<unsigned>(bytes));
  buckets_ = static_cast<Bucket*>(memory);
  for (unsigned i = 0; i < bucketCount; ++i) new (&buckets_[i]) Bucket();
  bucketCount_ = bucketCount;
}

KUIDHashTable::~KUIDHashTable() {
  for (unsigned i = 0; i < bucketCount_; ++i) buckets_[i].~Bucket();
  Vak::Alloc::Delete(buckets_);
}

unsigned KUIDHashTable::BucketIndex(const KUID& kuid, unsigned bucketCount) {
  uint32_t hash = static_cast<uint32_t>(kuid.user) ^ (static_cast<uint32_t>(kuid.content) << 5) ^
                  static_cast<uint32_t>(kuid.version);
  return hash % bucketCount;
}

KUIDHashTable::Iterator KUIDHashTable::Insert(void* record) {
  const KUID& key = KeyOf(record);
  unsigned bucket = BucketIndex(key, bucketCount_);
  Iterator it = Make(bucket, buckets_[bucket].Append(Entry{key, record}));
  ++count_;
  return it;
}

KUIDHashTable::Iterator KUIDHashTable::InsertEqual(void* record) {
  const KUID& key = KeyOf(record);
  unsigned bucket = BucketIndex(key, bucketCount_);
  Bucket& list = buckets_[bucket];
  Bucket::Iterator at = list.Begin();
  while (!at.IsEnd() && !(at->key == key)) at.Next();
  Iterator it = Make(bucket, list.Insert(at, Entry{key, record}));
  ++count_;
  return it;
}

KUIDHashTable::Iterator KUIDHashTable::Find(const KUID& kuid) const {
  unsigned bucket = BucketIndex(kuid, bucketCount_);
  Bucket::Block* first = buckets_[bucket].FirstBlock();
  if (!first) return End();
  // Block by block: the hot loop of every look-up.
  Bucket::Block* block = first;
  do {
    for (uint32_t i = 0; i < block->count; ++i)
      if (block->items[i].key == kuid) return Make(bucket, Bucket::Iterator(&block->items[i], first, block));
    block = block->next;
  } while (block != first);
  return End();
}

KUIDHashTable::Iterator KUIDHashTable::Erase(const Iterator& where) {
  Bucket::Iterator at = buckets_[where.bucket].Erase(where.at);
  --count_;
  if (at.IsEnd()) return FirstFrom(where.bucket + 1);
  return Make(where.bucket, at);
}

void KUIDHashTable::Clear() {
  for (unsigned i = 0; i < bucketCount_; ++i) buckets_[i].Clear();
  count_ = 0;
}

KUIDHashTable::Iterator KUIDHashTable::End() const { return Make(bucketCount_, Bucket::Iterator()); }

KUIDHashTable::Iterator KUIDHashTable::FirstFrom(unsigned bucket) const {
  for (unsigned b = bucket; b < bucketCount_; ++b)
    if (!buckets_[b].IsEmpty()) return Make(b, buckets_[b].Begin());
  return End();
}
