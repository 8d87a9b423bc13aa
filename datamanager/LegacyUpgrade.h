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

// Where UpgradeLegacyAsset finds the current config; unset, or answering a
// null config, it has nothing to upgrade.
using CurrentConfigFunction = ACSChunkPtr (*)();
void SetCurrentConfigFunction(CurrentConfigFunction function);

} // namespace RUZLib
