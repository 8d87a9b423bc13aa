#include "platform/os/SignalSafeWriter.h"

#include <cerrno>
#include <unistd.h>

namespace platform {

SignalSafeWriter& SignalSafeWriter::Char(char c) {
  if (used_ == sizeof buffer_) Flush();
  buffer_[used_++] = c;
  return *this;
}

SignalSafeWriter& SignalSafeWriter::Text(const char* text) {
  if (text != nullptr)
    for (; *text != '\0'; ++text) Char(*text);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::Unsigned(uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) Char(digits[--n]);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::Decimal(int64_t value) {
  if (value < 0) {
    Char('-');
    // Negate in unsigned arithmetic so the lowest value does not overflow.
    return Unsigned(0 - static_cast<uint64_t>(value));
  }
  return Unsigned(static_cast<uint64_t>(value));
}

SignalSafeWriter& SignalSafeWriter::Hex(uint64_t value, int width) {
  static const char kDigits[] = "0123456789abcdef";
  if (width > 16) width = 16;
  int n = 16;
  while (n > 1 && (value >> ((n - 1) * 4)) == 0) --n;
  if (n < width) n = width;
  for (int i = n - 1; i >= 0; --i) Char(kDigits[(value >> (i * 4)) & 0xF]);
  return *this;
}

bool SignalSafeWriter::Flush() {
  std::size_t done = 0;
  while (done < used_ && !failed_) {
    ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      failed_ = true;
  }
  used_ = 0;
  return !failed_;
}

} // namespace platform
