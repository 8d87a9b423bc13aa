#include "assetdb/JobScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Thread.h"
#include "Vak/Bexlorn/Exception.h"
#include "assetdb/SharedLock.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/TestSupport.h"
#include "tests/content/LogCapture.h"

namespace {

uint32_t CurrentThread() { return static_cast<uint32_t>(Vak::Thread::GetCurrentId()); }

void DrainMainThreadQueue() {
  MainThreadQueue::Message message;
  while (MainThreadQueue::Instance().Get(&message, 0)) {
  }
}

// Counts live callbacks, so tests see that the scheduler deletes each one.
std::atomic<int> gLiveCallbacks{0};

class TrackedCallback : public CXCallbackBase {
public:
  explicit TrackedCallback(std::function<void()> body) : body_(std::move(body)) { ++gLiveCallbacks; }
  ~TrackedCallback() override { --gLiveCallbacks; }
  intptr_t Run(uintptr_t) override {
    body_();
    return 1;
  }

private:
  std::function<void()> body_;
};

class JobSchedulerTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetMainThread();
    gLiveCallbacks = 0;
    DrainMainThreadQueue();
  }
  void TearDown() override { EXPECT_EQ(gLiveCallbacks, 0) << "every callback is deleted"; }
};

// Where a waiting post runs its job, by poster and flags.
TEST_F(JobSchedulerTest, WaitingPostRunsWhereTheFlagsAllow) {
  enum Where { kInline, kWorker, kMainThread };
  struct Case {
    const char* name;
    bool fromMain;
    uint32_t flags;
    Where where;
  };
  const std::vector<Case> cases = {
      {"main, no flags", true, 0, kInline},
      {"main, main-thread only", true, JobScheduler::kMainThreadOnly, kInline},
      {"main, not on main", true, JobScheduler::kNotOnMainThread, kWorker},
      {"main, not on main nor in lock waits", true, JobScheduler::kNotOnMainThread | JobScheduler::kNotInLockWait,
       kWorker},
      {"other, no flags", false, 0, kInline},
      {"other, not on main", false, JobScheduler::kNotOnMainThread, kInline},
      {"other, main-thread only", false, JobScheduler::kMainThreadOnly, kMainThread},
  };
  const uint32_t mainId = CurrentThread();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobScheduler scheduler;
    std::atomic<uint32_t> ranOn{0};
    std::atomic<uint32_t> posterId{0};
    std::atomic<int> result{-1};
    auto post = [&] {
      posterId = CurrentThread();
      result = scheduler.Post(new TrackedCallback([&] { ranOn = CurrentThread(); }), c.flags, 7) ? 1 : 0;
    };
    if (c.fromMain) {
      post();
    } else {
      std::thread poster(post);
      if (c.where == kMainThread) {
        ASSERT_TRUE(WaitUntil([&] { return scheduler.QueuedCount() == 1; }));
        EXPECT_EQ(result, -1) << "the poster waits";
        EXPECT_EQ(scheduler.RunPending(0), 0);
      }
      poster.join();
    }
    EXPECT_EQ(result, 1);
    switch (c.where) {
    case kInline: EXPECT_EQ(ranOn, posterId); break;
    case kWorker:
      EXPECT_NE(ranOn, mainId);
      EXPECT_NE(ranOn, 0u);
      EXPECT_EQ(scheduler.WorkersStarted(), 1u);
      break;
    case kMainThread: EXPECT_EQ(ranOn, mainId); break;
    }
    if (c.where == kInline) {
      EXPECT_EQ(scheduler.WorkersStarted(), 0u);
    }
  }
}

TEST_F(JobSchedulerTest, ArgumentReachesTheCallback) {
  JobScheduler scheduler;
  std::atomic<uintptr_t> seen{0};
  ASSERT_TRUE(scheduler.Post(MakeCallback([&](uintptr_t argument) { seen = argument; }),
                             JobScheduler::kNotOnMainThread, 0xC0FFEE));
  EXPECT_EQ(seen, 0xC0FFEEu);
}

