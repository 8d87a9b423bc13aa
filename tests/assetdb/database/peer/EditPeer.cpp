// The worker of the crash tests of the editing cycle.
//   edit_peer OUTPUT ROOT ASSETS FILES
// The database root holds "local/assetN" for N below ASSETS, each with a
// config and FILES files "fJ.im" reading "gen G file J". The peer opens the
// assets for edit one after another, writes the next generation into the
// editing copy ("edited N G"), commits it ("committed N G") and goes on until
// it is killed, or ends by itself after 30 s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "platform/os/FileSystem.h"

namespace {

FILE* gOut = nullptr;

void Say(const char* what, int asset, int generation) {
  std::fprintf(gOut, "%s %d %d\n", what, asset, generation);
  std::fflush(gOut);
}

KUID AssetKuid(int asset) { return KUID(600, asset + 1, 0); }

int GenerationOf(const std::string& folder) {
  std::ifstream in(folder + "/f0.im");
  std::string word;
  int generation = -1;
  in >> word >> generation;
  return generation;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  gOut = std::fopen(argv[1], "a");
  if (!gOut) return 2;
  const std::string root = argv[2];
  const int assets = std::atoi(argv[3]);
  const int files = std::atoi(argv[4]);
  SetMainThread();
  SetDatabaseRootPath(root.c_str());

  // The index as the last run left it: the local folders, and an editing
  // copy wherever one is still there.
  for (int i = 0; i < assets; ++i) {
    VADAssetInfo record;
    record.kuid = AssetKuid(i);
    const std::string name = "asset" + std::to_string(i);
    record.name = name.c_str();
    record.localPath = ("local\\" + name).c_str();
    if (platform::Exists((root + "/editing/" + name).c_str())) record.editingPath = ("editing\\" + name).c_str();
    gVadAssetIndex.Insert(record);
  }
  std::fprintf(gOut, "ready\n");
  std::fflush(gOut);

  const std::string padding(2000, '.');
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; std::chrono::steady_clock::now() < limit; ++round) {
    const int asset = round % assets;
    const KUID kuid = AssetKuid(asset);
    ResultsLog log;
    VADAssetHandle handle = VADOpenAsset(kuid, true, &log);
    Vak::File::Path editing;
    if (!handle.GetPath(editing)) {
      Say("open-failed", asset, 0);
      return 1;
    }
    const int generation = GenerationOf(root + "/local/asset" + std::to_string(asset)) + 1;
    for (int j = 0; j < files; ++j) {
      std::ofstream(std::string(editing) + "/f" + std::to_string(j) + ".im")
          << "gen " << generation << " file " << j << "\n" << padding;
    }
    std::ofstream(std::string(editing) + "/config.txt")
        << "kuid " << kuid.ToConfigText().c_str() << "\nname \"asset" << asset << "\"\n";
    Say("edited", asset, generation);
    bool kept = false;
    if (!VADCommitAssetEdits(handle, 0, &log, kept)) {
      Say("commit-failed", asset, generation);
      return 1;
    }
    Say("committed", asset, generation);
  }
  return 0;
}
