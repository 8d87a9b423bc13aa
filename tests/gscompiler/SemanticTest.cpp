#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gscompiler/Parser.h"
#include "gscompiler/Semantic.h"
#include "gscompiler/Types.h"

namespace {

using namespace GSCompiler;

// One script parsed and checked against a library table (its own, or one
// shared with scripts checked before).
struct Checked {
  std::unique_ptr<GSSymbolTable> own;
  MessageSink sink;
  CompileUnit unit;
  int errors = -1;
  uint32_t flags = 0;

  explicit Checked(const std::string& text, GSSymbolTable* library = nullptr, const char* name = "x.gs") {
    if (library == nullptr) {
      own = std::make_unique<GSSymbolTable>();
      library = own.get();
    }
    unit.name = name;
    unit.sink = &sink;
    unit.symbols = library;
    const int parsed = ParseText(unit, text.data(), text.size());
    EXPECT_EQ(parsed, 0) << text << "\n" << (sink.Count() > 0 ? sink.At(0) : "");
    if (parsed == 0) errors = CheckSemantics(unit, false, &flags);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < sink.Count(); ++i) texts.emplace_back(sink.At(i));
    return texts;
  }
  // Every node of the tree, depth first, that `match` accepts.
  std::vector<SyntaxNode*> Nodes(const std::function<bool(const SyntaxNode*)>& match) const {
    std::vector<SyntaxNode*> found, pending{unit.tree};
    while (!pending.empty()) {
      SyntaxNode* node = pending.back();
      pending.pop_back();
      if (node == nullptr) continue;
      if (match(node)) found.push_back(node);
      pending.push_back(node->next);
      for (int i = 3; i >= 0; --i) pending.push_back(node->child[i]);
    }
    return found;
  }
  // The statements of the body of the first function named `function`.
  SyntaxNode* Body(const char* function) const {
    auto found = Nodes([&](const SyntaxNode* n) {
      return n->nodeClass == NodeClass::Declaration && n->kind == kDeclFunction &&
             std::string(n->child[1]->text) == function;
    });
    return found.empty() || found[0]->child[3] == nullptr ? nullptr : found[0]->child[3]->child[0];
  }
};

// Classes the body cases lean on, all on line 7 with the case itself.
const std::string kPrelude =
    "\n\n\n\n\n\n"
    "static class S { public int g; public define int D = 4; }; game class G { }; final class F { }; "
    "class Base { public int pub; int priv; void Run(int n) { } final void Stop() { } "
    "public void Go(object o) { } public void Go(Base b) { } }; "
    "class Other { int hidden; void Secret() { } public object Make() { return null; } }; "
    "class A isclass Base { int m; int[] arr; string s; object o; Other other; ";

std::string InBody(const std::string& body) { return kPrelude + "void T(int i, float f) { " + body + " } };"; }
std::string InMembers(const std::string& members) { return kPrelude + members + " };"; }
std::string Alone(const std::string& script) { return "\n\n\n\n\n\n" + script; }

