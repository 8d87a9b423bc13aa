#include "platform/os/SharedMemory.h"
#include "platform/os/ListingCache.h"

#include "platform/os/FileSystem.h"
#include "platform/os/MachineObjectFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char kMachineFolder[] = "/dev/shm";

// FNV-1a, 64 bits: enough to keep shortened names of different databases apart.
uint64_t NameHash(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool FlockRetrying(int fd, int operation) {
  int rc;
  while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

} // namespace

std::string MachineObjectFolder() {
  FileInfo info;
  if (Stat(kMachineFolder, info) == Error::None && info.isFolder) return kMachineFolder;
  return TemporaryFolder();
}

std::string MachineObjectFileName(const char* name) {
  std::string fileName(name == nullptr ? "" : name);
  for (char& c : fileName)
    if (c == '/' || c == '\\') c = '_';
  if (fileName.size() <= NAME_MAX) return fileName;
  char suffix[20];
  std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(NameHash(fileName)));
  fileName.resize(NAME_MAX - (sizeof suffix - 3));
  return fileName + suffix;
}

Error SharedMemory::Attach(const char* folder, const char* name, size_t size, bool& first) {
  first = false;
  if (data_ != nullptr || folder == nullptr || name == nullptr || *name == '\0' || size == 0)
    return Error::InvalidArgument;
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path += MachineObjectFileName(name);

  int fd = -1;
  if (Error e = OpenMachineObjectFile(path, false, fd); e != Error::None) return e;
  auto fail = [&](int err) {
    ::close(fd);
    return ErrorFromErrno(err);
  };
  // Nobody else attached: whatever the file holds was left by the dead.
  first = FlockRetrying(fd, LOCK_EX | LOCK_NB);
  if (first && ::ftruncate(fd, 0) != 0) return fail(errno);
  if (!FlockRetrying(fd, LOCK_SH)) return fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno);
  if (static_cast<size_t>(st.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0) return fail(errno);
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) return fail(errno);
  fd_ = fd;
  data_ = static_cast<uint8_t*>(mapped);
  size_ = size;
  path_ = std::move(path);
  return Error::None;
}

bool SharedMemory::Detach() {
  if (data_ == nullptr) return false;
  ::munmap(data_, size_);
  // Turning the shared lock exclusive succeeds only for the last attacher.
  bool removed = false;
  if (FlockRetrying(fd_, LOCK_EX | LOCK_NB)) {
    listing::Change change(path_);
    removed = ::unlink(path_.c_str()) == 0;
    if (removed) change.Removed();
  }
  ::close(fd_);
  fd_ = -1;
  data_ = nullptr;
  size_ = 0;
  path_.clear();
  return removed;
}

} // namespace platform
