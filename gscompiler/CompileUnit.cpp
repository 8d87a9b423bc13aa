#include "gscompiler/CompileUnit.h"

#include <cstdio>
#include <string>

namespace GSCompiler {

CompileUnit* gCurrentUnit = nullptr;

CompileUnit::CompileUnit() {
  pool.Setup(Utils::BlockMemory::kUnitThreshold, sizeof(SyntaxNode), Utils::BlockMemory::kUnitBlocksPerChunk);
}

namespace {

// The message cut to kMessageChars characters.
void Format(char (&out)[kMessageChars + 1], const char* format, va_list args) {
  std::vsnprintf(out, sizeof out, format, args);
}

} // namespace

void ReportErrorV(CompileUnit* unit, bool isError, bool isWarning, int line, const char* format, va_list args) {
  if (unit == nullptr) return;
  char message[kMessageChars + 1];
  Format(message, format, args);
  if (isError) ++unit->errors;
  if (isWarning) ++unit->warnings;
  if (unit->sink == nullptr) return;
  const char* name = unit->name != nullptr ? unit->name : "";
  std::string text = name;
  text += '(';
  text += std::to_string(line);
  text += ") : ";
  text += message;
  unit->sink->Add(text.c_str());
}

void ReportError(CompileUnit* unit, bool isError, bool isWarning, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportErrorV(unit, isError, isWarning, line, format, args);
  va_end(args);
}

void ReportMessage(const char* format, ...) {
  if (gCurrentUnit == nullptr || gCurrentUnit->sink == nullptr) return;
  char message[kMessageChars + 1];
  va_list args;
  va_start(args, format);
  Format(message, format, args);
  va_end(args);
  gCurrentUnit->sink->Add(message);
}

} // namespace GSCompiler

