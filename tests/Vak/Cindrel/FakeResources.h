#pragma once
// Fake resource types for the resource-system tests, registered through the
// test program's own VakGetPlugins (library "*") from a "plugins.ini" the
// tests write. Types: "im" (binary files; on the fly for names starting with
// "fly"), "lm.txt" (text form), "nol" (plain resources without a load method).
// A name's words steer its fake: "bad" fails the read, "nocomplete" fails the
// completion, "gate" holds the read until the gate opens, "throwload" and
// "throwcomplete" throw std::runtime_error from the read or the completion.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Cindrel/Resource.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "tests/platform/os/TempFolder.h"

namespace fake {

struct Control {
  std::atomic<bool> gateOpen{true};
  std::atomic<int> gateWaiting{0};
  std::atomic<int> onTheFly{0};   // CreateOnTheFly calls
  std::atomic<int> typeLoads{0};  // VakGetPlugins calls
  std::mutex mutex;
  std::vector<std::string> loadOrder;  // names, in the order reads began

  void Reset();
  std::vector<std::string> LoadOrder();
};
Control& Ctl();

class FakeResource : public Vak::Resource {
public:
  FakeResource(const Vak::PString& name, const Vak::ResourceDatabase* database);

  Result Load(const char* file) override;
  Result LoadTxt(const char* file) override;
  Result LoadComplete() override;
  bool Unload() override;
  uint32_t CalculateSize() override { return 100; }
  uint32_t CalculateDataSize() override;

  void ForceState(int state) { SetState(state); }

  std::atomic<int> loads{0};
  std::atomic<int> completes{0};
  std::atomic<int> unloads{0};
  std::string lastFile;
  std::thread::id loadThread;
  std::thread::id completeThread;
};

// Counts observer calls.
class CountingObserver : public Vak::ResourceObserver {
public:
  void OnLoad(const Vak::Resource*) override { ++calls; }
  std::atomic<int> calls{0};
};

class TestDatabase : public Vak::ResourceDatabase {
public:
  explicit TestDatabase(const char* name) : ResourceDatabase(Vak::PString(name)) {}
  void AddFallback(Vak::ResourceDatabase* database) { fallbacks_.push_back(database); }
  void AddFolder(const char* folder) { folders_.emplace_back(folder); }
};

FakeResource* AsFake(Vak::Resource* resource);

// The kernel clock, driven by the tests (milliseconds).
void SetClockMs(int64_t ms);
void AdvanceClockMs(int64_t ms);

// Waits (polling, bounded) until the condition holds; false when it never did.
template <typename F>
bool WaitFor(F condition) {
  for (int i = 0; i < 20000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

// A resource system with the fake clock and, optionally, a database "meshes"
// over a temporary folder.
class ResourceTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the system from option text (null: no options object).
  void Start(const char* optionText);
  // The database "meshes" over folder_ (a substitute of that name).
  TestDatabase& Meshes();
  // Empties the system: databases first, then the system.
  void Stop();
  // Leaves the system and its databases behind for good: after a failure
  // that left a thread blocked in them.
  void Abandon();
  // Whether another thread takes and gives back the resource's access lock
  // (a test failure if not: that thread is then left blocked and the system
  // abandoned).
  bool AccessIsFree(Vak::Resource* resource);

  platform::test::TempFolder folder_;
  std::unique_ptr<Vak::Options> options_;
  std::unique_ptr<Vak::ResourceSystem> system_;
  std::vector<std::unique_ptr<TestDatabase>> databases_;
};

} // namespace fake
