#include "assets3d/OverlappedResourceSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Time.h"

namespace {

// Milliseconds that move only when the test says so.
class TestClock {
public:
  TestClock() { Vak::Time::SetClockSource(&Read, 1000); }
  ~TestClock() { Vak::Time::SetClockSource(nullptr, 0); }
  static void Set(int64_t ms) { now_.store(ms); }

private:
  static int64_t Read() { return now_.load(); }
  static inline std::atomic<int64_t> now_{1000000};
};

// Records the order its requests ran in; Load answers `result`.
class Request : public OverlappedResource {
public:
  Request(OverlappedResourceSystem* system, int id, std::vector<int>* ran = nullptr, bool result = true)
      : OverlappedResource(system, nullptr), id_(id), ran_(ran), result_(result) {}
  bool Load() override {
    ++loads;
    if (ran_ != nullptr) ran_->push_back(id_);
    return result_;
  }
  bool Complete() override {
    ++completions;
    return true;
  }
  std::atomic<int> loads{0};
  int completions = 0;

private:
  int id_;
  std::vector<int>* ran_;
  bool result_;
};

// A Load that tells when it started and returns once the test opens the gate.
class GatedRequest : public Request {
public:
  GatedRequest(OverlappedResourceSystem* system, Vak::WEvent* gate) : Request(system, 0), gate_(gate) {}
  bool Load() override {
    started.Set();
    gate_->Lock();
    return Request::Load();
  }
  Vak::WEvent started{true, false};

private:
  Vak::WEvent* gate_;
};

// Yields until `done` holds; false after a generous bound, so a fault fails
// the test instead of hanging it.
template <typename Predicate>
bool EventuallyTrue(Predicate done) {
  for (long i = 0; i < 100000000L; ++i) {
    if (done()) return true;
    std::this_thread::yield();
  }
  return false;
}

TEST(OverlappedResourceSystemTest, SubmitRefusesAFullQueueAndRequestsAlreadyWaiting) {
  OverlappedResourceSystem system(false);
  std::vector<std::unique_ptr<Request>> queued;
  for (int i = 0; i < OverlappedResourceSystem::kMaxQueued; ++i) {
    queued.push_back(std::make_unique<Request>(&system, i));
    ASSERT_TRUE(system.Submit(queued.back().get())) << i;
  }
  Request extra(&system, -1);
  EXPECT_FALSE(system.Submit(&extra));
  EXPECT_EQ(extra.GetState(), OverlappedResource::kIdle);
  EXPECT_EQ(system.GetQueuedCount(), OverlappedResourceSystem::kMaxQueued);
  // A place freed by a run takes the next request.
  ASSERT_TRUE(system.RunOneNow());
  EXPECT_TRUE(system.Submit(&extra));
}

TEST(OverlappedResourceSystemTest, SubmitByState) {
  struct Case {
    const char* name;
    int loadsBefore;      // runs of one-now before the second submit
    bool cancelBefore;
    bool accepted;
  } cases[] = {
      {"already queued", 0, false, false},
      {"done, not collected", 1, false, false},
      {"cancelled", 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OverlappedResourceSystem system(false);
    Request request(&system, 0);
    ASSERT_TRUE(system.Submit(&request));
    for (int i = 0; i < c.loadsBefore; ++i) ASSERT_TRUE(system.RunOneNow());
    if (c.cancelBefore) system.CancelOrWait(&request);
    EXPECT_EQ(system.Submit(&request), c.accepted);
    EXPECT_EQ(system.GetQueuedCount(), c.accepted || c.loadsBefore == 0 ? 1 : 0);
  }
}

TEST(OverlappedResourceSystemTest, LoadResultDecidesWhetherTheRequestIsCollected) {
  struct Case {
    bool loaded;
    int state;
    bool collected;
  } cases[] = {{true, OverlappedResource::kDone, true}, {false, OverlappedResource::kIdle, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loaded);
    OverlappedResourceSystem system(false);
    Request request(&system, 0, nullptr, c.loaded);
    ASSERT_TRUE(system.Submit(&request));
    ASSERT_TRUE(system.RunOneNow());
    EXPECT_EQ(request.GetState(), c.state);
    EXPECT_EQ(system.Collect(&request), c.collected);
    EXPECT_EQ(request.completions, c.collected ? 1 : 0);
    EXPECT_EQ(request.GetState(), OverlappedResource::kIdle);
    EXPECT_FALSE(system.Collect(&request));
    EXPECT_EQ(request.completions, c.collected ? 1 : 0);
  }
}

TEST(OverlappedResourceSystemTest, CancelledQueuedRequestNeverRuns) {
  OverlappedResourceSystem system(false);
  Request request(&system, 0);
  ASSERT_TRUE(system.Submit(&request));
  system.CancelOrWait(&request);
  EXPECT_EQ(request.GetState(), OverlappedResource::kCancelled);
  EXPECT_FALSE(system.RunOneNow());
  EXPECT_EQ(request.loads, 0);
  EXPECT_FALSE(system.Collect(&request));
}

TEST(OverlappedResourceSystemTest, RequestsRunOldestFirst) {
  struct Case {
    const char* name;
    std::vector<int64_t> createdAtMs;  // request i is made at this time, submitted in index order
    int cancelled;                     // index cancelled before the runs, or -1
    std::vector<int> order;
  } cases[] = {
      {"submitted oldest first", {10, 20, 30, 40}, -1, {0, 1, 2, 3}},
      {"submitted newest first", {40, 30, 20, 10}, -1, {3, 2, 1, 0}},
      {"scrambled", {30, 10, 50, 20, 40, 5, 60}, -1, {5, 1, 3, 0, 4, 2, 6}},
      {"oldest cancelled", {30, 10, 50, 20, 40, 5, 60}, 5, {1, 3, 0, 4, 2, 6}},
      {"middle cancelled", {30, 10, 50, 20, 40, 5, 60}, 0, {5, 1, 3, 4, 2, 6}},
      {"last cancelled", {30, 10, 50, 20, 40, 5, 60}, 6, {5, 1, 3, 0, 4, 2}},
  };
  TestClock clock;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OverlappedResourceSystem system(false);
    std::vector<int> ran;
    std::vector<std::unique_ptr<Request>> requests;
    for (size_t i = 0; i < c.createdAtMs.size(); ++i) {
      TestClock::Set(c.createdAtMs[i]);
      requests.push_back(std::make_unique<Request>(&system, static_cast<int>(i), &ran));
    }
    TestClock::Set(100);
    for (auto& request : requests) ASSERT_TRUE(system.Submit(request.get()));
    if (c.cancelled >= 0) system.CancelOrWait(requests[c.cancelled].get());
    for (int64_t now = 100; system.RunOneNow();) TestClock::Set(now += 7);
    EXPECT_EQ(ran, c.order);
    // Ages were taken at the last pick, at 100 + 7 * (runs - 1) ms.
    const size_t last = static_cast<size_t>(c.order.back());
    const int64_t lastPick = 100 + 7 * static_cast<int64_t>(c.order.size() - 1);
    EXPECT_FLOAT_EQ(requests[last]->GetAge(), static_cast<float>(lastPick - c.createdAtMs[last]) / 1000.0f);
  }
}

TEST(OverlappedResourceSystemTest, CancellingTheRunningRequestWaitsForItsLoad) {
  OverlappedResourceSystem system;
  Vak::WEvent gate(true, false);
  GatedRequest request(&system, &gate);
  ASSERT_TRUE(system.Submit(&request));
  ASSERT_TRUE(request.started.Lock());
  std::atomic<int> stateAfterCancel{-1};
  std::thread canceller([&] {
    system.CancelOrWait(&request);
    stateAfterCancel.store(request.GetState());
  });
  ASSERT_TRUE(EventuallyTrue([&] { return system.GetWaitingCount() == 1; }));
  EXPECT_EQ(stateAfterCancel.load(), -1);
  gate.Set();
  canceller.join();
  EXPECT_EQ(stateAfterCancel.load(), OverlappedResource::kDone);
  EXPECT_EQ(request.loads, 1);
  EXPECT_TRUE(system.Collect(&request));
}

// A Load that cancels its own request (its owner's clean-up run from the
// load) must not wait for itself.
TEST(OverlappedResourceSystemTest, LoadCancellingItsOwnRequestReturns) {
  struct Case {
    const char* name;
    bool worker;
  } cases[] = {{"worker", true}, {"run one now", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OverlappedResourceSystem system(c.worker);
    struct Context {
      OverlappedResourceSystem* system = nullptr;
      OverlappedResourceLink link;
      Vak::WEvent loaded{true, false};
    } context;
    context.system = &system;
    auto load = [](void* data) {
      auto* self = static_cast<Context*>(data);
      self->system->CancelOrWait(self->link.resource);
      self->loaded.Set();
      return true;
    };
    OverlappedResourceCallback::Make(&context.link, "self", &system, &context, load, nullptr);
    std::unique_ptr<OverlappedResource> request(context.link.resource);
    if (!c.worker) {
      ASSERT_TRUE(system.RunOneNow());
    }
    ASSERT_TRUE(context.loaded.Lock());
    system.Wait(request.get());
    EXPECT_EQ(request->GetState(), OverlappedResource::kDone);
  }
}

// Two callers per request, more callers than waiter slots.
TEST(OverlappedResourceSystemTest, EveryWaiterIsReleased) {
  OverlappedResourceSystem system;
  Vak::WEvent gate(true, false);
  constexpr int kRequests = OverlappedResourceSystem::kWaiterSlots / 2 + 1;
  std::vector<std::unique_ptr<GatedRequest>> requests;
  for (int i = 0; i < kRequests; ++i) {
    requests.push_back(std::make_unique<GatedRequest>(&system, &gate));
    ASSERT_TRUE(system.Submit(requests.back().get()));
  }
  std::vector<std::thread> waiters;
  for (auto& request : requests) {
    for (int i = 0; i < 2; ++i) waiters.emplace_back([&system, &request] { system.Wait(request.get()); });
  }
  ASSERT_TRUE(EventuallyTrue([&] { return system.GetWaitingCount() == 2 * kRequests; }));
  gate.Set();
  for (std::thread& waiter : waiters) waiter.join();
  for (auto& request : requests) {
    EXPECT_EQ(request->GetState(), OverlappedResource::kDone);
    EXPECT_EQ(request->loads, 1);
  }
}

TEST(OverlappedResourceSystemTest, CallbackRequestRunsItsCallbacksWithTheUserData) {
  struct Case {
    bool withLoad, withComplete, loadResult;
    int state;
    bool collected;
  } cases[] = {
      {true, true, true, OverlappedResource::kDone, true},
      {true, true, false, OverlappedResource::kIdle, false},
      {false, false, false, OverlappedResource::kDone, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.withLoad << c.withComplete << c.loadResult);
    OverlappedResourceSystem system(false);
    struct Data {
      bool loadResult;
      int loads = 0, completions = 0;
    } data{c.loadResult};
    auto load = [](void* d) {
      auto* self = static_cast<Data*>(d);
      ++self->loads;
      return self->loadResult;
    };
    auto complete = [](void* d) {
      ++static_cast<Data*>(d)->completions;
      return true;
    };
    OverlappedResourceLink link;
    OverlappedResourceCallback::Make(&link, c.withLoad ? nullptr : "named", &system, &data,
                                     c.withLoad ? +load : nullptr, c.withComplete ? +complete : nullptr);
    std::unique_ptr<OverlappedResource> request(link.resource);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->GetOwner(), &link);
    EXPECT_STREQ(request->GetName(), c.withLoad ? "unknown" : "named");
    EXPECT_EQ(request->GetState(), OverlappedResource::kQueued);
    ASSERT_TRUE(system.RunOneNow());
    EXPECT_EQ(request->GetState(), c.state);
    EXPECT_EQ(system.Collect(request.get()), c.collected);
    EXPECT_EQ(data.loads, c.withLoad ? 1 : 0);
    EXPECT_EQ(data.completions, c.collected && c.withComplete ? 1 : 0);
    request.reset();
    EXPECT_EQ(link.resource, nullptr);
  }
}

// Requests freed while the loader still lists them, and a loader stopped
// with requests queued and done.
TEST(OverlappedResourceSystemTest, LoaderNeverHoldsAFreedRequest) {
  OverlappedResourceSystem system(false);
  auto queued = std::make_unique<Request>(&system, 0);
  auto done = std::make_unique<Request>(&system, 1);
  ASSERT_TRUE(system.Submit(done.get()));
  ASSERT_TRUE(system.RunOneNow());
  ASSERT_TRUE(system.Submit(queued.get()));
  queued.reset();
  done.reset();
  EXPECT_EQ(system.GetQueuedCount(), 0);
  EXPECT_FALSE(system.RunOneNow());

  {
    auto* stopped = new OverlappedResourceSystem(false);
    Request waiting(stopped, 5);
    Request finished(stopped, 6);
    ASSERT_TRUE(stopped->Submit(&finished));
    ASSERT_TRUE(stopped->RunOneNow());
    ASSERT_TRUE(stopped->Submit(&waiting));
    delete stopped;
    EXPECT_EQ(waiting.GetState(), OverlappedResource::kIdle);
    EXPECT_EQ(finished.GetState(), OverlappedResource::kIdle);
  }
}

TEST(OverlappedResourceSystemTest, ProcessWidePointerIsTheFirstLoaderUntilItGoes) {
  ASSERT_EQ(OverlappedResourceSystem::Get(), nullptr);
  {
    OverlappedResourceSystem first(false);
    EXPECT_EQ(OverlappedResourceSystem::Get(), &first);
    {
      OverlappedResourceSystem second(false);
      EXPECT_EQ(OverlappedResourceSystem::Get(), &first);
    }
    EXPECT_EQ(OverlappedResourceSystem::Get(), &first);
  }
  EXPECT_EQ(OverlappedResourceSystem::Get(), nullptr);
}

} // namespace
