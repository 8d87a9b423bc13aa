// What bench/net/station.sh times, through the download station's own code:
//   station_list_tool make FILE N       writes a gzip asset list of N lines
//   station_list_tool load ROOT FILE N [renamed]
//                                       opens a database at ROOT whose index
//                                       holds N records of the list's KUIDs
//                                       (every other one installed, the rest
//                                       offered by the station with the
//                                       list's names, or with other names
//                                       when "renamed"), merges the list and
//                                       prints the seconds the merge took
// The merge's 10 ms pause after every 256 lines is left out: it yields to
// other threads and would only add N / 256 x 10 ms.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "net/VADDownloadStation.h"

namespace {

constexpr int kUser = 616161;

std::string ListName(int n) { return "Station Asset " + std::to_string(n); }

int Make(const char* file, int count) {
  gzFile out = gzopen(file, "wb");
  if (!out) return 1;
  for (int n = 1; n <= count; ++n) {
    const std::string line = "<kuid:" + std::to_string(kUser) + ":" + std::to_string(n) + "> scenery " +
                             std::to_string(900000 + n) + " \"" + ListName(n) + "\"\n";
    if (gzwrite(out, line.data(), static_cast<unsigned>(line.size())) != static_cast<int>(line.size())) return 1;
  }
  return gzclose(out) == Z_OK ? 0 : 1;
}

int Load(const char* root, const char* file, int count, bool renamed) {
  VADStartBlock block;
  VADStartParams(block);
  std::strncpy(block.root, root, sizeof block.root - 1);
  if (!VADInit(block)) return 1;
  {
    VADLock lock;
    lock.Acquire(true);
    for (int n = 1; n <= count; ++n) {
      VADAssetInfo record;
      record.kuid = KUID(kUser, n, 0);
      record.name = (n % 2 || renamed ? "asset " + std::to_string(n) : ListName(n)).c_str();
      record.categoryClasses = n % 2 ? "SS" : CategoryList::CodesForKind("scenery", nullptr);
      if (n % 2) record.localPath = ("local\\a" + std::to_string(n)).c_str();
      else record.flags = VADAssetInfo::kDownloadStation;
      record.BuildKeywords();
      gVadAssetIndex.Insert(record);
    }
    gVadAssetIndex.SortByName();
  }
  VADDownloadStation station(false);
  station.SetLinePause(+[](unsigned long) {});
  const auto start = std::chrono::steady_clock::now();
  station.LoadAssetList(file);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.6f\n", took.count());
  gVadAssetIndex.ClearDirtyFlags();
  VADShutdown();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], std::atoi(argv[3]));
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "load") == 0)
    return Load(argv[2], argv[3], std::atoi(argv[4]), argc == 6 && std::strcmp(argv[5], "renamed") == 0);
  std::fprintf(stderr, "usage: station_list_tool make FILE N | load ROOT FILE N [renamed]\n");
  return 2;
}
