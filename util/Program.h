#pragma once
// VelmarUtil's entry: the help text, start-up, one command or the lines of
// a batch file, shutdown and the exit status. Returns only in the early
// cases (-1 or 0); after a command has run the process ends from here.
int VelmarUtilMain(int argc, char** argv);

// The batch file's lines, each run as one command with its results log
// printed and followed by an empty line. True when any line failed.
struct EngineContext;
bool RunBatchFile(EngineContext& context, const char* programPath, const char* path);
