#pragma once
// The counted base of chunk-file objects and the handle that shares them.
// Counts change with interlocked operations, so handles to one object may be
// copied and released on several threads; the objects themselves are not
// locked.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/ProtectedLong.h"

class ReferenceCountMP {
public:
  // The creator chooses the first count (the chunk classes set their own).
  explicit ReferenceCountMP(int32_t count = 0) : count_(count) {}
  ReferenceCountMP(const ReferenceCountMP&) = delete;
  ReferenceCountMP& operator=(const ReferenceCountMP&) = delete;
  virtual ~ReferenceCountMP() = default;

  static void* operator new(std::size_t size);
  static void operator delete(void* block);

  int32_t AddReference() { return count_.Increment(); }
  // Deletes the object when this was the last reference (true).
  bool ReleaseReference();
  int32_t ReferenceCountValue() const { return count_.Get(); }

private:
  Vak::ProtectedLong count_;
};

// Owns one reference to its object, or holds null.
class MPHandle {
public:
  MPHandle() = default;
  // Takes a new reference to `object` (nothing for null).
  explicit MPHandle(ReferenceCountMP* object);
  MPHandle(const MPHandle& other);
  MPHandle(MPHandle&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ~MPHandle();

  MPHandle& operator=(const MPHandle& other);
  MPHandle& operator=(MPHandle&& other) noexcept;

  ReferenceCountMP* Get() const { return object_; }
  ReferenceCountMP* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  bool operator==(const MPHandle& other) const { return object_ == other.object_; }

  // Gives the reference back and holds null.
  void Reset();

private:
  ReferenceCountMP* object_ = nullptr;
};
