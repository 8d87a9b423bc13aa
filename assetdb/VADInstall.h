#pragma once
// Installing assets from CDP packages and from folders on disk, and turning
// an installed asset back into a package item for export. Package contents
// land in the asset's editing folder, except those of a new asset committed
// at once, which are put together beside its local folder and renamed into
// place.
#include <atomic>
#include <cstdint>

#include "cdp/ContentPackage.h"
#include "content/KUID.h"

class ResultsLog;

// Asked before an installed asset is replaced. Answers 2 and 3 go on; any
// other answer skips the asset. The install loops stop when `cancel` is set.
class VADInstallPrompt {
public:
  virtual ~VADInstallPrompt() = default;
  // `promptKey` is one of "$vad_prompt_openforedit", "$vad_prompt_builtin",
  // "$vad_prompt_dls_item", "$vad_prompt_alreadyinstalled"; `logKey` is it
  // with "_log" appended.
  virtual int Ask(const char* promptKey, const char* logKey, const KUID& kuid, ResultsLog* log) = 0;
  std::atomic<bool> cancel{false};
};

enum VADInstallFlags : uint32_t {
  kVADInstallCommit = 0x02,
  kVADInstallSkipFileCheck = 0x04,  // set from the item's "dsid" check
  kVADInstallCommitExtra = 0x08,    // passed on to the commit
};

// The installed KUID, or the null KUID when nothing was installed.
KUID VADInstallAsset(ContentPackageItem& item, ResultsLog* log, uint32_t flags, bool& kept,
                     VADInstallPrompt* prompt);
// The number of assets installed.
int VADInstallFromCDP(const char* path, ResultsLog* log, uint32_t flags, bool& kept, VADInstallPrompt* prompt);
int VADInstallFromPath(const char* folder, ResultsLog* log, uint32_t flags, bool& kept, VADInstallPrompt* prompt);
KUID VADInstallFolderAsset(const char* folder, ResultsLog* log, uint32_t flags, bool& kept,
                           VADInstallPrompt* prompt);

enum VADPackageFlags : uint32_t {
  kVADPackageKeepCompression = 0x01,      // "compression" = "LZSS"
  kVADPackageDropCompiledTextures = 0x02, // ".texture" files whose ".texture.txt" source is present
};
// A new item for an installed asset; without config and files on failure.
ContentPackageItem VADReadAssetForPackage(const KUID& kuid, ResultsLog* log, uint32_t flags);
