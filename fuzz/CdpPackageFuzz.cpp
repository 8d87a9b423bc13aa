// Reads arbitrary bytes as a content package and does with each item what
// installing does: checks its signature, makes its summary and dependency
// list and extracts its files into a folder of the scratch space. Nothing may
// land anywhere else, whatever the names in the package.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cdp/ContentPackage.h"
#include "cdp/PackageFiles.h"
#include "content/ACSChunkPtr.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"
#include "platform/os/FileSystem.h"

namespace {

constexpr const char* kInput = "input.cdp";
constexpr const char* kOutput = "out";

// Everything in the scratch folder must be the input or the output folder.
void CheckScratch(const std::string& scratch) {
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(scratch.c_str(), entries);
  for (const platform::FolderEntry& entry : entries) {
    if (entry.name != kInput && entry.name != kOutput) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::NameSweep sweep;
  const fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::Get();
  const fuzz::InputFile input(kInput);
  if (!input.Write(data, size)) return 0;
  const std::string output = scratch.FileNamed(kOutput);
  {
    ContentPackage package;
    Vak::String error;
    if (package.Read(error, scratch.Path().c_str(), kInput)) {
      const int count = package.GetAssetCount();
      for (int i = 0; i < count; ++i) {
        ContentPackageItem item = package.GetAsset(i);
        (void)item.VerifyDSID();
        (void)MakePackageAssetSummary(item);
        KUIDList dependencies;
        CollectAssetDependencies(item.GetChildKUID("kuid", KUID::Null()), item, dependencies);
        (void)WritePackageFiles(error, item.GetFiles(), output.c_str(), item.GetCompression());
        CheckScratch(scratch.Path());
      }
    } else if (package.GetAssetCount() != 0) {
      std::abort();  // a package that failed to read is empty
    }
  }
  platform::DeleteTree(output.c_str());
  return 0;
}
