// Reads arbitrary bytes as a text config and loads it into the config model
// against the kind schema the program ships, exports it and runs the
// container rules, with an asset index that knows a few assets: nothing may
// crash, leak or recurse without end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "assetdb/VADAssetQueries.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TextChunkFile.h"
#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/NameSweep.h"
#include "fuzz/ConfigFuzz.h"

namespace {

// Known assets: the even content ids are installed, the odd ones not.
class FakeIndex : public RUZLib::AssetIndexQueries {
public:
  KUID Resolve(const KUID& kuid) override { return kuid; }
  bool GetStatus(const KUID& kuid, VADAssetStatus& status) override {
    if (kuid.user != 414141) return false;
    status.state = kuid.content % 2 == 0 ? VADAssetStatus::kInstalled : 0;
    status.text0 = "TR;BG";
    return true;
  }
};

bool Start() {
  static FakeIndex index;
  fuzz::StartDataManager();
  RUZLib::DataManager::Instance()->LoadSchema();
  SetDatabaseRootPath(fuzz::ScratchFolder::Get().Path().c_str());
  RUZLib::DataManager::Instance()->SetCurrentAsset("asset", "content");
  RUZLib::SetAssetIndexQueries(&index);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  (void)started;
  const fuzz::NameSweep sweep;
  RUZLib::DataManager* manager = RUZLib::DataManager::Instance();
  {
    ACSChunkPtr config = fuzz::ReadTextConfig(data, size);
    if (config.IsNull()) return 0;
    RUZLib::Container root;
    if (root.Load(config)) {
      ACSChunkPtr out;
      out.MakeContainer();
      root.Export(out);
      root.RunValidationRules();
    }
  }
  if (RUZLib::Container::LiveCount() != 0 || RUZLib::Tag::LiveCount() != 0) std::abort();
  manager->PurgeLoadedData();
  manager->meshFailureReported = false;
  manager->currentBuild = RUZLib::DataManager::kInitialBuild;
  RUZLib::ErrorHandler::Instance()->Clear();
  return 0;
}
