#pragma once
// A mutex shared by processes through a lock file: the lock is a whole-file
// lock, which the system drops when its holder dies, so a crashed owner never
// leaves it taken. Within a process it is recursive per thread, and every
// object opened on the same file is the same mutex. The file may be removed
// by a holder (Remove): whoever takes the mutex afterwards, having opened the
// old file before, finds it gone and takes the name afresh.
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

  // Opens (creating when missing, usable by every user) the lock file `name`
  // in `folder`; separators in the name become '_'. An open object gives
  // InvalidArgument.
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
  // Removes the lock file while the calling thread owns the mutex, so that no
  // file stays once nobody uses the name; false when it does not own it or
  // the file could not be removed. The mutex stays held until Unlock.
  bool Remove();

private:
  std::shared_ptr<NamedMutexState> state_;
  std::string path_;
};

} // namespace platform
