// The library file's records, byte by byte where the layout is fixed, and
// every written library through the test-side walker.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "gscompiler/CodeGen.h"
#include "gscompiler/GSCClass.h"
#include "gscompiler/Semantic.h"
#include "gscompiler/LibraryWriter.h"
#include "tests/gscompiler/GslWalker.h"

namespace GSCompiler {
namespace {

std::vector<uint8_t> Bytes(const CodeBuffer& buffer) { return {buffer.Data(), buffer.Data() + buffer.Length()}; }

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

struct Written {
  bool ok;
  std::vector<uint8_t> bytes;
  GslWalker::Library lib;
};

Written Write(CompileContext& context, const char* path = "lib.gs", MessageSink* sink = nullptr) {
  CodeBuffer out(CodeBuffer::kLibraryStep);
  Written w;
  w.ok = WriteLibrary(out, context, sink, path);
  if (w.ok) {
    w.bytes = Bytes(out);
    w.lib = GslWalker::Walk(w.bytes);
  }
  return w;
}

// A context whose root script is slot 0 with no classes.
void Root(CompileContext& context, uint32_t textCrc = 0x11223344, uint32_t nameCrc = 0xAABBCCDD) {
  context.root.textCrc = textCrc;
  context.root.nameCrc = nameCrc;
  context.dependencies.push_back({textCrc, nameCrc});
}

GSCClass& AddClass(CompileContext& context, const std::string& name) {
  context.classes.push_back(std::make_unique<GSCClass>());
  GSCClass& cls = *context.classes.back();
  cls.name = name;
  cls.classIndex = static_cast<int32_t>(context.knownClasses.size());
  context.knownClasses.push_back({name, 0});
  return cls;
}

GSCFunction& AddFunction(CompileContext& context, GSCClass& cls, const std::string& signature) {
  cls.functions.push_back(std::make_unique<GSCFunction>());
  GSCFunction& fn = *cls.functions.back();
  fn.signature = signature;
  fn.functionIndex = static_cast<int32_t>(context.functions.size());
  fn.virtualSlot = cls.firstFunctionSlot + static_cast<int32_t>(cls.functions.size()) - 1;
  context.functions.push_back({cls.classIndex, signature, fn.virtualSlot});
  return fn;
}

TEST(StringTableTest, IdsInFirstUseOrderTextsInBucketOrder) {
  EXPECT_EQ(StringTable::Hash(""), 0u);
  EXPECT_EQ(StringTable::Hash("ab"), 97u * 3 + 98);
  // Characters above 127 count as negative bytes.
  EXPECT_EQ(StringTable::Hash("\xE9"), static_cast<uint32_t>(-23));

  StringTable table;
  // "b" hashes to 98 % 61 = 37, "a" to 36, "|" (124) to 2 and "A" (65) to 4;
  // "a" and "\xEB" share bucket 36: -21 as unsigned is 4294967275 = 36 mod 61.
  for (const char* text : {"b", "a", "|", "\xEB", "A"}) table.Intern(text);
  EXPECT_EQ(table.Intern("a"), 1u);
  EXPECT_EQ(table.Intern("A"), 4u);
  EXPECT_EQ(table.Count(), 5u);
  EXPECT_EQ(table.StoredOrder(), (std::vector<uint32_t>{2, 4, 1, 3, 0}));
}

TEST(StringTableTest, ManyTextsKeepTheirIdsAndBucketOrder) {
  StringTable table;
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i) texts.push_back("name" + std::to_string(i * 7919 % 5000));
  for (std::size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(table.Intern(texts[i].c_str()), i);
  for (std::size_t i = 0; i < texts.size(); i += 13) EXPECT_EQ(table.Intern(texts[i].c_str()), i);
  EXPECT_EQ(table.Count(), texts.size());
  std::vector<uint32_t> order;
  for (unsigned bucket = 0; bucket < StringTable::kBuckets; ++bucket)
    for (uint32_t id = 0; id < texts.size(); ++id)
      if (StringTable::Hash(texts[id].c_str()) % StringTable::kBuckets == bucket) order.push_back(id);
  EXPECT_EQ(table.StoredOrder(), order);
  for (uint32_t id = 0; id < texts.size(); id += 97) EXPECT_EQ(table.Text(id), texts[id]);
  table.Clear();
  EXPECT_EQ(table.Intern(texts[42].c_str()), 0u);
}

TEST(LibraryWriterTest, HeaderDependenciesAndUnpaddedPath) {
  CompileContext context;
  Root(context);
  const Written w = Write(context, "dir/x.gs");
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(WordAt(w.bytes, 0), w.bytes.size());
  const std::vector<uint8_t> head(w.bytes.begin() + 4, w.bytes.begin() + 12);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x5D, 0x57, 0x62, 0xF7, 0x5C, 0x8F, 0x82, 0x3F}));
  EXPECT_EQ(w.lib.textCrc, 0x11223344u);
  EXPECT_EQ(w.lib.nameCrc, 0xAABBCCDDu);
  // A library without includes names only itself.
  ASSERT_EQ(w.lib.dependencies.size(), 1u);
  EXPECT_EQ(w.lib.dependencies[0], std::make_pair(0x11223344u, 0xAABBCCDDu));
  // The path of 8 characters is followed at once by the dependency record.
  EXPECT_EQ(WordAt(w.bytes, 20), 9u);
  EXPECT_EQ(w.lib.path, "dir/x.gs");
  EXPECT_EQ(WordAt(w.bytes, 24 + 9), 20u);
  EXPECT_EQ(WordAt(w.bytes, 24 + 9 + 4), 2u);
}