TEST(Semantic, EachMessageWholeLineWithSummary) {
  struct Case {
    std::string script;
    const char* message;
  } cases[] = {
      // class declarations
      {Alone("public class X { };"), "Class has illegal declaration specifiers, line 7."},
      {Alone("class X { }; class X { };"), "Class X has already been declared, line 7."},
      {Alone("static class S { }; class X isclass S { };"), "Cannot extend static class S, line 7."},
      {Alone("final class F { }; class X isclass F { };"), "Cannot extend final class F, line 7."},
      {Alone("class X isclass X { };"), "Class X and X causes cyclic derivation, line 7."},
      {Alone("class X isclass Y { };"), "Class Y has not been declared, line 7."},
      // function declarations
      {Alone("class X { static void f() { } };"), "Function has illegal declaration specifiers, line 7."},
      {Alone("class X { native thread void f(); };"), "Function has illegal declaration specifiers, line 7."},
      {Alone("class X { Q f() { } };"), "object<Q> not declared, line 7."},
      {Alone("class X { void f(Q q) { } };"), "object<Q> not declared, line 7."},
      {Alone("class B { final void f() { } }; class X isclass B { void f() { } };"),
       "Cannot override final function, line 7."},
      {Alone("class X { void f(int a) { } int f(int b) { return b; } };"),
       "Function differs only by return type, line 7."},
      {Alone("class X { public void f(); void f() { } };"), "Function specifiers differ from prototype, line 7."},
      {Alone("class X { thread int f() { return 1; } };"), "thread function must return void, line 7."},
      {Alone("class X { void f(int a) { } void f(int b) { } };"), "Function ::f(int) already declared, line 7."},
      // members and variables
      {InMembers("static int bad;"), "member declaration has invalid specifiers, line 7."},
      {InMembers("int m;"), "Variable m already declared in this scope, line 7."},
      {InMembers("Q q;"), "object<Q> not declared, line 7."},
      {InMembers("define int D;"), "define variable must have a const assignment, line 7."},
      {InMembers("define int D = m;"), "define variable must have a const assignment, line 7."},
      {InBody("int k; int k;"), "Variable k already declared in this scope, line 7."},
      {InBody("Q q;"), "object<Q> not declared, line 7."},
      // if, while, for
      {InBody("if (Run(1)) { }"), "invalid if expression, line 7."},
      {InBody("while (Run(1)) { }"), "invalid while expression, line 7."},
      {InBody("for (; Run(1); ) { }"), "invalid for expression, line 7."},
      // switch, case, default
      {InBody("switch (i) { default: break; }"), "switch statement without case, line 7."},
      {InBody("switch (i) { case 1: break; }"), "switch statement without default, line 7."},
      {InBody("switch (f) { case 1: break; default: break; }"), "switch expression not integral, line 7."},
      {InBody("switch (i) { case 1: default: i = 1; default: break; }"), "switch already has default, line 7."},
      {InBody("default: i = 1;"), "illegal default, line 7."},
      {InBody("switch (i) { case i: break; default: break; }"), "case expression not constant or integral, line 7."},
      {InBody("switch (i) { case 1.5: break; default: break; }"), "case expression not constant or integral, line 7."},
      {InBody("case 1: i = 2;"), "illegal case, line 7."},
      // wait, on
      {InBody("wait () { }"), "wait statement must have at least 1 on statement, line 7."},
      {InBody("wait () { on 1, \"b\": break; }"),
       "on statement requires string constant for major and minor message types, line 7"},
      {InBody("wait () { on \"a\", \"b\", i: break; }"), "on statement requires object type for third parameter, line 7"},
      // return
      {InBody("return 1;"), "return type mismatch, expecting void, line 7."},
      {kPrelude + "int T() { return; } };", "expecting return type of int, line 7."},
      {kPrelude + "int T() { return s; } };", "return type mismatch, expecting int, line 7."},
      {kPrelude + "Base T() { return other; } };", "cannot cast from object<Other> to object<Base>, line 7."},
      // break, continue
      {InBody("{ break; }"), "illegal break, line 7."},
      {InBody("switch (i) { case 1: continue; default: break; }"), "illegal continue, line 7."},
      // operators
      {InBody("1++;"), "expression not an l-value for ++ operator, line 7"},
      {InBody("--S.D;"), "expression not an l-value for -- operator, line 7"},
      {InBody("~f;"), "illegal types for unary operand ~, line 7"},
      {InBody("i + o;"), "illegal types for operand +, line 7"},
      {InBody("1 = i;"), "illegal l-value for assignment, line 7."},
      {InBody("i = s;"), "illegal types for operand =, line 7"},
      // member access
      {InBody("o.m = 1;"), "unknown object class for '.' operator, line 7."},
      {InBody("Q.x = 1;"), "Q is not a static class or variable within this class, line 7."},
      {InBody("other.x = 1;"), "member x does not exist in object Other, line 7."},
      {InBody("other.hidden = 1;"), "member hidden not public in object Other, line 7."},
      {InBody("i.x = 1;"), ". operator cannot be used on a non-reference type, line 7."},
      // index and range
      {InBody("i[0] = 1;"), "int not an array type for [] operator, line 7"},
      {InBody("arr[f] = 1;"), "index not integral for [] operator, line 7"},
      {InBody("f[0, 1];"), "float not an array type for [,] operator, line 7"},
      {InBody("arr[f, 1];"), "left index not integral for [,] operator, line 7"},
      {InBody("arr[0, f];"), "right index not integral for [,] operator, line 7"},
      // casts
      {InBody("i = (int)s;"), "cannot cast from string to int, line 7."},
      {InBody("o = cast<Base> other;"), "cannot cast from object<Other> to object<Base>, line 7."},
      {InBody("o = cast<Q> o;"), "class Q not defined, line 7."},
      // size, isclass, copy
      {InBody("i.size();"), ".size operator requires an array type, line 7."},
      {InBody("i.isclass(Base);"), ".isclass operator requires an object type, line 7."},
      {InBody("o.isclass(Q);"), "class Q not declared for .isclass operator, line 7."},
      {InBody("i.copy(arr);"), ".copy operator requires an array type, line 7."},
      {InBody("arr.copy(i);"), ".copy expression must be an array type, line 7."},
      {InBody("arr.copy(s);"), "left and right types incompatible for .copy operator, line 7."},
      // names
      {InBody("q = 1;"), "variable q not declared, line 7."},
      {InBody("Base.pub = 1;"), "class Base is not static, line 7."},
      {Alone("static class X { int n; void f() { me; } };"), "me keyword invalid in static, line 7."},
      // calls and inherited
      {InBody("other.Nope();"), "function Nope not declared in class Other or derivative, line 7."},
      {InBody("Nope();"), "function Nope not declared, line 7."},
      {InBody("Run(f);"), "function Run not declared, line 7."},
      {InBody("Go(null);"), "function call Go is ambiguous, line 7."},
      {InBody("other.Secret();"), "function Secret not public in object Other, line 7."},
      {InBody("inherited();"), "'inherited' can only be used on current function, line 7."},
      {kPrelude + "thread void T() { inherited(); } };",
       "'inherited' can not be used on native or thread function, line 7."},
      {InBody("inherited(i, f);"), "internal compiler error while parsing 'inherited', line 7."},
      {InBody("arr[0]();"), "Error in expression, line 7."},
      {InBody("i = (i, 2);"), "Error in expression, line 7."},
      // new
      {InBody("o = new object();"), "cannot new unnamed object, line 7."},
      {InBody("arr = new int[f];"), "non-integral expression for new[], line 7."},
      {InBody("o = new Other(1);"), "constructors not yet supported, line 7."},
      {InBody("o = new G();"), "cannot new static or game class, line 7."},
      {InBody("o = new S();"), "cannot new static or game class, line 7."},
      {InBody("o = new Q();"), "cannot find class Q in this translation unit, line 7."},
      {InBody("i = new int();"), "cannot new type int, line 7."},
  };
  for (const Case& c : cases) {
    Checked checked(c.script);
    EXPECT_EQ(checked.Messages(), (std::vector<std::string>{std::string("x.gs(7) : ") + c.message,
                                                            "(x.gs) 1 semantic error(s)"}))
        << c.script;
    EXPECT_EQ(checked.errors, 1) << c.script;
  }
}

