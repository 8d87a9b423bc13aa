#pragma once
// A few bytes that every process of the machine sees through one name: a
// small file in a machine-wide folder, mapped shared. Each attached object
// keeps a shared whole-file lock on the file (its attach lock); the system
// drops that lock when the process dies, so a file left behind by processes
// that all died is recognised as unattached.
#include "platform/os/Error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Where objects named for the whole machine live: /dev/shm, or the temporary
// folder where that is missing. Never taken from the environment's TMPDIR
// when /dev/shm exists, since two processes may differ in it.
std::string MachineObjectFolder();

// `name` as one file name: separators become '_'; a name longer than a file
// name may be keeps its start and ends in '~' and a hash of the whole name.
std::string MachineObjectFileName(const char* name);

class SharedMemory {
public:
  SharedMemory() = default;
  ~SharedMemory() { Detach(); }
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Opens (creating, usable by every user) the file `name` (made a file name
  // as above) in `folder`, maps `size` bytes of it shared and takes the
  // attach lock. `first` tells
  // whether no other attacher held the attach lock: the bytes are then all
  // zero. Processes must not attach or detach one name at the same time:
  // callers serialise both under a mutex of their own. An attached object
  // gives InvalidArgument.
  Error Attach(const char* folder, const char* name, size_t size, bool& first);
  // Unmaps and drops the attach lock; the last attacher removes the file and
  // answers true.
  bool Detach();

  bool IsAttached() const { return data_ != nullptr; }
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  const std::string& Path() const { return path_; }

private:
  int fd_ = -1;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::string path_;
};

} // namespace platform
