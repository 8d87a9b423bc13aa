// The index file and the rebuild, each against plain tools on the same
// bytes in the same run:
// - saving a 200,000-record index ("assets.tdx", synced) against `cp` of the
//   file, loading it against `cat` of it ("save/cp", "load/cat");
// - a rebuild from 20,000 local asset folders against `find` listing their
//   configs and `cat` reading them ("rebuild/find+cat").
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

constexpr int kRecords = 200000;
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

void FillIndex() {
  gVadAssetIndex.Clear();
  for (int n = 0; n < kRecords; ++n) {
    VADAssetInfo record;
    record.kuid = KUID(1000 + n % 977, n, 0);
    const std::string name = "asset number " + std::to_string(n);
    record.name = name.c_str();
    record.localPath = ("local\\hash-" + std::to_string(n % 256) + "\\" + std::to_string(n)).c_str();
    record.categoryClasses = "SS";
    record.regionList = "GB";
    record.keywords = "bench;steam";
    record.build = 3.5f;
    gVadAssetIndex.Insert(record);
  }
}

void BM_SaveAndLoadVsCpAndCat(benchmark::State& state) {
  const std::string folder = bench::ScratchPath("index");
  platform::MakeFolderPath(folder.c_str());
  const std::string file = folder + "/assets.tdx";
  const std::string copy = folder + "/copy.tdx";
  FillIndex();
  double save = 0, load = 0, cp = 0, cat = 0;
  for (auto _ : state) {
    save += Time([&] { WriteDatabaseFile(file.c_str()); });
    cp += Time([&] { Shell("cp '" + file + "' '" + copy + "'"); });
    cat += Time([&] { Shell("cat '" + file + "' > /dev/null"); });
    load += Time([&] { ReadDatabaseFile(file.c_str()); });
  }
  state.counters["save/cp"] = save / cp;
  state.counters["load/cat"] = load / cat;
  const double n = static_cast<double>(state.iterations());
  state.counters["save ms"] = 1000 * save / n;
  state.counters["load ms"] = 1000 * load / n;
  state.counters["cp ms"] = 1000 * cp / n;
  state.counters["cat ms"] = 1000 * cat / n;
  gVadAssetIndex.Clear();
}
BENCHMARK(BM_SaveAndLoadVsCpAndCat)->Iterations(3)->Unit(benchmark::kMillisecond);

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
