#pragma once
// printf-style formatting that reads a format's conversions against the
// kinds of the arguments it is given, and never reads an argument that is
// not there. String-table texts are data, so a text that asks for other
// arguments than the code passes must not be handed to vsnprintf.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Vak/Bexlorn/PString.h"

namespace RUZLib {

// One character per argument: 's' text, 'i' integer, 'f' double.
enum ArgKind : char { kArgText = 's', kArgInt = 'i', kArgDouble = 'f' };

struct FormatArg {
  FormatArg(const char* value) : kind(kArgText), text(value ? value : "") {}
  FormatArg(const Vak::PString& value) : kind(kArgText), text(value.c_str()) {}
  FormatArg(const std::string& value) : kind(kArgText), text(value.c_str()) {}
  FormatArg(int value) : kind(kArgInt), integer(value) {}
  FormatArg(double value) : kind(kArgDouble), real(value) {}

  char kind;
  const char* text = "";
  int integer = 0;
  double real = 0;
};

// The kinds the format's conversions read, in order, into `kinds`. Takes
// %s, %c, %d %i %u %x %X (integer), %f %F %g %G %e %E (double) and %%, with
// the flags "-+ #0", a width and a precision in digits. False for anything
// else (a '*', a length modifier, %n, %p, a '%' at the end).
bool FormatConversions(std::string_view format, std::string& kinds);

// Formats when the format's conversions are exactly `kinds` and the
// arguments have those kinds; then true. Otherwise `out` is the format as
// written and the result false.
bool FormatChecked(std::string_view format, std::string_view kinds, std::span<const FormatArg> args,
                   std::string& out);

} // namespace RUZLib
