#pragma once
// Shared by the lock library's tests: a clock the test moves, and a bounded
// wait for another thread to reach a state.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "Vak/Bexlorn/Time.h"

// Milliseconds that move only when the test says so, or by `step` on every
// read.
class TestClock {
public:
  explicit TestClock(int64_t stepPerRead = 0) {
    now_.store(1000000);
    step_.store(stepPerRead);
    Vak::Time::SetClockSource(&Read, 1000);
  }
  ~TestClock() { Vak::Time::SetClockSource(nullptr, 0); }
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  static void Advance(int64_t ms) { now_.fetch_add(ms); }
  static int64_t Now() { return now_.load(); }

private:
  static int64_t Read() { return now_.fetch_add(step_.load()); }
  static inline std::atomic<int64_t> now_{0};
  static inline std::atomic<int64_t> step_{0};
};

// Spins until `done` holds; false after a generous real bound, so a broken
// build fails instead of hanging.
template <typename Predicate>
bool WaitUntil(Predicate done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}
