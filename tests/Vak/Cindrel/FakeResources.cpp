#include "tests/Vak/Cindrel/FakeResources.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Time.h"
#include "Vak/plugins/PluginSystem.h"

using Vak::PString;
using Vak::Resource;
using Vak::ResourceDatabase;
using Vak::UId;

namespace fake {

namespace {

constexpr const char* kImId = "F0000001-0000-0000-0000-0000000000F1";
constexpr const char* kLmTxtId = "F0000002-0000-0000-0000-0000000000F2";
constexpr const char* kNolId = "F0000003-0000-0000-0000-0000000000F3";

bool Has(const char* text, const char* word) { return std::string(text).find(word) != std::string::npos; }

class ImType : public Vak::ResourceTypeBase {
public:
  using ResourceTypeBase::ResourceTypeBase;
  Resource* Create(const PString& name, ResourceDatabase* database) override {
    return new FakeResource(name, database);
  }
  Resource* CreateOnTheFly(const PString& name, ResourceDatabase* database) override {
    ++Ctl().onTheFly;
    return std::string(name.c_str()).rfind("fly", 0) == 0 ? new FakeResource(name, database) : nullptr;
  }
};

class PlainType : public Vak::ResourceTypeBase {
public:
  using ResourceTypeBase::ResourceTypeBase;
  Resource* Create(const PString& name, ResourceDatabase* database) override { return new Resource(name, database); }
};

std::atomic<int64_t> gTicks{0};
int64_t Ticks() { return gTicks.load(); }

// Writes the plug-in configuration once and points the plug-in system at it.
class Environment : public ::testing::Environment {
public:
  void SetUp() override {
    const std::string group = Vak::ResourceTypeBase::kGroup;
    folder_.WriteFile("plugins.ini", "+PluginGroup=ResourceTypes:" + group + "\n" +
                                         "+Plugin=im:*:" + kImId + ":" + group + "\n" +
                                         "+Plugin=lm.txt:*:" + kLmTxtId + ":" + group + "\n" +
                                         "+Plugin=nol:*:" + kNolId + ":" + group + "\n");
    Vak::PluginSystem::SetFolders(folder_.Path().c_str(), folder_.Path().c_str());
  }
  void TearDown() override { Vak::PluginSystem::SetFolders(nullptr, nullptr); }

private:
  platform::test::TempFolder folder_;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

void Control::Reset() {
  gateOpen = true;
  gateWaiting = 0;
  onTheFly = 0;
  std::lock_guard<std::mutex> lock(mutex);
  loadOrder.clear();
}

std::vector<std::string> Control::LoadOrder() {
  std::lock_guard<std::mutex> lock(mutex);
  return loadOrder;
}

Control& Ctl() {
  static Control control;
  return control;
}

FakeResource::FakeResource(const PString& name, const ResourceDatabase* database) : Resource(name, database) {}

Resource::Result FakeResource::Load(const char* file) {
  ++loads;
  lastFile = file;
  loadThread = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(Ctl().mutex);
    Ctl().loadOrder.push_back(GetName().c_str());
  }
  if (Has(GetName().c_str(), "gate")) {
    ++Ctl().gateWaiting;
    WaitFor([] { return Ctl().gateOpen.load(); });
    --Ctl().gateWaiting;
  }
  if (Has(GetName().c_str(), "throwload")) throw std::runtime_error(std::string("cannot read ") + file);
  return Has(GetName().c_str(), "bad") ? RES_FAILED_TO_LOAD : RES_OK;
}

Resource::Result FakeResource::LoadTxt(const char* file) { return Load(file); }

Resource::Result FakeResource::LoadComplete() {
  ++completes;
  completeThread = std::this_thread::get_id();
  if (Has(GetName().c_str(), "throwcomplete")) throw std::runtime_error("cannot complete");
  return Has(GetName().c_str(), "nocomplete") ? RES_FAILED_TO_LOAD : RES_OK;
}

uint32_t FakeResource::CalculateDataSize() { return Has(GetName().c_str(), "big") ? 4000000 : 1000; }

bool FakeResource::Unload() {
  ++unloads;
  return true;
}

FakeResource* AsFake(Resource* resource) { return dynamic_cast<FakeResource*>(resource); }

void SetClockMs(int64_t ms) { gTicks = ms; }
void AdvanceClockMs(int64_t ms) { gTicks += ms; }

// --- Fixture ---------------------------------------------------------------------

void ResourceTest::SetUp() {
  Ctl().Reset();
  gTicks = 1000000;
  Vak::Time::SetClockSource(&Ticks, 1000);
}

void ResourceTest::TearDown() {
  Ctl().gateOpen = true;
  Stop();
  Vak::Time::SetClockSource(nullptr, 0);
}

void ResourceTest::Start(const char* optionText) {
  if (optionText) {
    options_ = std::make_unique<Vak::Options>();
    options_->ProcessRaw(optionText);
  }
  system_ = std::make_unique<Vak::ResourceSystem>();
  system_->Init(options_.get());
}

TestDatabase& ResourceTest::Meshes() {
  if (databases_.empty()) {
    EXPECT_TRUE(Vak::File::Subst(PString("meshes"), (folder_.Path().string() + "/").c_str(), false));
    databases_.push_back(std::make_unique<TestDatabase>("meshes"));
  }
  return *databases_.front();
}

void ResourceTest::Abandon() {
  for (auto& database : databases_) (void)database.release();
  databases_.clear();
  (void)system_.release();
}

bool ResourceTest::AccessIsFree(Resource* resource) {
  auto taken = std::make_shared<std::atomic<bool>>(false);
  Vak::ResourceSystem* system = system_.get();
  std::thread other([system, resource, taken] {
    system->LockAccess(resource);
    *taken = true;
    system->UnlockAccess(resource);
  });
  if (!WaitFor([&] { return taken->load(); })) {
    ADD_FAILURE() << "the access lock stayed taken";
    other.detach();
    Abandon();
    return false;
  }
  other.join();
  return true;
}

void ResourceTest::Stop() {
  databases_.clear();
  system_.reset();
  options_.reset();
}

} // namespace fake

// The running program's plug-in entry ("*").
extern "C" void VakGetPlugins() {
  ++fake::Ctl().typeLoads;
  new fake::ImType(PString("im"), UId(fake::kImId));
  new fake::ImType(PString("lm.txt"), UId(fake::kLmTxtId));
  new fake::PlainType(PString("nol"), UId(fake::kNolId));
}
