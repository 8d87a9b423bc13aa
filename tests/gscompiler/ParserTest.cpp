#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>
#include <vector>

#include "gscompiler/Parser.h"

namespace {

using namespace GSCompiler;

struct Parsed {
  CompileUnit unit;
  MessageSink sink;
  int result = -1;

  explicit Parsed(const std::string& text, const char* name = "x.gs") {
    unit.name = name;
    unit.sink = &sink;
    result = ParseText(unit, text.data(), text.size());
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < sink.Count(); ++i) texts.emplace_back(sink.At(i));
    return texts;
  }
};

std::string Dump(const SyntaxNode* node);

// A chain of more than one node is shown in brackets.
std::string DumpChain(const SyntaxNode* node) {
  if (node == nullptr) return "_";
  if (node->next == nullptr) return Dump(node);
  std::string out = "[";
  for (; node != nullptr; node = node->next) out += Dump(node) + (node->next != nullptr ? " " : "]");
  return out;
}

std::string Children(const SyntaxNode* node) {
  int last = 3;
  while (last >= 0 && node->child[last] == nullptr) --last;
  std::string out;
  for (int i = 0; i <= last; ++i) out += " " + DumpChain(node->child[i]);
  return out;
}

std::string TypeName(const SyntaxNode* type) {
  static const char* const names[] = {"void", "bool", "int", "float", "string", "object"};
  const int code = type->subKind;
  const int element = code >= kArrayOffset ? code - kArrayOffset : code;
  std::string out = element == kTypeObject && type->child[0] != nullptr ? type->child[0]->text
                    : element >= 0 && element <= 5                      ? names[element]
                                                                        : "?";
  return code >= kArrayOffset ? out + "[]" : out;
}

std::string Dump(const SyntaxNode* node) {
  static const char* const ops[] = {"post--", "post++", ".",  "+",  "-",  "!",  "~",   "--",     "++",    "[,]",
                                    "[]",     "cast",   "*",  "/",  "%",  "+",  "-",   "<<",     ">>",    "<",
                                    ">",      "<=",     ">=", "==", "!=", "&",  "^",   "|",      "and",   "or",
                                    "=",      "size",   "isclass", "copy", "new"};
  static const char* const decls[] = {"func", "proto", "include", "class", "var", "decl", "type", "param", "name"};
  static const char* const stmts[] = {"return", "break", "continue", "goto", "for", "while", "switch",
                                      "if",     "default", "case",   "label", "{}", "wait", "on"};
  if (node == nullptr) return "_";
  switch (node->nodeClass) {
    case NodeClass::Declaration:
      if (node->kind == kDeclName) return node->text;
      if (node->kind == kDeclType) return TypeName(node);
      return "(" + std::string(decls[node->kind]) + Children(node) + ")";
    case NodeClass::Statement:
      return "(" + std::string(stmts[node->kind]) + Children(node) + ")";
    case NodeClass::Expression:
      switch (node->kind) {
        case kExprIdentifier: return node->text;
        case kExprMemberName: return std::string(".") + node->text;
        case kExprMe: return "me";
        case kExprNull: return "null";
        case kExprCall: return "(call" + Children(node) + ")";
        case kExprOperator: return "(" + std::string(ops[node->subKind]) + Children(node) + ")";
        case kExprConstant:
          switch (node->subKind) {
            case kConstBool: return node->number ? "true" : "false";
            case kConstInt: return std::to_string(node->number);
            case kConstFloat: {
              char text[32];
              std::snprintf(text, sizeof text, "%gf", std::bit_cast<float>(node->number));
              return text;
            }
            case kConstString: return "\"" + std::string(node->text) + "\"";
          }
      }
  }
  return "?";
}

std::string InFunction(const std::string& body) { return "class A { void f() {\n" + body + "\n} };"; }

// The statements of f's body.
const SyntaxNode* Body(const Parsed& parsed) {
  const SyntaxNode* function = parsed.unit.tree->child[2];
  return function->child[3]->child[0];
}

