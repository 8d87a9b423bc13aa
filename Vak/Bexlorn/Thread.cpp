#include "Vak/Bexlorn/Thread.h"

#include "Vak/Bexlorn/CrashReport.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FatalError.h"
#include "Vak/Bexlorn/Time.h"
#include "platform/os/Thread.h"

namespace Vak {

Thread::Thread(Function function, void* context, bool start) : function_(function), context_(context) {
  // Before the thread exists, so that it gets a stack for reporting faults.
  InstallCrashReport();
  auto thread = std::make_unique<platform::Thread>(&Thread::Start, this, start);
  if (!thread->Valid()) return;
  created_ = true;
  handle_ = std::move(thread);
}

Thread::~Thread() {
  if (created_) {
    endEvent_.Set();
    PlatformThread()->Resume();
  }
  // Joins before the end event and the fields the thread reads go.
  handle_.reset();
}

platform::Thread* Thread::PlatformThread() const { return static_cast<platform::Thread*>(handle_.get()); }

Thread::operator void*() { return endEvent_.operator void*(); }

unsigned Thread::Start(void* context) {
  auto* self = static_cast<Thread*>(context);
  int expected = kNotStarted;
  if (!self->state_.compare_exchange_strong(expected, kStarted)) return 0;
  // Once the user chose to end after a fatal error, no further work starts.
  if (FatalErrorAccepted()) return 0;
  try {
    return self->function_(self->context_);
  } catch (const Exception& e) {
    ShowFatalError(e);
  } catch (...) {
  }
  return 0;
}

bool Thread::Resume() { return created_ && PlatformThread()->Resume(); }

bool Thread::SetPriority(Priority priority) {
  if (!created_) return false;
  PlatformThread()->SetPriority(priority);
  return true;
}

bool Thread::IsDone() const { return created_ && PlatformThread()->IsDone(); }

unsigned long Thread::GetExitCode() const { return created_ ? PlatformThread()->ExitCode() : 0; }

bool Thread::Terminate() {
  if (!created_) return false;
  int expected = kNotStarted;
  if (state_.compare_exchange_strong(expected, kTerminated)) {
    PlatformThread()->Resume();
    return true;
  }
  endEvent_.Set();
  return PlatformThread()->IsDone();
}

unsigned long Thread::GetCurrentId() { return platform::CurrentThreadId(); }
unsigned long Thread::GetProcessId() { return platform::CurrentProcessId(); }

bool Thread::IsProcessAlive(unsigned long processId) {
  return processId <= 0xFFFFFFFFul && platform::IsProcessAlive(static_cast<uint32_t>(processId));
}

void Time::Delay(unsigned long milliseconds) {
  platform::SleepMilliseconds(milliseconds >= 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<uint32_t>(milliseconds));
}

} // namespace Vak
