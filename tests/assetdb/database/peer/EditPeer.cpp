// The worker of the crash tests of the editing cycle.
//   edit_peer OUTPUT ROOT ASSETS FILES
// The database root holds, in the local hash folders, assets (600, N + 1) for
// N below ASSETS, each with a config and FILES files "fJ.im" reading
// "gen G file J". The peer opens the database as the program does (the index
// file, else a rebuild from the folders), opens assets for edit one after
// another ("editing N FOLDER"), writes the next generation into the editing
// copy ("edited N G"), commits it ("committed N G") and goes on until it is
// killed, or ends by itself after 30 s. Every fourth round creates a new
// asset (600, N + 1) with N from ASSETS up instead; every third commit is
// followed by a write of the index, so that a kill finds some commits that
// the index file does not hold yet.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "platform/os/FileSystem.h"

namespace {

FILE* gOut = nullptr;

void Say(const char* what, int asset, int generation) {
  std::fprintf(gOut, "%s %d %d\n", what, asset, generation);
  std::fflush(gOut);
}

// A failure with the log's errors, for the test's message.
int Fail(const char* what, int asset, int generation, const ResultsLog& log) {
  std::fprintf(gOut, "%s %d %d", what, asset, generation);
  for (const ResultsLog::Line& line : log.GetLines())
    if (line.severity == ResultsLog::kError && line.text.Size()) std::fprintf(gOut, " %s", static_cast<const char*>(line.text));
  std::fprintf(gOut, "\n");
  std::fflush(gOut);
  return 1;
}

KUID AssetKuid(int asset) { return KUID(600, asset + 1, 0); }

// The asset's local folder, empty when it has none (yet).
std::string LocalFolderOf(const KUID& kuid) {
  VADLock lock;
  lock.Acquire(false);
  const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
  return record && record->HasLocalFolder() ? std::string(record->GetLocalFolder()) : std::string();
}

int GenerationOf(const std::string& folder) {
  if (folder.empty()) return -1;
  std::ifstream in(folder + "/f0.im");
  std::string word;
  int generation = -1;
  in >> word >> generation;
  return generation;
}

// The first asset number from `first` up that the index does not know.
int NextFreeAsset(int first) {
  VADLock lock;
  lock.Acquire(false);
  int asset = first;
  while (gVadAssetIndex.Find(AssetKuid(asset))) ++asset;
  return asset;
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
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, root.c_str(), sizeof block.root - 1);
  if (!VADInit(block)) return 2;
  {
    VADLock lock;
    lock.Acquire(true);  // loads, unless the refresh thread did
  }
  std::fprintf(gOut, "ready\n");
  std::fflush(gOut);

  const std::string padding(2000, '.');
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; std::chrono::steady_clock::now() < limit; ++round) {
    ResultsLog log;
    const bool create = round % 4 == 3;
    const int asset = create ? NextFreeAsset(assets) : round % assets;
    const KUID kuid = AssetKuid(asset);
    VADAssetHandle handle =
        create ? VADCreateAsset(kuid, false, ("asset" + std::to_string(asset)).c_str()) : VADOpenAsset(kuid, true, &log);
    Vak::File::Path editing;
    if (!handle.GetPath(editing)) return Fail("open-failed", asset, 0, log);
    if (!platform::Exists(editing)) {
      // An index written before the last run's commit still names the editing
      // copy that commit removed: drop it and open afresh, as a user would.
      VADRevertAsset(handle, &log);
      handle = VADOpenAsset(kuid, true, &log);
      if (!handle.GetPath(editing)) return Fail("open-failed", asset, 0, log);
    }
    std::fprintf(gOut, "editing %d %s\n", asset, static_cast<const char*>(editing));
    std::fflush(gOut);
    const int generation = GenerationOf(LocalFolderOf(kuid)) + 1;
    for (int j = 0; j < files; ++j) {
      std::ofstream(std::string(editing) + "/f" + std::to_string(j) + ".im")
          << "gen " << generation << " file " << j << "\n" << padding;
    }
    std::ofstream(std::string(editing) + "/config.txt")
        << "kuid " << kuid.ToConfigText().c_str() << "\nname \"asset" << asset << "\"\n";
    Say("edited", asset, generation);
    bool kept = false;
    if (!VADCommitAssetEdits(handle, 0, &log, kept)) return Fail("commit-failed", asset, generation, log);
    Say("committed", asset, generation);
    if (round % 3 == 2) VADThread_WriteDatabaseLocal();
  }
  return 0;
}
