#pragma once
// What the mesh benchmarks share: a resource that answers, the plain read
// that a load is set against, and the loop that times ours against a
// reference in each iteration.
//
// A process starts with no freed memory to reuse: every block of 128 KiB or
// more comes from the system here too (glibc would otherwise raise that
// threshold after the first free and hand both sides warm pages).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarMeshResource.h"

namespace meshbench {

class BenchResource final : public VelmarMeshResource {
public:
  explicit BenchResource(const char* name = "meshes\\bench.im") : VelmarMeshResource(name, nullptr) {}
  const MeshGeometryOptions& GetGeometryOptions() const override { return options_; }
  bool AllowsMaterialFallBack() const override { return false; }
  void AddFailedMaterialName(const Vak::PString&) override {}

private:
  MeshGeometryOptions options_;
};

// The least any loader pays for a file's bytes on the same path: the file
// opened, a buffer of its size allocated, its bytes read in.
inline bool PlainRead(const std::string& path) {
  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok()) return false;
  const uint32_t size = file.Size();
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  const bool whole = file.Read(bytes.get(), size, 1) == size;
  benchmark::DoNotOptimize(bytes.get());
  file.Close();
  return whole;
}

inline const bool kFreshBlocks = mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;

// Each iteration runs `reference`, then `ours` (each false on failure, which
// ends the run with `failure`); the iteration's time is ours. The totals of
// both, in seconds, for the counters; 0 for both after a failure.
template <class Reference, class Ours>
std::pair<double, double> TimeAgainst(benchmark::State& state, const char* failure, Reference reference,
                                      Ours ours) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
  };
  if (!kFreshBlocks) state.SkipWithError("cannot fix the allocation threshold");
  double referenceTotal = 0, ourTotal = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const bool referenceDone = reference();
    const Clock::time_point middle = Clock::now();
    if (!referenceDone || !ours()) {
      state.SkipWithError(failure);
      return {0, 0};
    }
    const Clock::time_point end = Clock::now();
    referenceTotal += seconds(start, middle);
    ourTotal += seconds(middle, end);
    state.SetIterationTime(seconds(middle, end));
  }
  return {referenceTotal, ourTotal};
}

} // namespace meshbench
