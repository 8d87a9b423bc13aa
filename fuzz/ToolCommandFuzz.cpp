// Argument-file text through the tool framework: the whole text is split as
// a command line and as "-s" values, then read as an argument file, each
// line parsed, checked and its files collected. Separators in the text
// become '_', so that collection stays inside the scratch folder, which the
// process works in and which holds nothing but the argument file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/FuzzInputFile.h"
#include "platform/os/FileSystem.h"
#include "tools/Tool.h"

namespace {

class QuietTool : public Vak::Tool {
public:
  bool ProcessFile(Vak::ToolCommand& command, Vak::ToolFileEntry& entry) override {
    return entry.match.name[0] != 0 && command.files.Count() > 0;
  }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The framework's warnings and counts would drown the fuzzer's own lines.
  std::freopen("/dev/null", "w", stdout);
  platform::ChangeFolder(fuzz::ScratchFolder::Get().Path().c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Vak::ToolStringArray tokens;
  const unsigned n = Vak::Tool::Tokenize(tokens, text.c_str(), "\r\n ", '"');
  for (unsigned i = 0; i < n; ++i)
    if (tokens[i].Size() == 0) __builtin_trap();  // no empty tokens
  Vak::Tool::Tokenize(tokens, text.c_str(), "=", '"');

  std::string contained = text;
  for (char& c : contained)
    if (c == '/' || c == '\\') c = '_';
  static const fuzz::InputFile input("args.txt");
  if (!input.Write(reinterpret_cast<const uint8_t*>(contained.data()), contained.size())) return 0;
  QuietTool tool;
  tool.Setup(Vak::Tool::kExpectCommandWord | Vak::Tool::kExpectTarget);
  tool.ReadArgumentFile(tool.Command(), "args.txt");
  tool.ParseCommand(tool.Command(), contained.c_str());
  return 0;
}
