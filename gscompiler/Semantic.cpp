#include "gscompiler/Semantic.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/FormatBuffer.h"
#include "gscompiler/Types.h"

namespace GSCompiler {

namespace {

// Specifier bits each declaration refuses.
constexpr uint32_t kSpecifierBits = 0xFF;
constexpr uint32_t kClassRefused = 0x93;
constexpr uint32_t kFunctionRefused = 0xC4;
constexpr uint32_t kMemberRefused = 0x5E;
constexpr uint32_t kLocalRefused = 0xDF;

// A value that a constant node holds, for folding.
struct Constant {
  int32_t type;
  int32_t i = 0;
  float f = 0;
  const char* s = nullptr;
};

bool ValueType(int32_t type) {
  return (type >= kTypeBool && type <= kTypeObject) || IsElementArray(type);
}

bool Comparable(int32_t l, int32_t r) {
  auto basic = [](int32_t t) { return t >= kTypeBool && t <= kTypeString; };
  auto nullable = [](int32_t t) { return t == kTypeString || t == kTypeObject || IsArrayType(t); };
  if (basic(l) && basic(r)) return true;
  if (l == kTypeNull) return r == kTypeNull || nullable(r);
  if (r == kTypeNull) return nullable(l);
  if (l == kTypeObject) return r == kTypeObject;
  if (IsArrayType(l)) return r == l;
  return false;
}

// Result of an arithmetic operator ("*", "/", "%", "-") or kTypeNone.
int32_t Arithmetic(int32_t l, int32_t r) {
  if (l == kTypeInt && r == kTypeInt) return kTypeInt;
  if ((l == kTypeInt || l == kTypeFloat) && (r == kTypeInt || r == kTypeFloat)) return kTypeFloat;
  return kTypeNone;
}

// The operator typing table: the result type of `op` over the operand
// types, or kTypeNone when the pair is not in the table.
int32_t OperatorResult(int32_t op, int32_t l, int32_t r) {
  switch (op) {
    case kOpPlus:
    case kOpMinus:
    case kOpPreInc:
    case kOpPreDec:
    case kOpPostInc:
    case kOpPostDec: return l == kTypeInt || l == kTypeFloat ? l : kTypeNone;
    case kOpComplement: return l == kTypeInt ? kTypeInt : kTypeNone;
    case kOpNot: return ValueType(l) ? kTypeBool : kTypeNone;
    case kOpMul:
    case kOpDiv:
    case kOpMod:
    case kOpSub: return Arithmetic(l, r);
    case kOpAdd:
      if ((l == kTypeString && (IsNumericType(r) || r == kTypeString)) || (r == kTypeString && IsNumericType(l)))
        return kTypeString;
      return Arithmetic(l, r);
    case kOpShiftLeft:
    case kOpShiftRight:
    case kOpAnd:
    case kOpXor:
    case kOpOr: return l == kTypeInt && r == kTypeInt ? kTypeInt : kTypeNone;
    case kOpLess:
    case kOpGreater:
    case kOpLessEqual:
    case kOpGreaterEqual:
    case kOpEqual:
    case kOpNotEqual: return Comparable(l, r) ? kTypeBool : kTypeNone;
    case kOpLogicalAnd:
    case kOpLogicalOr: return ValueType(l) && ValueType(r) ? kTypeBool : kTypeNone;
    default: return kTypeNone;
  }
}

bool IsUnary(int32_t op) {
  return op == kOpPostDec || op == kOpPostInc || (op >= kOpPlus && op <= kOpPreInc && op != kOpMember);
}
bool IsBinary(int32_t op) { return op >= kOpMul && op <= kOpLogicalOr; }
bool IsIncrement(int32_t op) { return op == kOpPostDec || op == kOpPostInc || op == kOpPreDec || op == kOpPreInc; }
bool IsConstant(const SyntaxNode* node) {
  return node != nullptr && node->nodeClass == NodeClass::Expression && node->kind == kExprConstant;
}

Constant ConstantOf(const SyntaxNode* node) {
  Constant value{kTypeNone};
  switch (node->subKind) {
    case kConstBool: value.type = kTypeBool; value.i = node->number; break;
    case kConstInt: value.type = kTypeInt; value.i = node->number; break;
    case kConstFloat: value.type = kTypeFloat; value.f = std::bit_cast<float>(node->number); break;
    case kConstString: value.type = kTypeString; value.s = node->text; break;
  }
  return value;
}

bool Truth(const Constant& v, bool& truth) {
  if (v.type == kTypeBool || v.type == kTypeInt) truth = v.i != 0;
  else if (v.type == kTypeFloat) truth = v.f != 0;
  else return false;
  return true;
}

float AsFloat(const Constant& v) { return v.type == kTypeFloat ? v.f : static_cast<float>(v.i); }

int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

class Checker {
public:
  Checker(CompileUnit& unit, GSSymbolTable& library) : unit_(unit), lib_(library) {
    stack_.reserve(kSemanticStackDepth);
  }

  uint32_t Run();

private:
  struct Frame {
    SyntaxNode* node;
    int slot = -1;
    SyntaxNode* cursor = nullptr;
    bool chain = false;
    bool skip = false;
    GSSymbol* savedScope = nullptr;
    int32_t type = kTypeNone;  // of a variable list
    const char* className = nullptr;
    int32_t count = 0;  // case labels of a switch, on statements of a wait
    bool hasDefault = false;
    bool reported = false;  // an error of the statement itself is out
  };
  struct Slot {
    bool end;
    SyntaxNode* first;
    bool chain;
  };