TEST(ParserTest, AcceptsAndRefusesScripts) {
  const struct {
    const char* script;
    int result;
  } cases[] = {
      {"class A {};", 0},
      {"class A isclass B, C { };", 0},
      {"public final class A isclass B { int x; };", 0},
      {"include \"a.gs\" class A {};", 0},
      {"define int X = 1;", 1},  // no class
      {"", 1},
      {"include \"a.gs\"", 1},
      {"class A {}", 1},
      {"class A { define int X = 1; define string S = \"s\"; };", 0},
      {"class A { native void f(void); int g(int a, object[] b); };", 0},
      {"class A { void f() { a.size(); } };", 0},
      {"class A { void f() { a.size; } };", 1},  // size is a keyword
      {"class A { void f() { a.isclass(B); b = a.copy(c); x = s[1,]; x = s[,2]; x = s[1,2]; } };", 0},
      {"class A { void f() { x = (int)y; x = (float[])y; x = cast<B>y; x = cast<B[]>y; } };", 0},
      {"class A { void f() { a = new int[5]; b = new B(); c = new B(1, 2); d = new string[n]; } };", 0},
      {"class A { void f() { on \"a\", \"b\" : ; on \"a\", \"b\", m : wait() { } } };", 0},
      {"class A { void f() { switch (x) { case 1: break; default: return; } } };", 0},
      {"class A { void f() { l: goto l; while (1) continue; for (;;) {} } };", 0},
      {"class A { void f() { x = a && b; } };", 1},
      {"class A { void f() { x = a and b or not c; } };", 1},
      {"class A { void f() { x = 'ab' + '\\n' + 0x1f + 1.5f + .5 + true + false + null + me; } };", 0},
      {"class A { void f() { x = ''; } };", 1},
      {"class A { void f() { x = @; } };", 1},
      {"class A { void f() { if (a) if (b) c(); else d(); } };", 0},
      {"class A { int[] f() { return; } };", 0},
      {"class A { void f() { int a, b = 2; B[] c; } };", 0},
      {"class A { void f() { x = a +; } };", 1},
      {"class A { void f() { return 1 } };", 1},
      {"class A { void f() { int x = 1 + 2; } };", 0},
      {"class A { int x = a; };", 0},
      {"class A { int x = a = 1; };", 1},  // an initial value is no assignment
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    Parsed parsed(c.script);
    EXPECT_EQ(parsed.result, c.result);
    EXPECT_EQ(parsed.unit.errors, c.result == 0 ? 0 : 1);
    EXPECT_EQ(parsed.sink.Count(), c.result == 0 ? 0u : 1u);
    EXPECT_EQ(parsed.unit.tree != nullptr, c.result == 0);
  }
}

