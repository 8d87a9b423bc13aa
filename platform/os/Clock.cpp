#include "platform/os/Clock.h"

#include <ctime>

namespace platform {

namespace {

constexpr int64_t kTicksPerSecond = 1'000'000'000;  // the counter counts nanoseconds

} // namespace

int64_t MonotonicCounter() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec;
}

int64_t CounterFrequency() { return kTicksPerSecond; }

int64_t MonotonicMilliseconds() { return MonotonicCounter() / (kTicksPerSecond / 1000); }

} // namespace platform
