#include "content/DynamicBuffer.h"

#include <algorithm>
#include <cstring>

DynamicBuffer::DynamicBuffer(uint32_t capacity) { bytes_.reserve(capacity); }

void DynamicBuffer::SetPosition(uint32_t position) { position_ = std::min(position, Size()); }

void DynamicBuffer::SetSize(uint32_t size) {
  bytes_.resize(size);
  position_ = std::min(position_, size);
}

uint32_t DynamicBuffer::Read(void* out, uint32_t n) {
  const uint32_t count = std::min(n, Size() - position_);
  if (count > 0) std::memcpy(out, bytes_.data() + position_, count);
  position_ += count;
  return count;
}

uint32_t DynamicBuffer::Write(const void* data, uint32_t n) {
  // Positions are 32-bit: a write stops at the last addressable byte.
  const uint32_t count = std::min<uint64_t>(n, UINT32_MAX - position_);
  if (count == 0) return 0;
  if (uint64_t(position_) + count > bytes_.size()) bytes_.resize(position_ + count);
  std::memcpy(bytes_.data() + position_, data, count);
  position_ += count;
  return count;
}
