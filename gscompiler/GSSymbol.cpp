#include "gscompiler/GSSymbol.h"

#include <cstdarg>
#include <cstring>
#include <iterator>
#include <unordered_set>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/FormatBuffer.h"
#include "gscompiler/MessageSink.h"
#include "gscompiler/Types.h"

namespace GSCompiler {

namespace {

const char* const kClassRule = "========================================";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Vak::FormatBuffer text(format, args);
  va_end(args);
  return std::string(text.Text(), text.Length());
}

void DumpTyped(MessageSink& sink, const GSSymbol& symbol, const std::string& className) {
  const std::string specifiers = SpecifierNames(symbol.flags);
  if (!className.empty()) {
    sink.Add(Format("%d:%d:%s<%s> %s %s", symbol.index, symbol.secondIndex, TypeName(symbol.type),
                    className.c_str(), symbol.name.c_str(), specifiers.c_str())
                 .c_str());
  } else {
    sink.Add(Format("%d:%d:%s %s %s", symbol.index, symbol.secondIndex, TypeName(symbol.type), symbol.name.c_str(),
                    specifiers.c_str())
                 .c_str());
  }
}

GSSymbol* OfKind(GSSymbol* symbol, SymbolKind kind) {
  return symbol != nullptr && (kind == kSymbolAny || symbol->kind == kind) ? symbol : nullptr;
}

GSSymbol* FindIn(const Utils::HashTable& table, const char* name, SymbolKind kind) {
  GSSymbol key(name, kSymbolVariable);
  auto it = table.Find(key);
  if (it.IsEnd()) return nullptr;
  return OfKind(static_cast<GSSymbol*>(it.Node()), kind);
}

// Bases of `cls` in derivation order, each once; ends on cycles.
std::vector<const GSClassSymbol*> AllBases(const GSClassSymbol* cls) {
  std::vector<const GSClassSymbol*> order;
  std::unordered_set<const GSClassSymbol*> seen{cls};
  std::vector<const GSClassSymbol*> pending(cls->bases.rbegin(), cls->bases.rend());
  while (!pending.empty()) {
    const GSClassSymbol* next = pending.back();
    pending.pop_back();
    if (!seen.insert(next).second) continue;
    order.push_back(next);
    pending.insert(pending.end(), next->bases.rbegin(), next->bases.rend());
  }
  return order;
}

} // namespace

// ---- GSSymbol

GSSymbol::GSSymbol(const char* name, SymbolKind kind) : name(name != nullptr ? name : ""), kind(kind) {}

GSSymbol::~GSSymbol() = default;

uint32_t GSSymbol::Hash() const {
  uint32_t h = 0;
  for (char c : name) h = h * 3 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return h;
}

int GSSymbol::Compare(const Utils::IHashNode& other) const {
  const auto& that = static_cast<const GSSymbol&>(other);
  int order = kind == kSymbolDependent && that.kind == kSymbolDependent
                  ? Vak::CodePage::CompareIgnoreCase(name.c_str(), that.name.c_str())
                  : std::strcmp(name.c_str(), that.name.c_str());
  if (order != 0) return order < 0 ? -1 : 1;
  if (index == -1 || that.index == -1 || index == that.index) return 0;
  return index < that.index ? -1 : 1;
}

void GSSymbol::Dump(MessageSink& sink) const { DumpTyped(sink, *this, std::string()); }

bool GSSymbol::EnterMembers(GSSymbolTable&) { return false; }

bool GSSymbol::Resolve() { return false; }

// ---- kinds

GSDependentSymbol::GSDependentSymbol(const char* bareFileName, uint32_t sourceCrc, uint32_t fileNameCrc,
                                     int32_t dependencySlot)
    : GSSymbol(bareFileName, kSymbolDependent), sourceCrc(sourceCrc), fileNameCrc(fileNameCrc),
      dependencySlot(dependencySlot) {}

void GSDependentSymbol::Dump(MessageSink& sink) const {
  sink.Add(Format("\nDependent \"%s\", crc 0x%X, filename crc 0x%X\n", name.c_str(), sourceCrc, fileNameCrc).c_str());
}

