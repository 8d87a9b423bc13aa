#pragma once
// The process-local reader/writer lock, and two smaller locks beside it.
//
// SharedLock is recursive per thread, lets a waiting writer hold back new
// readers, and waits by polling with back-off. A main thread that waits keeps
// the process going: on every round it runs main-thread jobs of the job
// scheduler, and every 15000 ms it shows (then refreshes) the blocking screen,
// has the resource system drop unused resources and collects unused interned
// strings. Time comes from Vak::Time, so tests drive it.
#include <atomic>
#include <cstdint>

#include "Vak/Bexlorn/Sync.h"
#include "content/ChunkedList.h"

class SharedLock {
public:
  // Lets the resource system drop unused resources from its cache; null (the
  // default) skips that step.
  using DropUnusedResourcesHook = void (*)();

  static constexpr unsigned long kMainThreadMarkMs = 15000;
  static constexpr int kBackOffStart = -100;
  static constexpr int kBackOffMaxMs = 20;

  SharedLock();
  ~SharedLock();
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

  // Takes the lock when that is possible now. A thread that holds it only
  // shared cannot take it exclusively.
  bool TryAcquire(bool exclusive);
  // Waits up to `timeoutMs` (negative: without limit; 0: only tries), counted
  // from the start of the wait whatever the main thread's marks do. An
  // exclusive request from a thread that holds the lock only shared fails at
  // once: it could only be granted after that thread's own release.
  bool Acquire(bool exclusive, long timeoutMs);
  // Drops one of the calling thread's holds; true when it was the last hold of
  // all. False, with nothing changed, when the calling thread holds none.
  bool Release();

  // Set on every release, reset on every take, for callers that block on it.
  Vak::WEvent& ReleasedEvent() { return event_; }

  uint32_t HoldCount();
  bool IsExclusive();
  uint32_t WaitingWriters();
  // Holds of the calling thread.
  uint32_t ThreadHolds();

  static void SetDropUnusedResourcesHook(DropUnusedResourcesHook hook);
  // Has the resource system drop unused resources (through the hook) and
  // takes one collection step over the interned strings: cheap when there
  // is little to free.
  static void DropUnusedCaches();

  // Milliseconds one back-off round sleeps: 0 for the first 100 rounds (a
  // yield), then 1, 2, ... 20, then 20.
  static unsigned long BackOffMs(int round) {
    return round <= 0 ? 0 : static_cast<unsigned long>(round < kBackOffMaxMs ? round : kBackOffMaxMs);
  }

private:
  enum class Take { kTaken, kRefused, kUpgrade };
  Take TryTake(bool exclusive);
  // What a main thread does at each 15000 ms mark of a wait.
  static void MarkActions(bool firstMark);

  uint32_t holdCount_ = 0;
  bool exclusive_ = false;
  uint32_t waitingWriters_ = 0;
  Vak::CriticalSection section_{"SharedLock"};
  Vak::WEvent event_{true, true};
  ChunkedList<uint32_t, 4> holders_;  // one thread id per hold

  static std::atomic<DropUnusedResourcesHook> dropUnusedResources_;
};

// A critical section that knows how deeply it is held.
class CountedLock {
public:
  CountedLock() = default;
  CountedLock(const CountedLock&) = delete;
  CountedLock& operator=(const CountedLock&) = delete;

  void Lock();
  // False, with nothing changed, when the calling thread does not hold it.
  bool Unlock();
  // The holding thread's depth (0 when free).
  int32_t Depth() const { return depth_.load(); }

private:
  Vak::CriticalSection section_{"CountedLock"};
  std::atomic<int32_t> depth_{0};
  std::atomic<uint32_t> owner_{0};  // thread id while held
};

// Lets one thread through at a time; not recursive.
class BusyGate {
public:
  BusyGate() = default;
  BusyGate(const BusyGate&) = delete;
  BusyGate& operator=(const BusyGate&) = delete;

  // True when the gate was free (it is now busy).
  bool TryEnter();
  void Enter();
  void Leave();

  bool IsBusy();
  bool IsEntered();
  int32_t WaitingCount();

private:
  int32_t busy_ = 0;
  bool entered_ = false;
  int32_t waiting_ = 0;
  Vak::CriticalSection section_{"BusyGate"};
  Vak::WEvent event_{true, true};
};
