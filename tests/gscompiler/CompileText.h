#pragma once
// Compiles scripts held in memory into a compile context the way the driver
// compiles a library: the root script is dependent 0, each further script an
// include compiled before the root's checks, in order; then the code is
// generated. Shared by the tests, the fuzz target and the bench.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "gscompiler/CodeGen.h"
#include "gscompiler/CompileContext.h"
#include "gscompiler/Parser.h"
#include "gscompiler/Semantic.h"

namespace GSCompiler {

enum class CompileStage { Parse, Check, Generate, Done };

struct SourceText {
  const char* name;  // the bare file name, lower case
  std::string text;
  uint32_t textCrc = 0;
  uint32_t nameCrc = 0;
};

class TextCompiler {
public:
  // How far the library got; messages go to `sink`.
  CompileStage Compile(CompileContext& context, const std::vector<SourceText>& scripts, MessageSink* sink) {
    context.Reset();
    includes_.clear();
    for (size_t i = 0; i < scripts.size(); ++i) {
      CompileUnit& unit = i == 0 ? context.root : includes_.emplace_back();
      unit.symbols = &context.symbols;
      unit.name = scripts[i].name;
      unit.sink = sink;
      unit.textCrc = scripts[i].textCrc;
      unit.nameCrc = scripts[i].nameCrc;
      unit.errors = 0;
      unit.tree = nullptr;
      if (ParseText(unit, scripts[i].text.data(), scripts[i].text.size()) != 0 || unit.tree == nullptr)
        return CompileStage::Parse;
      if (context.symbols.EnterDependent(unit.name, unit.textCrc, unit.nameCrc, context.dependentCount++) == nullptr)
        return CompileStage::Check;
    }
    for (size_t i = 1; i <= includes_.size(); ++i)
      if (!Check(context, includes_[i - 1], true)) return CompileStage::Check;
    if (!Check(context, context.root, false)) return CompileStage::Check;
    CompileUnit* previous = gCurrentUnit;
    gCurrentUnit = &context.root;
    const bool generated = GenerateLibraryCode(context);
    gCurrentUnit = previous;
    return generated ? CompileStage::Done : CompileStage::Generate;
  }

private:
  static bool Check(CompileContext& context, CompileUnit& unit, bool included) {
    GSDependentSymbol* script = context.symbols.FindDependent(unit.name);
    if (script == nullptr || !context.symbols.ResolveScript(script)) return false;
    context.symbols.SetCurrentScript(script);
    unit.errors = 0;
    return CheckSemantics(unit, included) == 0;
  }

  std::deque<CompileUnit> includes_;
};

} // namespace GSCompiler
