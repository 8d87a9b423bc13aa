#include "platform/os/Clock.h"

#include <gtest/gtest.h>

namespace {

TEST(Clock, CounterNeverGoesBackAndMillisecondsFollowIt) {
  const int64_t frequency = platform::CounterFrequency();
  ASSERT_GT(frequency, 0);
  EXPECT_EQ(platform::CounterFrequency(), frequency);
  int64_t last = platform::MonotonicCounter();
  EXPECT_GT(last, 0);
  for (int i = 0; i < 1000; ++i) {
    int64_t now = platform::MonotonicCounter();
    ASSERT_GE(now, last);
    last = now;
  }
  // Milliseconds read between two counter readings lie between their values.
  int64_t before = platform::MonotonicCounter();
  int64_t ms = platform::MonotonicMilliseconds();
  int64_t after = platform::MonotonicCounter();
  EXPECT_GE(ms, before / (frequency / 1000));
  EXPECT_LE(ms, after / (frequency / 1000));
}

} // namespace
