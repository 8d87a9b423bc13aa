#include "Vak/Cindrel/ResourceLoader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/Vak/Cindrel/FakeResources.h"
#include "tests/content/LogCapture.h"

namespace fake {
namespace {

using Vak::PString;
using Vak::Resource;
using Vak::ResourceSystem;

// The loader with a first request ("flygate.im", made on the fly) that it
// is busy reading until the gate opens, so what comes next stays queued.
class LoaderTest : public ResourceTest {
protected:
  void SetUp() override {
    ResourceTest::SetUp();
    Start(nullptr);
    Ctl().gateOpen = false;
    gate_ = Meshes().Get(PString("flygate.im"));
    ASSERT_NE(gate_, nullptr);
    ASSERT_TRUE(WaitFor([] { return Ctl().gateWaiting == 1; }));
    ASSERT_EQ(gate_->GetState(), Resource::kReading);
  }
  void TearDown() override {
    Ctl().gateOpen = true;
    ResourceTest::TearDown();
  }
  Vak::ResourceLoader& Loader() { return *system_->GetLoader(); }
  Resource* Request(const std::string& name) {
    Resource* r = Meshes().Get(PString(name.c_str()));
    EXPECT_NE(r, nullptr) << name;
    return r;
  }

  Resource* gate_ = nullptr;
};

// Urgency is age plus priority: the later request wins only when its
// priority makes up for the head start of the earlier one.
TEST_F(LoaderTest, LoadsByAgeAndPriority) {
  struct Case {
    const char* label;
    float firstPriority;
    int64_t gapMs;  // between the two requests
    float secondPriority;
    bool secondFirst;
  };
  const std::vector<Case> cases = {
      {"equal priority, older first", 0, 1000, 0, false},
      {"same age and priority, queued first", 0, 0, 0, false},
      {"priority 10 after 5 s overtakes", 0, 5000, 10, true},
      {"priority 3 after 5 s does not", 0, 5000, 3, false},
      {"higher priority of the older holds", 4, 5000, 8, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.label);
    const std::string tag = std::to_string(i);
    Resource* hold = gate_;
    if (i > 0) {  // the loader is idle again: busy it with a new gate
      Ctl().gateOpen = false;
      hold = Request("flygate" + tag + ".im");
      ASSERT_TRUE(WaitFor([] { return Ctl().gateWaiting == 1; }));
    }
    {
      std::lock_guard<std::mutex> lock(Ctl().mutex);
      Ctl().loadOrder.clear();
    }
    Resource* first = Request("flyfirst" + tag + ".im");
    first->SetPriority(c.firstPriority);
    AdvanceClockMs(c.gapMs);
    Resource* second = Request("flysecond" + tag + ".im");
    second->SetPriority(c.secondPriority);
    EXPECT_EQ(Loader().Count(), 2u);
    Ctl().gateOpen = true;
    ASSERT_TRUE(WaitFor([&] {
      return first->GetState() == Resource::kRead && second->GetState() == Resource::kRead;
    }));
    const std::vector<std::string> order = Ctl().LoadOrder();
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], c.secondFirst ? second->GetName().c_str() : first->GetName().c_str());
    while (system_->CompletionCount() > 0) system_->Update(0.0f);
    for (Resource* r : {hold, first, second}) {
      EXPECT_EQ(r->GetState(), Resource::kReady);
      EXPECT_EQ(r->GetReferenceCount(), 1u);  // the queue's hold is given back
      r->ReleaseReference();
    }
  }
}

TEST_F(LoaderTest, LockTakesAQueuedRequestOver) {
  Resource* r = Request("flyqueued.im");
  EXPECT_EQ(r->GetState(), Resource::kQueued);
  EXPECT_EQ(r->GetReferenceCount(), 2u);
  EXPECT_EQ(Loader().Count(), 1u);
  const uint32_t lockLoads = ResourceSystem::Stats().lockLoads;
  EXPECT_EQ(r->Lock(), Resource::RES_OK);
  EXPECT_EQ(Loader().Count(), 0u);
  EXPECT_EQ(r->GetState(), Resource::kReady);
  EXPECT_EQ(r->GetReferenceCount(), 1u);
  EXPECT_EQ(AsFake(r)->loadThread, std::this_thread::get_id());
  EXPECT_EQ(AsFake(r)->loads, 1);
  EXPECT_EQ(ResourceSystem::Stats().lockLoads - lockLoads, 1u);
  r->Unlock();
  r->ReleaseReference();
}

TEST_F(LoaderTest, LockWaitsForTheResourceBeingRead) {
  const uint32_t boosts = ResourceSystem::Stats().boosts;
  std::thread::id locker;
  Resource::Result result = Resource::RES_LOCK_FAILED;
  std::thread t([&] {
    locker = std::this_thread::get_id();
    result = gate_->Lock();
  });
  ASSERT_TRUE(WaitFor([&] { return ResourceSystem::Stats().boosts != boosts; }));
  Ctl().gateOpen = true;
  t.join();
  EXPECT_EQ(result, Resource::RES_OK);
  EXPECT_EQ(gate_->GetState(), Resource::kReady);
  EXPECT_EQ(AsFake(gate_)->loads, 1);  // read once, by the loader
  EXPECT_EQ(AsFake(gate_)->completes, 1);
  EXPECT_EQ(AsFake(gate_)->completeThread, locker);
  EXPECT_EQ(system_->CompletionCount(), 0u);
  gate_->Unlock();
}

