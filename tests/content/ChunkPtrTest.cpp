#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/ACSChunk.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "content/TDBTags.h"
#include "tests/content/ChunkNames.h"
#include "tests/platform/os/TempFolder.h"

namespace {

ACSChunkPtr IntArrayChild(std::initializer_list<int32_t> values) {
  std::vector<uint8_t> bytes;
  for (int32_t v : values) Vak::AppendLE32(bytes, static_cast<uint32_t>(v));
  return ACSChunkPtr(
      new TDBDataTag(kACSInt, ACSRawDataCore::CreateCopy(static_cast<uint32_t>(bytes.size()), bytes.data())));
}

} // namespace

TEST(ChunkPtr, PointerStatesAndReferenceCounts) {
  ACSChunkPtr p;
  EXPECT_TRUE(p.IsNull());
  EXPECT_EQ(p.GetChildCount(), 0);
  EXPECT_STREQ(p.GetChildName(0).c_str(), "");

  p = ACSChunk::GetNull();
  EXPECT_TRUE(p.IsNull());
  p.MakeContainer();  // the shared null chunk is replaced, never edited
  EXPECT_FALSE(p.IsNull());
  EXPECT_EQ(p->GetType(), kACSContainer);
  EXPECT_FALSE(ACSChunk::IsNullChunk(p.Get()));

  ACSChunk* chunk = p.Get();
  EXPECT_EQ(chunk->ReferenceCountValue(), 1);
  {
    ACSChunkPtr copy = p;
    EXPECT_EQ(chunk->ReferenceCountValue(), 2);
    copy = copy;  // self-assignment keeps the chunk
    EXPECT_EQ(chunk->ReferenceCountValue(), 2);
  }
  EXPECT_EQ(chunk->ReferenceCountValue(), 1);
  ACSChunkPtr same = p.GetContainer();
  EXPECT_EQ(same.Get(), chunk);
  p.Release();
  EXPECT_EQ(p.Get(), nullptr);
  EXPECT_EQ(same->ReferenceCountValue(), 1);

  ACSChunkPtr empty(new TDBDataTag(kACSEmpty, ACSRawDataPtr()));
  EXPECT_TRUE(empty.IsNull());
}

TEST(ChunkPtr, TypedGettersFallBackToDefaults) {
  ACSChunkPtr none;
  EXPECT_EQ(none.GetChildInt("a", 7), 7);
  EXPECT_EQ(none.GetChildFloat("a", 1.5f), 1.5f);
  EXPECT_TRUE(none.GetChildBool("a", true));
  EXPECT_EQ(none.GetChildKUID("a", KUID(1, 2, 0)), KUID(1, 2, 0));
  EXPECT_STREQ(none.GetChildString("a").c_str(), "");
  EXPECT_FALSE(none.GetChildContainer("a").Get());
  EXPECT_FALSE(none.GetChildData("a"));
  EXPECT_FALSE(none.HasChild("a"));
  EXPECT_EQ(none.GetChildType("a"), kACSEmpty);

  ACSChunkPtr p;
  p.SetChildString("s", "hello");
  p.SetChild("ints", IntArrayChild({1, 2}));
  p.SetChildNull("n");
  EXPECT_EQ(p.GetChildInt("missing", -4), -4);
  EXPECT_EQ(p.GetChildInt("s", -4), -4);      // not a number
  EXPECT_EQ(p.GetChildInt("ints", -4), -4);   // 8 bytes, not 4
  EXPECT_EQ(p.GetChildFloat("n", 0.5f), 0.5f);
  // Any text reads as a KUID: one that does not parse is the null KUID.
  EXPECT_EQ(p.GetChildKUID("ints", KUID(3, 3, 0)), KUID::Null());
  EXPECT_EQ(p.GetChildKUID("n", KUID(3, 3, 0)), KUID(3, 3, 0));
  EXPECT_STREQ(p.GetChildString("n").c_str(), "");
  std::vector<float> values = {9.0f, 9.0f, 9.0f};
  EXPECT_FALSE(p.GetChildFloatArray("missing", values));
  EXPECT_TRUE(values.empty());
}

