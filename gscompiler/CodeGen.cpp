#include "gscompiler/CodeGen.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gscompiler/GSCClass.h"
#include "gscompiler/GSSymbol.h"
#include "gscompiler/LibraryWriter.h"
#include "gscompiler/Labels.h"
#include "gscompiler/Semantic.h"
#include "gscompiler/Types.h"

namespace GSCompiler {

namespace {

constexpr int kTemporaries = 8;
constexpr int32_t kDefaultCase = 0x7FFFFFFF;

struct CaseRecord {
  int32_t value;
  uint32_t offset;
  int32_t line;
  bool isDefault;
};

struct Handler {
  int64_t major;
  int64_t minor;
  uint32_t offset;
};

// The jump targets of the innermost loop, switch or wait.
struct Breakable {
  int breakLabel;
  int continueLabel;  // -1: a switch, which continue passes through
};

class Generator {
public:
  explicit Generator(CompileContext& context) : context_(context) {}

  bool Library();

private:
  // ---- classes and functions
  void DescribeLibrary();
  bool Class(SyntaxNode* declaration);
  bool MemberInitialiser(SyntaxNode* variableList);
  bool Function(SyntaxNode* declaration);
  int32_t ClassIndex(const std::string& name) const;

  // ---- statements
  bool GenerateCode(SyntaxNode* chain);
  bool Node(SyntaxNode* node);
  bool Statement(SyntaxNode* node);
  bool LocalVariables(SyntaxNode* list);
  bool Condition(SyntaxNode* chain);
  bool Jump(const char* message, bool toContinue, int32_t line);
  bool Switch(SyntaxNode* node);
  bool Wait(SyntaxNode* node);
  bool On(SyntaxNode* node);
  bool OnMessage(SyntaxNode* target);

  // ---- expressions
  // With `used` the value is left on the stack (none for void), else nothing.
  bool Expression(SyntaxNode* node, bool used);
  bool Child(SyntaxNode* node) { return Expression(node, true); }
  bool Value(SyntaxNode* node);
  bool Constant(SyntaxNode* node);
  bool Identifier(SyntaxNode* node);
  bool Call(SyntaxNode* node);
  bool Operator(SyntaxNode* node);
  bool Arithmetic(SyntaxNode* node, uint8_t intOp, uint8_t floatOp);
  bool Comparison(SyntaxNode* node);
  bool Logical(SyntaxNode* node, uint8_t jump);
  bool Assign(SyntaxNode* node, bool used);
  bool Copy(SyntaxNode* node);
  bool IncDec(SyntaxNode* node, bool used);
  bool New(SyntaxNode* node);
  bool AddressPart(SyntaxNode* target);
  bool Store(SyntaxNode* target, bool keep);
  bool ToString(int32_t type);
  bool Convert(int32_t fromType, const char* fromClass, int32_t toType, const char* toClass);
  void Drop(int32_t type);
  bool IsFrameVariable(SyntaxNode* node) const;
  bool IsMyMember(SyntaxNode* node) const;

  int AcquireTemporary();
  void ReleaseTemporary(int i) { temporaries_[i] = false; }
  int32_t TemporarySlot(int i) const { return (function_ ? function_->c + function_->a : 1) + i; }
  bool InternalError() { return false; }
  int64_t StringId(const char* text) { return InternString(text != nullptr ? text : "", context_); }

