#pragma once
// The symbols of one library: scripts (dependents), classes, variables,
// functions and scopes, in intrusive hash tables. The semantic checks fill
// them; class layout, code generation and the library writer read them.
//
// Ownership: a table owns the symbols entered into it (the library table its
// classes and dependents, a class its members, a scope its locals); the
// library table also owns the local scopes made while checking bodies. A
// symbol lives until its table is cleared or destroyed, so syntax nodes may
// point at it until the library is written.
//
// Names: a function is entered under its signature name,
// "::" name "(" parameter types joined by "," ")", for example
// "::Init(int,Train[],object)"; an object parameter without a class is
// "object". Neither the class nor the return type is part of it.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "content/HashTable.h"
#include "gscompiler/SyntaxNode.h"

namespace GSCompiler {

class MessageSink;
struct CompileUnit;
class GSClassSymbol;
class GSSymbolTable;

enum SymbolKind : int32_t {
  kSymbolAny = 0,  // for Find: any kind
  kSymbolDependent = 1,
  kSymbolVariable = 2,
  kSymbolFunction = 3,
  kSymbolClass = 4,
  kSymbolScope = 5,
};

class GSSymbol : public Utils::IHashNode {
public:
  GSSymbol(const char* name, SymbolKind kind);
  ~GSSymbol() override;

  // h = h * 3 + character, characters as signed bytes; case matters.
  uint32_t Hash() const override;
  // Dependents compare their names without regard to case, everything else
  // with case; equal names then order by index, -1 matching any index.
  int Compare(const Utils::IHashNode& other) const override;
  // Queues a description of the symbol (see DumpSymbols).
  virtual void Dump(MessageSink& sink) const;
  // Class and scope kinds; the base does nothing and answers false.
  virtual bool EnterMembers(GSSymbolTable& library);
  virtual bool Resolve();

  std::string name;
  int32_t index = -1;
  // The class index of a class, the library-wide function index of a function.
  int32_t secondIndex = -1;
  int32_t type = kTypeNone;
  int32_t line = 0;
  uint32_t flags = 0;  // Specifier bits
  SymbolKind kind;
  GSSymbol* owner = nullptr;  // the table, class or scope that holds it
};

class GSDependentSymbol : public GSSymbol {
public:
  GSDependentSymbol(const char* bareFileName, uint32_t sourceCrc, uint32_t fileNameCrc, int32_t dependencySlot);
  void Dump(MessageSink& sink) const override;

  uint32_t sourceCrc;
  uint32_t fileNameCrc;
  int32_t dependencySlot;
  bool resolved = false;
};

enum class Storage : int32_t { Member, Parameter, Local };

class GSVariableSymbol : public GSSymbol {
public:
  GSVariableSymbol(const char* name, int32_t type, const char* className, Storage storage);
  void Dump(MessageSink& sink) const override;

  std::string className;  // of an object or object[] type; empty for none
  // Parameters and locals: the frame slot. Members: s + index of the owner.
  int32_t slot = -1;
  Storage storage;
  // The declarator (its child 2 is the initial value) or the parameter node;
  // valid while the unit of its script lives.
  SyntaxNode* declaration = nullptr;
  // A define member's value once checked (a constant's sub-kind, number and
  // text), kept here because other scripts read it after its unit is gone.
  bool hasConstant = false;
  int32_t constantKind = -1;
  int32_t constantNumber = 0;
  std::string constantText;
};

struct ParameterType {
  int32_t type;
  std::string className;
};

class GSFunctionSymbol : public GSSymbol {
public:
  GSFunctionSymbol(const char* plainName, int32_t returnType, const char* returnClass,
                   std::vector<ParameterType> parameters);
  void Dump(MessageSink& sink) const override;

  int32_t ParameterCount() const { return static_cast<int32_t>(parameters.size()); }

  std::string plainName;
  std::string returnClass;
  std::vector<ParameterType> parameters;
  GSClassSymbol* ownerClass = nullptr;
  // The declaration with the body when there is one, else the prototype;
  // valid while the unit of its script lives.
  SyntaxNode* declaration = nullptr;
  bool hasBody = false;
  // Frame counts: c = 1 + parameters (me in slot 0), a = locals, b = the
  // highest temporary used (raised by code generation).
  int32_t c = 1;
  int32_t a = 0;
  int32_t b = 0;
};

// A base class as seen from a class: its member offset and function offset
// within the class, and whether it is a direct base.
struct BaseLink {
  GSClassSymbol* base;
  int32_t memberOffset;
  int32_t functionOffset;
  bool direct;
};

class GSClassSymbol : public GSSymbol {
public:
  static constexpr unsigned kMemberBuckets = 31;

  explicit GSClassSymbol(const char* name);
  ~GSClassSymbol() override;
  void Dump(MessageSink& sink) const override;

  // Enters a member variable (next member index) or function (next function
  // index within the class, next library function index); false when an
  // equal member is there (the caller keeps the symbol).
  bool EnterVariable(GSVariableSymbol* variable);
  bool EnterFunction(GSFunctionSymbol* function, GSSymbolTable& library);
  // The member `members` finds under `name`, or null; the same answer as a
  // walk of its chain, without the walk.
  GSSymbol* FindMember(const char* name) const;

