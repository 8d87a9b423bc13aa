#pragma once
// A thread running a function with a context under the kernel's last-resort
// handlers: an engine exception that escapes it opens the fatal-error window,
// any other exception is dropped (the thread's result is then 0), and a
// processor fault produces the crash report.
#include "Vak/Bexlorn/Sync.h"

#include <atomic>

namespace platform {
class Thread;
}

namespace Vak {

class Thread : public SyncObject {
public:
  using Function = unsigned (*)(void* context);

  // The system's thread priorities.
  enum Priority {
    PriorityIdle = -15,
    PriorityLowest = -2,
    PriorityBelowNormal = -1,
    PriorityNormal = 0,
    PriorityAboveNormal = 1,
    PriorityHighest = 2,
    PriorityTimeCritical = 15,
  };

  // With `start` false the function does not run until Resume. Creation
  // failure leaves a null handle: waits then answer false.
  Thread(Function function, void* context, bool start);
  // Signals the end event, resumes the thread when it is suspended and waits
  // for the function to return. Not to be called from the thread itself.
  ~Thread() override;

  // The end event (set by the destructor and Signal), which the function may
  // wait on to learn that it is asked to stop. Lock waits for the thread's end.
  operator void*() override;

  // False when resuming fails (no thread).
  bool Resume();
  // Recorded; false when there is no thread.
  bool SetPriority(Priority priority);
  // Whether the thread has ended (its function returned or never ran).
  bool IsDone() const;
  // The function's result once the thread has ended, else 0.
  unsigned long GetExitCode() const;
  // A thread whose function has not started ends without running it (true).
  // A running one cannot be stopped safely from outside: it is asked to stop
  // through its end event, and the answer is whether it has ended.
  bool Terminate();

  static unsigned long GetCurrentId();
  static unsigned long GetProcessId();
  static bool IsProcessAlive(unsigned long processId);

private:
  enum State { kNotStarted, kStarted, kTerminated };
  static unsigned Start(void* self);
  platform::Thread* PlatformThread() const;

  WEvent endEvent_{false, false, nullptr};
  bool created_ = false;
  Function function_;
  void* context_;
  std::atomic<int> state_{kNotStarted};
};

} // namespace Vak