TEST(ParserTest, StatementShapes) {
  const struct {
    const char* body;
    const char* tree;
  } cases[] = {
      {"a = b = c;", "(= a (= b c))"},
      {"x = a - b - c;", "(= x (- (- a b) c))"},
      {"x = a + b * c << 1 < d == e & f ^ g | h and i or j;",
       "(= x (or (and (| (^ (& (== (< (<< (+ a (* b c)) 1) d) e) f) g) h) i) j))"},
      {"x = -a++ + --b + !c.d + ~e[1];", "(= x (+ (+ (+ (- (post++ a)) (-- b)) (! (. c .d))) (~ ([] e 1))))"},
      {"x = s[1,] + s[,2] + s[1,2];", "(= x (+ (+ ([,] s 1) ([,] s _ 2)) ([,] s 1 2)))"},
      {"f(); g(1, 2); a.b(c);", "[(call f) (call g [1 2]) (call (. a .b) c)]"},
      {"x = a.size() + a.isclass(B) + a.copy(b);", "(= x (+ (+ (size a) (isclass a B)) (copy a b)))"},
      {"x = (int)y + (float[])z + cast<B>w + cast<int[]>v;",
       "(= x (+ (+ (+ (cast y int) (cast z float[])) (cast w B)) (cast v int[])))"},
      {"x = new int[5]; y = new B(); z = new B(1, 2); w = new B[n];",
       "[(= x (new int[] 5)) (= y (new B)) (= z (new B [1 2])) (= w (new B[] n))]"},
      {"x = 0x10 + 'a' + 1.5 + \"s\\n\" + true + false + null + me;",
       "(= x (+ (+ (+ (+ (+ (+ (+ 16 97) 1.5f) \"s\n\") true) false) null) me))"},
      {"if (a) if (b) c = 1; else c = 2;", "(if a (if b (= c 1) (= c 2)))"},
      {"while (a) ; for (;;) ; for (i = 0; i < 3; i++) x();",
       "[(while a) (for) (for (= i 0) (< i 3) (call x) (post++ i))]"},
      {"switch (x) { case 1: break; default: return 2; }", "(switch x ({} [(case 1) (break) (default) (return 2)]))"},
      {"l: m: goto l; continue;", "[(label l) (label m) (goto l) (continue)]"},
      {"on \"a\", \"b\" : x(); on \"c\", \"d\", m : wait() { }",
       "[(on \"a\" \"b\") (call x) (on \"c\" \"d\" m) (wait ({}))]"},
      {"int a, b = 2; B[] c; string[] d;", "[(var int [(decl a) (decl b 2)]) (var B[] (decl c)) (var string[] (decl d))]"},
      {"; ; x = 1; ; { ; }", "[(= x 1) ({})]"},
      {"x = (a, b);", "(= x [a b])"},
      {"x = 4294967295 + 0xFFFFFFFF + 2147483647 + 0x7fffffff + 07;",
       "(= x (+ (+ (+ (+ 2147483647 2147483647) 2147483647) 2147483647) 7))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    Parsed parsed(InFunction(c.body));
    ASSERT_EQ(parsed.result, 0);
    EXPECT_EQ(DumpChain(Body(parsed)), c.tree);
  }
}

TEST(ParserTest, ValuesThatAreNotUsedAreMarked) {
  Parsed parsed(InFunction("a, b; for (i = 0, j = 0; i < 1, j; i++, j++) c = d;"));
  ASSERT_EQ(parsed.result, 0);
  const SyntaxNode* a = Body(parsed);
  const SyntaxNode* b = a->next;
  EXPECT_EQ(a->flags, kMarkUnusedValue);
  EXPECT_EQ(b->flags, kMarkUnusedValue);
  const SyntaxNode* loop = b->next;
  ASSERT_EQ(loop->kind, kStmtFor);
  for (const SyntaxNode* init = loop->child[0]; init != nullptr; init = init->next)
    EXPECT_EQ(init->flags, kMarkUnusedValue);
  for (const SyntaxNode* condition = loop->child[1]; condition != nullptr; condition = condition->next)
    EXPECT_EQ(condition->flags, 0u) << Dump(condition);
  int steps = 0;
  for (const SyntaxNode* step = loop->child[3]; step != nullptr; step = step->next, ++steps)
    EXPECT_EQ(step->flags, kMarkUnusedValue);
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(loop->child[2]->flags, kMarkUnusedValue);  // the body is an expression statement
  EXPECT_EQ(loop->child[2]->child[0]->flags, 0u);      // its operands are used
}

TEST(ParserTest, RootChainsIncludesThenClasses) {
  Parsed parsed("include \"Lib.GS\" include \"other.gs\"\nclass A {}; class B {};");
  ASSERT_EQ(parsed.result, 0);
  EXPECT_EQ(DumpChain(parsed.unit.tree), "[(include lib.gs) (include other.gs) (class A) (class B)]");
  Parsed classesOnly("class A {}; class B isclass C, D {};");
  ASSERT_EQ(classesOnly.result, 0);
  EXPECT_EQ(DumpChain(classesOnly.unit.tree), "[(class A) (class B [C D])]");
}

TEST(ParserTest, SpecifiersAreOredIntoTheDeclarationAndMembersAreMarked) {
  Parsed parsed(
      "public final class A {\n"
      "  public static native int f();\n"
      "  define int X = 1;\n"
      "  game thread void g() { int local; }\n"
      "  float y;\n"
      "};");
  ASSERT_EQ(parsed.result, 0);
  const SyntaxNode* klass = parsed.unit.tree;
  EXPECT_EQ(klass->flags, kSpecPublic | kSpecFinal);
  const SyntaxNode* f = klass->child[2];
  const SyntaxNode* x = f->next;
  const SyntaxNode* g = x->next;
  const SyntaxNode* y = g->next;
  EXPECT_EQ(f->kind, kDeclPrototype);
  EXPECT_EQ(f->flags, kSpecPublic | kSpecStatic | kSpecNative);
  EXPECT_EQ(x->flags, kSpecDefine | kMarkMember);
  EXPECT_EQ(g->flags, kSpecGame | kSpecThread);
  EXPECT_EQ(g->child[3]->flags, kMarkFunctionBody);
  EXPECT_EQ(g->child[3]->child[0]->flags, 0u);  // a local list is no member
  EXPECT_EQ(y->flags, kMarkMember);
  EXPECT_EQ(Dump(g), "(func void g _ ({} (var int (decl local))))");
}

TEST(ParserTest, ArrayMarksAddSixToTheTypeCode) {
  Parsed parsed("class A { void[] a; bool[] b; int[] c; float [\n] d; string[] e; object[] f; B[] g; B h; };");
  ASSERT_EQ(parsed.result, 0);
  const int expected[] = {kTypeVoidArray, kTypeBoolArray,  kTypeIntArray, kTypeFloatArray,
                          kTypeStringArray, kTypeObjectArray, kTypeObjectArray, kTypeObject};
  const SyntaxNode* list = parsed.unit.tree->child[2];
  for (int code : expected) {
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->child[0]->subKind, code) << Dump(list);
    list = list->next;
  }
  EXPECT_EQ(list, nullptr);
}

