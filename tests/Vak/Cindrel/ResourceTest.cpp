#include "Vak/Cindrel/Resource.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/Vak/Cindrel/FakeResources.h"

namespace fake {
namespace {

using Vak::PString;
using Vak::Resource;

TEST(ResourceResultsTest, NamesTextsAndStateNames) {
  struct Case {
    unsigned code;
    const char* name;
    const char* text;
  };
  const std::vector<Case> cases = {
      {1, "RES_FAILED_TO_LOAD", "Failed to load resource"},
      {2, "RES_NOT_AVAILABLE", "Resource not available"},
      {3, "RES_LOCK_TIMEOUT", "Lock timed out"},
      {4, "RES_LOCK_FAILED", "Failed to lock resource"},
      {5, "RES_PARTIAL_LOAD", "Resource is partially loaded"},
      {6, "RES_NO_LOAD_METHOD", "No load method provided for resource"},
      {7, "RES_INVALID", "Unable to load resource or is missing"},
  };
  for (const Case& c : cases) {
    Resource::Result result(static_cast<Resource::Results>(c.code));
    EXPECT_STREQ(result.Name(), c.name);
    EXPECT_STREQ(result.Text(), c.text);
  }
  const char* names[] = {"None", "Ready", "Cached", "Loading", "Loaded", "Locking", "Available", "Inactive",
                         "Invalid", "Delete"};
  for (int state = 0; state < Resource::kStateCount; ++state) EXPECT_STREQ(Resource::StateName(state), names[state]);
  EXPECT_STREQ(Resource::StateName(10), "");
}

// Without caching every load goes through Lock on the calling thread.
TEST_F(ResourceTest, LockLoadsSynchronouslyAndSettlesTheState) {
  struct Case {
    const char* file;  // written into the folder; the resource's name
    Resource::Results first, second;
    int state;
    int loads;  // reads after both locks
  };
  const std::vector<Case> cases = {
      {"tree.im", Resource::RES_OK, Resource::RES_OK, Resource::kReady, 1},
      {"bad.im", Resource::RES_FAILED_TO_LOAD, Resource::RES_INVALID, Resource::kInvalid, 1},
      {"nocomplete.im", Resource::RES_FAILED_TO_LOAD, Resource::RES_INVALID, Resource::kInvalid, 1},
      {"plain.nol", Resource::RES_FAILED_TO_LOAD, Resource::RES_INVALID, Resource::kInvalid, 0},
  };
  Start("-ResourceCaching=off");
  ASSERT_EQ(system_->GetLoader(), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    folder_.WriteFile(c.file, "x");
    Resource* r = Meshes().Get(PString(c.file));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->GetState(), Resource::kIdle);  // nothing queues it
    EXPECT_EQ(r->Lock(), c.first);
    EXPECT_EQ(r->Lock(), c.second);
    EXPECT_EQ(r->GetState(), c.state);
    EXPECT_EQ(r->GetLockCount(), c.state == Resource::kReady ? 2 : 0);
    if (FakeResource* f = AsFake(r)) {
      EXPECT_EQ(f->loads, c.loads);
      EXPECT_EQ(f->lastFile, "meshes:" + std::string(c.file));
      EXPECT_EQ(f->loadThread, std::this_thread::get_id());
    }
    EXPECT_EQ(r->IsAllLoaded(), c.state == Resource::kReady ? Resource::RES_OK : Resource::RES_FAILED_TO_LOAD);
    r->Unlock();
    EXPECT_EQ(r->GetLockCount(), c.state == Resource::kReady ? 1 : 0);
    r->Unlock();
    r->Unlock();  // never below 0
    EXPECT_EQ(r->GetLockCount(), 0);
    EXPECT_EQ(r->GetSynchronousLoads(), 1u);
    EXPECT_EQ(r->LoadAll(), c.state == Resource::kReady);
    EXPECT_EQ(r->GetLockCount(), 0);
    r->ReleaseReference();
  }
}

// A failed or throwing read or completion must give the access lock back, so
// another thread can take it, and leave the resource failed rather than
// half-way; what a type throws reaches the caller of Lock.
TEST_F(ResourceTest, FailedOrThrowingLoadReleasesTheAccessLock) {
  struct Case {
    const char* file;
    bool throws;
  };
  const std::vector<Case> cases = {
      {"nocomplete.im", false},
      {"throwload.im", true},
      {"throwcomplete.im", true},
  };
  Start("-ResourceCaching=off");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    folder_.WriteFile(c.file, "x");
    Resource* r = Meshes().Get(PString(c.file));
    ASSERT_NE(r, nullptr);
    if (c.throws)
      EXPECT_THROW(r->Lock(), std::runtime_error);
    else
      EXPECT_EQ(r->Lock(), Resource::RES_FAILED_TO_LOAD);
    EXPECT_EQ(r->GetState(), Resource::kInvalid);
    EXPECT_EQ(r->GetLockCount(), 0);
    if (!AccessIsFree(r)) return;
    EXPECT_EQ(r->Lock(), Resource::RES_INVALID);
    EXPECT_EQ(AsFake(r)->loads, 1);
    r->ReleaseReference();
  }
}

