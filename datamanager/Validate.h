#pragma once
// Checking one asset against the kind schema: its config file, then the
// loaded config model with the texture descriptions of its folder. Findings
// of non-zero severity go to a results log.
//
// Main thread only.
#include "assetdb/VADServices.h"

class ResultsLog;

namespace RUZLib {

class Container;

// Loads and checks the config at `configPath` (through the substitute
// `contentFolder` when one is given) into `container`, or into a container
// of its own when null. True when the asset passes: a future build fails
// without a check, the obsolete water and dye-loft kinds and archived
// legacy configs pass without one, otherwise the load's result.
bool ValidateAssetConfig(const char* configPath, ResultsLog& results, const char* contentFolder,
                         Container* container = nullptr);
// Exports the loaded model, runs its rules and checks the texture files of
// the asset's folder; an empty config passes at once.
bool ValidateAssetContainer(Container& container, ResultsLog& results);

// The asset database's validation through the two checks above.
class DataManagerValidation : public VADValidationService {
public:
  bool ValidateAsset(const char* folder, const char* topFolderName, const char* configFileName, bool archivePresent,
                     ResultsLog& results, bool& kindUnchanged) override;
  void PurgeLoadedData() override;
  void ClearMeshFailureReported() override;
};

} // namespace RUZLib
