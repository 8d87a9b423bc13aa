#pragma once
// A first-in, first-out ring of plain values that grows by a fixed number of
// entries whenever a push finds it full. Growing unrolls the ring into the
// new array, so that the read index becomes 0 again.
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "Vak/Bexlorn/Alloc.h"

namespace Utils {

template <typename T>
class Queue {
  static_assert(std::is_trivially_copyable_v<T>, "entries are copied as bytes");

public:
  static constexpr unsigned kDefaultStep = 128;

  explicit Queue(unsigned step = kDefaultStep) : step_(step) {}
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;
  ~Queue() { Free(); }

  // False when the queue was full and could not grow; the entry is dropped.
  bool Push(const T& item) {
    if (count_ == capacity_ && !Grow()) return false;
    items_[write_] = item;
    write_ = (write_ + 1) % capacity_;
    ++count_;
    return true;
  }
  // False when the queue is empty.
  bool Pop(T& item) {
    if (count_ == 0) return false;
    item = items_[read_];
    read_ = (read_ + 1) % capacity_;
    --count_;
    return true;
  }
  // The entry `i` places after the read index.
  const T& At(uint32_t i) const { return items_[(read_ + i) % capacity_]; }

  void Free() {
    Vak::Alloc::Delete(items_);
    items_ = nullptr;
    capacity_ = count_ = read_ = write_ = 0;
  }

  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  uint32_t ReadIndex() const { return read_; }
  uint32_t WriteIndex() const { return write_; }

private:
  bool Grow() {
    const uint64_t capacity = uint64_t{capacity_} + step_;
    if (step_ == 0 || capacity * sizeof(T) > UINT32_MAX) return false;
    T* items;
    try {
      items = static_cast<T*>(Vak::Alloc::New(static_cast<unsigned>(capacity * sizeof(T))));
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (count_ != 0) {
      // Full: the entries run from the read index to the end, then from the
      // start up to the write index (which equals the read index).
      const uint32_t tail = capacity_ - read_;
      std::memcpy(items, items_ + read_, tail * sizeof(T));
      std::memcpy(items + tail, items_, write_ * sizeof(T));
    }
    Vak::Alloc::Delete(items_);
    items_ = items;
    capacity_ = static_cast<uint32_t>(capacity);
    read_ = 0;
    write_ = count_;
    return true;
  }

  unsigned step_;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  uint32_t read_ = 0;
  uint32_t write_ = 0;
  T* items_ = nullptr;
};

} // namespace Utils