  std::vector<GSClassSymbol*> bases;  // direct, in declaration order
  // Every base, direct and inherited, in derivation order: each direct base
  // followed by the bases it brings along, depth first. Set by LayOut.
  std::vector<BaseLink> derivation;
  Utils::HashTable members{kMemberBuckets};
  GSDependentSymbol* script = nullptr;
  SyntaxNode* declaration = nullptr;
  int32_t memberCount = 0;
  int32_t functionCount = 0;
  int32_t firstMember = -1;    // s
  int32_t firstFunction = -1;  // f
  bool laidOut = false;
  std::vector<GSVariableSymbol*> variables;  // by index
  std::vector<GSFunctionSymbol*> functions;  // by index

private:
  // Links a member into `members` at the place its chain order gives.
  bool Link(GSSymbol* member);
  void Indexed(GSSymbol* member);
  // A class of thousands of members has long chains in its few buckets:
  // look-ups go by name, inserts take their place from the chains' order.
  std::unordered_map<std::string_view, GSSymbol*> byName_;
  std::map<std::pair<unsigned, std::string_view>, GSSymbol*> chainOrder_;  // (bucket, name)
  bool byNameExact_ = true;  // false once two members share a name
};

class GSSymbolTable : public GSSymbol {
public:
  static constexpr unsigned kLibraryBuckets = 61;
  static constexpr unsigned kScopeBuckets = 13;

  explicit GSSymbolTable(const char* name = "", unsigned buckets = kLibraryBuckets);
  ~GSSymbolTable() override;
  void Dump(MessageSink& sink) const override;
  // Marks the current script resolved; its classes need nothing more.
  bool Resolve() override;

  // Deletes every symbol and scope; counts back to 0.
  void Clear();
  // Enters a symbol of this table; false when an equal one is there (the
  // caller keeps it). A class gets the next class index.
  bool Enter(GSSymbol* symbol);

  // Script registry of the driver. EnterDependent answers null when a
  // dependent of that name is there already.
  GSDependentSymbol* EnterDependent(const char* bareFileName, uint32_t sourceCrc, uint32_t fileNameCrc,
                                    int32_t dependencySlot);
  GSDependentSymbol* FindDependent(const char* bareFileName) const;
  GSClassSymbol* FindClass(const char* name) const;
  void SetCurrentScript(GSDependentSymbol* script) { currentScript = script; }
  // Resolves the symbols of a script before its checks run; false when it
  // is not a dependent of this table.
  bool ResolveScript(GSDependentSymbol* script);

  // A scope for locals inside `enclosing` (a scope or a class), owned here.
  GSSymbolTable* NewScope(GSSymbol* enclosing);

  Utils::HashTable symbols;
  std::vector<GSClassSymbol*> classes;  // in the order entered
  GSDependentSymbol* currentScript = nullptr;
  CompileUnit* currentUnit = nullptr;
  int32_t classCount = 0;
  int32_t functionCount = 0;
  // Set on a function's outermost scope.
  GSFunctionSymbol* function = nullptr;

private:
  std::vector<std::unique_ptr<GSSymbolTable>> scopes_;
};

// Looks `name` up in `scope` (a table, scope or class). When not found and
// `outward` is set: a class's bases, then the enclosing scopes up to the
// library's table. kSymbolAny matches any kind; a symbol of another kind
// hides nothing.
GSSymbol* Find(const GSSymbol* scope, const char* name, SymbolKind kind, bool outward);

// The class that holds `scope`, going outward; null at the library level.
GSClassSymbol* EnclosingClass(const GSSymbol* scope);

std::string SignatureName(const char* plainName, const std::vector<ParameterType>& parameters);
// The text between "::" and "(" of a signature name.
std::string PlainFunctionName(const char* signatureName);

// The functions of `cls` and its bases whose plain name is `plainName` and
// that take `parameterCount` parameters, one per signature, the most derived
// first. More than one is an ambiguous call by plain name.
std::vector<GSFunctionSymbol*> FindFunctions(const GSClassSymbol* cls, const char* plainName, int parameterCount);

// True when following the bases of `from` reaches `target`. Ends on every
// shape of base graph, cycles not through `target` included.
bool LeadsTo(const GSClassSymbol* from, const GSClassSymbol* target);
// True when `cls` is `base` or derives from it.
bool DerivesFrom(const GSClassSymbol* cls, const GSClassSymbol* base);

// Computes s, f and the derivation list of `cls`, laying out its bases first;
// false on a base graph with a cycle (nothing is set then).
bool LayOut(GSClassSymbol& cls);
// `base` within `cls` (the first occurrence in derivation order), or null.
const BaseLink* FindBase(const GSClassSymbol& cls, const GSClassSymbol* base);
// Slots as seen from the static class `seenFrom`; -1 when the symbol's class
// is neither `seenFrom` nor one of its bases, or nothing is laid out.
int32_t MemberSlot(const GSClassSymbol& seenFrom, const GSVariableSymbol& variable);
int32_t VirtualSlot(const GSClassSymbol& seenFrom, const GSFunctionSymbol& function);

// "public native " ... for the specifier bits, in bit order.
std::string SpecifierNames(uint32_t flags);
// Queues the table's dump: "Symbol Table", each class with its members,
// then each dependent.
void DumpSymbols(const GSSymbolTable& table, MessageSink& sink);

} // namespace GSCompiler