TEST(Semantic, InternalErrorWithoutALibrary) {
  MessageSink sink;
  CompileUnit unit;
  unit.name = "x.gs";
  unit.sink = &sink;
  const std::string text = "class X { };";
  ASSERT_EQ(ParseText(unit, text.data(), text.size()), 0);
  EXPECT_EQ(CheckSemantics(unit, false), 1);
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_STREQ(sink.At(0), "Internal compiler error.");
}

TEST(Semantic, SoundScriptHasNoMessages) {
  Checked checked(kPrelude +
                  "define string NAME = \"a\" + \"b\"; int n = S.D * 2; "
                  "public void Go(Base b) { inherited(b); } "
                  "Base Pick(A a) { if (a) return a; return null; } "
                  "thread void Wait() { "
                  "  wait () { on \"Train\", \"Stop\", o: { break; } on \"Train\", \"Go\": continue; } } "
                  "int T(int i, float f) { "
                  "  int k = i + 2; float g = k * f; string t = NAME + k + g + true; bool[] flags = new bool[4]; "
                  "  S.g = S.D; n = me.m; arr = new int[k]; arr[0] = arr[1]++; s[0] = 'x'; "
                  "  arr = arr[1, ]; s = s[, 2]; k = arr.size() + s.size(); arr.copy(arr); "
                  "  other = new Other(); o = other.Make(); Go(o); Go(cast<Base> me); Run(k); "
                  "  if (o.isclass(Other) and t != null or !flags) { k = -k; } else k = ~k; "
                  "  for (k = 0; k < 10; ++k) { if (k == 3) continue; if (k > 8) break; } "
                  "  while (k) { k--; } "
                  "  switch (k) { case 1: case S.D: k = 2; break; default: break; } "
                  "  Wait(); return k << 2 >> 1 & 7 ^ 1 | 8; } };");
  EXPECT_EQ(checked.Messages(), std::vector<std::string>{});
  EXPECT_TRUE(checked.flags & kSemanticDeclaresClass);
}

