#include "platform/os/File.h"

#include "platform/os/ListingCache.h"
#include "platform/os/NativePath.h"

#include <cerrno>
#include <mutex>
#include <optional>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Repeats a read call (bytes to, count, bytes done so far) until `size` bytes
// came, the end of the file, or a failure other than an interruption.
template <class Call> Error ReadAll(void* buffer, std::size_t size, std::size_t& read, Call call) {
  auto* out = static_cast<char*>(buffer);
  while (read < size) {
    ssize_t n = call(out + read, size - read, read);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) break;
    read += static_cast<std::size_t>(n);
  }
  return Error::None;
}

// Repeats a write call until all `size` bytes are written or it fails.
template <class Call> Error WriteAll(const void* data, std::size_t size, Call call) {
  const auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = call(in + done, size - done, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) return Error::Other;
    done += static_cast<std::size_t>(n);
  }
  return Error::None;
}

} // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), openedSize_(std::exchange(other.openedSize_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    openedSize_ = std::exchange(other.openedSize_, -1);
  }
  return *this;
}

Error File::Open(const char* path, Access access, Disposition disposition) {
  if (path == nullptr || IsOpen()) return Error::InvalidArgument;
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::Read: flags |= O_RDONLY; break;
    case Access::Write: flags |= O_WRONLY; break;
    case Access::ReadWrite: flags |= O_RDWR; break;
  }
  switch (disposition) {
    case Disposition::OpenExisting: break;
    case Disposition::OpenAlways: flags |= O_CREAT; break;
    case Disposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case Disposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case Disposition::TruncateExisting:
      // Emptying a file one may not write would be surprising; the Win32
      // open refuses it too.
      if (access == Access::Read) return Error::InvalidArgument;
      flags |= O_TRUNC;
      break;
  }
  bool absent = false;
  std::string native = ResolvePath(path, absent);
  if (absent && !(flags & O_CREAT)) return Error::NotFound;
  std::optional<listing::Change> change;
  if (flags & O_CREAT) change.emplace(native);
  int fd;
  do {
    fd = ::open(native.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ErrorFromErrno(errno, native.c_str());
  if (change) change->Added();
  // A folder opens for reading here; it is not a file. Opened for writing it
  // fails above.
  openedSize_ = -1;
  if (access == Access::Read) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return Error::IsFolder;
    }
    openedSize_ = static_cast<int64_t>(st.st_size);
  }
  fd_ = fd;
  return Error::None;
}

Error File::Close() {
  if (!IsOpen()) return Error::None;
  int fd = std::exchange(fd_, -1);
  openedSize_ = -1;
  // The descriptor is gone even when close reports a failure; never retry.
  if (::close(fd) != 0 && errno != EINTR) return ErrorFromErrno(errno);
  return Error::None;
}

Error File::Read(void* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  if (!IsOpen() || (buffer == nullptr && size != 0)) return Error::InvalidArgument;
  return ReadAll(buffer, size, read, [this](char* to, std::size_t n, std::size_t) { return ::read(fd_, to, n); });
}

Error File::Write(const void* data, std::size_t size) {
  if (!IsOpen() || (data == nullptr && size != 0)) return Error::InvalidArgument;
  return WriteAll(data, size, [this](const char* from, std::size_t n, std::size_t) { return ::write(fd_, from, n); });
}

Error File::Seek(int64_t offset, Origin origin, int64_t* position) {
  if (!IsOpen()) return Error::InvalidArgument;
  int whence = SEEK_SET;
  switch (origin) {
    case Origin::Begin: whence = SEEK_SET; break;
    case Origin::Current: whence = SEEK_CUR; break;
    case Origin::End: whence = SEEK_END; break;
  }
  off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) return ErrorFromErrno(errno);
  if (position != nullptr) *position = at;
  return Error::None;
}

int64_t File::Tell() const {
  if (!IsOpen()) return -1;
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  return at < 0 ? -1 : static_cast<int64_t>(at);
}

int64_t File::Size() const {
  if (!IsOpen()) return -1;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

Error File::SetEndOfFile() {
  int64_t at = Tell();
  if (at < 0) return Error::InvalidArgument;
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(at));
  } while (rc != 0 && errno == EINTR);
  // A descriptor opened without writing says EINVAL; it is a matter of access.
  if (rc != 0) return errno == EINVAL || errno == EBADF ? Error::AccessDenied : ErrorFromErrno(errno);
  return Error::None;
}

Error File::ReadAt(int64_t offset, void* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  if (!IsOpen() || offset < 0 || (buffer == nullptr && size != 0)) return Error::InvalidArgument;
  return ReadAll(buffer, size, read, [this, offset](char* to, std::size_t n, std::size_t done) {
    return ::pread(fd_, to, n, static_cast<off_t>(offset + static_cast<int64_t>(done)));
  });
}

Error File::WriteAt(int64_t offset, const void* data, std::size_t size) {
  if (!IsOpen() || offset < 0 || (data == nullptr && size != 0)) return Error::InvalidArgument;
  return WriteAll(data, size, [this, offset](const char* from, std::size_t n, std::size_t done) {
    return ::pwrite(fd_, from, n, static_cast<off_t>(offset + static_cast<int64_t>(done)));
  });
}

Error File::Sync() {
  if (!IsOpen()) return Error::InvalidArgument;
  int rc;
  do {
    rc = ::fsync(fd_);
  } while (rc != 0 && errno == EINTR);
  return rc != 0 ? ErrorFromErrno(errno) : Error::None;
}

namespace {

thread_local int tBatchDepth = 0;

// One open descriptor per file system with deferred syncs: syncfs needs one.
struct Deferred {
  std::mutex mutex;
  std::vector<std::pair<dev_t, int>> pending;
};

Deferred& DeferredSyncs() {
  static Deferred deferred;
  return deferred;
}

} // namespace

Error File::SyncOrDefer() {
  if (tBatchDepth == 0) return Sync();
  if (!IsOpen()) return Error::InvalidArgument;
  struct stat status;
  if (::fstat(fd_, &status) != 0) return Sync();
  Deferred& deferred = DeferredSyncs();
  std::lock_guard<std::mutex> hold(deferred.mutex);
  for (const auto& [device, fd] : deferred.pending)
    if (device == status.st_dev) return Error::None;
  const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Sync();
  deferred.pending.emplace_back(status.st_dev, fd);
  return Error::None;
}

SyncBatch::SyncBatch() { ++tBatchDepth; }

SyncBatch::~SyncBatch() {
  if (--tBatchDepth == 0) FlushDeferredSyncs();
}

Error FlushDeferredSyncs() {
  Deferred& deferred = DeferredSyncs();
  std::lock_guard<std::mutex> hold(deferred.mutex);
  Error result = Error::None;
  std::vector<std::pair<dev_t, int>> failed;
  for (const auto& [device, fd] : deferred.pending) {
    if (::syncfs(fd) != 0) {
      result = ErrorFromErrno(errno);
      failed.emplace_back(device, fd);
      continue;
    }
    ::close(fd);
  }
  deferred.pending = std::move(failed);
  return result;
}

bool HasDeferredSyncs() {
  Deferred& deferred = DeferredSyncs();
  std::lock_guard<std::mutex> hold(deferred.mutex);
  return !deferred.pending.empty();
}

} // namespace platform
