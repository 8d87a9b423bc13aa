// The legacy upgrade over 5,000 generated legacy configs, against parsing the
// same configs from their text. Each iteration parses every config (timed as
// the parse) and then upgrades each parsed config (timed on its own). Reports
// "upgrade/parse": the upgrade's time over the parse's.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/datamanager/DataManagerBench.h"
#include "content/AppGlobals.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/LegacyUpgrade.h"

namespace {

constexpr int kConfigs = 5000;

// Legacy configs of the kinds the upgrade treats differently, each with the
// numbered categories, junk and spilled description text old configs carry.
std::vector<std::string> LegacyConfigs() {
  const char* const kinds[] = {"scenery", "traincar", "bogey", "interior", "mojunction", "texture", "track", "turntable"};
  std::vector<std::string> configs;
  for (int i = 0; i < kConfigs; ++i) {
    const std::string n = std::to_string(i);
    const char* kind = kinds[i % 8];
    std::string text = "kuid <kuid:414141:" + n + ">\r\nkind \"" + kind + "\"\r\nname \"Asset " + n +
                       "\"\r\nasset-filename \"asset" + n + "\"\r\ncategory-region-0 \"au\"\r\ncategory-region-1 \"nz\"\r\n"
                       "category-era-0 \"1950\"\r\nrem \"made long ago\"\r\ndescription \"An old asset\"\r\nby \"me\"\r\n"
                       "copyright \"all rights\"\r\nauteur \"Someone\"\r\n0 \"left over\"\r\nrgb \"255,0\"\r\n";
    if (kind == kinds[1]) text += "bogey <kuid:414141:9>\r\nbogey-1-r <kuid:414141:9>\r\n";
    if (kind == kinds[3]) text += "mesh \"cab.im\"\r\ncamera 1,2,3\r\n";
    if (kind == kinds[4] || kind == kinds[7]) text += "mode0 \"left\"\r\nmode1 \"right\"\r\ntrack <kuid:414141:8>\r\n";
    if (kind == kinds[0])
      text += "auto-animation 1\r\nnight \"lit\"\r\nsoundscript\r\n{\r\n  a\r\n  {\r\n    sound\r\n    {\r\n"
              "      a.wav\r\n      b.wav\r\n    }\r\n  }\r\n}\r\n";
    configs.push_back(std::move(text));
  }
  return configs;
}

void BM_UpgradeVsParse(benchmark::State& state) {
  // The benchmark library calls this more than once; one copy serves.
  static const std::string folder = bench::ShippedDataCopy("RUZData-legacy");
  SetMainThread();
  RUZLib::ErrorHandler::Create();
  RUZLib::DataManager::Startup(folder.c_str());
  RUZLib::DataManager::Instance()->LoadSchema();
  const std::vector<std::string> texts = LegacyConfigs();

  double parse = 0;
  double upgrade = 0;
  bool upgraded = true;
  std::vector<ACSChunkPtr> configs;
  for (auto _ : state) {
    configs.clear();
    parse += bench::Seconds([&] {
      for (const std::string& text : texts) configs.push_back(bench::ParseConfigText(text));
    });
    upgrade += bench::Seconds([&] {
      for (ACSChunkPtr& config : configs) RUZLib::UpgradeLegacyConfig(config);
    });
    // The numbered regions are gone from every config once upgraded.
    for (const ACSChunkPtr& config : configs) upgraded = upgraded && !config.HasChild("category-region-0");
  }
  configs.clear();
  RUZLib::DataManager::Shutdown();
  RUZLib::ErrorHandler::Destroy();
  if (!upgraded) {
    state.SkipWithError("a generated config was not upgraded");
    return;
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["parse_ms"] = parse * 1e3 / iterations;
  state.counters["upgrade_ms"] = upgrade * 1e3 / iterations;
  state.counters["upgrade/parse"] = upgrade / parse;
}

BENCHMARK(BM_UpgradeVsParse)->Unit(benchmark::kMillisecond);

}  // namespace
