// Installing 10,000 small assets (a config and two files each) into an
// empty database, against `cp -r` of the same folders:
//  - from a folder tree, as the installfrompath command does (the assets stay
//    open for edit): "install/cp";
//  - from one package of the same assets, committed, as the installcdp
//    command does: "package/cp" (the package is written once, outside the
//    timing).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADInstall.h"
#include "bench/BenchScratch.h"
#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"

namespace {

constexpr int kAssets = 10000;
constexpr int kFileBytes = 512;

KUID AssetKuid(int n) { return KUID(710, n + 1, 0); }

// The tree of asset folders, a hundred to a group folder.
std::string MakeTree(const std::string& tree) {
  const std::string body(kFileBytes, 'x');
  for (int n = 0; n < kAssets; ++n) {
    const std::string name = "asset" + std::to_string(n);
    const std::string folder = tree + "/group" + std::to_string(n / 100) + "/" + name;
    std::filesystem::create_directories(folder + "/art");
    std::ofstream(folder + "/config.txt") << "kuid " << AssetKuid(n).ToConfigText().c_str() << "\nusername \"" << name
                                          << "\"\nkind \"scenery\"\nvelmar-build 3.5\n";
    std::ofstream(folder + "/mesh.im") << body;
    std::ofstream(folder + "/art/icon.bmp") << body;
  }
  return tree;
}

// An empty database at `root`.
void EmptyDatabase(const std::string& root) {
  gVadAssetIndex.Clear();
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
}

// Times `install` into an emptied database against `cp -r` of the tree, and
// stores their ratio as `counter`.
template <typename Install>
void RaceCopy(benchmark::State& state, const std::string& scratch, const std::string& tree, const char* counter,
              Install&& install) {
  const std::string root = scratch + "/root";
  SetMainThread();
  SetDatabaseRootPath(root.c_str());
  double ours = 0, reference = 0;
  for (auto _ : state) {
    EmptyDatabase(root);
    ours += bench::Seconds(install);
    reference += bench::Seconds([&] { bench::Run("cp -r '" + tree + "' '" + scratch + "/copy'"); });
    bench::Run("rm -rf '" + scratch + "/copy'");
  }
  state.counters[counter] = ours / reference;
  gVadAssetIndex.Clear();
}

void BM_InstallFromPathVsCopy(benchmark::State& state) {
  const std::string scratch = bench::ScratchPath("install");
  const std::string tree = MakeTree(scratch + "/tree");
  RaceCopy(state, scratch, tree, "install/cp", [&] {
    bool kept = false;
    if (VADInstallFromPath(tree.c_str(), nullptr, 0, kept, nullptr) != kAssets) std::abort();
  });
}
BENCHMARK(BM_InstallFromPathVsCopy)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_InstallPackageVsCopy(benchmark::State& state) {
  const std::string scratch = bench::ScratchPath("install-package");
  const std::string tree = MakeTree(scratch + "/tree");
  const std::string path = scratch + "/all.cdp";
  {
    ContentPackage package;
    Vak::String error;
    for (int n = 0; n < kAssets; ++n) {
      const std::string folder = tree + "/group" + std::to_string(n / 100) + "/asset" + std::to_string(n);
      ContentPackageItem item;
      ACSChunkPtr config;
      config.Load(nullptr, (folder + "/config.txt").c_str());
      ACSChunkPtr files;
      files.MakeContainer();
      ResultsLog log;
      if (config.IsNull() || !PackFolderFiles(files, folder.c_str(), Vak::PString(), log, item.GetCompression()))
        std::abort();
      files.RemoveChild(Vak::PString("config.txt"));
      item.Assign(config);
      item.SetFiles(files);
      item.UpdateDSID();
      if (!package.AddAsset(error, item)) std::abort();
    }
    if (!package.Write(error, path.c_str())) std::abort();
  }
  RaceCopy(state, scratch, tree, "package/cp", [&] {
    bool kept = false;
    if (VADInstallFromCDP(path.c_str(), nullptr, kVADInstallCommit, kept, nullptr) != kAssets) std::abort();
  });
}
BENCHMARK(BM_InstallPackageVsCopy)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
