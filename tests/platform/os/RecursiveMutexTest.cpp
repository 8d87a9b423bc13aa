#include "platform/os/RecursiveMutex.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

bool TryLockFromAnotherThread(platform::RecursiveMutex& mutex) {
  bool taken = false;
  std::thread([&] {
    taken = mutex.TryLock();
    if (taken) mutex.Unlock();
  }).join();
  return taken;
}

TEST(RecursiveMutex, OwnerReentersOthersWaitUntilTheLastUnlock) {
  platform::RecursiveMutex mutex;
  mutex.Lock();
  mutex.Lock();
  EXPECT_TRUE(mutex.TryLock());
  EXPECT_FALSE(TryLockFromAnotherThread(mutex));
  mutex.Unlock();
  mutex.Unlock();
  EXPECT_FALSE(TryLockFromAnotherThread(mutex));  // still held once
  mutex.Unlock();
  EXPECT_TRUE(TryLockFromAnotherThread(mutex));
}

TEST(RecursiveMutex, ExcludesOtherThreads) {
  platform::RecursiveMutex mutex;
  constexpr int kThreads = 6;
  constexpr int kRounds = 20000;
  long counter = 0;  // plain: only the lock keeps it whole
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        mutex.Lock();
        mutex.Lock();  // nested, as a locked caller calling a locking helper
        long seen = counter;
        counter = seen + 1;
        mutex.Unlock();
        mutex.Unlock();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
}

} // namespace
