// A rebuild from 20,000 local asset folders against `find` listing their
// configs and `cat` reading them ("rebuild/find+cat"). The index file's load
// and save are timed in fresh processes by bench/assetdb/index.sh: in this
// process the allocator is warm from building the records.
// The tools run through `sh -c`, so each reference carries one shell start.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "bench/BenchScratch.h"
#include "content/AppGlobals.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Process.h"
#include "platform/os/Waitable.h"

namespace {

constexpr int kFolders = 20000;

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename F> double Time(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return Seconds(start);
}

void Shell(const std::string& command) {
  platform::Process process;
  if (process.Start({"/bin/sh", "-c", command}) != platform::Error::None) std::abort();
  process.Wait(platform::kInfinite);
}

void BM_RebuildVsFindAndCat(benchmark::State& state) {
  const std::string root = bench::ScratchPath("install");
  for (int n = 0; n < kFolders; ++n) {
    char bucket[16];
    std::snprintf(bucket, sizeof bucket, "hash-%02X", n % 256);
    const std::string folder = root + "/local/" + bucket + "/asset" + std::to_string(n);
    platform::MakeFolderPath(folder.c_str());
    std::ofstream(folder + "/config.txt") << "kuid <kuid:700:" << n << ">\nusername \"asset " << n
                                          << "\"\nkind \"scenery\"\nvelmar-build 3.5\n";
  }
  SetDatabaseRootPath(root.c_str());
  double rebuild = 0, reference = 0;
  for (auto _ : state) {
    rebuild += Time([] { VADRebuildFromFolders(); });
    if (gVadAssetIndex.RecordCount() != kFolders) std::abort();
    reference += Time([&] { Shell("find '" + root + "' -name config.txt -exec cat {} + > /dev/null"); });
  }
  state.counters["rebuild/find+cat"] = rebuild / reference;
  gVadAssetIndex.Clear();
}
BENCHMARK(BM_RebuildVsFindAndCat)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