TEST(LibraryWriterTest, StringTableOfThreeLettersTakesFourBytes) {
  CompileContext context;
  Root(context);
  context.knownClasses.push_back({"abc", 0});
  const Written w = Write(context, "abcd.gs");  // the table starts 4-aligned
  ASSERT_TRUE(w.ok);
  ASSERT_EQ(w.lib.strings, std::vector<std::string>{"abc"});
  EXPECT_EQ(w.lib.stringDataLength, 4u);
  const size_t table = 24 + 8 + 20;
  EXPECT_EQ(WordAt(w.bytes, table), 4u + 4 + 4 + 4 + 4);
}

TEST(LibraryWriterTest, StringDataIsPaddedToTheFilePosition) {
  CompileContext context;
  Root(context);
  context.knownClasses.push_back({"abcde", 0});
  // Paths of every length move the table against the 4-byte grid.
  for (const char* path : {"a", "ab", "abc", "abcd"}) {
    SCOPED_TRACE(path);
    const Written w = Write(context, path);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.lib.strings[0], "abcde");
  }
}

TEST(LibraryWriterTest, FunctionRecordWords) {
  CompileContext context;
  Root(context);
  GSCClass& cls = AddClass(context, "K");
  GSCFunction& fn = AddFunction(context, cls, "f(int,int)");
  fn.c = 3;
  fn.a = 1;
  fn.referenceSlots = {3};
  fn.flags = 0xFF;
  fn.TrackLines(true);
  fn.SetLine(7);
  fn.EmitShort(kBcLoad, 1);
  fn.EmitShort(kBcLoad, 2);
  fn.SetLine(8);
  fn.Emit(kBcIntAdd);
  fn.Emit(kBcDrop);
  const Written w = Write(context);
  ASSERT_TRUE(w.ok);
  ASSERT_EQ(w.lib.bodies.size(), 1u);
  const GslWalker::ClassBody& body = w.lib.bodies[0];
  ASSERT_EQ(body.functions.size(), 2u);
  const GslWalker::FunctionRecord& rec = body.functions[0];
  EXPECT_EQ(rec.name, "f(int,int)");
  EXPECT_EQ(rec.flags, 0x3Bu);
  EXPECT_EQ(rec.slot, 0);
  const int32_t e = 2;
  EXPECT_EQ(std::vector<int32_t>(rec.words, rec.words + 8), (std::vector<int32_t>{5, -2, 2, e + 5, 3, 1, 0, 1}));
  EXPECT_EQ(rec.referenceSlots, std::vector<int32_t>{3});
  EXPECT_EQ(rec.code, (std::vector<uint8_t>{31, 1, 0, 31, 2, 0, 0, 37}));
  EXPECT_EQ(rec.lines, (std::vector<std::pair<uint32_t, int32_t>>{{0, 7}, {6, 8}}));
  // The empty initialiser: ::K(), void, constructor, m = 0, n = 0.
  const GslWalker::FunctionRecord& init = body.functions[1];
  EXPECT_EQ(init.name, "::K()");
  EXPECT_EQ(init.returnClass, -1);
  EXPECT_EQ(init.flags, 0x20u);
  EXPECT_EQ(init.slot, -1);
  EXPECT_EQ(std::vector<int32_t>(init.words, init.words + 8), (std::vector<int32_t>{4, 0, 1, 4, 1, 0, 0, 0}));
  EXPECT_TRUE(init.code.empty());
}