TEST(Semantic, SeveralErrorsOfOneScriptAreAllReported) {
  Checked checked("class X isclass Nope { int a; int a; };\n"
                  "class Y { void f() { q = 1; break; } int g() { return; } };\n");
  EXPECT_EQ(checked.Messages(), (std::vector<std::string>{
                                    "x.gs(1) : Class Nope has not been declared, line 1.",
                                    "x.gs(1) : Variable a already declared in this scope, line 1.",
                                    "x.gs(2) : variable q not declared, line 2.",
                                    "x.gs(2) : illegal break, line 2.",
                                    "x.gs(2) : expecting return type of int, line 2.",
                                    "(x.gs) 5 semantic error(s)",
                                }));
  EXPECT_EQ(checked.errors, 5);
}

TEST(Semantic, CyclicDerivationNamesBothClasses) {
  Checked through("class A isclass C { }; class B isclass A { }; class C isclass B { };");
  EXPECT_EQ(through.Messages(), (std::vector<std::string>{
                                    "x.gs(1) : Class A and C causes cyclic derivation, line 1.",
                                    "x.gs(1) : Class B and A causes cyclic derivation, line 1.",
                                    "x.gs(1) : Class C and B causes cyclic derivation, line 1.",
                                    "(x.gs) 3 semantic error(s)",
                                }));
  // A cycle that does not pass through A: the walk from A must end, and only
  // the classes on the cycle report it.
  Checked away("class A isclass B { int a; void f() { a = b + c; } };\n"
               "class B isclass C { int b; };\n"
               "class C isclass B { int c; };\n");
  EXPECT_EQ(away.Messages(), (std::vector<std::string>{
                                 "x.gs(2) : Class B and C causes cyclic derivation, line 2.",
                                 "x.gs(3) : Class C and B causes cyclic derivation, line 3.",
                                 "x.gs(1) : variable c not declared, line 1.",
                                 "(x.gs) 3 semantic error(s)",
                             }));
}

TEST(Semantic, BreakLegalInWaitAndLoopsNotInPlainBlocks) {
  struct Case {
    const char* body;
    bool legal;
  } cases[] = {
      {"wait () { on \"a\", \"b\": break; }", true},
      {"wait () { on \"a\", \"b\": continue; }", true},
      {"while (i) break;", true},
      {"for (;;) { { break; } }", true},
      {"switch (i) { case 1: break; default: break; }", true},
      {"{ break; }", false},
      {"if (i) break;", false},
      {"{ continue; }", false},
  };
  for (const Case& c : cases) {
    Checked checked(InBody(c.body));
    EXPECT_EQ(checked.errors, c.legal ? 0 : 1) << c.body;
  }
}

TEST(Semantic, SpecifierMasksByConstruct) {
  const char* keywords[] = {"public", "native", "static", "final", "thread", "game", "define"};
  const uint32_t bits[] = {kSpecPublic, kSpecNative, kSpecStatic, kSpecFinal, kSpecThread, kSpecGame, kSpecDefine};
  struct Construct {
    const char* name;
    uint32_t refused;
    std::function<std::string(const std::string&)> script;
  } constructs[] = {
      {"class", 0x93, [](const std::string& k) { return k + " class X { };"; }},
      {"function", 0xC4, [](const std::string& k) { return "class X { " + k + " void f(); };"; }},
      {"member", 0x5E, [](const std::string& k) { return "class X { " + k + " int m = 1; };"; }},
  };
  for (const Construct& construct : constructs) {
    for (std::size_t i = 0; i < std::size(keywords); ++i) {
      Checked checked(construct.script(keywords[i]));
      EXPECT_EQ(checked.errors, (construct.refused & bits[i]) ? 1 : 0) << construct.name << " " << keywords[i];
    }
  }
  // Locals take no specifiers, and the grammar gives them none; the mask
  // refuses every bit but constructor.
  EXPECT_EQ(0xDFu & 0xFF, 0xFFu & ~uint32_t{kSpecConstructor});
}

