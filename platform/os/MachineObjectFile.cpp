#include "platform/os/MachineObjectFile.h"

#include "platform/os/ListingCache.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

Error OpenMachineObjectFile(const std::string& path, bool readEnough, int& fd) {
  fd = -1;
  for (;;) {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == EACCES && readEnough) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return Error::None;
    if (errno != ENOENT) return ErrorFromErrno(errno, path.c_str());

    listing::Change change(path);
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // another process made it first
      return ErrorFromErrno(errno, path.c_str());
    }
    change.Added();
    if (::fchmod(fd, 0666) != 0) {
      const int err = errno;
      ::close(fd);
      fd = -1;
      return ErrorFromErrno(err, path.c_str());
    }
    return Error::None;
  }
}

} // namespace platform
