#include "gscompiler/CodeBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/ByteOrder.h"

namespace GSCompiler {

CodeBuffer::~CodeBuffer() { Vak::Alloc::Delete(raw_); }

// Storage for at least `size` bytes, never more than the capacity: doubling
// keeps the copies few.
bool CodeBuffer::Store(uint64_t size) {
  if (size <= stored_ && data_ != nullptr) return true;
  uint64_t bytes = std::max<uint64_t>({size, uint64_t{stored_} * 2, kFirstStore});
  if (bytes > capacity_) bytes = capacity_;
  if (bytes < size) return false;
  void* raw;
  try {
    raw = Vak::Alloc::New(static_cast<unsigned>(bytes + 3));
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto* data = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + 3) & ~uintptr_t{3});
  if (length_ != 0) std::memcpy(data, data_, length_);
  Vak::Alloc::Delete(raw_);
  raw_ = raw;
  data_ = data;
  stored_ = static_cast<uint32_t>(bytes);
  return true;
}

bool CodeBuffer::Grow(uint64_t capacity) {
  if (capacity + 3 > UINT32_MAX) return false;
  capacity_ = static_cast<uint32_t>(capacity);
  return true;
}

void CodeBuffer::Reset() {
  Vak::Alloc::Delete(raw_);
  raw_ = nullptr;
  data_ = nullptr;
  capacity_ = 0;
  stored_ = 0;
  length_ = 0;
  position_ = 0;
  flags_ = 0;
  if (!Grow(step_) || !Store(0)) flags_ |= kAllocFailed;
}

bool CodeBuffer::Ensure(uint64_t size) {
  const uint32_t capacity = capacity_;
  if ((size >= capacity_ && !Grow(GrownCapacity(size, step_))) || !Store(size)) {
    capacity_ = capacity;
    flags_ |= kAllocFailed;
    return false;
  }
  return true;
}

// Room for `count` bytes at the position, which moves past them; null when
// writes are skipped.
uint8_t* CodeBuffer::Advance(uint32_t count) {
  if (flags_ & kAllocFailed) return nullptr;
  if (!Ensure(uint64_t{position_} + count)) return nullptr;
  uint8_t* at = data_ + position_;
  position_ += count;
  if (position_ > length_) length_ = position_;
  return at;
}

void CodeBuffer::AppendBytes(const void* bytes, uint32_t count) {
  uint8_t* at = Advance(count);
  if (at != nullptr && count != 0) std::memcpy(at, bytes, count);
}

void CodeBuffer::AppendFill(uint8_t value, uint32_t count) {
  uint8_t* at = Advance(count);
  if (at != nullptr && count != 0) std::memset(at, value, count);
}

void CodeBuffer::Erase(uint32_t at, uint32_t count) {
  if (uint64_t{at} + count > length_) {
    flags_ |= kPositionPastEnd;
    return;
  }
  if (count != 0) std::memmove(data_ + at, data_ + at + count, length_ - at - count);
  length_ -= count;
  position_ = length_;
}

void CodeBuffer::AppendU32(uint32_t value) {
  uint8_t bytes[4];
  Vak::PutLE32(bytes, value);
  AppendBytes(bytes, 4);
}

void CodeBuffer::SetPosition(uint32_t position) {
  if (position > length_) {
    flags_ |= kPositionPastEnd;
    return;
  }
  position_ = position;
}

} // namespace GSCompiler
