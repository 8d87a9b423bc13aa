#pragma once
// One node of a script's syntax tree, a block of its compile unit's pool.
#include <cstdint>

namespace GSCompiler {

enum class NodeClass : int16_t { Declaration, Statement, Expression };

enum DeclarationKind : int32_t {
  kDeclFunction,
  kDeclPrototype,
  kDeclInclude,
  kDeclClass,
  kDeclVariableList,
  kDeclDeclarator,
  kDeclType,
  kDeclParameter,
  kDeclName,
};

enum StatementKind : int32_t {
  kStmtReturn,
  kStmtBreak,
  kStmtContinue,
  kStmtGoto,
  kStmtFor,
  kStmtWhile,
  kStmtSwitch,
  kStmtIf,
  kStmtDefault,
  kStmtCase,
  kStmtLabel,
  kStmtCompound,
  kStmtWait,
  kStmtOn,
};

enum ExpressionKind : int32_t {
  kExprIdentifier,
  kExprConstant,
  kExprCall,
  kExprMemberName,
  kExprMe,
  kExprNull,
  kExprOperator,
};

// Sub-kinds of a constant expression.
enum ConstantKind : int32_t { kConstBool, kConstInt, kConstFloat, kConstString };

// Type codes: the sub-kind of a type node and the type of an expression. An
// array type is its element type + kArrayOffset.
enum TypeCode : int32_t {
  kTypeVoid,
  kTypeBool,
  kTypeInt,
  kTypeFloat,
  kTypeString,
  kTypeObject,
  kTypeVoidArray,
  kTypeBoolArray,
  kTypeIntArray,
  kTypeFloatArray,
  kTypeStringArray,
  kTypeObjectArray,
  kTypeNone,
  kTypeNull,
};
inline constexpr int32_t kArrayOffset = 6;

enum OperatorCode : int32_t {
  kOpPostDec,
  kOpPostInc,
  kOpMember,
  kOpPlus,
  kOpMinus,
  kOpNot,
  kOpComplement,
  kOpPreDec,
  kOpPreInc,
  kOpRange,
  kOpIndex,
  kOpCast,
  kOpMul,
  kOpDiv,
  kOpMod,
  kOpAdd,
  kOpSub,
  kOpShiftLeft,
  kOpShiftRight,
  kOpLess,
  kOpGreater,
  kOpLessEqual,
  kOpGreaterEqual,
  kOpEqual,
  kOpNotEqual,
  kOpAnd,
  kOpXor,
  kOpOr,
  kOpLogicalAnd,
  kOpLogicalOr,
  kOpAssign,
  kOpSize,
  kOpIsClass,
  kOpCopy,
  kOpNew,
};

// Declaration specifiers and the marks the parser leaves in a node's flags.
enum Specifier : uint32_t {
  kSpecPublic = 0x01,
  kSpecNative = 0x02,
  kSpecStatic = 0x04,
  kSpecFinal = 0x08,
  kSpecThread = 0x10,
  kSpecConstructor = 0x20,
  kSpecGame = 0x40,
  kSpecDefine = 0x80,
  kMarkMember = 0x4000000,        // a variable list declared directly in a class
  kMarkFunctionBody = 0x8000000,  // the compound statement of a function
  kMarkUnusedValue = 0x10000000,  // an expression whose value is not used
};

// Pointers first, then the narrower fields without padding between them: a
// node takes 112 bytes, so the pool's stride is 112 rather than 128.
struct SyntaxNode {
  SyntaxNode* child[4];
  SyntaxNode* next;
  SyntaxNode* parent;
  // A name's or a string constant's text (in the unit's pool).
  const char* text;
  // Filled by the semantic checks, with type and annotation.
  const char* className;
  intptr_t annotation[3];
  NodeClass nodeClass;
  int16_t kind;  // of the node's class: a DeclarationKind, StatementKind or ExpressionKind
  int32_t number;  // an integer, a bool 0/1, or the bits of a 32-bit float
  int32_t subKind;
  int32_t line;
  uint32_t flags;
  int32_t type;
};
static_assert(sizeof(void*) != 8 || sizeof(SyntaxNode) == 112, "a syntax node fills its pool block");

} // namespace GSCompiler
