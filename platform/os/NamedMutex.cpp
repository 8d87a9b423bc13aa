#include "platform/os/NamedMutex.h"

#include "platform/os/ListingCache.h"
#include "platform/os/MachineObjectFile.h"
#include "platform/os/NativePath.h"
#include "platform/os/Waitable.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {

struct NamedMutexState {
  int fd = -1;       // changed only by the thread that owns the mutex
  std::string path;
  pid_t process = 0;  // a forked child must not share its parent's lock
  std::mutex lock;
  std::condition_variable freed;
  std::thread::id owner;
  unsigned long depth = 0;

  ~NamedMutexState() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

using FileKey = std::pair<dev_t, ino_t>;

// One state per lock file in this process, so that objects opened on the same
// file share ownership (a whole-file lock taken twice by one process through
// two descriptors would block itself).
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::map<FileKey, std::weak_ptr<NamedMutexState>>& Registry() {
  static std::map<FileKey, std::weak_ptr<NamedMutexState>> registry;
  return registry;
}

bool KeyOf(int fd, FileKey& key, nlink_t* links = nullptr) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  key = {st.st_dev, st.st_ino};
  if (links) *links = st.st_nlink;
  return true;
}

// Whether the locked file is still the one its path names: a holder that
// removed it let go of a file nobody else will open again.
bool StillNamed(const NamedMutexState& s, FileKey& key) {
  nlink_t links = 0;
  if (!KeyOf(s.fd, key, &links) || links == 0) return false;
  struct stat st {};
  return ::stat(s.path.c_str(), &st) == 0 && FileKey{st.st_dev, st.st_ino} == key;
}

// The owner of `s` holds its old, removed file: it takes the file now at the
// path instead, unlocked, and the registry follows.
bool Reopen(NamedMutexState& s, const FileKey& old) {
  int fd = -1;
  FileKey key;
  if (OpenMachineObjectFile(s.path, true, fd) != Error::None) return false;
  if (!KeyOf(fd, key)) {
    ::close(fd);
    return false;
  }
  ::flock(s.fd, LOCK_UN);
  ::close(s.fd);
  s.fd = fd;
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Registry().find(old);
  std::shared_ptr<NamedMutexState> self = it == Registry().end() ? nullptr : it->second.lock();
  if (self.get() == &s) {
    Registry().erase(it);
    Registry()[key] = std::move(self);
  }
  return true;
}

} // namespace

NamedMutex::NamedMutex() = default;
NamedMutex::~NamedMutex() { Close(); }

Error NamedMutex::Open(const char* folder, const char* name) {
  if (state_ != nullptr || folder == nullptr || name == nullptr || *name == '\0')
    return Error::InvalidArgument;
  std::string fileName(name);
  for (char& c : fileName)
    if (c == '/' || c == '\\') c = '_';
  std::string path = ResolvePath(folder);
  if (path.empty()) return Error::PathNotFound;
  if (path.back() != '/') path += '/';
  path += fileName;

  int fd = -1;
  if (Error e = OpenMachineObjectFile(path, true, fd); e != Error::None) return e;
  FileKey key;
  if (!KeyOf(fd, key)) {
    Error e = ErrorFromErrno(errno);
    ::close(fd);
    return e;
  }
  std::lock_guard<std::mutex> guard(RegistryLock());
  std::shared_ptr<NamedMutexState> state = Registry()[key].lock();
  if (state != nullptr && state->process == ::getpid()) {
    ::close(fd);
  } else {
    state = std::make_shared<NamedMutexState>();
    state->fd = fd;
    state->path = path;
    state->process = ::getpid();
    Registry()[key] = state;
  }
  state_ = std::move(state);
  path_ = std::move(path);
  return Error::None;
}

void NamedMutex::Close() {
  if (state_ == nullptr) return;
  std::lock_guard<std::mutex> guard(RegistryLock());
  state_.reset();
  path_.clear();
  for (auto it = Registry().begin(); it != Registry().end();)
    it = it->second.expired() ? Registry().erase(it) : std::next(it);
}

bool NamedMutex::Lock(uint32_t timeoutMs) {
  if (state_ == nullptr) return false;
  NamedMutexState& s = *state_;
  const auto self = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(s.lock);
  if (s.depth > 0 && s.owner == self) {
    ++s.depth;
    return true;
  }
  // First win among this process's threads, then against other processes.
  while (s.owner != std::thread::id()) {
    if (timeoutMs == kInfinite) {
      s.freed.wait(lock);
    } else if (s.freed.wait_until(lock, deadline) == std::cv_status::timeout &&
               s.owner != std::thread::id()) {
      return false;
    }
  }
  s.owner = self;
  lock.unlock();

  bool taken = false;
  for (;;) {
    if (timeoutMs == kInfinite) {
      while (!(taken = ::flock(s.fd, LOCK_EX) == 0) && errno == EINTR) {
      }
    } else {
      // No timed whole-file lock exists; poll briefly.
      for (;;) {
        if (::flock(s.fd, LOCK_EX | LOCK_NB) == 0) {
          taken = true;
          break;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline)
          break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    FileKey key;
    if (!taken || StillNamed(s, key)) break;
    // Removed while this process waited for it: another may hold the name.
    taken = false;
    if (!Reopen(s, key)) {
      ::flock(s.fd, LOCK_UN);
      break;
    }
  }

  lock.lock();
  if (!taken) {
    s.owner = std::thread::id();
    s.freed.notify_one();
    return false;
  }
  s.depth = 1;
  return true;
}

bool NamedMutex::Unlock() {
  if (state_ == nullptr) return false;
  NamedMutexState& s = *state_;
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.depth == 0 || s.owner != std::this_thread::get_id()) return false;
  if (--s.depth == 0) {
    ::flock(s.fd, LOCK_UN);
    s.owner = std::thread::id();
    s.freed.notify_one();
  }
  return true;
}

bool NamedMutex::Remove() {
  if (state_ == nullptr) return false;
  NamedMutexState& s = *state_;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.depth == 0 || s.owner != std::this_thread::get_id()) return false;
  }
  listing::Change change(s.path);
  if (::unlink(s.path.c_str()) != 0) return false;
  change.Removed();
  return true;
}

} // namespace platform
