#include "platform/os/Atomic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace {

TEST(Atomic, OperationsReturnWhatTheInterlockedCallsReturn) {
  int32_t v = 5;
  EXPECT_EQ(platform::AtomicIncrement(v), 6);
  EXPECT_EQ(platform::AtomicDecrement(v), 5);
  EXPECT_EQ(platform::AtomicAdd(v, -7), -2);
  EXPECT_EQ(platform::AtomicExchange(v, 40), -2);
  EXPECT_EQ(v, 40);
  // Compare-exchange returns the old value whether or not it stored.
  EXPECT_EQ(platform::AtomicCompareExchange(v, 41, 39), 40);
  EXPECT_EQ(v, 40);
  EXPECT_EQ(platform::AtomicCompareExchange(v, 41, 40), 40);
  EXPECT_EQ(v, 41);
  platform::AtomicStore(v, INT32_MAX);
  EXPECT_EQ(platform::AtomicLoad(v), INT32_MAX);
  const int32_t c = -3;
  EXPECT_EQ(platform::AtomicLoad(c), -3);
}

TEST(Atomic, ConcurrentUpdatesAreNotLost) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  int32_t counter = 0;
  int32_t sum = 0;
  int32_t zeroHits = 0;
  int32_t casTotal = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        platform::AtomicIncrement(counter);
        platform::AtomicAdd(sum, t);
        // Each round ends balanced; a decrement to 0 is seen by one thread only.
        if (platform::AtomicDecrement(counter) == 0) platform::AtomicIncrement(zeroHits);
        // A retry loop over compare-exchange adds exactly one per round.
        int32_t seen = platform::AtomicLoad(casTotal);
        for (;;) {
          int32_t before = platform::AtomicCompareExchange(casTotal, seen + 1, seen);
          if (before == seen) break;
          seen = before;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(sum, kRounds * (kThreads * (kThreads - 1) / 2));
  EXPECT_EQ(casTotal, kThreads * kRounds);
  EXPECT_GT(zeroHits, 0);
  EXPECT_LE(zeroHits, kThreads * kRounds);
}

} // namespace
