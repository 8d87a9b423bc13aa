#include "content/HashTable.h"

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/Exception.h"

#include <cstring>
#include <stdexcept>

namespace Utils {

IHashNode::~IHashNode() = default;

void* IHashNode::operator new(std::size_t size) {
  if (size > UINT32_MAX) throw std::bad_alloc();
  return Vak::Alloc::New(static_cast<unsigned>(size));
}

void IHashNode::operator delete(void* block) { Vak::Alloc::Delete(block); }

HashTable::Iterator& HashTable::Iterator::Next() {
  if (IsEnd()) return *this;
  IHashNode* node = *link;
  if (node->next) {
    link = &node->next;
    return *this;
  }
  *this = table->FirstFrom(static_cast<unsigned>(bucket) + 1);
  return *this;
}

HashTable::HashTable(unsigned bucketCount) {
  if (bucketCount == 0) return;
  uint64_t bytes = uint64_t{bucketCount} * sizeof(IHashNode*);
  if (bytes > UINT32_MAX) throw std::length_error("Utils::HashTable: too many buckets");
  buckets_ = static_cast<IHashNode**>(Vak::Alloc::New(static_cast<unsigned>(bytes)));
  std::memset(buckets_, 0, bytes);
  bucketCount_ = bucketCount;
}

HashTable::~HashTable() { FreeBuckets(); }

bool HashTable::Insert(IHashNode* node) {
  if (bucketCount_ == 0) throw Vak::Exception(__FILE__, __LINE__, "Utils::HashTable::Insert on a table without buckets");
  IHashNode** link = &buckets_[BucketOf(node->Hash())];
  while (*link) {
    int order = node->Compare(**link);
    if (order == 0) return false;
    if (order < 0) break;
    link = &(*link)->next;
  }
  node->next = *link;
  *link = node;
  ++count_;
  return true;
}

bool HashTable::InsertAfter(IHashNode* previous, IHashNode* node) {
  if (bucketCount_ == 0) return Insert(node);
  const unsigned bucket = BucketOf(node->Hash());
  IHashNode** link = &buckets_[bucket];
  if (previous != nullptr) {
    if (BucketOf(previous->Hash()) != bucket) return Insert(node);
    const int order = node->Compare(*previous);
    if (order == 0) return false;
    if (order < 0) return Insert(node);
    link = &previous->next;
  }
  if (*link != nullptr) {
    const int order = node->Compare(**link);
    if (order == 0) return false;
    if (order > 0) return Insert(node);
  }
  node->next = *link;
  *link = node;
  ++count_;
  return true;
}

HashTable::Iterator HashTable::Find(const IHashNode& key) const {
  if (bucketCount_ == 0) return End();
  unsigned bucket = BucketOf(key.Hash());
  IHashNode** link = &buckets_[bucket];
  while (*link) {
    int order = key.Compare(**link);
    if (order == 0) return Iterator{link, this, static_cast<int>(bucket)};
    if (order < 0) break;
    link = &(*link)->next;
  }
  return End();
}

HashTable::Iterator HashTable::Begin() const { return FirstFrom(0); }

HashTable::Iterator HashTable::FirstFrom(unsigned from) const {
  for (unsigned b = from; b < bucketCount_; ++b)
    if (buckets_[b]) return Iterator{&buckets_[b], this, static_cast<int>(b)};
  return End();
}

void HashTable::DeleteAllNodes() {
  for (unsigned b = bucketCount_; b-- > 0;) {
    IHashNode* node = buckets_[b];
    buckets_[b] = nullptr;
    while (node) {
      IHashNode* next = node->next;
      delete node;
      node = next;
    }
  }
  count_ = 0;
}

void HashTable::FreeBuckets() {
  Vak::Alloc::Delete(buckets_);
  buckets_ = nullptr;
  bucketCount_ = 0;
  count_ = 0;
}

} // namespace Utils
