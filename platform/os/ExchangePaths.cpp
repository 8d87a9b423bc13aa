#include "platform/os/ExchangePaths.h"

#include "platform/os/NativePath.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace platform {

Error ExchangePaths(const char* first, const char* second, bool& supported) {
  supported = true;
  if (first == nullptr || second == nullptr) return Error::InvalidArgument;
  const std::string a = ResolvePath(first);
  const std::string b = ResolvePath(second);
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return Error::None;
  const int err = errno;
#else
  const int err = ENOSYS;
#endif
  // EINVAL: the file system has no exchange; ENOSYS: the kernel has none.
  if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
    supported = false;
    return Error::Other;
  }
  return ErrorFromErrno(err);
}

} // namespace platform
