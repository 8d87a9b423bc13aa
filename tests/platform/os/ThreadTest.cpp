#include "platform/os/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace platform {
namespace {

struct Context {
  std::atomic<int> runs{0};
  std::atomic<uint32_t> id{0};
  Event* release = nullptr;  // the body waits for it when given
};

unsigned Body(void* p) {
  auto* c = static_cast<Context*>(p);
  c->id = CurrentThreadId();
  if (c->release != nullptr) c->release->WaitOne(kInfinite);
  ++c->runs;
  return 42;
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
  Context c;
  Thread t(Body, &c, false);
  ASSERT_TRUE(t.Valid());
  const uint32_t id = t.Id();
  EXPECT_NE(id, 0u);
  EXPECT_FALSE(t.WaitOne(3));
  EXPECT_FALSE(t.IsDone());
  EXPECT_EQ(c.runs, 0);
  EXPECT_TRUE(t.Resume());
  EXPECT_TRUE(t.Resume());  // again: harmless
  ASSERT_TRUE(t.WaitOne(kInfinite));
  EXPECT_TRUE(t.IsDone());
  EXPECT_EQ(c.runs, 1);
  EXPECT_EQ(t.ExitCode(), 42u);
  EXPECT_EQ(t.Id(), c.id.load());
  EXPECT_EQ(t.Id(), id);
  EXPECT_NE(t.Id(), CurrentThreadId());
  EXPECT_TRUE(t.WaitOne(0));  // stays signalled
}

TEST(ThreadTest, NeverResumedThreadNeverRunsItsBody) {
  Context c;
  {
    Thread t(Body, &c, false);
    ASSERT_TRUE(t.Valid());
  }
  EXPECT_EQ(c.runs, 0);
}

TEST(ThreadTest, RunningThreadIsWaitedForAndTimesOutWhileBusy) {
  Event release(true, false);
  Context c;
  c.release = &release;
  Thread t(Body, &c, true);
  EXPECT_FALSE(t.WaitOne(2));
  EXPECT_EQ(t.ExitCode(), 0u);  // not finished yet
  std::vector<Waitable*> objects{&release, &t};
  EXPECT_EQ(Waitable::WaitMultiple(objects, false, 1), kWaitTimeout);
  release.Set();
  EXPECT_EQ(Waitable::WaitMultiple(objects, true, kInfinite), 0);
  EXPECT_EQ(c.runs, 1);
  EXPECT_EQ(t.ExitCode(), 42u);
}

TEST(ThreadTest, DestructorWaitsForARunningBody) {
  Event release(true, false);
  Context c;
  c.release = &release;
  {
    Thread t(Body, &c, true);
    release.Set();
  }
  EXPECT_EQ(c.runs, 1);
}

TEST(ThreadTest, PriorityIsRecorded) {
  Context c;
  Thread t(Body, &c, false);
  t.SetPriority(2);
  EXPECT_EQ(t.Priority(), 2);
}

TEST(ThreadTest, ProcessIdentity) {
  EXPECT_NE(CurrentThreadId(), 0u);
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
  EXPECT_NE(CurrentProcessId(), 0u);
  EXPECT_TRUE(IsProcessAlive(CurrentProcessId()));
  EXPECT_FALSE(IsProcessAlive(0));
  EXPECT_FALSE(IsProcessAlive(0xFFFFFFFFu));
}

} // namespace
} // namespace platform