TEST_F(JobSchedulerTest, AtMostFourWorkersAtATime) {
  JobScheduler scheduler;
  std::atomic<bool> go{false};
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  std::atomic<int> finished{0};
  constexpr int kJobs = 10;
  for (int i = 0; i < kJobs; ++i) {
    ASSERT_TRUE(scheduler.Post(new TrackedCallback([&] {
                                 int now = ++running;
                                 for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                                 }
                                 WaitUntil([&] { return go.load(); });
                                 --running;
                                 ++finished;
                               }),
                               JobScheduler::kNotOnMainThread | JobScheduler::kNoWait));
    EXPECT_LE(scheduler.LiveWorkers(), JobScheduler::kMaxWorkers);
  }
  ASSERT_TRUE(WaitUntil([&] { return running.load() == 4; }));
  EXPECT_EQ(scheduler.RunningCount(), 4u);
  EXPECT_EQ(scheduler.QueuedCount(), static_cast<size_t>(kJobs - 4));
  EXPECT_EQ(scheduler.WorkersStarted(), 4u);
  go = true;
  ASSERT_TRUE(WaitUntil([&] { return finished.load() == kJobs; }));
  EXPECT_EQ(peak, 4);
  EXPECT_LE(scheduler.WorkersStarted(), 4u);
}

TEST_F(JobSchedulerTest, WakeMessageIsPostedOnceInTheSchedulersLife) {
  JobScheduler scheduler;
  std::atomic<int> ran{0};
  std::atomic<int> answered{0};
  std::vector<std::thread> posters;
  for (int i = 0; i < 3; ++i) {
    posters.emplace_back([&] {
      if (scheduler.Post(new TrackedCallback([&] { ++ran; }), JobScheduler::kMainThreadOnly)) ++answered;
    });
    ASSERT_TRUE(WaitUntil([&] { return scheduler.QueuedCount() == 1; }));
    EXPECT_EQ(scheduler.RunPending(0), 0);
  }
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(answered, 3);
  // Main-thread jobs never start workers.
  EXPECT_EQ(scheduler.WorkersStarted(), 0u);

  MainThreadQueue::Message message;
  ASSERT_TRUE(MainThreadQueue::Instance().Get(&message, 0));
  EXPECT_EQ(message.message, 3524u);
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_EQ(message.lParam, 0);
  EXPECT_FALSE(MainThreadQueue::Instance().Get(&message, 0));
}

