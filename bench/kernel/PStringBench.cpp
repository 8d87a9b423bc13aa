// Interned strings against std::unordered_set<std::string> behind a mutex:
// interning a set of asset-style names, looking up names already interned,
// and comparing two handles.
//
// Two families of a million names each: "kuid" names that differ at the end,
// and "mixed" names in four forms, two of which share long suffixes (and so
// one collection chain each).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace {

enum Family : int { kKuid = 0, kMixed = 1 };

std::string KuidName(uint32_t i) {
  char buffer[64];
  uint32_t author = 100000 + (i * 2654435761u) % 400000;
  if (i % 3 == 0) std::snprintf(buffer, sizeof buffer, "<kuid:%u:%u>", author, i);
  else std::snprintf(buffer, sizeof buffer, "<kuid2:%u:%u:%u>", author, i, i % 5);
  return buffer;
}

std::string MixedName(uint32_t i) {
  char buffer[96];
  uint32_t n = i / 4;
  switch (i % 4) {
    case 0: return KuidName(n);
    case 1: std::snprintf(buffer, sizeof buffer, "assets/%08x/config.chump", n * 2654435761u); break;
    case 2: std::snprintf(buffer, sizeof buffer, "trains/loco_%u/body.im", n); break;
    default: std::snprintf(buffer, sizeof buffer, "scenery/tree_%05u/tree.texture.txt", n); break;
  }
  return buffer;
}

const std::vector<std::string>& Names(int family, size_t count) {
  static std::map<std::pair<int, size_t>, std::vector<std::string>> made;
  std::vector<std::string>& names = made[{family, count}];
  if (names.empty()) {
    names.reserve(count);
    for (uint32_t i = 0; i < count; ++i) names.push_back(family == kKuid ? KuidName(i) : MixedName(i));
  }
  return names;
}

std::vector<uint32_t> Shuffled(size_t count) {
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  return order;
}

void Label(benchmark::State& state) { state.SetLabel(state.range(0) == kKuid ? "kuid" : "mixed"); }

// Returns the process's cache to empty between runs.
void CollectAll() {
  for (unsigned i = 0; i < Vak::PStringCache::kBuckets; ++i) Vak::PString::cache()->CollectGarbage();
}

struct LockedSet {
  std::mutex mutex;
  std::unordered_set<std::string> set;
};

// (a) Intern every name once into an empty table.
void BM_InternAll_PString(benchmark::State& state) {
  const auto& names = Names(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  std::vector<Vak::PString> held;
  held.reserve(names.size());
  for (auto _ : state) {
    for (const std::string& name : names) held.emplace_back(name.c_str());
    state.PauseTiming();
    held.clear();
    CollectAll();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
  Label(state);
}

void BM_InternAll_UnorderedSet(benchmark::State& state) {
  const auto& names = Names(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  for (auto _ : state) {
    auto table = std::make_unique<LockedSet>();
    for (const std::string& name : names) {
      std::lock_guard<std::mutex> lock(table->mutex);
      table->set.insert(name);
    }
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
  Label(state);
}

// (b) Look up names already interned: a PString built from the text and
// released, against a find under the mutex. Random order over all names.
void BM_Lookup_PString(benchmark::State& state) {
  const auto& names = Names(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  const std::vector<uint32_t> order = Shuffled(names.size());
  std::vector<Vak::PString> held;
  held.reserve(names.size());
  for (const std::string& name : names) held.emplace_back(name.c_str());
  size_t k = 0;
  for (auto _ : state) {
    Vak::PString found(names[order[k]].c_str());
    benchmark::DoNotOptimize(found.GetNode());
    if (++k == order.size()) k = 0;
  }
  held.clear();
  CollectAll();
  Label(state);
}

void BM_Lookup_UnorderedSet(benchmark::State& state) {
  const auto& names = Names(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  const std::vector<uint32_t> order = Shuffled(names.size());
  LockedSet table;
  table.set.insert(names.begin(), names.end());
  size_t k = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.set.find(names[order[k]]);
    benchmark::DoNotOptimize(it);
    if (++k == order.size()) k = 0;
  }
  Label(state);
}

// (c) Equality of two handles: half equal, half differing in the last character.
constexpr size_t kPairs = 1024;

std::pair<std::vector<std::string>, std::vector<std::string>> Pairs() {
  std::vector<std::string> left, right;
  for (uint32_t i = 0; i < kPairs; ++i) {
    left.push_back(KuidName(i * 977));
    right.push_back(left.back());
    if (i % 2) right.back().back() = '?';
  }
  return {left, right};
}

void BM_Equal_PString(benchmark::State& state) {
  auto [l, r] = Pairs();
  std::vector<Vak::PString> left, right;
  for (size_t i = 0; i < kPairs; ++i) {
    left.emplace_back(l[i].c_str());
    right.emplace_back(r[i].c_str());
  }
  for (auto _ : state)
    for (size_t i = 0; i < kPairs; ++i) benchmark::DoNotOptimize(left[i] == right[i]);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPairs));
}

void BM_Equal_String(benchmark::State& state) {
  auto [left, right] = Pairs();
  for (auto _ : state)
    for (size_t i = 0; i < kPairs; ++i) benchmark::DoNotOptimize(left[i] == right[i]);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kPairs));
}

void Sizes(benchmark::internal::Benchmark* b) { b->Args({kKuid, 1000000})->Args({kMixed, 1000000}); }

void InternSizes(benchmark::internal::Benchmark* b) {
  Sizes(b);
  b->Unit(benchmark::kMillisecond);
}

// Fixed counts: the table is filled outside the timed loop, once per run.
void LookupSizes(benchmark::internal::Benchmark* b) {
  Sizes(b);
  b->Unit(benchmark::kNanosecond)->Iterations(20000);
}

BENCHMARK(BM_InternAll_PString)->Apply(InternSizes);
BENCHMARK(BM_InternAll_UnorderedSet)->Apply(InternSizes);
BENCHMARK(BM_Lookup_PString)->Apply(LookupSizes);
BENCHMARK(BM_Lookup_UnorderedSet)->Apply(LookupSizes);
BENCHMARK(BM_Equal_PString);
BENCHMARK(BM_Equal_String);

} // namespace
