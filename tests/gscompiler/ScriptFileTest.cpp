#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/CompressedFileFormat.h"
#include "Vak/Bexlorn/File.h"
#include "content/LZSSCompress.h"
#include "gscompiler/ScriptFile.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using platform::test::TempFolder;

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(reinterpret_cast<const char*>(v.data()), v.size()); }

// A scrambled block for `text` that claims `plainLength`; LZSS level 0 keeps
// a large text cheap to build.
std::vector<uint8_t> Block(const std::string& text, uint32_t plainLength, int level = 9) {
  std::vector<uint8_t> packed;
  Vak::LZSSCompress lz;
  EXPECT_TRUE(lz.CompressBlock(text.data(), text.size(), level, packed));
  std::vector<uint8_t> block(4 + packed.size());
  Vak::PutLE32(block.data(), plainLength);
  std::memcpy(block.data() + 4, packed.data(), packed.size());
  ScriptFile::Scramble(block.data(), block.size());
  return block;
}

// A ".gse" written unpacked: readers detect the packed form and take this too.
std::string GseFile(uint32_t headerWord, const std::vector<uint8_t>& block, uint32_t n) {
  std::vector<uint8_t> head;
  Vak::AppendLE32(head, headerWord);
  Vak::AppendLE32(head, 0);
  Vak::AppendLE32(head, n);
  Vak::AppendLE32(head, 0);
  return Bytes(head) + Bytes(block);
}

// The content of a file as the engine reads it (packed files unpacked).
std::string ReadUnpacked(const std::string& path) {
  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok()) return "<missing>";
  std::string out(file.Size(), '\0');
  out.resize(file.Read(out.data(), out.size(), 1));
  file.Close();
  return out;
}

TEST(ScriptFileTest, ScrambleRestartsAtKeyByteZeroOnEveryCall) {
  std::vector<uint8_t> bytes(33, 0);
  ScriptFile::Scramble(bytes.data(), bytes.size());
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(bytes[i], ScriptFile::kKey[i]) << i;
  EXPECT_EQ(bytes[32], 0x5c);
  EXPECT_EQ(ScriptFile::kKey[31], 0x4d);
  std::vector<uint8_t> tail(1, 0);
  ScriptFile::Scramble(tail.data(), tail.size());
  EXPECT_EQ(tail[0], 0x5c);
  ScriptFile::Scramble(bytes.data(), bytes.size());
  EXPECT_EQ(bytes, std::vector<uint8_t>(33, 0));
}

TEST(ScriptFileTest, PlainToScrambledAndBackGivesTheSameBytes) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  std::string repeated;
  for (int i = 0; i < 5000; ++i) repeated += "class C" + std::to_string(i % 17) + " { int x; };\r\n";
  const std::string texts[] = {"x", "include \"a.gs\"\nclass A {};\n", binary, repeated};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    TempFolder dir;
    dir.WriteFile("s.gs", text);
    ScriptFile script;
    ASSERT_TRUE(script.Load(nullptr, (dir / "s.gs").c_str()));
    EXPECT_EQ(script.HeaderWord(), 1u);
    EXPECT_EQ(script.GetPlainLength(), text.size());
    ASSERT_TRUE(script.Save("", (dir / "s.gse").c_str()));
    EXPECT_TRUE(script.IsScrambled());

    // Packed on disk; unpacked it opens with the header word 1 and n.
    const std::string raw = dir.ReadFile("s.gse");
    Vak::CompressedFile::Head head;
    ASSERT_GE(raw.size(), Vak::CompressedFile::kHeadBytes);
    EXPECT_TRUE(Vak::CompressedFile::ParseHead(reinterpret_cast<const uint8_t*>(raw.data()),
                                               Vak::CompressedFile::kHeadBytes, Vak::CompressedFile::kFolderVersion,
                                               head));
    const std::string content = ReadUnpacked(dir / "s.gse");
    ASSERT_EQ(content.size(), ScriptFile::kHeaderBytes + script.Length());
    const auto* word = reinterpret_cast<const uint8_t*>(content.data());
    EXPECT_EQ(Vak::GetLE32(word), 1u);
    EXPECT_EQ(Vak::GetLE32(word + 4), 0u);
    EXPECT_EQ(Vak::GetLE32(word + 8), script.Length());
    EXPECT_EQ(Vak::GetLE32(word + 12), 0u);

    ScriptFile packed;
    ASSERT_TRUE(packed.Load(nullptr, (dir / "s.gse").c_str()));
    EXPECT_TRUE(packed.IsScrambled());
    ASSERT_TRUE(packed.Save(nullptr, (dir / "back.gs").c_str()));
    EXPECT_FALSE(packed.IsScrambled());
    EXPECT_EQ(dir.ReadFile("back.gs"), text);
    EXPECT_EQ(std::string(packed.GetText(), packed.GetPlainLength()), text);
  }
}

