#include "datamanager/FormTemplate.h"

#include "Vak/Bexlorn/File.h"

namespace RUZLib {

bool ReadFileBytes(const char* path, std::string& bytes) {
  Vak::File file;
  if (file.Open(path, Vak::File::kRead) != Vak::File::RES_OK) return false;
  bytes.clear();
  char buffer[4096];
  unsigned long got;
  while ((got = file.Read(buffer, sizeof buffer, 1)) > 0) bytes.append(buffer, got);
  file.Close();
  return true;
}

void TrimLineEnd(std::string& text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
}

SplitLine SplitFormTemplateLine(std::string_view piece) {
  SplitLine line;
  const std::size_t searched = piece.empty() ? 0 : piece.size() - 1;
  const std::size_t blank = piece.substr(0, searched).find(' ');
  if (blank == std::string_view::npos) {
    line.key.assign(piece);
    TrimLineEnd(line.key);
    return line;
  }
  line.key.assign(piece.substr(0, blank));
  line.value.assign(piece.substr(blank + 1));
  line.hasValue = true;
  TrimLineEnd(line.value);
  return line;
}

std::vector<std::string_view> FormTemplatePieces(std::string_view bytes, unsigned limit) {
  std::vector<std::string_view> pieces;
  const std::size_t most = limit > 1 ? limit - 1 : 1;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end - at > most) end = at + most;
    pieces.push_back(bytes.substr(at, end - at));
    at = end;
  }
  return pieces;
}

} // namespace RUZLib
