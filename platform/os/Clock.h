#pragma once
// The monotonic clock: a counter that never goes back and is not moved by
// changes of the wall clock, with its frequency (the performance counter's
// stand-ins).
#include <cstdint>

namespace platform {

// Ticks since an arbitrary fixed point (the system's start).
int64_t MonotonicCounter();
// Ticks per second of MonotonicCounter; constant, positive.
int64_t CounterFrequency();
// Milliseconds of the same clock.
int64_t MonotonicMilliseconds();

} // namespace platform
