// Arbitrary file bytes through the archive tool's block view: every header
// and block length is read from the input, and the listing must end.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/FuzzInputFile.h"
#include "tools/VArchive.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("blocks.im");
  if (!input.Write(data, size)) return 0;
  static Vak::VArchive tool;
  Vak::ToolFileEntry entry;
  entry.sourceFolder = fuzz::ScratchFolder::Get().Path().c_str();
  std::snprintf(entry.match.name, sizeof entry.match.name, "blocks.im");
  tool.ListBlocks(tool.Command(), entry);
  return 0;
}