// Variables of every type, members of class V, and the types they stand for.
const char* const kTypedMembers =
    "class V { bool vb; int vi; float vf; string vs; object vo; bool[] ab; int[] ai; float[] af; string[] as; "
    "object[] ao; V vv; W vw; V[] av; ";
struct Operand {
  const char* text;
  int32_t type;
};
const Operand kOperands[] = {
    {"vb", kTypeBool},        {"vi", kTypeInt},         {"vf", kTypeFloat},       {"vs", kTypeString},
    {"vo", kTypeObject},      {"ab", kTypeBoolArray},   {"ai", kTypeIntArray},    {"af", kTypeFloatArray},
    {"as", kTypeStringArray}, {"ao", kTypeObjectArray}, {"null", kTypeNull},      {"T()", kTypeVoid},
};

SyntaxNode* FirstStatement(const Checked& checked) { return checked.Body("F"); }

std::string TypedBody(const std::string& statement) {
  return std::string("class W { }; ") + kTypedMembers + "void T() { } void F() { " + statement + " } };";
}

int32_t ExpectedBinary(int32_t op, int32_t l, int32_t r) {
  auto basic = [](int32_t t) { return t == kTypeBool || t == kTypeInt || t == kTypeFloat || t == kTypeString; };
  auto array = [](int32_t t) { return t >= kTypeVoidArray && t <= kTypeObjectArray; };
  auto number = [](int32_t t) { return t == kTypeInt || t == kTypeFloat; };
  auto logical = [&](int32_t t) { return basic(t) || t == kTypeObject || (array(t) && t != kTypeVoidArray); };
  switch (op) {
    case kOpAdd:
      if ((l == kTypeString && basic(r)) || (r == kTypeString && basic(l))) return kTypeString;
      [[fallthrough]];
    case kOpMul:
    case kOpDiv:
    case kOpMod:
    case kOpSub:
      if (l == kTypeInt && r == kTypeInt) return kTypeInt;
      return number(l) && number(r) ? kTypeFloat : kTypeNone;
    case kOpShiftLeft:
    case kOpShiftRight:
    case kOpAnd:
    case kOpXor:
    case kOpOr: return l == kTypeInt && r == kTypeInt ? kTypeInt : kTypeNone;
    case kOpLogicalAnd:
    case kOpLogicalOr: return logical(l) && logical(r) ? kTypeBool : kTypeNone;
    default: {
      bool ok = (basic(l) && basic(r)) || (l == kTypeNull && r == kTypeNull);
      for (int32_t a : {l, r}) {
        const int32_t b = a == l ? r : l;
        ok |= a == kTypeString && b == kTypeNull;
        ok |= a == kTypeObject && (b == kTypeObject || b == kTypeNull);
        ok |= array(a) && (b == a || b == kTypeNull);
      }
      return ok ? kTypeBool : kTypeNone;
    }
  }
}

TEST(Semantic, BinaryOperatorTypingOverEveryPair) {
  for (int32_t op = kOpMul; op <= kOpLogicalOr; ++op) {
    for (const Operand& l : kOperands) {
      for (const Operand& r : kOperands) {
        const std::string statement = std::string(l.text) + " " + OperatorText(op) + " " + r.text + ";";
        Checked checked(TypedBody(statement));
        const int32_t expected = ExpectedBinary(op, l.type, r.type);
        SyntaxNode* node = FirstStatement(checked);
        ASSERT_NE(node, nullptr) << statement;
        if (expected == kTypeNone) {
          EXPECT_EQ(checked.Messages().at(0),
                    std::string("x.gs(1) : illegal types for operand ") + OperatorText(op) + ", line 1")
              << statement;
        } else {
          EXPECT_EQ(checked.errors, 0) << statement;
          EXPECT_EQ(node->type, expected) << statement;
        }
      }
    }
  }
}

