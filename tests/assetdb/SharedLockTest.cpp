#include "assetdb/SharedLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/PStringCache.h"
#include "Vak/Bexlorn/Thread.h"
#include "assetdb/BlockingScreen.h"
#include "assetdb/JobScheduler.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/FakeDisplay.h"
#include "tests/assetdb/TestSupport.h"

namespace {

// Takes the lock on a thread of its own and keeps it until released.
class Holder {
public:
  Holder(SharedLock& lock, bool exclusive) {
    thread_ = std::thread([this, &lock, exclusive] {
      took_ = lock.Acquire(exclusive, -1);
      ready_ = true;
      WaitUntil([this] { return release_.load(); });
      if (took_) lock.Release();
    });
    EXPECT_TRUE(WaitUntil([this] { return ready_.load(); }));
    EXPECT_TRUE(took_);
  }
  ~Holder() { Release(); }
  void Release() {
    release_ = true;
    if (thread_.joinable()) thread_.join();
  }

private:
  std::thread thread_;
  std::atomic<bool> took_{false};
  std::atomic<bool> ready_{false};
  std::atomic<bool> release_{false};
};

// Runs `body` on another thread and joins it.
void OnOtherThread(const std::function<void()>& body) { std::thread(body).join(); }

std::atomic<int> gDropCalls{0};
void CountDrop() { ++gDropCalls; }

class SharedLockTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetMainThread();
    gDropCalls = 0;
  }
  void TearDown() override { SharedLock::SetDropUnusedResourcesHook(nullptr); }
};

TEST_F(SharedLockTest, BackOffYieldsThenGrowsToTwentyMilliseconds) {
  struct Case {
    int round;
    unsigned long ms;
  };
  const std::vector<Case> cases = {{SharedLock::kBackOffStart, 0}, {-1, 0}, {0, 0}, {1, 1},
                                   {2, 2}, {19, 19}, {20, 20}, {21, 20}, {1000, 20}};
  for (const Case& c : cases) EXPECT_EQ(SharedLock::BackOffMs(c.round), c.ms) << c.round;
}

TEST_F(SharedLockTest, ExclusiveHolderTakesItAgainEitherWayAndFreesAfterAsManyReleases) {
  SharedLock lock;
  ASSERT_TRUE(lock.TryAcquire(true));
  EXPECT_TRUE(lock.TryAcquire(true));
  EXPECT_TRUE(lock.Acquire(false, 0));
  EXPECT_TRUE(lock.Acquire(true, -1));
  EXPECT_EQ(lock.HoldCount(), 4u);
  EXPECT_EQ(lock.ThreadHolds(), 4u);
  EXPECT_TRUE(lock.IsExclusive());

  OnOtherThread([&] {
    EXPECT_FALSE(lock.TryAcquire(false));
    EXPECT_FALSE(lock.TryAcquire(true));
    EXPECT_FALSE(lock.Release()) << "a thread without a hold releases nothing";
  });
  EXPECT_EQ(lock.HoldCount(), 4u);

  EXPECT_FALSE(lock.Release());
  EXPECT_FALSE(lock.Release());
  EXPECT_FALSE(lock.Release());
  EXPECT_TRUE(lock.IsExclusive());
  EXPECT_TRUE(lock.Release());
  EXPECT_EQ(lock.HoldCount(), 0u);
  EXPECT_FALSE(lock.IsExclusive());
  EXPECT_FALSE(lock.Release());
  EXPECT_EQ(lock.HoldCount(), 0u);

  OnOtherThread([&] {
    EXPECT_TRUE(lock.TryAcquire(true));
    EXPECT_TRUE(lock.Release());
  });
}

TEST_F(SharedLockTest, SharedHolderCannotUpgradeEvenAlone) {
  SharedLock lock;
  ASSERT_TRUE(lock.TryAcquire(false));
  ASSERT_TRUE(lock.TryAcquire(false));
  EXPECT_FALSE(lock.TryAcquire(true));
  EXPECT_FALSE(lock.Acquire(true, 0));
  // Waiting could never end: refused at once, without queueing as a writer.
  EXPECT_FALSE(lock.Acquire(true, -1));
  EXPECT_EQ(lock.WaitingWriters(), 0u);
  EXPECT_EQ(lock.HoldCount(), 2u);
  EXPECT_FALSE(lock.IsExclusive());

  // Other readers still come in; a writer does not.
  OnOtherThread([&] {
    EXPECT_TRUE(lock.TryAcquire(false));
    EXPECT_FALSE(lock.TryAcquire(true));
    EXPECT_FALSE(lock.Release()) << "the main thread's holds remain";
  });
  EXPECT_FALSE(lock.Release());
  EXPECT_TRUE(lock.Release());
}