TEST(ChunkPtr, ReadsConvertBetweenTypes) {
  ACSChunkPtr p;
  p.SetChildString("text12", "12");
  p.SetChildFloat("f", 2.75f);
  p.SetChildFloat("big", 1234567.0f);
  p.SetChildKUID("k", KUID(5, 6, 0));
  p.SetChildString("list", "1,2,3");
  p.SetChild("ints", IntArrayChild({1, 2, 3}));
  p.SetChildInt("i", 42);
  p.SetChildBool("yes", true);

  EXPECT_EQ(p.GetChildInt("text12", 0), 12);
  EXPECT_EQ(p.GetChildInt("f", 0), 2);
  EXPECT_EQ(p.GetChildInt("big", 0), 1234567);
  EXPECT_STREQ(p.GetChildString("k").c_str(), "<kuid:5:6>");
  EXPECT_STREQ(p.GetChildString("i").c_str(), "42");
  EXPECT_STREQ(p.GetChildString("f").c_str(), "2.75");
  EXPECT_STREQ(p.GetChildString("ints").c_str(), "1,2,3");
  EXPECT_EQ(p.GetChildFloat("i", 0.0f), 42.0f);
  EXPECT_TRUE(p.GetChildBool("yes", false));
  EXPECT_FALSE(p.GetChildBool("text12x", false));
  EXPECT_EQ(p.GetChildKUID("k", KUID::Null()), KUID(5, 6, 0));
  p.SetChildString("ktext", "<kuid2:1:2:3>");
  EXPECT_EQ(p.GetChildKUID("ktext", KUID::Null()), KUID(1, 2, 3));

  std::vector<float> values;
  EXPECT_FALSE(p.GetChildFloatArray("list", values));
  EXPECT_FALSE(p.GetChildFloatArray("ints", values));
  const float three[] = {1.5f, -2.0f, 3.25f};
  p.SetChildFloatArray("arr", three, 3);
  ASSERT_TRUE(p.GetChildFloatArray("arr", values));
  EXPECT_EQ(values, (std::vector<float>{1.5f, -2.0f, 3.25f}));
  EXPECT_EQ(p.GetChildFloat("arr", 0.0f), 0.0f);  // 12 bytes, not 4

  ACSRawDataPtr data = p.GetChildData("text12");
  ASSERT_TRUE(data);
  EXPECT_EQ(data.Size(), 3u);
  EXPECT_STREQ(reinterpret_cast<const char*>(data.Data()), "12");
}