GSVariableSymbol::GSVariableSymbol(const char* name, int32_t type, const char* className, Storage storage)
    : GSSymbol(name, kSymbolVariable), className(className != nullptr ? className : ""), storage(storage) {
  this->type = type;
}

void GSVariableSymbol::Dump(MessageSink& sink) const { DumpTyped(sink, *this, className); }

GSFunctionSymbol::GSFunctionSymbol(const char* plainName, int32_t returnType, const char* returnClass,
                                   std::vector<ParameterType> parameters)
    : GSSymbol(SignatureName(plainName, parameters).c_str(), kSymbolFunction), plainName(plainName),
      returnClass(returnClass != nullptr ? returnClass : ""), parameters(std::move(parameters)) {
  type = returnType;
  c = 1 + ParameterCount();
}

void GSFunctionSymbol::Dump(MessageSink& sink) const { DumpTyped(sink, *this, returnClass); }

GSClassSymbol::GSClassSymbol(const char* name) : GSSymbol(name, kSymbolClass) {}

GSClassSymbol::~GSClassSymbol() { members.DeleteAllNodes(); }

void GSClassSymbol::Dump(MessageSink& sink) const {
  sink.Add(kClassRule);
  std::string header = Format("%d:%s %s (%s)::", index, name.c_str(), SpecifierNames(flags).c_str(),
                              bases.empty() ? "" : bases.front()->name.c_str());
  for (const GSClassSymbol* base : bases) header += Format("%d:%s,", base->index, base->name.c_str());
  sink.Add(header.c_str());
  for (const GSVariableSymbol* variable : variables) variable->Dump(sink);
  for (const GSFunctionSymbol* function : functions) function->Dump(sink);
}

bool GSClassSymbol::Link(GSSymbol* member) {
  const std::pair<unsigned, std::string_view> key{members.BucketOf(member->Hash()), member->name};
  auto after = chainOrder_.lower_bound(key);
  GSSymbol* previous = nullptr;
  if (after != chainOrder_.begin() && std::prev(after)->first.first == key.first) previous = std::prev(after)->second;
  if (!members.InsertAfter(previous, member)) return false;
  chainOrder_.emplace_hint(after, key, member);
  return true;
}

void GSClassSymbol::Indexed(GSSymbol* member) {
  // Members with one name could only come from an insert whose index was
  // set; the chain then decides which is found.
  if (!byName_.emplace(member->name, member).second) byNameExact_ = false;
}

GSSymbol* GSClassSymbol::FindMember(const char* name) const {
  if (!byNameExact_) return FindIn(members, name, kSymbolAny);
  const auto found = byName_.find(name);
  return found != byName_.end() ? found->second : nullptr;
}

bool GSClassSymbol::EnterVariable(GSVariableSymbol* variable) {
  if (!Link(variable)) return false;
  Indexed(variable);
  variable->owner = this;
  variable->index = memberCount++;
  variables.push_back(variable);
  return true;
}

bool GSClassSymbol::EnterFunction(GSFunctionSymbol* function, GSSymbolTable& library) {
  if (!Link(function)) return false;
  Indexed(function);
  function->owner = this;
  function->ownerClass = this;
  function->index = functionCount++;
  function->secondIndex = library.functionCount++;
  functions.push_back(function);
  return true;
}

// ---- tables

GSSymbolTable::GSSymbolTable(const char* name, unsigned buckets) : GSSymbol(name, kSymbolScope), symbols(buckets) {}

GSSymbolTable::~GSSymbolTable() { Clear(); }

void GSSymbolTable::Clear() {
  // Scopes first: their symbols may be looked at through classes' names.
  scopes_.clear();
  symbols.DeleteAllNodes();
  classes.clear();
  currentScript = nullptr;
  classCount = 0;
  functionCount = 0;
}

bool GSSymbolTable::Enter(GSSymbol* symbol) {
  if (!symbols.Insert(symbol)) return false;
  symbol->owner = this;
  if (symbol->kind == kSymbolClass) {
    auto* cls = static_cast<GSClassSymbol*>(symbol);
    cls->index = cls->secondIndex = classCount++;
    cls->script = currentScript;
    classes.push_back(cls);
  }
  return true;
}

