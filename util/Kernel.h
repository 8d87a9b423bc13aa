#pragma once
// Start-up and shutdown of everything a command stands on: the data
// manager, the engine kernel and render kernel, the installation's data
// folders and the asset database.
struct EngineContext;

// 0 on success; 255 after printing the failed step's line to standard error.
int InitKernel(EngineContext& context, const char* programPath, int argc, char** argv);
// False when the asset index could not be written: the command's changes
// are not stored.
bool ShutdownKernel(EngineContext& context);

// The engine's option line for these arguments (the program path included):
// the null renderer when any of them, lower-cased, is "norender".
const char* KernelOptionLine(int argc, char** argv);
