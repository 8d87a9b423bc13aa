#include "util/AssetReports.h"

#include "Vak/Bexlorn/PString.h"
#include "content/ResultsLog.h"

VelmarPropertyPtr MakeAssetProperty(const KUID& kuid) {
  VelmarPropertyPtr property;
  property.Attach(new VelmarPropertyAssetID(Vak::PString("AssetID"), kuid.user, kuid.content, kuid.version));
  return property;
}

void AddAssetError(ResultsLog& log, const char* text, const KUID& kuid) {
  const VelmarPropertyPtr property = MakeAssetProperty(kuid);
  log.AddMessage(ResultsLog::kError, property.Get(), text);
}
