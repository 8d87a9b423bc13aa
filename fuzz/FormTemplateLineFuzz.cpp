// The form-template reader cuts a file into pieces and splits each at its
// first blank. Whatever the bytes, the pieces cover the file in order, each
// at most 255 characters, and a split never loses or invents characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "datamanager/DataManager.h"
#include "datamanager/FormTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string joined;
  for (std::string_view piece : RUZLib::FormTemplatePieces(bytes, RUZLib::DataManager::kFormTemplateLineLength)) {
    if (piece.empty() || piece.size() >= RUZLib::DataManager::kFormTemplateLineLength) __builtin_trap();
    joined.append(piece);
    const RUZLib::SplitLine line = RUZLib::SplitFormTemplateLine(piece);
    const std::string_view rest = line.hasValue ? piece.substr(line.key.size() + 1) : piece;
    if (line.hasValue && (piece.substr(0, line.key.size()) != line.key || piece[line.key.size()] != ' '))
      __builtin_trap();
    // Only a piece's last character is never taken as the separating blank.
    const size_t blank = line.key.find(' ');
    if (blank != std::string::npos && (line.hasValue || blank + 1 != piece.size())) __builtin_trap();
    const std::string& kept = line.hasValue ? line.value : line.key;
    if (rest.substr(0, kept.size()) != kept) __builtin_trap();
    for (char c : rest.substr(kept.size()))
      if (c != '\r' && c != '\n') __builtin_trap();
  }
  if (joined != bytes) __builtin_trap();
  return 0;
}
