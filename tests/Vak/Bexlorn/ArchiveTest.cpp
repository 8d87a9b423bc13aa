#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "tests/Vak/Bexlorn/ArchiveBuilder.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::File;
using Vak::FileSubArchive;
using Vak::FileSubstList;
using Vak::PString;
using Vak::test::ArchiveBuilder;
using Vak::test::ReadVia;
using Vak::test::Slurp;
using Vak::test::WriteVia;
namespace Archive = Vak::Archive;
using platform::test::TempFolder;

// Bit by bit, straight from the definition.
uint32_t ReferenceCrc(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char b : bytes) {
    crc ^= uint32_t(b) << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return ~crc;
}

std::string Le32(uint32_t v) { return ArchiveBuilder::U32(v); }
std::string Le16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }

std::string Header(const std::string& name, uint32_t size, uint32_t stored, uint32_t crc, uint16_t flags) {
  std::string h = name + std::string(260 - name.size(), '\0');
  return h + Le32(size) + Le32(stored) + Le32(crc) + Le32(0) + Le32(0) + Le32(0) + Le16(flags) + Le16(0);
}

TEST(ArchiveCrcTest, PublishedVectorsAndTable) {
  struct Case {
    std::string input;
    uint32_t crc;
  };
  const std::vector<Case> cases = {
      {"123456789", 0xFC891918},  // the check value
      {"", 0x00000000},
      {"a", ReferenceCrc("a")},
      {std::string(1000, '\xFF'), ReferenceCrc(std::string(1000, '\xFF'))},
  };
  for (const auto& c : cases) EXPECT_EQ(Archive::Crc::Of(c.input.data(), c.input.size()), c.crc) << c.input.size();

  const uint32_t* table = Archive::Crc::Table();
  EXPECT_EQ(table[0], 0u);
  EXPECT_EQ(table[1], 0x04C11DB7u);
  EXPECT_EQ(table[128], 0x690CE0EEu);  // the polynomial shifted through a set top bit
  EXPECT_EQ(table[255], 0xB1F740B4u);
}

// Eight bytes at a time must agree with the definition at every length and
// split, so no tail or alignment case is lost.
TEST(ArchiveCrcTest, AgreesWithTheDefinitionAtEveryLengthAndSplit) {
  std::mt19937 rng(7);
  std::string data(300, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  for (std::size_t n = 0; n <= 70; ++n) {
    const std::string part = data.substr(3, n);
    ASSERT_EQ(Archive::Crc::Of(part.data(), part.size()), ReferenceCrc(part)) << n;
  }
  for (std::size_t split : {0, 1, 7, 8, 9, 150, 300}) {
    uint32_t crc = Archive::Crc::Update(Archive::Crc::kInitial, data.data(), split);
    crc = Archive::Crc::Update(crc, data.data() + split, data.size() - split);
    EXPECT_EQ(Archive::Crc::Final(crc), ReferenceCrc(data)) << split;
  }
}

TEST(ArchiveFormatTest, HeaderAndRecordFieldsSitAtTheirOffsets) {
  Archive::IndexRecord r;
  r.payloadOffset = 0x11223344;
  r.payloadSize = 0x55667788;
  ASSERT_TRUE(r.header.SetName("dir/Name.txt"));
  r.header.uncompressedSize = 0x01020304;
  r.header.storedSize = 0x05060708;
  r.header.checksum = 0xA1B2C3D4;
  r.header.reserved1 = 1;
  r.header.reserved2 = 2;
  r.header.fileTime = 0x0A0B0C0D;
  r.header.flags = 0x80;
  r.header.reserved3 = 0x1234;
  uint8_t raw[Archive::kRecordBytes];
  r.Encode(raw);
  const std::string expected = Le32(0x11223344) + Le32(0x55667788) + "dir/Name.txt" + std::string(248, '\0') +
                               Le32(0x01020304) + Le32(0x05060708) + Le32(0xA1B2C3D4) + Le32(1) + Le32(2) +
                               Le32(0x0A0B0C0D) + Le16(0x80) + Le16(0x1234);
  ASSERT_EQ(expected.size(), Archive::kRecordBytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), sizeof raw), expected);

  const Archive::IndexRecord back = Archive::IndexRecord::Decode(raw);
  uint8_t again[Archive::kRecordBytes];
  back.Encode(again);
  EXPECT_EQ(std::memcmp(raw, again, sizeof raw), 0);
  EXPECT_EQ(back.header.Name(), "dir/Name.txt");
  EXPECT_TRUE(back.header.Compressed());
}

