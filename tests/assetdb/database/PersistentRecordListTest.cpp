#include "assetdb/PersistentRecordList.h"

#include "BlockBytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Rand.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TStreamObfuscated.h"

namespace {

using blocktest::Bytes;
using blocktest::ReadBlock;
using blocktest::WriteBlock;

// Builds a stored block field by field.
struct Block {
  Bytes bytes;
  Block& U32(uint32_t v) {
    Vak::AppendLE32(bytes, v);
    return *this;
  }
  Block& U8(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Block& Text(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Block& Kuid(uint32_t content, uint32_t packed) { return U32(content).U32(packed); }
  // One record with the given path and KUID words (content, packed pairs).
  Block& Record(const std::string& path, std::vector<uint32_t> kuidWords = {}, uint32_t id = 9) {
    U32(1).U8(1).U32(0).Text(path).Text("").U32(id).U32(static_cast<uint32_t>(kuidWords.size() / 2));
    for (uint32_t w : kuidWords) U32(w);
    return U32(0x41494E65);
  }
};

std::vector<PersistentRecord*> RecordsOf(const PersistentRecordList& list) {
  std::vector<PersistentRecord*> out;
  for (PersistentRecord* r : list.Records()) out.push_back(r);
  return out;
}

std::vector<KUID> KuidsOf(const PersistentRecord& record) {
  std::vector<KUID> out;
  for (const KUID& k : record.kuids) out.push_back(k);
  return out;
}

// A list that is not empty, so a failed read shows that it was cleared.
void Prefill(PersistentRecordList& list) {
  PersistentRecord* r = list.Add();
  r->stored = true;
  r->kuids.Append(KUID(1, 2, 0));
}

TEST(PersistentRecordListTest, FixturePinsTheLayout) {
  const Bytes fixture = {
      0x00, 0x00, 0x00, 0x00,  // list version
      0x01, 0x00, 0x00, 0x00,  // record count
      0x01, 0x00, 0x00, 0x00,  // record version
      0x01,                    // flag
      0x07, 0x00, 0x00, 0x00,  // value
      0x03, 0x00, 0x00, 0x00, 'a', '/', 'b',  // path
      0x01, 0x00, 0x00, 0x00, 't',            // text
      0x04, 0x03, 0x02, 0x01,                 // id
      0x01, 0x00, 0x00, 0x00,                 // KUID count
      0x05, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x04,  // <kuid2:1000:5:2>
      0x65, 0x4E, 0x49, 0x41,                 // end marker
  };
  PersistentRecordList list;
  ASSERT_TRUE(ReadBlock(list, fixture));
  std::vector<PersistentRecord*> records = RecordsOf(list);
  ASSERT_EQ(records.size(), 1u);
  const PersistentRecord& r = *records[0];
  EXPECT_FALSE(r.flagA);
  EXPECT_TRUE(r.flagB);
  EXPECT_TRUE(r.stored);
  EXPECT_EQ(r.value, 7u);
  EXPECT_STREQ(r.path, "a/b");
  EXPECT_STREQ(r.text, "t");
  EXPECT_EQ(r.id, 0x01020304);
  EXPECT_EQ(KuidsOf(r), std::vector<KUID>{KUID(1000, 5, 2)});
  EXPECT_EQ(WriteBlock(list), fixture);
}

TEST(PersistentRecordListTest, WriteCountsAndWritesOnlyStoredRecordsAndTheFlagsOr) {
  PersistentRecordList list;
  struct Case {
    bool stored, flagA, flagB;
  };
  const Case cases[] = {{true, true, false}, {false, true, true}, {true, false, false}, {true, false, true}};
  for (const Case& c : cases) {
    PersistentRecord* r = list.Add();
    r->stored = c.stored;
    r->flagA = c.flagA;
    r->flagB = c.flagB;
    r->text = c.stored ? "kept" : "dropped";
  }
  PersistentRecordList back;
  ASSERT_TRUE(ReadBlock(back, WriteBlock(list)));
  std::vector<PersistentRecord*> records = RecordsOf(back);
  ASSERT_EQ(records.size(), 3u);
  const bool flags[] = {true, false, true};
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_STREQ(records[i]->text, "kept");
    EXPECT_FALSE(records[i]->flagA);
    EXPECT_EQ(records[i]->flagB, flags[i]) << i;
  }
}

TEST(PersistentRecordListTest, BlockRoundTrips) {
  PersistentRecordList list;
  const std::string longest(Vak::File::Path::kMaxLength, 'p');
  const std::string paths[] = {"", "data/archive.va", longest};
  uint32_t kuidCount = 0;
  for (const std::string& path : paths) {
    PersistentRecord* r = list.Add();
    r->stored = true;
    r->flagA = !path.empty();
    r->value = 0xFFFFFFFFu - kuidCount;
    ASSERT_TRUE(r->path.Set(path.c_str()));
    r->text = path.empty() ? "" : "text";
    // Past one block of KUIDs in the last record; negative users are unversioned.
    for (uint32_t i = 0; i < kuidCount; ++i) r->kuids.Append(i % 2 ? KUID(100 + i, i, 3) : KUID(-7, i, 127));
    kuidCount += 130;
  }
  const Bytes first = WriteBlock(list);
  PersistentRecordList back;
  ASSERT_TRUE(ReadBlock(back, first));
  std::vector<PersistentRecord*> was = RecordsOf(list), now = RecordsOf(back);
  ASSERT_EQ(now.size(), was.size());
  for (size_t i = 0; i < now.size(); ++i) {
    EXPECT_STREQ(now[i]->path, was[i]->path);
    EXPECT_STREQ(now[i]->text, was[i]->text);
    EXPECT_EQ(now[i]->value, was[i]->value);
    EXPECT_EQ(now[i]->id, was[i]->id);
    EXPECT_EQ(KuidsOf(*now[i]), KuidsOf(*was[i]));
  }
  EXPECT_EQ(WriteBlock(back), first);
}

// In the index file the block sits between others inside the scrambling
// stream: lengths are checked against what follows it, not the whole stream.
TEST(PersistentRecordListTest, ReadsBetweenOtherBlocksOfAScrambledStream) {
  PersistentRecordList list;
  PersistentRecord* r = list.Add();
  r->stored = true;
  r->path = "assets/x";
  for (int i = 0; i < 3; ++i) r->kuids.Append(KUID(77, i, 1));
  // Bytes after the block.
  for (const uint32_t trailing : {0u, 64u}) {
    DynamicBuffer buffer;
    TBuffer inner(&buffer);
    {
      TStreamObfuscated out;
      out.Open(true, &inner, TStreamObfuscated::kScrambled);
      out.WriteInt(0xDEADBEEF);
      list.Write(out);
      for (uint32_t i = 0; i < trailing; ++i) out.WriteByte(0xFF);
    }
    inner.Seek(0, TStream::kBegin);
    TStreamObfuscated in;
    in.Open(false, &inner, TStreamObfuscated::kScrambled);
    ASSERT_EQ(in.ReadInt(), 0xDEADBEEFu);
    PersistentRecordList back;
    EXPECT_TRUE(back.Read(in)) << trailing;
    ASSERT_EQ(RecordsOf(back).size(), 1u);
    EXPECT_STREQ(RecordsOf(back)[0]->path, "assets/x");
    EXPECT_EQ(KuidsOf(*RecordsOf(back)[0]), KuidsOf(*r));
    if (trailing) {
      EXPECT_EQ(in.ReadByte(), 0xFF);
    }
  }
}

TEST(PersistentRecordListTest, NewRecordsDrawTheirIdFromTheKernelGeneratorAndAReadOverwritesIt) {
  Vak::Kernel::GlobalRand().Randomise(1234);
  Vak::Rand mirror;
  mirror.Randomise(1234);
  PersistentRecordList list;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list.Add()->id, mirror.NextInt(0, 0x7fffffff));

