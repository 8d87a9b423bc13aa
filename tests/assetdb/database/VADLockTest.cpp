#include "assetdb/VADLock.h"

#include "IPCTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "assetdb/PersistentRecordList.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADIPC.h"
#include "content/AppGlobals.h"
#include "Vak/Bexlorn/Thread.h"

namespace {

using ipctest::Database;
using ipctest::Peer;
using ipctest::Record;
using ipctest::RecordBytes;

// The load cycle as the lock sees it: the reload is counted, and the refresh
// thread takes and releases an exclusive lock as the real one does.
class FakeLoadCycle : public VADLoadCycle {
public:
  ~FakeLoadCycle() override { JoinRefresh(); }

  bool IsDatabaseOpen() override { return open; }
  void Reload() override {
    SharedLock& lock = VADLock::IndexLock();
    if (!lock.IsExclusive() || lock.ThreadHolds() == 0) ++reloadsNotExclusive;
    ++reloads;
  }
  void StartRefreshThread() override {
    ++refreshStarts;
    std::lock_guard<std::mutex> guard(threadLock_);
    if (refresh_ && refresh_->joinable()) refresh_->join();
    refresh_ = std::make_unique<std::thread>([] {
      VADLock lock;
      lock.Acquire(true);
    });
  }
  void JoinRefresh() {
    std::lock_guard<std::mutex> guard(threadLock_);
    if (refresh_ && refresh_->joinable()) refresh_->join();
  }

  std::atomic<bool> open{true};
  std::atomic<int> reloads{0};
  std::atomic<int> reloadsNotExclusive{0};
  std::atomic<int> refreshStarts{0};

private:
  std::mutex threadLock_;
  std::unique_ptr<std::thread> refresh_;
};

std::vector<int>& Delivered() {
  static std::vector<int> delivered;
  return delivered;
}
void Deliver(int flags) { Delivered().push_back(flags); }

class VADLockTest : public testing::Test {
protected:
  void SetUp() override {
    Delivered().clear();
    VADLock::SetLoadCycle(&cycle_);
    VADLock::SetChangeCallback(Deliver);
    VADLock::SetChangeNotified(false);
    ASSERT_TRUE(IPCOpen(db_.Index().c_str(), false));
  }
  void TearDown() override {
    cycle_.JoinRefresh();
    while (VADLock::IndexLock().ThreadHolds() > 0) VADLock::IndexLock().Release();
    VADLock::SetChangeCallback(nullptr);
    {
      // Delivering clears what a failed case left pending.
      VADLock lock;
      if (lock.Acquire(true).IsHeld()) VADLock::AddChangeFlags(0x01);
    }
    VADLock::SetLoadCycle(nullptr);
    IPCClose();
  }
  // The first lock after opening loads; later ones find the counters equal.
  void Load() {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(true).IsHeld());
    ASSERT_EQ(cycle_.reloads.load(), 1);
  }
  // As a write by another process.
  void OtherProcessWrites() {
    RecordBytes bytes(db_);
    bytes.Put32(ipc_record::kChangeCounter, bytes.Get32(ipc_record::kChangeCounter) + 1);
  }

  Database db_;
  FakeLoadCycle cycle_;
};

TEST_F(VADLockTest, WithoutAnOpenDatabaseNothingIsTaken) {
  cycle_.open = false;
  for (bool exclusive : {false, true}) {
    for (uint32_t flags : {0u, 1u, 2u, 4u, 5u}) {
      SCOPED_TRACE(testing::Message() << "exclusive " << exclusive << " flags " << flags);
      VADLock lock;
      lock.Acquire(exclusive, flags);
      EXPECT_EQ(lock.State(), 0);
      EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);
      EXPECT_FALSE(IPCIsOwner());
      lock.Release();
      EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);
    }
  }
  EXPECT_EQ(cycle_.reloads.load(), 0);
}

TEST_F(VADLockTest, ASharedLockThatFindsTheIndexChangedReloadsExclusively) {
  {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(false).IsHeld());
    EXPECT_TRUE(lock.IsExclusive());  // the first lock loads
    EXPECT_TRUE(IPCIsOwner());
  }
  {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(false).IsHeld());
    EXPECT_FALSE(lock.IsExclusive());
  }
  OtherProcessWrites();
  VADLock lock;
  ASSERT_TRUE(lock.Acquire(false).IsHeld());
  EXPECT_TRUE(lock.IsExclusive());
  EXPECT_TRUE(VADLock::IndexLock().IsExclusive());
  EXPECT_EQ(cycle_.reloads.load(), 2);
  EXPECT_EQ(cycle_.reloadsNotExclusive.load(), 0);
  EXPECT_FALSE(IPCChangeCounterDiffers());
  lock.Release();
  EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);
}

TEST_F(VADLockTest, ALockThatMayNotWaitLeavesTheReloadToTheRefreshThread) {
  Load();
  for (uint32_t flags : {1u, 2u, 5u}) {
    SCOPED_TRACE(testing::Message() << "flags " << flags);
    const int reloads = cycle_.reloads.load();
    const int starts = cycle_.refreshStarts.load();
    OtherProcessWrites();
    VADLock lock;
    EXPECT_FALSE(lock.Acquire(false, flags).IsHeld());
    EXPECT_EQ(VADLock::IndexLock().ThreadHolds(), 0u);  // the refresh thread may hold it already
    EXPECT_EQ(cycle_.refreshStarts.load(), starts + 1);
    cycle_.JoinRefresh();
    EXPECT_EQ(cycle_.reloads.load(), reloads + 1);
    EXPECT_EQ(cycle_.reloadsNotExclusive.load(), 0);
    EXPECT_TRUE(lock.Acquire(false, flags).IsHeld());
  }
}

