#pragma once
// A lock its owner may take again (the critical section's stand-in); each Lock
// or successful TryLock needs its Unlock.
#include <mutex>

namespace platform {

class RecursiveMutex {
public:
  void Lock() { mutex_.lock(); }
  // Takes the lock when it is free or already this thread's; never waits.
  bool TryLock() { return mutex_.try_lock(); }
  void Unlock() { mutex_.unlock(); }

private:
  std::recursive_mutex mutex_;
};

} // namespace platform
