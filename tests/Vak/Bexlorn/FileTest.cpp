#include "Vak/Bexlorn/File.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "platform/os/FileSystem.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::File;
using platform::test::TempFolder;

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// Compressible text with a varying tail.
std::string Text(std::size_t n) {
  std::string s;
  while (s.size() < n) s += "the quick brown fox jumps over " + std::to_string(s.size() % 977) + "\n";
  s.resize(n);
  return s;
}

std::string U32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// A compressed file whose blocks are all stored as they are.
std::string StoredCfil(const std::string& content, uint32_t version = 257) {
  std::string out = "CFIL" + U32(version) + U32(static_cast<uint32_t>(content.size()));
  for (std::size_t at = 0; at < content.size(); at += File::kBufferSize) {
    std::string piece = content.substr(at, File::kBufferSize);
    uint16_t header = static_cast<uint16_t>(0x8000 | piece.size());
    out += char(header & 0xFF);
    out += char(header >> 8);
    out += piece;
  }
  return out;
}

// Works in `folder` for its lifetime.
class InFolder {
public:
  explicit InFolder(const std::string& folder) {
    EXPECT_TRUE(File::GetCwd(before_));
    EXPECT_TRUE(File::ChDir(folder.c_str()));
  }
  ~InFolder() { EXPECT_TRUE(File::ChDir(before_)); }

private:
  File::Path before_;
};

std::string ReadAll(File& f, std::size_t chunk) {
  std::string out;
  std::vector<char> buf(chunk);
  for (;;) {
    unsigned long n = f.Read(buf.data(), chunk, 1);
    out.append(buf.data(), n);
    if (n < chunk) return out;
  }
}

TEST(FileResultsTest, NamesAndTexts) {
  struct Case {
    File::Results code;
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {File::RES_OK, "", ""},
      {File::RES_UNKNOWN, "RES_UNKNOWN", "Unknown file error"},
      {File::RES_FILENOTFOUND, "RES_FILENOTFOUND", "File not found"},
      {File::RES_ALREADYOPEN, "RES_ALREADYOPEN", "File is already open"},
      {File::RES_MODENOTSUPPORTED, "RES_MODENOTSUPPORTED", "Open mode not supported"},
      {File::RES_CANTWRITECOMPRESSED, "RES_CANTWRITECOMPRESSED", "Can't write to a compressed file"},
      {File::RES_NOTCOMPRESSED, "RES_NOTCOMPRESSED", "Can't open non-compressed as read compressed file"},
      {File::RES_SUBSTNOTFOUND, "RES_SUBSTNOTFOUND", "Subst not found"},
      {File::RES_FILEALREADYEXISTS, "RES_FILEALREADYEXISTS", "File already exists"},
      {File::RES_READONLY, "RES_READONLY", "File is read-only"},
  };
  for (const Case& c : cases) {
    File::Result r(c.code);
    EXPECT_EQ(r.Value(), static_cast<unsigned>(c.code));
    EXPECT_STREQ(r.Name(), c.name);
    EXPECT_STREQ(r.Text(), c.text);
    EXPECT_EQ(r.Ok(), c.code == File::RES_OK);
  }
  EXPECT_STREQ(File::Result(static_cast<File::Results>(10)).Text(), "");
  EXPECT_EQ(File::results.count, 9u);
}

class FileTest : public ::testing::Test {
protected:
  std::string P(const std::string& name) const { return dir_ / name; }
  TempFolder dir_;
};