TEST_F(JobSchedulerTest, RunPendingTakesTheFirstEligibleJobAndCountsTheRest) {
  JobScheduler scheduler;
  std::vector<int> order;
  auto job = [&](int id) { return new TrackedCallback([&order, id] { order.push_back(id); }); };
  const uint32_t queued = JobScheduler::kMainThreadOnly | JobScheduler::kNoWait;
  ASSERT_TRUE(scheduler.Post(job(1), queued | JobScheduler::kNotInLockWait));
  ASSERT_TRUE(scheduler.Post(job(2), queued));
  ASSERT_TRUE(scheduler.Post(job(3), queued));
  ASSERT_EQ(scheduler.QueuedCount(), 3u);

  // The lock wait's mask passes over job 1.
  EXPECT_EQ(scheduler.RunPending(JobScheduler::kNotInLockWait), 2);
  EXPECT_EQ(scheduler.RunPending(JobScheduler::kNotInLockWait), 1);
  EXPECT_EQ(scheduler.RunPending(JobScheduler::kNotInLockWait), 0);
  EXPECT_EQ(order, (std::vector<int>{2, 3}));
  EXPECT_EQ(scheduler.RunPending(0), 0);
  EXPECT_EQ(order, (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(scheduler.RunPending(0), 0) << "nothing left";
  EXPECT_EQ(scheduler.QueuedCount(), 0u);
  DrainMainThreadQueue();
}

// A job that throws still completes and its poster sees success, but the
// failure is not lost: it is logged with the place of the post, and the
// poster's result word is 0. A job that returns passes its result on.
TEST_F(JobSchedulerTest, ThrowingJobStillCompletesLogsWhereItWasPostedAndResultsInZero) {
  enum Where { kInline, kWorker, kMainThread };
  struct Case {
    const char* name;
    Where where;
    std::function<intptr_t()> body;
    const char* logged;  // null: nothing logged
    intptr_t result;
  };
  const std::vector<Case> cases = {
      {"standard exception, inline", kInline, [] () -> intptr_t { throw std::runtime_error("disk gone"); }, "disk gone", 0},
      {"engine exception, on a worker", kWorker,
       [] () -> intptr_t { throw Vak::Exception(__FILE__, __LINE__, "engine reason"); }, "engine reason", 0},
      {"other value, on the main thread", kMainThread, [] () -> intptr_t { throw 17; }, "unknown type", 0},
      {"no exception, on a worker", kWorker, [] () -> intptr_t { return 42; }, nullptr, 42},
      {"no exception, on the main thread", kMainThread, [] () -> intptr_t { return 7; }, nullptr, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    content::test::LogCapture log;
    JobScheduler scheduler;
    const uint32_t flags = c.where == kInline   ? 0
                           : c.where == kWorker ? JobScheduler::kNotOnMainThread
                                                : JobScheduler::kMainThreadOnly;
    bool posted = false;
    intptr_t result = -1;
    unsigned line = 0;
    auto post = [&] {
      line = __LINE__ + 1;
      posted = scheduler.Post(MakeCallback([&c](uintptr_t) { return c.body(); }), flags, 0, nullptr, &result);
    };
    if (c.where == kMainThread) {
      std::thread poster(post);
      ASSERT_TRUE(WaitUntil([&] { return scheduler.QueuedCount() == 1; }));
      scheduler.RunPending(0);
      poster.join();
    } else {
      post();
    }
    EXPECT_TRUE(posted);
    EXPECT_EQ(result, c.result);
    const std::string text = log.Text();
    if (c.logged) {
      EXPECT_NE(text.find(c.logged), std::string::npos) << text;
      EXPECT_NE(text.find(std::string(__FILE__) + ":" + std::to_string(line) + ")"), std::string::npos) << text;
      EXPECT_NE(text.find("JobScheduler"), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, "");
    }
  }
  DrainMainThreadQueue();
}

TEST_F(JobSchedulerTest, JobsQueuedAtTheEndAreCancelled) {
  auto scheduler = std::make_unique<JobScheduler>();
  BusyGate gate;
  ASSERT_TRUE(gate.TryEnter());
  std::atomic<int> ran{0};
  std::atomic<int> answer{-1};
  std::thread poster([&] {
    answer = scheduler->Post(new TrackedCallback([&] { ++ran; }), JobScheduler::kMainThreadOnly, 0, &gate) ? 1 : 0;
  });
  ASSERT_TRUE(scheduler->Post(new TrackedCallback([&] { ++ran; }),
                              JobScheduler::kMainThreadOnly | JobScheduler::kNoWait));
  ASSERT_TRUE(WaitUntil([&] { return scheduler->QueuedCount() == 2; }));
  scheduler.reset();
  poster.join();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(ran, 0);
  EXPECT_FALSE(gate.IsBusy()) << "a cancelled job leaves its gate";
  DrainMainThreadQueue();
}

TEST_F(JobSchedulerTest, WorkersEndAfterFiveIdleSecondsOnTheClock) {
  TestClock clock;
  JobScheduler scheduler;
  std::atomic<int> ran{0};
  ASSERT_TRUE(scheduler.Post(new TrackedCallback([&] { ++ran; }), JobScheduler::kNotOnMainThread));
  ASSERT_TRUE(scheduler.Post(new TrackedCallback([&] { ++ran; }), JobScheduler::kNotOnMainThread));
  EXPECT_EQ(ran, 2);
  EXPECT_GE(scheduler.LiveWorkers(), 1u);
  // A worker may start its idle wait only after a move, so keep moving.
  EXPECT_TRUE(WaitUntil([&] {
    TestClock::Advance(1000);
    return scheduler.LiveWorkers() == 0;
  }));

  // Later work starts a worker again.
  const unsigned started = scheduler.WorkersStarted();
  ASSERT_TRUE(scheduler.Post(new TrackedCallback([&] { ++ran; }), JobScheduler::kNotOnMainThread));
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(scheduler.WorkersStarted(), started + 1);
}

TEST_F(JobSchedulerTest, MainThreadWaitingForASharedLockRunsAWorkersJob) {
  SharedLock lock;
  std::atomic<bool> posted{false};
  std::atomic<uint32_t> ranOn{0};
  std::atomic<bool> held{false};
  std::thread holder([&] {
    held = lock.Acquire(true, -1);
    // Holding the lock, the worker needs the main thread for a while.
    posted = JobScheduler::Instance().Post(new TrackedCallback([&] { ranOn = CurrentThread(); }),
                                           JobScheduler::kMainThreadOnly);
    lock.Release();
  });
  ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
  EXPECT_TRUE(lock.Acquire(false, -1));
  holder.join();
  EXPECT_TRUE(posted);
  EXPECT_EQ(ranOn, CurrentThread());
  lock.Release();
  DrainMainThreadQueue();
}

} // namespace
