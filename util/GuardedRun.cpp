#include "util/GuardedRun.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "Vak/Bexlorn/CrashReport.h"
#include "platform/os/Signals.h"
#include "util/CommandDispatcher.h"

namespace {

std::atomic<bool> gInCommand{false};

// A fault outside a command ends the process by its signal, as the kernel's
// own report would; inside one the process ends as for an exception.
void OnFault(int signal, void* faultAddress, void* context) {
  Vak::WriteCrashReport(signal, faultAddress, context);
  if (!gInCommand.load()) return;
  // Not signal-safe, but the process is ending and what is buffered would be
  // lost for good otherwise.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(kExitCommandException);
}

void InstallFaultGuard() {
  static const bool installed = [] {
    Vak::InstallCrashReport();  // captures what the report needs
    return platform::InstallCrashHandler(OnFault);
  }();
  (void)installed;
}

} // namespace

void EndProcess(int exitCode) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(exitCode);
}

bool RunCommandGuarded(ResultsLog& log, EngineContext& context, int argc, char** argv) {
  return RunCommandGuarded(log, context, argc, argv, RunCommand);
}

bool RunCommandGuarded(ResultsLog& log, EngineContext& context, int argc, char** argv, CommandFunction command) {
  InstallFaultGuard();
  gInCommand.store(true);
  bool failed = true;
  try {
    failed = command(log, context, argc, argv);
  } catch (...) {
    EndProcess(kExitCommandException);
  }
  gInCommand.store(false);
  return failed;
}