TEST(ChunkPtr, SettersReplaceAndAppend) {
  ACSChunkPtr p;
  p.SetChildInt("a", 1);
  p.SetChildInt("b", 2);
  p.SetChildInt("a", 3);
  EXPECT_EQ(ChildNames(p), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(p.GetChildInt("a", 0), 3);

  p.SetChildNull("n");
  EXPECT_FALSE(p.HasChild("n"));
  EXPECT_EQ(p.GetChildCount(), 3);
  EXPECT_EQ(p.GetChildType("n"), kACSEmpty);

  p.SetChildString("e", "");
  EXPECT_EQ(p.GetChildType("e"), kACSText);
  EXPECT_EQ(p->FindChild("e")->GetDataSize(), 0u);
  p.SetChildString("s", "abc");
  EXPECT_EQ(p->FindChild("s")->GetDataSize(), 4u);

  const float one = 1.0f;
  p.SetChildFloatArray("f", &one, 1);
  EXPECT_TRUE(p.HasChild("f"));
  p.SetChildFloatArray("f", &one, 0);
  EXPECT_FALSE(p.HasChild("f"));
  EXPECT_EQ(p.GetChildCount(), 5);

  p.RemoveChild("b");
  p.RemoveChild("nothing");
  EXPECT_EQ(ChildNames(p), (std::vector<std::string>{"a", "n", "e", "s"}));
  ACSChunkPtr s = p->FindChild("s");
  p.RemoveChildChunk(s);
  EXPECT_EQ(ChildNames(p), (std::vector<std::string>{"a", "n", "e"}));

  // A KUID value is the packed word, then the content id.
  p.SetChildKUID("k", KUID(5, 6, 2));
  const uint8_t* bytes = p->FindChild("k")->GetData();
  uint32_t packed, content;
  KUID(5, 6, 2).Pack(packed, content);
  EXPECT_EQ(std::memcmp(bytes, &packed, 4), 0);
  EXPECT_EQ(std::memcmp(bytes + 4, &content, 4), 0);
}

TEST(ChunkPtr, SetChildContainers) {
  ACSChunkPtr p;
  p.SetChild("made", ACSChunkPtr());
  ACSChunkPtr made = p.GetChildContainer("made");
  ASSERT_TRUE(made.Get());
  EXPECT_EQ(made->GetType(), kACSContainer);
  made.SetChildInt("inner", 5);
  EXPECT_EQ(p.GetChildContainer("made").GetChildInt("inner", 0), 5);
  EXPECT_EQ(p.GetChildContainerAt(0).Get(), made.Get());
  p.SetChildInt("v", 1);
  EXPECT_FALSE(p.GetChildContainerAt(1).Get());
  EXPECT_FALSE(p.GetChildContainerAt(2).Get());
  EXPECT_FALSE(p.GetChildContainer("v").Get());

  p.SetChild("nullchunk", ACSChunk::GetNull());
  EXPECT_EQ(p.GetChildType("nullchunk"), kACSContainer);
  p.SetChild("emptyvalue", ACSChunkPtr(new TDBDataTag(kACSEmpty, ACSRawDataPtr())));
  EXPECT_EQ(p.GetChildType("emptyvalue"), kACSEmpty);
  EXPECT_EQ(p.GetChildCount(), 4);

  // Children set on a value node are dropped; the pointer stays a value.
  ACSChunkPtr value = p->FindChild("v");
  value.SetChildInt("x", 1);
  EXPECT_EQ(value->GetType(), kACSInt);
  EXPECT_EQ(value.GetChildCount(), 0);
}

TEST(ChunkPtr, DeepCopyMakesAnIndependentContainer) {
  ACSChunkPtr source;
  source.SetChildInt("x", 1);
  ACSChunkPtr inner;
  inner.SetChildString("s", "t");
  source.SetChild("y", inner);

  ACSChunkPtr copy;
  copy.SetChildInt("old", 1);
  ACSChunkPtr before = copy;
  copy.DeepCopy(source);
  EXPECT_NE(copy.Get(), before.Get());
  EXPECT_EQ(before.GetChildCount(), 1);  // the old tree is left alone
  EXPECT_EQ(ChildNames(copy), (std::vector<std::string>{"x", "y"}));
  EXPECT_STREQ(copy.GetChildContainer("y").GetChildString("s").c_str(), "t");
  copy.GetChildContainer("y").SetChildInt("added", 2);
  EXPECT_FALSE(inner.HasChild("added"));

  ACSChunkPtr fromNull;
  fromNull.DeepCopy(ACSChunkPtr());
  EXPECT_FALSE(fromNull.IsNull());
  EXPECT_EQ(fromNull.GetChildCount(), 0);
}

TEST(ChunkPtr, KUIDListContainers) {
  const KUID k1(1, 10, 0), k2(2, 20, 3);
  KUIDList list;
  list.Append(k1);
  list.Append(KUID::Null());
  list.Append(k2);
  ACSChunkPtr container = MakeKUIDListContainer(list);
  EXPECT_EQ(ChildNames(container), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(container.GetChildKUID("0", KUID::Null()), k1);
  EXPECT_EQ(container.GetChildKUID("1", KUID::Null()), k2);

  KUIDList onlyNull;
  onlyNull.Append(KUID::Null());
  EXPECT_EQ(MakeKUIDListContainer(onlyNull).Get(), nullptr);
  EXPECT_EQ(MakeKUIDListContainer(KUIDList()).Get(), nullptr);

  KUIDList back;
  back.Append(k2);  // already present: not added twice
  container.SetChildString("2", "<kuid:3:30>");
  container.SetChildString("3", "junk");
  CollectChildKUIDs(container, back);
  std::vector<KUID> got;
  for (auto it = back.Begin(); !it.IsEnd(); it.Next()) got.push_back(*it);
  EXPECT_EQ(got, (std::vector<KUID>{k2, k1, KUID(3, 30, 0)}));
}

TEST(ChunkPtr, CollectTreeKUIDsWalksContainers) {
  ACSChunkPtr tree;
  tree.SetChildKUID("a", KUID(1, 1, 0));
  tree.SetChildString("t", "<kuid:2:2>");
  tree.SetChildString("loose", "2:3");  // strict parsing wants the tagged form
  tree.SetChildInt("i", 5);
  tree.SetChildKUID("nullk", KUID::Null());
  ACSChunkPtr inner;
  inner.SetChildKUID("b", KUID(3, 3, 1));
  inner.SetChildKUID("dup", KUID(1, 1, 0));
  ACSChunkPtr deeper;
  deeper.SetChildString("c", "<kuid2:4:4:2>");
  inner.SetChild("deeper", deeper);
  tree.SetChild("inner", inner);

  KUIDList list;
  CollectTreeKUIDs(tree, list);
  std::vector<KUID> got;
  for (auto it = list.Begin(); !it.IsEnd(); it.Next()) got.push_back(*it);
  EXPECT_EQ(got, (std::vector<KUID>{KUID(1, 1, 0), KUID(2, 2, 0), KUID(3, 3, 1), KUID(4, 4, 2)}));
}

TEST(ChunkPtr, ManyChildrenBySetters) {
  constexpr int kChildren = 100000;
  ACSChunkPtr p;
  char name[16];
  for (int i = 0; i < kChildren; ++i) {
    std::snprintf(name, sizeof name, "n%d", i);
    p.SetChildInt(name, i);
  }
  ASSERT_EQ(p.GetChildCount(), kChildren);
  for (int i = 0; i < kChildren; ++i) {
    ASSERT_EQ(p.GetChildInt(p.GetChildName(i), -1), i);
  }
  p.SetChildInt("n5", -5);  // moves to the end
  EXPECT_STREQ(p.GetChildName(kChildren - 1).c_str(), "n5");
  EXPECT_STREQ(p.GetChildName(5).c_str(), "n6");
  EXPECT_EQ(p.GetChildInt("n5", 0), -5);
  EXPECT_EQ(p.GetChildInt("n6", 0), 6);
}

// ---- files ----

namespace {

using platform::test::TempFolder;

// Types and bytes equal all the way down.
void ExpectSameTree(const ACSChunkPtr& a, const ACSChunkPtr& b) {
  ASSERT_EQ(a->GetType(), b->GetType());
  ASSERT_EQ(a->GetDataSize(), b->GetDataSize());
  if (a->GetDataSize()) {
    EXPECT_EQ(std::memcmp(a->GetData(), b->GetData(), a->GetDataSize()), 0);
  }
  ASSERT_EQ(ChildNames(a), ChildNames(b));
  for (int i = 0; i < a.GetChildCount(); ++i) {
    SCOPED_TRACE(a.GetChildName(i).c_str());
    ExpectSameTree(a->FindChild(a.GetChildName(i)), b->FindChild(b.GetChildName(i)));
  }
}

ACSChunkPtr SampleTree() {
  ACSChunkPtr root;
  root.SetChildString("username", "Caf\xC3\xA9 \"quoted\"");
  root.SetChildInt("count", -17);
  root.SetChildFloat("scale", 1.5f);
  root.SetChildFloat("tiny", 1e-5f);
  root.SetChildFloat("huge", 1e20f);
  const float list[] = {1.5f, -2.25f, 3.0f};
  root.SetChildFloatArray("offsets", list, 3);
  root.SetChildKUID("kuid", KUID(12, 34, 0));
  root.SetChildKUID("kuid2", KUID(12, 34, 5));
  ACSChunkPtr table;
  table.SetChildKUID("0", KUID(1, 2, 0));
  table.SetChildKUID("1", KUID(3, 4, 1));
  root.SetChild("kuid-table", table);
  ACSChunkPtr mesh;
  mesh.SetChildString("mesh", "body/loco.im");
  ACSChunkPtr deeper;
  deeper.SetChildInt("level", 3);
  mesh.SetChild("deeper", deeper);
  root.SetChild("mesh-table", mesh);
  root.SetChild("empty", ACSChunkPtr());
  return root;
}

} // namespace

TEST(ChunkPtrFile, BinaryRoundTripKeepsTypesAndBytes) {
  TempFolder folder;
  ACSChunkPtr tree = SampleTree();
  tree.SetChildNull("nothing");
  for (const char* name : {"config.chump", "package.cdp", "package.cdp2", "UPPER.CHUMP"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(tree.Save(nullptr, (folder / name).c_str()));
    ACSChunkPtr back;
    ASSERT_TRUE(back.Load(nullptr, (folder / name).c_str()));
    ASSERT_FALSE(back.IsNull());
    ExpectSameTree(tree, back);
  }

  // A loaded tree is edited through the same setters, and a deep copy of it
  // outlives the file's nodes.
  ACSChunkPtr back;
  ASSERT_TRUE(back.Load(nullptr, (folder / "config.chump").c_str()));
  back.SetChildInt("count", 99);
  back.GetChildContainer("mesh-table").SetChildString("mesh", "other.im");
  EXPECT_EQ(back.GetChildInt("count", 0), 99);
  EXPECT_STREQ(back.GetChildName(back.GetChildCount() - 1).c_str(), "count");
  EXPECT_EQ(back.GetChildCount(), tree.GetChildCount());
  ACSChunkPtr copy;
  copy.DeepCopy(back);
  back.Release();
  EXPECT_EQ(copy.GetChildInt("count", 0), 99);
  EXPECT_STREQ(copy.GetChildString("username").c_str(), "Caf\xC3\xA9 \"quoted\"");
  EXPECT_EQ(copy.GetChildKUID("kuid2", KUID::Null()), KUID(12, 34, 5));
  EXPECT_EQ(copy.GetChildContainer("kuid-table").GetChildKUID("0", KUID::Null()), KUID(1, 2, 0));
}

TEST(ChunkPtrFile, BinaryBytesAreExact) {
  TempFolder folder;
  ACSChunkPtr tree;
  tree.SetChildInt("a", 5);
  ASSERT_TRUE(tree.Save("", (folder / "one.chump").c_str()));
  const std::string expected("ACS$\x01\0\0\0\0\0\0\0\x0C\0\0\0"  // header, body length 12
                             "\x08\0\0\0\x02" "a\0" "\x01"         // record size 8, name, int
                             "\x05\0\0",                             // 5 (and the literal's NUL)
                             28);
  EXPECT_EQ(folder.ReadFile("one.chump"), expected);

  // A null tree gives a header with an empty body, or an empty text file.
  ASSERT_TRUE(ACSChunkPtr().Save(nullptr, (folder / "null.cdp").c_str()));
  EXPECT_EQ(folder.ReadFile("null.cdp"), std::string("ACS$\x01\0\0\0\0\0\0\0\0\0\0\0", 16));
  ASSERT_TRUE(ACSChunkPtr().Save(nullptr, (folder / "null.txt").c_str()));
  EXPECT_EQ(folder.ReadFile("null.txt"), "");
}

TEST(ChunkPtrFile, TextRoundTrip) {
  TempFolder folder;
  ACSChunkPtr tree = SampleTree();
  for (const char* name : {"config.txt", "CONFIG.TXT"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(tree.Save(nullptr, (folder / name).c_str()));
    ACSChunkPtr back;
    ASSERT_TRUE(back.Load(nullptr, (folder / name).c_str()));
    // The text form keeps what its look tells: names, numbers, texts, KUIDs.
    EXPECT_EQ(ChildNames(back), ChildNames(tree));
    EXPECT_STREQ(back.GetChildString("username").c_str(), "Caf\xC3\xA9 'quoted'");
    EXPECT_EQ(back.GetChildInt("count", 0), -17);
    EXPECT_EQ(back.GetChildType("scale"), kACSFloat);
    EXPECT_EQ(back.GetChildFloat("scale", 0.0f), 1.5f);
    // Exponent forms are written so that they read back as the same float.
    EXPECT_EQ(back.GetChildType("tiny"), kACSFloat);
    EXPECT_EQ(back.GetChildFloat("tiny", 0.0f), 1e-5f);
    EXPECT_EQ(back.GetChildType("huge"), kACSFloat);
    EXPECT_EQ(back.GetChildFloat("huge", 0.0f), 1e20f);
    std::vector<float> values;
    ASSERT_TRUE(back.GetChildFloatArray("offsets", values));
    EXPECT_EQ(values, (std::vector<float>{1.5f, -2.25f, 3.0f}));
    EXPECT_EQ(back.GetChildType("kuid"), kACSKUID);
    EXPECT_EQ(back.GetChildKUID("kuid", KUID::Null()), KUID(12, 34, 0));
    EXPECT_EQ(back.GetChildKUID("kuid2", KUID::Null()), KUID(12, 34, 5));
    EXPECT_EQ(back.GetChildContainer("kuid-table").GetChildKUID("1", KUID::Null()), KUID(3, 4, 1));
    EXPECT_EQ(back.GetChildContainer("mesh-table").GetChildContainer("deeper").GetChildInt("level", 0), 3);
    EXPECT_EQ(back.GetChildType("empty"), kACSContainer);
    EXPECT_EQ(back.GetChildContainer("empty").GetChildCount(), 0);
  }
}

TEST(ChunkPtrFile, LoadOutcomes) {
  TempFolder folder;
  folder.WriteFile("bad.cdp", std::string("XCS$\x01\0\0\0\0\0\0\0\x04\0\0\0abcd", 20));
  folder.WriteFile("short.chump", std::string("ACS$\x01\0\0\0\0\0\0\0\x40\0\0\0abcd", 20));
  folder.WriteFile("blank.txt", "\r\n   \r\n");
  folder.WriteFile("plain.TXT", "name     \"x\"\r\n");
  folder.WriteFile("data.xml", "<a/>");

  ACSChunkPtr kept;
  kept.SetChildInt("kept", 1);
  struct Case {
    const char* name;
    bool result;
    bool null;  // after a true result
  };
  const std::vector<Case> cases = {
      {"bad.cdp", true, true},      // wrong magic: read, but nothing in it
      {"short.chump", true, true},  // body length past the end
      {"blank.txt", true, true},    // no entry
      {"plain.TXT", true, false},
      {"data.xml", false, false},   // unknown extension
      {"missing.txt", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ACSChunkPtr p = kept;
    EXPECT_EQ(p.Load(nullptr, (folder / c.name).c_str()), c.result);
    if (!c.result) {
      EXPECT_EQ(p.Get(), kept.Get());  // unchanged
    } else if (c.null) {
      EXPECT_TRUE(p.IsNull());
    } else {
      EXPECT_STREQ(p.GetChildString("name").c_str(), "x");
    }
  }
}

TEST(ChunkPtrFile, SaveReportsFailures) {
  TempFolder folder;
  ACSChunkPtr tree = SampleTree();
  EXPECT_FALSE(tree.Save(nullptr, (folder / "tree.xml").c_str()));
  EXPECT_FALSE(folder.Has("tree.xml"));
  EXPECT_FALSE(tree.Save(nullptr, (folder / "no/such/folder/tree.txt").c_str()));

  // A device that takes no bytes: small files fail when the buffer goes out,
  // large ones while writing.
  ACSChunkPtr large;
  std::string text(1000, 'x');
  for (int i = 0; i < 100; ++i) large.SetChildString(std::to_string(i).c_str(), text.c_str());
  std::error_code ec;
  for (const char* name : {"full.txt", "full.chump"}) {
    std::filesystem::create_symlink("/dev/full", folder / name, ec);
    if (ec) GTEST_SKIP() << "no /dev/full link: " << ec.message();
    SCOPED_TRACE(name);
    EXPECT_FALSE(tree.Save(nullptr, (folder / name).c_str()));
    EXPECT_FALSE(large.Save(nullptr, (folder / name).c_str()));
  }
}

TEST(ChunkPtr, DumpToConsolePrintsTheTextForm) {
  ACSChunkPtr tree;
  tree.SetChildInt("a", 5);
  testing::internal::CaptureStdout();
  tree.DumpToConsole();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\xEF\xBB\xBF\r\na" + std::string(39, ' ') + "5\r\n\n");
}
