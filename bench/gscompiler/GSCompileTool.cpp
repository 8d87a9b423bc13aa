// The library call that bench/gscompiler/compile.sh times against
// `luac5.4 -o` and `VelmarUtil compile`:
//   gscompile_bench_tool SOURCE   compiles SOURCE into its library
// Exits with the compiler's error count (0: the library was written).
#include <cstdio>

#include "gscompiler/Driver.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: gscompile_bench_tool SOURCE\n", stderr);
    return 255;
  }
  GSCompiler::MessageSink sink;
  const int errors = GSCompiler::CompileLibrary(argv[1], nullptr, {}, sink);
  while (const char* message = sink.Take()) std::puts(message);
  return errors;
}