// A name field without a terminator ends with the field.
TEST(ArchiveFormatTest, NameFieldWithoutTerminatorIsBounded) {
  uint8_t raw[Archive::kHeaderBytes];
  std::memset(raw, 'n', sizeof raw);
  const Archive::FileHeader h = Archive::FileHeader::Decode(raw);
  EXPECT_EQ(h.Name(), std::string(260, 'n'));

  Archive::FileHeader set;
  EXPECT_FALSE(set.SetName(std::string(260, 'x').c_str()));
  EXPECT_TRUE(set.SetName(std::string(259, 'x').c_str()));
  EXPECT_EQ(set.Name().size(), 259u);
}

TEST(ArchiveFormatTest, InfoValidityAndShortInfo) {
  struct Case {
    uint32_t identifier, version;
    bool valid;
  };
  for (const Case& c : std::vector<Case>{{0x41524330, 257, true},
                                         {0x41524330, 258, true},
                                         {0x41524330, 259, false},
                                         {0x41524330, 256, false},
                                         {0x30435241, 258, false}}) {
    Archive::Info info;
    info.identifier = c.identifier;
    info.version = c.version;
    EXPECT_EQ(info.Valid(), c.valid) << c.identifier << " " << c.version;
  }
  // Eight bytes of info: the counts read as zero.
  const std::string shortInfo = Le32(Archive::kIdentifier) + Le32(258);
  const Archive::Info info = Archive::Info::Decode(reinterpret_cast<const uint8_t*>(shortInfo.data()), shortInfo.size());
  EXPECT_TRUE(info.Valid());
  EXPECT_EQ(info.entryCount, 0u);
  EXPECT_EQ(info.indexOffset, 0u);
}

class ArchiveFileTest : public ::testing::Test {
protected:
  void TearDown() override { FileSubstList::Get().Remove(PString("va"), false); }
  void Unmount() { File::Subst(PString("va"), nullptr, false); }
  void Mount(bool writable) { ASSERT_TRUE(File::Subst(PString("va"), path_.c_str(), writable)); }

  TempFolder dir_;
  std::string path_ = dir_ / "test.va";
};

TEST_F(ArchiveFileTest, NewArchiveIsFortyFourBytes) {
  {
    FileSubArchive archive(path_.c_str(), true);
    EXPECT_TRUE(archive.IsReadable());
    EXPECT_EQ(Slurp(path_), "ARCH" "INFO" + Le32(32) + Le32(0x41524330) + Le32(258) + Le32(0) + Le32(0) +
                                std::string(16, '\0'));
  }
  // Closing writes the (empty) index behind the info.
  EXPECT_EQ(Slurp(path_).substr(44), "IDX " + Le32(0));
}

// One plain file, written through the substitute, to the byte.
TEST_F(ArchiveFileTest, TinyArchiveBytes) {
  Mount(true);
  ASSERT_TRUE(WriteVia("va:a.txt", "hi"));
  Unmount();
  const uint32_t crc = ReferenceCrc("hi");
  const std::string expected = "ARCH" "INFO" + Le32(32) + Le32(0x41524330) + Le32(258) + Le32(1) + Le32(342) +
                               std::string(16, '\0') +                                    // 44
                               "FIL " + Le32(290) + Header("a.txt", 2, 2, crc, 0) + "hi" +  // 342
                               "IDX " + Le32(296) + Le32(340) + Le32(2) + Header("a.txt", 2, 2, crc, 0);
  EXPECT_EQ(Slurp(path_), expected);
}

// A compressed file in a new archive carries the 12-byte head and the
// chunk words; its header counts them all.
TEST_F(ArchiveFileTest, CompressedEntryBytes) {
  const std::string content(20000, 'z');
  Mount(true);
  ASSERT_TRUE(WriteVia("va:z.bin", content, File::kWriteCompressed | File::kCreate));
  Unmount();
  const std::string bytes = Slurp(path_);
  const std::string payload = ArchiveBuilder().Compress(content);
  ASSERT_EQ(payload.substr(0, 12), "CFIL" + Le32(257) + Le32(20000));
  EXPECT_EQ(bytes.substr(44, 8 + 288), "FIL " + Le32(288 + uint32_t(payload.size())) +
                                           Header("z.bin", 20000, uint32_t(payload.size()), ReferenceCrc(content), 0x80));
  EXPECT_EQ(bytes.substr(44 + 8 + 288, payload.size()), payload);
  Mount(false);
  EXPECT_EQ(ReadVia("va:z.bin"), content);
}

