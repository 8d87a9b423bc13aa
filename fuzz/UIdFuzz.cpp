// The identifier parser reads fixed positions of whatever text it is given;
// what it yields must write as GUID text that reads back to the same value,
// the case of the text must not matter, and a well-formed GUID must read back
// exactly as written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/plugins/UId.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// 8-4-4-4-12 hexadecimal digits and nothing else.
bool WellFormed(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so the sanitizer sees a read past the terminator.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Vak::UId id(text.c_str());

  const std::string written = id.ToText();
  if (!WellFormed(written)) __builtin_trap();
  const Vak::UId again(written.c_str());
  if (!(again == id) || again.Hash() != id.Hash()) __builtin_trap();

  std::string lower = text;
  for (char& c : lower) c = Vak::CodePage::AsciiLower(c);
  if (!(Vak::UId(lower.c_str()) == id)) __builtin_trap();

  const std::string terminated(text.c_str());
  if (WellFormed(terminated) && written != Upper(terminated)) __builtin_trap();
  return 0;
}
