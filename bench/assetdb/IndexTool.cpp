// What bench/assetdb/index.sh times in fresh processes, through the program's
// own index code:
//   index_bench_tool make ROOT N     lays out N installed assets under ROOT
//                                    (local folders with configs) and writes
//                                    ROOT/assets.tdx for them, as a rebuild
//                                    would leave it, without validating each
//   index_bench_tool records ROOT N  the same index file without the folders
//   index_bench_tool loadsave IN OUT reads the index file IN and writes it to
//                                    OUT, as a command that changed it does
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADDependencyTable.h"
#include "content/AppGlobals.h"
#include "content/KUIDList.h"

namespace {

constexpr int kUser = 515151;

int Usage() {
  std::fprintf(stderr, "usage: index_bench_tool make|records ROOT N | loadsave IN OUT\n");
  return 2;
}

int Make(const std::string& root, int count, bool folders) {
  if (!SetDatabaseRootPath(root.c_str())) return 1;
  static const char* const kRegions[] = {"GB", "AU", "US;CA", "DE"};
  static const char* const kClasses[] = {"SS", "LOCO", "ROLL", "TB"};
  for (int n = 1; n <= count; ++n) {
    char bucket[16];
    std::snprintf(bucket, sizeof bucket, "hash-%02X", n % 256);
    const std::string relative = std::string("local\\") + bucket + "\\kuid " + std::to_string(kUser) + " " +
                                 std::to_string(n);
    const std::string folder = root + "/local/" + bucket + "/kuid " + std::to_string(kUser) + " " + std::to_string(n);
    const std::string name = "bench asset " + std::to_string(n);
    if (folders) {
      std::filesystem::create_directories(folder);
      std::ofstream(folder + "/config.txt") << "kuid <kuid:" << kUser << ":" << n << ">\r\nkind \"scenery\"\r\n"
                                            << "username \"" << name << "\"\r\nvelmar-build 3.5\r\n"
                                            << "category-region \"" << kRegions[n % 4] << "\"\r\n";
    }
    VADAssetInfo record;
    record.kuid = KUID(kUser, n, 0);
    record.name = name.c_str();
    record.localPath = relative.c_str();
    record.categoryClasses = kClasses[n % 4];
    record.regionList = kRegions[n % 4];
    record.keywords = "bench;scenery";
    record.build = 3.5f;
    record.sizeOnDisk = 180 + n % 50;
    record.contentHash = n * 2654435761u;
    record.firstInstalled = record.lastInstalled = 1700000000 + n;
    record.flags = VADAssetInfo::kLocallyEnabled;
    record.BuildKeywords();
    gVadAssetIndex.Insert(record);
  }
  // Every asset but the first depends on the one before it.
  for (int n = 2; n <= count; ++n) {
    KUIDList dependencies;
    dependencies.Append(KUID(kUser, n - 1, 0));
    VADDependencyTable::Instance().SetDependencies(KUID(kUser, n, 0), dependencies);
  }
  gVadAssetIndex.SortByName();
  return WriteDatabaseFile((root + "/assets.tdx").c_str()) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  const std::string mode = argv[1];
  if (mode == "make" || mode == "records") return Make(argv[2], std::atoi(argv[3]), mode == "make");
  if (mode == "loadsave") return ReadDatabaseFile(argv[2]) && WriteDatabaseFile(argv[3]) ? 0 : 1;
  return Usage();
}
