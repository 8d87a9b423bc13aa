#pragma once
// A thread running a function with a context, created running or suspended; a
// waitable object signalled once the function has returned.
#include "platform/os/Waitable.h"

#include <cstdint>
#include <thread>

namespace platform {

class Thread : public Waitable {
public:
  using Function = unsigned (*)(void* context);

  // With `start` false the function does not run until Resume.
  Thread(Function function, void* context, bool start);
  // Waits for a resumed thread to end. A thread never resumed ends without
  // running its function. Not to be destroyed from its own function.
  ~Thread() override;

  // False when thread creation failed; the object is then never signalled.
  bool Valid() const { return valid_; }
  // Lets a suspended thread run; true also when it already runs. False when
  // creation failed.
  bool Resume();
  // Whether the function has returned.
  bool IsDone() const;
  // The function's result once it has returned, else 0.
  unsigned ExitCode() const;
  // The thread's id as CurrentThreadId gives it inside, suspended or not; 0
  // when creation failed.
  uint32_t Id() const;

  // Recorded only: the scheduler here has no per-thread priority for ordinary users.
  void SetPriority(int priority) { priority_ = priority; }
  int Priority() const { return priority_; }

protected:
  bool SignalledFor(std::thread::id) const override;
  void Acquire(std::thread::id) override {}

private:
  void Run();

  Function function_;
  void* context_;
  std::thread thread_;
  bool valid_ = false;
  // The following change under the shared lock.
  bool resumed_ = false;
  bool cancelled_ = false;
  bool done_ = false;
  unsigned exitCode_ = 0;
  uint32_t id_ = 0;
  int priority_ = 0;
};

// The calling thread's id in the system (a 32-bit number, unique among the
// process's running threads).
uint32_t CurrentThreadId();
// The running process's id.
uint32_t CurrentProcessId();
// Whether a process with that id exists.
bool IsProcessAlive(uint32_t processId);
// Sleeps for `milliseconds`.
void SleepMilliseconds(uint32_t milliseconds);
// Gives the rest of the time slice to another ready thread.
void YieldThread();

} // namespace platform
