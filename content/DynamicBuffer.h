#pragma once
// A growable block of bytes with a read/write position: the memory behind
// TBuffer. Writes past the end extend the data; reads stop at the end.
#include <cstdint>
#include <vector>

class DynamicBuffer {
public:
  DynamicBuffer() = default;
  // Reserves room for `capacity` bytes up front; the data stays empty.
  explicit DynamicBuffer(uint32_t capacity);

  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Position() const { return position_; }
  // Limited to the data size.
  void SetPosition(uint32_t position);
  // Cuts or extends (with zeros) the data; the position stays inside it.
  void SetSize(uint32_t size);

  // Returns the bytes moved.
  uint32_t Read(void* out, uint32_t n);
  uint32_t Write(const void* data, uint32_t n);

  const uint8_t* Data() const { return bytes_.data(); }

private:
  std::vector<uint8_t> bytes_;
  uint32_t position_ = 0;
};
