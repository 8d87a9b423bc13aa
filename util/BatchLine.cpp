#include "util/BatchLine.h"

bool SplitBatchLine(std::string_view line, std::vector<std::string>& arguments) {
  arguments.clear();
  std::string work;
  work.reserve(line.size() + 2);
  if (line.empty() || line[0] != ' ') work += ' ';
  // The first character stays whatever it is: that is how a blank line is
  // recognised below.
  for (std::size_t i = 0; i < line.size(); ++i)
    if (i == 0 || (line[i] != '\r' && line[i] != '\n')) work += line[i];
  work += ' ';

  constexpr std::size_t kNone = std::string::npos;
  std::size_t start = kNone;
  bool quoted = false;
  for (std::size_t i = 0; i < work.size() && arguments.size() < kBatchMaxArguments; ++i) {
    const char c = work[i];
    if (c == '"') {
      if (!quoted) {
        start = i + 1;
        quoted = true;
      } else {
        arguments.emplace_back(work, start, i - start);
        start = kNone;
        quoted = false;
      }
    } else if (c == ' ' && !quoted) {
      if (start != kNone) arguments.emplace_back(work, start, i - start);
      start = i + 1;
    }
  }
  if (arguments.empty()) return true;
  const std::string& last = arguments.back();
  return last.empty() || (last[0] != '\r' && last[0] != '\n' && last[0] != ' ');
}

bool BatchFileReader::Open(const char* path) {
  buffer_.clear();
  position_ = 0;
  atEnd_ = false;
  // The bytes as they are: a batch file is plain text, never the engine's
  // compressed storage.
  return file_.Open(path, Vak::File::kReadStored) == Vak::File::RES_OK;
}

bool BatchFileReader::Fill() {
  if (position_ > 0) {
    buffer_.erase(0, position_);
    position_ = 0;
  }
  char chunk[4096];
  const unsigned long got = file_.IsOpen() ? file_.Read(chunk, sizeof chunk, 1) : 0;
  if (got == 0) {
    atEnd_ = true;
    return false;
  }
  buffer_.append(chunk, got);
  return true;
}

std::string BatchFileReader::ReadLine() {
  std::size_t searched = position_;
  for (;;) {
    const std::size_t end = buffer_.find('\n', searched);
    if (end != std::string::npos) {
      std::string line = buffer_.substr(position_, end + 1 - position_);
      position_ = end + 1;
      return line;
    }
    searched = buffer_.size() - position_;
    if (!Fill()) break;
  }
  std::string rest = buffer_.substr(position_);
  buffer_.clear();
  position_ = 0;
  return rest;
}
