#pragma once
// Runs callbacks on the main thread or on up to 4 worker threads, and lets the
// posting thread wait until its job has run.
//
// The main thread runs its jobs when it posts one itself and while it waits
// for a SharedLock; the first main-thread job of the process also posts
// kWakeMainThreadMessage to the main thread's message queue, which nothing
// here reads. Idle workers end after kWorkerIdleMs without work, measured on
// Vak::Time so tests drive it.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "content/ChunkedList.h"

class BusyGate;

// A job: runs once with the argument word posted with it, then is deleted.
class CXCallbackBase {
public:
  virtual intptr_t Run(uintptr_t argument) = 0;
  virtual ~CXCallbackBase() = default;
};

// A callback over any callable taking the argument word.
template <typename F>
class CXCallback : public CXCallbackBase {
public:
  explicit CXCallback(F function) : function_(std::move(function)) {}
  intptr_t Run(uintptr_t argument) override {
    if constexpr (std::is_void_v<decltype(function_(argument))>) {
      function_(argument);
      return 1;
    } else {
      return static_cast<intptr_t>(function_(argument));
    }
  }

private:
  F function_;
};

template <typename F>
CXCallbackBase* MakeCallback(F function) {
  return new CXCallback<F>(std::move(function));
}

// The main thread's message queue: messages posted from any thread, taken by
// the main thread, with a wake-up for a thread that waits for one.
class MainThreadQueue {
public:
  struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
  };

  static MainThreadQueue& Instance();

  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // Takes the oldest message; waits up to `timeoutMs` (negative: without
  // limit) for one. False when none came. For the main thread.
  bool Get(Message* message, long timeoutMs);
  size_t Count();
  // Set while messages are queued: a thread can wait on it with other objects.
  Vak::WEvent& WakeUp() { return posted_; }

private:
  MainThreadQueue() = default;

  std::mutex mutex_;
  std::deque<Message> messages_;
  Vak::WEvent posted_{true, false};  // set while messages are queued
};

class JobScheduler {
public:
  // Job flags: each of 16, 1 and 4 keeps the job from one kind of caller.
  static constexpr uint32_t kNotOnMainThread = 16;
  static constexpr uint32_t kMainThreadOnly = 1;  // not on any other thread
  static constexpr uint32_t kNotInLockWait = 4;   // the SharedLock wait's mask
  static constexpr uint32_t kNoWait = 8;          // the poster does not wait

  static constexpr uint32_t kWakeMainThreadMessage = 3524;
  static constexpr unsigned kMaxWorkers = 4;
  static constexpr unsigned long kWorkerIdleMs = 5000;

  // The process's scheduler, torn down at exit.
  static JobScheduler& Instance();

  JobScheduler();
  // Cancels the jobs still queued (their posters get false) and waits for the
  // workers to end.
  ~JobScheduler();
  JobScheduler(const JobScheduler&) = delete;
  // Where a job was posted. The compiler built-ins, not std::source_location,
  // which clang's libFuzzer build cannot use with this standard library.
  struct Origin {
    const char* function = "";
    const char* file = "";
    unsigned line = 0;
    static constexpr Origin Here(const char* function = __builtin_FUNCTION(), const char* file = __builtin_FILE(),
                                 unsigned line = __builtin_LINE()) {
      return Origin{function, file, line};
    }
  };
  JobScheduler& operator=(const JobScheduler&) = delete;

  // Takes ownership of `callback`. A waiting post of a job the calling thread
  // may run runs it at once. Otherwise the job is queued; a waiting poster then
  // sleeps until it has run (true) or was cancelled (false). `gate` is left
  // when the job is cancelled. A waiting poster's `result` gets the callback's
  // result: 0 when it threw (the exception is logged with `origin`, the place
  // of the post) or was cancelled.
  bool Post(CXCallbackBase* callback, uint32_t flags, uintptr_t argument = 0, BusyGate* gate = nullptr,
            intptr_t* result = nullptr, Origin origin = Origin::Here());
  // Runs at most one queued job that shares no flag with `mask` plus the
  // calling thread's own bit. When one ran: the number of jobs queued before
  // it minus one, else 0.
  int RunPending(uint32_t mask);
  // Drops finished workers and starts one when fewer than 4 remain; then
  // signals that work is available.
  void EnsureWorkers();

  void SetWorkerPriority(Vak::Thread::Priority priority) { priority_ = priority; }
  // Inspection.
  size_t QueuedCount();
  size_t RunningCount();
  // Workers whose thread has not ended.
  unsigned LiveWorkers();
  // Every worker thread started so far.
  unsigned WorkersStarted() const { return workersStarted_.load(); }
  // Signalled after each job that ran.
  Vak::WEvent& JobFinishedEvent() { return jobFinished_; }

  // The calling thread's exclusion bit.
  static uint32_t ThreadBit();

private:
  struct Status {
    intptr_t result = 0;  // written before done
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
  };
  struct Job {
    CXCallbackBase* callback = nullptr;
    uintptr_t argument = 0;
    BusyGate* gate = nullptr;
    uint32_t flags = 0;
    Status* status = nullptr;
    Origin origin;
    bool operator==(const Job& other) const { return callback == other.callback; }
  };

  // The callback's result; 0 when it threw, which is logged.
  static intptr_t RunJob(const Job& job);
  static void Cancel(const Job& job);
  static unsigned WorkerMain(void* self);
  void WorkerBody();
  // Drops workers that have ended; under the worker lock.
  void ReapWorkers();

  Vak::CriticalSection lock_{"JobScheduler"};
  ChunkedList<Job, 16> jobs_;     // under lock_, in posting order
  ChunkedList<Job, 4> running_;   // under lock_
  Vak::CriticalSection workerLock_{"JobScheduler workers"};
  std::vector<std::unique_ptr<Vak::Thread>> workers_;  // under workerLock_
  Vak::WEvent jobFinished_{true, true};
  Vak::WEvent workAvailable_{false, false};
  Vak::Thread::Priority priority_ = Vak::Thread::PriorityNormal;
  std::atomic<bool> stopping_{false};
  // Posters between queuing a job and their last use of the scheduler; the
  // destructor waits for them.
  std::atomic<unsigned> postsInFlight_{0};
  std::atomic<bool> mainThreadWoken_{false};
  std::atomic<unsigned> workersStarted_{0};
};
