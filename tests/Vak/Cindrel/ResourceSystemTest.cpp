#include "Vak/Cindrel/ResourceSystem.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/OS.h"
#include "Vak/Cindrel/ResourceBin.h"
#include "tests/Vak/Cindrel/FakeResources.h"

namespace fake {
namespace {

using Vak::PString;
using Vak::Resource;
using Vak::ResourceSystem;

// Resources outside any database, destroyed with the test.
struct Loose {
  explicit Loose(int n, const char* prefix = "r") {
    for (int i = 0; i < n; ++i)
      items.push_back(new FakeResource(PString((std::string(prefix) + std::to_string(i) + ".im").c_str()), nullptr));
  }
  ~Loose() {
    for (FakeResource* r : items) r->ReleaseHold();
  }
  std::vector<FakeResource*> items;
};

TEST_F(ResourceTest, InitReadsItsOptions) {
  struct Case {
    const char* options;  // null: no options object
    bool caching;
    uint32_t budget;
    bool instant;
  };
  const std::vector<Case> cases = {
      {nullptr, true, 0, false},
      {"", true, 30000000, false},
      {"-ResourceMemory=5", true, 10000000, false},
      {"-ResourceMemory=10", true, 10000000, false},
      {"-ResourceMemory=11", true, 11000000, false},
      {"-ResourceMemory=5000", true, 0xFFFFFFFFu, false},  // no wrap-around
      {"-ResourceInstantBin", true, 30000000, true},
      {"-ResourceInstantBin=off", true, 30000000, true},  // present is enough
      {"-ResourceCaching=off", false, 30000000, false},
      {"-ResourceCaching=on", true, 30000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options ? c.options : "(none)");
    Start(c.options);
    EXPECT_EQ(ResourceSystem::Current(), system_.get());
    EXPECT_EQ(system_->IsCaching(), c.caching);
    EXPECT_EQ(system_->GetLoader() != nullptr, c.caching);
    EXPECT_EQ(system_->GetCounters().budget, c.budget);
    EXPECT_EQ(dynamic_cast<Vak::ResourceBinInstant*>(system_->GetBin()) != nullptr, c.instant);
    EXPECT_EQ(dynamic_cast<Vak::ResourceBinCache*>(system_->GetBin()) != nullptr, !c.instant);
    EXPECT_EQ(system_->GetTask(), nullptr);  // no task manager here
    Stop();
    EXPECT_EQ(ResourceSystem::Current(), nullptr);
  }
}

TEST_F(ResourceTest, TaskStepsTheSystem) {
  ASSERT_TRUE(Vak::OS::Init());
  Start(nullptr);
  Vak::ResourceSystemTask* task = system_->GetTask();
  ASSERT_NE(task, nullptr);
  EXPECT_STREQ(task->GetName().c_str(), "ResourceSystem");
  EXPECT_FLOAT_EQ(task->Priority(), 5.0f);
  EXPECT_EQ(task->Step(0.25f), 0);
  EXPECT_FLOAT_EQ(system_->GetClock(), 0.25f);
  Stop();
  Vak::OS::Shutdown();
}

TEST_F(ResourceTest, TypesAreFoundByExtension) {
  struct Case {
    const char* name;
    bool textForm;
    const char* type;  // null: none made
  };
  const std::vector<Case> cases = {
      {"Tree.IM", false, "im"},      {"meshes/tree.im", false, "im"}, {"x.lm", true, "lm.txt"},
      {"X.LM", true, "lm.txt"},      {"x.lm", false, nullptr},       {"noext", false, nullptr},
      {"a.unknown", false, nullptr}, {"x.", false, nullptr},
  };
  Start(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Resource* r = system_->CreateByExtension(PString(c.name), nullptr, c.textForm);
    ASSERT_EQ(r != nullptr, c.type != nullptr);
    if (!r) continue;
    ASSERT_NE(r->GetType(), nullptr);
    EXPECT_STREQ(r->GetType()->GetName().c_str(), c.type);
    EXPECT_EQ(r->IsTextForm(), c.textForm);
    EXPECT_STREQ(r->GetName().c_str(), c.name);
    r->ReleaseHold();
  }
}

TEST_F(ResourceTest, CreationOnTheFlyFallsBackToTheTextType) {
  Start(nullptr);
  Resource* binary = system_->CreateOnTheFly(PString("fly.im"), nullptr);
  ASSERT_NE(binary, nullptr);
  EXPECT_FALSE(binary->IsTextForm());
  Resource* text = system_->CreateOnTheFly(PString("fly.lm"), nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->IsTextForm());
  EXPECT_STREQ(text->GetType()->GetName().c_str(), "lm.txt");
  EXPECT_EQ(system_->CreateOnTheFly(PString("tree.im"), nullptr), nullptr);  // the type declines
  EXPECT_EQ(system_->CreateOnTheFly(PString("fly.zzz"), nullptr), nullptr);  // no type
  Resource* instance = binary->CreateInstance(PString("fly2.im"));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->GetType(), binary->GetType());
  EXPECT_EQ(instance->GetFileName(), binary->GetFileName());
  for (Resource* r : {binary, text, instance}) r->ReleaseHold();
}

// The system holds the plug-in system for its life: the program's types are
// registered once however often they are looked up.
TEST_F(ResourceTest, KeepsThePluginSystemForItsLife) {
  Start(nullptr);
  const int loads = Ctl().typeLoads;
  for (int i = 0; i < 3; ++i) {
    Resource* r = system_->CreateByExtension(PString("tree.im"), nullptr, false);
    ASSERT_NE(r, nullptr);
    r->ReleaseHold();
  }
  EXPECT_EQ(Ctl().typeLoads - loads, 1);
}

TEST_F(ResourceTest, CompletionTakesAQuarterButAtLeastFive) {
  struct Case {
    int queued, completed;
  };
  const std::vector<Case> cases = {{3, 3}, {5, 5}, {8, 5}, {40, 10}, {400, 100}};
  Start(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queued);
    Loose loose(c.queued);
    for (FakeResource* r : loose.items) {
      r->ForceState(Resource::kReading);
      ASSERT_TRUE(system_->QueueCompletion(r));
      EXPECT_EQ(r->GetState(), Resource::kRead);
    }
    EXPECT_FALSE(system_->QueueCompletion(loose.items[0]));  // not being read
    system_->Update(0.0f);
    int ready = 0;
    for (FakeResource* r : loose.items) ready += r->GetState() == Resource::kReady;
    EXPECT_EQ(ready, c.completed);
    EXPECT_EQ(system_->CompletionCount(), static_cast<std::size_t>(c.queued - c.completed));
    while (system_->CompletionCount() > 0) system_->Update(0.0f);
  }
}