  void Error(int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Internal(const char* text);

  // Declaration passes.
  void DeclareClass(SyntaxNode* node);
  void SetBases(SyntaxNode* node, GSClassSymbol* cls);
  void EnterMembers(SyntaxNode* node, GSClassSymbol* cls);
  void EnterMemberVariables(SyntaxNode* list, GSClassSymbol* cls);
  void EnterFunction(SyntaxNode* node, GSClassSymbol* cls);
  void CheckInitialValues(SyntaxNode* node, GSClassSymbol* cls);
  void CheckBody(SyntaxNode* node, GSClassSymbol* cls);
  bool ResolveType(SyntaxNode* typeNode, int32_t& type, const char*& className, int line);

  // The walk.
  bool Walk(SyntaxNode* root);
  bool Push(SyntaxNode* node);
  SyntaxNode* NextChild(Frame& frame);
  Slot SlotOf(Frame& frame, int slot);
  void Enter(Frame& frame);
  void AfterSlot(Frame& frame, int slot);
  void Leave(Frame& frame);
  Frame* Enclosing(std::initializer_list<int32_t> statementKinds);
  bool IsObjectOfAccess() const;

  void EnterCompound(Frame& frame);
  void EnterVariableList(Frame& frame);
  void LeaveDeclarator(Frame& frame);
  void LeaveStatement(Frame& frame);
  void LeaveExpression(Frame& frame);
  void LeaveIdentifier(SyntaxNode* node);
  void LeaveOperator(SyntaxNode* node);
  void LeaveMember(SyntaxNode* node);
  void LeaveCall(SyntaxNode* node);
  void LeaveInherited(SyntaxNode* node, const std::vector<SyntaxNode*>& args);
  void LeaveIndex(SyntaxNode* node);
  void LeaveRange(SyntaxNode* node);
  void LeaveCast(SyntaxNode* node);
  void LeaveCopy(SyntaxNode* node);
  void LeaveNew(SyntaxNode* node);
  GSClassSymbol* ObjectClass(SyntaxNode* object, bool& isStatic);
  bool CheckCondition(SyntaxNode* condition, const char* what);
  bool Assignable(int32_t target, const char* targetClass, SyntaxNode* value, int line);
  bool ObjectCompatible(const char* targetClass, const char* valueClass, int line);
  bool ArgumentMatches(const ParameterType& parameter, const SyntaxNode* argument) const;
  bool Accessible(const GSSymbol& member, const GSClassSymbol* cls) const;
  bool IsLValue(const SyntaxNode* node) const;
  void Fold(SyntaxNode* node);
  void MakeConstant(SyntaxNode* node, const Constant& value);
  bool MakeDefineConstant(SyntaxNode* node, const GSVariableSymbol& variable);
  void SetType(SyntaxNode* node, int32_t type, const char* className = nullptr) {
    node->type = type;
    node->className = className != nullptr && *className != '\0' ? className : nullptr;
  }
  static void Annotate(SyntaxNode* node, GSSymbol* symbol, int32_t slot = 0, int32_t count = 0) {
    node->annotation[kAnnotationSymbol] = reinterpret_cast<intptr_t>(symbol);
    node->annotation[kAnnotationSlot] = slot;
    node->annotation[kAnnotationCount] = count;
  }
  const char* ClassName(const GSClassSymbol* cls) const { return cls != nullptr ? cls->name.c_str() : ""; }

  CompileUnit& unit_;
  GSSymbolTable& lib_;
  std::vector<Frame> stack_;
  std::vector<std::pair<SyntaxNode*, GSClassSymbol*>> classes_;
  GSClassSymbol* class_ = nullptr;      // whose code is checked
  GSFunctionSymbol* function_ = nullptr;
  GSSymbol* scope_ = nullptr;           // innermost scope of names
  bool overflowed_ = false;
};

void Checker::Error(int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportErrorV(&unit_, true, false, line, format, args);
  va_end(args);
}

void Checker::Internal(const char* text) {
  ++unit_.errors;
  if (unit_.sink != nullptr) unit_.sink->Add(text);
}

// ---- declarations

uint32_t Checker::Run() {
  uint32_t result = 0;
  for (SyntaxNode* node = unit_.tree; node != nullptr; node = node->next) {
    if (node->nodeClass != NodeClass::Declaration) {
      Internal("Internal compiler error.");
      continue;
    }
    if (node->kind == kDeclClass) {
      result |= kSemanticDeclaresClass;
      DeclareClass(node);
    }
  }
  for (auto& [node, cls] : classes_) SetBases(node, cls);
  // Each class on a cycle reports it; its bases are then dropped, so that
  // every later walk along the bases ends.
  std::vector<GSClassSymbol*> cyclic;
  for (auto& [node, cls] : classes_) {
    for (GSClassSymbol* base : cls->bases) {
      if (base == cls || LeadsTo(base, cls)) {
        Error(node->line, "Class %s and %s causes cyclic derivation, line %d.", cls->name.c_str(), base->name.c_str(),
              node->line);
        cyclic.push_back(cls);
        break;
      }
    }
  }
  for (GSClassSymbol* cls : cyclic) cls->bases.clear();
  for (auto& [node, cls] : classes_) EnterMembers(node, cls);
  for (auto& [node, cls] : classes_) LayOut(*cls);
  for (auto& [node, cls] : classes_) CheckInitialValues(node, cls);
  for (auto& [node, cls] : classes_) {
    for (SyntaxNode* member = node->child[2]; member != nullptr; member = member->next)
      if (member->kind == kDeclFunction) CheckBody(member, cls);
  }
  return result;
}

void Checker::DeclareClass(SyntaxNode* node) {
  const char* name = node->child[0] != nullptr ? node->child[0]->text : nullptr;
  if (name == nullptr) return Internal("Internal compiler error.");
  if (node->flags & kClassRefused) return Error(node->line, "Class has illegal declaration specifiers, line %d.", node->line);
  auto* cls = new GSClassSymbol(name);
  cls->flags = node->flags & kSpecifierBits;
  cls->line = node->line;
  cls->declaration = node;
  if (!lib_.Enter(cls)) {
    delete cls;
    return Error(node->line, "Class %s has already been declared, line %d.", name, node->line);
  }
  Annotate(node, cls);
  classes_.emplace_back(node, cls);
}

void Checker::SetBases(SyntaxNode* node, GSClassSymbol* cls) {
  for (SyntaxNode* baseName = node->child[1]; baseName != nullptr; baseName = baseName->next) {
    GSClassSymbol* base = lib_.FindClass(baseName->text);
    if (base == nullptr) {
      Error(node->line, "Class %s has not been declared, line %d.", baseName->text, node->line);
    } else if (base->flags & kSpecStatic) {
      Error(node->line, "Cannot extend static class %s, line %d.", baseName->text, node->line);
    } else if (base->flags & kSpecFinal) {
      Error(node->line, "Cannot extend final class %s, line %d.", baseName->text, node->line);
    } else {
      cls->bases.push_back(base);
    }
  }
}

bool Checker::ResolveType(SyntaxNode* typeNode, int32_t& type, const char*& className, int line) {
  type = typeNode->subKind;
  className = nullptr;
  if (IsObjectType(type) && typeNode->child[0] != nullptr) {
    GSClassSymbol* cls = lib_.FindClass(typeNode->child[0]->text);
    if (cls == nullptr) {
      Error(line, "object<%s> not declared, line %d.", typeNode->child[0]->text, line);
      return false;
    }
    className = cls->name.c_str();
  }
  return true;
}

void Checker::EnterMembers(SyntaxNode* node, GSClassSymbol* cls) {
  for (SyntaxNode* member = node->child[2]; member != nullptr; member = member->next) {
    switch (member->kind) {
      case kDeclVariableList: EnterMemberVariables(member, cls); break;
      case kDeclFunction:
      case kDeclPrototype: EnterFunction(member, cls); break;
      default: Internal("Internal compiler error."); break;
    }
  }
}

void Checker::EnterMemberVariables(SyntaxNode* list, GSClassSymbol* cls) {
  if (list->flags & kMemberRefused)
    return Error(list->line, "member declaration has invalid specifiers, line %d.", list->line);
  int32_t type;
  const char* className;
  if (!ResolveType(list->child[0], type, className, list->line)) return;
  for (SyntaxNode* declarator = list->child[1]; declarator != nullptr; declarator = declarator->next) {
    const char* name = declarator->child[0]->text;
    auto* variable = new GSVariableSymbol(name, type, className, Storage::Member);
    variable->flags = list->flags & kSpecifierBits;
    variable->line = declarator->line;
    variable->declaration = declarator;
    if (!cls->EnterVariable(variable)) {
      delete variable;
      Error(declarator->line, "Variable %s already declared in this scope, line %d.", name, declarator->line);
      continue;
    }
    Annotate(declarator, variable);
    if ((list->flags & kSpecDefine) && declarator->child[1] == nullptr)
      Error(declarator->line, "define variable must have a const assignment, line %d.", declarator->line);
  }
}

void Checker::EnterFunction(SyntaxNode* node, GSClassSymbol* cls) {
  const int line = node->line;
  const uint32_t flags = node->flags & kSpecifierBits;
  if ((flags & kFunctionRefused) || ((flags & kSpecNative) && (flags & kSpecThread)))
    return Error(line, "Function has illegal declaration specifiers, line %d.", line);
  int32_t returnType;
  const char* returnClass;
  if (!ResolveType(node->child[0], returnType, returnClass, line)) return;
  std::vector<ParameterType> parameters;
  for (SyntaxNode* parameter = node->child[2]; parameter != nullptr; parameter = parameter->next) {
    int32_t type;
    const char* className;
    if (!ResolveType(parameter->child[0], type, className, line)) return;
    parameters.push_back({type, className != nullptr ? className : ""});
  }
  if ((flags & kSpecThread) && returnType != kTypeVoid)
    return Error(line, "thread function must return void, line %d.", line);

  const bool hasBody = node->kind == kDeclFunction;
  auto* function = new GSFunctionSymbol(node->child[1]->text, returnType, returnClass, std::move(parameters));
  function->flags = flags;
  function->line = line;
  function->declaration = node;
  function->hasBody = hasBody;
  auto* earlier = static_cast<GSFunctionSymbol*>(Find(cls, function->name.c_str(), kSymbolFunction, false));
  if (earlier != nullptr) {
    const bool sameReturn = earlier->type == function->type && earlier->returnClass == function->returnClass;
    const std::string signature = function->name;
    delete function;
    if (!sameReturn) return Error(line, "Function differs only by return type, line %d.", line);
    if (earlier->hasBody == hasBody) return Error(line, "Function %s already declared, line %d.", signature.c_str(), line);
    if (earlier->flags != flags) return Error(line, "Function specifiers differ from prototype, line %d.", line);
    if (hasBody) {
      earlier->hasBody = true;
      earlier->declaration = node;
    }
    return Annotate(node, earlier);
  }
  for (GSClassSymbol* base : cls->bases) {
    auto* overridden = static_cast<GSFunctionSymbol*>(Find(base, function->name.c_str(), kSymbolFunction, true));
    if (overridden != nullptr && overridden->kind == kSymbolFunction && (overridden->flags & kSpecFinal)) {
      delete function;
      return Error(line, "Cannot override final function, line %d.", line);
    }
  }
  if (!cls->EnterFunction(function, lib_)) {
    delete function;
    return Internal("Internal compiler error.");
  }
  Annotate(node, function);
}

void Checker::CheckInitialValues(SyntaxNode* node, GSClassSymbol* cls) {
  class_ = cls;
  function_ = nullptr;
  for (SyntaxNode* list = node->child[2]; list != nullptr; list = list->next) {
    if (list->kind != kDeclVariableList) continue;
    for (SyntaxNode* declarator = list->child[1]; declarator != nullptr; declarator = declarator->next) {
      auto* variable = static_cast<GSVariableSymbol*>(NodeSymbol(declarator));
      SyntaxNode* value = declarator->child[1];
      if (variable == nullptr || value == nullptr) continue;
      if (variable->storage != Storage::Member) continue;
      declarator->annotation[kAnnotationSlot] = variable->slot;
      scope_ = cls;
      if (!Walk(value)) continue;
      value = declarator->child[1];
      if (value->type == kTypeNone) continue;
      if (!Assignable(variable->type, variable->className.c_str(), value, declarator->line)) continue;
      if (!(variable->flags & kSpecDefine)) continue;
      if (!IsConstant(value)) {
        Error(declarator->line, "define variable must have a const assignment, line %d.", declarator->line);
        continue;
      }
      variable->hasConstant = true;
      variable->constantKind = value->subKind;
      variable->constantNumber = value->number;
      if (value->subKind == kConstString) variable->constantText = value->text;
    }
  }
}

void Checker::CheckBody(SyntaxNode* node, GSClassSymbol* cls) {
  auto* function = static_cast<GSFunctionSymbol*>(NodeSymbol(node));
  if (function == nullptr || function->declaration != node) return;
  class_ = cls;
  function_ = function;
  function->a = 0;
  GSSymbolTable* scope = lib_.NewScope(cls);
  scope->function = function;
  int32_t slot = 1;
  for (SyntaxNode* parameter = node->child[2]; parameter != nullptr; parameter = parameter->next, ++slot) {
    const ParameterType& type = function->parameters[slot - 1];
    auto* variable = new GSVariableSymbol(parameter->child[1]->text, type.type, type.className.c_str(),
                                          Storage::Parameter);
    variable->slot = slot;
    variable->line = parameter->line;
    variable->declaration = parameter;
    if (!scope->Enter(variable)) {
      Error(parameter->line, "Variable %s already declared in this scope, line %d.", variable->name.c_str(),
            parameter->line);
      delete variable;
      continue;
    }
    Annotate(parameter, variable, slot);
  }
  scope_ = scope;
  Walk(node->child[3]);
  function_ = nullptr;
}

// ---- the walk

bool Checker::Walk(SyntaxNode* root) {
  stack_.clear();
  overflowed_ = false;
  if (root == nullptr || !Push(root)) return false;
  while (!stack_.empty()) {
    Frame& frame = stack_.back();
    if (SyntaxNode* child = NextChild(frame)) {
      child->parent = frame.node;
      if (!Push(child)) break;
      continue;
    }
    Leave(stack_.back());
    stack_.pop_back();
  }
  if (overflowed_) {
    stack_.clear();
    return false;
  }
  return true;
}

bool Checker::Push(SyntaxNode* node) {
  if (stack_.size() >= static_cast<std::size_t>(kSemanticStackDepth)) {
    Error(node->line, "Stack overflow; code nested too deep.");
    overflowed_ = true;
    return false;
  }
  stack_.push_back(Frame{node});
  Enter(stack_.back());
  return true;
}

SyntaxNode* Checker::NextChild(Frame& frame) {
  for (;;) {
    if (frame.cursor != nullptr) {
      SyntaxNode* node = frame.cursor;
      frame.cursor = frame.chain ? node->next : nullptr;
      return node;
    }
    if (frame.slot >= 0) AfterSlot(frame, frame.slot);
    if (frame.skip) return nullptr;
    const Slot slot = SlotOf(frame, ++frame.slot);
    if (slot.end) return nullptr;
    if (slot.first == nullptr) continue;
    if (!slot.chain && slot.first->next != nullptr) {
      // A parenthesised comma list where one value is wanted.
      Error(slot.first->line, "Error in expression, line %d.", slot.first->line);
      SetType(frame.node, kTypeNone);
      frame.skip = true;
      continue;
    }
    frame.cursor = slot.first;
    frame.chain = slot.chain;
  }
}

Checker::Slot Checker::SlotOf(Frame& frame, int slot) {
  SyntaxNode* node = frame.node;
  constexpr Slot kEnd{true, nullptr, false};
  auto single = [](SyntaxNode* n) { return Slot{false, n, false}; };
  auto chain = [](SyntaxNode* n) { return Slot{false, n, true}; };
  switch (node->nodeClass) {
    case NodeClass::Statement:
      switch (node->kind) {
        case kStmtCompound: return slot == 0 ? chain(node->child[0]) : kEnd;
        case kStmtReturn:
        case kStmtCase:
        case kStmtSwitch:
        case kStmtWhile:
        case kStmtIf:
          if (slot == 0) return single(node->child[0]);
          if (slot == 1 && node->kind == kStmtSwitch) return single(node->child[1]);
          if (slot == 1 && (node->kind == kStmtWhile || node->kind == kStmtIf)) return chain(node->child[1]);
          if (slot == 2 && node->kind == kStmtIf) return chain(node->child[2]);
          return kEnd;
        case kStmtFor:
          switch (slot) {
            case 0: return chain(node->child[0]);
            case 1: return single(node->child[1]);
            case 2: return chain(node->child[2]);
            case 3: return chain(node->child[3]);
            default: return kEnd;
          }
        case kStmtWait: return slot == 0 ? single(node->child[0]) : kEnd;
        case kStmtOn: return slot == 0 ? single(node->child[2]) : kEnd;
        default: return kEnd;
      }
    case NodeClass::Declaration:
      if (node->kind == kDeclVariableList) return slot == 0 ? chain(node->child[1]) : kEnd;
      if (node->kind == kDeclDeclarator) return slot == 0 ? single(node->child[1]) : kEnd;
      return kEnd;
    case NodeClass::Expression:
      if (node->kind == kExprCall) {
        SyntaxNode* callee = node->child[0];
        if (slot == 0) return single(callee != nullptr && callee->kind == kExprOperator && callee->subKind == kOpMember
                                         ? callee->child[0]
                                         : nullptr);
        if (slot == 1) return chain(node->child[1]);
        return kEnd;
      }
      if (node->kind != kExprOperator) return kEnd;
      switch (node->subKind) {
        case kOpNew: return slot == 0 ? chain(node->child[1]) : kEnd;
        case kOpCast:
        case kOpMember:
        case kOpSize:
        case kOpIsClass: return slot == 0 ? single(node->child[0]) : kEnd;
        case kOpRange: return slot < 3 ? single(node->child[slot]) : kEnd;
        default:
          if (IsUnary(node->subKind)) return slot == 0 ? single(node->child[0]) : kEnd;
          return slot < 2 ? single(node->child[slot]) : kEnd;
      }
  }
  return kEnd;
}

Checker::Frame* Checker::Enclosing(std::initializer_list<int32_t> statementKinds) {
  for (std::size_t i = stack_.size() - 1; i-- > 0;) {
    const SyntaxNode* node = stack_[i].node;
    if (node->nodeClass != NodeClass::Statement) continue;
    for (int32_t kind : statementKinds)
      if (node->kind == kind) return &stack_[i];
  }
  return nullptr;
}

void Checker::Enter(Frame& frame) {
  SyntaxNode* node = frame.node;
  if (node->nodeClass == NodeClass::Declaration) {
    if (node->kind == kDeclVariableList) EnterVariableList(frame);
    return;
  }
  if (node->nodeClass == NodeClass::Expression) {
    if (node->kind == kExprMe && class_ != nullptr && (class_->flags & kSpecStatic)) {
      Error(node->line, "me keyword invalid in static, line %d.", node->line);
      frame.skip = true;
    }
    return;
  }
  switch (node->kind) {
    case kStmtCompound: EnterCompound(frame); break;
    case kStmtBreak:
      if (Enclosing({kStmtFor, kStmtWhile, kStmtSwitch, kStmtWait}) == nullptr)
        Error(node->line, "illegal break, line %d.", node->line);
      break;
    case kStmtContinue:
      if (Enclosing({kStmtFor, kStmtWhile, kStmtWait}) == nullptr)
        Error(node->line, "illegal continue, line %d.", node->line);
      break;
    case kStmtDefault: {
      Frame* owner = Enclosing({kStmtSwitch});
      if (owner == nullptr) {
        Error(node->line, "illegal default, line %d.", node->line);
      } else if (owner->hasDefault) {
        if (!owner->reported) Error(node->line, "switch already has default, line %d.", node->line);
      } else {
        owner->hasDefault = true;
      }
      break;
    }
    case kStmtCase:
      if (Enclosing({kStmtSwitch}) == nullptr) {
        Error(node->line, "illegal case, line %d.", node->line);
        frame.skip = true;
      }
      break;
    case kStmtOn: {
      if (Frame* owner = Enclosing({kStmtWait})) ++owner->count;
      auto isString = [](const SyntaxNode* c) { return IsConstant(c) && c->subKind == kConstString; };
      if (!isString(node->child[0]) || !isString(node->child[1])) {
        Error(node->line, "on statement requires string constant for major and minor message types, line %d",
              node->line);
        frame.skip = true;
      }
      break;
    }
    default: break;
  }
}

void Checker::EnterCompound(Frame& frame) {
  frame.savedScope = scope_;
  if (!(frame.node->flags & kMarkFunctionBody)) scope_ = lib_.NewScope(scope_);
  Annotate(frame.node, scope_);
}

void Checker::EnterVariableList(Frame& frame) {
  SyntaxNode* list = frame.node;
  if (list->flags & kLocalRefused) {
    Error(list->line, "variable declaration has illegal specifiers, line %d.", list->line);
    frame.skip = true;
    return;
  }
  if (!ResolveType(list->child[0], frame.type, frame.className, list->line)) frame.skip = true;
}

void Checker::AfterSlot(Frame& frame, int slot) {
  SyntaxNode* node = frame.node;
  if (node->nodeClass != NodeClass::Statement || slot != (node->kind == kStmtFor ? 1 : 0)) return;
  switch (node->kind) {
    case kStmtIf: CheckCondition(node->child[0], "if"); break;
    case kStmtWhile: CheckCondition(node->child[0], "while"); break;
    case kStmtFor:
      if (node->child[1] != nullptr) CheckCondition(node->child[1], "for");
      break;
    case kStmtSwitch:
      if (node->child[0] != nullptr && node->child[0]->type != kTypeNone && node->child[0]->type != kTypeInt) {
        Error(node->line, "switch expression not integral, line %d.", node->line);
        frame.reported = true;
      }
      break;
    default: break;
  }
}

bool Checker::CheckCondition(SyntaxNode* condition, const char* what) {
  if (condition == nullptr || condition->type == kTypeNone) return false;
  if (ValueType(condition->type)) return true;
  Error(condition->line, "invalid %s expression, line %d.", what, condition->line);
  return false;
}

void Checker::Leave(Frame& frame) {
  SyntaxNode* node = frame.node;
  switch (node->nodeClass) {
    case NodeClass::Statement: LeaveStatement(frame); break;
    case NodeClass::Declaration:
      if (node->kind == kDeclDeclarator) LeaveDeclarator(frame);
      break;
    case NodeClass::Expression:
      if (frame.skip) {
        SetType(node, kTypeNone);
      } else {
        LeaveExpression(frame);
      }
      break;
  }
}

void Checker::LeaveStatement(Frame& frame) {
  SyntaxNode* node = frame.node;
  switch (node->kind) {
    case kStmtCompound: scope_ = frame.savedScope; break;
    case kStmtSwitch:
      node->annotation[kAnnotationCount] = frame.count;
      if (frame.reported) break;
      if (frame.count == 0) {
        Error(node->line, "switch statement without case, line %d.", node->line);
      } else if (!frame.hasDefault) {
        Error(node->line, "switch statement without default, line %d.", node->line);
      }
      break;
    case kStmtCase: {
      if (frame.skip) break;
      if (Frame* owner = Enclosing({kStmtSwitch})) ++owner->count;
      SyntaxNode* value = node->child[0];
      if (value == nullptr || value->type == kTypeNone) break;
      if (!IsConstant(value) || value->subKind != kConstInt)
        Error(node->line, "case expression not constant or integral, line %d.", node->line);
      break;
    }
    case kStmtWait:
      node->annotation[kAnnotationCount] = frame.count;
      if (frame.count == 0) Error(node->line, "wait statement must have at least 1 on statement, line %d.", node->line);
      break;
    case kStmtOn: {
      SyntaxNode* target = node->child[2];
      if (frame.skip || target == nullptr || target->type == kTypeNone) break;
      if (target->type != kTypeObject || !IsLValue(target))
        Error(node->line, "on statement requires object type for third parameter, line %d", node->line);
      break;
    }
    case kStmtReturn: {
      if (function_ == nullptr) break;
      SyntaxNode* value = node->child[0];
      const std::string expected = TypeText(function_->type, function_->returnClass.c_str());
      if (value == nullptr) {
        if (function_->type != kTypeVoid)
          Error(node->line, "expecting return type of %s, line %d.", expected.c_str(), node->line);
        break;
      }
      if (value->type == kTypeNone) break;
      const int32_t want = function_->type;
      const bool nullObject = (want == kTypeObject && value->type == kTypeNull) ||
                              (want == kTypeNull && value->type == kTypeObject);
      if (want == kTypeVoid || (value->type != want && !nullObject)) {
        Error(node->line, "return type mismatch, expecting %s, line %d.", expected.c_str(), node->line);
      } else if (want == kTypeObject && value->type == kTypeObject) {
        ObjectCompatible(function_->returnClass.c_str(), value->className, node->line);
      }
      break;
    }
    default: break;
  }
}

void Checker::LeaveDeclarator(Frame& frame) {
  // Member declarators are entered with their class; only locals here.
  if (function_ == nullptr || stack_.size() < 2) return;
  const Frame& list = stack_[stack_.size() - 2];
  SyntaxNode* declarator = frame.node;
  SyntaxNode* value = declarator->child[1];
  if (value != nullptr && value->type != kTypeNone)
    Assignable(list.type, list.className, value, declarator->line);
  auto* variable = new GSVariableSymbol(declarator->child[0]->text, list.type, list.className, Storage::Local);
  variable->line = declarator->line;
  variable->declaration = declarator;
  auto* scope = static_cast<GSSymbolTable*>(scope_);
  if (!scope->Enter(variable)) {
    Error(declarator->line, "Variable %s already declared in this scope, line %d.", variable->name.c_str(),
          declarator->line);
    delete variable;
    return;
  }
  variable->slot = function_->c + function_->a++;
  Annotate(declarator, variable, variable->slot);
}

// ---- expressions

void Checker::LeaveExpression(Frame& frame) {
  SyntaxNode* node = frame.node;
  switch (node->kind) {
    case kExprIdentifier: LeaveIdentifier(node); break;
    case kExprConstant: {
      static const int32_t types[] = {kTypeBool, kTypeInt, kTypeFloat, kTypeString};
      SetType(node, node->subKind >= 0 && node->subKind <= kConstString ? types[node->subKind] : kTypeNone);
      break;
    }
    case kExprMe:
      if (class_ == nullptr) return SetType(node, kTypeNone);
      SetType(node, kTypeObject, class_->name.c_str());
      break;
    case kExprNull: SetType(node, kTypeNull); break;
    case kExprCall: LeaveCall(node); break;
    case kExprOperator: LeaveOperator(node); break;
    default: Internal("Internal compiler error."); break;
  }
}

bool Checker::IsObjectOfAccess() const {
  if (stack_.size() < 2) return false;
  const SyntaxNode* node = stack_.back().node;
  const SyntaxNode* parent = stack_[stack_.size() - 2].node;
  if (parent->nodeClass != NodeClass::Expression) return false;
  if (parent->kind == kExprOperator && parent->subKind == kOpMember) return parent->child[0] == node;
  if (parent->kind == kExprCall) {
    const SyntaxNode* callee = parent->child[0];
    return callee != nullptr && callee->kind == kExprOperator && callee->subKind == kOpMember &&
           callee->child[0] == node;
  }
  return false;
}

bool Checker::MakeDefineConstant(SyntaxNode* node, const GSVariableSymbol& variable) {
  if (!(variable.flags & kSpecDefine) || !variable.hasConstant) return false;
  SyntaxNode value{};
  value.subKind = variable.constantKind;
  value.number = variable.constantNumber;
  if (value.subKind == kConstString) {
    value.text = unit_.pool.Frames().StrDup(variable.constantText.c_str());
    if (value.text == nullptr) return false;
  }
  MakeConstant(node, ConstantOf(&value));
  return true;
}

void Checker::LeaveIdentifier(SyntaxNode* node) {
  const char* name = node->text;
  if (auto* variable = static_cast<GSVariableSymbol*>(Find(scope_, name, kSymbolVariable, true))) {
    if (variable->storage == Storage::Member) {
      if (MakeDefineConstant(node, *variable)) return;
      Annotate(node, variable, class_ != nullptr ? MemberSlot(*class_, *variable) : -1);
    } else {
      Annotate(node, variable, variable->slot);
    }
    SetType(node, variable->type, variable->className.c_str());
    return;
  }
  const bool object = IsObjectOfAccess();
  if (GSClassSymbol* cls = object ? lib_.FindClass(name) : nullptr) {
    if (!(cls->flags & kSpecStatic)) {
      Error(node->line, "class %s is not static, line %d.", name, node->line);
      return SetType(node, kTypeNone);
    }
    Annotate(node, cls, -1);
    return SetType(node, kTypeObject, cls->name.c_str());
  }
  if (object) {
    Error(node->line, "%s is not a static class or variable within this class, line %d.", name, node->line);
  } else {
    Error(node->line, "variable %s not declared, line %d.", name, node->line);
  }
  SetType(node, kTypeNone);
}

bool Checker::IsLValue(const SyntaxNode* node) const {
  if (node->nodeClass != NodeClass::Expression) return false;
  const GSSymbol* symbol = NodeSymbol(node);
  if (node->kind == kExprIdentifier) return symbol != nullptr && symbol->kind == kSymbolVariable;
  if (node->kind != kExprOperator) return false;
  if (node->subKind == kOpMember) return symbol != nullptr && symbol->kind == kSymbolVariable;
  return node->subKind == kOpIndex || node->subKind == kOpRange;
}

void Checker::LeaveOperator(SyntaxNode* node) {
  const int32_t op = node->subKind;
  for (int i = 0; i < 3; ++i) {
    // The type node of a cast or new, and the class name of isclass, are
    // not values.
    if (node->child[i] == nullptr || node->child[i]->nodeClass != NodeClass::Expression) continue;
    if (op == kOpMember && i > 0) continue;
    if (node->child[i]->type == kTypeNone) return SetType(node, kTypeNone);
  }
  switch (op) {
    case kOpMember: return LeaveMember(node);
    case kOpIndex: return LeaveIndex(node);
    case kOpRange: return LeaveRange(node);
    case kOpCast: return LeaveCast(node);
    case kOpCopy: return LeaveCopy(node);
    case kOpNew: return LeaveNew(node);
    case kOpSize: {
      const int32_t type = node->child[0]->type;
      if (type != kTypeString && !IsArrayType(type)) {
        Error(node->line, ".size operator requires an array type, line %d.", node->line);
        return SetType(node, kTypeNone);
      }
      return SetType(node, kTypeInt);
    }
    case kOpIsClass: {
      if (node->child[0]->type != kTypeObject) {
        Error(node->line, ".isclass operator requires an object type, line %d.", node->line);
        return SetType(node, kTypeNone);
      }
      GSClassSymbol* cls = lib_.FindClass(node->child[1]->text);
      if (cls == nullptr) {
        Error(node->line, "class %s not declared for .isclass operator, line %d.", node->child[1]->text, node->line);
        return SetType(node, kTypeNone);
      }
      Annotate(node, cls);
      return SetType(node, kTypeBool);
    }
    case kOpAssign: {
      SyntaxNode* target = node->child[0];
      if (!IsLValue(target)) {
        Error(node->line, "illegal l-value for assignment, line %d.", node->line);
        return SetType(node, kTypeNone);
      }
      if (!Assignable(target->type, target->className, node->child[1], node->line)) return SetType(node, kTypeNone);
      return SetType(node, target->type, target->className);
    }
    default: break;
  }
  if (!IsUnary(op) && !IsBinary(op)) {
    Internal("Internal compiler error");
    return SetType(node, kTypeNone);
  }
  const bool unary = IsUnary(op);
  if (IsIncrement(op) && !IsLValue(node->child[0])) {
    Error(node->line, "expression not an l-value for %s operator, line %d", OperatorText(op), node->line);
    return SetType(node, kTypeNone);
  }
  const int32_t result = OperatorResult(op, node->child[0]->type, unary ? kTypeNone : node->child[1]->type);
  if (result == kTypeNone) {
    if (unary) {
      Error(node->line, "illegal types for unary operand %s, line %d", OperatorText(op), node->line);
    } else {
      Error(node->line, "illegal types for operand %s, line %d", OperatorText(op), node->line);
    }
    return SetType(node, kTypeNone);
  }
  SetType(node, result);
  if (!IsIncrement(op)) Fold(node);
}

GSClassSymbol* Checker::ObjectClass(SyntaxNode* object, bool& isStatic) {
  const GSSymbol* symbol = NodeSymbol(object);
  isStatic = object->kind == kExprIdentifier && symbol != nullptr && symbol->kind == kSymbolClass;
  if (isStatic) return const_cast<GSClassSymbol*>(static_cast<const GSClassSymbol*>(symbol));
  if (object->type != kTypeObject) {
    Error(object->line, ". operator cannot be used on a non-reference type, line %d.", object->line);
    return nullptr;
  }
  GSClassSymbol* cls = object->className != nullptr ? lib_.FindClass(object->className) : nullptr;
  if (cls == nullptr) Error(object->line, "unknown object class for '.' operator, line %d.", object->line);
  return cls;
}

bool Checker::Accessible(const GSSymbol& member, const GSClassSymbol* owner) const {
  return (member.flags & kSpecPublic) || (class_ != nullptr && DerivesFrom(class_, owner));
}

void Checker::LeaveMember(SyntaxNode* node) {
  bool isStatic;
  GSClassSymbol* cls = ObjectClass(node->child[0], isStatic);
  if (cls == nullptr) return SetType(node, kTypeNone);
  SyntaxNode* member = node->child[1];
  auto* variable = static_cast<GSVariableSymbol*>(Find(cls, member->text, kSymbolVariable, true));
  if (variable == nullptr) {
    Error(node->line, "member %s does not exist in object %s, line %d.", member->text, cls->name.c_str(), node->line);
    return SetType(node, kTypeNone);
  }
  const auto* owner = static_cast<const GSClassSymbol*>(variable->owner);
  if (!Accessible(*variable, owner)) {
    Error(node->line, "member %s not public in object %s, line %d.", member->text, cls->name.c_str(), node->line);
    return SetType(node, kTypeNone);
  }
  if (MakeDefineConstant(node, *variable)) return;
  const int32_t slot = MemberSlot(*cls, *variable);
  Annotate(node, variable, slot);
  Annotate(member, variable, slot);
  SetType(member, variable->type, variable->className.c_str());
  SetType(node, variable->type, variable->className.c_str());
}

bool Checker::ArgumentMatches(const ParameterType& parameter, const SyntaxNode* argument) const {
  if (parameter.type == kTypeObject && argument->type == kTypeNull) return true;
  if (parameter.type != argument->type) return false;
  if (!IsObjectType(parameter.type) || parameter.className.empty()) return true;
  if (argument->className == nullptr) return false;
  if (parameter.type == kTypeObjectArray) return parameter.className == argument->className;
  return DerivesFrom(lib_.FindClass(argument->className), lib_.FindClass(parameter.className.c_str()));
}

void Checker::LeaveCall(SyntaxNode* node) {
  std::vector<SyntaxNode*> args;
  for (SyntaxNode* arg = node->child[1]; arg != nullptr; arg = arg->next) {
    if (arg->type == kTypeNone) return SetType(node, kTypeNone);
    args.push_back(arg);
  }
  SyntaxNode* callee = node->child[0];
  GSClassSymbol* cls = nullptr;
  const char* name = nullptr;
  bool throughObject = false;
  if (callee->kind == kExprIdentifier) {
    name = callee->text;
    if (std::strcmp(name, "inherited") == 0) return LeaveInherited(node, args);
    cls = class_;
  } else if (callee->kind == kExprOperator && callee->subKind == kOpMember) {
    if (callee->child[0]->type == kTypeNone) return SetType(node, kTypeNone);
    bool isStatic;
    cls = ObjectClass(callee->child[0], isStatic);
    if (cls == nullptr) return SetType(node, kTypeNone);
    name = callee->child[1]->text;
    throughObject = true;
  } else {
    Error(node->line, "Error in expression, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  if (cls == nullptr) {
    Error(node->line, "function %s not declared, line %d.", name, node->line);
    return SetType(node, kTypeNone);
  }
  std::vector<ParameterType> types;
  for (const SyntaxNode* arg : args) types.push_back({arg->type, arg->className != nullptr ? arg->className : ""});
  auto* function = static_cast<GSFunctionSymbol*>(
      Find(cls, SignatureName(name, types).c_str(), kSymbolFunction, true));
  if (function == nullptr || function->kind != kSymbolFunction) {
    function = nullptr;
    std::vector<GSFunctionSymbol*> matches;
    for (GSFunctionSymbol* candidate : FindFunctions(cls, name, static_cast<int>(args.size()))) {
      bool all = true;
      for (std::size_t i = 0; i < args.size() && all; ++i) all = ArgumentMatches(candidate->parameters[i], args[i]);
      if (all) matches.push_back(candidate);
    }
    if (matches.size() > 1) {
      Error(node->line, "function call %s is ambiguous, line %d.", name, node->line);
      return SetType(node, kTypeNone);
    }
    if (matches.empty()) {
      if (throughObject) {
        Error(node->line, "function %s not declared in class %s or derivative, line %d.", name, cls->name.c_str(),
              node->line);
      } else {
        Error(node->line, "function %s not declared, line %d.", name, node->line);
      }
      return SetType(node, kTypeNone);
    }
    function = matches.front();
  }
  if (throughObject && !Accessible(*function, function->ownerClass)) {
    Error(node->line, "function %s not public in object %s, line %d.", name, cls->name.c_str(), node->line);
    return SetType(node, kTypeNone);
  }
  Annotate(node, function, VirtualSlot(*cls, *function), function->c);
  SetType(node, function->type, function->returnClass.c_str());
}

void Checker::LeaveInherited(SyntaxNode* node, const std::vector<SyntaxNode*>& args) {
  GSFunctionSymbol* current = function_;
  if (current == nullptr || class_ == nullptr) {
    Error(node->line, "'inherited' can only be used on current function, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  if (current->flags & (kSpecNative | kSpecThread)) {
    Error(node->line, "'inherited' can not be used on native or thread function, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  bool same = args.size() == current->parameters.size();
  for (std::size_t i = 0; i < args.size() && same; ++i) same = ArgumentMatches(current->parameters[i], args[i]);
  if (!same) {
    Error(node->line, "'inherited' can only be used on current function, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  GSFunctionSymbol* base = nullptr;
  for (const BaseLink& link : class_->derivation) {
    base = static_cast<GSFunctionSymbol*>(Find(link.base, current->name.c_str(), kSymbolFunction, false));
    if (base != nullptr) break;
  }
  if (base == nullptr) {
    Error(node->line, "internal compiler error while parsing 'inherited', line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  Annotate(node, base, -1, current->c);
  SetType(node, current->type, current->returnClass.c_str());
}

void Checker::LeaveIndex(SyntaxNode* node) {
  const SyntaxNode* base = node->child[0];
  if (base->type != kTypeString && !IsElementArray(base->type)) {
    Error(node->line, "%s not an array type for [] operator, line %d", TypeText(base->type, base->className).c_str(),
          node->line);
    return SetType(node, kTypeNone);
  }
  if (node->child[1]->type != kTypeInt) {
    Error(node->line, "index not integral for [] operator, line %d", node->line);
    return SetType(node, kTypeNone);
  }
  if (base->type == kTypeString) return SetType(node, kTypeInt);
  SetType(node, base->type - kArrayOffset, base->className);
}

void Checker::LeaveRange(SyntaxNode* node) {
  const SyntaxNode* base = node->child[0];
  if (base->type != kTypeString && !IsElementArray(base->type)) {
    Error(node->line, "%s not an array type for [,] operator, line %d", TypeText(base->type, base->className).c_str(),
          node->line);
    return SetType(node, kTypeNone);
  }
  if (node->child[1] != nullptr && node->child[1]->type != kTypeInt) {
    Error(node->line, "left index not integral for [,] operator, line %d", node->line);
    return SetType(node, kTypeNone);
  }
  if (node->child[2] != nullptr && node->child[2]->type != kTypeInt) {
    Error(node->line, "right index not integral for [,] operator, line %d", node->line);
    return SetType(node, kTypeNone);
  }
  SetType(node, base->type, base->className);
}

bool Checker::ObjectCompatible(const char* targetClass, const char* valueClass, int line) {
  // An unnamed object goes anywhere: the conversion casts it at run time.
  if (targetClass == nullptr || *targetClass == '\0' || valueClass == nullptr || *valueClass == '\0') return true;
  GSClassSymbol* value = lib_.FindClass(valueClass);
  if (value == nullptr) {
    Error(line, "class %s not defined, line %d.", valueClass, line);
    return false;
  }
  GSClassSymbol* target = lib_.FindClass(targetClass);
  if (target == nullptr) {
    Error(line, "class %s not defined, line %d.", targetClass, line);
    return false;
  }
  if (!DerivesFrom(value, target)) {
    Error(line, "cannot cast from object<%s> to object<%s>, line %d.", valueClass, targetClass, line);
    return false;
  }
  return true;
}

bool Checker::Assignable(int32_t target, const char* targetClass, SyntaxNode* value, int line) {
  const int32_t v = value->type;
  bool legal = false;
  switch (target) {
    case kTypeVoid: break;
    case kTypeBool:
    case kTypeInt:
    case kTypeFloat: legal = IsNumericType(v); break;
    case kTypeString: legal = IsNumericType(v) || v == kTypeString || v == kTypeNull; break;
    case kTypeObject:
      if (v == kTypeObject) return ObjectCompatible(targetClass, value->className, line);
      legal = v == kTypeNull;
      break;
    case kTypeVoidArray:
    case kTypeNone: legal = v == kTypeNone; break;
    case kTypeNull: legal = v == kTypeString || v == kTypeObject || IsElementArray(v); break;
    default:
      if (!IsElementArray(target)) break;
      legal = v == kTypeNull ||
              (v == target && (target != kTypeObjectArray || targetClass == nullptr || value->className == nullptr ||
                               std::strcmp(targetClass, value->className) == 0));
      break;
  }
  if (!legal) Error(line, "illegal types for operand %s, line %d", OperatorText(kOpAssign), line);
  return legal;
}

void Checker::LeaveCast(SyntaxNode* node) {
  const SyntaxNode* value = node->child[0];
  int32_t target = node->child[1]->subKind;
  const char* targetClass = nullptr;
  GSClassSymbol* cls = nullptr;
  if (IsObjectType(target) && node->child[1]->child[0] != nullptr) {
    const char* name = node->child[1]->child[0]->text;
    cls = lib_.FindClass(name);
    if (cls == nullptr) {
      Error(node->line, "class %s not defined, line %d.", name, node->line);
      return SetType(node, kTypeNone);
    }
    targetClass = cls->name.c_str();
  }
  const int32_t v = value->type;
  bool legal = false;
  if (IsNumericType(target)) {
    legal = IsNumericType(v);
  } else if (target == kTypeString) {
    legal = IsNumericType(v) || v == kTypeString || v == kTypeNull;
  } else if (target == kTypeObject) {
    legal = v == kTypeNull || v == kTypeObject;
    if (v == kTypeObject && cls != nullptr && value->className != nullptr) {
      GSClassSymbol* from = lib_.FindClass(value->className);
      if (from != nullptr && !DerivesFrom(from, cls) && !DerivesFrom(cls, from)) {
        Error(node->line, "cannot cast from object<%s> to object<%s>, line %d.", value->className, targetClass,
              node->line);
        return SetType(node, kTypeNone);
      }
    }
  } else if (IsElementArray(target)) {
    legal = v == kTypeNull || (v == target && (targetClass == nullptr || value->className == nullptr ||
                                               std::strcmp(targetClass, value->className) == 0));
  }
  if (!legal) {
    Error(node->line, "cannot cast from %s to %s, line %d.", TypeText(v, value->className).c_str(),
          TypeText(target, targetClass).c_str(), node->line);
    return SetType(node, kTypeNone);
  }
  Annotate(node, cls);
  SetType(node, target, targetClass);
}

void Checker::LeaveCopy(SyntaxNode* node) {
  const SyntaxNode* target = node->child[0];
  const SyntaxNode* source = node->child[1];
  auto copyable = [](int32_t t) { return t == kTypeString || IsArrayType(t); };
  if (!copyable(target->type)) {
    Error(node->line, ".copy operator requires an array type, line %d.", node->line);
  } else if (!copyable(source->type)) {
    Error(node->line, ".copy expression must be an array type, line %d.", node->line);
  } else if (target->type != source->type ||
             (target->className != nullptr && source->className != nullptr &&
              std::strcmp(target->className, source->className) != 0)) {
    Error(node->line, "left and right types incompatible for .copy operator, line %d.", node->line);
  } else if (!IsLValue(target)) {
    Error(node->line, "illegal l-value for assignment, line %d.", node->line);
  } else {
    return SetType(node, kTypeVoid);
  }
  SetType(node, kTypeNone);
}

void Checker::LeaveNew(SyntaxNode* node) {
  const SyntaxNode* typeNode = node->child[0];
  const int32_t type = typeNode->subKind;
  const char* name = typeNode->child[0] != nullptr ? typeNode->child[0]->text : nullptr;
  GSClassSymbol* cls = nullptr;
  if (name != nullptr) {
    cls = lib_.FindClass(name);
    if (cls == nullptr) {
      Error(node->line, "cannot find class %s in this translation unit, line %d.", name, node->line);
      return SetType(node, kTypeNone);
    }
  }
  Annotate(node, cls);
  if (IsArrayType(type)) {
    if (node->child[1] == nullptr || node->child[1]->next != nullptr || node->child[1]->type != kTypeInt) {
      Error(node->line, "non-integral expression for new[], line %d.", node->line);
      return SetType(node, kTypeNone);
    }
    return SetType(node, type, ClassName(cls));
  }
  if (node->child[1] != nullptr) {
    Error(node->line, "constructors not yet supported, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  if (type == kTypeString) return SetType(node, kTypeString);
  if (type != kTypeObject) {
    Error(node->line, "cannot new type %s, line %d.", TypeName(type), node->line);
    return SetType(node, kTypeNone);
  }
  if (cls == nullptr) {
    Error(node->line, "cannot new unnamed object, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  if (cls->flags & (kSpecStatic | kSpecGame)) {
    Error(node->line, "cannot new static or game class, line %d.", node->line);
    return SetType(node, kTypeNone);
  }
  SetType(node, kTypeObject, cls->name.c_str());
}

// ---- folding

void Checker::MakeConstant(SyntaxNode* node, const Constant& value) {
  node->kind = kExprConstant;
  node->nodeClass = NodeClass::Expression;
  for (SyntaxNode*& child : node->child) child = nullptr;
  node->text = nullptr;
  node->number = 0;
  Annotate(node, nullptr);
  switch (value.type) {
    case kTypeBool: node->subKind = kConstBool; node->number = value.i; break;
    case kTypeInt: node->subKind = kConstInt; node->number = value.i; break;
    case kTypeFloat: node->subKind = kConstFloat; node->number = std::bit_cast<int32_t>(value.f); break;
    default: node->subKind = kConstString; node->text = value.s; break;
  }
  SetType(node, value.type);
}

// Computes an operator over constant operands the way the runtime does;
// what the runtime would fault on (a division by zero) is left to it.
void Checker::Fold(SyntaxNode* node) {
  const int32_t op = node->subKind;
  const bool unary = IsUnary(op);
  if (!IsConstant(node->child[0]) || (!unary && !IsConstant(node->child[1]))) return;
  const Constant l = ConstantOf(node->child[0]);
  const Constant r = unary ? Constant{kTypeNone} : ConstantOf(node->child[1]);
  Constant out{node->type};
  if (unary) {
    switch (op) {
      case kOpPlus: out = l; break;
      case kOpMinus:
        if (l.type == kTypeInt) out.i = Wrap(-int64_t{l.i});
        else out.f = -l.f;
        break;
      case kOpComplement: out.i = ~l.i; break;
      case kOpNot: {
        bool truth;
        if (!Truth(l, truth)) return;
        out.i = !truth;
        break;
      }
      default: return;
    }
    return MakeConstant(node, out);
  }
  const bool anyString = l.type == kTypeString || r.type == kTypeString;
  switch (op) {
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpMod:
      if (out.type == kTypeString) {
        if (l.type != kTypeString || r.type != kTypeString) return;  // number texts are the runtime's
        const std::string joined = std::string(l.s) + r.s;
        out.s = unit_.pool.Frames().StrDup(joined.c_str());
        if (out.s == nullptr) return;
      } else if (out.type == kTypeFloat) {
        const float a = AsFloat(l), b = AsFloat(r);
        out.f = op == kOpAdd ? a + b : op == kOpSub ? a - b : op == kOpMul ? a * b : op == kOpDiv ? a / b
                                                                                               : std::fmod(a, b);
      } else {
        if ((op == kOpDiv || op == kOpMod) && (r.i == 0 || (l.i == INT_MIN && r.i == -1))) return;
        const int64_t a = l.i, b = r.i;
        out.i = op == kOpAdd ? Wrap(a + b) : op == kOpSub ? Wrap(a - b) : op == kOpMul ? Wrap(a * b)
                                                         : op == kOpDiv ? l.i / r.i : l.i % r.i;
      }
      break;
    case kOpShiftLeft: out.i = static_cast<int32_t>(static_cast<uint32_t>(l.i) << (r.i & 31)); break;
    case kOpShiftRight: out.i = l.i >> (r.i & 31); break;
    case kOpAnd: out.i = l.i & r.i; break;
    case kOpXor: out.i = l.i ^ r.i; break;
    case kOpOr: out.i = l.i | r.i; break;
    case kOpLess:
    case kOpGreater:
    case kOpLessEqual:
    case kOpGreaterEqual:
    case kOpEqual:
    case kOpNotEqual: {
      int order;
      if (anyString) {
        if (l.type != kTypeString || r.type != kTypeString) return;
        order = std::strcmp(l.s, r.s);
      } else if (l.type == kTypeFloat || r.type == kTypeFloat) {
        const float a = AsFloat(l), b = AsFloat(r);
        if (std::isnan(a) || std::isnan(b)) return;
        order = a < b ? -1 : a > b ? 1 : 0;
      } else {
        order = l.i < r.i ? -1 : l.i > r.i ? 1 : 0;
      }
      const bool truth = op == kOpLess ? order < 0 : op == kOpGreater ? order > 0 : op == kOpLessEqual ? order <= 0
                         : op == kOpGreaterEqual ? order >= 0 : op == kOpEqual ? order == 0 : order != 0;
      out.i = truth;
      break;
    }
    case kOpLogicalAnd:
    case kOpLogicalOr: {
      bool a, b;
      if (!Truth(l, a) || !Truth(r, b)) return;
      out.i = op == kOpLogicalAnd ? (a && b) : (a || b);
      break;
    }
    default: return;
  }
  MakeConstant(node, out);
}

} // namespace

int CheckSemantics(CompileUnit& unit, bool included, uint32_t* resultFlags) {
  (void)included;  // an included script is checked like the root
  if (resultFlags != nullptr) *resultFlags = 0;
  if (unit.symbols == nullptr) {
    ++unit.errors;
    if (unit.sink != nullptr) unit.sink->Add("Internal compiler error.");
    return unit.errors;
  }
  unit.symbols->currentUnit = &unit;
  Checker checker(unit, *unit.symbols);
  const uint32_t result = checker.Run();
  if (resultFlags != nullptr) *resultFlags = result;
  if (unit.errors > 0 && unit.sink != nullptr) {
    const std::string summary = std::string("(") + (unit.name != nullptr ? unit.name : "") + ") " +
                                std::to_string(unit.errors) + " semantic error(s)";
    unit.sink->Add(summary.c_str());
  }
  return unit.errors;
}

} // namespace GSCompiler
