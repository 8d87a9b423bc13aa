#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "gscompiler/GSSymbol.h"
#include "gscompiler/MessageSink.h"

namespace {

using namespace GSCompiler;

std::vector<std::string> Texts(const MessageSink& sink) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < sink.Count(); ++i) texts.emplace_back(sink.At(i));
  return texts;
}

// Classes entered into a library table, each with `members` int members.
struct Library {
  GSSymbolTable table;

  GSClassSymbol* Class(const char* name, std::vector<GSClassSymbol*> bases = {}, int members = 0) {
    auto* cls = new GSClassSymbol(name);
    EXPECT_TRUE(table.Enter(cls));
    cls->bases = std::move(bases);
    for (int i = 0; i < members; ++i) {
      const std::string member = std::string(name) + "_m" + std::to_string(i);
      EXPECT_TRUE(cls->EnterVariable(new GSVariableSymbol(member.c_str(), kTypeInt, nullptr, Storage::Member)));
    }
    return cls;
  }
  GSFunctionSymbol* Function(GSClassSymbol* cls, const char* name, std::vector<ParameterType> parameters,
                             int32_t returnType = kTypeVoid) {
    auto* function = new GSFunctionSymbol(name, returnType, nullptr, std::move(parameters));
    if (!cls->EnterFunction(function, table)) {
      delete function;
      return nullptr;
    }
    return function;
  }
};

