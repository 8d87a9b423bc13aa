#pragma once
// Results-log entries that name an asset, shared by the command handlers.
#include "content/KUID.h"
#include "content/VelmarProperty.h"

class ResultsLog;

// The "AssetID" property naming the asset.
VelmarPropertyPtr MakeAssetProperty(const KUID& kuid);
// An error naming the asset: the printed line shows its KUID before the text.
void AddAssetError(ResultsLog& log, const char* text, const KUID& kuid);