TEST_F(ResourceTest, ObserversAreToldOnceOnTheCompletingThread) {
  Start("-ResourceCaching=off");
  folder_.WriteFile("tree.im", "x");
  Resource* r = Meshes().Get(PString("tree.im"));
  ASSERT_NE(r, nullptr);
  CountingObserver before, twice, removed, after;
  r->AddObserver(&before);
  r->AddObserver(&twice);
  r->AddObserver(&twice);  // duplicates are kept
  r->AddObserver(&removed);
  r->RemoveObserver(&removed);
  EXPECT_EQ(r->ObserverCount(), 3u);
  ASSERT_EQ(r->Lock(), Resource::RES_OK);
  EXPECT_TRUE(r->HasNotified());
  EXPECT_EQ(before.calls, 1);
  EXPECT_EQ(twice.calls, 2);
  EXPECT_EQ(removed.calls, 0);
  r->AddObserver(&after);  // already notified: called at once, not stored
  EXPECT_EQ(after.calls, 1);
  EXPECT_EQ(r->ObserverCount(), 3u);
  ASSERT_EQ(r->Lock(), Resource::RES_OK);  // Ready: no second notification
  EXPECT_EQ(before.calls, 1);
  r->Unlock();
  r->Unlock();
  r->ReleaseReference();
}

// Many threads lock one resource at once: it is read and completed once,
// and every lock succeeds.
TEST_F(ResourceTest, ConcurrentLocksLoadOnce) {
  Start("-ResourceCaching=off");
  folder_.WriteFile("tree.im", "x");
  Resource* r = Meshes().Get(PString("tree.im"));
  ASSERT_NE(r, nullptr);
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 12; ++i)
    threads.emplace_back([&] {
      if (r->Lock() == Resource::RES_OK) ++ok;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ok, 12);
  EXPECT_EQ(AsFake(r)->loads, 1);
  EXPECT_EQ(AsFake(r)->completes, 1);
  EXPECT_EQ(r->GetLockCount(), 12);
  r->ReleaseReference();
}

TEST_F(ResourceTest, SizesFeedTheTotalsOnceEach) {
  Start("-ResourceCaching=off -ResourceMemory=1000");
  folder_.WriteFile("tree.im", "x");
  Vak::ResourceSystem::Counters& counters = system_->GetCounters();
  Resource* r = Meshes().Get(PString("tree.im"));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(counters.resources, 1u);
  EXPECT_EQ(counters.bytes, 100u);
  EXPECT_EQ(counters.loadedBytes, 0u);
  ASSERT_EQ(r->Lock(), Resource::RES_OK);
  EXPECT_EQ(counters.loaded, 1u);
  EXPECT_EQ(counters.loadedBytes, 1000u);
  r->Unlock();
  r->ReleaseReference();
  databases_.clear();  // the database goes, and with it the resource
  EXPECT_EQ(counters.resources, 0u);
  EXPECT_EQ(counters.bytes, 0u);
  EXPECT_EQ(counters.loaded, 0u);
  EXPECT_EQ(counters.loadedBytes, 0u);
}

TEST_F(ResourceTest, ResourceWithoutDatabaseIsFreedByItsLastUse) {
  Start(nullptr);
  auto* r = new FakeResource(PString("loose.im"), nullptr);
  EXPECT_EQ(r->GetState(), Resource::kIdle);
  EXPECT_FALSE(r->ReleaseReference());  // no use to give back
  EXPECT_EQ(r->GetReferenceCount(), 1u);
  const uint32_t alive = Vak::ResourceSystem::Stats().alive;
  r->AddHold();
  EXPECT_FALSE(r->ReleaseHold());
  EXPECT_TRUE(r->ReleaseHold());
  EXPECT_EQ(Vak::ResourceSystem::Stats().alive, alive - 1);
}

// The last use given back through ReleaseAndDrop lets a Ready resource go at
// once, with its share of the totals, and the next Get reads it anew; one
// still used, locked or not Ready stays in its database.
TEST_F(ResourceTest, ReleaseAndDropLetsAnUnusedReadyResourceGo) {
  Start("-ResourceCaching=off -ResourceMemory=1000");
  folder_.WriteFile("tree.im", "x");
  folder_.WriteFile("bad.im", "x");
  Vak::ResourceSystem::Counters& counters = system_->GetCounters();
  const uint32_t alive = Vak::ResourceSystem::Stats().alive;

  Resource* r = Meshes().Get(PString("tree.im"));
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->Lock(), Resource::RES_OK);
  Resource* again = Meshes().Get(PString("tree.im"));
  ASSERT_EQ(again, r);
  EXPECT_FALSE(again->ReleaseAndDrop());  // another use remains
  EXPECT_TRUE(r->ReleaseAndDrop());       // locked: kept
  EXPECT_EQ(Meshes().Count(), 1u);
  r->Unlock();
  ASSERT_EQ(Meshes().Get(PString("tree.im")), r);
  EXPECT_TRUE(r->ReleaseAndDrop());
  EXPECT_EQ(Meshes().Count(), 0u);
  EXPECT_EQ(Vak::ResourceSystem::Stats().alive, alive);
  EXPECT_EQ(counters.resources, 0u);
  EXPECT_EQ(counters.bytes, 0u);
  EXPECT_EQ(counters.loaded, 0u);
  EXPECT_EQ(counters.loadedBytes, 0u);

  Resource* fresh = Meshes().Get(PString("tree.im"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->GetState(), Resource::kIdle);
  ASSERT_EQ(fresh->Lock(), Resource::RES_OK);
  EXPECT_EQ(AsFake(fresh)->loads, 1);
  fresh->Unlock();
  EXPECT_TRUE(fresh->ReleaseAndDrop());

  // A failed load stays remembered, so it is not read again.
  Resource* bad = Meshes().Get(PString("bad.im"));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->Lock(), Resource::RES_FAILED_TO_LOAD);
  EXPECT_TRUE(bad->ReleaseAndDrop());
  EXPECT_EQ(Meshes().Count(), 1u);
  EXPECT_EQ(Meshes().Get(PString("bad.im")), nullptr);
}

} // namespace
} // namespace fake
