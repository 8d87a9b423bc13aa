#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/TDBTags.h"
#include "content/TextChunkFile.h"
#include "content/TStream.h"
#include "tests/content/ChunkNames.h"

namespace {

std::string WriteText(const ACSChunkPtr& root) {
  TBuffer stream;
  WriteChunkFileText(root, stream);
  const DynamicBuffer& buffer = stream.GetBuffer();
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

ACSChunkPtr ReadText(const std::string& text) {
  TBuffer stream;
  if (!text.empty()) stream.GetBuffer().Write(text.data(), static_cast<uint32_t>(text.size()));
  stream.GetBuffer().SetPosition(0);
  ACSChunkPtr root;
  ReadChunkFileText(root, stream, false);
  return root;
}

std::string WriteBinary(const ACSChunkPtr& root) {
  TBuffer stream;
  WriteChunkFileBinary(root, stream);
  const DynamicBuffer& buffer = stream.GetBuffer();
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

ACSChunkPtr ReadBinary(const std::string& bytes) {
  TBuffer stream;
  stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(0);
  MPHandle file(new TDBBinaryFile);
  static_cast<TDBBinaryFile*>(file.Get())->Read(stream);
  return static_cast<TDBBinaryFile*>(file.Get())->GetRoot();
}

std::string Pad(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

TEST(TextChunkFileTest, WriterUsesTheCanonicalLayout) {
  ACSChunkPtr root;
  root.SetChildKUID("kuid", KUID(123, 456, 0));
  root.SetChildInt("x", 5);
  const float floats[] = {1.5f, 2.0f};
  root.SetChildFloatArray("f", floats, 2);
  root.SetChildString("e", "");
  ACSChunkPtr box;
  box.SetChildString("Track Name", "abc");
  box.SetChildString("q", "say \"hi\"");
  ACSChunkPtr inner;
  inner.SetChildFloat("big", 1e20f);
  box.SetChild("inner", inner);
  root.SetChild("box", box);
  const std::string expected = "\xEF\xBB\xBF\r\n"
                               "kuid" + Pad(36) + "<kuid:123:456>\r\n"
                               "x" + Pad(39) + "5\r\n"
                               "f" + Pad(39) + "1.5,2\r\n"
                               "e" + Pad(39) + "\r\n"
                               "\r\n"
                               "box\r\n"
                               "{\r\n"
                               "  track_name" + Pad(28) + "\"abc\"\r\n"
                               "  q" + Pad(37) + "\"say 'hi'\"\r\n"
                               "  \r\n"
                               "  inner\r\n"
                               "  {\r\n"
                               "    big" + Pad(33) + "100000000000000000000.0\r\n"
                               "  }\r\n"
                               "}\r\n";
  EXPECT_EQ(WriteText(root), expected);
  // Nothing at all for a null tree.
  EXPECT_EQ(WriteText(ACSChunkPtr()), "");
}

TEST(TextChunkFileTest, WriterStepsQuoteAndNormalise) {
  struct Case {
    const char* text;
    bool quote;
    const char* written;
  };
  const Case cases[] = {
      {"plain", false, "plain"},       {"plain", true, "\"plain\""},   {"two words", false, "\"two words\""},
      {"tab\there", false, "\"tab\there\""}, {"a\r\nb", false, "\"a\r\nb\""}, {"it\"s", false, "it's"},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    TBuffer stream;
    WriteChunkTextValue(c.text, std::strlen(c.text), c.quote, stream);
    const DynamicBuffer& b = stream.GetBuffer();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Data()), b.Size()), c.written) << c.text;
  }
  EXPECT_EQ(NormaliseTagName("Big Name\x01\xE9Z", 11), "big_name__z");
  EXPECT_EQ(NormaliseTagName(std::string(1100, 'A').c_str(), 1100), std::string(1024, 'a'));
  // Names too long for column 40 keep one space before the value.
  ACSChunkPtr root;
  const std::string name(45, 'n');
  root.SetChildInt(name.c_str(), 1);
  EXPECT_EQ(WriteText(root), "\xEF\xBB\xBF\r\n" + name + " 1\r\n");
}

TEST(TextChunkFileTest, ReaderClassifiesValuesByTheirLook) {
  struct Case {
    const char* line;
    int type;
    const char* value;  // as GetChildString reads it
  };
  const Case cases[] = {
      {"x 12", kACSInt, "12"},
      {"x\t\t-12  ", kACSInt, "-12"},
      {"x -7.25", kACSFloat, "-7.25"},
      {"x 1.2.3", kACSFloat, "1.2"},
      {"x 1 2 3", kACSFloat, "1,2,3"},
      {"x 1,2,,3", kACSFloat, "1,2,3"},
      {"x 1\t2", kACSFloat, "1,2"},
      {"x -.5, 7", kACSFloat, "-0.5,7"},
      {"x 12 mm", kACSText, "12 mm"},
      {"x 1.5e+3", kACSText, "1.5e+3"},
      {"x \"12\"", kACSText, "12"},
      {"x \"\"", kACSText, ""},
      {"x", kACSEmpty, ""},
      {"x   ", kACSEmpty, ""},
      {"x -", kACSEmpty, ""},
      {"x <kuid:1:2>", kACSKUID, "<kuid:1:2>"},
      {"x <KUID2:1:2:3>", kACSKUID, "<kuid2:1:2:3>"},
      {"x <NULL>", kACSKUID, "<NULL>"},
      {"x \"<kuid:1:2> <kuid:3:4>\"", kACSText, "<kuid:1:2> <kuid:3:4>"},
      {"x kuid:1:2", kACSText, "kuid:1:2"},
      {"x a\\nb", kACSText, "a\r\nb"},
      {"x \"a\\nb\"", kACSText, "a\\nb"},
      {"x \"a\nb\"", kACSText, "a\r\nb"},
      {"x \"a\n\nb\"", kACSText, "a\r\n\r\nb"},
      {"x \"a\n\rb\"", kACSText, "a\r\nb"},
      {"x \"a}b\"", kACSText, "a}b"},
      {"x say \"hi\"", kACSText, "say \"hi\""},
      {"x trailing\\", kACSText, "trailing\\"},
      {"X 5", kACSInt, "5"},
  };
  for (const Case& c : cases) {
    const ACSChunkPtr root = ReadText(std::string(c.line) + "\r\nnext 1\r\n");
    ASSERT_FALSE(root.IsNull()) << c.line;
    EXPECT_EQ(root.GetChildType("x"), c.type) << c.line;
    EXPECT_STREQ(root.GetChildString("x").c_str(), c.value) << c.line;
    EXPECT_EQ(ChildNames(root), std::vector<std::string>({"x", "next"})) << c.line;
  }
  EXPECT_EQ(ReadText("x 1.5e+3").GetChildFloat("x", 0), 1500.0f);
  // An open quote runs to the end of the input.
  EXPECT_STREQ(ReadText("x \"open\r\nnext 1").GetChildString("x").c_str(), "open\r\nnext 1");
}

TEST(TextChunkFileTest, StepsReadFromTheStreamAndRestoreIt) {
  using ChunkText::ValueKind;
  struct Case {
    const char* input;
    const char* name;
    ValueKind kind;
    const char* token;  // what the value's reader then gives
  };
  const Case cases[] = {
      {"  Wheel-Base 2.5  \r\n", "wheel-base", ValueKind::kFloat, "2.5  "},
      {"n 7", "n", ValueKind::kInt, "7"},
      {"l 1, 2\\", "l", ValueKind::kString, "1, 2\\"},
      {"s \"q\\n\" tail", "s", ValueKind::kString, "q\\n"},
      {"b\r\n\r\n  {\r\n", "b", ValueKind::kContainer, ""},
      {"e\r\nnext", "e", ValueKind::kEmpty, ""},
      {"} x 1", "", ValueKind::kEmpty, ""},
  };
  for (const Case& c : cases) {
    TBuffer stream;
    stream.GetBuffer().Write(c.input, static_cast<uint32_t>(std::strlen(c.input)));
    stream.GetBuffer().SetPosition(0);
    std::string name;
    ReadChunkTextTagName(stream, name);
    EXPECT_EQ(name, c.name) << c.input;
    const uint32_t at = stream.Tell();
    const ValueKind kind = ClassifyChunkTextValue(stream);
    EXPECT_EQ(kind, c.kind) << c.input;
    if (kind == ValueKind::kContainer) {
      EXPECT_EQ(stream.Tell(), std::strlen(c.input) - 2) << c.input;
      continue;
    }
    EXPECT_EQ(stream.Tell(), at) << c.input;
    std::string token;
    if (kind == ValueKind::kString) ReadChunkTextString(stream, token);
    else ReadChunkTextValue(stream, token);
    EXPECT_EQ(token, c.token) << c.input;
  }
  // The file reader leaves the stream at the '}' that ended the root level.
  TBuffer stream;
  const std::string text = "a 1\r\n} b 2";
  stream.GetBuffer().Write(text.data(), static_cast<uint32_t>(text.size()));
  stream.GetBuffer().SetPosition(0);
  ACSChunkPtr root;
  ReadChunkFileText(root, stream, false);
  EXPECT_EQ(ChildNames(root), std::vector<std::string>({"a"}));
  EXPECT_EQ(stream.Tell(), 5u);
}

TEST(TextChunkFileTest, ReaderFollowsTheNesting) {
  {
    const ACSChunkPtr root = ReadText("a\r\n  {\r\n  b 1\r\n  }\r\nc 2\r\n");
    EXPECT_EQ(ChildNames(root), std::vector<std::string>({"a", "c"}));
    EXPECT_EQ(root.GetChildContainer("a").GetChildInt("b", 0), 1);
  }
  {
    const ACSChunkPtr root = ReadText("a { }\r\nb 1");
    EXPECT_EQ(root.GetChildType("a"), kACSContainer);
    EXPECT_EQ(root.GetChildContainer("a").GetChildCount(), 0);
    EXPECT_EQ(root.GetChildInt("b", 0), 1);
  }
  {
    // A '}' where a value ends the level.
    const ACSChunkPtr root = ReadText("a }\r\nb 1");
    EXPECT_EQ(ChildNames(root), std::vector<std::string>({"a"}));
    EXPECT_EQ(root.GetChildType("a"), kACSEmpty);
  }
  {
    const ACSChunkPtr root = ReadText("a { b 1 }\r\nc 2");
    EXPECT_STREQ(root.GetChildContainer("a").GetChildString("b").c_str(), "1 ");
    EXPECT_EQ(root.GetChildContainer("a").GetChildType("b"), kACSText);
    EXPECT_EQ(root.GetChildInt("c", 0), 2);
  }
  {
    const ACSChunkPtr root = ReadText("name{ 5\r\n");
    EXPECT_EQ(root.GetChildInt("name{", 0), 5);
  }
  {
    // The last of a repeated tag wins and moves to the end.
    const ACSChunkPtr root = ReadText("a 1\r\nb 2\r\na 3\r\n");
    EXPECT_EQ(ChildNames(root), std::vector<std::string>({"b", "a"}));
    EXPECT_EQ(root.GetChildInt("a", 0), 3);
  }
  for (const char* nothing : {"", "   \r\n\r\n", "}", "\xEF\xBB\xBF"}) EXPECT_TRUE(ReadText(nothing).IsNull()) << nothing;
  TFile closed;
  ACSChunkPtr root;
  root.SetChildInt("old", 1);
  ReadChunkFileText(root, closed, false);
  EXPECT_TRUE(root.IsNull());
}

TEST(TextChunkFileTest, StringsWithoutAByteOrderMarkAreWindows1252) {
  const ACSChunkPtr ansi = ReadText("caf\xE9 caf\xE9\r\nk \"<kuid:1:2>\"\r\n");
  EXPECT_STREQ(ansi.GetChildString("caf\xE9").c_str(), "caf\xC3\xA9");
  EXPECT_EQ(ansi.GetChildKUID("k", KUID()), KUID(1, 2, 0));
  const ACSChunkPtr utf8 = ReadText("\xEF\xBB\xBFname caf\xC3\xA9\r\n");
  EXPECT_STREQ(utf8.GetChildString("name").c_str(), "caf\xC3\xA9");
  EXPECT_EQ(utf8.GetChildCount(), 1);
}

TEST(TextChunkFileTest, LongNumberListsAreReadWhole) {
  std::string line = "list ";
  std::vector<float> expected;
  for (int i = 0; i < 120; ++i) {
    line += std::to_string(i) + ".25, ";
    expected.push_back(static_cast<float>(i) + 0.25f);
  }
  ASSERT_GT(line.size(), 600u);
  std::vector<float> values;
  EXPECT_TRUE(ReadText(line).GetChildFloatArray("list", values));
  EXPECT_EQ(values, expected);
  // Texts longer than one read of the reader are read whole.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "k" + std::to_string(i) + " " + std::to_string(i) + "\r\n";
  ASSERT_GT(big.size(), 200000u);
  const ACSChunkPtr many = ReadText(big);
  EXPECT_EQ(many.GetChildCount(), 20000);
  EXPECT_EQ(many.GetChildInt("k19999", 0), 19999);
  // A long single number too.
  const std::string tiny = "0." + std::string(44, '0') + "1";
  EXPECT_EQ(ReadText("t " + tiny).GetChildFloat("t", 1), 1e-45f);
}

TEST(TextChunkFileTest, FloatsReadBackExactlyFromText) {
  const float values[] = {1e20f, 1e-5f, -3.5e-8f, 3.4028235e38f, -1.17549435e-38f, 1.4e-45f, 123456.7f, 0.1f, 1.5f};
  ACSChunkPtr root;
  for (int i = 0; i < 9; ++i) root.SetChildFloat(("f" + std::to_string(i)).c_str(), values[i]);
  root.SetChildFloatArray("all", values, 9);
  const std::string text = WriteText(root);
  EXPECT_EQ(text.find('e'), std::string::npos) << text;
  const ACSChunkPtr back = ReadText(text);
  for (int i = 0; i < 9; ++i) {
    const std::string name = "f" + std::to_string(i);
    if (i != 6) {
      EXPECT_EQ(back.GetChildType(name.c_str()), kACSFloat) << name;
    }
    if (i < 6) {
      EXPECT_EQ(back.GetChildFloat(name.c_str(), 0), values[i]) << name;
    }
  }
  // Values that "%g" writes without an exponent keep its six digits (and a
  // whole number reads as an int).
  EXPECT_EQ(back.GetChildType("f6"), kACSInt);
  EXPECT_EQ(back.GetChildFloat("f6", 0), 123457.0f);
  std::vector<float> all;
  ASSERT_TRUE(back.GetChildFloatArray("all", all));
  ASSERT_EQ(all.size(), 9u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(all[i], values[i]) << i;
}

TEST(TextChunkFileTest, TreesRoundTripThroughBothForms) {
  ACSChunkPtr root;
  root.SetChildString("name", "Box car");
  root.SetChildInt("count", -42);
  root.SetChildFloat("scale", 0.75f);
  root.SetChildFloat("far", 2.5e12f);
  const float pos[] = {1.5f, -2.25f, 1e-7f};
  root.SetChildFloatArray("pos", pos, 3);
  root.SetChildKUID("kuid", KUID(523, 1001, 2));
  root.SetChildNull("gone");
  ACSChunkPtr mesh;
  mesh.SetChildString("file", "body.im");
  mesh.SetChildKUID("texture", KUID::Null());
  ACSChunkPtr empty(new TDBContainerTag);
  mesh.SetChild("empty", empty);
  root.SetChild("mesh-table", mesh);
  root.SetChildString("multi", "line one\r\nline two }");

  const std::string binary = WriteBinary(root);
  const std::string text = WriteText(ReadBinary(binary));
  EXPECT_EQ(WriteText(root), text);
  const ACSChunkPtr fromText = ReadText(text);
  EXPECT_EQ(WriteBinary(fromText), binary);
  EXPECT_EQ(WriteText(fromText), text);
}

TEST(TextChunkFileTest, MalformedTextNeverFails) {
  const std::string good = WriteText(ReadText(
      "a 1\r\nb \"two\r\nlines\"\r\nc\r\n{\r\n  d 1,2\r\n  e\r\n  {\r\n    f <kuid:1:2>\r\n  }\r\n}\r\ng 2.5\r\n"));
  for (std::size_t n = 0; n <= good.size(); ++n) ReadText(good.substr(0, n));
  // A NUL ends the text.
  const ACSChunkPtr cut = ReadText(std::string("a 1\r\nb 2\0c 3\r\n", 14));
  EXPECT_EQ(ChildNames(cut), std::vector<std::string>({"a", "b"}));
  // Overlong tag names keep their first 511 characters.
  EXPECT_EQ(ReadText(std::string(600, 'n') + " 1").GetChildName(0).Length(), 511u);
}

TEST(TextChunkFileTest, NestingPastTheLimitFailsLikeTheBinaryForm) {
  // `levels` containers inside one another, the innermost holding z 1.
  auto nested = [](int levels, bool closed) {
    std::string text = "first 1\r\n";
    for (int i = 0; i < levels; ++i) text += "a {\r\n";
    text += "z 1\r\n";
    if (closed)
      for (int i = 0; i < levels; ++i) text += "}\r\n";
    return text;
  };
  struct Case {
    int levels;
    bool closed;
    bool loads;
  };
  const Case cases[] = {
      {ChunkFile::kMaxDepth, true, true},
      {ChunkFile::kMaxDepth, false, true},
      {ChunkFile::kMaxDepth + 1, true, false},
      {3 * ChunkFile::kMaxDepth, false, false},
  };
  for (const Case& c : cases) {
    const ACSChunkPtr root = ReadText(nested(c.levels, c.closed));
    ASSERT_EQ(!root.IsNull(), c.loads) << c.levels;
    if (!c.loads) continue;
    EXPECT_EQ(root.GetChildInt("first", 0), 1);
    ACSChunkPtr level = root;
    for (int depth = 0; depth < c.levels; ++depth) {
      level = level.GetChildContainer("a");
      ASSERT_FALSE(level.IsNull()) << depth;
    }
    EXPECT_EQ(level.GetChildInt("z", 0), 1);
    // The binary form takes the same tree, and refuses one level more.
    EXPECT_FALSE(ReadBinary(WriteBinary(root)).IsNull());
    ACSChunkPtr deeper;
    deeper.SetChild("a", root);
    EXPECT_TRUE(ReadBinary(WriteBinary(deeper)).IsNull());
  }
  // A reader of a whole file sees the failure too.
  TBuffer stream;
  const std::string deep = nested(ChunkFile::kMaxDepth + 1, true);
  stream.GetBuffer().Write(deep.data(), static_cast<uint32_t>(deep.size()));
  stream.GetBuffer().SetPosition(0);
  ACSChunkPtr root;
  root.SetChildInt("old", 1);
  ReadChunkFileText(root, stream, false);
  EXPECT_TRUE(root.IsNull());
}

TEST(TextChunkFileTest, ReadersOnSeveralThreadsDoNotMeet) {
  std::string text = "\xEF\xBB\xBF\r\n";
  for (int i = 0; i < 50; ++i) text += "item" + std::to_string(i) + " { v " + std::to_string(i) + ".5 }\r\n";
  const std::string expected = WriteText(ReadText(text));
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) results[t] = WriteText(ReadText(text));
    });
  for (std::thread& t : threads) t.join();
  for (const std::string& r : results) EXPECT_EQ(r, expected);
}

}  // namespace