TEST_F(SharedLockTest, WaitingWriterHoldsBackNewReadersButNotRecursion) {
  SharedLock lock;
  ASSERT_TRUE(lock.TryAcquire(false));

  std::atomic<bool> writerGot{false};
  std::atomic<bool> writerMayRelease{false};
  std::thread writer([&] {
    writerGot = lock.Acquire(true, -1);
    WaitUntil([&] { return writerMayRelease.load(); });
    if (writerGot) lock.Release();
  });
  ASSERT_TRUE(WaitUntil([&] { return lock.WaitingWriters() == 1; }));

  EXPECT_TRUE(lock.TryAcquire(false)) << "a holder's own shared request is recursion";
  OnOtherThread([&] {
    EXPECT_FALSE(lock.TryAcquire(false));
    EXPECT_FALSE(lock.Acquire(false, 0));
  });

  EXPECT_FALSE(lock.Release());
  EXPECT_TRUE(lock.Release());
  // Whether the writer is still waiting or already holds it, a new reader
  // does not get in ahead of it.
  OnOtherThread([&] { EXPECT_FALSE(lock.TryAcquire(false)); });
  ASSERT_TRUE(WaitUntil([&] { return writerGot.load(); }));
  EXPECT_TRUE(lock.IsExclusive());
  EXPECT_EQ(lock.WaitingWriters(), 0u);
  writerMayRelease = true;
  writer.join();
  EXPECT_EQ(lock.HoldCount(), 0u);
}

TEST_F(SharedLockTest, EventIsResetByTakesAndSetByReleases) {
  SharedLock lock;
  Vak::WEvent& event = lock.ReleasedEvent();
  EXPECT_TRUE(event.Lock(0));
  ASSERT_TRUE(lock.TryAcquire(false));
  EXPECT_FALSE(event.Lock(0));
  lock.Release();
  EXPECT_TRUE(event.Lock(0));
}