TEST_F(LoaderTest, QueueHoldsAtMost5000Requests) {
  std::vector<Resource*> queued;
  for (unsigned i = 0; i < Vak::ResourceLoader::kCapacity; ++i) queued.push_back(Request("fly" + std::to_string(i) + ".im"));
  EXPECT_EQ(Loader().Count(), Vak::ResourceLoader::kCapacity);
  Resource* extra = Request("flyextra.im");
  EXPECT_EQ(extra->GetState(), Resource::kIdle);  // dropped: it loads when locked
  EXPECT_EQ(Loader().Count(), Vak::ResourceLoader::kCapacity);
  EXPECT_EQ(extra->GetReferenceCount(), 1u);
  for (Resource* r : queued) {
    EXPECT_TRUE(Loader().Cancel(r));
    EXPECT_EQ(r->GetState(), Resource::kIdle);
  }
  EXPECT_FALSE(Loader().Cancel(queued.front()));
  EXPECT_EQ(Loader().Count(), 0u);
}

// What a type throws on the loader thread has no caller to go to: the
// resource fails, the log names it and the reason, and the loader goes on to
// the next request.
TEST_F(ResourceTest, ThrowingReadOnTheLoaderIsLoggedAndTheLoaderGoesOn) {
  content::test::LogCapture log;
  Start(nullptr);
  Resource* thrower = Meshes().Get(PString("flythrowload.im"));
  ASSERT_NE(thrower, nullptr);
  if (!WaitFor([&] { return thrower->GetState() == Resource::kInvalid; })) {
    ADD_FAILURE() << "the loader thread ended holding its items mutex";
    Abandon();
    return;
  }
  Resource* next = Meshes().Get(PString("flynext.im"));
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(WaitFor([&] { return next->GetState() == Resource::kRead; }));
  system_->Update(0.0f);
  EXPECT_EQ(next->GetState(), Resource::kReady);
  EXPECT_EQ(thrower->GetReferenceCount(), 1u);  // the queue's hold is given back
  EXPECT_EQ(thrower->Lock(), Resource::RES_INVALID);
  const std::string text = log.Text();
  EXPECT_NE(text.find("ResourceLoader"), std::string::npos) << text;
  EXPECT_NE(text.find("flythrowload.im"), std::string::npos) << text;
  EXPECT_NE(text.find("cannot read"), std::string::npos) << text;
  for (Resource* r : {thrower, next}) r->ReleaseReference();
}

// Requests queued at the loader's first nap; naps taken while any of them
// still waited.
struct NapWatch {
  std::vector<FakeResource*> requests;
  std::atomic<bool> queued{false};
  std::atomic<int> napsWithRequestsWaiting{0};
};
NapWatch* gNapWatch = nullptr;

void WatchNap(Vak::ResourceLoader& loader) {
  if (!gNapWatch->queued.exchange(true)) {
    for (FakeResource* r : gNapWatch->requests) loader.Enqueue(r);
    return;
  }
  if (loader.Count() > 0) ++gNapWatch->napsWithRequestsWaiting;
}

// The loader takes a waiting request at once and naps only when none is
// ready; the order and the states are those of any load.
TEST_F(ResourceTest, LoaderNapsOnlyWhenNoRequestIsReady) {
  NapWatch watch;
  for (int i = 0; i < 5; ++i) {
    watch.requests.push_back(new FakeResource(PString(("nap" + std::to_string(i) + ".im").c_str()), nullptr));
    AdvanceClockMs(1);  // the older loads first
  }
  gNapWatch = &watch;
  Vak::ResourceLoader::SetNap(&WatchNap);
  Start(nullptr);
  EXPECT_TRUE(WaitFor([&] {
    for (FakeResource* r : watch.requests)
      if (r->GetState() != Resource::kRead) return false;
    return true;
  }));
  Stop();
  Vak::ResourceLoader::SetNap(nullptr);
  EXPECT_EQ(watch.napsWithRequestsWaiting, 0);
  EXPECT_EQ(Ctl().LoadOrder(), (std::vector<std::string>{"nap0.im", "nap1.im", "nap2.im", "nap3.im", "nap4.im"}));
  for (FakeResource* r : watch.requests) {
    EXPECT_EQ(r->loads, 1);
    EXPECT_EQ(r->GetReferenceCount(), 1u);  // the queue's hold is given back
    r->ReleaseHold();
  }
}

// Requests still queued when the system goes have their holds given back.
TEST_F(ResourceTest, DestroyingTheLoaderReleasesQueuedRequests) {
  Start(nullptr);
  Ctl().gateOpen = false;
  auto* gate = new FakeResource(PString("gate.im"), nullptr);
  Vak::ResourceLoader* loader = system_->GetLoader();
  loader->Enqueue(gate);
  ASSERT_TRUE(WaitFor([] { return Ctl().gateWaiting == 1; }));
  std::vector<FakeResource*> rs;
  for (int i = 0; i < 3; ++i) {
    rs.push_back(new FakeResource(PString(("q" + std::to_string(i) + ".im").c_str()), nullptr));
    loader->Enqueue(rs.back());
    EXPECT_EQ(rs.back()->GetReferenceCount(), 2u);
  }
  loader->Enqueue(rs.front());  // already queued: nothing more
  EXPECT_EQ(rs.front()->GetReferenceCount(), 2u);
  EXPECT_EQ(loader->Count(), 3u);
  const std::atomic<bool>& stopping = loader->Stopping();
  std::thread opener([&] {
    WaitFor([&] { return stopping.load(); });
    Ctl().gateOpen = true;
  });
  system_.reset();
  opener.join();
  for (FakeResource* r : rs) {
    EXPECT_EQ(r->GetReferenceCount(), 1u);
    EXPECT_EQ(r->GetState(), Resource::kIdle);
    EXPECT_EQ(r->loads, 0);
    r->ReleaseHold();
  }
  EXPECT_EQ(gate->GetReferenceCount(), 1u);
  gate->ReleaseHold();
}

} // namespace
} // namespace fake