TEST(Semantic, UnaryOperatorTypingOverEveryType) {
  const int32_t ops[] = {kOpPlus, kOpMinus, kOpNot, kOpComplement, kOpPreInc, kOpPreDec, kOpPostInc, kOpPostDec};
  for (int32_t op : ops) {
    for (const Operand& operand : kOperands) {
      const bool postfix = op == kOpPostInc || op == kOpPostDec;
      const std::string statement = postfix ? std::string(operand.text) + OperatorText(op) + ";"
                                            : std::string(OperatorText(op)) + operand.text + ";";
      Checked checked(TypedBody(statement));
      const int32_t t = operand.type;
      int32_t expected = kTypeNone;
      if (op == kOpNot) expected = t != kTypeVoid && t != kTypeNull ? kTypeBool : kTypeNone;
      else if (op == kOpComplement) expected = t == kTypeInt ? kTypeInt : kTypeNone;
      else expected = t == kTypeInt || t == kTypeFloat ? t : kTypeNone;
      const bool lvalue = operand.type != kTypeNull && operand.type != kTypeVoid;
      const bool increment = op >= kOpPreDec || op <= kOpPostInc;
      if (increment && !lvalue) {
        EXPECT_EQ(checked.Messages().at(0), std::string("x.gs(1) : expression not an l-value for ") +
                                                OperatorText(op) + " operator, line 1")
            << statement;
      } else if (expected == kTypeNone) {
        EXPECT_EQ(checked.Messages().at(0),
                  std::string("x.gs(1) : illegal types for unary operand ") + OperatorText(op) + ", line 1")
            << statement;
      } else {
        EXPECT_EQ(checked.errors, 0) << statement;
        EXPECT_EQ(FirstStatement(checked)->type, expected) << statement;
      }
    }
  }
}

TEST(Semantic, AssignmentCompatibilityByTargetAndValue) {
  const Operand targets[] = {
      {"vb", kTypeBool},         {"vi", kTypeInt},         {"vf", kTypeFloat},       {"vs", kTypeString},
      {"vo", kTypeObject},       {"ab", kTypeBoolArray},   {"ai", kTypeIntArray},    {"af", kTypeFloatArray},
      {"as", kTypeStringArray},  {"ao", kTypeObjectArray},
  };
  for (const Operand& target : targets) {
    for (const Operand& value : kOperands) {
      const std::string statement = std::string(target.text) + " = " + value.text + ";";
      Checked checked(TypedBody(statement));
      const int32_t t = target.type, v = value.type;
      bool legal;
      if (t <= kTypeFloat) legal = v >= kTypeBool && v <= kTypeFloat;
      else if (t == kTypeString) legal = (v >= kTypeBool && v <= kTypeString) || v == kTypeNull;
      else legal = v == t || v == kTypeNull;
      EXPECT_EQ(checked.errors, legal ? 0 : 1) << statement;
      if (!legal) {
        EXPECT_EQ(checked.Messages().at(0), "x.gs(1) : illegal types for operand =, line 1") << statement;
      }
    }
  }
  struct ObjectCase {
    const char* statement;
    const char* message;  // null: legal
  } objects[] = {
      {"vv = vv;", nullptr},
      {"vo = vv;", nullptr},
      {"vv = vo;", nullptr},  // an unnamed object is cast at run time
      {"vv = null;", nullptr},
      {"vv = vw;", "x.gs(1) : cannot cast from object<W> to object<V>, line 1."},
      {"av = ao;", nullptr},
      {"vv = ai;", "x.gs(1) : illegal types for operand =, line 1"},
  };
  for (const ObjectCase& c : objects) {
    Checked checked(TypedBody(c.statement));
    if (c.message == nullptr) {
      EXPECT_EQ(checked.errors, 0) << c.statement;
    } else {
      EXPECT_EQ(checked.Messages().at(0), c.message) << c.statement;
    }
  }
  Checked derived("class P { }; class Q isclass P { P p; Q q; void F() { p = q; q = p; } };");
  EXPECT_EQ(derived.Messages().at(0), "x.gs(1) : cannot cast from object<P> to object<Q>, line 1.");
  EXPECT_EQ(derived.errors, 1);
}