class ArchiveVersionTest : public ArchiveFileTest, public ::testing::WithParamInterface<uint32_t> {};

// Both versions read: a version-257 archive's compressed payload has only
// "CFIL" before its chunks.
TEST_P(ArchiveVersionTest, ReadsPlainAndCompressedEntries) {
  std::string big;
  for (int i = 0; i < 40000; ++i) big += static_cast<char>("abcabcxyz"[i % 9] + (i / 5000));
  ArchiveBuilder b(GetParam());
  b.AddFile("plain.txt", "plain content", false, 1234);
  const Archive::IndexRecord packed = b.AddFile("dir/packed.bin", big, true);
  b.AddIndex();
  b.WriteTo(path_);
  const std::string bytes = Slurp(path_);
  EXPECT_EQ(bytes.substr(packed.payloadOffset, GetParam() == 257 ? 4 : 12),
            GetParam() == 257 ? std::string("CFIL") : "CFIL" + Le32(257) + Le32(40000));

  Mount(false);
  EXPECT_EQ(ReadVia("va:plain.txt"), "plain content");
  EXPECT_EQ(ReadVia("va:dir/packed.bin"), big);
  EXPECT_EQ(ReadVia("va:dir/packed.bin", File::kReadStored), bytes.substr(packed.payloadOffset, packed.payloadSize));
  uint32_t time = 0;
  EXPECT_TRUE(File::GetFileTime("va:plain.txt", time));
  EXPECT_EQ(time, 1234u);
  // Seeking inside compressed content walks the chunk words from the head.
  File f;
  ASSERT_TRUE(f.Open("va:dir/packed.bin", File::kRead).Ok());
  EXPECT_EQ(f.Size(), 40000u);
  f.Seek(30000, File::kSeekBegin);
  char c = 0;
  ASSERT_EQ(f.Read(&c, 1, 1), 1u);
  EXPECT_EQ(c, big[30000]);
}

INSTANTIATE_TEST_SUITE_P(Versions, ArchiveVersionTest, ::testing::Values(257u, 258u));

