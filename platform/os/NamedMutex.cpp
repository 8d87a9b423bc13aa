#include "platform/os/NamedMutex.h"

#include "platform/os/ListingCache.h"
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
  int fd = -1;
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

  listing::Change change(path);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return ErrorFromErrno(errno, path.c_str());
  change.Added();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    Error e = ErrorFromErrno(errno);
    ::close(fd);
    return e;
  }
  std::lock_guard<std::mutex> guard(RegistryLock());
  FileKey key{st.st_dev, st.st_ino};
  std::shared_ptr<NamedMutexState> state = Registry()[key].lock();
  if (state != nullptr && state->process == ::getpid()) {
    ::close(fd);
  } else {
    state = std::make_shared<NamedMutexState>();
    state->fd = fd;
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

} // namespace platform
