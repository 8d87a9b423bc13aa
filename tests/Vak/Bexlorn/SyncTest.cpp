#include "Vak/Bexlorn/Sync.h"

#include "Vak/Bexlorn/Thread.h"

#include "platform/os/Waitable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Vak {
namespace {

// The answer of `body` run on a thread of its own.
bool OnOtherThread(const std::function<bool()>& body) {
  bool result = false;
  std::thread([&] { result = body(); }).join();
  return result;
}

platform::Waitable* HandleOf(SyncObject& object) { return static_cast<platform::Waitable*>(object.operator void*()); }

// Spins (yielding) until a thread is blocked on `object`.
void AwaitWaiter(SyncObject& object) {
  while (HandleOf(object)->WaiterCount() == 0) std::this_thread::yield();
}

TEST(SyncObjectTest, ResultsOfLockAndBothUnlocks) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<SyncObject>()> make;
    bool lock, unlockCount, unlock;
  };
  const Case cases[] = {
      {"critical section", [] { return std::make_unique<CriticalSection>("Log"); }, true, false, true},
      {"mutex", [] { return std::make_unique<Mutex>(); }, true, true, false},  // Unlock(1) released it
      {"semaphore", [] { return std::make_unique<Semaphore>(1, 1); }, true, true, false},  // back at its maximum
      {"auto event", [] { return std::make_unique<WEvent>(false, true); }, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<SyncObject> object = c.make();
    EXPECT_EQ(object->Lock(0), c.lock);
    EXPECT_EQ(object->Unlock(1), c.unlockCount);
    EXPECT_EQ(object->Unlock(), c.unlock);
  }
}

TEST(SyncObjectTest, NullHandlesAnswerFalse) {
  Semaphore invalid[] = {Semaphore(0, 0), Semaphore(2, 1), Semaphore(-1, 3)};
  for (Semaphore& s : invalid) {
    EXPECT_EQ(s.operator void*(), nullptr);
    EXPECT_FALSE(s.Lock(0));
    EXPECT_FALSE(s.Wait(-1));
    EXPECT_FALSE(s.Unlock());
    EXPECT_FALSE(s.Unlock(1));
  }
  CriticalSection section;
  EXPECT_EQ(section.operator void*(), nullptr);  // not a waitable handle
  EXPECT_FALSE(section.Signal());
}

TEST(SyncObjectTest, TimeOutsOfEveryWidthWaitAsLongAsTheySay) {
  WEvent event;
  EXPECT_FALSE(event.Lock(0));
  EXPECT_FALSE(event.Lock(2));
  EXPECT_FALSE(event.Wait(2));

  // Time-outs past 32 bits and a signed -1 wait without limit rather than
  // being cut to a short one.
  for (unsigned long timeout : {0x100000000ul, static_cast<unsigned long>(-1), SyncObject::kInfinite}) {
    bool woke = false;
    std::thread waiter([&] { woke = event.Lock(timeout); });
    AwaitWaiter(event);
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke) << timeout;
  }
  std::thread waiter([&] { EXPECT_TRUE(event.Wait(-1)); });
  AwaitWaiter(event);
  EXPECT_TRUE(event.Signal());
  waiter.join();
}

TEST(CriticalSectionTest, LockWithZeroTimeOutStillWaitsForTheOwner) {
  CriticalSection section;
  ASSERT_TRUE(section.Lock(0));
  ASSERT_TRUE(section.Lock(0));  // recursive
  std::atomic<bool> entered{false};
  WEvent starting;
  std::thread other([&] {
    starting.Set();
    EXPECT_TRUE(section.Lock(0));
    entered = true;
    section.Unlock();
  });
  ASSERT_TRUE(starting.Lock());
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_FALSE(entered);
  section.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  EXPECT_FALSE(entered);  // still held once
  section.Unlock();
  other.join();
  EXPECT_TRUE(entered);
}

