// The package code as the bench script drives it:
//   cdp_bench_tool pack <folder> <out.cdp>     every sub-folder of <folder> is
//                                              one asset, its config.txt read
//                                              as its config
//   cdp_bench_tool extract <in.cdp> <folder>   every asset into
//                                              <folder>/asset_<user>_<content>
// Exit code 0 on success; failures are printed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/ACSChunkPtr.h"
#include "content/ResultsLog.h"
#include "platform/os/FileSystem.h"

namespace {

int Pack(const std::string& folder, const char* out) {
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder.c_str(), entries) != platform::Error::None) {
    std::fprintf(stderr, "cannot list %s\n", folder.c_str());
    return 1;
  }
  ContentPackage package;
  // Read as they are, coded on the helpers while the next are read, as
  // createcdp does.
  PackageEncoder encoder;
  for (const platform::FolderEntry& entry : entries) {
    if (!entry.info.isFolder) continue;
    const std::string assetFolder = folder + "/" + entry.name;
    ACSChunkPtr config;
    config.Load(nullptr, (assetFolder + "/config.txt").c_str());
    ContentPackageItem item;
    item.Assign(config);
    ResultsLog log;
    ACSChunkPtr files;
    if (!PackFolderFiles(files, assetFolder.c_str(), Vak::PString(), log, Vak::PString())) {
      std::fprintf(stderr, "cannot pack %s\n", assetFolder.c_str());
      return 1;
    }
    item.SetFiles(files);
    Vak::String error;
    if (!package.AddAsset(error, item)) {
      std::fprintf(stderr, "%s: %s\n", assetFolder.c_str(), static_cast<const char*>(error));
      return 1;
    }
    encoder.Add(files);
  }
  if (!encoder.Finish()) {
    std::fprintf(stderr, "cannot code the files\n");
    return 1;
  }
  for (int i = 0; i < package.GetAssetCount(); ++i) package.GetAsset(i).UpdateDSID();
  Vak::String error;
  if (!package.Write(error, out)) {
    std::fprintf(stderr, "%s\n", static_cast<const char*>(error));
    return 1;
  }
  return 0;
}

int Extract(const char* in, const std::string& folder) {
  ContentPackage package;
  Vak::String error;
  if (!package.Read(error, "", in)) {
    std::fprintf(stderr, "%s\n", static_cast<const char*>(error));
    return 1;
  }
  const int count = package.GetAssetCount();
  for (int i = 0; i < count; ++i) {
    ContentPackageItem item = package.GetAsset(i);
    const KUID kuid = item.GetChildKUID(Vak::PString("kuid"), KUID::Null());
    const std::string name = "asset_" + std::to_string(kuid.user) + "_" + std::to_string(kuid.content);
    if (!item.VerifyDSID() ||
        !WritePackageFiles(error, item.GetFiles(), (folder + "/" + name).c_str(), item.GetCompression())) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), static_cast<const char*>(error));
      return 1;
    }
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return Pack(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return Extract(argv[2], argv[3]);
  std::fprintf(stderr, "usage: cdp_bench_tool pack <folder> <out.cdp> | extract <in.cdp> <folder>\n");
  return 2;
}
