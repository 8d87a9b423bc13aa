#pragma once
// The file behind an object that several processes share by name (a named
// mutex, shared memory). Only the layer's own files use this header.
#include "platform/os/Error.h"

#include <string>

namespace platform {

// Opens the file at `path` read-write, making it when missing. A file this
// call makes is readable and writable by every user, whatever the umask, so
// that another user who reaches the folder can share the object. An existing
// file is opened without O_CREAT: a sticky folder's protection of files that
// other users made would refuse that. With `readEnough`, a file this user may
// only read is opened for reading (a whole-file lock needs no more).
Error OpenMachineObjectFile(const std::string& path, bool readEnough, int& fd);

} // namespace platform
