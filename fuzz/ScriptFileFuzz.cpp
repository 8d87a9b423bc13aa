// A ".gse" file of arbitrary bytes through the script container: the reader
// refuses damage without reading or writing out of bounds, a text it gives
// is as long as it says, and a text written back reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/FuzzInputFile.h"
#include "gscompiler/ScriptFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Round trips cost two file writes; only short texts take them.
constexpr uint32_t kRoundTripBelow = 1u << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("in.gse");
  static const std::string again = fuzz::ScratchFolder::Get().FileNamed("again.gse");
  if (!input.Write(data, size)) return 0;

  ScriptFile script;
  if (!script.Load(nullptr, input.Path().c_str())) return 0;
  Check(script.IsScrambled());
  const uint32_t word = script.HeaderWord();
  const char* text = script.GetText();
  if (text == nullptr) {
    Check(script.Length() == 0 && script.GetPlainLength() == 0);
    return 0;
  }
  const uint32_t length = script.GetPlainLength();
  Check(length == script.Length() && length > 0 && length <= ScriptFile::kMaxPlainLength);
  if (length >= kRoundTripBelow) return 0;

  const std::string plain(text, length);
  Check(script.Save(nullptr, again.c_str()));
  ScriptFile back;
  Check(back.Load(nullptr, again.c_str()));
  Check(back.HeaderWord() == word);
  const char* reread = back.GetText();
  Check(reread != nullptr && back.GetPlainLength() == length && std::memcmp(reread, plain.data(), length) == 0);
  return 0;
}