// Damaged archives: refused (not readable) when the signature or info is
// wrong; otherwise whatever the blocks still hold is found by walking them.
// Never a crash, never a read past the bytes. Mounted for writing, an archive
// whose structure does not read back cleanly is read-only and left as it is:
// a block stored behind damage would be lost at the next mount.
TEST_F(ArchiveFileTest, TruncatedAndDamagedArchives) {
  const std::string a(100, 'a');
  std::string b;
  for (int i = 0; i < 40000; ++i) b += static_cast<char>('0' + i % 7);
  Mount(true);
  ASSERT_TRUE(WriteVia("va:a.txt", a));
  ASSERT_TRUE(WriteVia("va:b.bin", b, File::kWriteCompressed | File::kCreate));
  Unmount();
  const std::string good = Slurp(path_);
  const uint32_t bBlock = 44 + 8 + 288 + 100;
  const uint32_t index = Vak::GetLE32(reinterpret_cast<const uint8_t*>(good.data()) + 24);
  ASSERT_EQ(good.substr(index, 4), "IDX ");
  auto put = [](std::string& s, std::size_t at, uint32_t v) { s.replace(at, 4, Le32(v)); };

  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    bool readable, indexed, hasA, hasB;
    bool clean;  // stays writable
  };
  const std::vector<Case> cases = {
      {"intact", [](std::string&) {}, true, true, true, true, true},
      {"empty", [](std::string& s) { s.clear(); }, false, false, false, false, false},
      {"signature only", [](std::string& s) { s.resize(4); }, false, false, false, false, false},
      {"cut in the info head", [](std::string& s) { s.resize(10); }, false, false, false, false, false},
      {"cut in the info", [](std::string& s) { s.resize(30); }, true, false, false, false, false},
      {"other signature", [](std::string& s) { s[3] = 'X'; }, false, false, false, false, false},
      {"other identifier", [&](std::string& s) { put(s, 12, 0x41524331); }, false, false, false, false, false},
      {"version 259", [&](std::string& s) { put(s, 16, 259); }, false, false, false, false, false},
      {"no info block", [](std::string& s) { s.replace(4, 4, "INFX"); }, false, false, false, false, false},
      {"junk before the info, no index",
       [&](std::string& s) {
         put(s, 20, 0);
         s.insert(4, "JUNK" + Le32(0));
       },
       true, false, true, true, false},
      {"cut inside the first head", [](std::string& s) { s.resize(48); }, true, false, false, false, false},
      {"cut in b's header", [&](std::string& s) { s.resize(bBlock + 100); }, true, false, true, false, false},
      {"cut in b's payload", [&](std::string& s) { s.resize(bBlock + 8 + 288 + 10); }, true, false, true, false,
       false},
      {"cut in the index", [&](std::string& s) { s.resize(index + 8 + 100); }, true, false, true, true, false},
      {"cut in the index head", [&](std::string& s) { s.resize(index + 6); }, true, false, true, true, false},
      {"index offset at a file block", [&](std::string& s) { put(s, 24, 44); }, true, false, true, true, false},
      {"index offset past the end", [&](std::string& s) { put(s, 24, 0xFFFFFFF0); }, true, false, true, true,
       false},
      {"entry count 0", [&](std::string& s) { put(s, 20, 0); }, true, false, true, true, true},
      {"entry count beyond the index", [&](std::string& s) { put(s, 20, 3); }, true, false, true, true, false},
      {"entry count huge", [&](std::string& s) { put(s, 20, 0xFFFFFFFF); }, true, false, true, true, false},
      {"index length not the records'", [&](std::string& s) { put(s, index + 4, 296); }, true, false, true, true,
       false},
      {"record payload past the end", [&](std::string& s) { put(s, index + 8, 0xFFFFFF00); }, true, false, true,
       true, false},
      {"record payload size past the end", [&](std::string& s) { put(s, index + 12, 0x7FFFFFFF); }, true, false,
       true, true, false},
      {"file block shorter than its header, no index",
       [&](std::string& s) {
         put(s, 48, 10);
         put(s, 20, 0);
       },
       true, false, false, false, false},
      {"file block past the end, no index",
       [&](std::string& s) {
         put(s, bBlock + 4, 0x7FFFFFFF);
         put(s, 20, 0);
       },
       true, false, true, false, false},
      {"block length 0xFFFFFFF0, no index",
       [&](std::string& s) {
         put(s, bBlock + 4, 0xFFFFFFF0);
         put(s, 20, 0);
       },
       true, false, true, false, false},
      {"a block behind the index cut",
       [&](std::string& s) { s += "FIL " + Le32(288 + 50) + std::string(100, 'x'); }, true, true, true, true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.damage(bytes);
    for (bool writable : {false, true}) {
      SCOPED_TRACE(writable ? "writable" : "read-only");
      std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
      auto layer = std::make_unique<FileSubArchive>(path_.c_str(), writable);
      FileSubArchive* archive = layer.get();
      ASSERT_TRUE(FileSubstList::Get().Add(PString("va"), std::move(layer)));
      EXPECT_EQ(archive->IsReadable(), c.readable);
      EXPECT_EQ(archive->Indexed(), c.indexed);
      EXPECT_EQ(archive->GetVersion(), c.readable ? 258u : 0u);
      if (c.readable) {
        EXPECT_EQ(archive->IsReadOnly(), !(writable && c.clean));
      }
      EXPECT_EQ(ReadVia("va:a.txt") == a, c.hasA);
      EXPECT_EQ(ReadVia("va:b.bin") == b, c.hasB);
      File::Find find;
      int listed = 0;
      for (bool more = find.Open("va:*.*"); more; more = find.Next()) ++listed;
      find.Close();
      EXPECT_EQ(listed, int(c.hasA) + int(c.hasB));
      if (writable && c.readable && !c.clean) {
        EXPECT_FALSE(WriteVia("va:new.txt", "new"));
        EXPECT_FALSE(File::Unlink("va:a.txt"));
        if (c.hasA) {
          File rw;
          EXPECT_EQ(rw.Open("va:a.txt", File::kRead | File::kWrite), File::RES_READONLY);
        }
      }
      if (writable && c.clean) {
        ASSERT_TRUE(WriteVia("va:new.txt", "new"));
      }
      Unmount();
      if (!c.clean) {
        EXPECT_EQ(Slurp(path_), bytes);
        continue;
      }
      Mount(false);
      EXPECT_EQ(ReadVia("va:a.txt"), a);
      EXPECT_EQ(ReadVia("va:b.bin"), b);
      EXPECT_EQ(ReadVia("va:new.txt"), writable ? "new" : "<not opened>");
      Unmount();
    }
  }
}

} // namespace