GSDependentSymbol* GSSymbolTable::EnterDependent(const char* bareFileName, uint32_t sourceCrc, uint32_t fileNameCrc,
                                                 int32_t dependencySlot) {
  if (FindDependent(bareFileName) != nullptr) return nullptr;
  auto* dependent = new GSDependentSymbol(bareFileName, sourceCrc, fileNameCrc, dependencySlot);
  if (!Enter(dependent)) {
    delete dependent;
    return nullptr;
  }
  return dependent;
}

GSDependentSymbol* GSSymbolTable::FindDependent(const char* bareFileName) const {
  // The hash keeps case, the comparison of dependents does not: look at
  // every dependent, so that names differing only in case meet.
  for (auto it = symbols.Begin(); !it.IsEnd(); it.Next()) {
    auto* symbol = static_cast<GSSymbol*>(it.Node());
    if (symbol->kind == kSymbolDependent && Vak::CodePage::CompareIgnoreCase(symbol->name.c_str(), bareFileName) == 0)
      return static_cast<GSDependentSymbol*>(symbol);
  }
  return nullptr;
}

GSClassSymbol* GSSymbolTable::FindClass(const char* name) const {
  return static_cast<GSClassSymbol*>(FindIn(symbols, name, kSymbolClass));
}

bool GSSymbolTable::ResolveScript(GSDependentSymbol* script) {
  if (script == nullptr || script->owner != this) return false;
  currentScript = script;
  return Resolve();
}

bool GSSymbolTable::Resolve() {
  if (currentScript == nullptr) return false;
  currentScript->resolved = true;
  return true;
}

GSSymbolTable* GSSymbolTable::NewScope(GSSymbol* enclosing) {
  scopes_.push_back(std::make_unique<GSSymbolTable>("", kScopeBuckets));
  GSSymbolTable* scope = scopes_.back().get();
  scope->owner = enclosing;
  return scope;
}

void GSSymbolTable::Dump(MessageSink& sink) const { DumpSymbols(*this, sink); }

// ---- look-ups

GSSymbol* Find(const GSSymbol* scope, const char* name, SymbolKind kind, bool outward) {
  for (const GSSymbol* at = scope; at != nullptr; at = at->owner) {
    if (at->kind == kSymbolClass) {
      const auto* cls = static_cast<const GSClassSymbol*>(at);
      if (GSSymbol* found = OfKind(cls->FindMember(name), kind)) return found;
      if (!outward) return nullptr;
      for (const GSClassSymbol* base : AllBases(cls))
        if (GSSymbol* found = OfKind(base->FindMember(name), kind)) return found;
    } else if (at->kind == kSymbolScope) {
      if (GSSymbol* found = FindIn(static_cast<const GSSymbolTable*>(at)->symbols, name, kind)) return found;
      if (!outward) return nullptr;
    } else {
      return nullptr;
    }
  }
  return nullptr;
}

GSClassSymbol* EnclosingClass(const GSSymbol* scope) {
  for (const GSSymbol* at = scope; at != nullptr; at = at->owner)
    if (at->kind == kSymbolClass) return const_cast<GSClassSymbol*>(static_cast<const GSClassSymbol*>(at));
  return nullptr;
}

std::string SignatureName(const char* plainName, const std::vector<ParameterType>& parameters) {
  std::string text = "::";
  text += plainName;
  text += '(';
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (i > 0) text += ',';
    text += TypeText(parameters[i].type, parameters[i].className.c_str());
  }
  text += ')';
  return text;
}

std::string PlainFunctionName(const char* signatureName) {
  const char* start = std::strstr(signatureName, "::");
  start = start != nullptr ? start + 2 : signatureName;
  const char* end = std::strchr(start, '(');
  return end != nullptr ? std::string(start, end) : std::string(start);
}

