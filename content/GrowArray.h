#pragma once
// A contiguous array that grows by a fixed step: large steps trade memory for
// few reallocations. Items are plain values (numbers, characters, bytes,
// pointers) and are moved by copying bytes.
//
// Not locked: owners lock.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "Vak/Bexlorn/Alloc.h"

template <typename T, unsigned Step>
class GrowArray {
  static_assert(Step >= 1, "the step is at least one item");
  static_assert(std::is_trivially_copyable_v<T>, "items are copied as bytes");
  static_assert(alignof(T) <= Vak::Alloc::kAlign, "blocks are 16-byte aligned");

public:
  static constexpr unsigned kStep = Step;

  // The capacity after growing a full array of `count` items: the next
  // multiple of the step above the count, (count + 1 + step) rounded down.
  static constexpr uint64_t GrownCapacity(uint64_t count) { return (count + 1 + Step) / Step * Step; }

  GrowArray() = default;
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  GrowArray(GrowArray&& other) noexcept
      : count_(std::exchange(other.count_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        items_(std::exchange(other.items_, nullptr)) {}
  GrowArray& operator=(GrowArray&& other) noexcept {
    if (this != &other) {
      Free();
      count_ = std::exchange(other.count_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      items_ = std::exchange(other.items_, nullptr);
    }
    return *this;
  }
  ~GrowArray() { Free(); }

  // Throws std::length_error when the grown block would not fit one
  // allocator request; the array is unchanged then.
  void Append(const T& item) {
    if (count_ == capacity_) {
      T copy = item;  // `item` may live in the old block
      Reserve(GrownCapacity(count_));
      items_[count_++] = copy;
      return;
    }
    items_[count_++] = item;
  }

  // Room for `capacity` items without a move, for owners that grow faster
  // than the step; never shrinks. Throws as Append does.
  void Reserve(uint64_t capacity) {
    if (capacity <= capacity_) return;
    const uint64_t bytes = capacity * sizeof(T);
    if (bytes > UINT32_MAX) throw std::length_error("GrowArray::Append: array too large");
    T* items = static_cast<T*>(Vak::Alloc::New(static_cast<unsigned>(bytes)));
    if (count_ != 0) std::memcpy(items, items_, count_ * sizeof(T));
    Vak::Alloc::Delete(items_);
    items_ = items;
    capacity_ = static_cast<uint32_t>(capacity);
  }

  // The items behind move down one place.
  void EraseAt(uint32_t i) {
    if (i >= count_) return;
    std::memmove(items_ + i, items_ + i + 1, (count_ - i - 1) * sizeof(T));
    --count_;
  }

  void Free() {
    Vak::Alloc::Delete(items_);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }
  bool IsEmpty() const { return count_ == 0; }
  T* Data() { return items_; }
  const T* Data() const { return items_; }
  T& operator[](uint32_t i) { return items_[i]; }
  const T& operator[](uint32_t i) const { return items_[i]; }
  T* begin() { return items_; }
  T* end() { return items_ + count_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + count_; }

private:
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  T* items_ = nullptr;
};
