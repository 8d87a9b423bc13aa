#pragma once
// The command dispatcher: one command line, from the program's arguments or
// from a batch line, picked by its first word and run. Messages for the user
// go into the command's results log; a few commands print directly.
#include <cstdint>

#include "content/KUID.h"
#include "content/VelmarProperty.h"

class ResultsLog;
struct EngineContext;

constexpr int32_t kVelmarUtilBuild = 38841;

// argv[0] is the program path, argv[1] the command word. False on success,
// true on failure.
bool RunCommand(ResultsLog& log, EngineContext& context, int argc, char** argv);

// The "AssetID" property naming the asset.
VelmarPropertyPtr MakeAssetProperty(const KUID& kuid);
// An error naming the asset: the printed line shows its KUID before the text.
void AddAssetError(ResultsLog& log, const char* text, const KUID& kuid);

// The working directory the program started in (the compile and encrypt
// commands run there); set by start-up.
void SetStartDirectory(const char* folder);
const char* GetStartDirectory();