TEST(ParserTest, NodesRecordTheirLineAndAnEmptyType) {
  Parsed parsed("class A {\n void f()\n {\n  x =\n 1;\n }\n};");
  ASSERT_EQ(parsed.result, 0);
  const SyntaxNode* assign = Body(parsed);
  EXPECT_EQ(assign->line, 5);
  EXPECT_EQ(assign->child[0]->line, 4);
  EXPECT_EQ(assign->type, kTypeNone);
  EXPECT_EQ(assign->parent, nullptr);
}

TEST(ParserTest, SyntaxErrorsAreReportedOnceWithTheirLine) {
  const struct {
    std::string script;
    std::string message;
  } cases[] = {
      {"class A {\n void f() {\n  x = 1;\n  y = ;\n }\n};", "x.gs(4) : parse error, line 4"},
      {"class A {}", "x.gs(1) : parse error, line 1"},
      {"class A { void f() { x = \"a\nb\nc\" +; } };", "x.gs(3) : parse error, line 3"},
      {"class A { void f() { a; b; c @ d; e @ f; } };", "x.gs(1) : parse error, line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    Parsed parsed(c.script);
    EXPECT_EQ(parsed.result, 1);
    EXPECT_EQ(parsed.unit.errors, 1);
    EXPECT_EQ(parsed.Messages(), std::vector<std::string>{c.message});
  }
}

TEST(ParserTest, WithoutAScannerTheMessageIsBare) {
  CompileUnit unit;
  MessageSink sink;
  unit.name = "x.gs";
  unit.sink = &sink;
  EXPECT_EQ(Parse(), 1);  // no unit to build into either
  EXPECT_EQ(sink.Count(), 0u);
  gCurrentUnit = &unit;
  EXPECT_EQ(Parse(), 1);
  gCurrentUnit = nullptr;
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_STREQ(sink.At(0), "x.gs(0) : parse error");
}

// Each open parenthesis holds one more parser state; the statement around the
// nesting holds the others.
std::string Nested(int depth) { return InFunction("x = " + std::string(depth, '(') + "1" + std::string(depth, ')') + ";"); }

TEST(ParserTest, TheParserStackGrowsTo10000StatesAndNoFurther) {
  constexpr int kDeepest = 9986;  // 14 states for the script around it
  Parsed deep(Nested(kDeepest));
  ASSERT_EQ(deep.result, 0);
  EXPECT_TRUE(deep.Messages().empty());
  EXPECT_EQ(DumpChain(Body(deep)), "(= x 1)");

  Parsed tooDeep(Nested(kDeepest + 1));
  EXPECT_EQ(tooDeep.result, 2);
  EXPECT_EQ(tooDeep.unit.errors, 1);
  EXPECT_EQ(tooDeep.Messages(), std::vector<std::string>{"x.gs(2) : parser stack overflow, line 2"});
}

TEST(ParserTest, NamesLongerThanAFrameAreASyntaxErrorOfTheirLine) {
  const std::string longest(2047, 'n');
  const std::string tooLong(2048, 'n');
  const struct {
    std::string script;
    int result;
  } cases[] = {
      {"class " + longest + " {};", 0},
      {"class\n" + tooLong + " {};", 1},
      {"class A { int " + tooLong + "; };", 1},
      {"class A { void f() { x = a." + tooLong + "; } };", 1},
      {"class A isclass " + tooLong + " {};", 1},
      {"class A { void f() { x = \"" + tooLong + "\"; } };", 0},  // strings are cut to fit
      {"include \"" + tooLong + "\" class A {};", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 30));
    Parsed parsed(c.script);
    EXPECT_EQ(parsed.result, c.result);
    if (c.result == 0) {
      EXPECT_TRUE(parsed.Messages().empty());
      continue;
    }
    const int line = c.script.find('\n') != std::string::npos ? 2 : 1;
    EXPECT_EQ(parsed.unit.errors, 1);
    EXPECT_EQ(parsed.Messages(), std::vector<std::string>{"x.gs(" + std::to_string(line) + ") : parse error, line " +
                                                          std::to_string(line)});
    EXPECT_EQ(parsed.unit.tree, nullptr);
  }
}

} // namespace

