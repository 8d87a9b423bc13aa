// Loading and exporting 5,000 generated configs through the config model,
// against the same configs merely parsed from their text. Each iteration
// parses every config and loads and exports it; the parse alone is timed in
// the same run. Reports "model/parse": the time of parse, load and export
// over the time of the parse alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "assetdb/VADAssetQueries.h"
#include "bench/datamanager/DataManagerBench.h"
#include "content/ACSChunkPtr.h"
#include "content/AppGlobals.h"
#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"

namespace {

constexpr int kConfigs = 5000;

class InstalledIndex : public RUZLib::AssetIndexQueries {
public:
  KUID Resolve(const KUID& kuid) override { return kuid; }
  bool GetStatus(const KUID&, VADAssetStatus& status) override {
    status.state = VADAssetStatus::kInstalled;
    status.text0 = "BG;ES";
    return true;
  }
};

// Configs of the common kinds, with child containers in every other one.
std::vector<std::string> Configs() {
  std::vector<std::string> configs;
  const char* const kinds[] = {"scenery", "traincar", "track", "bogey", "mesh"};
  for (int i = 0; i < kConfigs; ++i) {
    const char* kind = kinds[i % 5];
    std::string text = "kuid <kuid:414141:" + std::to_string(i) + ">\r\nkind \"" + kind + "\"\r\nusername \"Asset " +
                       std::to_string(i) + "\"\r\nvelmar-build 3.1\r\ncategory-region \"AU\"\r\ndescription \"A "
                       "generated asset with a description of a few words.\"\r\ncategory-keyword \"one;two\"\r\n";
    if (kind == kinds[1]) {
      text += "mass 30\r\naxles 2\r\nbogeys\r\n{\r\n  0\r\n  {\r\n    bogey <kuid:414141:9>\r\n    reversed 0\r\n"
              "  }\r\n  1\r\n  {\r\n    bogey <kuid:414141:9>\r\n    reversed 1\r\n  }\r\n}\r\nlights\r\n{\r\n  0\r\n"
              "  {\r\n    radius 1\r\n    rgb \"255,0,0\"\r\n  }\r\n}\r\n";
    }
    if (kind == kinds[2]) text += "length 10\r\nwidth 4\r\n";
    if (kind == kinds[0]) text += "height-range \"1,2\"\r\noffset \"1,2,3\"\r\n";
    configs.push_back(std::move(text));
  }
  return configs;
}

void BM_LoadExportVsParse(benchmark::State& state) {
  // The benchmark library calls this more than once; one copy serves.
  static const std::string folder = bench::ShippedDataCopy("RUZData-model");
  SetMainThread();
  RUZLib::ErrorHandler::Create();
  RUZLib::DataManager::Startup(folder.c_str());
  RUZLib::DataManager* manager = RUZLib::DataManager::Instance();
  manager->LoadSchema();
  InstalledIndex index;
  RUZLib::SetAssetIndexQueries(&index);
  const std::vector<std::string> configs = Configs();

  using Clock = std::chrono::steady_clock;
  Clock::duration model{};
  Clock::duration parse{};
  bool clean = true;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    for (const std::string& text : configs) {
      ACSChunkPtr config = bench::ParseConfigText(text);
      RUZLib::Container root;
      clean = root.Load(config) && clean;
      ACSChunkPtr out;
      out.MakeContainer();
      clean = root.Export(out) && clean;
    }
    model += Clock::now() - start;
    clean = clean && RUZLib::ErrorHandler::Instance()->GetMessages().empty();
    RUZLib::ErrorHandler::Instance()->Clear();

    start = Clock::now();
    for (const std::string& text : configs) benchmark::DoNotOptimize(bench::ParseConfigText(text).Get());
    parse += Clock::now() - start;
  }
  RUZLib::SetAssetIndexQueries(nullptr);
  RUZLib::DataManager::Shutdown();
  RUZLib::ErrorHandler::Destroy();
  if (!clean) {
    state.SkipWithError("a generated config did not load and export cleanly");
    return;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["parse_ms"] = std::chrono::duration<double>(parse).count() * 1e3 / iterations;
  state.counters["model_ms"] = std::chrono::duration<double>(model).count() * 1e3 / iterations;
  state.counters["model/parse"] =
      std::chrono::duration<double>(model).count() / std::chrono::duration<double>(parse).count();
}

BENCHMARK(BM_LoadExportVsParse)->Unit(benchmark::kMillisecond);

}  // namespace
