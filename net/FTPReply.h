#pragma once
// The text side of the FTP client: reply lines, the passive-mode address,
// the size reply, and the arguments that may go into a command line.
#include <cstddef>
#include <cstdint>

namespace FTPReply {

enum class LineKind {
  kFinal,      // "<code> ": the reply is complete
  kContinued,  // "<code>-": more lines follow, up to one starting "<code> "
  kOther,
};
// How `line` starts with respect to `code` (three digits).
LineKind Classify(const char* line, int code);

// The data port of a "227" reply: skips the code, then reads six decimal
// numbers separated by commas starting at the first digit (h1,h2,h3,h4,p1,p2).
// False when a number is missing, any is outside 0-255, or the port is 0.
bool ParsePassivePort(const char* line, int32_t& port);

enum class SizeKind { kSize, kNone, kTooLarge };
// The number behind the code of a "213" reply (after blanks and tabs):
// kNone when no digit follows, kTooLarge when it passes INT32_MAX.
SizeKind ParseSize(const char* line, int32_t& size);

// An argument that may be formatted into a command: no CR, LF or NUL within
// its `length` bytes.
bool IsSafeArgument(const char* text, size_t length);
bool IsSafeArgument(const char* text);

} // namespace FTPReply
