// Byte code of small scripts against the exact bytes (hex), and the failures
// of generation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gscompiler/GSCClass.h"
#include "gscompiler/LibraryWriter.h"
#include "tests/gscompiler/CompileText.h"
#include "tests/gscompiler/GslWalker.h"

namespace GSCompiler {
namespace {

std::string Hex(const uint8_t* data, size_t size) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
    out += byte;
  }
  return out;
}

std::string Messages(const MessageSink& sink) {
  std::string out;
  for (uint32_t i = 0; i < sink.Count(); ++i) out += std::string(sink.At(i)) + "|";
  return out;
}

// A script of class K (members m and n, slots 2 and 3) whose function f has
// the body given; other functions may come before it.
std::string Script(const std::string& body, const std::string& more = "") {
  return "class K {\n int m;\n string n;\n" + more + "\n void f() {\n" + body + "\n }\n};\n";
}

struct Compiled {
  TextCompiler compiler;
  CompileContext context;
  MessageSink sink;
  CompileStage stage = CompileStage::Parse;
  const GSCFunction* Function(const std::string& signature) const {
    for (const auto& cls : context.classes)
      for (const auto& fn : cls->functions)
        if (fn->signature == signature) return fn.get();
    return nullptr;
  }
};

void Compile(Compiled& out, const std::string& script) {
  out.stage = out.compiler.Compile(out.context, {{"k.gs", script}}, &out.sink);
}

struct Golden {
  const char* what;
  const char* body;
  const char* code;
  const char* more = "";  // declarations before f
};

