#pragma once
// Objects a thread can wait on, alone or several at once, with the semantics of
// the Win32 waits: a wait on several either takes the first signalled one or,
// when waiting for all, takes them all in one step or none.
//
// All objects share one process-wide lock; each waiter is queued on every
// object it waits for and is satisfied by whichever object changes state.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// WaitMultiple's answer when the time ran out.
constexpr int kWaitTimeout = -1;
// WaitMultiple's answer for a null object or, when waiting for all, one listed twice.
constexpr int kWaitFailed = -2;

struct Waiter;

class Waitable {
public:
  Waitable() = default;
  virtual ~Waitable();
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;

  // True when the object was signalled (and taken, for those that are taken)
  // within `timeoutMs`; kInfinite waits without limit, 0 only tests.
  bool WaitOne(uint32_t timeoutMs);

  // Waits for the first signalled object (its index; the lowest when several
  // are) or, with `waitAll`, for all of them at once (answer 0). kWaitTimeout
  // when the time ran out; an empty set answers it at once.
  static int WaitMultiple(Waitable* const* objects, std::size_t count, bool waitAll,
                          uint32_t timeoutMs);
  static int WaitMultiple(const std::vector<Waitable*>& objects, bool waitAll, uint32_t timeoutMs) {
    return WaitMultiple(objects.data(), objects.size(), waitAll, timeoutMs);
  }

  // Threads blocked on this object now (lets tests know a waiter is waiting).
  std::size_t WaiterCount() const;

protected:
  // The following run under the shared lock.
  // Whether `thread` could take the object now.
  virtual bool SignalledFor(std::thread::id thread) const = 0;
  // Takes it for `thread` (consumes an auto-reset event, a count, mutex ownership).
  virtual void Acquire(std::thread::id thread) = 0;
  // The lock shared by every waitable object.
  static std::mutex& SharedLock();
  // Satisfies queued waiters after the object became signalled; answers how many.
  std::size_t WakeWaiters();

  friend struct WaitSupport;
  std::vector<Waiter*> waiters_;
};

// A counting semaphore between 0 and a maximum.
class Semaphore : public Waitable {
public:
  // An initial count above the maximum, a maximum of 0 or below, or a negative
  // initial count makes an invalid semaphore: it is never signalled and
  // Release refuses.
  Semaphore(long initial, long maximum);
  bool Valid() const { return valid_; }
  // Raises the count by `count` (at least 1); refused when it would pass the
  // maximum, leaving the count as it was. `previous` gets the count before.
  bool Release(long count = 1, long* previous = nullptr);
  long Count() const;

protected:
  bool SignalledFor(std::thread::id) const override;
  void Acquire(std::thread::id) override;

private:
  long count_;
  long maximum_;
  bool valid_;
};

// An event: auto-reset (a wait that sees it set resets it) or manual-reset.
class Event : public Waitable {
public:
  Event(bool manualReset, bool initialState);
  void Set();
  void Reset();
  // Releases the threads waiting at this moment (all for manual-reset, one for
  // auto-reset) and leaves the event not signalled.
  void Pulse();
  bool IsSet() const;
  bool ManualReset() const { return manual_; }

protected:
  bool SignalledFor(std::thread::id) const override;
  void Acquire(std::thread::id) override;

private:
  bool manual_;
  bool state_;
};

// A mutex owned by a thread, taken again by its owner without waiting; each
// successful wait needs its Release.
class Mutex : public Waitable {
public:
  explicit Mutex(bool initiallyOwned = false);
  // False when the calling thread does not own it.
  bool Release();

protected:
  bool SignalledFor(std::thread::id thread) const override;
  void Acquire(std::thread::id thread) override;

private:
  std::thread::id owner_;
  unsigned long depth_ = 0;
};

} // namespace platform