TEST_F(ResourceTest, CachingOffSkipsCompletion) {
  Start("-ResourceCaching=off");
  Loose loose(1);
  loose.items[0]->ForceState(Resource::kReading);
  ASSERT_TRUE(system_->QueueCompletion(loose.items[0]));
  system_->Update(0.0f);
  EXPECT_EQ(loose.items[0]->GetState(), Resource::kRead);
  EXPECT_EQ(loose.items[0]->Lock(), Resource::RES_OK);  // completed by the lock instead
  EXPECT_EQ(system_->CompletionCount(), 0u);
}

// A completion that throws on the stepping thread leaves that resource
// failed with its access lock free; the resources taken after it wait, in
// their order, for the next step.
TEST_F(ResourceTest, ThrowingCompletionInUpdateKeepsTheRestQueued) {
  Start(nullptr);
  Loose loose(1, "throwcomplete");
  Loose rest(3);
  std::vector<FakeResource*> all = {loose.items[0], rest.items[0], rest.items[1], rest.items[2]};
  for (FakeResource* r : all) {
    r->ForceState(Resource::kReading);
    ASSERT_TRUE(system_->QueueCompletion(r));
  }
  EXPECT_THROW(system_->Update(0.0f), std::runtime_error);
  EXPECT_EQ(loose.items[0]->GetState(), Resource::kInvalid);
  EXPECT_EQ(system_->CompletionCount(), 3u);
  for (FakeResource* r : all) EXPECT_EQ(r->GetReferenceCount(), 1u) << r->GetName().c_str();
  if (!AccessIsFree(loose.items[0])) return;

  struct Recorder : Vak::ResourceObserver {
    void OnLoad(const Resource* r) override { names.push_back(r->GetName().c_str()); }
    std::vector<std::string> names;
  } recorder;
  for (FakeResource* r : rest.items) r->AddObserver(&recorder);
  system_->Update(0.0f);
  EXPECT_EQ(recorder.names, (std::vector<std::string>{"r0.im", "r1.im", "r2.im"}));
  for (FakeResource* r : rest.items) {
    EXPECT_EQ(r->GetState(), Resource::kReady) << r->GetName().c_str();
    EXPECT_EQ(r->completes, 1);
  }
  EXPECT_EQ(system_->CompletionCount(), 0u);
}

