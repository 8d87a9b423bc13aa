#pragma once
// Form-template files: text files of "key value" lines, read in pieces of at
// most DataManager::kFormTemplateLineLength - 1 characters, line end
// included (as a fixed line buffer reads them).
#include <string>
#include <string_view>
#include <vector>

namespace RUZLib {

struct SplitLine {
  std::string key;
  std::string value;
  bool hasValue = false;
};

// Splits at the first blank before the piece's last character; trailing CR
// and LF then go from the value, or from the key of a piece without one.
SplitLine SplitFormTemplateLine(std::string_view piece);
// The file's bytes as pieces of at most `limit` - 1 characters, each ending
// at its first line feed.
std::vector<std::string_view> FormTemplatePieces(std::string_view bytes, unsigned limit);
// The whole file through the engine's file layer; false when it does not
// open.
bool ReadFileBytes(const char* path, std::string& bytes);
// Removes trailing CR and LF.
void TrimLineEnd(std::string& text);

} // namespace RUZLib
