#pragma once
// The semantic checks of one script: enter its classes, members, functions
// and locals into the library's symbols, resolve every name, type every
// expression, check the language's rules and report each violation.
//
// What the checks leave on the syntax nodes for code generation:
//   every expression   type (type code) and className (object and object[]
//                      types; points into the class symbol's name)
//   constant operands  folded: the operator node becomes a constant node
//                      (kind kExprConstant, sub-kind, number or text) without
//                      children; an identifier of a define member becomes a
//                      constant of its value the same way
//   class declaration  symbol: its GSClassSymbol
//   function, prototype symbol: its GSFunctionSymbol
//   declarator,        symbol: the GSVariableSymbol; slot: its frame slot
//   parameter          (parameter, local) or member slot (member)
//   compound statement symbol: the scope it opened (a function body: the
//                      function's outermost scope, holding the parameters)
//   identifier         symbol: a GSVariableSymbol, slot: its frame slot, or
//                      for a member its member slot seen from the current
//                      class; or the GSClassSymbol of a static class, slot -1
//   "." (kOpMember)    symbol: the member's GSVariableSymbol, slot: its member
//                      slot seen from the class of the object's type; the
//                      member name node carries the same. As the callee of a
//                      call only the object is checked; the call says the rest
//   call               symbol: the called GSFunctionSymbol (for "inherited"
//                      the base version), slot: its virtual slot seen from the
//                      static class (the current class without an object; -1
//                      for "inherited"), count: the called function's c
//   new, cast, isclass symbol: the GSClassSymbol of a named class, else null
//   switch             count: the case labels of its body, default excluded
//   wait               count: the on statements of its body
// Every other annotation stays 0. Frame counts c and a are on the function
// symbols: c = 1 + parameters, a = locals of every nested block.
#include <cstdint>

#include "gscompiler/CompileUnit.h"
#include "gscompiler/GSSymbol.h"

namespace GSCompiler {

// Slots of SyntaxNode::annotation.
enum Annotation : int { kAnnotationSymbol = 0, kAnnotationSlot = 1, kAnnotationCount = 2 };

inline GSSymbol* NodeSymbol(const SyntaxNode* node) {
  return reinterpret_cast<GSSymbol*>(node->annotation[kAnnotationSymbol]);
}
inline int32_t NodeSlot(const SyntaxNode* node) { return static_cast<int32_t>(node->annotation[kAnnotationSlot]); }
inline int32_t NodeCount(const SyntaxNode* node) { return static_cast<int32_t>(node->annotation[kAnnotationCount]); }

// Most pending nodes of the walk: the nesting depth it allows.
inline constexpr int kSemanticStackDepth = 128;

// Bits of the result flags.
enum SemanticResult : uint32_t {
  kSemanticDeclaresClass = 0x1,  // the script declares at least one class
};

// Checks the unit's tree against its library's symbols (unit.symbols, which
// must be set), making the unit the table's current unit. `included` is set
// for a script compiled for another's include. Returns the unit's error
// count; with errors it queues "(<unit name>) <n> semantic error(s)".
int CheckSemantics(CompileUnit& unit, bool included, uint32_t* resultFlags = nullptr);

} // namespace GSCompiler
