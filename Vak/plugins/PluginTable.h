#pragma once
// The plug-in system's hash tables. The entries of one key keep the order in
// which they were added, and a look-up touches only that key's entries, so a
// configuration of many thousand plug-ins reads in linear time. ForEach visits
// the values as a table of 97 buckets holds them: bucket by bucket (identifier
// keys by the exclusive-or of their four words, UId::Hash, interned names by
// their node), each bucket in the order of adding.
#include <algorithm>
#include <cstdint>
#include <tuple>
#include <unordered_map>
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

  void Add(const Key& key, const Value& value) { entries_[key].push_back({added_++, value}); }

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
    auto it = entries_.find(key);
    if (it == entries_.end()) return nullptr;
    for (Item& item : it->second)
      if (accept(item.value)) return &item.value;
    return nullptr;
  }

  // Removes the values of the key that `match` takes.
  template <typename Match>
  void Remove(const Key& key, Match match) {
    auto it = entries_.find(key);
    if (it == entries_.end()) return;
    std::erase_if(it->second, [&](Item& item) { return match(item.value); });
    if (it->second.empty()) entries_.erase(it);
  }

  // Every value, bucket by bucket.
  template <typename Visit>
  void ForEach(Visit visit) const {
    std::vector<std::tuple<unsigned, uint64_t, const Value*>> all;
    for (const auto& [key, items] : entries_)
      for (const Item& item : items) all.emplace_back(BucketOf(key), item.added, &item.value);
    std::sort(all.begin(), all.end());
    for (const auto& entry : all) visit(*std::get<2>(entry));
  }

private:
  struct Item {
    uint64_t added;  // when, among all entries of the table
    Value value;
  };
  struct Hash {
    std::size_t operator()(const UId& key) const {
      uint64_t h = key.first;
      h = h * 0x9E3779B97F4A7C15ull ^ (uint64_t{key.second} << 16 | key.third);
      for (uint8_t b : key.bytes) h = h * 0x100000001B3ull ^ b;
      return static_cast<std::size_t>(h ^ h >> 29);
    }
    std::size_t operator()(const PString& key) const { return std::hash<const void*>()(key.GetNode()); }
  };

  std::unordered_map<Key, std::vector<Item>, Hash> entries_;
  uint64_t added_ = 0;
};

} // namespace Vak