// Locals take slots from 1 (f has no parameters); string ids count from 0 in
// order of first use.
const Golden kGolden[] = {
    {"postfix increment unused", "int i; i++;", "1F 01 00 27 06 21 01 00 25"},
    {"prefix increment unused", "int i; ++i;", "1F 01 00 06 21 01 00"},
    {"prefix decrement used", "int i, j; j = --i;", "1F 01 00 07 22 01 00 21 02 00"},
    {"postfix float used", "float x, y; y = x--;", "1F 01 00 27 1A 21 01 00 21 02 00"},
    {"increment of a member of me", "m++;", "67 02 00 27 06 69 02 00 25"},
    {"string against int", "string s; int i; s < i;", "20 01 00 1F 02 00 4A 55 34 25"},
    {"int against string", "string s; int i; i >= s;", "1F 02 00 4A 20 01 00 55 37 25"},
    {"range with only the upper bound", "string s; s[,3];", "20 01 00 1E 03 00 00 00 1E FF FF FF FF 52 26"},
    {"string variable assigned", "string s, t; s = t;", "20 02 00 4D 23 01 00"},
    {"string constant assigned", "string s; s = \"x\";", "49 00 00 23 01 00"},
    {"concatenation assigned", "string s, t; s = t + 1;", "20 02 00 0B 4A 56 23 01 00"},
    {"new int array", "int[] a; a = new int[5];", "1E 05 00 00 00 38 23 01 00"},
    {"new string array", "string[] a; a = new string[5];", "1E 05 00 00 00 39 23 01 00"},
    {"for without condition", "for (;;) break;", "0B 2C 10 00 00 00 2B 10 00 00 00 2B 00 00 00 00"},
    {"void function without return", "", ""},
    // Store forms, popping and keeping.
    {"local value", "int i, j; i = j = 2;", "1E 02 00 00 00 22 02 00 21 01 00"},
    {"local reference", "string s, t; s = t = \"a\";", "49 00 00 24 02 00 23 01 00"},
    {"member of me value", "int i; i = m = 0;", "0A 6B 02 00 21 01 00"},
    {"member of me reference", "string s; n = \"a\"; s = n = \"b\";",
     "49 00 00 6A 03 00 49 01 00 6C 03 00 23 01 00"},
    {"member of an object value", "K k; int i; k.m = 1; i = k.m = 0;", "20 01 00 0B 63 02 00 20 01 00 0A 64 02 00 21 02 00"},
    {"member of an object reference", "K k; string s; k.n = s; s = k.n = s;",
     "20 01 00 20 02 00 4D 65 03 00 20 01 00 20 02 00 4D 66 03 00 23 02 00"},
    {"element value", "int[] a; int i; a[0] = 1; i = a[1] = 0;", "20 01 00 0A 0B 3D 20 01 00 0B 0A 3E 21 02 00"},
    {"element reference", "string[] a; string s; a[0] = s; s = a[0] = s;",
     "20 01 00 0A 20 02 00 4D 40 20 01 00 0A 20 02 00 4D 41 23 02 00"},
    {"character of a string", "string s; int i; s[0] = 65; i = s[0] = 66;",
     "20 01 00 0A 1E 41 00 00 00 50 20 01 00 0A 1E 42 00 00 00 51 21 02 00"},
    {"range of an array", "int[] a, b; a[0,1] = b; b = a[0,1] = b;",
     "20 01 00 0B 0A 20 02 00 46 20 01 00 0B 0A 20 02 00 47 23 02 00"},
    {"range of a string", "string s, t; s[0,1] = t; t = s[0,1] = t;",
     "20 01 00 0B 0A 20 02 00 4D 53 20 01 00 0B 0A 20 02 00 4D 54 23 02 00"},
    // Conversions.
    {"int to float", "float x; int i; x = i;", "1F 02 00 08 21 01 00"},
    {"bool to float", "float x; bool b; x = b;", "1F 02 00 08 21 01 00"},
    {"float to int", "float x; int i; i = x;", "1F 01 00 1B 21 02 00"},
    {"float to bool", "float x; bool b; b = x;", "1F 01 00 1B 21 02 00"},
    {"int to string", "string s; int i; s = i;", "1F 02 00 4A 23 01 00"},
    {"bool to string", "string s; bool b; s = b;", "1F 02 00 4B 23 01 00"},
    {"float to string", "string s; float x; s = x;", "1F 02 00 4C 23 01 00"},
    {"object to a class", "object o; K k; k = cast<K> o;", "20 01 00 5A 00 00 23 02 00"},
    // Temporaries and control flow.
    {"postfix on a member, value used", "K k; int i; i = k.m++;",
     "20 01 00 28 61 02 00 22 03 00 06 63 02 00 1F 03 00 21 02 00"},
    {"postfix on an element, value unused", "int[] a; a[1]++;", "20 01 00 0B 29 3C 06 3D"},
    {"while with continue", "int i; while (i) { i = 0; continue; }",
     "1F 01 00 2C 16 00 00 00 0A 21 01 00 2B 00 00 00 00 2B 00 00 00 00"},
    {"if and else", "int i; if (i < 2) i = 1; else i = 0;",
     "1F 01 00 1E 02 00 00 00 09 34 2C 18 00 00 00 0B 21 01 00 2B 1C 00 00 00 0A 21 01 00"},
    {"and keeps the deciding value", "bool b; string s; b = b and s;",
     "1F 01 00 2E 0D 00 00 00 25 20 02 00 5D 21 01 00"},
    {"descending cases, ascending table", "int i; switch (i) { case 2: i = 0; case 1: break; default: i = 1; }",
     "1F 01 00 71 02 00 01 00 00 00 02 00 00 00 1E 00 00 00 1A 00 00 00 23 00 00 00 0A 21 01 00 2B 27 00 00 00 "
     "0B 21 01 00"},
    {"return without a value", "return;", "6D"},
    // Calls: me, the arguments, 1 - c and the virtual slot.
    {"call returning a value, unused", "g(1);", "20 00 00 0B 5E FF FF 00 00 25", "int g(int a) { return a; }"},
    {"native call", "h(\"a\");", "20 00 00 49 00 00 5F FF FF 01 00", "void t() { } native void h(string s);"},
    {"thread call", "t();", "20 00 00 60 00 00 00 00", "thread void t() { }"},
    // Handlers: the message dropped, or cast to the class and stored.
    {"wait with two handlers", "int i; K k; wait() { on \"a\", \"b\": i = 1; on \"c\", \"d\", k: break; }",
     "70 02 00 00 00 01 00 02 00 03 00 13 00 00 00 1D 00 00 00 26 0B 21 01 00 2B 28 00 00 00 5A 00 00 23 02 00 2B 28 00 "
     "00 00"},
    {"on outside a wait", "int i; on \"a\", \"b\": i = 1;", "70 01 00 00 00 01 00 0B 00 00 00 26 0B 21 01 00"},
};

TEST(CodeGenTest, GoldenByteCode) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(g.what);
    Compiled c;
    Compile(c, Script(g.body, g.more));
    ASSERT_EQ(c.stage, CompileStage::Done) << Messages(c.sink);
    const GSCFunction* f = c.Function("::f()");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Hex(f->code.Data(), f->code.Length()), g.code);
    EXPECT_EQ(f->depth, 0);
    CodeBuffer out(CodeBuffer::kLibraryStep);
    ASSERT_TRUE(WriteLibrary(out, c.context, &c.sink, "k.gs"));
    EXPECT_NO_THROW(GslWalker::Walk(out.Data(), out.Length()));
  }
}

