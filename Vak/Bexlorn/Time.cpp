#include "Vak/Bexlorn/Time.h"

#include <atomic>
#include <ctime>

#include "platform/os/Clock.h"

namespace Vak {

namespace {

std::atomic<Time::Counter> gCounter{&platform::MonotonicCounter};
// Read on first use rather than by a static initialiser, so clients in other
// translation units' initialisers already see it.
std::atomic<uint64_t> gFrequency{0};

uint64_t Frequency() {
  uint64_t frequency = gFrequency.load(std::memory_order_relaxed);
  if (frequency == 0) {
    frequency = static_cast<uint64_t>(platform::CounterFrequency());
    gFrequency.store(frequency, std::memory_order_relaxed);
  }
  return frequency;
}

uint64_t Ticks() { return static_cast<uint64_t>(gCounter.load(std::memory_order_relaxed)()); }

} // namespace

double Time::GetSeconds() { return static_cast<double>(Ticks()) / static_cast<double>(Frequency()); }

unsigned long Time::Ms() {
  const uint64_t ticks = Ticks();
  const uint64_t frequency = Frequency();
  // Split so ticks * 1000 cannot overflow.
  return static_cast<unsigned long>(ticks / frequency * 1000 + ticks % frequency * 1000 / frequency);
}

uint64_t Time::TimeStamp() {
  const std::time_t now = std::time(nullptr);
  return now < 0 ? 0 : static_cast<uint64_t>(now);
}

void Time::SetClockSource(Counter counter, int64_t frequency) {
  if (counter == nullptr || frequency <= 0) {
    gCounter.store(&platform::MonotonicCounter);
    gFrequency.store(static_cast<uint64_t>(platform::CounterFrequency()));
    return;
  }
  gCounter.store(counter);
  gFrequency.store(static_cast<uint64_t>(frequency));
}

} // namespace Vak
