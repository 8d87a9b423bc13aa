#pragma once
// Running one command so that nothing it throws, and no processor fault in
// it, gets past: the process ends at once with kExitCommandException, no
// results printed and no shutdown run, so the asset index on disk stays as
// it was.
class ResultsLog;
struct EngineContext;

constexpr int kExitCommandException = -100;

// The command a guarded run calls; RunCommand in the program, others in tests.
using CommandFunction = bool (*)(ResultsLog& log, EngineContext& context, int argc, char** argv);

// True when the command failed.
bool RunCommandGuarded(ResultsLog& log, EngineContext& context, int argc, char** argv);
bool RunCommandGuarded(ResultsLog& log, EngineContext& context, int argc, char** argv, CommandFunction command);

// Ends the process with `exitCode` without running exit routines or static
// destructors, after flushing the standard streams (the system's own
// termination would drop what stdio still buffers for a pipe).
[[noreturn]] void EndProcess(int exitCode);
