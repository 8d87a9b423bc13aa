#pragma once
// The command dispatcher: one command line, from the program's arguments or
// from a batch line, picked by its first word and run. Messages for the user
// go into the command's results log; a few commands print directly.
#include <cstdint>

class ResultsLog;
struct EngineContext;

constexpr int32_t kVelmarUtilBuild = 38841;

// argv[0] is the program path, argv[1] the command word. False on success,
// true on failure.
bool RunCommand(ResultsLog& log, EngineContext& context, int argc, char** argv);
// Whether the command of this word only reads the asset folders.
bool CommandReadsFoldersOnly(const char* word);

// The working directory the program started in (the compile and encrypt
// commands run there); set by start-up.
void SetStartDirectory(const char* folder);
const char* GetStartDirectory();
