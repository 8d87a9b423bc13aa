#pragma once
// Captures the log's lines through its copy stream for the life of the object.
#include <cstdio>
#include <string>

#include "Vak/Bexlorn/Log.h"

namespace content::test {

class LogCapture {
public:
  LogCapture() : file_(std::tmpfile()) { Vak::Log::SetStream(file_); }
  ~LogCapture() {
    Vak::Log::SetStream(nullptr);
    if (file_) std::fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }
  // Occurrences of `what` in the captured text.
  int Count(const std::string& what) const {
    const std::string text = Text();
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
  }

private:
  FILE* file_;
};

} // namespace content::test
