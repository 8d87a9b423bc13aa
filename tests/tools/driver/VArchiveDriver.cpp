// Runs one archive-tool command line, made of the arguments, and ends with 0
// when it succeeded, else 1. The tool writes no log file, so a folder it
// extracts into holds only what the archive holds.
#include <string>

#include "tools/ToolGlobals.h"
#include "tools/VArchive.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    const std::string word = argv[i];
    line += word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
  }
  Vak::VArchive& archive = Vak::ToolGlobals::Archive();
  archive.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget | Vak::Tool::kSearchTarget);
  archive.Init(argc > 1 ? line.c_str() : nullptr, argc, "-LogFile=");
  const bool ok = archive.Run();
  archive.Shutdown();
  return ok ? 0 : 1;
}