TEST(Semantic, ConstantOperandsFold) {
  struct Case {
    const char* expression;
    int32_t kind;  // ConstantKind, or -1: not folded
    int32_t number;
    const char* text;
  } cases[] = {
      {"1 + 2 * 3", kConstInt, 7, nullptr},
      {"7 / 2", kConstInt, 3, nullptr},
      {"-7 % 3", kConstInt, -1, nullptr},
      {"0x7FFFFFFF + 1", kConstInt, INT_MIN, nullptr},
      {"1 << 33", kConstInt, 2, nullptr},
      {"-8 >> 1", kConstInt, -4, nullptr},
      {"6 & 3 | 8 ^ 1", kConstInt, 11, nullptr},
      {"~5", kConstInt, -6, nullptr},
      {"+4", kConstInt, 4, nullptr},
      {"1 + 2.5", kConstFloat, std::bit_cast<int32_t>(3.5f), nullptr},
      {"-1.5", kConstFloat, std::bit_cast<int32_t>(-1.5f), nullptr},
      {"7.5 % 2", kConstFloat, std::bit_cast<int32_t>(1.5f), nullptr},
      {"3 < 4", kConstBool, 1, nullptr},
      {"2.5 >= 3", kConstBool, 0, nullptr},
      {"true == 1", kConstBool, 1, nullptr},
      {"\"a\" != \"b\"", kConstBool, 1, nullptr},
      {"!0", kConstBool, 1, nullptr},
      {"!2.0", kConstBool, 0, nullptr},
      {"true and false", kConstBool, 0, nullptr},
      {"0 or 3", kConstBool, 1, nullptr},
      {"\"ab\" + \"cd\"", kConstString, 0, "abcd"},
      {"5 / 0", -1, 0, nullptr},
      {"5 % 0", -1, 0, nullptr},
      {"(-2147483647 - 1) / -1", -1, 0, nullptr},
      {"\"n\" + 1", -1, 0, nullptr},
      {"vi + 1", -1, 0, nullptr},
  };
  for (const Case& c : cases) {
    const std::string statement = std::string(c.expression) + ";";
    Checked checked(TypedBody(statement));
    EXPECT_EQ(checked.errors, 0) << c.expression;
    const SyntaxNode* node = FirstStatement(checked);
    ASSERT_NE(node, nullptr);
    if (c.kind < 0) {
      EXPECT_EQ(node->kind, kExprOperator) << c.expression;
      continue;
    }
    ASSERT_EQ(node->kind, kExprConstant) << c.expression;
    EXPECT_EQ(node->subKind, c.kind) << c.expression;
    EXPECT_EQ(node->child[0], nullptr);
    if (c.text != nullptr) {
      EXPECT_STREQ(node->text, c.text) << c.expression;
    } else {
      EXPECT_EQ(node->number, c.number) << c.expression;
    }
    EXPECT_TRUE(node->flags & kMarkUnusedValue);  // the mark survives
  }
}

TEST(Semantic, SwitchWithoutDefaultOrCaseAndDifferingReturnType) {
  Checked neither(InBody("switch (i) { }"));
  EXPECT_EQ(neither.Messages().at(0), "x.gs(7) : switch statement without case, line 7.");
  Checked twice(Alone("class X { int f(); float f(); };"));
  EXPECT_EQ(twice.Messages().at(0), "x.gs(7) : Function differs only by return type, line 7.");
}

std::string Nested(int depth) {
  std::string body;
  for (int i = 0; i < depth; ++i) body += "{";
  for (int i = 0; i < depth; ++i) body += "}";
  return body;
}

TEST(Semantic, NestingDepthIsLimitedButStatementCountIsNot) {
  // The body and 127 blocks in it: 128 pending nodes at the deepest.
  Checked deepest(InBody(Nested(127)));
  EXPECT_EQ(deepest.errors, 0);
  Checked tooDeep(InBody(Nested(128)));
  EXPECT_EQ(tooDeep.Messages(), (std::vector<std::string>{"x.gs(7) : Stack overflow; code nested too deep.",
                                                         "(x.gs) 1 semantic error(s)"}));
  // The walk stops in that function only; the next one is checked.
  Checked next(kPrelude + "void T() { " + Nested(128) + " } void U() { q = 1; } };");
  EXPECT_EQ(next.errors, 2);

  std::string body;
  for (int i = 0; i < 10000; ++i) body += "i = i + 1;\n";
  Checked many(InBody(body));
  EXPECT_EQ(many.errors, 0);
}

