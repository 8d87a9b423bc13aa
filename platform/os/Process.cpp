#include "platform/os/Process.h"

#include "platform/os/NativePath.h"
#include "platform/os/Waitable.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

Process::~Process() {
  if (started_ && !ended_) Reap(false);
}

Error Process::Start(const std::vector<std::string>& arguments) {
  if (started_ || arguments.empty() || arguments[0].empty()) return Error::InvalidArgument;
  std::string program = ResolvePath(arguments[0].c_str());
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) return ErrorFromErrno(rc, program.c_str());
  pid_ = pid;
  started_ = true;
  ended_ = false;
  exitCode_ = -1;
  return Error::None;
}

bool Process::Reap(bool block) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  ended_ = true;
  if (r < 0)
    exitCode_ = -1;  // reaped elsewhere: the status is lost
  else if (WIFEXITED(status))
    exitCode_ = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    exitCode_ = 128 + WTERMSIG(status);
  return true;
}

bool Process::Wait(uint32_t timeoutMs) {
  if (!started_) return false;
  if (ended_) return true;
  if (timeoutMs == kInfinite) return Reap(true);
  if (Reap(false)) return true;
  if (timeoutMs == 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
#ifdef SYS_pidfd_open
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (fd >= 0) {
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
      if (r < 0 && errno == EINTR) continue;
      break;
    }
    ::close(fd);
    return Reap(false);
  }
#endif
  // No process descriptor: poll the status.
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Reap(false)) return true;
  }
  return false;
}

bool Process::Kill() {
  if (!started_ || ended_ || Reap(false)) return false;
  return ::kill(pid_, SIGKILL) == 0;
}

} // namespace platform
