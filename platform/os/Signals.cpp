#include "platform/os/Signals.h"

#include <atomic>
#include <csignal>
#include <sys/mman.h>

namespace platform {

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Room for the callback's own frames (and the sanitizers') besides the
// system's minimum, which may be known only at run time.
std::size_t StackSize() {
  static const std::size_t size = 256 * 1024 + static_cast<std::size_t>(MINSIGSTKSZ);
  return size;
}

std::atomic<CrashCallback> gCallback{nullptr};
std::atomic<bool> gInstalled{false};
std::atomic<bool> gReported{false};

void Handler(int signal, siginfo_t* info, void* context) {
  CrashCallback callback = gCallback.load();
  if (callback != nullptr && !gReported.exchange(true))
    callback(signal, signal == SIGABRT || info == nullptr ? nullptr : info->si_addr, context);
  // Die by the same signal: a fault repeats on return, a raised one is
  // delivered once the handler has ended.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

} // namespace

AlternateSignalStack::AlternateSignalStack() {
  void* memory = ::mmap(nullptr, StackSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = StackSize();
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, StackSize());
    return;
  }
  memory_ = memory;
}

AlternateSignalStack::~AlternateSignalStack() {
  if (memory_ == nullptr) return;
  stack_t stack{};
  stack.ss_flags = SS_DISABLE;
  ::sigaltstack(&stack, nullptr);
  ::munmap(memory_, StackSize());
}

bool InstallCrashHandler(CrashCallback callback) {
  gCallback.store(callback);
  // The main thread's stack lives as long as the process.
  static AlternateSignalStack* mainStack = new AlternateSignalStack();
  (void)mainStack;
  struct sigaction action {};
  action.sa_sigaction = Handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kCrashSignals)
    if (::sigaction(signal, &action, nullptr) != 0) return false;
  gInstalled.store(true);
  return true;
}

bool CrashHandlerInstalled() { return gInstalled.load(); }

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "unknown signal";
  }
}

} // namespace platform
