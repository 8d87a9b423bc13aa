// Scripts compiled all the way to a library: whatever passes the checks is
// generated and written, and a written library must walk cleanly (every
// record length, padding, "lgbd" and count consistent). A failed generation
// or write leaves no partial library behind it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "gscompiler/LibraryWriter.h"
#include "tests/gscompiler/CompileText.h"
#include "tests/gscompiler/GslWalker.h"

namespace {

using namespace GSCompiler;

void Check(bool condition) {
  if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  TextCompiler compiler;
  CompileContext context;
  MessageSink sink;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (compiler.Compile(context, {{"fuzz.gs", text, 0x12345678, 0x9ABCDEF0}}, &sink) != CompileStage::Done) return 0;

  CodeBuffer out(CodeBuffer::kLibraryStep);
  if (!WriteLibrary(out, context, &sink, "fuzz.gs")) return 0;
  try {
    const GslWalker::Library lib = GslWalker::Walk(out.Data(), out.Length());
    Check(lib.dependencies.size() == 1 && lib.path == "fuzz.gs");
    Check(lib.bodies.size() == context.classes.size());
    for (const GslWalker::ClassBody& body : lib.bodies)
      for (const GslWalker::FunctionRecord& fn : body.functions) Check(fn.words[4] >= 1 && fn.words[6] <= 7);
  } catch (const std::runtime_error&) {
    Check(false);
  }
  return 0;
}
