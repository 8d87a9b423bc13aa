#pragma once
// The kernel's interlocked 32-bit counter.
#include <cstdint>

#include "platform/os/Atomic.h"

namespace Vak {

class ProtectedLong {
public:
  explicit ProtectedLong(int32_t value = 0) : value_(value) {}
  int32_t Increment() { return platform::AtomicIncrement(value_); }
  int32_t Decrement() { return platform::AtomicDecrement(value_); }
  int32_t Get() const { return platform::AtomicLoad(value_); }
  void Set(int32_t value) { platform::AtomicStore(value_, value); }

private:
  int32_t value_;
};

} // namespace Vak