TEST(MutexTest, RecursiveOwnershipAndTimeOut) {
  Mutex mutex;
  ASSERT_TRUE(mutex.Lock(0));
  ASSERT_TRUE(mutex.Lock(0));
  EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(2); }));
  EXPECT_FALSE(OnOtherThread([&] { return mutex.Unlock(); }));  // not the owner
  EXPECT_TRUE(mutex.Unlock());
  EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(0); }));
  EXPECT_TRUE(mutex.Unlock(5));  // one hold, whatever the count
  EXPECT_FALSE(mutex.Unlock());
  EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));

  Mutex owned(true);
  EXPECT_FALSE(OnOtherThread([&] { return owned.Lock(0); }));
  EXPECT_TRUE(owned.Unlock());
  EXPECT_FALSE(owned.Unlock());
}

TEST(MutexTest, NamedMutexesOfOneNameAreOneMutex) {
  const std::string name = "vak-sync-test\\" + std::to_string(Thread::GetProcessId()) + "/mutex";
  {
    Mutex first(true, name.c_str());
    Mutex second(false, name.c_str());
    EXPECT_EQ(first.operator void*(), nullptr);  // not for MultiLock
    EXPECT_TRUE(first.Lock(0));                  // recursive: held twice now
    EXPECT_FALSE(OnOtherThread([&] { return second.Lock(2); }));
    EXPECT_TRUE(first.Unlock());
    EXPECT_FALSE(OnOtherThread([&] { return second.Lock(0); }));
    EXPECT_TRUE(second.Unlock());  // the same mutex, and this thread owns it
    EXPECT_FALSE(first.Unlock());
    EXPECT_TRUE(OnOtherThread([&] { return second.Lock(0) && second.Unlock(); }));

    // Initial ownership only when it is free.
    bool otherOwnsIt = false;
    WEvent taken, done;
    std::thread holder([&] {
      otherOwnsIt = second.Lock(0);
      taken.Set();
      done.Lock();
      second.Unlock();
    });
    taken.Lock();
    ASSERT_TRUE(otherOwnsIt);
    Mutex third(true, name.c_str());
    EXPECT_FALSE(third.Unlock());
    done.Set();
    holder.join();
  }
  std::error_code ignored;
  std::string file = name;
  for (char& c : file)
    if (c == '/' || c == '\\') c = '_';
  std::filesystem::remove(std::filesystem::temp_directory_path() / file, ignored);
}

TEST(SemaphoreTest, CountsAndRefusesToPassItsMaximum) {
  Semaphore semaphore(0, 3);
  EXPECT_FALSE(semaphore.Lock(0));
  EXPECT_TRUE(semaphore.Unlock(2));
  EXPECT_FALSE(semaphore.Unlock(2));  // would pass 3: nothing released
  EXPECT_TRUE(semaphore.Unlock());
  EXPECT_FALSE(semaphore.Unlock());
  EXPECT_FALSE(semaphore.Unlock(0));
  EXPECT_FALSE(semaphore.Unlock(0x100000001ul));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore.Lock(0)) << i;
  EXPECT_FALSE(semaphore.Lock(1));
}

TEST(WEventTest, AutoManualAndPulse) {
  WEvent automatic(false, false, "named");
  automatic.Set();
  EXPECT_TRUE(automatic.Lock(0));
  EXPECT_FALSE(automatic.Lock(0));  // taken by the wait

  WEvent manual(true, true, nullptr);
  EXPECT_TRUE(manual.Lock(0));
  EXPECT_TRUE(manual.Lock(0));
  manual.Reset();
  EXPECT_FALSE(manual.Lock(0));

  manual.Pulse();  // nobody waiting: stays clear
  EXPECT_FALSE(manual.Lock(0));
  std::thread waiter([&] { EXPECT_TRUE(manual.Lock()); });
  AwaitWaiter(manual);
  manual.Pulse();
  waiter.join();
  EXPECT_FALSE(manual.Lock(0));
}

TEST(SingleLockTest, HoldsForItsScope) {
  Mutex mutex;
  {
    SingleLock lock(&mutex, true);
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_TRUE(lock.Lock(0));  // already held: not taken twice
    EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(0); }));
  }
  EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));

  SingleLock lock(&mutex);
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_TRUE(lock.Unlock());  // nothing held
  EXPECT_TRUE(lock.Lock(0));
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));

  // Held elsewhere: the time-out leaves the lock unlocked.
  WEvent taken, done;
  std::thread holder([&] {
    mutex.Lock();
    taken.Set();
    done.Lock();
    mutex.Unlock();
  });
  taken.Lock();
  EXPECT_FALSE(lock.Lock(2));
  EXPECT_FALSE(lock.IsLocked());
  done.Set();
  holder.join();
}