// Update and Lock race to complete the same read resources: each is
// completed exactly once.
TEST_F(ResourceTest, ReadResourcesAreCompletedOnce) {
  Start(nullptr);
  Loose loose(300);
  for (FakeResource* r : loose.items) {
    r->ForceState(Resource::kReading);
    ASSERT_TRUE(system_->QueueCompletion(r));
  }
  std::atomic<bool> done{false};
  std::thread stepper([&] {
    while (!done) system_->Update(0.001f);
  });
  std::vector<std::thread> lockers;
  for (int t = 0; t < 3; ++t)
    lockers.emplace_back([&, t] {
      for (std::size_t i = t; i < loose.items.size(); i += 2) EXPECT_EQ(loose.items[i]->Lock(), Resource::RES_OK);
    });
  for (std::thread& t : lockers) t.join();
  EXPECT_TRUE(WaitFor([&] { return system_->CompletionCount() == 0; }));
  done = true;
  stepper.join();
  for (FakeResource* r : loose.items) {
    EXPECT_EQ(r->completes, 1) << r->GetName().c_str();
    EXPECT_EQ(r->GetState(), Resource::kReady);
  }
}

// Eight resources held; a ninth waits for a slot, and gets one as soon as
// any holder lets go.
TEST_F(ResourceTest, NinthResourceWaitsForAnAccessSlot) {
  Start(nullptr);
  Loose loose(9);
  std::atomic<int> locked{0};
  std::atomic<bool> release[8] = {};
  std::vector<std::thread> holders;
  for (int i = 0; i < 8; ++i)
    holders.emplace_back([&, i] {
      system_->LockAccess(loose.items[i]);
      ++locked;
      WaitFor([&] { return release[i].load(); });
      system_->UnlockAccess(loose.items[i]);
    });
  ASSERT_TRUE(WaitFor([&] { return locked == 8; }));
  std::atomic<bool> ninth{false};
  std::thread waiter([&] {
    system_->LockAccess(loose.items[8]);
    ninth = true;
    system_->UnlockAccess(loose.items[8]);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ninth);
  release[3] = true;
  EXPECT_TRUE(WaitFor([&] { return ninth.load(); }));
  for (auto& r : release) r = true;
  for (std::thread& t : holders) t.join();
  waiter.join();
}

// More resources than slots, many threads: no two threads are ever inside
// the access lock of one resource, and nothing deadlocks.
TEST_F(ResourceTest, AccessLockExcludesPerResourceUnderContention) {
  Start(nullptr);
  constexpr int kResources = 12;
  Loose loose(kResources);
  std::atomic<int> inside[kResources] = {};
  std::atomic<int> violations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 24; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const int k = (t * 7 + i * 5) % kResources;
        system_->LockAccess(loose.items[k]);
        if (inside[k].fetch_add(1) != 0) ++violations;
        std::this_thread::yield();
        inside[k].fetch_sub(1);
        system_->UnlockAccess(loose.items[k]);
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(violations, 0);
}

// Over budget, the memory check hands unused Ready resources to the bin and
// leaves those in use (held or locked) loaded.
TEST_F(ResourceTest, MemoryCheckBinsOnlyUnusedResources) {
  Start("-ResourceCaching=off -ResourceMemory=10");
  const char* names[] = {"big0.im", "big1.im", "big2.im", "big3.im", "bigheld.im", "biglocked.im"};
  std::vector<Resource*> rs;
  for (const char* name : names) {
    folder_.WriteFile(name, "x");
    Resource* r = Meshes().Get(PString(name));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->Lock(), Resource::RES_OK);
    rs.push_back(r);
  }
  for (int i = 0; i < 4; ++i) {
    rs[i]->Unlock();
    rs[i]->ReleaseReference();
  }
  rs[5]->ReleaseReference();  // locked, but nobody holds it
  EXPECT_GT(system_->InUse(), 10000000);
  system_->Update(0.2f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rs[i]->GetState(), Resource::kCached) << names[i];
  for (int i = 4; i < 6; ++i) {
    EXPECT_EQ(rs[i]->GetState(), Resource::kReady) << names[i];
    EXPECT_EQ(AsFake(rs[i])->unloads, 0);
  }
  EXPECT_EQ(system_->GetCounters().inBin, 4u);
  EXPECT_EQ(system_->InUse(), 2 * 4000100);
  rs[4]->Unlock();
  rs[4]->ReleaseReference();
  rs[5]->Unlock();
}

} // namespace
} // namespace fake