TEST(Symbol, HashIsTimesThreePlusSignedCharacter) {
  struct Case {
    const char* name;
    uint32_t hash;
  } cases[] = {
      {"", 0},
      {"a", 97},
      {"ab", 97 * 3 + 98},
      {"Ab", 65 * 3 + 98},
      {"\xE9", static_cast<uint32_t>(-23)},
      {"a\xFF", 97 * 3 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(GSSymbol(c.name, kSymbolVariable).Hash(), c.hash) << c.name;
}

TEST(Symbol, CompareByKindCaseAndIndex) {
  struct Case {
    SymbolKind leftKind;
    const char* left;
    int32_t leftIndex;
    SymbolKind rightKind;
    const char* right;
    int32_t rightIndex;
    int order;
  } cases[] = {
      {kSymbolDependent, "Main.gs", -1, kSymbolDependent, "main.GS", -1, 0},  // dependents: no case
      {kSymbolClass, "Train", -1, kSymbolClass, "train", -1, -1},             // others: case counts
      {kSymbolDependent, "Main.gs", -1, kSymbolClass, "main.gs", -1, -1},
      {kSymbolVariable, "x", -1, kSymbolVariable, "x", 4, 0},  // -1 matches any index
      {kSymbolVariable, "x", 7, kSymbolVariable, "x", -1, 0},
      {kSymbolVariable, "x", 2, kSymbolVariable, "x", 5, -1},
      {kSymbolVariable, "x", 5, kSymbolVariable, "x", 2, 1},
      {kSymbolVariable, "a", 9, kSymbolVariable, "b", 1, -1},
  };
  for (const Case& c : cases) {
    GSSymbol left(c.left, c.leftKind), right(c.right, c.rightKind);
    left.index = c.leftIndex;
    right.index = c.rightIndex;
    const int order = left.Compare(right);
    EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, c.order) << c.left << " " << c.right;
  }
}

TEST(Symbol, EnterRefusesEqualAndDependentsMeetWithoutCase) {
  Library lib;
  GSClassSymbol* train = lib.Class("Train");
  auto* twin = new GSClassSymbol("Train");
  EXPECT_FALSE(lib.table.Enter(twin));
  delete twin;
  EXPECT_NE(lib.Class("train"), train);  // class names keep their case
  EXPECT_EQ(lib.table.FindClass("Train"), train);
  EXPECT_EQ(lib.table.FindClass("TRAIN"), nullptr);
  EXPECT_EQ(train->index, 0);
  EXPECT_EQ(lib.table.classCount, 2);

  GSDependentSymbol* main = lib.table.EnterDependent("main.gs", 1, 2, 0);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(lib.table.EnterDependent("MAIN.GS", 3, 4, 1), nullptr);
  EXPECT_EQ(lib.table.FindDependent("Main.Gs"), main);
  EXPECT_EQ(lib.table.FindDependent("other.gs"), nullptr);
  EXPECT_TRUE(lib.table.ResolveScript(main));
  EXPECT_TRUE(main->resolved);
  GSDependentSymbol foreign("x.gs", 0, 0, 0);
  EXPECT_FALSE(lib.table.ResolveScript(&foreign));
}

TEST(Symbol, FindSearchesScopesThenClassAndBasesThenLibrary) {
  Library lib;
  GSClassSymbol* base = lib.Class("Base", {}, 1);
  GSClassSymbol* derived = lib.Class("Derived", {base}, 1);
  GSSymbolTable* outer = lib.table.NewScope(derived);
  GSSymbolTable* inner = lib.table.NewScope(outer);
  auto* local = new GSVariableSymbol("n", kTypeInt, nullptr, Storage::Local);
  ASSERT_TRUE(outer->Enter(local));

  EXPECT_EQ(Find(inner, "n", kSymbolVariable, true), local);
  EXPECT_EQ(Find(inner, "n", kSymbolVariable, false), nullptr);
  EXPECT_EQ(Find(inner, "Base_m0", kSymbolVariable, true), base->variables[0]);
  EXPECT_EQ(Find(inner, "Derived_m0", kSymbolAny, true), derived->variables[0]);
  EXPECT_EQ(Find(inner, "Base", kSymbolClass, true), base);
  EXPECT_EQ(Find(inner, "Base", kSymbolVariable, true), nullptr);
  EXPECT_EQ(Find(derived, "Base_m0", kSymbolVariable, false), nullptr);
  EXPECT_EQ(EnclosingClass(inner), derived);
  EXPECT_EQ(EnclosingClass(&lib.table), nullptr);
}

// Member look-ups answer as the class's bucket chains do, for a class whose
// chains are long, and for members that share a name through a preset index.
TEST(Symbol, MemberLookUpsAgreeWithTheBucketChains) {
  Library lib;
  GSClassSymbol* big = lib.Class("Big", {}, 600);
  for (int i = 0; i < 300; ++i)
    ASSERT_NE(lib.Function(big, SignatureName(("f" + std::to_string(i)).c_str(), {{kTypeInt, ""}}).c_str(), {{kTypeInt, ""}}),
              nullptr);
  auto chain = [](const GSClassSymbol* cls, const std::string& name) -> GSSymbol* {
    GSSymbol key(name.c_str(), kSymbolVariable);
    auto it = cls->members.Find(key);
    return it.IsEnd() ? nullptr : static_cast<GSSymbol*>(it.Node());
  };
  for (int i = 0; i < 600; i += 7) {
    const std::string name = "Big_m" + std::to_string(i);
    EXPECT_EQ(big->FindMember(name.c_str()), big->variables[static_cast<std::size_t>(i)]) << name;
    EXPECT_EQ(big->FindMember(name.c_str()), chain(big, name)) << name;
  }
  for (GSFunctionSymbol* function : big->functions) {
    EXPECT_EQ(Find(big, function->name.c_str(), kSymbolFunction, false), function);
    EXPECT_EQ(Find(big, function->name.c_str(), kSymbolVariable, false), nullptr);
  }
  EXPECT_EQ(big->FindMember("Big_m600"), nullptr);
  GSVariableSymbol equal("Big_m3", kTypeInt, nullptr, Storage::Member);
  EXPECT_FALSE(big->EnterVariable(&equal));
  EXPECT_EQ(big->FindMember("Big_m3"), big->variables[3]);

  // A symbol that arrives with its index set is not equal to one of another
  // index, so two members can share a name; the chain decides which is found.
  GSClassSymbol* twice = lib.Class("Twice");
  auto* v = new GSVariableSymbol("v", kTypeInt, nullptr, Storage::Member);
  ASSERT_TRUE(twice->EnterVariable(v));
  auto* w = new GSVariableSymbol("w", kTypeInt, nullptr, Storage::Member);
  ASSERT_TRUE(twice->EnterVariable(w));
  auto* again = new GSVariableSymbol("v", kTypeInt, nullptr, Storage::Member);
  again->index = 7;
  ASSERT_TRUE(twice->EnterVariable(again));
  EXPECT_EQ(twice->FindMember("v"), chain(twice, "v"));
  EXPECT_EQ(twice->FindMember("v"), v);
  EXPECT_EQ(twice->FindMember("w"), w);
}

// A class of thousands of members: each insert compares with its chain
// neighbours only, and the chains still come out in name order.
TEST(Symbol, ManyMembersEnterWithoutWalkingTheirChains) {
  struct CountingVariable : GSVariableSymbol {
    CountingVariable(const std::string& name, int* count)
        : GSVariableSymbol(name.c_str(), kTypeInt, nullptr, Storage::Member), compares(count) {}
    int Compare(const Utils::IHashNode& other) const override {
      ++*compares;
      return GSVariableSymbol::Compare(other);
    }
    int* compares;
  };
  Library lib;
  GSClassSymbol* big = lib.Class("Big");
  int compares = 0;
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("m" + std::to_string(i * 7919 % 3000));
  for (const std::string& name : names) ASSERT_TRUE(big->EnterVariable(new CountingVariable(name, &compares)));
  EXPECT_LE(compares, 2 * 3000);
  CountingVariable equal("m17", &compares);
  EXPECT_FALSE(big->EnterVariable(&equal));

  std::vector<std::pair<unsigned, std::string>> walk, ordered;
  for (auto it = big->members.Begin(); !it.IsEnd(); it.Next()) {
    const auto* member = static_cast<const GSSymbol*>(it.Node());
    walk.emplace_back(static_cast<unsigned>(it.bucket), member->name);
    ordered.emplace_back(big->members.BucketOf(member->Hash()), member->name);
  }
  std::sort(ordered.begin(), ordered.end());
  EXPECT_EQ(walk, ordered);
  ASSERT_EQ(walk.size(), 3000u);
  for (std::size_t i = 0; i < names.size(); i += 97) EXPECT_EQ(big->FindMember(names[i].c_str()), big->variables[i]);
}

TEST(Symbol, SignatureNamesAndLookupByPlainName) {
  Library lib;
  GSClassSymbol* base = lib.Class("Base");
  GSClassSymbol* derived = lib.Class("Derived", {base});
  GSFunctionSymbol* baseRun = lib.Function(base, "Run", {{kTypeInt, ""}});
  GSFunctionSymbol* derivedRun = lib.Function(derived, "Run", {{kTypeInt, ""}});
  GSFunctionSymbol* runFloat = lib.Function(derived, "Run", {{kTypeFloat, ""}});
  GSFunctionSymbol* load = lib.Function(base, "Load", {{kTypeObjectArray, "Train"}, {kTypeObject, ""}});
  EXPECT_EQ(lib.Function(base, "Run", {{kTypeInt, ""}}, kTypeInt), nullptr);  // return type is not in the name

  EXPECT_EQ(load->name, "::Load(Train[],object)");
  EXPECT_EQ(baseRun->name, "::Run(int)");
  EXPECT_EQ(PlainFunctionName("::Load(Train[],object)"), "Load");
  EXPECT_EQ(PlainFunctionName("$@Sleep(float)"), "$@Sleep");
  EXPECT_EQ(load->c, 3);
  EXPECT_EQ(derivedRun->secondIndex, 1);  // library-wide order

  EXPECT_EQ(FindFunctions(base, "Run", 1), (std::vector<GSFunctionSymbol*>{baseRun}));
  EXPECT_EQ(FindFunctions(derived, "Run", 1), (std::vector<GSFunctionSymbol*>{derivedRun, runFloat}));
  EXPECT_TRUE(FindFunctions(derived, "Run", 2).empty());
  EXPECT_EQ(FindFunctions(derived, "Load", 2), (std::vector<GSFunctionSymbol*>{load}));
  EXPECT_EQ(Find(derived, "::Load(Train[],object)", kSymbolFunction, true), load);
}

TEST(Symbol, LayoutOfTheThreeClassChain) {
  Library lib;
  GSClassSymbol* a = lib.Class("A", {}, 3);
  GSClassSymbol* b = lib.Class("B", {a}, 2);
  GSClassSymbol* c = lib.Class("C", {b}, 1);
  GSFunctionSymbol* aRun = lib.Function(a, "Run", {});
  GSFunctionSymbol* bStop = lib.Function(b, "Stop", {});
  GSFunctionSymbol* cGo = lib.Function(c, "Go", {});
  ASSERT_TRUE(LayOut(*c));

  EXPECT_EQ(a->firstMember, 2);
  EXPECT_EQ(b->firstMember, 7);
  EXPECT_EQ(c->firstMember, 11);
  EXPECT_EQ(a->firstFunction, 0);
  EXPECT_EQ(b->firstFunction, 1);
  EXPECT_EQ(c->firstFunction, 2);
  ASSERT_EQ(c->derivation.size(), 2u);
  EXPECT_EQ(c->derivation[0].base, b);
  EXPECT_EQ(c->derivation[0].memberOffset, 2);
  EXPECT_EQ(c->derivation[0].functionOffset, 0);
  EXPECT_TRUE(c->derivation[0].direct);
  EXPECT_EQ(c->derivation[1].base, a);
  EXPECT_EQ(c->derivation[1].memberOffset, 4);
  EXPECT_FALSE(c->derivation[1].direct);

  EXPECT_EQ(MemberSlot(*c, *c->variables[0]), 11);
  EXPECT_EQ(MemberSlot(*c, *b->variables[1]), 2 + 7 + 1);
  EXPECT_EQ(MemberSlot(*c, *a->variables[2]), 4 + 2 + 2);
  EXPECT_EQ(MemberSlot(*b, *a->variables[2]), 2 + 2 + 2);
  EXPECT_EQ(MemberSlot(*a, *c->variables[0]), -1);
  EXPECT_EQ(VirtualSlot(*c, *cGo), 2);
  EXPECT_EQ(VirtualSlot(*c, *bStop), 0 + 1 + 0);
  EXPECT_EQ(VirtualSlot(*c, *aRun), 0);
  EXPECT_EQ(c->variables[0]->slot, 11);
}

TEST(Symbol, TwoDirectBasesAddInDeclarationOrder) {
  Library lib;
  GSClassSymbol* x = lib.Class("X", {}, 1);
  GSClassSymbol* y = lib.Class("Y", {}, 4);
  lib.Function(x, "F", {});
  lib.Function(y, "G", {});
  lib.Function(y, "H", {});
  GSClassSymbol* z = lib.Class("Z", {x, y}, 0);
  ASSERT_TRUE(LayOut(*z));
  EXPECT_EQ(z->firstMember, 2 + (2 + 1) + (2 + 4));
  EXPECT_EQ(z->firstFunction, 1 + 2);
  ASSERT_EQ(z->derivation.size(), 2u);
  EXPECT_EQ(z->derivation[1].memberOffset, 5);
  EXPECT_EQ(z->derivation[1].functionOffset, 1);
  EXPECT_EQ(VirtualSlot(*z, *y->functions[1]), 1 + 0 + 1);
}

TEST(Symbol, DerivationWalksEndOnCyclesAwayFromTheStart) {
  Library lib;
  GSClassSymbol* a = lib.Class("A");
  GSClassSymbol* b = lib.Class("B");
  GSClassSymbol* c = lib.Class("C");
  a->bases = {b};
  b->bases = {c};
  c->bases = {b};
  EXPECT_FALSE(LeadsTo(a, a));
  EXPECT_TRUE(LeadsTo(b, b));
  EXPECT_TRUE(LeadsTo(c, c));
  EXPECT_TRUE(DerivesFrom(a, c));
  EXPECT_FALSE(DerivesFrom(c, a));
  EXPECT_FALSE(LayOut(*a));
  EXPECT_FALSE(a->laidOut);
  EXPECT_EQ(Find(a, "missing", kSymbolAny, true), nullptr);
  EXPECT_TRUE(FindFunctions(a, "F", 0).empty());
}

TEST(Symbol, DumpTexts) {
  Library lib;
  GSClassSymbol* base = lib.Class("Base");
  GSClassSymbol* train = lib.Class("Train", {base});
  train->flags = kSpecStatic | kSpecGame;
  auto* engine = new GSVariableSymbol("engine", kTypeObject, "Engine", Storage::Member);
  engine->flags = kSpecPublic;
  ASSERT_TRUE(train->EnterVariable(engine));
  ASSERT_TRUE(train->EnterVariable(new GSVariableSymbol("speed", kTypeFloat, nullptr, Storage::Member)));
  GSFunctionSymbol* run = lib.Function(train, "Run", {{kTypeInt, ""}}, kTypeBool);
  run->flags = kSpecPublic | kSpecFinal;
  lib.table.EnterDependent("main.gs", 0xDEADBEEF, 0x12, 0);
  MessageSink sink;
  DumpSymbols(lib.table, sink);
  EXPECT_EQ(Texts(sink), (std::vector<std::string>{
                             "Symbol Table",
                             "========================================",
                             "0:Base  ()::",
                             "========================================",
                             "1:Train static game  (Base)::0:Base,",
                             "0:-1:object<Engine> engine public ",
                             "1:-1:float speed ",
                             "0:0:bool ::Run(int) public final ",
                             "\nDependent \"main.gs\", crc 0xDEADBEEF, filename crc 0x12\n",
                         }));
  EXPECT_EQ(SpecifierNames(0xFF), "public native static final thread constructor game define ");
}

} // namespace
