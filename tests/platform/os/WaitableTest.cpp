#include "platform/os/Thread.h"
#include "platform/os/Waitable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace platform {
namespace {

// Runs `body` on a thread of its own; joined on destruction.
class Runner {
public:
  explicit Runner(std::function<void()> body) : body_(std::move(body)), thread_(&Runner::Entry, this, true) {}
  bool Join() { return thread_.WaitOne(kInfinite); }

private:
  static unsigned Entry(void* self) {
    static_cast<Runner*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  Thread thread_;
};

// Spins (yielding) until `object` has `n` threads blocked on it.
void AwaitWaiters(const Waitable& object, std::size_t n) {
  while (object.WaiterCount() < n) std::this_thread::yield();
}

TEST(SemaphoreTest, CountsDownToZeroAndRespectsMaximum) {
  Semaphore s(2, 3);
  ASSERT_TRUE(s.Valid());
  EXPECT_TRUE(s.WaitOne(0));
  EXPECT_TRUE(s.WaitOne(0));
  EXPECT_FALSE(s.WaitOne(0));
  EXPECT_FALSE(s.WaitOne(2));

  long previous = -1;
  EXPECT_TRUE(s.Release(3, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(s.Count(), 3);
  previous = -1;
  EXPECT_FALSE(s.Release(1, &previous));  // past the maximum: refused, count unchanged
  EXPECT_EQ(previous, -1);
  EXPECT_EQ(s.Count(), 3);
  EXPECT_FALSE(s.Release(0));
  EXPECT_FALSE(s.Release(-1));
  EXPECT_TRUE(s.WaitOne(0));
  EXPECT_TRUE(s.Release(1, &previous));
  EXPECT_EQ(previous, 2);
}

TEST(SemaphoreTest, InvalidLimitsAreRefused) {
  struct Case { long initial, maximum; } cases[] = {{0, 0}, {2, 1}, {-1, 3}, {0, -5}};
  for (const Case& c : cases) {
    Semaphore s(c.initial, c.maximum);
    EXPECT_FALSE(s.Valid()) << c.initial << "/" << c.maximum;
    EXPECT_FALSE(s.Release(1));
    EXPECT_FALSE(s.WaitOne(0));
  }
}

TEST(SemaphoreTest, ReleaseWakesAsManyWaitersAsItsCount) {
  Semaphore s(0, 10);
  std::atomic<int> passed{0};
  std::vector<std::unique_ptr<Runner>> runners;
  for (int i = 0; i < 3; ++i)
    runners.push_back(std::make_unique<Runner>([&] {
      if (s.WaitOne(kInfinite)) ++passed;
    }));
  AwaitWaiters(s, 3);
  EXPECT_TRUE(s.Release(2));
  while (s.WaiterCount() > 1) std::this_thread::yield();
  EXPECT_EQ(s.Count(), 0);
  EXPECT_TRUE(s.Release(1));
  for (auto& r : runners) r->Join();
  EXPECT_EQ(passed, 3);
  EXPECT_EQ(s.Count(), 0);
}

TEST(EventTest, AutoResetIsTakenOnceManualResetStays) {
  Event autoEvent(false, true);
  EXPECT_TRUE(autoEvent.WaitOne(0));
  EXPECT_FALSE(autoEvent.WaitOne(0));
  autoEvent.Set();
  EXPECT_TRUE(autoEvent.IsSet());
  EXPECT_TRUE(autoEvent.WaitOne(1));
  EXPECT_FALSE(autoEvent.IsSet());

  Event manual(true, false);
  EXPECT_FALSE(manual.WaitOne(1));
  manual.Set();
  EXPECT_TRUE(manual.WaitOne(0));
  EXPECT_TRUE(manual.WaitOne(0));
  manual.Reset();
  EXPECT_FALSE(manual.WaitOne(0));
}

TEST(EventTest, SetWakesOneWaiterOfAutoResetAllOfManualReset) {
  for (bool manualReset : {false, true}) {
    Event e(manualReset, false);
    std::atomic<int> passed{0};
    std::vector<std::unique_ptr<Runner>> runners;
    for (int i = 0; i < 3; ++i)
      runners.push_back(std::make_unique<Runner>([&] {
        if (e.WaitOne(kInfinite)) ++passed;
      }));
    AwaitWaiters(e, 3);
    e.Set();
    // Satisfied waiters leave the queue inside Set.
    EXPECT_EQ(e.WaiterCount(), manualReset ? 0u : 2u);
    EXPECT_EQ(e.IsSet(), manualReset);
    if (!manualReset) {
      e.Set();
      e.Set();
    }
    for (auto& r : runners) r->Join();
    EXPECT_EQ(passed, 3);
  }
}

TEST(EventTest, PulseReleasesTheWaitersOfThatMomentAndLeavesItReset) {
  for (bool manualReset : {false, true}) {
    SCOPED_TRACE(manualReset ? "manual" : "auto");
    Event e(manualReset, false);
    e.Pulse();  // nobody waiting: nothing remembered
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.WaitOne(0));

    std::atomic<int> passed{0};
    std::vector<std::unique_ptr<Runner>> runners;
    for (int i = 0; i < 3; ++i)
      runners.push_back(std::make_unique<Runner>([&] {
        if (e.WaitOne(kInfinite)) ++passed;
      }));
    AwaitWaiters(e, 3);
    e.Pulse();
    EXPECT_FALSE(e.IsSet());
    // The waiters leave the queue inside Pulse, before it returns.
    EXPECT_EQ(e.WaiterCount(), manualReset ? 0u : 2u);
    if (!manualReset) {
      // Each Set goes straight to one queued waiter.
      e.Set();
      e.Set();
      EXPECT_EQ(e.WaiterCount(), 0u);
      EXPECT_FALSE(e.IsSet());
    }
    for (auto& r : runners) r->Join();
    EXPECT_EQ(passed, 3);
  }
}

TEST(MutexTest, RecursiveForOwnerExclusiveForOthers) {
  Mutex m;
  EXPECT_FALSE(m.Release());  // not owned
  ASSERT_TRUE(m.WaitOne(0));
  ASSERT_TRUE(m.WaitOne(0));

  std::atomic<bool> gotIt{false};
  Runner other([&] {
    EXPECT_FALSE(m.WaitOne(0));
    EXPECT_FALSE(m.Release());  // not the owner
    gotIt = m.WaitOne(kInfinite);
    EXPECT_TRUE(m.Release());
  });
  AwaitWaiters(m, 1);
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(gotIt);  // still held once
  EXPECT_TRUE(m.Release());
  other.Join();
  EXPECT_TRUE(gotIt);
  EXPECT_FALSE(m.Release());
}

TEST(MutexTest, InitiallyOwnedBelongsToItsCreator) {
  Mutex m(true);
  Runner other([&] { EXPECT_FALSE(m.WaitOne(0)); });
  other.Join();
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
}

TEST(WaitMultipleTest, AnyAnswersTheLowestSignalledIndex) {
  Event a(true, false), b(true, true), c(false, true);
  std::vector<Waitable*> objects{&a, &b, &c};
  EXPECT_EQ(Waitable::WaitMultiple(objects, false, 0), 1);
  b.Reset();
  EXPECT_EQ(Waitable::WaitMultiple(objects, false, 0), 2);
  EXPECT_FALSE(c.IsSet());  // auto-reset taken by the wait
  EXPECT_EQ(Waitable::WaitMultiple(objects, false, 3), kWaitTimeout);
  EXPECT_EQ(Waitable::WaitMultiple(nullptr, 0, false, 0), kWaitTimeout);

  Runner setter([&] {
    AwaitWaiters(c, 1);
    c.Set();
  });
  EXPECT_EQ(Waitable::WaitMultiple(objects, false, kInfinite), 2);
  setter.Join();
  EXPECT_EQ(a.WaiterCount() + b.WaiterCount() + c.WaiterCount(), 0u);
}

TEST(WaitMultipleTest, AllTakesEverythingAtOnceOrNothing) {
  Semaphore s(1, 1);
  Event e(false, false);
  Mutex m;
  std::vector<Waitable*> objects{&s, &e, &m};

  EXPECT_EQ(Waitable::WaitMultiple(objects, true, 0), kWaitTimeout);
  EXPECT_EQ(Waitable::WaitMultiple(objects, true, 2), kWaitTimeout);
  EXPECT_EQ(s.Count(), 1);  // not consumed while the event was missing
  EXPECT_TRUE(m.Release() == false);  // mutex not taken either

  Runner setter([&] {
    AwaitWaiters(e, 1);
    EXPECT_EQ(s.Count(), 1);
    e.Set();
  });
  EXPECT_EQ(Waitable::WaitMultiple(objects, true, kInfinite), 0);
  setter.Join();
  EXPECT_EQ(s.Count(), 0);
  EXPECT_FALSE(e.IsSet());
  EXPECT_TRUE(m.Release());
}

TEST(WaitMultipleTest, AllWaiterDoesNotStealFromAnAnyWaiter) {
  // An event set while the wait-all still lacks the semaphore goes to the
  // wait-any waiter queued behind it.
  Semaphore s(0, 1);
  Event e(false, false);
  std::vector<Waitable*> all{&s, &e};
  std::atomic<int> allResult{99};
  Runner allWaiter([&] { allResult = Waitable::WaitMultiple(all, true, kInfinite); });
  AwaitWaiters(e, 1);
  std::atomic<bool> anyGot{false};
  Runner anyWaiter([&] { anyGot = e.WaitOne(kInfinite); });
  AwaitWaiters(e, 2);
  e.Set();
  anyWaiter.Join();
  EXPECT_TRUE(anyGot);
  EXPECT_EQ(allResult, 99);
  e.Set();
  EXPECT_TRUE(s.Release());
  allWaiter.Join();
  EXPECT_EQ(allResult, 0);
  EXPECT_EQ(s.Count(), 0);
  EXPECT_FALSE(e.IsSet());
}

TEST(WaitMultipleTest, RefusesNullAndDuplicatesInWaitAll) {
  Semaphore s(2, 2);
  std::vector<Waitable*> twice{&s, &s};
  EXPECT_EQ(Waitable::WaitMultiple(twice, true, 0), kWaitFailed);
  EXPECT_EQ(s.Count(), 2);
  EXPECT_EQ(Waitable::WaitMultiple(twice, false, 0), 0);
  std::vector<Waitable*> withNull{&s, nullptr};
  EXPECT_EQ(Waitable::WaitMultiple(withNull, false, 0), kWaitFailed);
}

} // namespace
} // namespace platform
