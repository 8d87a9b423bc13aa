#include "engine/kernelx/ResourceFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::FourCC;
using Vak::ResourceChunk;
using Vak::ResourceFileWriter;

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

TEST(ResourceFileTest, SizesAreBackPatchedAroundNestedChunks) {
  platform::test::TempFolder folder;
  const std::string path = folder / "t.bin";
  {
    Vak::File file;
    ASSERT_TRUE(file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
    ResourceFileWriter writer(file);
    EXPECT_TRUE(writer.BeginFile(0x46544D4D));
    EXPECT_TRUE(writer.BeginChunk(FourCC("OUTR"), 1));
    EXPECT_TRUE(writer.WriteU32(7));
    EXPECT_TRUE(writer.BeginChunk(FourCC("INNR"), 2));
    EXPECT_TRUE(writer.Write("xyz", 3));
    EXPECT_TRUE(writer.End());
    EXPECT_TRUE(writer.End());
    EXPECT_TRUE(writer.BeginChunk(FourCC("LAST"), 3));
    EXPECT_TRUE(writer.End());
    EXPECT_EQ(writer.Depth(), 1u);
    EXPECT_TRUE(writer.End());
    EXPECT_FALSE(writer.End()) << "nothing left open";
    EXPECT_EQ(file.Close(), 0);
  }
  const std::string bytes = folder.ReadFile("t.bin");
  const std::string expected = std::string("VIRF\x2F\0\0\0MMTF", 12) +
                               std::string("OUTR\x17\0\0\0\x01\0\0\0\x07\0\0\0", 16) +
                               std::string("INNR\x07\0\0\0\x02\0\0\0xyz", 15) +
                               std::string("LAST\x04\0\0\0\x03\0\0\0", 12);
  EXPECT_EQ(bytes, expected);

  uint32_t type = 0;
  std::size_t end = 0;
  ASSERT_TRUE(Vak::ReadResourceFileHeader(Bytes(bytes), bytes.size(), type, end));
  EXPECT_EQ(type, 0x46544D4Du);
  EXPECT_EQ(end, bytes.size());
  std::vector<ResourceChunk> chunks;
  ASSERT_TRUE(Vak::ReadResourceChunks(Bytes(bytes), 12, end, chunks));
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].tag, FourCC("OUTR"));
  EXPECT_EQ(chunks[0].version, 1u);
  EXPECT_EQ(chunks[1].tag, FourCC("LAST"));
  EXPECT_EQ(chunks[1].payload, chunks[1].end);
  std::vector<ResourceChunk> inner;
  ASSERT_TRUE(Vak::ReadResourceChunks(Bytes(bytes), chunks[0].payload + 4, chunks[0].end, inner));
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0].version, 2u);
  EXPECT_EQ(bytes.substr(inner[0].payload, inner[0].end - inner[0].payload), "xyz");
}

TEST(ResourceFileTest, ReaderRefusesSizesThatDoNotFit) {
  const std::string chunk = std::string("ABCD\x04\0\0\0\x01\0\0\0", 12);
  auto file = [](uint32_t size, const std::string& body) {
    std::string out = "VIRF";
    for (int k = 0; k < 4; ++k) out += static_cast<char>(size >> (8 * k));
    return out + "TYPE" + body;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool header;
    bool chunks;
  };
  const Case cases[] = {
      {"well formed", file(16, chunk), true, true},
      {"shorter than a header", std::string("VIRF\x04\0\0", 7), false, false},
      {"wrong magic", "VIRX" + file(16, chunk).substr(4), false, false},
      {"size past the end", file(17, chunk), false, false},
      {"size without a type", file(3, chunk), false, false},
      {"container ends inside a chunk", file(15, chunk) + "", true, false},
      {"bytes after the last chunk", file(18, chunk + "zz"), true, false},
      {"chunk size past the container", file(16, std::string("ABCD\x05\0\0\0\x01\0\0\0", 12)), true, false},
      {"chunk size without a version", file(16, std::string("ABCD\x03\0\0\0\x01\0\0\0", 12)), true, false},
  };
  for (const Case& c : cases) {
    uint32_t type = 0;
    std::size_t end = 0;
    const bool header = Vak::ReadResourceFileHeader(Bytes(c.bytes), c.bytes.size(), type, end);
    EXPECT_EQ(header, c.header) << c.what;
    if (!header) continue;
    std::vector<ResourceChunk> chunks;
    EXPECT_EQ(Vak::ReadResourceChunks(Bytes(c.bytes), 12, end, chunks), c.chunks) << c.what;
  }
}

} // namespace
