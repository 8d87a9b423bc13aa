// Option texts and plug-in configurations of many entries: distinct keys,
// many "+Key=" items of one key, and a "plugins.ini" of many "+Plugin="
// lines read by the plug-in system's start-up. The time per entry stays flat
// from 10,000 to 100,000 entries.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Vak/Bexlorn/Options.h"
#include "Vak/plugins/PluginSystem.h"

namespace {

// "-Key<i>=<i>" for every i, one per line, keys in a scrambled order.
std::string DistinctKeys(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const long k = static_cast<long>(i) * 7919 % count;
    text += "-Key" + std::to_string(k) + "=" + std::to_string(k) + "\n";
  }
  return text;
}

void BM_OptionsDistinctKeys(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string text = DistinctKeys(count);
  for (auto _ : state) {
    Vak::Options options;
    options.ProcessRaw(text.c_str());
    unsigned found = 0;
    for (int i = 0; i < count; i += 7) found += options.Find(("KEY" + std::to_string(i)).c_str()) != nullptr;
    if (options.Count() != static_cast<unsigned>(count)) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OptionsDistinctKeys)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

// "+List=<i>" for every i, read back item by item.
void BM_OptionsAppends(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::string text;
  for (int i = 0; i < count; ++i) text += "+List=item" + std::to_string(i) + "\n";
  for (auto _ : state) {
    Vak::Options options;
    options.ProcessRaw(text.c_str());
    options.SetSeparators("list", ",");
    Vak::String item;
    int items = 0;
    while (options.GetNext("list", item)) ++items;
    if (items != count) state.SkipWithError("wrong count");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OptionsAppends)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A "plugins.ini" of one group and `count` plug-ins in 1,000 libraries, each
// plug-in also remapped; the system reads it on Get and is released again.
void BM_PluginsIni(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string folder = bench::ScratchPath("plugins-" + std::to_string(count));
  ::mkdir(folder.c_str(), 0700);
  {
    std::ofstream ini(folder + "/plugins.ini", std::ios::binary);
    ini << "+PluginGroup=Types:4C414E80-BBDA-11D4-9AD7-0001025364B8\n";
    char id[40], alias[40];
    for (int i = 0; i < count; ++i) {
      std::snprintf(id, sizeof id, "%08X-0000-0000-0000-0000000000B1", i);
      std::snprintf(alias, sizeof alias, "%08X-0000-0000-0000-0000000000A1", i);
      ini << "+Plugin=plugin" << i << ":library" << i % 1000 << ":" << id
          << ":4C414E80-BBDA-11D4-9AD7-0001025364B8\n";
      ini << "+PluginRemap=" << alias << ":" << id << "\n";
    }
  }
  Vak::PluginSystem::SetFolders(folder.c_str(), folder.c_str());
  for (auto _ : state) {
    Vak::PluginSystem* system = Vak::PluginSystem::Get();
    if (!system->FindLibrary(Vak::PString("library999"))) state.SkipWithError("not configured");
    system->Release();
  }
  Vak::PluginSystem::SetFolders(nullptr, nullptr);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PluginsIni)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
