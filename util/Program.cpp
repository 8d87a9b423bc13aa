#include "util/Program.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADIPC.h"
#include "content/AppGlobals.h"
#include "content/ResultsLog.h"
#include "gscompiler/Driver.h"
#include "platform/os/NativePath.h"
#include "platform/os/Program.h"
#include "util/BatchLine.h"
#include "util/CommandDispatcher.h"
#include "util/EngineContext.h"
#include "util/GuardedRun.h"
#include "util/HelpText.h"
#include "util/Kernel.h"
#include "util/ResultsPrinting.h"

namespace {

constexpr int kExitFailed = 255;

void PrintHelp() {
  std::fputs(kVelmarUtilHelpText, stdout);
  std::fputs("\n", stdout);
}

bool IsHelp(const char* word) {
  return Vak::CodePage::AsciiLowered(word) == "help";
}

// One command with its own log, printed when it returns.
bool RunOne(EngineContext& context, int argc, char** argv) {
  ResultsLog log;
  const bool failed = RunCommandGuarded(log, context, argc, argv);
  PrintResultsLog(log);
  return failed;
}

} // namespace

bool RunBatchFile(EngineContext& context, const char* programPath, const char* path) {
  BatchFileReader reader;
  reader.Open(path);
  bool failed = false;
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  // Across a run of validate lines, which only read the asset folders, their
  // listings are kept (every asset's files are found by lower-case names);
  // any other command ends the run, since it may write folders other
  // programs write too.
  std::optional<platform::ListingCacheScope> readOnlyRun;
  do {
    const std::string line = reader.ReadLine();
    // A read that met the end with nothing is no line: a last line end (or
    // an empty file) must not run an empty command that fails the batch.
    if (line.empty() && reader.AtEnd()) break;
    if (!SplitBatchLine(line, arguments)) continue;
    if (!arguments.empty() && CommandReadsFoldersOnly(arguments[0].c_str())) {
      if (!readOnlyRun) readOnlyRun.emplace();
    } else {
      readOnlyRun.reset();
    }
    argv.clear();
    argv.push_back(const_cast<char*>(programPath));
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (RunOne(context, static_cast<int>(argv.size() - 1), argv.data())) failed = true;
    std::fputs("\n", stdout);
  } while (!reader.AtEnd());
  return failed;
}

int VelmarUtilMain(int argc, char** argv) {
  // A batch loads and drops one asset's mesh after another.
  platform::KeepFreedBlocks();
  const std::string program = platform::ProgramPath();
  Vak::File::Path index(program.c_str());
  index.DelName(true);
  index.DelName(false);
  index.Add("assets.tdx");

  const bool patcher = argc == 3 && std::strcmp(argv[1], "repairdatabase") == 0 && std::strcmp(argv[2], "patcher") == 0;
  if (!IPCOpen(index, patcher)) {
    std::fprintf(stderr, "- Unable to open IPC controller %d\n", patcher ? 1 : 0);
    return -1;
  }
  if (argc < 2) {
    PrintHelp();
    return -1;
  }
  if (IsHelp(argv[1])) {
    PrintHelp();
    return 0;
  }

  EngineContext context;
  if (InitKernel(context, program.c_str(), argc, argv) != 0) return -1;
  SetProgramName("VelmarUtil");

  bool failed = false;
  if (argv[1][0] == '@') {
    const char* name = argv[1] + 1;
    if (!Vak::File::Exists(name).Ok()) {
      std::fprintf(stderr, "-The file \"%s\" does not exist, please specify a valid filename\n", name);
      ShutdownKernel(context);
      EndProcess(-1);
    }
    failed = RunBatchFile(context, argv[0], name);
  } else {
    GSCompiler::LeaveMemoryToExit(true);  // the process ends after this one command
    failed = RunOne(context, argc, argv);
  }
  if (!ShutdownKernel(context)) {
    std::fputs("- The asset index could not be written.\n", stderr);
    failed = true;
  }
  const std::string movedTo = VADUnreadableIndexMovedTo();
  if (!movedTo.empty())
    std::fprintf(stderr, "- The asset index could not be read; it was moved to \"%s\".\n", movedTo.c_str());
  EndProcess(failed ? kExitFailed : 0);
}