TEST(ScriptFileTest, KeepsTheHeaderWordOfALoadedFile) {
  TempFolder dir;
  const std::vector<uint8_t> block = Block("class A {};", 11);
  dir.WriteFile("in.gse", GseFile(7, block, static_cast<uint32_t>(block.size())));
  ScriptFile script;
  ASSERT_TRUE(script.Load(nullptr, (dir / "in.gse").c_str()));
  EXPECT_EQ(script.HeaderWord(), 7u);
  ASSERT_TRUE(script.Save(nullptr, (dir / "out.gse").c_str()));
  EXPECT_EQ(Vak::GetLE32(reinterpret_cast<const uint8_t*>(ReadUnpacked(dir / "out.gse").data())), 7u);
  EXPECT_EQ(std::string(script.GetText(), script.GetPlainLength()), "class A {};");
  script.Clear();
  EXPECT_EQ(script.HeaderWord(), 0u);
  EXPECT_EQ(script.GetText(), nullptr);
}

TEST(ScriptFileTest, PlainLengthLimitIsInclusive) {
  TempFolder dir;
  const std::string big(ScriptFile::kMaxPlainLength, 'a');
  const std::vector<uint8_t> block = Block(big, ScriptFile::kMaxPlainLength, 0);
  dir.WriteFile("limit.gse", GseFile(1, block, static_cast<uint32_t>(block.size())));
  ScriptFile script;
  ASSERT_TRUE(script.Load(nullptr, (dir / "limit.gse").c_str()));
  EXPECT_EQ(script.GetPlainLength(), ScriptFile::kMaxPlainLength);
  ASSERT_NE(script.GetText(), nullptr);

  const std::vector<uint8_t> over = Block("a", ScriptFile::kMaxPlainLength + 1);
  dir.WriteFile("over.gse", GseFile(1, over, static_cast<uint32_t>(over.size())));
  ASSERT_TRUE(script.Load(nullptr, (dir / "over.gse").c_str()));
  EXPECT_EQ(script.GetText(), nullptr);
  EXPECT_EQ(script.Length(), 0u);  // cleared

  // Plain files: sparse, so only the refused one costs nothing to read.
  dir.WriteFile("big.gs", "");
  std::filesystem::resize_file(dir / "big.gs", ScriptFile::kMaxPlainLength + 1);
  EXPECT_FALSE(script.Load(nullptr, (dir / "big.gs").c_str()));
  std::filesystem::resize_file(dir / "big.gs", ScriptFile::kMaxPlainLength);
  EXPECT_TRUE(script.Load(nullptr, (dir / "big.gs").c_str()));
  EXPECT_EQ(script.GetPlainLength(), ScriptFile::kMaxPlainLength);
}