TEST(LibraryWriterTest, ThreeLevelLayout) {
  // A (three members), B extends A (two), C extends B (one); the root script
  // declares C.
  CompileContext context;
  GSDependentSymbol* script = context.symbols.EnterDependent("abc", 1, 2, 0);
  ASSERT_NE(script, nullptr);
  context.root.textCrc = 1;
  context.root.nameCrc = 2;
  GSClassSymbol* previous = nullptr;
  for (auto [name, members] : {std::pair{"A", 3}, std::pair{"B", 2}, std::pair{"C", 1}}) {
    auto* cls = new GSClassSymbol(name);
    ASSERT_TRUE(context.symbols.Enter(cls));
    cls->script = script;
    if (previous != nullptr) cls->bases = {previous};
    for (int i = 0; i < members; ++i) {
      const std::string member = std::string(name) + std::to_string(i);
      ASSERT_TRUE(cls->EnterVariable(new GSVariableSymbol(member.c_str(), kTypeInt, nullptr, Storage::Member)));
    }
    previous = cls;
  }
  SyntaxNode declaration{};
  declaration.nodeClass = NodeClass::Declaration;
  declaration.kind = kDeclClass;
  declaration.annotation[kAnnotationSymbol] = reinterpret_cast<intptr_t>(previous);
  context.root.tree = &declaration;
  ASSERT_TRUE(GenerateLibraryCode(context));
  EXPECT_EQ(context.classes.at(0)->firstMemberSlot, 11);

  const Written w = Write(context);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.lib.classes, (std::vector<std::pair<int32_t, std::string>>{{0, "A"}, {0, "B"}, {0, "C"}}));
  const GslWalker::ClassBody& body = w.lib.bodies.at(0);
  EXPECT_EQ(body.bases, (std::vector<std::vector<int32_t>>{{1, 2, 1}, {0, 4, 0}}));
  const std::vector<int32_t> head(body.layout.begin(), body.layout.begin() + 17);
  EXPECT_EQ(head, (std::vector<int32_t>{15, 5, 0, 2, -2, 1, 3, 0, 0, 4, -4, 1, 5, 0, 1, 1, 0}));
  EXPECT_EQ(body.members.at(0)[4], 11);
}