TEST_F(VADLockTest, ANestedSharedLockThatFindsTheIndexChangedFails) {
  Load();
  VADLock outer;
  ASSERT_TRUE(outer.Acquire(false).IsHeld());
  OtherProcessWrites();
  VADLock inner;
  EXPECT_FALSE(inner.Acquire(false).IsHeld());
  EXPECT_EQ(cycle_.refreshStarts.load(), 1);
  EXPECT_TRUE(outer.IsHeld());
  EXPECT_EQ(VADLock::IndexLock().ThreadHolds(), 1u);
  EXPECT_EQ(cycle_.reloads.load(), 1);  // the refresh thread waits for the outer hold
  outer.Release();
  cycle_.JoinRefresh();
  EXPECT_EQ(cycle_.reloads.load(), 2);
}

TEST_F(VADLockTest, NestedExclusiveHoldsDeliverOnceAtTheOuterRelease) {
  Load();
  Delivered().clear();
  VADLock::AddExtraChangeFlags(0x80);
  {
    VADLock outer;
    ASSERT_TRUE(outer.Acquire(true).IsHeld());
    VADLock::AddChangeFlags(0x01);
    {
      VADLock inner;
      ASSERT_TRUE(inner.Acquire(true).IsHeld());
      VADLock::AddChangeFlags(0x40);
      {
        VADLock reader;  // a shared hold inside delivers nothing
        ASSERT_TRUE(reader.Acquire(false).IsHeld());
      }
    }
    EXPECT_TRUE(Delivered().empty());
    EXPECT_EQ(VADLock::PendingChangeFlags(), 0x41u);
    EXPECT_FALSE(VADLock::ChangeNotified());
  }
  EXPECT_EQ(Delivered(), std::vector<int>{0xC1});
  EXPECT_EQ(VADLock::PendingChangeFlags(), 0u);
  EXPECT_EQ(VADLock::ExtraChangeFlags(), 0u);
  EXPECT_TRUE(VADLock::ChangeNotified());
}

TEST_F(VADLockTest, HoldsThatChangeNothingCallNoCallback) {
  Load();
  Delivered().clear();
  VADLock::AddExtraChangeFlags(0x10);  // alone they are no reason to call
  {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(true).IsHeld());
  }
  EXPECT_TRUE(Delivered().empty());
  {
    VADLock lock;  // a shared hold leaves the changes to the next exclusive one
    ASSERT_TRUE(lock.Acquire(false).IsHeld());
    VADLock::AddChangeFlags(0x02);
  }
  EXPECT_TRUE(Delivered().empty());
  EXPECT_FALSE(VADLock::ChangeNotified());
  {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(true).IsHeld());
  }
  EXPECT_EQ(Delivered(), std::vector<int>{0x12});
}

TEST_F(VADLockTest, TheMainThreadsWaitIsCounted) {
  Load();
  Delivered().clear();
  SetMainThread();
  std::atomic<bool> taken{false};
  std::thread writer([&] {
    VADLock lock;
    ASSERT_TRUE(lock.Acquire(true).IsHeld());
    taken = true;
    VADLock::AddChangeFlags(0x20);
    EXPECT_TRUE(WaitUntil([] { return VADLock::MainThreadWaits() == 1; }));
  });
  ASSERT_TRUE(WaitUntil([&] { return taken.load(); }));
  EXPECT_EQ(VADLock::MainThreadWaits(), 0);
  {
    VADLock lock;
    EXPECT_TRUE(lock.Acquire(false).IsHeld());
    EXPECT_EQ(VADLock::MainThreadWaits(), 0);
  }
  writer.join();
  EXPECT_EQ(Delivered(), std::vector<int>{0x20});
}

TEST_F(VADLockTest, OwnershipHeldElsewhere) {
  Load();
  IPCReleaseOwnership();
  Peer owner(db_, "owner", {"open", "take", "await:" + db_.Scratch("go"), "release", "close"});
  ASSERT_TRUE(owner.Reaches("take 1"));

  VADLock lock;
  EXPECT_FALSE(lock.Acquire(true, VADLock::kTry | VADLock::kNoRequest).IsHeld());
  EXPECT_EQ(Record().requester, -1);
  EXPECT_FALSE(lock.Acquire(false, VADLock::kTimed).IsHeld());
  EXPECT_EQ(Record().requester, static_cast<int32_t>(Vak::Thread::GetProcessId()));
  EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);

  // Without flags the lock waits for the owner to let go.
  std::atomic<bool> held{false};
  std::thread waiter([&] {
    VADLock blocking;
    held = blocking.Acquire(true).IsHeld();
  });
  db_.Signal("go");
  waiter.join();
  EXPECT_TRUE(held.load());
  EXPECT_TRUE(IPCIsOwner());
  EXPECT_TRUE(owner.Ends());
}

TEST_F(VADLockTest, TheRecordListLookUpTakesTheLockShared) {
  Load();
  OtherProcessWrites();
  PersistentRecordList list;
  EXPECT_FALSE(list.Contains(KUID()));
  EXPECT_EQ(cycle_.reloads.load(), 2);
  EXPECT_EQ(VADLock::IndexLock().HoldCount(), 0u);
}

} // namespace