TEST(Semantic, AnnotationsForCodeGeneration) {
  Checked checked(
      "class B { int b0; int b1; void Run() { } int Add(int x, int y) { return x + y; } };\n"
      "class C isclass B { int c0; B other; void Go() { } "
      "void F(int p, string q) { int l1; { int l2; } int l3; l3 = Add(p, l1); other.b1 = c0; Go(); other.Run(); "
      "switch (p) { case 1: case 2: break; default: break; } "
      "wait () { on \"a\", \"b\": break; on \"c\", \"d\": break; on \"e\", \"f\": break; } } };\n");
  ASSERT_EQ(checked.errors, 0) << (checked.Messages().empty() ? "" : checked.Messages()[0]);
  GSClassSymbol* b = checked.own->FindClass("B");
  GSClassSymbol* c = checked.own->FindClass("C");
  ASSERT_TRUE(b && c);
  EXPECT_EQ(b->firstMember, 2);
  EXPECT_EQ(c->firstMember, 2 + 2 + 2);
  EXPECT_EQ(c->firstFunction, 2);

  auto* f = static_cast<GSFunctionSymbol*>(Find(c, "::F(int,string)", kSymbolFunction, false));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->c, 3);
  EXPECT_EQ(f->a, 3);

  auto calls = checked.Nodes([](const SyntaxNode* n) {
    return n->nodeClass == NodeClass::Expression && n->kind == kExprCall;
  });
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(NodeSymbol(calls[0])->name, "::Add(int,int)");
  EXPECT_EQ(NodeSlot(calls[0]), 1);  // B's second function seen from C
  EXPECT_EQ(NodeCount(calls[0]), 3);
  EXPECT_EQ(calls[0]->type, kTypeInt);
  EXPECT_EQ(NodeSymbol(calls[1])->name, "::Go()");
  EXPECT_EQ(NodeSlot(calls[1]), 2);
  EXPECT_EQ(NodeCount(calls[1]), 1);
  EXPECT_EQ(NodeSlot(calls[2]), 0);  // Run, seen from B

  auto named = [&](const char* text) {
    return checked.Nodes([&](const SyntaxNode* n) {
      return n->nodeClass == NodeClass::Expression && n->kind == kExprIdentifier && std::string(n->text) == text;
    });
  };
  EXPECT_EQ(NodeSlot(named("p")[0]), 1);
  EXPECT_EQ(NodeSlot(named("l1")[0]), 3);
  EXPECT_EQ(NodeSlot(named("l3")[0]), 5);  // l2's slot is not shared
  EXPECT_EQ(NodeSlot(named("c0")[0]), 6);
  EXPECT_EQ(named("other")[0]->className, std::string("B"));

  auto members = checked.Nodes([](const SyntaxNode* n) {
    return n->nodeClass == NodeClass::Expression && n->kind == kExprOperator && n->subKind == kOpMember &&
           NodeSymbol(n) != nullptr;
  });
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(NodeSlot(members[0]), 3);  // b1 seen from B

  auto statements = [&](int32_t kind) {
    return checked.Nodes([=](const SyntaxNode* n) { return n->nodeClass == NodeClass::Statement && n->kind == kind; });
  };
  EXPECT_EQ(NodeCount(statements(kStmtSwitch)[0]), 2);  // default not counted
  EXPECT_EQ(NodeCount(statements(kStmtWait)[0]), 3);
}

TEST(Semantic, ScriptsOfOneLibraryShareTheirClasses) {
  GSSymbolTable library;
  {
    Checked base("class Base { public define int LIMIT = 3 * 4; define string TAG = \"t\"; "
                 "public int Size() { return 1; } };",
                 &library, "base.gs");
    EXPECT_EQ(base.errors, 0);
  }  // its unit and tree are gone; the symbols stay
  Checked user("class User isclass Base { int F() { string t = TAG; return LIMIT + Size(); } };", &library, "user.gs");
  EXPECT_EQ(user.errors, 0);
  auto constants = user.Nodes([](const SyntaxNode* n) {
    return n->nodeClass == NodeClass::Expression && n->kind == kExprConstant;
  });
  ASSERT_EQ(constants.size(), 2u);
  EXPECT_STREQ(constants[0]->text, "t");
  EXPECT_EQ(constants[1]->number, 12);
  Checked again("class Base { };", &library, "again.gs");
  EXPECT_EQ(again.Messages().at(0), "again.gs(1) : Class Base has already been declared, line 1.");
}

} // namespace
