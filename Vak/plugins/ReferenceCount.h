#pragma once
// The engine's reference-counted base: a count that starts at 1 and changes
// with interlocked operations; the last release destroys the object.
#include <cstdint>

#include "Vak/Bexlorn/ProtectedLong.h"

namespace Vak {

class ReferenceCount {
public:
  ReferenceCount() : count_(1) {}
  ReferenceCount(const ReferenceCount&) = delete;
  ReferenceCount& operator=(const ReferenceCount&) = delete;

  // Destroys the object through its virtual destructor; nothing for null.
  virtual void DeleteThis() { delete this; }
  virtual ~ReferenceCount() = default;

  int32_t AddReference() { return count_.Increment(); }
  // True when this release destroyed the object.
  bool ReleaseReference() {
    if (count_.Decrement() != 0) return false;
    DeleteThis();
    return true;
  }
  int32_t ReferenceCountValue() const { return count_.Get(); }

private:
  ProtectedLong count_;
};

} // namespace Vak
