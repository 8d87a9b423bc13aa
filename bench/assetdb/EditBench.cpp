// The editing cycle on 1,000 assets of 20 files each: every asset opened for
// edit (a copy of its local folder into a new editing folder) and committed
// (the editing copy swapped in as the local folder, the editing folder
// deleted), against `cp -r` of the same folders twice (the local folders to
// a second place and that copy to a third). The ratio is the cycle's time
// over the copies' ("edit/cp").
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "bench/BenchScratch.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"

namespace {

constexpr int kAssets = 1000;
constexpr int kFiles = 20;
constexpr int kFileBytes = 4096;

KUID AssetKuid(int n) { return KUID(700, n + 1, 0); }

void BM_EditCycleVsCopyTwice(benchmark::State& state) {
  const std::string root = bench::ScratchPath("edit");
  const std::string copies = bench::ScratchPath("edit-copies");
  std::filesystem::create_directories(copies);
  SetMainThread();
  SetDatabaseRootPath(root.c_str());
  const std::string body(kFileBytes, 'x');
  for (int n = 0; n < kAssets; ++n) {
    const std::string name = "asset" + std::to_string(n);
    const std::string folder = root + "/local/" + name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/config.txt") << "kuid " << AssetKuid(n).ToConfigText().c_str() << "\nname \"" << name
                                          << "\"\nkind \"scenery\"\n";
    for (int j = 0; j < kFiles - 1; ++j) std::ofstream(folder + "/f" + std::to_string(j) + ".im") << body;
    VADAssetInfo record;
    record.kuid = AssetKuid(n);
    record.name = name.c_str();
    record.localPath = ("local\\" + name).c_str();
    gVadAssetIndex.Insert(record);
  }

  double cycle = 0, reference = 0;
  for (auto _ : state) {
    cycle += bench::Seconds([&] {
      for (int n = 0; n < kAssets; ++n) {
        ResultsLog log;
        VADAssetHandle handle = VADOpenAsset(AssetKuid(n), true, &log);
        bool kept = false;
        if (!VADCommitAssetEdits(handle, 0, &log, kept)) std::abort();
      }
    });
    reference += bench::Seconds([&] {
      bench::Run("cp -r '" + root + "/local' '" + copies + "/one'");
      bench::Run("cp -r '" + copies + "/one' '" + copies + "/two'");
    });
    bench::Run("rm -rf '" + copies + "/one' '" + copies + "/two'");
  }
  state.counters["edit/cp"] = cycle / reference;
  gVadAssetIndex.Clear();
}
BENCHMARK(BM_EditCycleVsCopyTwice)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
