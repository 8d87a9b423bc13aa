#pragma once
// The record of one script being compiled, and the calls through which its
// scanner and parser report.
#include <cstdarg>
#include <cstdint>

#include "gscompiler/BlockMemory.h"
#include "gscompiler/MessageSink.h"
#include "gscompiler/SyntaxNode.h"

namespace GSCompiler {

class GSSymbolTable;

struct CompileUnit {
  CompileUnit();
  CompileUnit(const CompileUnit&) = delete;
  CompileUnit& operator=(const CompileUnit&) = delete;

  // Syntax nodes and symbols; its frames hold the names.
  Utils::BlockMemory pool;
  const char* name = "";
  uint32_t textCrc = 0;
  uint32_t nameCrc = 0;
  // The include declarations, then the classes, chained by their next links.
  SyntaxNode* tree = nullptr;
  int errors = 0;
  int warnings = 0;
  MessageSink* sink = nullptr;  // none: messages are dropped
  GSSymbolTable* symbols = nullptr;  // the library's
};

// The unit being scanned and parsed, while one is.
extern CompileUnit* gCurrentUnit;

// Longest message text; longer ones are cut.
inline constexpr unsigned kMessageChars = 255;

// Counts the message as asked and queues "<unit name>(<line>) : <message>"
// in the unit's sink.
void ReportError(CompileUnit* unit, bool isError, bool isWarning, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void ReportErrorV(CompileUnit* unit, bool isError, bool isWarning, int line, const char* format, va_list args);
// Queues the message as it is in the sink of the unit being compiled.
void ReportMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace GSCompiler
