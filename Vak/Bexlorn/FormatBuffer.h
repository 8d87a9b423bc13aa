#pragma once
// printf-style formatting for the string classes: short results (up to 1023
// characters) land in a 1024-byte local area, longer ones in a heap area of
// 32 KB grown by 4x while it stays within 128 MB (so at most 32 MB). A longer
// result, a null format or an encoding error gives an empty text of length 0.
// The argument list is copied, never consumed.
#include <cstdarg>

namespace Vak {

class FormatBuffer {
public:
  FormatBuffer(const char* format, va_list args);
  ~FormatBuffer();
  FormatBuffer(const FormatBuffer&) = delete;
  FormatBuffer& operator=(const FormatBuffer&) = delete;

  const char* Text() const { return text_; }
  unsigned Length() const { return length_; }
  bool OnHeap() const { return text_ != local_; }

  static constexpr unsigned kLocalSize = 1024;

private:
  char* text_;
  unsigned length_ = 0;
  unsigned size_ = kLocalSize;
  char local_[kLocalSize];
};

} // namespace Vak
