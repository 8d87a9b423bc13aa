// A string-table entry is data: whatever its conversions, formatting it with
// the arguments the code declares must never read one that is not there.
// Input: declared kinds ('s', 'i', 'f'; at most 4) '|' entry text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "datamanager/CheckedFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t bar = input.find('|');
  if (bar == std::string::npos || bar > 4) return 0;
  const std::string kinds = input.substr(0, bar);
  const std::string format = input.substr(bar + 1);
  std::vector<RUZLib::FormatArg> args;
  const std::string text = "text";
  for (char kind : kinds) {
    switch (kind) {
      case 's': args.emplace_back(text); break;
      case 'i': args.emplace_back(-7); break;
      case 'f': args.emplace_back(2.5); break;
      default: return 0;
    }
  }
  std::string out;
  const bool fits = RUZLib::FormatChecked(format, kinds, args, out);
  std::string found;
  const bool parsed = RUZLib::FormatConversions(format, found);
  // Formatted exactly when the conversions are the declared kinds.
  if (fits != (parsed && found == kinds)) __builtin_trap();
  if (!fits && out != format) __builtin_trap();
  return 0;
}
