#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/ACSFile.h"
#include "content/DynamicBuffer.h"
#include "content/TDBTags.h"
#include "content/TStream.h"
#include "tests/content/ChunkNames.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Save(const ACSChunkPtr& root) {
  TBuffer stream;
  WriteChunkFileBinary(root, stream);
  const DynamicBuffer& buffer = stream.GetBuffer();
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// The file object stays alive through the nodes it hands out.
ACSChunkPtr Load(const Bytes& bytes, TDBBinaryFile** fileOut = nullptr) {
  TBuffer stream;
  if (!bytes.empty()) stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(0);
  MPHandle file(new TDBBinaryFile);
  auto* binary = static_cast<TDBBinaryFile*>(file.Get());
  binary->Read(stream);
  if (fileOut) *fileOut = binary;
  return binary->GetRoot();
}

void Put32(Bytes& out, uint32_t v) { Vak::AppendLE32(out, v); }

// A record: size, name with its NUL, file type, payload.
Bytes Record(const std::string& name, uint8_t fileType, const Bytes& payload) {
  Bytes out;
  const uint32_t n = name.empty() ? 0 : static_cast<uint32_t>(name.size() + 1);
  Put32(out, 1 + n + 1 + static_cast<uint32_t>(payload.size()));
  out.push_back(static_cast<uint8_t>(n));
  if (n) out.insert(out.end(), name.c_str(), name.c_str() + n);
  out.push_back(fileType);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes File(const Bytes& body, int32_t version = 1) {
  Bytes out = {'A', 'C', 'S', '$'};
  Put32(out, static_cast<uint32_t>(version));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

std::string Value(const ACSChunkPtr& chunk) {
  const uint8_t* p = chunk->GetData();
  return p ? std::string(reinterpret_cast<const char*>(p), chunk->GetDataSize()) : std::string();
}

TEST(BinaryChunkFileTest, WriterLaysOutRecordsByteForByte) {
  ACSChunkPtr root;
  root.SetChildInt("a", 5);
  ACSChunkPtr b;
  b.SetChildString("c", "hi");
  root.SetChild("b", b);
  root.SetChildNull("e");
  root.SetChildKUID("k", KUID(1, 2, 0));
  const Bytes expected = {
      'A', 'C', 'S', '$', 1, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0,
      // a: int 5
      8, 0, 0, 0, 2, 'a', 0, 1, 5, 0, 0, 0,
      // b: container holding c: "hi"
      15, 0, 0, 0, 2, 'b', 0, 0,
      7, 0, 0, 0, 2, 'c', 0, 3, 'h', 'i', 0,
      // e: empty, no payload
      4, 0, 0, 0, 2, 'e', 0, 5,
      // k: packed word (user 1, version 0), then content 2
      12, 0, 0, 0, 2, 'k', 0, 13, 1, 0, 0, 0, 2, 0, 0, 0,
  };
  EXPECT_EQ(Save(root), expected);
}

TEST(BinaryChunkFileTest, EmptyTreeIsAHeaderThatReadsAsNull) {
  for (const ACSChunkPtr& root : {ACSChunkPtr(), ACSChunkPtr(new TDBContainerTag)}) {
    const Bytes bytes = Save(root);
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(Bytes(bytes.begin() + 12, bytes.end()), Bytes(4, 0));
    EXPECT_TRUE(ACSChunk::IsNullChunk(Load(bytes).Get()));
  }
}

TEST(BinaryChunkFileTest, RoundTripKeepsTypesOrderAndBytes) {
  ACSChunkPtr root;
  root.SetChildString("Name", "Wagon");
  const float floats[] = {1.5f, -2.0f};
  root.SetChildFloatArray("pos", floats, 2);
  root.SetChildKUID("kuid", KUID(-3, 77, 127));
  ACSChunkPtr inner;
  inner.SetChildInt("n", -1);
  ACSChunkPtr deeper;
  deeper.SetChildNull("nothing");
  inner.SetChild("deeper", deeper);
  root.SetChild("inner", inner);
  const uint8_t raw[] = {0, 1, 2, 0xFF};
  root->SetChild("raw", root->CreateChunk(kACSRaw, ACSRawDataCore::CreateCopy(4, raw)));
  root->SetChild("five", root->CreateChunk(kACSText5, ACSRawDataCore::CreateCopy(3, "ab")));

  const Bytes bytes = Save(root);
  const ACSChunkPtr back = Load(bytes);
  ASSERT_EQ(back->GetType(), kACSContainer);
  const char* names[] = {"Name", "pos", "kuid", "inner", "raw", "five"};
  ASSERT_EQ(back.GetChildCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(back.GetChildName(i).c_str(), names[i]);
  EXPECT_STREQ(back.GetChildString("Name").c_str(), "Wagon");
  std::vector<float> values;
  EXPECT_TRUE(back.GetChildFloatArray("pos", values));
  EXPECT_EQ(values, std::vector<float>({1.5f, -2.0f}));
  EXPECT_EQ(back.GetChildKUID("kuid", KUID()), KUID(-3, 77, 127));
  EXPECT_EQ(back.GetChildContainer("inner").GetChildInt("n", 0), -1);
  const ACSChunkPtr nothing = back.GetChildContainer("inner").GetChildContainer("deeper")->FindChild("nothing");
  EXPECT_EQ(nothing->GetType(), kACSEmpty);
  EXPECT_FALSE(ACSChunk::IsNullChunk(nothing.Get()));
  EXPECT_EQ(Value(back->FindChild("raw")), std::string("\0\1\2\xFF", 4));
  // Type 5 comes back as text with the same bytes.
  EXPECT_EQ(back->FindChild("five")->GetType(), kACSText);
  EXPECT_EQ(Value(back->FindChild("five")), std::string("ab\0", 3));
  // A tree read from a file writes back the same bytes.
  EXPECT_EQ(Save(back), bytes);
}

TEST(BinaryChunkFileTest, UnknownFileTypesReadAsEmptyValues) {
  for (uint8_t type : {5, 6, 7, 9, 11, 14, 200}) {
    const ACSChunkPtr root = Load(File(Cat({Record("x", type, {1, 2, 3}), Record("y", 1, {9, 0, 0, 0})})));
    ASSERT_EQ(root.GetChildCount(), 2) << int(type);
    EXPECT_EQ(root->FindChild("x")->GetType(), kACSEmpty) << int(type);
    EXPECT_EQ(root->FindChild("x")->GetDataSize(), 0u);
    EXPECT_EQ(root.GetChildInt("y", 0), 9);
  }
}

TEST(BinaryChunkFileTest, NamesOf255CharactersOrMoreAreDropped) {
  ACSChunkPtr root;
  const std::string ok(254, 'n');
  const std::string tooLong(255, 'm');
  root.SetChildInt(ok.c_str(), 1);
  root.SetChildInt(tooLong.c_str(), 2);
  const Bytes bytes = Save(root);
  EXPECT_EQ(bytes.size(), 16u + 4 + 1 + 255 + 1 + 4);
  EXPECT_EQ(bytes[20], 255);
  const ACSChunkPtr back = Load(bytes);
  EXPECT_EQ(back.GetChildCount(), 1);
  EXPECT_EQ(back.GetChildInt(ok.c_str(), 0), 1);
}

TEST(BinaryChunkFileTest, VersionDecidesRootAndTextEncoding) {
  const Bytes body = Record("t", 3, Text("caf\xE9"));
  // Version 0: Windows-1252 text becomes UTF-8.
  EXPECT_STREQ(Load(File(body, 0)).GetChildString("t").c_str(), "caf\xC3\xA9");
  EXPECT_STREQ(Load(File(body, 1)).GetChildString("t").c_str(), "caf\xE9");
  // A text without its NUL at the very end of the body is read up to the
  // record's end and no further.
  const Bytes open = Record("t", 3, {'c', 'a', 'f', 0xE9});
  EXPECT_STREQ(Load(File(open, 0)).GetChildString("t").c_str(), "caf\xC3\xA9");
  EXPECT_STREQ(Load(File(open, 1)).GetChildString("t").c_str(), "caf\xE9");
  // Plain ASCII is viewed in place in either version.
  EXPECT_STREQ(Load(File(Record("t", 3, Text("plain")), 0)).GetChildString("t").c_str(), "plain");
  TDBBinaryFile* file = nullptr;
  const ACSChunkPtr root = Load(File(body, 2), &file);
  EXPECT_TRUE(ACSChunk::IsNullChunk(root.Get()));
}

TEST(BinaryChunkFileTest, VersionTwoBodyLoadsButHasNoRoot) {
  TBuffer stream;
  const Bytes bytes = File(Record("t", 1, {1, 0, 0, 0}), 2);
  stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(0);
  MPHandle handle(new TDBBinaryFile);
  auto* file = static_cast<TDBBinaryFile*>(handle.Get());
  file->Read(stream);
  EXPECT_EQ(file->BodyLength(), bytes.size() - 16);
  EXPECT_TRUE(ACSChunk::IsNullChunk(file->GetRoot().Get()));
}

TEST(BinaryChunkFileTest, ConvertedVersion0TextCanBeReplaced) {
  ACSChunkPtr root = Load(File(Cat({Record("t", 3, Text("\xE9t\xE9")), Record("u", 1, {1, 0, 0, 0})}), 0));
  ASSERT_STREQ(root.GetChildString("t").c_str(), "\xC3\xA9t\xC3\xA9");
  root.SetChildString("t", "summer");
  EXPECT_STREQ(root.GetChildString("t").c_str(), "summer");
  ASSERT_EQ(root.GetChildCount(), 2);
  EXPECT_STREQ(root.GetChildName(0).c_str(), "u");
  EXPECT_STREQ(root.GetChildName(1).c_str(), "t");
  // And the edit is what gets saved.
  const ACSChunkPtr again = Load(Save(root));
  EXPECT_STREQ(again.GetChildString("t").c_str(), "summer");
  EXPECT_EQ(again.GetChildCount(), 2);
}

TEST(BinaryChunkFileTest, EditsOverlayTheRecords) {
  const Bytes bytes = File(Cat({Record("a", 1, {1, 0, 0, 0}), Record("b", 1, {2, 0, 0, 0}), Record("c", 1, {3, 0, 0, 0})}));
  {
    // Without removal the record stays first.
    ACSChunkPtr root = Load(bytes);
    root->SetChild("a", root->CreateChunk(kACSInt, ACSRawDataCore::CreateCopy(4, "\x09\0\0\0")));
    EXPECT_EQ(root.GetChildCount(), 4);
    EXPECT_EQ(root.GetChildInt("a", 0), 1);
    EXPECT_STREQ(root.GetChildName(3).c_str(), "a");
  }
  {
    // Removing then adding replaces; the new child comes after the records.
    ACSChunkPtr root = Load(bytes);
    root.SetChildInt("a", 9);
    EXPECT_EQ(root.GetChildInt("a", 0), 9);
    ASSERT_EQ(root.GetChildCount(), 3);
    EXPECT_STREQ(root.GetChildName(0).c_str(), "b");
    EXPECT_STREQ(root.GetChildName(2).c_str(), "a");
    // An emptied overlay slot in the middle is reused in its place.
    root.SetChildInt("x", 1);
    root.SetChildInt("y", 2);
    root.RemoveChild("x");
    root.SetChildInt("z", 3);
    EXPECT_EQ(ChildNames(root), std::vector<std::string>({"b", "c", "a", "z", "y"}));
    root.RemoveChild("b");
    root.RemoveChild("b");
    EXPECT_EQ(root.GetChildCount(), 4);
    EXPECT_FALSE(root.HasChild("b"));
  }
  {
    // Every soup over the same list sees the edits of another.
    ACSChunkPtr root = Load(File(Record("box", 0, Record("v", 1, {4, 0, 0, 0}))));
    ACSChunkPtr one = root.GetChildContainer("box");
    ACSChunkPtr two = root.GetChildContainer("box");
    EXPECT_NE(one.Get(), two.Get());
    one.SetChildInt("w", 5);
    EXPECT_EQ(two.GetChildInt("w", 0), 5);
    EXPECT_EQ(two.GetChildCount(), 2);
  }
}

TEST(BinaryChunkFileTest, EveryLookupMakesANewNodeOverTheSameBytes) {
  const ACSChunkPtr root = Load(File(Record("t", 3, Text("abc"))));
  const ACSChunkPtr a = root->GetChild("t");
  const ACSChunkPtr b = root->GetChild("t");
  EXPECT_NE(a.Get(), b.Get());
  EXPECT_EQ(a->GetData(), b->GetData());
  EXPECT_EQ(a->GetType(), b->GetType());
}

TEST(BinaryChunkFileTest, LongListsFindTheFirstOfAName) {
  Bytes body;
  for (int i = 0; i < 40; ++i) body = Cat({body, Record("n" + std::to_string(i), 1, {uint8_t(i), 0, 0, 0})});
  body = Cat({body, Record("n5", 1, {99, 0, 0, 0})});
  ACSChunkPtr root = Load(File(body));
  EXPECT_EQ(root.GetChildCount(), 41);
  EXPECT_EQ(root.GetChildInt("n5", -1), 5);
  EXPECT_EQ(root.GetChildInt("n39", -1), 39);
  EXPECT_FALSE(root.HasChild("n40"));
  for (int i = 40; i >= 0; --i) EXPECT_FALSE(root.GetChildName(i).IsNull());
  root->RemoveChild(root->FindChild("n5"));
  EXPECT_EQ(root.GetChildInt("n5", -1), 99);
}

TEST(BinaryChunkFileTest, EditsOfLongListsKeepOrderAndDuplicates) {
  // A container long enough to be looked up through its index, with two
  // records named n5, inside the root so that two soups can view it.
  Bytes list;
  std::vector<std::string> expected;
  for (int i = 0; i < 60; ++i) {
    expected.push_back("n" + std::to_string(i));
    list = Cat({list, Record(expected.back(), 1, {uint8_t(i), 0, 0, 0})});
  }
  list = Cat({list, Record("n5", 1, {99, 0, 0, 0})});
  expected.push_back("n5");
  const int late = 99;
  const ACSChunkPtr root = Load(File(Record("box", 0, list)));
  ACSChunkPtr box = root.GetChildContainer("box");
  ASSERT_EQ(ChildNames(box), expected);

  // The first record of a name wins until it is removed.
  EXPECT_EQ(box.GetChildInt("n5", -1), 5);
  box->RemoveChild(box->FindChild("n5"));
  EXPECT_EQ(box.GetChildInt("n5", -1), 99);
  expected.erase(expected.begin() + 5);
  EXPECT_EQ(ChildNames(box), expected);
  box->RemoveChild(box->FindChild("n5"));
  EXPECT_FALSE(box.HasChild("n5"));
  expected.pop_back();
  // Setting a record's name hides the record and appends the new child.
  box.SetChildInt("n10", 100);
  expected.erase(std::find(expected.begin(), expected.end(), "n10"));
  expected.push_back("n10");
  // An emptied overlay slot is reused in its place.
  box.SetChildInt("x", 1);
  box.SetChildInt("y", 2);
  box.RemoveChild("x");
  box.SetChildInt("z", 3);
  expected.insert(expected.end(), {"z", "y"});
  // Added without removing: the record is still found first.
  box->SetChild("n3", box->CreateChunk(kACSInt, ACSRawDataCore::CreateCopy(4, &late)));
  expected.push_back("n3");
  // A chunk added twice is held once; removing a record twice hides it once.
  ACSChunkPtr once = box->CreateChunk(kACSInt, ACSRawDataCore::CreateCopy(4, &late));
  box->SetChild("once", once);
  box->SetChild("once", once);
  expected.push_back("once");
  const ACSChunkPtr n20 = box->FindChild("n20");
  box->RemoveChild(n20);
  box->RemoveChild(n20);
  expected.erase(std::find(expected.begin(), expected.end(), "n20"));
  // A record of another list is not removed through this one.
  box->RemoveChild(root->FindChild("box"));

  EXPECT_EQ(ChildNames(box), expected);
  EXPECT_EQ(ChildNames(root.GetChildContainer("box")), expected);
  EXPECT_EQ(box.GetChildInt("n10", -1), 100);
  EXPECT_EQ(box.GetChildInt("n3", -1), 3);
  EXPECT_EQ(box.GetChildInt("z", -1), 3);
  EXPECT_EQ(box.GetChildInt("n59", -1), 59);
  EXPECT_FALSE(box.HasChild("x"));
  EXPECT_FALSE(box.HasChild("n20"));
  EXPECT_STREQ(box.GetChildName(static_cast<int>(expected.size())).c_str(), "");
  // What is written is what the edited soup shows.
  const ACSChunkPtr back = Load(Save(root)).GetChildContainer("box");
  EXPECT_EQ(ChildNames(back), expected);
  EXPECT_EQ(back.GetChildInt("n10", -1), 100);
  EXPECT_EQ(back.GetChildInt("n3", -1), 3);
}

TEST(BinaryChunkFileTest, ManyAddedChildrenKeepTheirSlotOrder) {
  // Added children follow the record in overlay order; children added after
  // removals fill the emptied places first, lowest first.
  ACSChunkPtr root = Load(File(Record("r", 1, {7, 0, 0, 0})));
  constexpr int kAdded = 1500;
  constexpr int kLater = 600;
  for (int i = 0; i < kAdded; ++i) root.SetChildInt(("a" + std::to_string(i)).c_str(), i);
  for (int i = 0; i < kAdded; i += 3) root.RemoveChild(("a" + std::to_string(i)).c_str());
  for (int j = 0; j < kLater; ++j) root.SetChildInt(("b" + std::to_string(j)).c_str(), -j);
  std::vector<std::string> expected = {"r"};
  for (int i = 0; i < kAdded; ++i) expected.push_back(i % 3 ? "a" + std::to_string(i) : "b" + std::to_string(i / 3));
  for (int j = kAdded / 3; j < kLater; ++j) expected.push_back("b" + std::to_string(j));
  EXPECT_EQ(ChildNames(root), expected);
  // Backwards too, as a copy empties a container from its last child.
  for (int i = static_cast<int>(expected.size()) - 1; i >= 0; i -= 97)
    EXPECT_EQ(root.GetChildName(i).c_str(), expected[static_cast<std::size_t>(i)]) << i;
  EXPECT_EQ(root.GetChildInt("a1499", 0), 1499);
  EXPECT_EQ(root.GetChildInt("b599", 0), -599);
  EXPECT_FALSE(root.HasChild("a3"));
  EXPECT_EQ(ChildNames(Load(Save(root))), expected);
}

TEST(BinaryChunkFileTest, AlignedRawValuesSkipTheirPadding) {
  // The payload of the record starts at body offset 6; the value at 16.
  const Bytes payload = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 1, 2, 3};
  const ACSChunkPtr root = Load(File(Record("", 12, payload)));
  const ACSChunkPtr raw = root->FindChild("");
  EXPECT_EQ(raw->GetType(), kACSRaw);
  EXPECT_EQ(Value(raw), std::string("\1\2\3"));
  // Padding longer than the payload leaves no value rather than a negative size.
  const ACSChunkPtr short_ = Load(File(Record("", 12, {0xAA, 0xAA})))->FindChild("");
  EXPECT_EQ(short_->GetType(), kACSRaw);
  EXPECT_EQ(short_->GetDataSize(), 0u);
  EXPECT_EQ(short_->GetData(), nullptr);
}

TEST(BinaryChunkFileTest, MalformedFilesAreRefused) {
  const Bytes good = File(Cat({Record("a", 1, {1, 0, 0, 0}), Record("b", 0, Record("c", 3, Text("x")))}));
  auto withBody = [](Bytes body) { return File(body); };
  Bytes deep = Record("z", 1, {1, 0, 0, 0});
  for (int i = 0; i <= ChunkFile::kMaxDepth; ++i) deep = Record("d", 0, deep);
  struct Case {
    const char* what;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"empty stream", {}},
      {"wrong magic", [&] { Bytes b = good; b[3] = '#'; return b; }()},
      {"body length 0", File({})},
      {"negative body length", [&] { Bytes b = good; b[15] = 0x80; return b; }()},
      {"body length past the end", [&] { Bytes b = good; b[12] += 1; return b; }()},
      {"record size past the list", withBody({200, 0, 0, 0, 1, 'a', 0, 1, 0, 0})},
      {"record size that wraps", withBody({0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0})},
      {"name longer than its record", withBody({3, 0, 0, 0, 9, 'a', 0, 1, 0, 0, 0, 0})},
      {"no room for the type byte", withBody({2, 0, 0, 0, 1, 0, 0, 0})},
      {"bad nested list", withBody(Record("b", 0, {9, 0, 0, 0, 0, 1, 0, 0}))},
      {"nesting too deep", withBody(deep)},
  };
  for (const Case& c : cases) EXPECT_TRUE(ACSChunk::IsNullChunk(Load(c.file).Get())) << c.what;
  // Every truncation of a good file is refused.
  for (std::size_t n = 0; n < good.size(); ++n) {
    const ACSChunkPtr root = Load(Bytes(good.begin(), good.begin() + n));
    EXPECT_TRUE(ACSChunk::IsNullChunk(root.Get())) << n;
  }
  // A short tail of 1 to 5 bytes after the records is ignored.
  EXPECT_EQ(Load(withBody(Cat({Record("a", 1, {1, 0, 0, 0}), {7, 7, 7, 7, 7}}))).GetChildInt("a", 0), 1);
  EXPECT_TRUE(ACSChunk::IsNullChunk(Load(withBody(Cat({Record("a", 1, {1, 0, 0, 0}), {7, 7, 7, 7, 7, 7}}))).Get()));
  // A name without its NUL is read up to its record's bounds only.
  const ACSChunkPtr root = Load(withBody({5, 0, 0, 0, 2, 'a', 'b', 1, 0}));
  EXPECT_STREQ(root.GetChildName(0).c_str(), "ab");
}

TEST(BinaryChunkFileTest, ValidateChunkRecordsChecksEachLevel) {
  const Bytes ok = Cat({Record("a", 0, Record("b", 0, Record("c", 1, {1, 0, 0, 0}))), {1, 2}});
  EXPECT_TRUE(ValidateChunkRecords(ok.data(), static_cast<uint32_t>(ok.size())));
  EXPECT_TRUE(ValidateChunkRecords(ok.data(), 0));
  Bytes bad = ok;
  bad[4 + 3 + 4] += 1;  // the nested record's size, now past its parent
  EXPECT_FALSE(ValidateChunkRecords(bad.data(), static_cast<uint32_t>(bad.size())));
}

}  // namespace