TEST(LibraryWriterTest, MembersOverridesAndReferenceSlots) {
  CompileContext context;
  Root(context);
  GSCClass& cls = AddClass(context, "K");
  cls.flags = 0xFF;
  cls.memberCount = 2;
  cls.members = {{"count", 2, -1, true, 2}, {"other", 5, 0, false, 3}};
  cls.referenceMemberSlots = {3};
  cls.baseFunctions = {{"g()", 0, -1, 4}, {"f()", 2, -1, 1}};
  AddFunction(context, cls, "f()").returnType = 2;
  AddFunction(context, cls, "h()");
  const Written w = Write(context);
  ASSERT_TRUE(w.ok);
  const GslWalker::ClassBody& body = w.lib.bodies.at(0);
  EXPECT_EQ(body.flags, 0x4Cu);
  ASSERT_EQ(body.members.size(), 2u);
  EXPECT_EQ(w.lib.strings.at(body.members[1][0]), "other");
  EXPECT_EQ(std::vector<int32_t>(body.members[1].begin() + 1, body.members[1].end()), (std::vector<int32_t>{5, 0, 0, 3}));
  EXPECT_EQ(body.overrides, (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
  EXPECT_EQ(body.layout.back(), 3);
  EXPECT_EQ(w.lib.functions.size(), 2u);
  EXPECT_EQ(w.lib.functions[1].name, "h()");
  EXPECT_EQ(w.lib.functions[1].slot, 1);
}

TEST(LibraryWriterTest, WrongReturnTypeOnOverride) {
  CompileContext context;
  Root(context);
  GSCClass& cls = AddClass(context, "K");
  cls.baseFunctions = {{"f()", 2, -1, 0}};
  AddFunction(context, cls, "f()").returnType = 3;
  MessageSink sink;
  CodeBuffer out(CodeBuffer::kLibraryStep);
  EXPECT_FALSE(WriteLibrary(out, context, &sink, "k.gs"));
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_STREQ(sink.At(0), "Wrong return type on function: f()\n");
}

// Each of these leaves a library that a reader would misread; none is written.
TEST(LibraryWriterTest, RefusedLibraries) {
  struct Case {
    const char* what;
    void (*spoil)(CompileContext&, GSCClass&, GSCFunction&);
  };
  const Case cases[] = {
      {"value left on the stack", [](CompileContext&, GSCClass&, GSCFunction& fn) { fn.Emit(kBcPush1); }},
      {"initialiser leaves a value", [](CompileContext&, GSCClass& cls, GSCFunction&) { cls.initialiser.Emit(kBcPush0); }},
      {"class of an unknown script", [](CompileContext& ctx, GSCClass&, GSCFunction&) { ctx.knownClasses.push_back({"Lost", -1}); }},
      {"virtual slot beyond 16 bits",
       [](CompileContext& ctx, GSCClass&, GSCFunction& fn) { fn.virtualSlot = ctx.functions[0].virtualSlot = 40000; }},
      {"string id beyond 16 bits in code", [](CompileContext&, GSCClass&, GSCFunction& fn) {
         fn.EmitShort(kBcPushString, 32768);
         fn.Emit(kBcDrop);
       }},
      {"failed code buffer", [](CompileContext&, GSCClass&, GSCFunction& fn) {
         fn.code.SetPosition(fn.code.Length() + 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompileContext context;
    Root(context);
    GSCClass& cls = AddClass(context, "K");
    GSCFunction& fn = AddFunction(context, cls, "f()");
    CodeBuffer out(CodeBuffer::kLibraryStep);
    ASSERT_TRUE(WriteLibrary(out, context, nullptr, "k.gs"));
    EXPECT_NO_THROW(GslWalker::Walk(out.Data(), out.Length()));
    c.spoil(context, cls, fn);
    context.strings.Clear();
    EXPECT_FALSE(WriteLibrary(out, context, nullptr, "k.gs"));
  }
}

TEST(GslWalkerTest, CatchesDamagedFiles) {
  CompileContext context;
  Root(context);
  AddFunction(context, AddClass(context, "K"), "f()").Emit(kBcReturn);
  const Written w = Write(context, "k.gs");
  ASSERT_TRUE(w.ok);
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const size_t function = w.bytes.size() - 4 * 30;  // inside the last class body
  const Case cases[] = {
      {"file length", 0, 0x7F},
      {"magic", 4, 0xFF},
      {"path length", 20, 0x40},
      {"dependency count", 24 + 5 + 8, 2},
      {"class body", function, 0xEE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = w.bytes;
    bytes[c.at] ^= c.value;
    EXPECT_THROW(GslWalker::Walk(bytes), std::runtime_error);
  }
  std::vector<uint8_t> cut(w.bytes.begin(), w.bytes.end() - 4);
  cut[0] = static_cast<uint8_t>(cut.size());
  EXPECT_THROW(GslWalker::Walk(cut), std::runtime_error);
}

} // namespace
} // namespace GSCompiler
