#include "Vak/Bexlorn/CompressedFileFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace CF = Vak::CompressedFile;

TEST(CompressedFileFormatTest, Heads) {
  std::vector<uint8_t> full, bare;
  CF::AppendHead(full, 0x01020304);
  CF::AppendHead(bare, 0x01020304, CF::HeadBytes(257));
  EXPECT_EQ(std::string(full.begin(), full.end()), std::string("CFIL\x01\x01\0\0\x04\x03\x02\x01", 12));
  EXPECT_EQ(std::string(bare.begin(), bare.end()), "CFIL");
  EXPECT_EQ(CF::HeadBytes(258), 12u);

  struct Case {
    std::string bytes;
    uint32_t layerVersion;
    bool parsed;
    uint32_t version;
    bool lengthKnown;
    uint32_t length;
  };
  const Case cases[] = {
      {std::string("CFIL\x01\x01\0\0\x05\0\0\0", 12), 258, true, 257, true, 5},
      {std::string("CFIL\0\x01\0\0\x05\0\0\0", 12), 258, true, 256, false, 0},  // no length before 257
      {"CFIL", 257, true, 257, false, 0},
      {std::string("CFIX\x01\x01\0\0\x05\0\0\0", 12), 258, false, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    CF::Head head;
    EXPECT_EQ(CF::ParseHead(reinterpret_cast<const uint8_t*>(c.bytes.data()), static_cast<uint32_t>(c.bytes.size()),
                            c.layerVersion, head),
              c.parsed);
    EXPECT_EQ(head.version, c.version);
    EXPECT_EQ(head.lengthKnown, c.lengthKnown);
    EXPECT_EQ(head.length, c.length);
  }
}

TEST(CompressedFileFormatTest, BlocksRoundTripAndDamageIsRefused) {
  std::vector<uint8_t> scratch(CF::kBlockBytes), out(CF::kBlockBytes);
  const std::string pieces[] = {"x", std::string(CF::kBlockBytes, 'q'), "abcdefgh"};
  for (const std::string& piece : pieces) {
    SCOPED_TRACE(piece.size());
    std::vector<uint8_t> block;
    const uint32_t payload = CF::AppendBlock(block, reinterpret_cast<const uint8_t*>(piece.data()),
                                             static_cast<uint32_t>(piece.size()), scratch.data());
    ASSERT_EQ(block.size(), CF::kBlockWordBytes + payload);
    CF::Block parsed;
    ASSERT_TRUE(CF::ParseBlockWord(block.data(), parsed));
    EXPECT_EQ(parsed.payload, payload);
    EXPECT_EQ(parsed.stored, payload == piece.size());
    EXPECT_EQ(parsed.span, parsed.stored ? payload : CF::kBlockBytes);
    const uint32_t length = CF::ExpandBlock(parsed, block.data() + CF::kBlockWordBytes, out.data());
    EXPECT_EQ(std::string(out.begin(), out.begin() + length), piece);
  }
  // Words no writer makes.
  for (const uint16_t word : {0x8000, 0x0000, 0xFFFF, 0x4001}) {
    SCOPED_TRACE(word);
    const uint8_t bytes[2] = {uint8_t(word), uint8_t(word >> 8)};
    CF::Block parsed;
    EXPECT_FALSE(CF::ParseBlockWord(bytes, parsed));
  }
  // A coded payload that does not expand.
  const uint8_t damaged[] = {0x00, 0x01};
  EXPECT_EQ(CF::ExpandBlock(CF::Block{false, sizeof damaged, CF::kBlockBytes}, damaged, out.data()), 0u);
}

} // namespace
