// KUIDHashTable look-ups against std::unordered_map over the same KUIDs and
// records, for hits and for misses, each table at the size it has in use:
// the KUIDHashTable with the buckets the asset index picks for the record
// count (a bucket per at most 16 records: 4093 for 10,000, 8191 for 100,000,
// 65521 for 1,000,000) and the 97 of a dependency table, the unordered_map
// reserved for the same records.
//   args: record count, bucket count (KUIDHashTable only), hit (1) or miss (0)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "content/KUIDHashTable.h"

namespace {

struct Record {
  KUID kuid;
  char payload[116];  // an index record is larger than its key
};

struct KUIDHash {
  size_t operator()(const KUID& k) const {
    return static_cast<uint32_t>(k.user) ^ (static_cast<uint32_t>(k.content) << 5) ^ static_cast<uint32_t>(k.version);
  }
};

constexpr size_t kProbes = 1 << 14;

struct Data {
  std::vector<Record> records;
  std::vector<KUID> hits;
  std::vector<KUID> misses;
};

// Distinct KUIDs spread over many authors, records in a shuffled order.
const Data& DataFor(size_t count) {
  static std::map<size_t, std::unique_ptr<Data>> cache;
  auto& slot = cache[count];
  if (slot) return *slot;
  slot = std::make_unique<Data>();
  Data& d = *slot;
  std::mt19937 rng(42);
  std::unordered_set<KUID, KUIDHash> seen;
  auto random = [&] {
    return KUID(static_cast<int32_t>(rng() % 600000), static_cast<int32_t>(rng() % 200000),
                static_cast<int32_t>(rng() % 4));
  };
  d.records.resize(count);
  for (size_t i = 0; i < count; ++i) {
    KUID k;
    do k = random(); while (!seen.insert(k).second);
    d.records[i].kuid = k;
  }
  for (size_t i = 0; i < kProbes; ++i) d.hits.push_back(d.records[rng() % count].kuid);
  while (d.misses.size() < kProbes) {
    KUID k = random();
    if (!seen.count(k)) d.misses.push_back(k);
  }
  return d;
}

void BM_KUIDHashTableFind(benchmark::State& state) {
  const Data& d = DataFor(static_cast<size_t>(state.range(0)));
  KUIDHashTable table(static_cast<unsigned>(state.range(1)));
  for (const Record& r : d.records) table.Insert(const_cast<Record*>(&r));
  const std::vector<KUID>& keys = state.range(2) ? d.hits : d.misses;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += !table.Find(keys[i++ & (kProbes - 1)]).IsEnd();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_UnorderedMapFind(benchmark::State& state) {
  const Data& d = DataFor(static_cast<size_t>(state.range(0)));
  std::unordered_map<KUID, const Record*, KUIDHash> map;
  map.reserve(d.records.size());
  for (const Record& r : d.records) map.emplace(r.kuid, &r);
  const std::vector<KUID>& keys = state.range(2) ? d.hits : d.misses;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += map.find(keys[i++ & (kProbes - 1)]) != map.end();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_KUIDHashTableFind)
    ->ArgNames({"records", "buckets", "hit"})
    ->ArgsProduct({{100}, {97}, {1, 0}})
    ->ArgsProduct({{10000}, {4093}, {1, 0}})
    ->ArgsProduct({{100000}, {8191}, {1, 0}})
    ->ArgsProduct({{1000000}, {65521}, {1, 0}});
BENCHMARK(BM_UnorderedMapFind)
    ->ArgNames({"records", "buckets", "hit"})
    ->ArgsProduct({{100, 10000, 100000, 1000000}, {0}, {1, 0}});
