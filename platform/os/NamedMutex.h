#pragma once
// A mutex shared by processes through a lock file: the lock is a whole-file
// lock, which the system drops when its holder dies, so a crashed owner never
// leaves it taken. Within a process it is recursive per thread, and every
// object opened on the same file is the same mutex.
#include "platform/os/Error.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct NamedMutexState;

class NamedMutex {
public:
  NamedMutex();
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Opens (creating when missing) the lock file `name` in `folder`; separators
  // in the name become '_'. An open object gives InvalidArgument.
  Error Open(const char* folder, const char* name);
  void Close();
  bool IsOpen() const { return state_ != nullptr; }
  // The lock file's path once open.
  const std::string& Path() const { return path_; }

  // Takes the mutex within `timeoutMs` (kInfinite waits without limit); the
  // owning thread takes it again at once. False on time-out or when closed.
  bool Lock(uint32_t timeoutMs);
  // False when the calling thread does not own it.
  bool Unlock();

private:
  std::shared_ptr<NamedMutexState> state_;
  std::string path_;
};

} // namespace platform
