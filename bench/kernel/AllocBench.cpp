// Allocator churn: each thread keeps a window of live blocks and replaces
// random ones in batches, with a size mix weighted to short strings.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"

namespace {

struct Malloc {
  static void* New(unsigned n) { return std::malloc(n); }
  static void Delete(void* p) { std::free(p); }
};

struct VakAlloc {
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

  unsigned k = 0;
  for (auto _ : state) {
    for (unsigned b = 0; b < kBatch; ++b, k = (k + 1) & (kPlan - 1)) {
      void*& slot = live[slots[k]];
      Api::Delete(slot);
      slot = Api::New(sizes[k]);
      *static_cast<char*>(slot) = 1;  // touch it, as a user would
    }
    benchmark::ClobberMemory();
  }
  for (void* p : live) Api::Delete(p);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBatch);
}

BENCHMARK_TEMPLATE(BM_AllocChurn, Malloc)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK_TEMPLATE(BM_AllocChurn, VakAlloc)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
