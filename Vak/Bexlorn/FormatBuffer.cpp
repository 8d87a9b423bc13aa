#include "Vak/Bexlorn/FormatBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace Vak {

namespace {

// Heap areas: 32 KB, then x4 while the size stays within this bound.
constexpr unsigned kFirstHeapSize = 32768;
constexpr unsigned kHeapSizeBound = 134217727;

} // namespace

FormatBuffer::FormatBuffer(const char* format, va_list args) : text_(local_) {
  local_[0] = '\0';
  if (format == nullptr) return;

  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(local_, kLocalSize, format, copy);
  va_end(copy);
  if (needed < 0) {  // encoding error: nothing usable was produced
    local_[0] = '\0';
    return;
  }
  if (static_cast<unsigned>(needed) < kLocalSize) {
    length_ = static_cast<unsigned>(needed);
    return;
  }

  // The formatter told us the length, so step straight to the first heap size
  // of the sequence that holds it instead of retrying each one.
  unsigned size = kFirstHeapSize;
  while (size <= static_cast<unsigned>(needed)) {
    if (size > kHeapSizeBound / 4) {  // the next size would pass the bound
      local_[0] = '\0';
      return;
    }
    size *= 4;
  }
  char* heap = static_cast<char*>(std::malloc(size));
  if (heap == nullptr) throw std::bad_alloc();

  va_copy(copy, args);
  int written = std::vsnprintf(heap, size, format, copy);
  va_end(copy);
  if (written < 0 || static_cast<unsigned>(written) >= size) {
    std::free(heap);
    local_[0] = '\0';
    return;
  }
  text_ = heap;
  size_ = size;
  length_ = static_cast<unsigned>(written);
}

FormatBuffer::~FormatBuffer() {
  if (text_ != local_) std::free(text_);
}

} // namespace Vak
