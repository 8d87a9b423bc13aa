// 100,000 assets with 20 dependencies each through SetDependencies, then the
// table's block written and read back, against a std::unordered_map from KUID
// to vectors holding the same links in both directions (filled, then copied,
// as the nearest plain-container stand-in for a write and a read). Reports
// the table's time over the map's as "table/map".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "assetdb/VADDependencyTable.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

constexpr int kAssets = 100000;
constexpr int kDependencies = 20;

KUID AssetKuid(int n) { return KUID(1000 + n % 977, n, 0); }

// Each asset's dependencies, drawn once so both sides link the same pairs.
const std::vector<std::vector<int>>& Plan() {
  static const std::vector<std::vector<int>> plan = [] {
    std::mt19937 rng(42);
    std::vector<std::vector<int>> out(kAssets);
    for (auto& deps : out) {
      for (int i = 0; i < kDependencies; ++i) deps.push_back(static_cast<int>(rng() % kAssets));
    }
    return out;
  }();
  return plan;
}

struct KuidHash {
  std::size_t operator()(const KUID& k) const {
    return static_cast<std::size_t>(static_cast<uint32_t>(k.user) ^ (static_cast<uint32_t>(k.content) << 5) ^
                                    static_cast<uint32_t>(k.version));
  }
};
struct Links {
  std::vector<KUID> dependencies;
  std::vector<KUID> dependants;
};

double TableSeconds() {
  const auto start = std::chrono::steady_clock::now();
  {
    VADDependencyTable table;
    for (int n = 0; n < kAssets; ++n) {
      KUIDList list;
      for (int d : Plan()[n]) list.Append(AssetKuid(d));
      table.SetDependencies(AssetKuid(n), list);
    }
    TBuffer block;
    table.Write(block);
    block.GetBuffer().SetPosition(0);
    VADDependencyTable again;
    if (!again.Read(block) || again.Count() != table.Count()) std::abort();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double MapSeconds() {
  const auto start = std::chrono::steady_clock::now();
  {
    std::unordered_map<KUID, Links, KuidHash> map;
    for (int n = 0; n < kAssets; ++n) {
      Links& self = map[AssetKuid(n)];
      for (int d : Plan()[n]) {
        self.dependencies.push_back(AssetKuid(d));
        map[AssetKuid(d)].dependants.push_back(AssetKuid(n));
      }
    }
    const std::unordered_map<KUID, Links, KuidHash> copy = map;
    benchmark::DoNotOptimize(copy.size());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DependenciesVsUnorderedMap(benchmark::State& state) {
  Plan();
  double table = 0, map = 0;
  for (auto _ : state) {
    table += TableSeconds();
    map += MapSeconds();
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["table_ms"] = table * 1000 / runs;
  state.counters["map_ms"] = map * 1000 / runs;
  state.counters["table/map"] = table / map;
}
BENCHMARK(BM_DependenciesVsUnorderedMap)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
