#pragma once
// The parser of the script language: builds a script's syntax tree in the
// pool of its compile unit.
#include <cstddef>

#include "gscompiler/CompileUnit.h"

namespace GSCompiler {

// Parser stack: the room it starts with and the most it may grow to.
inline constexpr int kParserInitialDepth = 200;
inline constexpr int kParserMaxDepth = 10000;

// Parses the current scanner's script into the current unit: 0 when it was
// accepted (the unit's tree is set), 1 after a syntax error, 2 when the
// parser stack overflowed. Errors are reported through ReportError. Without
// a current unit there is nothing to build into: 1, and no report.
int Parse();

// Scans and parses `text` into `unit` as the current scanner and unit, which
// are cleared again afterwards; the result is Parse's.
int ParseText(CompileUnit& unit, const char* text, std::size_t length);

} // namespace GSCompiler
