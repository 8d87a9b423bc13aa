#pragma once
// The scoped lock through which every reader and writer of the asset index
// works. Taking it takes the process-local SharedLock and then cross-process
// ownership of the database; when another process has written the index since
// this process last read it, the index is reloaded (or, for a lock that must
// not wait, the refresh thread is started to do it). Releasing the outermost
// exclusive hold hands the change flags gathered meanwhile to the change
// callback.
#include <cstdint>

class SharedLock;

// What the lock needs of the database's load cycle, which installs the real
// one when the database starts.
class VADLoadCycle {
public:
  virtual ~VADLoadCycle() = default;
  virtual bool IsDatabaseOpen() = 0;
  // Clears and reloads the index; the calling thread holds the lock
  // exclusively.
  virtual void Reload() = 0;
  // Starts the refresh thread unless it is running: it takes and releases an
  // exclusive lock, which reloads the index.
  virtual void StartRefreshThread() = 0;
};

class VADLock {
public:
  enum Flags : uint32_t {
    kTry = 1,        // do not wait for the process-local lock
    kTimed = 2,      // wait at most kTimedWaitMs for it
    kNoRequest = 4,  // do not queue for ownership held by another process
  };
  static constexpr long kTimedWaitMs = 3000;
  static constexpr unsigned long kReleaseDelayMs = 10;

  using ChangeCallback = void (*)(int flags);

  VADLock() = default;
  ~VADLock() { Release(); }
  VADLock(const VADLock&) = delete;
  VADLock& operator=(const VADLock&) = delete;

  // Test IsHeld (bit 0 of the state) for success.
  VADLock& Acquire(bool exclusive, uint32_t flags = 0);
  void Release();

  bool IsHeld() const { return (state_ & kHeld) != 0; }
  bool IsExclusive() const { return (state_ & kExclusive) != 0; }
  uint8_t State() const { return state_; }

  // Null (the default) leaves the database closed for the lock.
  static void SetLoadCycle(VADLoadCycle* cycle);
  // The index's process-local reader/writer lock.
  static SharedLock& IndexLock();

  // Marking the index changed: the bits go to the next outermost release of
  // an exclusive hold.
  static void AddChangeFlags(uint32_t bits);
  // Bits delivered with the next change callback; they alone do not call it.
  static void AddExtraChangeFlags(uint32_t bits);
  static uint32_t PendingChangeFlags();
  static uint32_t ExtraChangeFlags();
  static void SetChangeCallback(ChangeCallback callback);
  static ChangeCallback GetChangeCallback();
  // Set by every delivery of change flags.
  static bool ChangeNotified();
  static void SetChangeNotified(bool notified);
  // How many lock waits the main thread is in.
  static int32_t MainThreadWaits();

private:
  enum : uint8_t { kHeld = 1, kExclusive = 2 };
  // Lets go of the process-local hold taken by Acquire.
  void Drop();

  uint8_t state_ = 0;
};
