// 10,000 small resources of one database: requested with Get, read by the
// loader thread and completed by Update, against loading the same resources
// on the calling thread with Lock. The ratio of the two times is printed at
// the end; the loader's path should stay within 3 times the Lock path.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Cindrel/Resource.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceLoader.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "Vak/plugins/PluginSystem.h"

namespace {

constexpr int kResources = 10000;
constexpr const char* kTypeId = "BE0C0001-0000-0000-0000-00000000BE0C";
constexpr const char* kSubstitute = "resbench";

// Reads its whole (small) file.
class SmallResource : public Vak::Resource {
public:
  using Resource::Resource;
  Result Load(const char* file) override {
    Vak::File f;
    if (!f.Open(file, Vak::File::kRead).Ok()) return RES_FAILED_TO_LOAD;
    char buffer[256];
    bytes_ = f.Read(buffer, 1, sizeof buffer);
    f.Close();
    return RES_OK;
  }
  uint32_t CalculateDataSize() override { return bytes_; }

private:
  uint32_t bytes_ = 0;
};

class SmallType : public Vak::ResourceTypeBase {
public:
  using ResourceTypeBase::ResourceTypeBase;
  Vak::Resource* Create(const Vak::PString& name, Vak::ResourceDatabase* database) override {
    return new SmallResource(name, database);
  }
};

class BenchDatabase : public Vak::ResourceDatabase {
public:
  BenchDatabase() : ResourceDatabase(Vak::PString(kSubstitute)) {}
};

// The folder of resource files and the plug-in configuration, made once.
struct Fixture {
  std::filesystem::path folder;
  std::vector<Vak::PString> names;

  Fixture() {
    folder = bench::ScratchPath("resources");
    std::filesystem::create_directories(folder);
    const std::string group = Vak::ResourceTypeBase::kGroup;
    std::ofstream(folder / "plugins.ini") << "+PluginGroup=ResourceTypes:" << group << "\n"
                                          << "+Plugin=rbn:*:" << kTypeId << ":" << group << "\n";
    Vak::PluginSystem::SetFolders(folder.c_str(), folder.c_str());
    const std::string payload(64, 'r');
    for (int i = 0; i < kResources; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "r%05d.rbn", i);
      std::ofstream(folder / name, std::ios::binary) << payload;
      names.emplace_back(name);
    }
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

// One system and its database for one run.
struct Run {
  explicit Run(bool caching) {
    options.ProcessRaw(caching ? "-ResourceMemory=1000" : "-ResourceMemory=1000 -ResourceCaching=off");
    system = std::make_unique<Vak::ResourceSystem>();
    system->Init(&options);
    Vak::File::Subst(Vak::PString(kSubstitute), (Files().folder.string() + "/").c_str(), false);
    database = std::make_unique<BenchDatabase>();
  }
  ~Run() {
    database.reset();
    system.reset();
  }
  Vak::Options options;
  std::unique_ptr<Vak::ResourceSystem> system;
  std::unique_ptr<BenchDatabase> database;
};

double gLoaderSeconds = 0;
double gLockSeconds = 0;

void ReleaseAll(const std::vector<Vak::Resource*>& resources) {
  for (Vak::Resource* r : resources) r->ReleaseReference();
}

void BM_GetLoaderUpdate(benchmark::State& state) {
  Files();
  for (auto _ : state) {
    state.PauseTiming();
    auto run = std::make_unique<Run>(true);
    std::vector<Vak::Resource*> resources;
    resources.reserve(kResources);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    std::size_t next = 0;
    std::size_t ready = 0;
    bool ok = true;
    Vak::ResourceLoader* loader = run->system->GetLoader();
    while (ok && ready < static_cast<std::size_t>(kResources)) {
      // Keep the queue fed without passing its capacity.
      while (ok && next < Files().names.size() && loader->Count() < Vak::ResourceLoader::kCapacity) {
        Vak::Resource* r = run->database->Get(Files().names[next++]);
        ok = r != nullptr;
        if (r) resources.push_back(r);
      }
      run->system->Update(0.001f);
      while (ready < resources.size() && resources[ready]->GetState() == Vak::Resource::kReady) ++ready;
      if (ready < resources.size() && resources[ready]->GetState() == Vak::Resource::kInvalid) ok = false;
    }
    gLoaderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    if (!ok) state.SkipWithError("a resource failed to load");
    ReleaseAll(resources);
    run.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kResources);
}

void BM_LockSynchronous(benchmark::State& state) {
  Files();
  for (auto _ : state) {
    state.PauseTiming();
    auto run = std::make_unique<Run>(false);
    std::vector<Vak::Resource*> resources;
    resources.reserve(kResources);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (const Vak::PString& name : Files().names) {
      Vak::Resource* r = run->database->Get(name);
      ok = ok && r && r->Lock().Ok();
      if (r) {
        r->Unlock();
        resources.push_back(r);
      }
    }
    gLockSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    if (!ok) state.SkipWithError("a resource failed to load");
    ReleaseAll(resources);
    run.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kResources);
}

void BM_ResourceRatio(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(gLockSeconds);
  if (gLockSeconds > 0) state.counters["loader_over_lock"] = gLoaderSeconds / gLockSeconds;
  std::printf("ResourceBench: loader path %.3f s, Lock path %.3f s, ratio %.1f\n", gLoaderSeconds, gLockSeconds,
              gLockSeconds > 0 ? gLoaderSeconds / gLockSeconds : 0.0);
}

} // namespace

BENCHMARK(BM_GetLoaderUpdate)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LockSynchronous)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResourceRatio)->Iterations(1);

// The running program's plug-in entry ("*"): the bench's resource type.
extern "C" void VakGetPlugins() { new SmallType(Vak::PString("rbn"), Vak::UId(kTypeId)); }
