// Scanner, parser and semantic checks on arbitrary scripts. The checks end
// (no recursion: deep nesting is reported, never a crash), their count equals
// the messages they queue, and a count above zero closes with the summary.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gscompiler/MessageSink.h"
#include "gscompiler/Parser.h"
#include "gscompiler/Semantic.h"

namespace {

using namespace GSCompiler;

void Check(bool condition) {
  if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  GSSymbolTable library;
  MessageSink sink;
  CompileUnit unit;
  unit.name = "fuzz.gs";
  unit.sink = &sink;
  unit.symbols = &library;
  if (ParseText(unit, text, size) != 0) return 0;
  Check(unit.errors == 0 && sink.Count() == 0);

  uint32_t flags = 0;
  const int errors = CheckSemantics(unit, false, &flags);
  Check(errors == unit.errors);
  if (errors == 0) {
    Check(sink.Count() == 0);
  } else {
    Check(sink.Count() == static_cast<uint32_t>(errors) + 1);
    Check(std::string(sink.At(sink.Count() - 1)) == "(fuzz.gs) " + std::to_string(errors) + " semantic error(s)");
    for (uint32_t i = 0; i + 1 < sink.Count(); ++i) {
      const std::string message = sink.At(i);
      Check(message.rfind("fuzz.gs(", 0) == 0 || message.rfind("Internal compiler error", 0) == 0);
    }
  }
  MessageSink dump;
  DumpSymbols(library, dump);
  Check(dump.Count() >= 1);
  return 0;
}
