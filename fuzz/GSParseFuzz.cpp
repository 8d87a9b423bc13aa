// Script scanner and parser on arbitrary bytes. The scanner ends, with a line
// counter that never goes back and that counts every line break it passed;
// the parse answers 0, 1 or 2, reports exactly one message when it fails and
// none when it succeeds, and an accepted script's tree holds a text in every
// name, identifier and string node.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gscompiler/Parser.h"
#include "gscompiler/Scanner.h"

namespace {

using namespace GSCompiler;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckTokens(const char* text, std::size_t length) {
  ScriptScanner scanner(text, length);
  int line = 1;
  while (scanner.Next() != 0) {
    Check(scanner.Line() >= line);
    line = scanner.Line();
  }
  int breaks = 1;
  for (std::size_t i = 0; i < length; ++i) breaks += text[i] == '\n';
  Check(line <= breaks);
}

bool NeedsText(const SyntaxNode* node) {
  switch (node->nodeClass) {
    case NodeClass::Declaration: return node->kind == kDeclName;
    case NodeClass::Expression:
      return node->kind == kExprIdentifier || node->kind == kExprMemberName ||
             (node->kind == kExprConstant && node->subKind == kConstString);
    default: return false;
  }
}

void CheckTree(const SyntaxNode* root) {
  std::vector<const SyntaxNode*> pending{root};
  while (!pending.empty()) {
    const SyntaxNode* node = pending.back();
    pending.pop_back();
    if (node == nullptr) continue;
    if (NeedsText(node)) Check(node->text != nullptr);
    Check(node->parent == nullptr);
    for (const SyntaxNode* child : node->child) pending.push_back(child);
    pending.push_back(node->next);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  CheckTokens(text, size);

  MessageSink sink;
  CompileUnit unit;
  unit.name = "fuzz.gs";
  unit.sink = &sink;
  const int result = ParseText(unit, text, size);
  Check(result == 0 || result == 1 || result == 2);
  Check(unit.errors == (result == 0 ? 0 : 1));
  Check(sink.Count() == (result == 0 ? 0u : 1u));
  if (result == 0) {
    Check(unit.tree != nullptr);
    CheckTree(unit.tree);
  } else {
    const std::string message = sink.At(0);
    Check(message.rfind("fuzz.gs(", 0) == 0);
    Check(message.find(result == 1 ? ") : parse error, line " : ") : parser stack overflow, line ") !=
          std::string::npos);
  }
  return 0;
}
