#include "platform/os/LargeBuffer.h"

#include <sys/mman.h>

#include <new>

namespace platform {

namespace {

// Below this a mapping saves nothing.
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;

} // namespace

LargeBuffer::LargeBuffer(std::size_t size) {
  if (size == 0) size = 1;
  size_ = size;
  if (size < kMappedFrom) {
    data_ = new uint8_t[size];
    return;
  }
  // All pages in one call: faulting them in one at a time as a read fills
  // them costs more than the read.
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  mapped_ = true;
  data_ = static_cast<uint8_t*>(mapped);
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this == &other) return *this;
  Release();
  data_ = other.data_;
  size_ = other.size_;
  mapped_ = other.mapped_;
  other.data_ = nullptr;
  other.size_ = 0;
  other.mapped_ = false;
  return *this;
}

void LargeBuffer::Release() {
  if (mapped_) ::munmap(data_, size_);
  else delete[] data_;
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

} // namespace platform
