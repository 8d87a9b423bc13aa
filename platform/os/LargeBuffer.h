#pragma once
// Memory for a large file read whole. Blocks of several megabytes are mapped
// with every page present, so filling one takes no page fault per 4 KB
// page. Smaller blocks come from the heap.
#include <cstddef>
#include <cstdint>

namespace platform {

class LargeBuffer {
public:
  LargeBuffer() = default;
  // At least one byte; throws std::bad_alloc when there is no memory.
  explicit LargeBuffer(std::size_t size);
  ~LargeBuffer() { Release(); }
  LargeBuffer(LargeBuffer&& other) noexcept { *this = static_cast<LargeBuffer&&>(other); }
  LargeBuffer& operator=(LargeBuffer&& other) noexcept;
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  void Release();

private:
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;  // the block is a mapping of size_ bytes
};

} // namespace platform
