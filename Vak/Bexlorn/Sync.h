#pragma once
// The kernel's locking primitives: one base that any of them can be waited on
// through, and scoped locks over one or several of them.
#include <memory>
#include <vector>

namespace platform {
class Waitable;
class NamedMutex;
class RecursiveMutex;
} // namespace platform

namespace Vak {

class SyncObject {
public:
  // A time-out of at least this many milliseconds waits without limit, so an
  // unsigned -1 does too.
  static constexpr unsigned long kInfinite = 0xFFFFFFFFul;

  SyncObject(const SyncObject&) = delete;
  SyncObject& operator=(const SyncObject&) = delete;
  virtual ~SyncObject();

  // The object waited on (null when creation failed or there is none).
  virtual operator void*();
  // True when the object was signalled (and taken) within `timeout` ms.
  virtual bool Lock(unsigned long timeout = kInfinite);
  virtual bool Unlock(unsigned long count);
  virtual bool Unlock();

  // Lock with a signed time-out: -1 (any negative) waits without limit.
  bool Wait(long timeout);
  // Sets the event behind this object (a thread's end event); false when it is none.
  bool Signal();

protected:
  SyncObject();

  std::unique_ptr<platform::Waitable> handle_;
};

// Recursive per thread.
class CriticalSection : public SyncObject {
public:
  // The name only documents the lock.
  explicit CriticalSection(const char* name = nullptr);
  ~CriticalSection() override;

  // Enters, waiting for as long as it takes whatever `timeout` says; true.
  bool Lock(unsigned long timeout = kInfinite) override;
  using SyncObject::Unlock;
  bool Unlock() override;

private:
  std::unique_ptr<platform::RecursiveMutex> section_;
};

// Recursive per thread. A named mutex is shared with other processes through
// a lock file of that name in the temporary folder; it cannot be part of a
// MultiLock (its handle is null).
class Mutex : public SyncObject {
public:
  // A named one is taken at construction only when it is free.
  explicit Mutex(bool initiallyOwned = false, const char* name = nullptr);
  ~Mutex() override;

  bool Lock(unsigned long timeout = kInfinite) override;
  // Both release one hold; false when the calling thread does not own it.
  bool Unlock(unsigned long count) override;
  bool Unlock() override;

private:
  std::unique_ptr<platform::NamedMutex> named_;
};

class Semaphore : public SyncObject {
public:
  // Limits outside 0 <= initial <= maximum, maximum > 0 leave a null handle.
  // The name is not used: semaphores are local to the process.
  explicit Semaphore(long initialCount = 1, long maximumCount = 1, const char* name = nullptr);

  // Release `count`; false when that would pass the maximum (nothing released).
  bool Unlock(unsigned long count) override;
  bool Unlock() override;
};

class WEvent : public SyncObject {
public:
  // The name is not used: events are local to the process.
  explicit WEvent(bool manualReset = false, bool initialState = false, const char* name = nullptr);

  void Set();
  // Releases the threads waiting now and leaves the event clear.
  void Pulse();
  void Reset();

  using SyncObject::Unlock;
  bool Unlock() override { return true; }
};

// Holds one object for a scope.
class SingleLock {
public:
  explicit SingleLock(SyncObject* object, bool initialLock = false);
  ~SingleLock();
  SingleLock(const SingleLock&) = delete;
  SingleLock& operator=(const SingleLock&) = delete;

  // Already held: true without taking it again, so one Unlock balances it.
  bool Lock(unsigned long timeout = SyncObject::kInfinite);
  // True when the object is no longer held by this lock.
  bool Unlock();
  bool IsLocked() const { return locked_; }

private:
  SyncObject* object_;
  bool locked_ = false;
};

// Waits on several objects at once: for any one of them or for all.
class MultiLock {
public:
  // Lock's answers.
  static constexpr unsigned long kWaitObject0 = 0;  // + index of the object taken
  static constexpr unsigned long kWaitTimeout = 0x102;
  static constexpr unsigned long kWaitFailed = 0xFFFFFFFFul;

  // With `initialLock`, waits without limit for all of them.
  MultiLock(SyncObject* const* objects, unsigned long count, bool initialLock = false);
  ~MultiLock();
  MultiLock(const MultiLock&) = delete;
  MultiLock& operator=(const MultiLock&) = delete;

  // kWaitObject0 (+ index for wait-any), kWaitTimeout or kWaitFailed (no
  // objects, a null handle, or one listed twice when waiting for all).
  unsigned long Lock(unsigned long timeout = SyncObject::kInfinite, bool waitForAll = true);
  // Unlocks every object still held; true.
  bool Unlock();
  bool IsLocked(unsigned long index) const;

private:
  std::vector<SyncObject*> objects_;
  std::vector<platform::Waitable*> handles_;
  std::vector<bool> locked_;
};

} // namespace Vak
