#include "platform/os/Thread.h"

#include "platform/os/Signals.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <signal.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {
// Wakes suspended threads on Resume or destruction.
std::condition_variable& StartSignal() {
  static std::condition_variable signal;
  return signal;
}
} // namespace

Thread::Thread(Function function, void* context, bool start)
    : function_(function), context_(context), resumed_(start) {
  try {
    thread_ = std::thread([this] { Run(); });
    valid_ = true;
    // Known from creation on, as the caller may log it before resuming.
    std::unique_lock<std::mutex> lock(SharedLock());
    StartSignal().wait(lock, [this] { return id_ != 0; });
  } catch (const std::system_error&) {
    valid_ = false;
  }
}

Thread::~Thread() {
  if (!valid_) return;
  {
    std::lock_guard<std::mutex> guard(SharedLock());
    if (!resumed_) cancelled_ = true;
  }
  StartSignal().notify_all();
  thread_.join();
}

void Thread::Run() {
  std::unique_lock<std::mutex> lock(SharedLock());
  id_ = CurrentThreadId();
  StartSignal().notify_all();
  StartSignal().wait(lock, [this] { return resumed_ || cancelled_; });
  if (!cancelled_) {
    lock.unlock();
    std::optional<AlternateSignalStack> faultStack;
    if (CrashHandlerInstalled()) faultStack.emplace();
    unsigned result = function_(context_);
    faultStack.reset();
    lock.lock();
    exitCode_ = result;
  }
  done_ = true;
  WakeWaiters();
}

bool Thread::Resume() {
  if (!valid_) return false;
  {
    std::lock_guard<std::mutex> guard(SharedLock());
    resumed_ = true;
  }
  StartSignal().notify_all();
  return true;
}

bool Thread::IsDone() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return done_;
}

unsigned Thread::ExitCode() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return exitCode_;
}

uint32_t Thread::Id() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return id_;
}

bool Thread::SignalledFor(std::thread::id) const { return done_; }

uint32_t CurrentThreadId() {
  thread_local uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

bool IsProcessAlive(uint32_t processId) {
  if (processId == 0 || processId > 0x7FFFFFFFu) return false;
  return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

void SleepMilliseconds(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void YieldThread() { std::this_thread::yield(); }

} // namespace platform
