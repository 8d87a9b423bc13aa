// The asset index with 200,000 records: Find of every KUID in a shuffled
// order against a std::unordered_map from the same KUIDs (with the same
// hash) to the same records, and SortByName of random display names, from
// scratch and again after one appended record, against std::sort of pointers
// to the same name texts with the same comparison. Ratios are the index's time over the
// reference's ("index/map", "index/sort").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "bench/BenchScratch.h"
#include "assetdb/VADAssetIndex.h"

namespace {

constexpr int kRecords = 200000;

KUID AssetKuid(int n) { return KUID(1000 + n % 977, n, n % 3); }

struct KuidHash {
  std::size_t operator()(const KUID& k) const {
    return static_cast<std::size_t>(static_cast<uint32_t>(k.user) ^ (static_cast<uint32_t>(k.content) << 5) ^
                                    static_cast<uint32_t>(k.version));
  }
};

// The index's display-name order.
bool NameLess(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(Vak::CodePage::AsciiLower(*a));
    const auto y = static_cast<unsigned char>(Vak::CodePage::AsciiLower(*b));
    if (x != y || !x) return x < y;
  }
}

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = [] {
    std::mt19937 rng(7);
    std::vector<std::string> out;
    char text[32];
    for (int n = 0; n < kRecords; ++n) {
      std::snprintf(text, sizeof text, "%s Asset %08X", (rng() & 1) ? "Steam" : "diesel", static_cast<unsigned>(rng()));
      out.emplace_back(text);
    }
    return out;
  }();
  return names;
}

void Fill() {
  gVadAssetIndex.Clear();
  for (int n = 0; n < kRecords; ++n) {
    VADAssetInfo record;
    record.kuid = AssetKuid(n);
    record.name = Names()[n].c_str();
    gVadAssetIndex.Insert(record);
  }
}

void BM_FindVsUnorderedMap(benchmark::State& state) {
  Fill();
  std::unordered_map<KUID, VADAssetInfo*, KuidHash> map;
  for (VADAssetInfo* record : gVadAssetIndex.Records()) map.emplace(record->kuid, record);
  std::vector<KUID> order;
  for (int n = 0; n < kRecords; ++n) order.push_back(AssetKuid(n));
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  double index = 0, reference = 0;
  for (auto _ : state) {
    index += bench::Seconds([&] {
      for (const KUID& kuid : order)
        if (!gVadAssetIndex.Find(kuid)) std::abort();
    });
    reference += bench::Seconds([&] {
      for (const KUID& kuid : order)
        if (map.find(kuid) == map.end()) std::abort();
    });
  }
  state.counters["index/map"] = index / reference;
  gVadAssetIndex.Clear();
}
BENCHMARK(BM_FindVsUnorderedMap)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_SortByNameVsStdSort(benchmark::State& state) {
  double scratch = 0, scratchReference = 0, again = 0, againReference = 0;
  bool indexFirst = true;
  for (auto _ : state) {
    // Whichever runs second finds the names in the cache: take turns.
    indexFirst = !indexFirst;
    state.PauseTiming();
    Fill();
    // The very texts the records hold, so both sides read the same memory.
    std::vector<const char*> names;
    for (VADAssetInfo* record : gVadAssetIndex.Records()) names.push_back(record->DisplayName());
    state.ResumeTiming();
    auto sortIndex = [] { gVadAssetIndex.SortByName(); };
    auto sortNames = [&] { std::sort(names.begin(), names.end(), NameLess); };
    if (indexFirst) scratch += bench::Seconds(sortIndex);
    scratchReference += bench::Seconds(sortNames);
    if (!indexFirst) scratch += bench::Seconds(sortIndex);

    state.PauseTiming();
    VADAssetInfo extra;
    extra.kuid = KUID(9, 9, 0);
    extra.name = "Middle Asset";
    names.push_back(gVadAssetIndex.Insert(extra)->DisplayName());
    state.ResumeTiming();
    if (indexFirst) again += bench::Seconds(sortIndex);
    againReference += bench::Seconds(sortNames);
    if (!indexFirst) again += bench::Seconds(sortIndex);
  }
  state.counters["scratch index/sort"] = scratch / scratchReference;
  state.counters["appended index/sort"] = again / againReference;
  gVadAssetIndex.Clear();
}
BENCHMARK(BM_SortByNameVsStdSort)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace
