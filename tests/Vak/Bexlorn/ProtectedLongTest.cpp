#include "Vak/Bexlorn/ProtectedLong.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

TEST(ProtectedLong, ConcurrentStepsReturnEachNewValueOnce) {
  constexpr int kThreads = 8;
  constexpr int kSteps = 20000;
  Vak::ProtectedLong counter(5);
  std::vector<std::vector<int32_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      seen[t].reserve(kSteps);
      for (int i = 0; i < kSteps; ++i) seen[t].push_back(counter.Increment());
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(counter.Get(), 5 + kThreads * kSteps);

  // Every value from 6 up was handed to exactly one caller.
  std::vector<int32_t> all;
  for (const auto& s : seen) all.insert(all.end(), s.begin(), s.end());
  std::sort(all.begin(), all.end());
  for (int32_t i = 0; i < static_cast<int32_t>(all.size()); ++i) ASSERT_EQ(all[i], 6 + i);

  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kSteps; ++i) counter.Decrement();
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(counter.Get(), 5);
  EXPECT_EQ(counter.Decrement(), 4);
  counter.Set(-1);
  EXPECT_EQ(counter.Increment(), 0);
}

}  // namespace