  const int32_t drawn = mirror.NextInt(0, 0x7fffffff);
  const uint32_t stored = static_cast<uint32_t>(drawn) ^ 0x5A5A5A5Au;
  ASSERT_TRUE(ReadBlock(list, Block().U32(0).U32(1).Record("x", {}, stored).bytes));
  ASSERT_EQ(RecordsOf(list).size(), 1u);
  EXPECT_EQ(RecordsOf(list)[0]->id, static_cast<int32_t>(stored));
}

TEST(PersistentRecordListTest, TextsKeepTheStringFormsLimit) {
  struct Case {
    size_t length;
    size_t readBack;
  };
  const Case cases[] = {{0xFFFF, 0xFFFF}, {0x10000, 0}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'w');
    // Stored at full length by some other writer: the read passes over it.
    Block stored;
    stored.U32(0).U32(1).U32(1).U8(0).U32(0).Text("p").Text(text).U32(3).U32(0).U32(0x41494E65);
    PersistentRecordList list;
    ASSERT_TRUE(ReadBlock(list, stored.bytes)) << c.length;
    ASSERT_EQ(RecordsOf(list).size(), 1u);
    EXPECT_EQ(RecordsOf(list)[0]->text.Size(), c.readBack) << c.length;
    // Written from memory: the string form's own rule.
    PersistentRecordList mine;
    PersistentRecord* r = mine.Add();
    r->stored = true;
    r->text = text.c_str();
    PersistentRecordList back;
    ASSERT_TRUE(ReadBlock(back, WriteBlock(mine))) << c.length;
    EXPECT_EQ(RecordsOf(back)[0]->text.Size(), c.readBack) << c.length;
  }
}

TEST(PersistentRecordListTest, NullKuidsAreSkippedOnRead) {
  // Null: content -1, user -1 in the low 25 bits with version 127 on top.
  const uint32_t nullPacked = 0xFFFFFFFFu;
  PersistentRecordList list;
  ASSERT_TRUE(ReadBlock(list, Block().U32(0).U32(1).Record("x", {5, 1000, 0xFFFFFFFFu, nullPacked, 6, 1000}).bytes));
  ASSERT_EQ(RecordsOf(list).size(), 1u);
  EXPECT_EQ(KuidsOf(*RecordsOf(list)[0]), (std::vector<KUID>{KUID(1000, 5, 0), KUID(1000, 6, 0)}));
}