  CompileContext& context_;
  GSCClass* class_ = nullptr;
  GSClassSymbol* classSymbol_ = nullptr;
  GSCFunction* function_ = nullptr;
  CodeEmitter* out_ = nullptr;
  int32_t highestTemporary_ = 0;
  bool temporaries_[kTemporaries] = {};
  LabelTable labels_;
  std::vector<Breakable> breakables_;
  std::vector<std::vector<CaseRecord>> switches_;
  struct WaitState {
    std::vector<Handler> handlers;
    int breakLabel;
  };
  std::vector<WaitState> waits_;
};

// ---- classes and functions

int32_t Generator::ClassIndex(const std::string& name) const {
  if (name.empty()) return -1;
  const GSClassSymbol* cls = context_.symbols.FindClass(name.c_str());
  return cls != nullptr ? cls->secondIndex : -1;
}

void Generator::DescribeLibrary() {
  GSSymbolTable& table = context_.symbols;
  context_.dependencies.clear();
  for (auto it = table.symbols.Begin(); !it.IsEnd(); ++it) {
    const auto* symbol = static_cast<const GSSymbol*>(it.Node());
    if (symbol->kind != kSymbolDependent) continue;
    const auto* dependent = static_cast<const GSDependentSymbol*>(symbol);
    const auto slot = static_cast<size_t>(dependent->dependencySlot);
    if (slot >= context_.dependencies.size()) context_.dependencies.resize(slot + 1);
    context_.dependencies[slot] = {dependent->sourceCrc, dependent->fileNameCrc};
  }
  context_.dependentCount = static_cast<int>(context_.dependencies.size());

  context_.knownClasses.assign(static_cast<size_t>(table.classCount), {});
  context_.functions.assign(static_cast<size_t>(table.functionCount), {});
  for (GSClassSymbol* cls : table.classes) {
    LayOut(*cls);
    if (cls->secondIndex < 0 || cls->secondIndex >= table.classCount) continue;
    context_.knownClasses[cls->secondIndex] = {cls->name, cls->script != nullptr ? cls->script->dependencySlot : -1};
    for (GSFunctionSymbol* fn : cls->functions) {
      if (fn->secondIndex < 0 || fn->secondIndex >= table.functionCount) continue;
      context_.functions[fn->secondIndex] = {cls->secondIndex, fn->name, VirtualSlot(*cls, *fn)};
    }
  }
  context_.classCount = table.classCount;
}

bool Generator::Library() {
  DescribeLibrary();
  context_.classes.clear();
  for (SyntaxNode* node = context_.root.tree; node != nullptr; node = node->next) {
    if (node->nodeClass != NodeClass::Declaration || node->kind != kDeclClass) continue;
    if (!Class(node)) return false;
  }
  return true;
}

bool Generator::Class(SyntaxNode* declaration) {
  auto* symbol = static_cast<GSClassSymbol*>(NodeSymbol(declaration));
  if (symbol == nullptr || symbol->kind != kSymbolClass || !LayOut(*symbol)) return InternalError();
  context_.classes.push_back(std::make_unique<GSCClass>());
  GSCClass& cls = *context_.classes.back();
  class_ = &cls;
  classSymbol_ = symbol;
  cls.symbol = symbol;
  cls.name = symbol->name;
  cls.classIndex = symbol->secondIndex;
  cls.flags = symbol->flags;
  cls.firstMemberSlot = symbol->firstMember;
  cls.firstFunctionSlot = symbol->firstFunction;
  cls.memberCount = symbol->memberCount;
  for (const BaseLink& link : symbol->derivation) {
    cls.bases.push_back({link.base->secondIndex, link.memberOffset, link.functionOffset, link.direct});
    for (const GSFunctionSymbol* fn : link.base->functions)
      cls.baseFunctions.push_back({fn->name, fn->type, ClassIndex(fn->returnClass), VirtualSlot(*symbol, *fn)});
  }
  for (const GSVariableSymbol* variable : symbol->variables) {
    if (variable->flags & kSpecDefine) continue;
    cls.members.push_back({variable->name, variable->type, ClassIndex(variable->className),
                           (variable->flags & kSpecPublic) != 0, variable->slot});
  }

  // The initialiser first, so its string ids come before the bodies'.
  function_ = nullptr;
  out_ = &cls.initialiser;
  highestTemporary_ = 0;
  for (SyntaxNode* member = declaration->child[2]; member != nullptr; member = member->next)
    if (member->kind == kDeclVariableList && !MemberInitialiser(member)) return false;
  if (cls.initialiser.Offset() != 0) cls.initialiser.Emit(kBcReturn);
  cls.initialiserTemporaries = highestTemporary_;

  for (SyntaxNode* member = declaration->child[2]; member != nullptr; member = member->next) {
    if ((member->kind == kDeclFunction || member->kind == kDeclPrototype) && !Function(member)) return false;
  }
  return !cls.initialiser.Failed();
}

bool Generator::MemberInitialiser(SyntaxNode* list) {
  if (list->flags & kSpecDefine) return true;
  for (SyntaxNode* declarator = list->child[1]; declarator != nullptr; declarator = declarator->next) {
    auto* variable = static_cast<GSVariableSymbol*>(NodeSymbol(declarator));
    if (variable == nullptr || variable->kind != kSymbolVariable) return InternalError();
    const bool reference = IsReferenceType(variable->type);
    if (reference) class_->referenceMemberSlots.push_back(variable->slot);
    SyntaxNode* value = declarator->child[1];
    if (value == nullptr) continue;
    if (!Child(value) || !Convert(value->type, value->className, variable->type, variable->className.c_str()))
      return false;
    out_->EmitShort(reference ? kBcStoreMyRefMember : kBcStoreMyMember, variable->slot);
  }
  return true;
}

bool Generator::Function(SyntaxNode* declaration) {
  auto* symbol = static_cast<GSFunctionSymbol*>(NodeSymbol(declaration));
  if (symbol == nullptr || symbol->kind != kSymbolFunction) return InternalError();
  const bool native = (symbol->flags & kSpecNative) != 0;
  const bool withBody = declaration->kind == kDeclFunction;
  if (!withBody) {
    if (!native) {
      if (symbol->hasBody) return true;  // the body is generated where it is declared
      ReportMessage("Function %s not implemented", symbol->name.c_str());
      return false;
    }
  } else if (native) {
    ReportMessage("Native function %s has been implemented", symbol->name.c_str());
    return false;
  }

  class_->functions.push_back(std::make_unique<GSCFunction>());
  GSCFunction& fn = *class_->functions.back();
  fn.symbol = symbol;
  fn.signature = symbol->name;
  fn.returnType = symbol->type;
  fn.returnClass = ClassIndex(symbol->returnClass);
  fn.flags = symbol->flags;
  fn.functionIndex = symbol->secondIndex;
  fn.virtualSlot = VirtualSlot(*classSymbol_, *symbol);
  fn.c = symbol->c;
  fn.a = symbol->a;
  for (int32_t i = 0; i < symbol->ParameterCount(); ++i)
    if (IsReferenceType(symbol->parameters[i].type)) fn.referenceSlots.push_back(i + 1);
  if (!withBody) return true;

  function_ = &fn;
  out_ = &fn;
  highestTemporary_ = 0;
  std::fill(std::begin(temporaries_), std::end(temporaries_), false);
  fn.TrackLines(true);
  const bool generated = GenerateCode(declaration->child[3]);
  fn.TrackLines(false);
  fn.b = symbol->b = highestTemporary_;
  breakables_.clear();
  switches_.clear();
  waits_.clear();
  if (!generated) {
    labels_.Clear();
    return false;
  }
  const bool resolved = labels_.Resolve(fn, [&](const char* message, int32_t line) {
    ReportError(&context_.root, true, false, line, "%s, line %d", message, line);
  });
  return resolved && !fn.Failed();
}

// ---- statements

bool Generator::GenerateCode(SyntaxNode* chain) {
  if (chain != nullptr) out_->SetLine(chain->line);
  for (SyntaxNode* node = chain; node != nullptr; node = node->next)
    if (!Node(node)) return false;
  return true;
}

bool Generator::Node(SyntaxNode* node) {
  switch (node->nodeClass) {
  case NodeClass::Expression:
    return Expression(node, (node->flags & kMarkUnusedValue) == 0);
  case NodeClass::Statement:
    return Statement(node);
  case NodeClass::Declaration:
    return node->kind == kDeclVariableList ? LocalVariables(node) : InternalError();
  }
  return InternalError();
}

bool Generator::LocalVariables(SyntaxNode* list) {
  for (SyntaxNode* declarator = list->child[1]; declarator != nullptr; declarator = declarator->next) {
    auto* variable = static_cast<GSVariableSymbol*>(NodeSymbol(declarator));
    if (variable == nullptr || variable->kind != kSymbolVariable) return InternalError();
    const bool reference = IsReferenceType(variable->type);
    if (reference) function_->referenceSlots.push_back(variable->slot);
    SyntaxNode* value = declarator->child[1];
    if (value == nullptr) continue;
    out_->SetLine(value->line);
    if (!Child(value) || !Convert(value->type, value->className, variable->type, variable->className.c_str()))
      return false;
    out_->EmitShort(reference ? kBcStoreRef : kBcStore, variable->slot);
  }
  return true;
}

// A condition: the value of the list's last expression, as a condition.
bool Generator::Condition(SyntaxNode* chain) {
  out_->SetLine(chain->line);
  for (SyntaxNode* node = chain; node != nullptr; node = node->next) {
    const bool last = node->next == nullptr;
    if (!Expression(node, last)) return false;
    if (last && IsReferenceType(node->type)) out_->Emit(kBcRefToCondition);
  }
  return true;
}

bool Generator::Jump(const char* message, bool toContinue, int32_t line) {
  for (auto it = breakables_.rbegin(); it != breakables_.rend(); ++it) {
    const int label = toContinue ? it->continueLabel : it->breakLabel;
    if (label < 0) continue;
    labels_.Jump(*out_, kBcJump, label, message, line);
    return true;
  }
  return InternalError();
}

bool Generator::Statement(SyntaxNode* node) {
  switch (node->kind) {
  case kStmtCompound:
    return GenerateCode(node->child[0]);
  case kStmtReturn:
    if (node->child[0] == nullptr) {
      out_->Emit(kBcReturn);
      return true;
    }
    if (!Child(node->child[0])) return false;
    out_->Emit(IsReferenceType(node->child[0]->type) ? kBcReturnRef : kBcReturnValue);
    return true;
  case kStmtBreak:
    return Jump("Break", false, node->line);
  case kStmtContinue:
    return Jump("Continue", true, node->line);
  case kStmtGoto:
    labels_.Jump(*out_, kBcJump, labels_.Named(node->child[0]->text), "no matching label", node->line);
    return true;
  case kStmtLabel:
    return labels_.Place(labels_.Named(node->child[0]->text), out_->Offset());
  case kStmtCase:
  case kStmtDefault: {
    if (switches_.empty()) return InternalError();
    const bool isDefault = node->kind == kStmtDefault;
    const int32_t value = isDefault ? kDefaultCase : node->child[0]->number;
    std::vector<CaseRecord>& cases = switches_.back();
    auto at = std::find_if(cases.begin(), cases.end(), [&](const CaseRecord& r) { return r.value >= value; });
    cases.insert(at, {value, out_->Offset(), node->line, isDefault});
    return true;
  }
  case kStmtIf: {
    if (!Condition(node->child[0])) return false;
    const uint32_t test = out_->Reserve(5);
    if (!GenerateCode(node->child[1])) return false;
    if (node->child[2] == nullptr) {
      out_->WriteJumpAt(test, kBcJumpIfFalsePop, out_->Offset());
      return true;
    }
    const uint32_t skip = out_->Reserve(5);
    const uint32_t elseStart = out_->Offset();
    if (!GenerateCode(node->child[2])) return false;
    out_->WriteJumpAt(test, kBcJumpIfFalsePop, elseStart);
    out_->WriteJumpAt(skip, kBcJump, out_->Offset());
    return true;
  }
  case kStmtWhile: {
    const Breakable loop{labels_.Create(), labels_.Create()};
    const uint32_t start = out_->Offset();
    labels_.Place(loop.continueLabel, start);
    if (!Condition(node->child[0])) return false;
    const uint32_t test = out_->Reserve(5);
    breakables_.push_back(loop);
    const bool ok = GenerateCode(node->child[1]);
    breakables_.pop_back();
    if (!ok) return false;
    out_->EmitWord(kBcJump, start);
    out_->WriteJumpAt(test, kBcJumpIfFalsePop, out_->Offset());
    labels_.Place(loop.breakLabel, out_->Offset());
    return true;
  }
  case kStmtFor: {
    const Breakable loop{labels_.Create(), labels_.Create()};
    if (!GenerateCode(node->child[0])) return false;
    const uint32_t start = out_->Offset();
    if (node->child[1] != nullptr) {
      if (!Condition(node->child[1])) return false;
    } else {
      out_->Emit(kBcPush1);
    }
    const uint32_t test = out_->Reserve(5);
    breakables_.push_back(loop);
    const bool ok = GenerateCode(node->child[2]);
    breakables_.pop_back();
    if (!ok) return false;
    labels_.Place(loop.continueLabel, out_->Offset());
    if (!GenerateCode(node->child[3])) return false;
    out_->EmitWord(kBcJump, start);
    out_->WriteJumpAt(test, kBcJumpIfFalsePop, out_->Offset());
    labels_.Place(loop.breakLabel, out_->Offset());
    return true;
  }
  case kStmtSwitch:
    return Switch(node);
  case kStmtWait:
    return Wait(node);
  case kStmtOn:
    return On(node);
  default:
    return InternalError();
  }
}

bool Generator::Switch(SyntaxNode* node) {
  const Breakable target{labels_.Create(), -1};
  if (!Child(node->child[0])) return false;
  const int32_t count = NodeCount(node);
  out_->Emit(kBcSwitch);
  out_->AppendShort(count);
  const uint32_t table = out_->Reserve(static_cast<uint32_t>(std::max(count, 0)) * 8 + 4);
  breakables_.push_back(target);
  switches_.emplace_back();
  const bool ok = GenerateCode(node->child[1]);
  std::vector<CaseRecord> cases = std::move(switches_.back());
  switches_.pop_back();
  breakables_.pop_back();
  if (!ok) return false;
  for (size_t i = 1; i < cases.size(); ++i) {
    if (cases[i].value == cases[i - 1].value && !cases[i].isDefault) {
      ReportError(&context_.root, true, false, cases[i].line, "case has duplicate value, line %d", cases[i].line);
      return false;
    }
  }
  uint32_t defaultOffset = out_->Offset();
  std::vector<CaseRecord> labelled;
  for (const CaseRecord& r : cases) {
    if (r.isDefault)
      defaultOffset = r.offset;
    else
      labelled.push_back(r);
  }
  // The table was sized by the count of the checks; a body that disagrees
  // would overrun it.
  if (static_cast<int32_t>(labelled.size()) != count) return InternalError();
  uint32_t at = table;
  for (const CaseRecord& r : labelled) out_->PatchWord(at, static_cast<uint32_t>(r.value)), at += 4;
  for (const CaseRecord& r : labelled) out_->PatchWord(at, r.offset), at += 4;
  out_->PatchWord(at, defaultOffset);
  labels_.Place(target.breakLabel, out_->Offset());
  return true;
}

bool Generator::Wait(SyntaxNode* node) {
  const Breakable target{labels_.Create(), labels_.Create()};
  labels_.Place(target.continueLabel, out_->Offset());
  const int32_t count = NodeCount(node);
  out_->Emit(kBcWait);
  out_->AppendShort(count);
  const uint32_t table = out_->Reserve(static_cast<uint32_t>(std::max(count, 0)) * 8);
  breakables_.push_back(target);
  waits_.push_back({{}, target.breakLabel});
  const bool ok = GenerateCode(node->child[0]);
  std::vector<Handler> handlers = std::move(waits_.back().handlers);
  waits_.pop_back();
  breakables_.pop_back();
  if (!ok) return false;
  if (static_cast<int32_t>(handlers.size()) != count) return InternalError();
  uint32_t at = table;
  for (const Handler& h : handlers) {
    out_->PatchShort(at, h.major);
    out_->PatchShort(at + 2, h.minor);
    at += 4;
  }
  for (const Handler& h : handlers) out_->PatchWord(at, h.offset), at += 4;
  labels_.Place(target.breakLabel, out_->Offset());
  return true;
}

bool Generator::On(SyntaxNode* node) {
  const int64_t major = StringId(node->child[0]->text);
  const int64_t minor = StringId(node->child[1]->text);
  if (waits_.empty()) {
    out_->Emit(kBcWait);
    out_->AppendShort(1);
    out_->AppendShort(major);
    out_->AppendShort(minor);
    out_->AppendWord(out_->Offset() + 4);
  } else {
    WaitState& wait = waits_.back();
    if (!wait.handlers.empty()) labels_.Jump(*out_, kBcJump, wait.breakLabel, "Break", node->line);
    wait.handlers.push_back({major, minor, out_->Offset()});
  }
  out_->Adjust(1);  // the message
  return OnMessage(node->child[2]);
}

bool Generator::OnMessage(SyntaxNode* target) {
  if (target == nullptr) {
    out_->Emit(kBcDropRef);
    return true;
  }
  int temporary = -1;
  if (!IsFrameVariable(target) && !IsMyMember(target)) {
    temporary = AcquireTemporary();
    if (temporary < 0) return InternalError();
    out_->EmitShort(kBcStore, TemporarySlot(temporary));
    if (!AddressPart(target)) return false;
    out_->EmitShort(kBcLoad, TemporarySlot(temporary));
    ReleaseTemporary(temporary);
  }
  if (IsObjectType(target->type) && target->className != nullptr && target->className[0] != '\0') {
    const int32_t index = ClassIndex(target->className);
    if (index < 0) return InternalError();
    out_->EmitShort(kBcCastObject, index);
  }
  return Store(target, false);
}

// ---- expressions

bool Generator::IsFrameVariable(SyntaxNode* node) const {
  if (node->nodeClass != NodeClass::Expression || node->kind != kExprIdentifier) return false;
  const GSSymbol* symbol = NodeSymbol(node);
  return symbol != nullptr && symbol->kind == kSymbolVariable &&
         static_cast<const GSVariableSymbol*>(symbol)->storage != Storage::Member;
}

bool Generator::IsMyMember(SyntaxNode* node) const {
  if (node->nodeClass != NodeClass::Expression || node->kind != kExprIdentifier) return false;
  const GSSymbol* symbol = NodeSymbol(node);
  return symbol != nullptr && symbol->kind == kSymbolVariable &&
         static_cast<const GSVariableSymbol*>(symbol)->storage == Storage::Member;
}

int Generator::AcquireTemporary() {
  for (int i = 0; i < kTemporaries; ++i) {
    if (temporaries_[i]) continue;
    temporaries_[i] = true;
    highestTemporary_ = std::max(highestTemporary_, i);
    return i;
  }
  return -1;
}

void Generator::Drop(int32_t type) {
  if (IsReferenceType(type))
    out_->Emit(kBcDropRef);
  else if (type != kTypeVoid)
    out_->Emit(kBcDrop);
}

bool Generator::Expression(SyntaxNode* node, bool used) {
  out_->SetLine(node->line);
  if (node->kind == kExprOperator) {
    switch (node->subKind) {
    case kOpAssign:
      return Assign(node, used);
    case kOpPreInc:
    case kOpPreDec:
    case kOpPostInc:
    case kOpPostDec:
      return IncDec(node, used);
    case kOpCopy:
      return Copy(node);
    default:
      break;
    }
  }
  if (!Value(node)) return false;
  if (!used) Drop(node->type);
  return true;
}

bool Generator::Value(SyntaxNode* node) {
  switch (node->kind) {
  case kExprConstant:
    return Constant(node);
  case kExprNull:
    out_->Emit(kBcPush0);
    return true;
  case kExprMe:
    out_->EmitShort(kBcLoadRef, 0);
    return true;
  case kExprIdentifier:
    return Identifier(node);
  case kExprCall:
    return Call(node);
  case kExprOperator:
    return Operator(node);
  default:
    return InternalError();
  }
}

bool Generator::Constant(SyntaxNode* node) {
  switch (node->subKind) {
  case kConstBool:
    if (node->number != 0 && node->number != 1) {
      ReportMessage("Compiler error GEC");
      return false;
    }
    [[fallthrough]];
  case kConstInt:
    if (node->number == 0)
      out_->Emit(kBcPush0);
    else if (node->number == 1)
      out_->Emit(kBcPush1);
    else
      out_->EmitWord(kBcPushWord, static_cast<uint32_t>(node->number));
    return true;
  case kConstFloat:
    out_->EmitWord(kBcPushWord, static_cast<uint32_t>(node->number));
    return true;
  case kConstString:
    out_->EmitShort(kBcPushString, StringId(node->text));
    return true;
  default:
    return InternalError();
  }
}

bool Generator::Identifier(SyntaxNode* node) {
  const GSSymbol* symbol = NodeSymbol(node);
  if (symbol == nullptr) return InternalError();
  if (symbol->kind == kSymbolClass) {
    out_->EmitShort(kBcStaticObject, symbol->secondIndex);
    return true;
  }
  if (symbol->kind != kSymbolVariable) return InternalError();
  const bool reference = IsReferenceType(node->type);
  if (IsMyMember(node))
    out_->EmitShort(reference ? kBcLoadMyRefMember : kBcLoadMyMember, NodeSlot(node));
  else
    out_->EmitShort(reference ? kBcLoadRef : kBcLoad, NodeSlot(node));
  return true;
}

bool Generator::Call(SyntaxNode* node) {
  const auto* callee = static_cast<const GSFunctionSymbol*>(NodeSymbol(node));
  SyntaxNode* target = node->child[0];
  if (callee == nullptr || callee->kind != kSymbolFunction || target == nullptr) return InternalError();
  const bool inherited =
      target->kind == kExprIdentifier && target->text != nullptr && std::string(target->text) == "inherited";
  if (target->kind == kExprOperator && target->subKind == kOpMember) {
    if (!Child(target->child[0])) return false;
  } else {
    out_->EmitShort(kBcLoadRef, 0);
  }
  for (SyntaxNode* argument = node->child[1]; argument != nullptr; argument = argument->next)
    if (!Child(argument)) return false;
  const int32_t c = NodeCount(node);
  if (inherited) {
    out_->EmitShort(kBcCallInherited, 1 - int64_t{c});
  } else {
    const uint8_t op = (callee->flags & kSpecNative) ? kBcCallNative : (callee->flags & kSpecThread) ? kBcCallThread : kBcCall;
    out_->EmitShorts(op, 1 - int64_t{c}, NodeSlot(node));
  }
  out_->Adjust((callee->type != kTypeVoid ? 1 : 0) - c);
  return true;
}

bool Generator::ToString(int32_t type) {
  switch (type) {
  case kTypeInt:
    out_->Emit(kBcIntToString);
    return true;
  case kTypeBool:
    out_->Emit(kBcBoolToString);
    return true;
  case kTypeFloat:
    out_->Emit(kBcFloatToString);
    return true;
  case kTypeString:
  case kTypeNull:
    return true;
  default:
    ReportMessage("Compiler error GECTS");
    return false;
  }
}

bool Generator::Convert(int32_t fromType, const char* fromClass, int32_t toType, const char* toClass) {
  const std::string from = fromClass != nullptr ? fromClass : "";
  const std::string to = toClass != nullptr ? toClass : "";
  const bool objects = fromType == kTypeObject || fromType == kTypeObjectArray;
  if (fromType == toType && (!objects || from == to)) return true;
  if ((fromType == kTypeNull && toType == kTypeObject) || (fromType == kTypeObject && toType == kTypeNull)) return true;
  if (toType == kTypeString) return ToString(fromType);
  if (toType == kTypeFloat && (fromType == kTypeBool || fromType == kTypeInt)) {
    out_->Emit(kBcIntToFloat);
    return true;
  }
  if ((toType == kTypeInt || toType == kTypeBool) && fromType == kTypeFloat) {
    out_->Emit(kBcFloatToInt);
    return true;
  }
  if (fromType == kTypeObject && toType == kTypeObject && !to.empty()) {
    const int32_t index = ClassIndex(to);
    if (index < 0) return InternalError();
    out_->EmitShort(kBcCastObject, index);
  }
  return true;
}

bool Generator::Arithmetic(SyntaxNode* node, uint8_t intOp, uint8_t floatOp) {
  const bool isFloat = node->type == kTypeFloat;
  for (SyntaxNode* operand : {node->child[0], node->child[1]}) {
    if (!Child(operand)) return false;
    if (isFloat && operand->type == kTypeInt) out_->Emit(kBcIntToFloat);
  }
  out_->Emit(isFloat ? floatOp : intOp);
  return true;
}

bool Generator::Comparison(SyntaxNode* node) {
  SyntaxNode* left = node->child[0];
  SyntaxNode* right = node->child[1];
  enum { kInt, kFloat, kString, kReference } common = kInt;
  if (left->type == kTypeString || right->type == kTypeString)
    common = kString;
  else if (left->type == kTypeFloat || right->type == kTypeFloat)
    common = kFloat;
  else if (IsReferenceType(left->type))
    common = kReference;
  for (SyntaxNode* operand : {left, right}) {
    if (!Child(operand)) return false;
    if (common == kString && !ToString(operand->type)) return false;
    if (common == kFloat && operand->type != kTypeFloat) out_->Emit(kBcIntToFloat);
  }
  static constexpr uint8_t kCompare[] = {kBcIntCompare, kBcFloatCompare, kBcStringCompare, kBcRefCompare};
  out_->Emit(kCompare[common]);
  switch (node->subKind) {
  case kOpLess: out_->Emit(kBcLess); break;
  case kOpGreater: out_->Emit(kBcGreater); break;
  case kOpLessEqual: out_->Emit(kBcLessEqual); break;
  case kOpGreaterEqual: out_->Emit(kBcGreaterEqual); break;
  case kOpEqual: out_->Emit(kBcIsZero); break;
  default: out_->Emit(kBcNotEqual); break;
  }
  return true;
}

bool Generator::Logical(SyntaxNode* node, uint8_t jump) {
  if (!Child(node->child[0])) return false;
  if (IsReferenceType(node->child[0]->type)) out_->Emit(kBcRefToCondition);
  out_->Emit(jump);
  const uint32_t operand = out_->Offset();
  out_->AppendWord(0);
  out_->Emit(kBcDrop);
  if (!Child(node->child[1])) return false;
  if (IsReferenceType(node->child[1]->type)) out_->Emit(kBcRefToCondition);
  out_->PatchWord(operand, out_->Offset());
  return true;
}

bool Generator::Operator(SyntaxNode* node) {
  SyntaxNode* a = node->child[0];
  switch (node->subKind) {
  case kOpMember: {
    if (!Child(a)) return false;
    out_->EmitShort(IsReferenceType(node->type) ? kBcLoadRefMember : kBcLoadMember, NodeSlot(node));
    return true;
  }
  case kOpPlus:
    return Child(a);
  case kOpMinus:
    if (!Child(a)) return false;
    if (a->type == kTypeInt)
      out_->Emit(kBcIntNeg);
    else if (a->type == kTypeFloat)
      out_->Emit(kBcFloatNeg);
    else {
      ReportMessage("Compiler error GEOUM");
      return false;
    }
    return true;
  case kOpNot:
    if (!Child(a)) return false;
    out_->Emit(a->type == kTypeBool || a->type == kTypeInt ? kBcIsZero : a->type == kTypeFloat ? kBcFloatNot : kBcRefIsNull);
    return true;
  case kOpComplement:
    if (!Child(a)) return false;
    out_->Emit(kBcBitNot);
    return true;
  case kOpIndex: {
    if (!Child(a) || !Child(node->child[1])) return false;
    if (a->type == kTypeString)
      out_->Emit(kBcLoadChar);
    else
      out_->Emit(IsReferenceType(a->type - kArrayOffset) ? kBcLoadRefElement : kBcLoadElement);
    return true;
  }
  case kOpRange:
    if (!AddressPart(node)) return false;
    out_->Emit(a->type == kTypeString ? kBcStringRange : kBcArrayRange);
    return true;
  case kOpCast:
    if (!Child(a)) return false;
    return Convert(a->type, a->className, node->type, node->className);
  case kOpMul: return Arithmetic(node, kBcIntMul, kBcFloatMul);
  case kOpDiv: return Arithmetic(node, kBcIntDiv, kBcFloatDiv);
  case kOpMod: return Arithmetic(node, kBcIntMod, kBcFloatMod);
  case kOpSub: return Arithmetic(node, kBcIntSub, kBcFloatSub);
  case kOpAdd:
    if (node->type == kTypeString) {
      for (SyntaxNode* operand : {a, node->child[1]})
        if (!Child(operand) || !ToString(operand->type)) return false;
      out_->Emit(kBcConcat);
      return true;
    }
    return Arithmetic(node, kBcIntAdd, kBcFloatAdd);
  case kOpShiftLeft:
  case kOpShiftRight:
  case kOpAnd:
  case kOpXor:
  case kOpOr: {
    if (!Child(a) || !Child(node->child[1])) return false;
    static constexpr struct {
      int32_t op;
      uint8_t code;
    } kBitwise[] = {{kOpShiftLeft, kBcShl}, {kOpShiftRight, kBcShr}, {kOpAnd, kBcBitAnd}, {kOpXor, kBcBitXor}, {kOpOr, kBcBitOr}};
    for (const auto& entry : kBitwise)
      if (entry.op == node->subKind) out_->Emit(entry.code);
    return true;
  }
  case kOpLess:
  case kOpGreater:
  case kOpLessEqual:
  case kOpGreaterEqual:
  case kOpEqual:
  case kOpNotEqual:
    return Comparison(node);
  case kOpLogicalAnd:
    return Logical(node, kBcJumpIfFalse);
  case kOpLogicalOr:
    return Logical(node, kBcJumpIfTrue);
  case kOpSize:
    if (!Child(a)) return false;
    out_->Emit(a->type == kTypeString ? kBcStringLength : kBcArraySize);
    return true;
  case kOpIsClass: {
    const GSSymbol* cls = NodeSymbol(node);
    if (cls == nullptr || !Child(a)) return InternalError();
    out_->EmitShort(kBcIsClassOf, cls->secondIndex);
    return true;
  }
  case kOpNew:
    return New(node);
  default:
    return InternalError();
  }
}

bool Generator::New(SyntaxNode* node) {
  const int32_t type = node->child[0]->subKind;
  if (type == kTypeString) {
    out_->Emit(kBcNewString);
    return true;
  }
  if (type == kTypeObject) {
    const GSSymbol* cls = NodeSymbol(node);
    if (cls == nullptr) return InternalError();
    out_->EmitShort(kBcNewObject, cls->secondIndex);
    return true;
  }
  if (!IsArrayType(type) || node->child[1] == nullptr || !Child(node->child[1])) return InternalError();
  out_->Emit(type == kTypeStringArray || type == kTypeObjectArray ? kBcNewRefArray : kBcNewArray);
  return true;
}

bool Generator::AddressPart(SyntaxNode* target) {
  if (target->kind != kExprOperator) return true;
  switch (target->subKind) {
  case kOpMember:
    return Child(target->child[0]);
  case kOpIndex:
    return Child(target->child[0]) && Child(target->child[1]);
  case kOpRange:
    if (!Child(target->child[0])) return false;
    for (SyntaxNode* bound : {target->child[2], target->child[1]}) {
      if (bound == nullptr)
        out_->EmitWord(kBcPushWord, 0xFFFFFFFF);
      else if (!Child(bound))
        return false;
    }
    return true;
  default:
    return InternalError();
  }
}

bool Generator::Store(SyntaxNode* target, bool keep) {
  const bool reference = IsReferenceType(target->type);
  if (IsFrameVariable(target)) {
    out_->EmitShort(reference ? (keep ? kBcStoreRefKeep : kBcStoreRef) : (keep ? kBcStoreKeep : kBcStore), NodeSlot(target));
    return true;
  }
  if (IsMyMember(target)) {
    out_->EmitShort(reference ? (keep ? kBcStoreMyRefMemberKeep : kBcStoreMyRefMember)
                              : (keep ? kBcStoreMyMemberKeep : kBcStoreMyMember),
                    NodeSlot(target));
    return true;
  }
  if (target->kind != kExprOperator) return InternalError();
  const bool onString = target->child[0] != nullptr && target->child[0]->type == kTypeString;
  switch (target->subKind) {
  case kOpMember:
    out_->EmitShort(reference ? (keep ? kBcStoreRefMemberKeep : kBcStoreRefMember)
                              : (keep ? kBcStoreMemberKeep : kBcStoreMember),
                    NodeSlot(target));
    return true;
  case kOpIndex:
    if (onString)
      out_->Emit(keep ? kBcStoreCharKeep : kBcStoreChar);
    else
      out_->Emit(reference ? (keep ? kBcStoreRefElementKeep : kBcStoreRefElement)
                           : (keep ? kBcStoreElementKeep : kBcStoreElement));
    return true;
  case kOpRange:
    if (onString)
      out_->Emit(keep ? kBcStoreStringRangeKeep : kBcStoreStringRange);
    else
      out_->Emit(keep ? kBcStoreArrayRangeKeep : kBcStoreArrayRange);
    return true;
  default:
    return InternalError();
  }
}

bool Generator::Assign(SyntaxNode* node, bool used) {
  SyntaxNode* target = node->child[0];
  SyntaxNode* value = node->child[1];
  if (!AddressPart(target) || !Child(value)) return false;
  if (!Convert(value->type, value->className, target->type, target->className)) return false;
  if (value->type == kTypeString) {
    const bool lvalue = value->kind == kExprIdentifier || value->kind == kExprCall ||
                        (value->kind == kExprOperator && (value->subKind == kOpMember || value->subKind == kOpIndex ||
                                                          value->subKind == kOpRange || value->subKind == kOpCast));
    if (lvalue) out_->Emit(kBcStringCopy);
  }
  return Store(target, used);
}

bool Generator::Copy(SyntaxNode* node) {
  SyntaxNode* target = node->child[0];
  if (!AddressPart(target) || !Child(node->child[1])) return false;
  out_->Emit(target->type == kTypeString ? kBcStringCopy : kBcArrayCopy);
  return Store(target, false);
}

bool Generator::IncDec(SyntaxNode* node, bool used) {
  SyntaxNode* target = node->child[0];
  const bool increment = node->subKind == kOpPreInc || node->subKind == kOpPostInc;
  const bool postfix = node->subKind == kOpPostInc || node->subKind == kOpPostDec;
  const bool isFloat = target->type == kTypeFloat;
  const uint8_t step = isFloat ? (increment ? kBcFloatInc : kBcFloatDec) : (increment ? kBcIntInc : kBcIntDec);

  if (IsFrameVariable(target) || IsMyMember(target)) {
    if (!Identifier(target)) return false;
    if (postfix) out_->Emit(kBcDup);
    out_->Emit(step);
    if (!Store(target, !postfix && used)) return false;
    if (postfix && !used) Drop(target->type);
    return true;
  }
  if (target->kind != kExprOperator) return InternalError();
  if (target->subKind == kOpMember) {
    if (!Child(target->child[0])) return false;
    out_->Emit(kBcDupRef);
    out_->EmitShort(kBcLoadMember, NodeSlot(target));
  } else if (target->subKind == kOpIndex) {
    if (!Child(target->child[0]) || !Child(target->child[1])) return false;
    out_->Emit(kBcDup2);
    out_->Emit(target->child[0]->type == kTypeString ? kBcLoadChar : kBcLoadElement);
  } else {
    return InternalError();
  }
  int temporary = -1;
  if (postfix && used) {
    temporary = AcquireTemporary();
    if (temporary < 0) return InternalError();
    out_->EmitShort(kBcStoreKeep, TemporarySlot(temporary));
  }
  out_->Emit(step);
  if (!Store(target, !postfix && used)) return false;
  if (temporary >= 0) {
    out_->EmitShort(kBcLoad, TemporarySlot(temporary));
    ReleaseTemporary(temporary);
  }
  return true;
}

} // namespace

bool GenerateLibraryCode(CompileContext& context) {
  CompileUnit* previous = gCurrentUnit;
  gCurrentUnit = &context.root;
  Generator generator(context);
  const bool ok = generator.Library();
  gCurrentUnit = previous;
  return ok;
}

} // namespace GSCompiler
