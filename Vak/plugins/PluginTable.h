#pragma once
// The plug-in system's hash tables: 97 buckets; the entries of one key keep
// the order in which they were added. Identifier keys hash as the exclusive-or
// of their four words (UId::Hash), interned names by their node.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/UId.h"

namespace Vak {

template <typename Key, typename Value>
class PluginTable {
public:
  static constexpr unsigned kBuckets = 97;

  static unsigned BucketOf(const UId& key) { return key.Hash() % kBuckets; }
  static unsigned BucketOf(const PString& key) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(key.GetNode()) % kBuckets);
  }

  void Add(const Key& key, const Value& value) { buckets_[BucketOf(key)].push_back({key, value}); }

  // The first value of the key, or null.
  Value* Find(const Key& key) {
    return Find(key, [](const Value&) { return true; });
  }
  const Value* Find(const Key& key) const {
    return const_cast<PluginTable*>(this)->Find(key);
  }
  // The first value of the key that `accept` takes, or null.
  template <typename Accept>
  Value* Find(const Key& key, Accept accept) {
    for (Entry& e : buckets_[BucketOf(key)])
      if (e.key == key && accept(e.value)) return &e.value;
    return nullptr;
  }

  // Removes the values of the key that `match` takes.
  template <typename Match>
  void Remove(const Key& key, Match match) {
    std::vector<Entry>& bucket = buckets_[BucketOf(key)];
    for (auto it = bucket.begin(); it != bucket.end();) {
      if (it->key == key && match(it->value))
        it = bucket.erase(it);
      else
        ++it;
    }
  }

  // Every value, bucket by bucket.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const std::vector<Entry>& bucket : buckets_)
      for (const Entry& e : bucket) visit(e.value);
  }

private:
  struct Entry {
    Key key;
    Value value;
  };
  std::vector<Entry> buckets_[kBuckets];
};

} // namespace Vak
