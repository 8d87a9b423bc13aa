// The data manager's start-up (string table, form templates of every file in
// the folder, personal details) and its first schema load on a copy of
// data/RUZData, against `cat` reading the same files to /dev/null. Reports
// cat's time (process start included) over ours as "cat/startup"; above 1
// means start-up is quicker than merely reading its files with cat.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/datamanager/DataManagerBench.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"

namespace {

namespace fs = std::filesystem;

// A copy of the data folder with the personal details a first run writes,
// so every run reads the same files.
const std::string& DataFolder() {
  static const std::string folder = [] {
    const std::string path = bench::ShippedDataCopy("RUZData");
    RUZLib::DataManager::Startup(path.c_str());
    RUZLib::DataManager::Shutdown();
    return path;
  }();
  return folder;
}

std::string CatCommand() {
  std::string command = "/usr/bin/cat";
  for (const auto& entry : fs::directory_iterator(DataFolder())) command += " '" + entry.path().string() + "'";
  return command + " > /dev/null";
}

void BM_StartupVsCat(benchmark::State& state) {
  RUZLib::ErrorHandler::Create();
  const std::string folder = DataFolder();
  using Clock = std::chrono::steady_clock;
  Clock::duration ours{};
  bool started = true;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    started = RUZLib::DataManager::Startup(folder.c_str()) && started;
    RUZLib::DataManager::Instance()->LoadSchema();
    ours += Clock::now() - start;
    // Teardown writes the personal details back: not part of what is timed.
    RUZLib::DataManager::Shutdown();
  }
  RUZLib::ErrorHandler::Destroy();
  if (!started) {
    state.SkipWithError("start-up failed");
    return;
  }
  const std::string command = CatCommand();
  constexpr int kCatRuns = 5;
  Clock::duration cat{};
  for (int i = 0; i < kCatRuns; ++i) {
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("cat failed");
      return;
    }
    cat += Clock::now() - start;
  }
  const double oursSeconds = std::chrono::duration<double>(ours).count() / static_cast<double>(state.iterations());
  const double catSeconds = std::chrono::duration<double>(cat).count() / kCatRuns;
  state.counters["cat_ms"] = catSeconds * 1e3;
  state.counters["cat/startup"] = catSeconds / oursSeconds;
}

BENCHMARK(BM_StartupVsCat)->Unit(benchmark::kMillisecond);

}  // namespace