TEST_F(FileTest, OpenModes) {
  struct Case {
    const char* file;  // "plain" 100 bytes, "short" 5 bytes, "cfil", "none"
    unsigned long mode;
    File::Results result;
    unsigned long readField;  // after a successful open
    uint32_t position;
    uint32_t size;
  };
  const Case cases[] = {
      {"plain", 0x10, File::RES_OK, 0x20, 0, 100},
      {"plain", 0x20, File::RES_OK, 0x20, 0, 100},
      {"plain", 0x30, File::RES_NOTCOMPRESSED, 0, 0, 0},
      {"short", 0x10, File::RES_OK, 0x20, 0, 5},
      {"short", 0x30, File::RES_OK, 0x20, 0, 5},
      {"cfil", 0x10, File::RES_OK, 0x30, 0, 3},
      {"cfil", 0x30, File::RES_OK, 0x30, 0, 3},
      {"cfil", 0x20, File::RES_OK, 0x20, 0, 12 + 2 + 3},
      {"cfil", 0x11, File::RES_CANTWRITECOMPRESSED, 0, 0, 0},
      {"none", 0x10, File::RES_FILENOTFOUND, 0, 0, 0},
      {"none", 0x01, File::RES_FILENOTFOUND, 0, 0, 0},
      {"none", 0x101, File::RES_OK, 0, 0, 0},
      {"plain", 0x101, File::RES_OK, 0, 0, 0},
      {"plain", 0x121, File::RES_OK, 0x20, 0, 0},
      {"plain", 0x111, File::RES_OK, 0x20, 0, 0},
      {"plain", 0x301, File::RES_FILEALREADYEXISTS, 0, 0, 0},
      {"none", 0x301, File::RES_OK, 0, 0, 0},
      {"plain", 0x201, File::RES_OK, 0, 100, 100},
      {"none", 0x201, File::RES_OK, 0, 0, 0},
      {"plain", 0x1000, File::RES_MODENOTSUPPORTED, 0, 0, 0},
      {"plain", 0x1010, File::RES_MODENOTSUPPORTED, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " mode " + std::to_string(c.mode));
    dir_.WriteFile("plain", Pattern(100));
    dir_.WriteFile("short", "abcde");
    dir_.WriteFile("cfil", StoredCfil("xyz"));
    std::filesystem::remove(dir_.Path() / "none");
    File f;
    File::Result r = f.Open(P(c.file).c_str(), c.mode);
    EXPECT_EQ(r, c.result) << r.Name();
    EXPECT_EQ(f.IsOpen(), r.Ok());
    if (!r.Ok()) continue;
    EXPECT_EQ(f.Mode() & 0xF0, c.readField);
    EXPECT_EQ(f.Tell(), c.position);
    EXPECT_EQ(f.Size(), c.size);
    EXPECT_STREQ(f.GetPath(), P(c.file).c_str());
    f.Close();
    EXPECT_FALSE(f.IsOpen());
  }
}

TEST_F(FileTest, OpenTwiceAndReopenAndCounter) {
  dir_.WriteFile("a", "hello");
  unsigned before = File::OpenFiles();
  File f;
  ASSERT_TRUE(f.Open(P("a").c_str(), 0x10).Ok());
  EXPECT_EQ(File::OpenFiles(), before + 1);
  EXPECT_EQ(f.Open(P("a").c_str(), 0x10), File::RES_ALREADYOPEN);
  EXPECT_TRUE(f.IsOpen());
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 5, 1), 5u);
  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(File::OpenFiles(), before);
  ASSERT_TRUE(f.Open(P("a").c_str(), 0x10).Ok());
  EXPECT_EQ(f.Read(buf, 1, 8), 0u);  // 5 bytes, counted in units of 8
  f.Seek(0, File::kSeekBegin);
  EXPECT_EQ(f.Read(buf, 1, 5), 1u);
  EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST_F(FileTest, MisuseThrows) {
  dir_.WriteFile("a", "hello");
  auto reason = [](auto&& fn) -> std::string {
    try {
      fn();
    } catch (const Vak::FileEx& e) {
      return e.Reason();
    }
    return "no exception";
  };
  char buf[4];
  File closed;
  EXPECT_EQ(reason([&] { closed.Read(buf, 1, 1); }), "Read() File is not open");
  EXPECT_EQ(reason([&] { closed.Write(buf, 1, 1); }), "Write() File not open");
  File reader;
  ASSERT_TRUE(reader.Open(P("a").c_str(), 0x10).Ok());
  EXPECT_EQ(reason([&] { reader.Write(buf, 1, 1); }), "Write() File not open for writing");
  File writer;
  ASSERT_TRUE(writer.Open(P("b").c_str(), 0x101).Ok());
  EXPECT_EQ(reason([&] { writer.Read(buf, 1, 1); }), "Read() File not open for reading");
  File packed;
  ASSERT_TRUE(packed.Open(P("c").c_str(), 0x102).Ok());
  EXPECT_EQ(reason([&] { packed.Seek(0, File::kSeekBegin); }), "Seek() Can't seek writing compressed file");
  EXPECT_EQ(reason([&] { closed.Size(); }), "Size() failed to get file length");
}

// Open never throws: writing compressed has no end to append to, so an
// existing file is refused with the file closed and left as it was.
TEST_F(FileTest, OpenAlwaysWritingCompressed) {
  const std::string keep = "the user's file";
  dir_.WriteFile("kept", keep);
  const unsigned before = File::OpenFiles();
  {
    File f;
    File::Result result = File::RES_OK;
    EXPECT_NO_THROW(result = f.Open(P("kept").c_str(), 0x202));
    EXPECT_EQ(result, File::RES_MODENOTSUPPORTED);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(File::OpenFiles(), before);
  }
  EXPECT_EQ(dir_.ReadFile("kept"), keep);
  EXPECT_EQ(File::OpenFiles(), before);

  // A new (empty) file has its end at the start.
  {
    File f;
    ASSERT_TRUE(f.Open(P("new").c_str(), 0x202).Ok());
    EXPECT_EQ(File::OpenFiles(), before + 1);
    f.Write("abc", 3, 1);
    EXPECT_EQ(f.Close(), 0);
  }
  EXPECT_EQ(File::OpenFiles(), before);
  File r;
  ASSERT_TRUE(r.Open(P("new").c_str(), 0x10).Ok());
  EXPECT_EQ(r.Mode() & File::kReadMask, File::kReadCompressed);
  EXPECT_EQ(ReadAll(r, 16), "abc");
}

