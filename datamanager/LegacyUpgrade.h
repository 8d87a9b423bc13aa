#pragma once
// Rewrites a config written for a build before 2.9 into the current form, in
// place: the tags the kind schema no longer knows become the ones it does.
#include "content/ACSChunkPtr.h"

namespace RUZLib {

// Does not stamp the build; the caller sets "velmar-build" to 2.9 after it.
void UpgradeLegacyConfig(ACSChunkPtr& config);
// The same on the data manager's current config when `currentBuild` is below
// 2.9, then the stamp.
void UpgradeLegacyAsset();

} // namespace RUZLib