std::vector<GSFunctionSymbol*> FindFunctions(const GSClassSymbol* cls, const char* plainName, int parameterCount) {
  std::vector<GSFunctionSymbol*> found;
  std::vector<const GSClassSymbol*> order{cls};
  for (const GSClassSymbol* base : AllBases(cls)) order.push_back(base);
  for (const GSClassSymbol* at : order) {
    for (GSFunctionSymbol* function : at->functions) {
      if (function->ParameterCount() != parameterCount ||
          PlainFunctionName(function->name.c_str()) != plainName)
        continue;
      bool overridden = false;
      for (const GSFunctionSymbol* seen : found) overridden |= seen->name == function->name;
      if (!overridden) found.push_back(function);
    }
  }
  return found;
}

// ---- derivation and layout

bool LeadsTo(const GSClassSymbol* from, const GSClassSymbol* target) {
  std::unordered_set<const GSClassSymbol*> seen;
  std::vector<const GSClassSymbol*> pending(from->bases.begin(), from->bases.end());
  while (!pending.empty()) {
    const GSClassSymbol* next = pending.back();
    pending.pop_back();
    if (next == target) return true;
    if (!seen.insert(next).second) continue;
    pending.insert(pending.end(), next->bases.begin(), next->bases.end());
  }
  return false;
}

bool DerivesFrom(const GSClassSymbol* cls, const GSClassSymbol* base) {
  return cls == base || (cls != nullptr && base != nullptr && LeadsTo(cls, base));
}

bool LayOut(GSClassSymbol& cls) {
  if (cls.laidOut) return true;
  if (LeadsTo(&cls, &cls)) return false;
  int32_t s = 2;
  int32_t f = 0;
  std::vector<BaseLink> derivation;
  for (GSClassSymbol* base : cls.bases) {
    if (!LayOut(*base)) return false;
    derivation.push_back({base, s, f, true});
    for (const BaseLink& inherited : base->derivation)
      derivation.push_back({inherited.base, inherited.memberOffset + s, inherited.functionOffset + f, false});
    s += base->firstMember + base->memberCount;
    f += base->firstFunction + base->functionCount;
  }
  cls.firstMember = s;
  cls.firstFunction = f;
  cls.derivation = std::move(derivation);
  for (GSVariableSymbol* variable : cls.variables) variable->slot = s + variable->index;
  cls.laidOut = true;
  return true;
}

const BaseLink* FindBase(const GSClassSymbol& cls, const GSClassSymbol* base) {
  for (const BaseLink& link : cls.derivation)
    if (link.base == base) return &link;
  return nullptr;
}

int32_t MemberSlot(const GSClassSymbol& seenFrom, const GSVariableSymbol& variable) {
  const auto* owner = static_cast<const GSClassSymbol*>(variable.owner);
  if (owner == nullptr || owner->kind != kSymbolClass || !seenFrom.laidOut) return -1;
  if (owner == &seenFrom) return seenFrom.firstMember + variable.index;
  const BaseLink* link = FindBase(seenFrom, owner);
  return link != nullptr ? link->memberOffset + owner->firstMember + variable.index : -1;
}

int32_t VirtualSlot(const GSClassSymbol& seenFrom, const GSFunctionSymbol& function) {
  const GSClassSymbol* owner = function.ownerClass;
  if (owner == nullptr || !seenFrom.laidOut) return -1;
  if (owner == &seenFrom) return seenFrom.firstFunction + function.index;
  const BaseLink* link = FindBase(seenFrom, owner);
  return link != nullptr ? link->functionOffset + owner->firstFunction + function.index : -1;
}

// ---- dump

std::string SpecifierNames(uint32_t flags) {
  static const char* const names[] = {"public ", "native ", "static ",    "final ",
                                      "thread ", "constructor ", "game ", "define "};
  std::string text;
  for (unsigned bit = 0; bit < 8; ++bit)
    if (flags & (1u << bit)) text += names[bit];
  return text;
}

void DumpSymbols(const GSSymbolTable& table, MessageSink& sink) {
  sink.Add("Symbol Table");
  for (const GSClassSymbol* cls : table.classes) cls->Dump(sink);
  for (auto it = table.symbols.Begin(); !it.IsEnd(); it.Next()) {
    const auto* symbol = static_cast<const GSSymbol*>(it.Node());
    if (symbol->kind == kSymbolDependent) symbol->Dump(sink);
  }
}

} // namespace GSCompiler
