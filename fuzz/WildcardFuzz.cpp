// The matcher must stop at the end of both texts whatever they hold. Input:
// name '|' pattern.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/Wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t bar = input.find('|');
  if (bar == std::string::npos) return 0;
  // Exact-size copies, so the sanitizer sees any read past a terminator.
  const std::string name = input.substr(0, bar), pattern = input.substr(bar + 1);
  const char* directoryEnd = nullptr;
  Vak::MatchWildcard(name.c_str(), pattern.c_str(), &directoryEnd);
  if (directoryEnd && (directoryEnd < name.c_str() || directoryEnd > name.c_str() + name.size())) __builtin_trap();
  return 0;
}
