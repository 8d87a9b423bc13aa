#include "Vak/Bexlorn/Exception.h"

#include <cstdarg>
#include <cstdio>

namespace Vak {

namespace {

const char kNoCallStack[] = "No call stack available\r\n";

// Copies at most size - 1 characters and always terminates.
void CopyBounded(char* to, std::size_t size, const char* from) {
  std::size_t n = 0;
  if (from)
    for (; n + 1 < size && from[n] != '\0'; ++n) to[n] = from[n];
  to[n] = '\0';
}

} // namespace

Exception::Exception(const char* file, int line, const char* reason) : line_(line), file_(file) {
  CopyBounded(description_, sizeof description_, kNoCallStack);
  CopyBounded(reason_, sizeof reason_, reason);
}

Exception::~Exception() = default;

const char* Exception::ClassName() const { return "Unknown"; }
bool Exception::IsHardwareException() const { return hardware_; }
const char* Exception::Description() const { return description_; }
const char* Exception::Reason() const { return reason_; }

void Exception::SetReason(const char* format, ...) {
  // Formatted aside first: an argument may be the current reason itself.
  char text[kReasonSize];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  CopyBounded(reason_, sizeof reason_, text);
}

const char* FileEx::ClassName() const { return "File"; }

} // namespace Vak
