// The worker of the install crash tests.
//   install_peer OUTPUT ROOT tree SOURCE    installs every group folder of
//       SOURCE in turn (VADInstallFromPath), writing the index after each
//       ("group NAME COUNT");
//   install_peer OUTPUT ROOT package PATH   installs the package with commit
//       (VADInstallFromCDP), then writes the index ("package COUNT").
// It opens the database as the program does and says "ready" first, "done"
// last; the test kills it somewhere in between.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assetdb/VADDatabase.h"
#include "assetdb/VADInstall.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "platform/os/FileSystem.h"

namespace {

FILE* gOut = nullptr;

void Say(const std::string& line) {
  std::fprintf(gOut, "%s\n", line.c_str());
  std::fflush(gOut);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  gOut = std::fopen(argv[1], "a");
  if (!gOut) return 2;
  const std::string mode = argv[3];
  const std::string source = argv[4];
  SetMainThread();
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, argv[2], sizeof block.root - 1);
  if (!VADInit(block)) return 2;
  {
    VADLock lock;
    lock.Acquire(true);  // loads, unless the refresh thread did
  }
  Say("ready");

  bool kept = false;
  if (mode == "tree") {
    std::vector<platform::FolderEntry> groups;
    if (platform::ListFolder(source.c_str(), groups) != platform::Error::None) return 2;
    for (const platform::FolderEntry& group : groups) {
      const std::string folder = source + "/" + group.name;
      const int count = VADInstallFromPath(folder.c_str(), nullptr, 0, kept, nullptr);
      VADThread_WriteDatabaseLocal();
      Say("group " + group.name + " " + std::to_string(count));
    }
  } else if (mode == "package") {
    const int count = VADInstallFromCDP(source.c_str(), nullptr, kVADInstallCommit, kept, nullptr);
    VADThread_WriteDatabaseLocal();
    Say("package " + std::to_string(count));
  } else {
    return 2;
  }
  Say("done");
  return 0;
}
