#include "datamanager/LegacyUpgrade.h"

namespace RUZLib {

// The rewrite itself lands with its own change; configs pass unchanged until then.
void UpgradeLegacyConfig(ACSChunkPtr&) {}
void UpgradeLegacyAsset() {}

} // namespace RUZLib
