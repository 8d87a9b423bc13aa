#include "datamanager/Validate.h"

#include <memory>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Path.h"
#include "assetdb/InterfaceTextDB.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/Vocabulary.h"
#include "platform/os/NativePath.h"

namespace RUZLib {

namespace {

constexpr float kDefaultBuild = 1.3f;
constexpr int kFutureBuild = 310;
constexpr int kLegacyBuild = 290;

// Every record of non-zero severity, in order; notes stay behind.
void CopyRecords(ResultsLog& results) {
  ErrorHandler* handler = ErrorHandler::Instance();
  if (!handler) return;
  for (const ErrorRecord* record : handler->GetMessages())
    if (record->severity != ErrorRecord::kNote) results.AddMessage(record->severity, nullptr, record->text.c_str());
}

void ClearRecords() {
  if (ErrorHandler* handler = ErrorHandler::Instance()) handler->Clear();
}

void AddInterfaceText(ResultsLog& results, int32_t severity, const char* key) {
  results.AddMessage(severity, nullptr, GetInterfaceString(Vak::PString(key)).c_str());
}

bool IsKind(const Vak::PString& kind, const char* word) {
  return kind.Length() > 0 && Vak::CodePage::CompareIgnoreCase(kind.c_str(), word) == 0;
}

} // namespace

bool ValidateAssetConfig(const char* configPath, ResultsLog& results, const char* contentFolder,
                         Container* container) {
  DataManager* manager = DataManager::Instance();
  manager->LoadSchema();
  const bool substituted = contentFolder && *contentFolder;
  Vak::File::Path folder(configPath ? configPath : "");
  folder.DelName(true);
  manager->SetCurrentAsset(folder, substituted ? contentFolder : nullptr);
  ClearRecords();
  // What an earlier asset's "alias" or "mesh-asset" said holds for that
  // asset only; left set, every later asset in the process would go
  // unchecked for missing meshes and references.
  manager->meshAssetSeen = false;

  // A path that already names the substitute ("name:folder\config.txt") is
  // opened inside it by its own prefix.
  ACSChunkPtr config;
  const char* inner = configPath ? configPath : "";
  if (substituted) {
    const int prefix = Vak::File::Path::SubstNameLength(inner);
    if (prefix > 0 && Vak::CodePage::CompareIgnoreCaseN(inner, contentFolder, prefix) == 0 &&
        contentFolder[prefix] == 0)
      inner += prefix + 1;
  }
  if (!config.Load(substituted ? contentFolder : nullptr, inner) || config.IsNull()) config = ACSChunkPtr();
  if (config.IsNull()) config.MakeContainer();

  const float build = config.GetChildFloat(Words::kVelmarBuild, kDefaultBuild);
  const int hundredths = BuildHundredths(build, kBuildBiasFloat);
  if (hundredths > kFutureBuild) {
    AddInterfaceText(results, ResultsLog::kError, "$ruz_future_asset");
    return false;
  }
  const Vak::PString kind = config.GetChildString(Words::kKind);
  if (IsKind(kind, "water")) {
    AddInterfaceText(results, ResultsLog::kWarning, "$ruz_obsolete_water");
    return true;
  }
  if (IsKind(kind, "dyeloft-skin")) {
    AddInterfaceText(results, ResultsLog::kWarning, "$ruz_obsolete_dyeloft");
    return true;
  }
  if (manager->archivePresent && hundredths < kLegacyBuild) return true;

  manager->LoadSchema();
  std::unique_ptr<Container> own;
  if (!container) {
    own = std::make_unique<Container>();
    container = own.get();
  }
  const bool loaded = container->Load(config);
  CopyRecords(results);
  return loaded;
}

bool ValidateAssetContainer(Container& container, ResultsLog& results) {
  if (container.config.IsNull() || container.config.GetChildCount() == 0) return true;
  DataManager* manager = DataManager::Instance();
  ClearRecords();
  Vak::File::Path folder(GetDatabaseRootPath());
  folder.AddPath(manager->GetContentFolder().c_str());
  folder.AddPath(manager->GetCurrentAssetFolder().c_str());
  const bool textures = container.CheckTextureFiles(folder);

  ACSChunkPtr exported;
  exported.MakeContainer();
  const bool passed = container.Export(exported) && container.RunValidationRules() && textures;
  if (passed) return true;
  CopyRecords(results);
  return false;
}

bool DataManagerValidation::ValidateAsset(const char* folder, const char* topFolderName, const char* configFileName,
                                          bool archivePresent, ResultsLog& results, bool& kindUnchanged) {
  DataManager* manager = DataManager::Instance();
  manager->archivePresent = archivePresent;
  // The asset's files are found by lower-case names (its mesh as a resource)
  // as well as as written: each path resolved without regard to case lists
  // the folders above it, and validation changes none of them.
  platform::ListingCacheScope listings;
  Vak::File::Path path(folder);
  path.AddPath(configFileName);
  Container container;
  const bool loaded = ValidateAssetConfig(path, results, topFolderName, &container);
  const Vak::PString kind = container.ConfigKind();
  ValidateAssetContainer(container, results);
  kindUnchanged = container.ConfigKind() == kind;
  return loaded;
}

void DataManagerValidation::PurgeLoadedData() { DataManager::Instance()->PurgeLoadedData(); }

void DataManagerValidation::ClearMeshFailureReported() { DataManager::Instance()->meshFailureReported = false; }

} // namespace RUZLib