TEST(ScriptFileTest, RefusesDamagedScrambledFiles) {
  const std::vector<uint8_t> good = Block("class A {};", 11);
  const uint32_t n = static_cast<uint32_t>(good.size());
  std::vector<uint8_t> badData = good;
  badData[4] = 0xFF ^ ScriptFile::kKey[4];  // a coded header of no known form
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  const std::string full = GseFile(1, good, n);
  struct Case {
    const char* name;
    std::string file;
    bool loads;  // the container reads; the text is refused
  } cases[] = {
      {"empty file", "", false},
      {"header cut short", full.substr(0, 10), false},
      {"block cut short", full.substr(0, full.size() - 1), false},
      {"n is zero", GseFile(1, good, 0), false},
      {"n claims 4 GiB", GseFile(1, {1, 2, 3, 4}, 0xFFFFFFFF), false},
      {"n one beyond the file", GseFile(1, good, n + 1), false},
      {"plain length zero", GseFile(1, Block("class A {};", 0), n), true},
      {"plain length too long", GseFile(1, Block("class A {};", 12), n), true},
      {"damaged coding", GseFile(1, badData, n), true},
      {"coding cut short", GseFile(1, cut, n - 1), true},
      {"block shorter than a length word", GseFile(1, {1, 2}, 2), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    dir.WriteFile("x.gse", c.file);
    ScriptFile script;
    ASSERT_EQ(script.Load(nullptr, (dir / "x.gse").c_str()), c.loads);
    if (!c.loads) continue;
    EXPECT_EQ(script.GetText(), nullptr);
    EXPECT_EQ(script.GetPlainLength(), 0u);
    EXPECT_EQ(script.Length(), 0u);  // cleared
  }
}

TEST(ScriptFileTest, LoadAndSaveChooseByExtension) {
  TempFolder dir;
  dir.WriteFile("a.txt", "class A {};");
  dir.WriteFile("B.GS", "class B {};");
  ScriptFile script;
  EXPECT_FALSE(script.Load(nullptr, (dir / "a.txt").c_str()));
  EXPECT_FALSE(script.Load(nullptr, (dir / "missing.gs").c_str()));
  EXPECT_FALSE(script.Load(nullptr, (dir / "missing.gse").c_str()));
  EXPECT_FALSE(script.Load(nullptr, std::string(300, 'a').append(".gs").c_str()));
  ASSERT_TRUE(script.Load(nullptr, (dir / "B.GS").c_str()));
  EXPECT_FALSE(script.Save(nullptr, (dir / "b.txt").c_str()));
  EXPECT_FALSE(dir.Has("b.txt"));
  EXPECT_TRUE(script.Save(nullptr, (dir / "b.GSE").c_str()));
  EXPECT_STREQ(script.SavePath(), (dir / "b.GSE").c_str());
}

TEST(ScriptFileTest, AFailedSaveLeavesTheEarlierFileAndNoTemporary) {
  TempFolder dir;
  dir.WriteFile("empty.gs", "");
  dir.WriteFile("empty.gse", "earlier");
  ScriptFile script;
  ASSERT_TRUE(script.Load(nullptr, (dir / "empty.gs").c_str()));
  // An empty text cannot be packed into a file that would ever read back.
  EXPECT_FALSE(script.Save(nullptr, (dir / "empty.gse").c_str()));
  EXPECT_EQ(dir.ReadFile("empty.gse"), "earlier");

  // The rename cannot replace a folder of that name.
  dir.WriteFile("s.gs", "class A {};");
  dir.WriteFile("taken.gse/keep", "kept");
  ASSERT_TRUE(script.Load(nullptr, (dir / "s.gs").c_str()));
  EXPECT_FALSE(script.Save(nullptr, (dir / "taken.gse").c_str()));
  EXPECT_EQ(dir.ReadFile("taken.gse/keep"), "kept");
  EXPECT_FALSE(script.Save(nullptr, (dir / "no/such/folder.gse").c_str()));

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"empty.gs", "empty.gse", "s.gs", "taken.gse"}));

  // A later save replaces the earlier file whole.
  ASSERT_TRUE(script.Save(nullptr, (dir / "empty.gse").c_str()));
  ScriptFile back;
  ASSERT_TRUE(back.Load(nullptr, (dir / "empty.gse").c_str()));
  EXPECT_EQ(std::string(back.GetText(), back.GetPlainLength()), "class A {};");
}

} // namespace
