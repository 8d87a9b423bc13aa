// The command that bench/gscompiler/run.sh times against `luac5.4 -p`:
//   gsparse_bench_tool generate script|lua LINES FILE   writes a generated script
//   gsparse_bench_tool parse FILE                       scans and parses it
// The parse exits with the parser's result (0 accepted).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/gscompiler/ScriptGenerator.h"
#include "gscompiler/Parser.h"

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "generate") == 0) {
    const auto language = std::strcmp(argv[2], "lua") == 0 ? bench::ScriptLanguage::Lua : bench::ScriptLanguage::Script;
    std::ofstream out(argv[4], std::ios::binary);
    out << bench::GenerateScript(language, std::atoi(argv[3]));
    return out ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "parse") == 0) {
    std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
    if (!in) return 3;
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return 3;
    GSCompiler::CompileUnit unit;
    GSCompiler::MessageSink sink;
    unit.name = argv[2];
    unit.sink = &sink;
    const int result = GSCompiler::ParseText(unit, text.data(), text.size());
    while (const char* message = sink.Take()) std::puts(message);
    return result;
  }
  std::fputs("usage: gsparse_bench_tool generate script|lua LINES FILE | parse FILE\n", stderr);
  return 4;
}
