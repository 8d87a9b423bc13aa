#pragma once
// The kernel's clock: seconds from the monotonic counter, milliseconds of the
// same counter, and a wall-clock time stamp.
#include <cstdint>

namespace Vak {

class Time {
public:
  using Counter = int64_t (*)();

  // Seconds of the counter (counter / frequency).
  static double GetSeconds();
  // Milliseconds of the same counter.
  static unsigned long Ms();
  // Whole seconds since 1970-01-01 UTC; it survives the process, so stored
  // stamps compare across runs.
  static uint64_t TimeStamp();
  // Sleeps the calling thread.
  static void Delay(unsigned long milliseconds);

  // Replaces the counter and its ticks per second (tests drive the clock
  // without sleeping). A null counter or a frequency of 0 restores the
  // monotonic counter.
  static void SetClockSource(Counter counter, int64_t frequency);
};

} // namespace Vak
