#pragma once
// An intrusive chained hash table: nodes carry their own link, hash and
// ordering, so a look-up allocates nothing. Each chain is kept in the nodes'
// own order, which lets a walk stop early and refuses equal nodes.
//
// The table does not own its nodes; DeleteAllNodes is for owners that do.
// Not locked: owners lock.
#include <cstddef>
#include <cstdint>

namespace Utils {

class IHashNode {
public:
  IHashNode() = default;
  IHashNode(const IHashNode&) : next(nullptr) {}
  IHashNode& operator=(const IHashNode&) { return *this; }
  virtual ~IHashNode();
  virtual uint32_t Hash() const = 0;
  // Negative when this node orders before `other`, zero when equal.
  virtual int Compare(const IHashNode& other) const = 0;

  // Nodes live in the engine's allocator.
  static void* operator new(std::size_t size);
  static void operator delete(void* block);

  IHashNode* next = nullptr;
};

class HashTable {
public:
  class Iterator {
  public:
    IHashNode** link = nullptr;  // the pointer that holds the node
    const HashTable* table = nullptr;
    int bucket = -1;             // -1 at the end

    bool IsEnd() const { return bucket < 0; }
    IHashNode* Node() const { return *link; }
    Iterator& Next();
    Iterator& operator++() { return Next(); }
    bool operator==(const Iterator& other) const { return bucket == other.bucket && link == other.link; }
  };

  // All buckets empty.
  explicit HashTable(unsigned bucketCount);
  HashTable(const HashTable&) = delete;
  HashTable& operator=(const HashTable&) = delete;
  // Frees the buckets; nodes still in the table are not deleted.
  ~HashTable();

  // Links the node into its chain in order; false (and nothing changes) when
  // an equal node is present. Throws Vak::Exception once the buckets are freed.
  bool Insert(IHashNode* node);
  // Insert, for an owner that keeps its own ordered index of the chains:
  // `previous`, a node of this table, is the one that orders last before `node` in its chain (null
  // for none), so the chain is not walked. A place that does not hold (a
  // node of another bucket, or neighbours out of order) takes the walk.
  bool InsertAfter(IHashNode* previous, IHashNode* node);
  // The node equal to `key`, else the end.
  Iterator Find(const IHashNode& key) const;
  Iterator Begin() const;
  Iterator End() const { return Iterator{nullptr, this, -1}; }
  Iterator begin() const { return Begin(); }
  Iterator end() const { return End(); }

  // Deletes every node through its destructor, buckets from the last to the
  // first, and empties the buckets; the bucket array stays.
  void DeleteAllNodes();
  // Empties and frees the bucket array: size and count 0. Nodes are not deleted.
  void FreeBuckets();

  unsigned BucketCount() const { return bucketCount_; }
  unsigned Count() const { return count_; }
  unsigned BucketOf(uint32_t hash) const { return hash % bucketCount_; }

private:
  // First node at or after bucket `from`, else the end.
  Iterator FirstFrom(unsigned from) const;

  IHashNode** buckets_ = nullptr;
  unsigned bucketCount_ = 0;
  unsigned count_ = 0;
};

} // namespace Utils