TEST_F(SharedLockTest, TimedWaitsFailOnceTheirTimeHasPassed) {
  struct Case {
    const char* name;
    bool onMainThread;
    bool exclusive;
    long timeoutMs;
    int64_t msPerRead;
  };
  const std::vector<Case> cases = {
      {"writer on a worker", false, true, 3000, 50},
      {"reader on a worker", false, false, 3000, 50},
      {"writer on the main thread", true, true, 3000, 50},
      // Longer than the 15000 ms mark: the mark does not restart the time-out.
      {"reader on the main thread past the mark", true, false, 40000, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestClock clock(c.msPerRead);
    SharedLock lock;
    Holder holder(lock, true);
    bool got = true;
    int64_t elapsed = 0;
    auto attempt = [&] {
      const int64_t before = TestClock::Now();
      got = lock.Acquire(c.exclusive, c.timeoutMs);
      elapsed = TestClock::Now() - before;
    };
    if (c.onMainThread) {
      attempt();
    } else {
      OnOtherThread(attempt);
    }
    EXPECT_FALSE(got);
    EXPECT_GT(elapsed, c.timeoutMs);
    EXPECT_LT(elapsed, c.timeoutMs + 10 * c.msPerRead);
    EXPECT_EQ(lock.WaitingWriters(), 0u);
    EXPECT_EQ(lock.HoldCount(), 1u);
  }
}

TEST_F(SharedLockTest, WorkerWaitingPastTheMarkDoesNothingElse) {
  AttachedDisplay attached;
  SharedLock::SetDropUnusedResourcesHook(&CountDrop);
  TestClock clock(500);
  SharedLock lock;
  Holder holder(lock, true);
  OnOtherThread([&] { EXPECT_FALSE(lock.Acquire(false, 40000)); });
  EXPECT_EQ(gDropCalls, 0);
  EXPECT_EQ(attached.display.loads, 0);
  EXPECT_EQ(BlockingScreen::Instance().ShowCount(), 0);
}

// The main thread waits for a lock held elsewhere while the test moves the
// clock: the wait runs a main-thread job posted by a worker, and each 15000 ms
// mark shows (then refreshes) the screen, drops unused resources and collects
// interned strings; the screen is hidden when the wait ends.
TEST_F(SharedLockTest, MainThreadWaitRunsJobsAndKeepsTheProcessGoing) {
  AttachedDisplay attached;
  FakeDisplay& display = attached.display;
  SharedLock::SetDropUnusedResourcesHook(&CountDrop);
  TestClock clock;
  SharedLock lock;
  Holder holder(lock, true);
  const unsigned cursorBefore = Vak::PString::cache()->CollectionCursor();
  const uint32_t mainId = GetMainThreadId();

  std::atomic<uint32_t> ranOn{0};
  std::atomic<bool> posted{false};
  std::thread poster([&] {
    posted = JobScheduler::Instance().Post(
        MakeCallback([&](uintptr_t) { ranOn = static_cast<uint32_t>(Vak::Thread::GetCurrentId()); }),
        JobScheduler::kMainThreadOnly);
  });

  struct Seen {
    int drops, loads, draws, pumps, showCount;
  };
  Seen atFirstMark{}, atSecondMark{};
  std::thread driver([&] {
    WaitUntil([&] { return ranOn.load() != 0; });
    TestClock::Advance(15001);
    WaitUntil([&] { return gDropCalls.load() == 1; });
    atFirstMark = {gDropCalls, display.loads, display.draws, display.pumps, BlockingScreen::Instance().ShowCount()};
    TestClock::Advance(15001);
    WaitUntil([&] { return gDropCalls.load() == 2; });
    atSecondMark = {gDropCalls, display.loads, display.draws, display.pumps, BlockingScreen::Instance().ShowCount()};
    holder.Release();
  });

  EXPECT_TRUE(lock.Acquire(true, -1));
  driver.join();
  poster.join();

  EXPECT_TRUE(posted);
  EXPECT_EQ(ranOn, mainId);
  EXPECT_EQ(atFirstMark.loads, 1);
  EXPECT_EQ(atFirstMark.draws, 1);
  EXPECT_EQ(atFirstMark.pumps, 0);
  EXPECT_EQ(atFirstMark.showCount, 1);
  EXPECT_EQ(atSecondMark.loads, 1) << "later marks refresh";
  EXPECT_EQ(atSecondMark.draws, 2);
  EXPECT_EQ(atSecondMark.pumps, 1);
  EXPECT_EQ(atSecondMark.showCount, 1);
  EXPECT_EQ(gDropCalls, 2);
  EXPECT_EQ(Vak::PString::cache()->CollectionCursor(), (cursorBefore + 2) % Vak::PStringCache::kBuckets);
  EXPECT_EQ(BlockingScreen::Instance().ShowCount(), 0);
  EXPECT_EQ(display.releases, 1);
  EXPECT_TRUE(lock.Release());
}

TEST_F(SharedLockTest, MainThreadWaitLeavesJobsThatExcludeIt) {
  TestClock clock(10);
  JobScheduler& scheduler = JobScheduler::Instance();
  SharedLock lock;
  Holder holder(lock, true);
  std::atomic<int> ran{0};
  // Queued without waiting from the main thread; flag 4 keeps it out of lock waits.
  ASSERT_TRUE(scheduler.Post(MakeCallback([&](uintptr_t) { ++ran; }),
                             JobScheduler::kMainThreadOnly | JobScheduler::kNotInLockWait | JobScheduler::kNoWait));
  EXPECT_FALSE(lock.Acquire(false, 200));
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(scheduler.RunPending(0), 0);
  EXPECT_EQ(ran, 1);
}

TEST(CountedLock, CountsDepthAndRefusesOthersUnlock) {
  CountedLock lock;
  lock.Lock();
  lock.Lock();
  EXPECT_EQ(lock.Depth(), 2);
  OnOtherThread([&] { EXPECT_FALSE(lock.Unlock()); });
  EXPECT_EQ(lock.Depth(), 2);
  EXPECT_TRUE(lock.Unlock());
  EXPECT_TRUE(lock.Unlock());
  EXPECT_EQ(lock.Depth(), 0);
  EXPECT_FALSE(lock.Unlock());

  OnOtherThread([&] {
    lock.Lock();
    EXPECT_EQ(lock.Depth(), 1);
    EXPECT_TRUE(lock.Unlock());
  });
}

TEST(BusyGate, LetsOneThroughAndCountsWaiters) {
  BusyGate gate;
  ASSERT_TRUE(gate.TryEnter());
  EXPECT_TRUE(gate.IsBusy());
  EXPECT_TRUE(gate.IsEntered());
  EXPECT_FALSE(gate.TryEnter()) << "not recursive";

  std::atomic<bool> entered{false};
  std::thread waiter([&] {
    gate.Enter();
    entered = true;
    gate.Leave();
  });
  ASSERT_TRUE(WaitUntil([&] { return gate.WaitingCount() == 1; }));
  EXPECT_FALSE(entered);
  gate.Leave();
  waiter.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(gate.WaitingCount(), 0);
  EXPECT_FALSE(gate.IsBusy());
  EXPECT_FALSE(gate.IsEntered());
}

} // namespace
