#include "tools/PatchSet.h"

#include <vector>

std::string FormatPatchList(const PatchMap& map) {
  std::string out;
  for (const auto& [path, value] : map) {
    out += path;
    out += '\n';
    out += value;
    out += '\n';
  }
  return out;
}

void ParsePatchList(const char* data, std::size_t size, bool patched, PatchMap& map) {
  if (!data) return;
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') continue;
    lines.emplace_back(data + start, i - start);
    start = i + 1;
  }
  // A last line without its line feed still counts.
  if (start < size) lines.emplace_back(data + start, size - start);

  const std::size_t per = patched ? 3 : 2;
  for (std::size_t r = 0; r + per <= lines.size(); r += per) {
    bool empty = false;
    for (std::size_t k = 0; k < per; ++k) empty = empty || lines[r + k].empty();
    if (empty) continue;
    map[lines[r]] = patched ? lines[r + 1] + '\n' + lines[r + 2] + '\n' : lines[r + 1];
  }
}

std::string PatchedOldDigest(const std::string& value) { return value.substr(0, value.find('\n')); }

std::string PatchedNewDigest(const std::string& value) {
  const std::size_t first = value.find('\n');
  if (first == std::string::npos) return std::string();
  const std::size_t second = value.find('\n', first + 1);
  return value.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}
