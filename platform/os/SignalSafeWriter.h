#pragma once
// Text and numbers written to a file descriptor from a signal handler: no
// allocation, no stdio, no locks; a fixed buffer drained with write(2).
#include <cstddef>
#include <cstdint>

namespace platform {

class SignalSafeWriter {
public:
  explicit SignalSafeWriter(int fd) : fd_(fd) {}
  ~SignalSafeWriter() { Flush(); }
  SignalSafeWriter(const SignalSafeWriter&) = delete;
  SignalSafeWriter& operator=(const SignalSafeWriter&) = delete;

  // Null writes nothing.
  SignalSafeWriter& Text(const char* text);
  SignalSafeWriter& Char(char c);
  SignalSafeWriter& Decimal(int64_t value);
  SignalSafeWriter& Unsigned(uint64_t value);
  // Lower-case hex digits, zero-padded to `width` (at most 16), no prefix.
  SignalSafeWriter& Hex(uint64_t value, int width = 1);
  // Writes out what is buffered; false when the descriptor refused it.
  bool Flush();
  bool Failed() const { return failed_; }

private:
  int fd_;
  std::size_t used_ = 0;
  bool failed_ = false;
  char buffer_[512];
};

} // namespace platform