// Files open and close on many threads at once, and the substitution router
// may be installed meanwhile.
TEST_F(FileTest, OpenFileCountAcrossThreads) {
  dir_.WriteFile("a", "x");
  const unsigned before = File::OpenFiles();
  const std::string path = P("a");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&path] {
      for (int i = 0; i < 300; ++i) {
        File f;
        if (f.Open(path.c_str(), 0x10).Ok()) f.Close();
        File::Exists("data:a");
      }
    });
  threads.emplace_back([] {
    for (int i = 0; i < 300; ++i) File::SetSubstRouter(nullptr);
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(File::OpenFiles(), before);
}

TEST_F(FileTest, WriteReadRoundTripAcrossBuffer) {
  const std::vector<std::size_t> sizes = {0, 1, 16383, 16384, 16385, 40000};
  const std::vector<std::size_t> chunks = {1, 7, 5000, 16383, 16384, 20000};
  for (std::size_t total : sizes)
    for (std::size_t chunk : chunks) {
      SCOPED_TRACE("total " + std::to_string(total) + " chunk " + std::to_string(chunk));
      const std::string data = Pattern(total);
      {
        File f;
        ASSERT_TRUE(f.Open(P("rt").c_str(), 0x101).Ok());
        for (std::size_t at = 0; at < total; at += chunk) {
          std::size_t n = std::min(chunk, total - at);
          ASSERT_EQ(f.Write(data.data() + at, n, 1), n);
        }
        EXPECT_EQ(f.Size(), total);
        EXPECT_EQ(f.Tell(), total);
      }  // the destructor closes and flushes
      EXPECT_EQ(dir_.ReadFile("rt"), data);
      File f;
      ASSERT_TRUE(f.Open(P("rt").c_str(), 0x10).Ok());
      EXPECT_EQ(ReadAll(f, chunk), data);
      EXPECT_TRUE(f.Eof());
    }
}

TEST_F(FileTest, Seek) {
  const std::string data = Pattern(40000);
  dir_.WriteFile("s", data);
  File f;
  ASSERT_TRUE(f.Open(P("s").c_str(), 0x10).Ok());
  struct Case {
    long offset;
    int origin;
    uint32_t expected;
  };
  const Case cases[] = {
      {10, File::kSeekEnd, 39990},  {16380, File::kSeekBegin, 16380}, {5, File::kSeekCurrent, 16385},
      {-16385, File::kSeekCurrent, 0}, {0, File::kSeekEnd, 40000},   {100, 7, 40000},
      {39999, File::kSeekBegin, 39999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(f.Seek(c.offset, c.origin), c.expected);
    EXPECT_EQ(f.Tell(), c.expected);
    char buf[10];
    unsigned long n = f.Read(buf, 10, 1);
    ASSERT_EQ(n, std::min<std::size_t>(10, 40000 - c.expected));
    EXPECT_EQ(std::string(buf, n), data.substr(c.expected, n));
    f.Seek(c.expected, File::kSeekBegin);
  }
}

TEST_F(FileTest, ReadWriteOneFileAndAppend) {
  dir_.WriteFile("rw", Pattern(30000));
  {
    File f;
    ASSERT_TRUE(f.Open(P("rw").c_str(), 0x11).Ok());
    char buf[100];
    ASSERT_EQ(f.Read(buf, 100, 1), 100u);
    ASSERT_EQ(f.Write("XYZ", 3, 1), 3u);
    EXPECT_EQ(f.Tell(), 103u);
    f.Seek(98, File::kSeekBegin);
    ASSERT_EQ(f.Read(buf, 8, 1), 8u);
    std::string expected = Pattern(30000).substr(98, 2) + "XYZ" + Pattern(30000).substr(103, 3);
    EXPECT_EQ(std::string(buf, 8), expected);
    f.Seek(0, File::kSeekEnd);
    ASSERT_TRUE(f.Write(uint32_t(0x04030201)));
    ASSERT_TRUE(f.Write(1.0f));
    EXPECT_EQ(f.Size(), 30008u);
  }
  std::string content = dir_.ReadFile("rw");
  EXPECT_EQ(content.substr(100, 3), "XYZ");
  EXPECT_EQ(content.substr(30000), std::string("\x01\x02\x03\x04\x00\x00\x80\x3f", 8));
  File a;
  ASSERT_TRUE(a.Open(P("rw").c_str(), 0x201).Ok());
  a.Write("end", 3, 1);
  a.Close();
  EXPECT_EQ(dir_.ReadFile("rw").substr(30008), "end");
}

TEST_F(FileTest, ReadLine8Bit) {
  dir_.WriteFile("t", "abcdefghijklmnopqrst\nshort\r\n12345678\nlast");
  File f;
  ASSERT_TRUE(f.Open(P("t").c_str(), 0x10).Ok());
  char buf[10];
  EXPECT_EQ(f.ReadLine(buf, 1), 0u);
  struct Step {
    const char* text;
  };
  const Step steps[] = {{"abcdefgh"}, {"short\r\n"}, {"12345678"}, {"last"}, {""}};
  for (const Step& s : steps) {
    unsigned long n = f.ReadLine(buf, sizeof buf);
    EXPECT_EQ(n, std::strlen(s.text));
    EXPECT_STREQ(buf, s.text);
  }
}

TEST_F(FileTest, ReadLineUtf16) {
  // BOM, "h\xE9llo\n" (e acute), a long line, "x" with no end.
  std::u16string text = u"h\u00e9llo\nabcdefghijklmnop\nx";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) {
    bytes += char(u & 0xFF);
    bytes += char(u >> 8);
  }
  dir_.WriteFile("u", bytes);
  File f;
  ASSERT_TRUE(f.Open(P("u").c_str(), 0x10).Ok());
  f.ProbeEncoding();
  EXPECT_EQ(f.GetEncoding(), File::kEncodingUtf16);
  EXPECT_EQ(f.Tell(), 2u);
  char buf[8];
  EXPECT_EQ(f.ReadLine(buf, sizeof buf), 6u);
  EXPECT_STREQ(buf, "h\xE9llo\n");
  EXPECT_EQ(f.ReadLine(buf, sizeof buf), 6u);
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(f.ReadLine(buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(f.ReadLine(buf, sizeof buf), 0u);
}

TEST_F(FileTest, ProbeEncodingWithoutMark) {
  for (const std::string content : {"", "a", "ab\n", "\xFE\xFF"}) {
    dir_.WriteFile("p", content);
    File f;
    ASSERT_TRUE(f.Open(P("p").c_str(), 0x10, File::kEncodingUtf16).Ok());
    f.ProbeEncoding();
    EXPECT_EQ(f.GetEncoding(), File::kEncoding8Bit);
    EXPECT_EQ(f.Tell(), 0u);
    EXPECT_EQ(ReadAll(f, 100), content);
  }
}

TEST_F(FileTest, WriteTextAndCommit) {
  File f;
  ASSERT_TRUE(f.Open(P("log").c_str(), 0x101, File::kEncodingUtf16).Ok());
  f.WriteText("A\xE9");
  f.WriteText("");
  f.Commit();
  EXPECT_EQ(dir_.ReadFile("log"), std::string("A\0\xE9\0", 4));
  EXPECT_EQ(f.Tell(), 4u);
  f.WriteText("b");
  f.Close();
  EXPECT_EQ(dir_.ReadFile("log"), std::string("A\0\xE9\0b\0", 6));
}

TEST_F(FileTest, ReadsStoredCompressedBlocks) {
  const std::string content = Pattern(40000);
  dir_.WriteFile("c", StoredCfil(content));
  File f;
  ASSERT_TRUE(f.Open(P("c").c_str(), 0x10).Ok());
  EXPECT_EQ(f.Size(), 40000u);
  EXPECT_EQ(ReadAll(f, 3000), content);
  for (uint32_t at : {39990u, 5u, 16384u, 16383u, 32768u, 20000u, 20001u}) {
    EXPECT_EQ(f.Seek(at, File::kSeekBegin), at);
    char buf[10];
    unsigned long n = f.Read(buf, 10, 1);
    EXPECT_EQ(std::string(buf, n), content.substr(at, 10)) << at;
  }
}

// Damage ends the content as a read error the caller sees, and reading
// never stalls before an end that cannot be reached.
TEST_F(FileTest, DamagedCompressedContentIsAReadError) {
  const std::string first = std::string("\x03\x80", 2) + "abc";
  struct Case {
    const char* name;
    std::string blocks;
  };
  const Case cases[] = {
      {"a stored block longer than a block", first + std::string("\xFF\xFF", 2) + Pattern(40000)},
      {"a coded block longer than a block", first + std::string("\x01\x50", 2) + Pattern(0x5001)},
      {"an empty stored block", first + std::string("\x00\x80", 2) + "def"},
      {"an empty coded block", first + std::string("\x00\x00", 2) + "def"},
      {"a cut block word", first + "\x05"},
      {"a cut payload", first + std::string("\x03\x80", 2) + "d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.WriteFile("d", "CFIL" + U32(257) + U32(6) + c.blocks);
    File f;
    ASSERT_TRUE(f.Open(P("d").c_str(), 0x10).Ok());
    EXPECT_FALSE(f.ReadFailed());
    char buf[6];
    EXPECT_EQ(f.Read(buf, 6, 1), 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_TRUE(f.ReadFailed());
    EXPECT_TRUE(f.Eof());
    // A seek that walks the block words meets the damage too.
    File g;
    ASSERT_TRUE(g.Open(P("d").c_str(), 0x10).Ok());
    g.Seek(4, File::kSeekBegin);
    EXPECT_EQ(g.Read(buf, 1, 1), 0u);
    EXPECT_TRUE(g.ReadFailed());
  }
  // Clean content reads without a failure, a new open starts clean.
  dir_.WriteFile("d", StoredCfil("abcdef"));
  File f;
  ASSERT_TRUE(f.Open(P("d").c_str(), 0x10).Ok());
  char buf[8];
  EXPECT_EQ(f.Read(buf, 8, 1), 6u);
  EXPECT_FALSE(f.ReadFailed());
}

TEST_F(FileTest, DamagedCompressedBlockEndsContent) {
  // A header claiming 32767 stored bytes: longer than the buffer.
  std::string bytes = "CFIL" + U32(257) + U32(40000) + std::string("\xFF\xFF", 2) + Pattern(40000);
  dir_.WriteFile("d", bytes);
  File f;
  ASSERT_TRUE(f.Open(P("d").c_str(), 0x10).Ok());
  char buf[100];
  EXPECT_EQ(f.Read(buf, 100, 1), 0u);
  EXPECT_EQ(f.Size(), 0u);
  // Truncated header.
  dir_.WriteFile("e", "CFIL" + U32(257) + U32(10) + "\x05");
  File g;
  ASSERT_TRUE(g.Open(P("e").c_str(), 0x10).Ok());
  EXPECT_EQ(g.Read(buf, 10, 1), 0u);
}

TEST_F(FileTest, WritesCompressedAtCloseAndReadsBack) {
  struct Case {
    std::string content;
    std::vector<uint16_t> headers;  // expected block headers; 0 = coded, 0xFFFF = either
  };
  const Case cases[] = {
      {"", {}},
      {"a", {0x8001}},
      {std::string(16384, 'q'), {0}},
      {std::string(16385, 'q'), {0, 0x8001}},
      {Text(40000), {0, 0, 0xFFFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.size());
    {
      File f;
      ASSERT_TRUE(f.Open(P("packed").c_str(), 0x102).Ok());
      f.Write(c.content.data(), c.content.size(), 1);
      EXPECT_EQ(f.Close(), 0);
    }
    std::string bytes = dir_.ReadFile("packed");
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(0, 12), "CFIL" + U32(257) + U32(static_cast<uint32_t>(c.content.size())));
    std::size_t at = 12;
    for (uint16_t expected : c.headers) {
      ASSERT_LE(at + 2, bytes.size());
      uint16_t word = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
      if (expected == 0) {
        EXPECT_EQ(word & 0x8000, 0);
      } else if (expected != 0xFFFF) {
        EXPECT_EQ(word, expected);
      }
      at += 2 + ((word & 0x8000) ? (word & 0x7FFF) : word);
    }
    EXPECT_EQ(at, bytes.size());
    // Only the target is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);

    File r;
    ASSERT_TRUE(r.Open(P("packed").c_str(), 0x10).Ok());
    EXPECT_EQ(r.Size(), c.content.size());
    EXPECT_EQ(ReadAll(r, 5000), c.content);
    for (uint32_t pos : {16390u, 3u, 16383u, 39999u}) {
      if (pos >= c.content.size()) continue;
      EXPECT_EQ(r.Seek(pos, File::kSeekBegin), pos);
      char buf[4];
      unsigned long n = r.Read(buf, 4, 1);
      EXPECT_EQ(std::string(buf, n), c.content.substr(pos, 4)) << pos;
    }
  }
}

TEST_F(FileTest, FailedPackingIsReportedAndLeavesNoTemporary) {
  File f;
  ASSERT_TRUE(f.Open(P("gone").c_str(), 0x102).Ok());
  f.Write("abc", 3, 1);
  std::filesystem::rename(dir_.Path() / "gone", dir_.Path() / "moved");
  EXPECT_EQ(f.Close(), static_cast<int>(File::RES_UNKNOWN));
  EXPECT_EQ(dir_.ReadFile("moved"), "abc");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

// A write the device refused fails the close, whichever call wrote it out.
TEST_F(FileTest, FailedWritesFailTheClose) {
  struct Case {
    const char* name;
    void (*write)(File&);
  };
  const Case cases[] = {
      {"flushed by a seek", [](File& f) { f.Write("abc", 3, 1); f.Seek(0, File::kSeekBegin); }},
      {"flushed at close", [](File& f) { f.Write("abc", 3, 1); }},
      {"written straight through", [](File& f) {
         const std::string big(3 * File::kBufferSize, 'x');
         f.Write(big.data(), big.size(), 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    File f;
    ASSERT_TRUE(f.Open("/dev/full", 0x201).Ok());
    c.write(f);
    EXPECT_EQ(f.Close(), static_cast<int>(File::RES_UNKNOWN));
  }
  File ok;
  ASSERT_TRUE(ok.Open(P("fine").c_str(), 0x101).Ok());
  ok.Write("abc", 3, 1);
  ok.Seek(0, File::kSeekBegin);
  EXPECT_EQ(ok.Close(), 0);
}

TEST_F(FileTest, DamagedCodedBlocksEndContent) {
  const std::string cases[] = {
      std::string("\x01\x50", 2) + Pattern(0x5001),  // coded length above the buffer
      std::string("\x04\x00", 2) + std::string("\x00\x01\x02\x03", 4),  // a table that runs out
  };
  for (const std::string& blocks : cases) {
    dir_.WriteFile("d", "CFIL" + U32(257) + U32(16384) + blocks);
    File f;
    ASSERT_TRUE(f.Open(P("d").c_str(), 0x10).Ok());
    char buf[16];
    EXPECT_EQ(f.Read(buf, 16, 1), 0u);
    EXPECT_EQ(f.Size(), 0u);
  }
}

TEST_F(FileTest, StaticOperations) {
  dir_.WriteFile("a.txt", "1");
  EXPECT_EQ(File::Exists(P("a.txt").c_str()), File::RES_OK);
  EXPECT_EQ(File::Exists(P("b.txt").c_str()), File::RES_FILENOTFOUND);
  EXPECT_TRUE(File::Rename(P("a.txt").c_str(), P("b.txt").c_str()));
  EXPECT_EQ(File::Exists(P("a.txt").c_str()), File::RES_FILENOTFOUND);
  EXPECT_FALSE(File::Rename(P("a.txt").c_str(), P("c.txt").c_str()));
  uint32_t time = 0;
  EXPECT_TRUE(File::GetFileTime(P("b.txt").c_str(), time));
  EXPECT_GT(time, 1500000000u);
  EXPECT_FALSE(File::GetFileTime(P("a.txt").c_str(), time));
  EXPECT_TRUE(File::Unlink(P("b.txt").c_str()));
  EXPECT_FALSE(File::Unlink(P("b.txt").c_str()));

  EXPECT_TRUE(File::Md((P("x") + "\\y/z\\").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Path() / "x/y/z"));
  EXPECT_TRUE(File::Md(P("x/y").c_str()));  // existing
  dir_.WriteFile("x/f", "1");
  EXPECT_FALSE(File::Md(P("x/f/g").c_str()));  // a file on the way
  dir_.WriteFile("x/y/z/deep.txt", "1");
  EXPECT_TRUE(File::Prune(P("x").c_str()));
  EXPECT_FALSE(dir_.Has("x"));
  EXPECT_FALSE(File::Prune(P("x").c_str()));
}

// Deleting a tree removes the links in it, never what they point to.
TEST_F(FileTest, PruneRemovesLinksNotTheirTargets) {
  namespace fs = std::filesystem;
  dir_.WriteFile("outside/precious.txt", "keep");
  dir_.WriteFile("outside/sub/deeper.txt", "keep");
  dir_.WriteFile("tree/own.txt", "1");
  dir_.WriteFile("tree/sub/own.txt", "2");
  fs::create_directory_symlink(dir_.Path() / "outside", dir_.Path() / "tree/to-folder");
  fs::create_directory_symlink(dir_.Path() / "outside", dir_.Path() / "tree/sub/to-folder-deeper");
  fs::create_symlink(dir_.Path() / "outside/precious.txt", dir_.Path() / "tree/to-file");
  fs::create_symlink(dir_.Path() / "nowhere", dir_.Path() / "tree/dangling");
  fs::create_directory_symlink(dir_.Path() / "outside", dir_.Path() / "link-to-outside");

  // A link named as the tree is not a folder to prune.
  EXPECT_FALSE(File::Prune(P("link-to-outside").c_str()));
  EXPECT_TRUE(fs::is_symlink(dir_.Path() / "link-to-outside"));

  EXPECT_TRUE(File::Prune(P("tree").c_str()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_.Path() / "tree")));
  EXPECT_EQ(dir_.ReadFile("outside/precious.txt"), "keep");
  EXPECT_EQ(dir_.ReadFile("outside/sub/deeper.txt"), "keep");
  EXPECT_EQ(dir_.ReadFile("link-to-outside/precious.txt"), "keep");

  EXPECT_TRUE(File::Unlink(P("link-to-outside").c_str()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_.Path() / "link-to-outside")));
  EXPECT_EQ(dir_.ReadFile("outside/precious.txt"), "keep");
}

TEST_F(FileTest, RenameInFolderAndCurrentFolder) {
  dir_.WriteFile("sub/old.txt", "1");
  EXPECT_TRUE(File::Rename(P("sub").c_str(), "old.txt", "new.txt"));
  EXPECT_TRUE(dir_.Has("sub/new.txt"));
  EXPECT_FALSE(File::Rename(P("sub").c_str(), "old.txt", "other.txt"));

  InFolder in(P("sub"));
  File::Path now;
  EXPECT_TRUE(File::GetCwd(now));
  EXPECT_EQ(std::filesystem::path(now.operator const char*()), std::filesystem::canonical(dir_.Path() / "sub"));
  EXPECT_EQ(File::Exists("new.txt"), File::RES_OK);
  // A one-letter prefix is a drive: "C:x.txt" is a plain name.
  dir_.WriteFile("sub/C:x.txt", "drive");
  File f;
  EXPECT_TRUE(f.Open("C:x.txt", 0x10).Ok());
  EXPECT_EQ(f.Layer(), nullptr);
  f.Close();
  EXPECT_FALSE(File::ChDir(P("missing").c_str()));
}

TEST_F(FileTest, InfoBlocks) {
  const std::string info = Pattern(32);
  {
    File f;
    ASSERT_TRUE(f.Open(P("arc").c_str(), 0x101).Ok());
    f.Write("HEAD", 4, 1);
    f.Write(uint32_t(3));  // another tag: its data is not skipped
    ASSERT_TRUE(f.WriteInfoBlock(info.data()));
    f.Write("INFO", 4, 1);  // a longer one after it
    f.Write(uint32_t(40));
    f.Write(Pattern(40).data(), 40, 1);
    f.Write("tail", 4, 1);
  }
  File f;
  ASSERT_TRUE(f.Open(P("arc").c_str(), 0x20).Ok());
  char out[32];
  EXPECT_EQ(f.ReadInfoBlock(out), 32u);
  EXPECT_EQ(std::string(out, 32), info);
  EXPECT_EQ(f.ReadInfoBlock(out), 32u);
  EXPECT_EQ(std::string(out, 32), Pattern(40).substr(0, 32));
  char tail[4];
  ASSERT_EQ(f.Read(tail, 4, 1), 4u);
  EXPECT_EQ(std::string(tail, 4), "tail");
  EXPECT_EQ(f.ReadInfoBlock(out), 0u);
}

// A substitution list of one substitute "data" over a folder, whose read
// route can be marked as not writable (as an archive's).
class FakeRouter : public Vak::FileSubstRouter {
public:
  explicit FakeRouter(std::string root) : root_(std::move(root)) {}
  Outcome Open(const Vak::PString& substitute, Route route, File& file, const char* name,
               platform::File::Access access, platform::File::Disposition disposition) override {
    if (std::strcmp(substitute.c_str(), "data") != 0) return Outcome::NotListed;
    ++opens;
    lastRoute = route;
    std::string full = root_ + "/" + name;
    file.EditPath() = full.c_str();
    if (file.OwnHandle().Open(full.c_str(), access, disposition) != platform::Error::None)
      return Outcome::NotOpened;
    file.UseOwnHandle();
    file.SetLayer(this);
    return Outcome::Opened;
  }
  bool Close(File& file) override {
    ++closes;
    return file.OwnHandle().Close() == platform::Error::None;
  }
  uint32_t Version(const File&) override { return version; }
  bool Writable(const File&) override { return readRouteWritable; }
  void Lock(const File&) override { ++locks; }
  void Unlock(const File&) override { ++unlocks; }
  bool Listed(const Vak::PString& s) override { return std::strcmp(s.c_str(), "data") == 0; }
  bool Exists(Vak::PString& s, const char* name) override {
    return Listed(s) && platform::Exists((root_ + "/" + name).c_str());
  }
  bool Unlink(const Vak::PString& s, const char* name) override {
    calls.push_back(std::string("unlink ") + s.c_str() + " " + name);
    return true;
  }
  bool Rename(const Vak::PString& s, const char* a, const char* b) override {
    calls.push_back(std::string("rename ") + s.c_str() + " " + a + " " + b);
    return true;
  }
  bool Md(const Vak::PString& s, const char* path) override {
    calls.push_back(std::string("md ") + s.c_str() + " " + path);
    return true;
  }
  bool GetFileTime(const Vak::PString& s, uint32_t& time, const char* name) override {
    calls.push_back(std::string("time ") + s.c_str() + " " + name);
    time = 42;
    return true;
  }

  int opens = 0, closes = 0, locks = 0, unlocks = 0;
  Route lastRoute = Route::Write;
  uint32_t version = 258;
  bool readRouteWritable = true;
  std::vector<std::string> calls;

private:
  std::string root_;
};

class FileSubstTest : public FileTest {
protected:
  void TearDown() override { File::SetSubstRouter(nullptr); }
};

// No router: no substitute is listed, and the text after the colon is a
// plain path.
TEST_F(FileSubstTest, WithoutRouterNothingIsListed) {
  File f;
  EXPECT_EQ(f.Open("data:x.txt", 0x10), File::RES_FILENOTFOUND);
  EXPECT_EQ(File::Exists("data:x.txt"), File::RES_FILENOTFOUND);
  EXPECT_FALSE(File::Unlink("data:x.txt"));
  dir_.WriteFile("x.txt", "plain");
  InFolder in(dir_.Path().string());
  ASSERT_TRUE(f.Open("abc:x.txt", 0x10).Ok());
  EXPECT_EQ(f.Layer(), nullptr);
  EXPECT_EQ(ReadAll(f, 16), "plain");
}

TEST_F(FileSubstTest, RoutesOpenReadAndClose) {
  FakeRouter router(dir_.Path().string());
  File::SetSubstRouter(&router);
  dir_.WriteFile("x.txt", "routed content");
  File f;
  ASSERT_TRUE(f.Open("data:x.txt", 0x10).Ok());
  EXPECT_EQ(router.lastRoute, Vak::FileSubstRouter::Route::Read);
  EXPECT_EQ(f.Layer(), &router);
  EXPECT_EQ(ReadAll(f, 64), "routed content");
  EXPECT_GT(router.locks, 0);
  EXPECT_EQ(router.locks, router.unlocks);
  f.Close();
  EXPECT_EQ(router.closes, 1);

  ASSERT_TRUE(f.Open("data:new.txt", 0x101).Ok());
  EXPECT_EQ(router.lastRoute, Vak::FileSubstRouter::Route::Write);
  f.Write("w", 1, 1);
  f.Close();
  EXPECT_EQ(dir_.ReadFile("new.txt"), "w");

  EXPECT_EQ(f.Open("data:missing.txt", 0x10), File::RES_FILENOTFOUND);
  EXPECT_EQ(f.Open("data:x.txt", 0x301), File::RES_FILEALREADYEXISTS);
  EXPECT_FALSE(f.IsOpen());

  // Not listed: the text after the colon is a plain path.
  EXPECT_TRUE(f.Open(("abc:" + P("x.txt")).c_str(), 0x10).Ok());
  EXPECT_EQ(f.Layer(), nullptr);
  f.Close();
  {
    InFolder in(dir_.Path().string());
    EXPECT_TRUE(f.Open("abc:x.txt", 0x10).Ok());
    EXPECT_EQ(ReadAll(f, 64), "routed content");
    f.Close();
  }
}

TEST_F(FileSubstTest, ReadWriteThroughUnwritableReadRouteIsRefused) {
  FakeRouter router(dir_.Path().string());
  router.readRouteWritable = false;
  File::SetSubstRouter(&router);
  dir_.WriteFile("x.txt", "keep");
  File f;
  EXPECT_EQ(f.Open("data:x.txt", 0x11), File::RES_READONLY);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(router.closes, 1);
  EXPECT_EQ(dir_.ReadFile("x.txt"), "keep");
  router.readRouteWritable = true;
  ASSERT_TRUE(f.Open("data:x.txt", 0x11).Ok());
  f.Close();
}

TEST_F(FileSubstTest, LayerVersion257ExpectsFourByteHeader) {
  FakeRouter router(dir_.Path().string());
  router.version = 257;
  File::SetSubstRouter(&router);
  std::string content = "abcdefghij";
  dir_.WriteFile("c", std::string("CFIL\x0a\x80", 6) + content);
  File f;
  ASSERT_TRUE(f.Open("data:c", 0x10).Ok());
  EXPECT_EQ(f.Mode() & 0xF0, 0x30u);
  EXPECT_EQ(ReadAll(f, 64), content);
}

TEST_F(FileSubstTest, StaticOperationsRoute) {
  FakeRouter router(dir_.Path().string());
  File::SetSubstRouter(&router);
  dir_.WriteFile("e.txt", "1");
  EXPECT_EQ(File::Exists("data:\\e.txt"), File::RES_OK);
  EXPECT_EQ(File::Exists("data:nope"), File::RES_FILENOTFOUND);
  EXPECT_EQ(File::Exists("other:e.txt"), File::RES_FILENOTFOUND);
  Vak::PString data("data");
  EXPECT_EQ(File::Exists(data, "e.txt"), File::RES_OK);
  EXPECT_TRUE(File::Unlink("data:/a.txt"));
  EXPECT_TRUE(File::Rename("data:a.txt", "other:\\b.txt"));
  EXPECT_TRUE(File::Md("data:f/g"));
  uint32_t time = 0;
  EXPECT_TRUE(File::GetFileTime("data:t", time));
  EXPECT_EQ(time, 42u);
  const std::vector<std::string> expected = {"unlink data a.txt", "rename data a.txt b.txt", "md data f/g",
                                             "time data t"};
  EXPECT_EQ(router.calls, expected);
}

} // namespace