TEST(CodeGenTest, ClassInitialiser) {
  Compiled c;
  Compile(c, "class K {\n int a = 5;\n define int D = 3;\n string s = \"x\";\n float f = a;\n K o;\n};\n");
  ASSERT_EQ(c.stage, CompileStage::Done) << Messages(c.sink);
  const GSCClass& k = *c.context.classes.at(0);
  const int32_t a = k.members.at(0).slot, s = k.members.at(1).slot, f = k.members.at(2).slot, o = k.members.at(3).slot;
  ASSERT_EQ(k.members.size(), 4u);  // the define member is left out
  EXPECT_EQ(k.members[1].name, "s");
  // Values in declaration order, converted, stored into me's members; 109 ends it.
  char expected[128];
  std::snprintf(expected, sizeof expected, "1E 05 00 00 00 69 %02X 00 49 00 00 6A %02X 00 67 %02X 00 08 69 %02X 00 6D", a, s, a, f);
  EXPECT_EQ(Hex(k.initialiser.code.Data(), k.initialiser.code.Length()), expected);
  EXPECT_EQ(k.referenceMemberSlots, (std::vector<int32_t>{s, o}));
  EXPECT_EQ(k.initialiser.maxDepth, 1);

  CodeBuffer out(CodeBuffer::kLibraryStep);
  ASSERT_TRUE(WriteLibrary(out, c.context, &c.sink, "k.gs"));
  const GslWalker::Library lib = GslWalker::Walk(out.Data(), out.Length());
  const GslWalker::FunctionRecord& init = lib.bodies.at(0).functions.back();
  EXPECT_EQ(std::vector<int32_t>(init.words, init.words + 8), (std::vector<int32_t>{4, 0, 1, 5, 1, 0, 0, 0}));
  const std::vector<int32_t>& layout = lib.bodies[0].layout;
  EXPECT_EQ(std::vector<int32_t>(layout.end() - 3, layout.end()), (std::vector<int32_t>{2, s, o}));
}

TEST(CodeGenTest, MessageIntoAMemberGoesThroughATemporary) {
  Compiled c;
  Compile(c, "class K {\n K o;\n void f() {\n K k; wait() { on \"a\", \"b\", k.o: break; }\n }\n};\n");
  ASSERT_EQ(c.stage, CompileStage::Done) << Messages(c.sink);
  const GSCFunction* f = c.Function("::f()");
  // The temporary is slot c + a = 2; the object's member o is slot 2.
  EXPECT_EQ(Hex(f->code.Data(), f->code.Length()),
            "70 01 00 00 00 01 00 0B 00 00 00 21 02 00 20 01 00 1F 02 00 5A 00 00 65 02 00 2B 1F 00 00 00");
  EXPECT_EQ(f->b, 0);
  EXPECT_EQ(f->maxDepth, 2);
}

TEST(CodeGenTest, InheritedCallAndOverride) {
  Compiled c;
  Compile(c,
          "class B {\n int f(int a) { return a; }\n};\n"
          "class K isclass B {\n int f(int a) { return inherited(a) + 1; }\n};\n");
  ASSERT_EQ(c.stage, CompileStage::Done) << Messages(c.sink);
  const GSCFunction* f = c.Function("::f(int)");
  ASSERT_EQ(c.context.classes.size(), 2u);
  f = c.context.classes[1]->functions.at(0).get();
  EXPECT_EQ(Hex(f->code.Data(), f->code.Length()), "20 00 00 1F 01 00 72 FF FF 0B 00 6E");
  EXPECT_EQ(f->maxDepth, 2);
}

// Scripts that pass the checks but whose code cannot be generated.
TEST(CodeGenTest, GenerationFailures) {
  struct Case {
    const char* what;
    const char* script;
    const char* messages;
  };
  const Case cases[] = {
      {"goto into another function", "class K {\n void f() {\n goto x;\n }\n void g() {\n x: ;\n }\n};\n",
       "k.gs(3) : no matching label, line 3|"},
      // Later cases go before equal earlier ones, so the first is reported.
      {"duplicate case",
       "class K {\n void f() {\n int i;\n switch (i) {\n case 1: break;\n case 1: break;\n default: break;\n }\n "
       "}\n};\n",
       "k.gs(5) : case has duplicate value, line 5|"},
      {"label placed twice", "class K {\n void f() {\n x: ;\n x: ;\n }\n};\n", ""},
      {"prototype never implemented", "class K {\n void g();\n};\n", "Function ::g() not implemented|"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Compiled c;
    Compile(c, k.script);
    EXPECT_EQ(c.stage, CompileStage::Generate) << Messages(c.sink);
    EXPECT_EQ(Messages(c.sink), k.messages);
  }
}

// Operands are 16 bits wide; an id beyond them fails instead of wrapping.
TEST(CodeGenTest, StringIdBeyondSixteenBitsFails) {
  std::string body = "string s;\n";
  for (int i = 0; i <= 32768; ++i) body += "s = \"" + std::to_string(i) + "\";\n";
  Compiled c;
  Compile(c, Script(body));
  EXPECT_EQ(c.stage, CompileStage::Generate) << Messages(c.sink);

  body = "string s;\n";
  for (int i = 0; i < 32768; ++i) body += "s = \"" + std::to_string(i) + "\";\n";
  Compiled fits;
  Compile(fits, Script(body));
  EXPECT_EQ(fits.stage, CompileStage::Done) << Messages(fits.sink);
}

} // namespace
} // namespace GSCompiler
