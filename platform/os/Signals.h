#pragma once
// The last-resort hook for processor faults: a handler for SIGSEGV, SIGBUS,
// SIGFPE, SIGILL and SIGABRT, run on an alternate stack (so a stack overflow is
// reported too), that calls one registered callback and then lets the signal
// end the process as it would have.
namespace platform {

// Runs inside the signal handler: only async-signal-safe work (see
// SignalSafeWriter). `faultAddress` is the address the fault concerns (null
// for SIGABRT); `context` is the ucontext_t of the interrupted code.
using CrashCallback = void (*)(int signal, void* faultAddress, void* context);

// Installs the handler process-wide; the first call also gives the calling
// thread (normally the main one) an alternate stack for the rest of the
// process. The callback is called for the first fault only; a later call
// replaces it. False when the system refused.
bool InstallCrashHandler(CrashCallback callback);
bool CrashHandlerInstalled();

// Gives the calling thread an alternate signal stack for its lifetime (the
// system's stack is per thread); threads of platform::Thread get one
// themselves once the handler is installed.
class AlternateSignalStack {
public:
  AlternateSignalStack();
  ~AlternateSignalStack();
  AlternateSignalStack(const AlternateSignalStack&) = delete;
  AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;
  bool Active() const { return memory_ != nullptr; }

private:
  void* memory_ = nullptr;
};

// Name of the signal ("SIGSEGV"), "unknown signal" for others.
const char* SignalName(int signal);

} // namespace platform
