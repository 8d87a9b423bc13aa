#pragma once
// One of our counts over a data set against grep -cE over a text file of the
// same data: ours is timed in the benchmark's loop, grep (its process and
// the shell's included) over a few runs after it. Both must count the same;
// the counters give the count, grep's time and grep's time over ours.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

// Lines of `file` that grep -cE counts for `expression`, run through the
// shell with the answer in a file beside it; -1 when grep cannot be run.
inline long GrepCount(const std::string& expression, const std::string& file) {
  const std::string answer = file + ".count";
  const std::string command = "/usr/bin/grep -cE '" + expression + "' '" + file + "' > '" + answer + "'";
  // grep's status is 1 when nothing matched: the count in the file decides.
  std::remove(answer.c_str());
  if (std::system(command.c_str()) == -1) return -1;
  long count = -1;
  std::ifstream(answer) >> count;
  std::remove(answer.c_str());
  return count;
}

// `ours` returns its count; `items` is what one call goes over. The
// counters are `countName`, "grep_ms" and "grep/" + `oursName`.
template <typename Ours>
void RaceGrep(benchmark::State& state, Ours&& ours, const std::string& expression, const std::string& file,
              int64_t items, const std::string& countName, const std::string& oursName) {
  using Clock = std::chrono::steady_clock;
  Clock::duration oursTime{};
  long count = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    count = static_cast<long>(ours());
    oursTime += Clock::now() - start;
    benchmark::DoNotOptimize(count);
  }
  constexpr int kGrepRuns = 3;
  Clock::duration grepTime{};
  long grepCount = 0;
  for (int i = 0; i < kGrepRuns; ++i) {
    const Clock::time_point start = Clock::now();
    grepCount = GrepCount(expression, file);
    grepTime += Clock::now() - start;
  }
  if (grepCount != count) {
    state.SkipWithError((oursName + " counts " + std::to_string(count) + ", grep " + std::to_string(grepCount)).c_str());
    return;
  }
  const double oursSeconds = std::chrono::duration<double>(oursTime).count() / static_cast<double>(state.iterations());
  const double grepSeconds = std::chrono::duration<double>(grepTime).count() / kGrepRuns;
  state.counters[countName] = static_cast<double>(count);
  state.counters["grep_ms"] = grepSeconds * 1e3;
  state.counters["grep/" + oursName] = grepSeconds / oursSeconds;
  state.SetItemsProcessed(state.iterations() * items);
}

}  // namespace bench
