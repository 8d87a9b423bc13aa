#pragma once
// What PrintResultsLog prints for a log, caught in a temporary file.
#include <cstdio>
#include <string>

#include "util/ResultsPrinting.h"

inline std::string PrintedLog(const ResultsLog& log) {
  std::FILE* file = std::tmpfile();
  PrintResultsLog(log, file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}
