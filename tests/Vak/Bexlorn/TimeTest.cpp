#include "Vak/Bexlorn/Time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "platform/os/Clock.h"

namespace {

using Vak::Time;

int64_t gTicks = 0;
int64_t FakeCounter() { return gTicks; }

class TimeTest : public ::testing::Test {
protected:
  void TearDown() override { Time::SetClockSource(nullptr, 0); }
};

TEST_F(TimeTest, SecondsAndMillisecondsFollowTheCounter) {
  struct Case {
    int64_t ticks;
    int64_t frequency;
    double seconds;
    unsigned long ms;
  };
  const std::vector<Case> cases = {
      {0, 1000, 0.0, 0},
      {1500, 1000, 1.5, 1500},
      {2'500'000, 1'000'000, 2.5, 2500},
      {999, 1'000'000, 0.000999, 0},  // below one millisecond
      {1'999'999, 1'000'000, 1.999999, 1999},
      // 300 days of nanoseconds: ticks * 1000 would pass 2^63.
      {int64_t{300} * 86400 * 1'000'000'000, 1'000'000'000, 300.0 * 86400, 300ul * 86400 * 1000},
      {3, 3, 1.0, 1000},
      {10, 3, 10.0 / 3, 3333},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ticks << " / " << c.frequency);
    gTicks = c.ticks;
    Time::SetClockSource(&FakeCounter, c.frequency);
    EXPECT_DOUBLE_EQ(Time::GetSeconds(), c.seconds);
    EXPECT_EQ(Time::Ms(), c.ms);
  }
}

TEST_F(TimeTest, InvalidSourceRestoresTheMonotonicCounter) {
  for (int64_t frequency : {int64_t{0}, int64_t{-5}}) {
    gTicks = 42;
    Time::SetClockSource(&FakeCounter, 1);
    ASSERT_DOUBLE_EQ(Time::GetSeconds(), 42.0);
    Time::SetClockSource(&FakeCounter, frequency);
    const double expected =
        static_cast<double>(platform::MonotonicCounter()) / static_cast<double>(platform::CounterFrequency());
    EXPECT_NEAR(Time::GetSeconds(), expected, 1.0);
  }
  Time::SetClockSource(&FakeCounter, 1);
  Time::SetClockSource(nullptr, 1000);
  const double before = Time::GetSeconds();
  const unsigned long beforeMs = Time::Ms();
  EXPECT_GE(Time::GetSeconds(), before);
  EXPECT_GE(Time::Ms(), beforeMs);
  EXPECT_NEAR(static_cast<double>(Time::Ms()) / 1000.0, Time::GetSeconds(), 1.0);
}

TEST_F(TimeTest, TimeStampIsWallClockSeconds) {
  const std::time_t before = std::time(nullptr);
  const uint64_t stamp = Time::TimeStamp();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(stamp, static_cast<uint64_t>(before));
  EXPECT_LE(stamp, static_cast<uint64_t>(after));
  // Not moved by the injected counter.
  gTicks = 0;
  Time::SetClockSource(&FakeCounter, 1000);
  EXPECT_GE(Time::TimeStamp(), static_cast<uint64_t>(before));
}

} // namespace
