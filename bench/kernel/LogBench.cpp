// Log lines per second into the log file (UTF-16 and 8-bit, flushed after
// every line or buffered), against fprintf of the same line to a FILE*.
#include <benchmark/benchmark.h>

#include "bench/BenchScratch.h"
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Time.h"
#include "platform/os/Thread.h"

namespace {

// range(0): 1 for 8-bit text (LogAnsi); range(1): 1 to flush after every line.
void BM_Log(benchmark::State& state) {
  const bool ansi = state.range(0) != 0;
  const bool flush = state.range(1) != 0;
  const std::string path = bench::ScratchPath("log.txt");
  Vak::Options options;
  options.ProcessRaw(("-LogFile='" + path + "'" + (ansi ? " -LogAnsi" : "") + (flush ? "" : " -LogFlush=off")).c_str());
  Vak::Log::Init(&options);
  Vak::LogClient* client = Vak::Log::GetClient("Bench");
  int i = 0;
  for (auto _ : state) client->Output(Vak::kLogWarn, "line %d of the benchmark with some text", ++i);
  Vak::Log::Shutdown();
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Log)->ArgNames({"ansi", "flush"})->Args({0, 1})->Args({1, 1})->Args({0, 0})->Args({1, 0});

// The same prefixed line through stdio; range(0): 1 to fflush after every line.
void BM_Fprintf(benchmark::State& state) {
  const bool flush = state.range(0) != 0;
  const std::string path = bench::ScratchPath("fprintf.txt");
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    state.SkipWithError("open failed");
    return;
  }
  const double start = Vak::Time::GetSeconds();
  int i = 0;
  for (auto _ : state) {
    const double t = Vak::Time::GetSeconds() - start;
    const double minutes = static_cast<double>(static_cast<long>(t / 60));
    std::fprintf(out, "%c %08X %s %3.0f:%04.1f %-15.15s : line %d of the benchmark with some text\r\n", '?',
                 platform::CurrentThreadId(), "Warn", minutes, t - minutes * 60, "Bench", ++i);
    if (flush) std::fflush(out);
  }
  std::fclose(out);
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Fprintf)->ArgNames({"flush"})->Arg(1)->Arg(0);

} // namespace
