// Allocator churn: each thread keeps a window of live blocks and replaces
// random ones in batches, with a size mix weighted to short strings.
//
// The malloc run of each thread count comes first and leaves its time per
// replacement behind; the Vak::Alloc run after it reports both times and its
// speed relative to malloc (vs_malloc, above 1 is faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"

namespace {

struct Malloc {
  static constexpr bool kIsReference = true;
  static void* New(unsigned n) { return std::malloc(n); }
  static void Delete(void* p) { std::free(p); }
};

struct VakAlloc {
  static constexpr bool kIsReference = false;
  static void* New(unsigned n) { return Vak::Alloc::New(n); }
  static void Delete(void* p) { Vak::Alloc::Delete(p); }
};

constexpr unsigned kWindow = 2048;  // live blocks per thread
constexpr unsigned kBatch = 64;     // replacements per iteration
constexpr unsigned kPlan = 1 << 16; // pre-drawn (slot, size) pairs

unsigned DrawSize(std::mt19937& rng) {
  const unsigned r = rng() % 100;
  if (r < 60) return 8 + rng() % 41;     // short strings, 8..48
  if (r < 85) return 49 + rng() % 80;    // 49..128
  if (r < 97) return 129 + rng() % 128;  // 129..256
  return 257 + rng() % 256;              // 257..512
}

// Wall nanoseconds per replacement of the latest malloc run, averaged over
// its threads, by thread count.
struct ReferenceTimes {
  std::mutex mutex;
  std::map<int, double> sum;
};
ReferenceTimes gReference;

template <class Api>
void BM_AllocChurn(benchmark::State& state) {
  std::mt19937 rng(1234u + static_cast<unsigned>(state.thread_index()));
  std::vector<unsigned> slots(kPlan), sizes(kPlan);
  for (unsigned i = 0; i < kPlan; ++i) {
    slots[i] = rng() % kWindow;
    sizes[i] = DrawSize(rng);
  }
  std::vector<void*> live(kWindow);
  for (unsigned i = 0; i < kWindow; ++i) live[i] = Api::New(DrawSize(rng));
  if (Api::kIsReference && state.thread_index() == 0) {
    std::lock_guard<std::mutex> lock(gReference.mutex);
    gReference.sum[state.threads()] = 0;
  }

  unsigned k = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (unsigned b = 0; b < kBatch; ++b, k = (k + 1) & (kPlan - 1)) {
      void*& slot = live[slots[k]];
      Api::Delete(slot);
      slot = Api::New(sizes[k]);
      *static_cast<char*>(slot) = 1;  // touch it, as a user would
    }
    benchmark::ClobberMemory();
  }
  const double replacements = static_cast<double>(state.iterations()) * kBatch;
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / replacements;
  for (void* p : live) Api::Delete(p);
  state.SetItemsProcessed(static_cast<int64_t>(replacements));

  std::lock_guard<std::mutex> lock(gReference.mutex);
  if (Api::kIsReference) {
    gReference.sum[state.threads()] += ns / state.threads();
    return;
  }
  const auto reference = gReference.sum.find(state.threads());
  if (reference == gReference.sum.end()) return;  // malloc was filtered out
  state.counters["ns"] = benchmark::Counter(ns, benchmark::Counter::kAvgThreads);
  state.counters["malloc_ns"] = benchmark::Counter(reference->second, benchmark::Counter::kAvgThreads);
  state.counters["vs_malloc"] = benchmark::Counter(reference->second / ns, benchmark::Counter::kAvgThreads);
}

BENCHMARK_TEMPLATE(BM_AllocChurn, Malloc)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK_TEMPLATE(BM_AllocChurn, VakAlloc)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
