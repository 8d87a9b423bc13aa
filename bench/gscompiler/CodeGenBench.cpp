// Code generation and library writing on the generated script of 100,000
// lines (one class of 9,090 functions), in functions per second. The script
// is parsed and checked once; each iteration generates, or writes, it whole.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/gscompiler/ScriptGenerator.h"
#include "gscompiler/GSCClass.h"
#include "gscompiler/LibraryWriter.h"
#include "tests/gscompiler/CompileText.h"

namespace {

using namespace GSCompiler;

struct Checked {
  TextCompiler compiler;
  CompileContext context;
  MessageSink sink;
  bool ok = false;
  int64_t functions = 0;
};

Checked& Library() {
  static const std::unique_ptr<Checked> checked = [] {
    auto c = std::make_unique<Checked>();
    const std::string script = bench::GenerateScript(bench::ScriptLanguage::Script, 100000);
    c->ok = c->compiler.Compile(c->context, {{"bench.gs", script}}, &c->sink) == CompileStage::Done;
    for (const auto& cls : c->context.classes) c->functions += static_cast<int64_t>(cls->functions.size());
    return c;
  }();
  return *checked;
}

void BM_GenerateLibraryCode(benchmark::State& state) {
  Checked& c = Library();
  if (!c.ok) state.SkipWithError("the bench script does not compile");
  for (auto _ : state) {
    if (!GenerateLibraryCode(c.context)) state.SkipWithError("generation failed");
    benchmark::DoNotOptimize(c.context.classes.data());
  }
  state.SetItemsProcessed(state.iterations() * c.functions);
}
BENCHMARK(BM_GenerateLibraryCode)->Unit(benchmark::kMillisecond);

void BM_WriteLibrary(benchmark::State& state) {
  Checked& c = Library();
  if (!c.ok) state.SkipWithError("the bench script does not compile");
  CodeBuffer out(CodeBuffer::kLibraryStep);
  for (auto _ : state) {
    if (!WriteLibrary(out, c.context, &c.sink, "bench.gs")) state.SkipWithError("write failed");
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetItemsProcessed(state.iterations() * c.functions);
  state.counters["bytes"] = static_cast<double>(out.Length());
}
BENCHMARK(BM_WriteLibrary)->Unit(benchmark::kMillisecond);

} // namespace