TEST(SingleLockTest, FailedUnlockKeepsTheFlag) {
  Semaphore semaphore(1, 1);
  SingleLock lock(&semaphore);
  ASSERT_TRUE(lock.Lock(0));
  ASSERT_TRUE(semaphore.Unlock());  // back at its maximum behind the lock's back
  EXPECT_FALSE(lock.Unlock());
  EXPECT_TRUE(lock.IsLocked());
  ASSERT_TRUE(semaphore.Lock(0));
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.IsLocked());
}

TEST(MultiLockTest, WaitAnyTakesTheLowestSignalled) {
  WEvent first, second, third;
  SyncObject* objects[] = {&first, &second, &third};
  MultiLock lock(objects, 3);
  EXPECT_EQ(lock.Lock(0, false), MultiLock::kWaitTimeout);
  EXPECT_EQ(lock.Lock(2, false), MultiLock::kWaitTimeout);
  third.Set();
  second.Set();
  EXPECT_EQ(lock.Lock(0, false), MultiLock::kWaitObject0 + 1);
  EXPECT_FALSE(lock.IsLocked(0));
  EXPECT_TRUE(lock.IsLocked(1));
  EXPECT_FALSE(lock.IsLocked(2));
  EXPECT_FALSE(lock.IsLocked(3));
  EXPECT_EQ(lock.Lock(0, false), MultiLock::kWaitObject0 + 2);
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.IsLocked(1));  // an event's Unlock succeeds

  std::thread setter([&] {
    AwaitWaiter(first);
    first.Set();
  });
  EXPECT_EQ(lock.Lock(SyncObject::kInfinite, false), MultiLock::kWaitObject0);
  setter.join();
}

TEST(MultiLockTest, WaitAllTakesEverythingOrNothing) {
  Mutex mutex;
  Semaphore semaphore(0, 1);
  WEvent event;
  SyncObject* objects[] = {&mutex, &semaphore, &event};
  {
    MultiLock lock(objects, 3);
    event.Set();
    EXPECT_EQ(lock.Lock(0), MultiLock::kWaitTimeout);  // the semaphore is at 0
    EXPECT_TRUE(event.Lock(0));                         // so the event was not consumed
    EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));

    event.Set();
    semaphore.Unlock();
    EXPECT_EQ(lock.Lock(0), MultiLock::kWaitObject0);
    for (unsigned long i = 0; i < 3; ++i) EXPECT_TRUE(lock.IsLocked(i)) << i;
    EXPECT_FALSE(event.Lock(0));
    EXPECT_FALSE(OnOtherThread([&] { return mutex.Lock(0); }));
  }
  // The destructor released the mutex and gave the semaphore back.
  EXPECT_TRUE(OnOtherThread([&] { return mutex.Lock(0) && mutex.Unlock(); }));
  EXPECT_TRUE(semaphore.Lock(0));

  semaphore.Unlock();
  event.Set();
  MultiLock initial(objects, 3, true);
  EXPECT_TRUE(initial.IsLocked(0) && initial.IsLocked(1) && initial.IsLocked(2));
}

TEST(MultiLockTest, RefusedSets) {
  CriticalSection section;
  WEvent event(true, true);
  SyncObject* withSection[] = {&event, &section};
  SyncObject* twice[] = {&event, &event};
  struct Case {
    const char* name;
    SyncObject* const* objects;
    unsigned long count;
    bool waitAll;
    unsigned long expected;
  };
  const Case cases[] = {
      {"empty", withSection, 0, true, MultiLock::kWaitFailed},
      {"null handle", withSection, 2, true, MultiLock::kWaitFailed},
      {"twice, all", twice, 2, true, MultiLock::kWaitFailed},
      {"twice, any", twice, 2, false, MultiLock::kWaitObject0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MultiLock lock(c.objects, c.count);
    EXPECT_EQ(lock.Lock(0, c.waitAll), c.expected);
  }
}

} // namespace
} // namespace Vak