TEST(PersistentRecordListTest, ContainsMatchesAllThreePartsInAnyRecord) {
  PersistentRecordList list;
  EXPECT_FALSE(list.Contains(KUID(1000, 5, 0)));
  EXPECT_FALSE(list.Contains(KUID::Null()));
  list.Add()->kuids.Append(KUID(1000, 5, 1));
  PersistentRecord* second = list.Add();
  for (int i = 0; i < 200; ++i) second->kuids.Append(KUID(2000, i, 0));
  struct Case {
    KUID kuid;
    bool expected;
  };
  const Case cases[] = {
      {KUID(1000, 5, 1), true},  {KUID(1000, 5, 0), false}, {KUID(1000, 6, 1), false},
      {KUID(1001, 5, 1), false}, {KUID(2000, 199, 0), true}, {KUID(2000, 200, 0), false},
      {KUID::Null(), false},
  };
  for (const Case& c : cases) EXPECT_EQ(list.Contains(c.kuid), c.expected) << c.kuid.ToShortText();
  list.Clear();
  EXPECT_TRUE(list.Records().IsEmpty());
  EXPECT_FALSE(list.Contains(KUID(1000, 5, 1)));
}

TEST(PersistentRecordListTest, FreeBlocksLeavesTheRecords) {
  PersistentRecordList list;
  PersistentRecord* r = list.Add();
  r->text = "still here";
  list.FreeBlocks();
  EXPECT_TRUE(list.Records().IsEmpty());
  EXPECT_STREQ(r->text, "still here");
  delete r;
}

TEST(PersistentRecordListTest, PathsThatFitTheFieldAreReadWholeAndLongerOnesFailTheRead) {
  struct Case {
    size_t length;
    bool ok;
  };
  const Case cases[] = {{0, true}, {Vak::File::Path::kMaxLength, true}, {Vak::File::Path::kMaxLength + 1, false},
                        {Vak::File::Path::kSize + 40, false}, {5000, false}};
  for (const Case& c : cases) {
    const std::string path(c.length, 'q');
    PersistentRecordList list;
    Prefill(list);
    EXPECT_EQ(ReadBlock(list, Block().U32(0).U32(1).Record(path).bytes), c.ok) << c.length;
    std::vector<PersistentRecord*> records = RecordsOf(list);
    ASSERT_EQ(records.size(), c.ok ? 1u : 0u) << c.length;
    if (c.ok) {
      EXPECT_EQ(std::string(records[0]->path), path);
    }
  }
}

TEST(PersistentRecordListTest, MalformedBlocksFailAndLeaveTheListEmpty) {
  const Bytes good = Block().U32(0).U32(2).Record("a", {5, 1000}).Record("b", {6, 1000}).bytes;
  PersistentRecordList check;
  ASSERT_TRUE(ReadBlock(check, good));

  // Offsets into the second record, which starts after the first one's 38 bytes.
  const size_t second = 8 + 38;
  struct Case {
    const char* name;
    size_t offset;  // where the 32-bit field is replaced
    uint32_t value;
  };
  const Case cases[] = {
      {"list version 1", 0, 1},
      {"record count past the end", 4, 3},
      {"record count huge", 4, 0xFFFFFFFFu},
      {"record version 0", second, 0},
      {"record version 2", second, 2},
      {"path length past the end", second + 9, 1000},
      {"path length huge", second + 9, 0xFFFFFFFFu},
      {"text length past the end", second + 14, 200},
      {"text length huge", second + 14, 0x80000000u},
      {"KUID count past the end", second + 22, 2},
      {"KUID count huge", second + 22, 0x20000000u},
      {"end marker", second + 34, 0x41494E66},
      {"end marker of the first record", 8 + 34, 0x65494E41},
  };
  for (const Case& c : cases) {
    Bytes bytes = good;
    Vak::PutLE32(bytes.data() + c.offset, c.value);
    PersistentRecordList list;
    Prefill(list);
    EXPECT_FALSE(ReadBlock(list, bytes)) << c.name;
    EXPECT_TRUE(list.Records().IsEmpty()) << c.name;
    EXPECT_FALSE(list.Contains(KUID(1000, 5, 0))) << c.name;
  }
  // Every cut short of the whole block.
  for (size_t n = 0; n < good.size(); ++n) {
    PersistentRecordList list;
    Prefill(list);
    EXPECT_FALSE(ReadBlock(list, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)))) << n;
    EXPECT_TRUE(list.Records().IsEmpty()) << n;
  }
}

TEST(PersistentRecordListTest, GlobalListIsOneList) {
  PersistentRecordList& list = PersistentRecordList::Global();
  EXPECT_EQ(&list, &PersistentRecordList::Global());
  list.Add()->kuids.Append(KUID(3, 4, 0));
  EXPECT_TRUE(PersistentRecordList::Global().Contains(KUID(3, 4, 0)));
  list.Clear();
  EXPECT_FALSE(PersistentRecordList::Global().Contains(KUID(3, 4, 0)));
}

} // namespace
