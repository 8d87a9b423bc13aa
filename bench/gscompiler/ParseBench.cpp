// Scanning and parsing a generated script of 100,000 lines in memory.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/gscompiler/ScriptGenerator.h"
#include "gscompiler/Parser.h"
#include "gscompiler/Scanner.h"

namespace {

const std::string& Script() {
  static const std::string script = bench::GenerateScript(bench::ScriptLanguage::Script, 100000);
  return script;
}

void BM_ScanScript(benchmark::State& state) {
  const std::string& script = Script();
  for (auto _ : state) {
    GSCompiler::ScriptScanner scanner(script.data(), script.size());
    int tokens = 0;
    while (scanner.Next() != 0) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
}
BENCHMARK(BM_ScanScript)->Unit(benchmark::kMillisecond);

void BM_ParseScript(benchmark::State& state) {
  const std::string& script = Script();
  for (auto _ : state) {
    GSCompiler::CompileUnit unit;
    GSCompiler::MessageSink sink;
    unit.sink = &sink;
    if (GSCompiler::ParseText(unit, script.data(), script.size()) != 0) state.SkipWithError("not accepted");
    benchmark::DoNotOptimize(unit.tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
}
BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);

} // namespace
