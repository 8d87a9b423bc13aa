// Batch files. Whatever the bytes, read as a batch file they come back as
// lines that end at a line feed (the last one may not) and join to the whole
// input; split, each line gives at most 511 arguments, none of which holds a
// double quote, and only the first may hold a line end, at its first
// character (a blank line); a line is skipped only when its last argument
// begins with a line end or a space. Splitting a line built back from
// arguments free of spaces and quotes gives those arguments again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInputFile.h"
#include "util/BatchLine.h"

namespace {

void CheckLine(const std::string& line) {
  std::vector<std::string> arguments;
  const bool runs = SplitBatchLine(line, arguments);
  if (arguments.size() > kBatchMaxArguments) __builtin_trap();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.find('"') != std::string::npos) __builtin_trap();
    const std::size_t end = argument.find_first_of("\r\n");
    if (end != std::string::npos && (i != 0 || end != 0 || argument.find_first_of("\r\n", 1) != std::string::npos))
      __builtin_trap();
  }
  const bool blank = !arguments.empty() && !arguments.back().empty() &&
                     (arguments.back()[0] == '\r' || arguments.back()[0] == '\n' || arguments.back()[0] == ' ');
  if (runs == blank) __builtin_trap();

  // Words without spaces, quotes or line ends survive a round trip.
  std::vector<std::string> words;
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '"' || c == '\r' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  if (words.empty() || words.size() > kBatchMaxArguments) return;
  std::string rebuilt;
  for (const std::string& w : words) rebuilt += (rebuilt.empty() ? "" : " ") + w;
  if (!SplitBatchLine(rebuilt + "\r\n", arguments) || arguments != words) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile file("batch.txt");
  if (!file.Write(data, size)) return 0;
  BatchFileReader reader;
  if (!reader.Open(file.Path().c_str())) return 0;
  std::string joined;
  do {
    const std::string line = reader.ReadLine();
    const std::size_t feed = line.find('\n');
    if (feed != std::string::npos && feed + 1 != line.size()) __builtin_trap();
    if (line.empty() && !reader.AtEnd()) __builtin_trap();
    joined += line;
    CheckLine(line);
  } while (!reader.AtEnd());
  if (joined != std::string(reinterpret_cast<const char*>(data), size)) __builtin_trap();
  return 0;
}
