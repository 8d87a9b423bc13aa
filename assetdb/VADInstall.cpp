#include "assetdb/VADInstall.h"

// Filled in by the installer's own change; these keep callers linking.
KUID VADInstallAsset(ContentPackageItem&, ResultsLog*, uint32_t, bool& kept, VADInstallPrompt*) {
  kept = false;
  return KUID();
}
int VADInstallFromCDP(const char*, ResultsLog*, uint32_t, bool& kept, VADInstallPrompt*) {
  kept = false;
  return 0;
}
int VADInstallFromPath(const char*, ResultsLog*, uint32_t, bool& kept, VADInstallPrompt*) {
  kept = false;
  return 0;
}
KUID VADInstallFolderAsset(const char*, ResultsLog*, uint32_t, bool& kept, VADInstallPrompt*) {
  kept = false;
  return KUID();
}
ContentPackageItem VADReadAssetForPackage(const KUID&, ResultsLog*, uint32_t) { return ContentPackageItem(); }
