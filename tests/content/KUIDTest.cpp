#include "content/KUID.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

const KUID kNull;

struct ParseCase {
  const char* text;
  bool strict;
  KUID expected;
};

TEST(KUIDTest, ParseVectors) {
  const std::vector<ParseCase> cases = {
      {nullptr, false, kNull},
      {"<NULL>", true, kNull},
      {"<null> trailing", false, kNull},
      // Tagged forms, both modes.
      {"<kuid:123:456>", true, {123, 456, 0}},
      {"<kuid:123:456>", false, {123, 456, 0}},
      {"<KUID:123:456>", true, {123, 456, 0}},
      {"<kuid:-3:456>", true, {-3, 456, 127}},
      {"<kuid:-33554432:1>", true, {-33554432, 1, 127}},
      {"<kuid:-33554433:1>", true, kNull},
      {"<kuid:33554431:-1>", false, {33554431, -1, 0}},
      {"<kuid:33554432:1>", true, kNull},
      {"<KUID2:123:456:7>", true, {123, 456, 7}},
      {"<kuid2:123:456:0>", true, {123, 456, 0}},
      {"<kuid2:123:456:127>", true, {123, 456, 127}},
      {"<kuid2:-3:456:127>", true, kNull},
      {"<kuid2:-3:456:127>", false, kNull},
      {"<kuid2:123:456:200>", true, kNull},
      {"<kuid2:123:456:200>", false, kNull},
      {"<kuid2:33554432:1:1>", true, kNull},
      {"<kuid2:33554431:1:1>", true, {33554431, 1, 1}},
      // Missing closing bracket: strict rejects, lenient reads the numbers.
      {"<kuid:1:2", true, kNull},
      {"<kuid:1:2", false, {1, 2, 0}},
      {"<kuid2:1:2:3", true, kNull},
      {"<kuid2:1:2:3", false, {1, 2, 3}},
      {"<kuid2:1:2:-3>", true, kNull},
      {"<kuid:1:x>", true, kNull},
      // Without angle brackets.
      {"kuid:5:6", true, {5, 6, 0}},
      {"KUID:-5:6", true, {-5, 6, 127}},
      {"kuid:5", true, kNull},
      {"kuid2:5:6:7", true, {5, 6, 7}},
      {"kuid2:-5:6:7", true, kNull},
      // Bare numbers: lenient only.
      {"123:456", false, {123, 456, 0}},
      {"123:456", true, kNull},
      {"<123:456>", false, {123, 456, 0}},
      {"<123:456>", true, kNull},
      {"-7:8", false, {-7, 8, 127}},
      {"789", false, {-1, 789, 127}},
      {"789", true, kNull},
      {"", false, kNull},
      {"1:2:3", false, kNull},
      {"<1:2", false, kNull},
      {"abc", false, kNull},
      {"12a", false, kNull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + (c.strict ? " strict" : " lenient"));
    const KUID k = KUID::Parse(c.text, c.strict);
    EXPECT_EQ(k.user, c.expected.user);
    EXPECT_EQ(k.content, c.expected.content);
    EXPECT_EQ(k.version, c.expected.version);
  }
}

// Numbers too large for 32 bits give the null KUID rather than wrapping
// into a valid-looking id.
TEST(KUIDTest, OutOfRangeNumbersGiveNull) {
  const char* texts[] = {
      "<kuid:4294967297:1>",       "<kuid:1:4294967296>",   "<kuid:1:99999999999999999999999>",
      "<kuid2:4294967295:1:1>",    "<kuid2:1:2:4294967303>", "kuid:1:2147483648",
      "kuid2:1:2:99999999999",     "4294967296:5",           "<1:-2147483649>",
      "99999999999999999999",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(KUID::Parse(text, false).IsNull());
    EXPECT_TRUE(KUID::Parse(text, true).IsNull());
  }
  // The extremes of the 32-bit range still read.
  EXPECT_EQ(KUID::Parse("<kuid:1:2147483647>", true), KUID(1, 2147483647, 0));
  EXPECT_EQ(KUID::Parse("<kuid:1:-2147483648>", false), KUID(1, INT32_MIN, 0));
}

struct TextCase {
  KUID kuid;
  const char* config;
  const char* shortText;
  const char* spaced;
};

TEST(KUIDTest, TextForms) {
  const std::vector<TextCase> cases = {
      {kNull, "<NULL>", "NULLKUID", "NULLKUID"},
      {{123, 456, 0}, "<kuid:123:456>", "123:456", "kuid 123 456"},
      {{5, 6, 127}, "<kuid2:5:6:127>", "5:6:127", "kuid2 5 6 127"},
      {{-5, 6, 127}, "<kuid:-5:6>", "-5:6", "kuid -5 6"},
      {{5, 6, 3}, "<kuid2:5:6:3>", "5:6:3", "kuid2 5 6 3"},
      {{-1, 7, 127}, "<kuid:-1:7>", "-1:7", "kuid -1 7"},
      {{0, -1, 0}, "<kuid:0:-1>", "0:-1", "kuid 0 -1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    EXPECT_STREQ(c.kuid.ToConfigText().c_str(), c.config);
    EXPECT_STREQ(static_cast<const char*>(c.kuid.ToShortText()), c.shortText);
    EXPECT_STREQ(static_cast<const char*>(c.kuid.ToSpacedText()), c.spaced);
    // The config form reads back to the same value (strict mode takes no
    // negative content id).
    EXPECT_EQ(KUID::Parse(c.kuid.ToConfigText().c_str(), c.kuid.content >= 0), c.kuid);
  }
}

TEST(KUIDTest, PackAndUnpack) {
  struct Case {
    KUID kuid;
    uint32_t packed;
  };
  const std::vector<Case> cases = {
      {{-1, 10, 127}, 0xFFFFFFFFu},
      {{123, 456, 0}, 123u},
      {{5, 6, 7}, 5u | (7u << 25)},
      {{-3, 6, 127}, 0x1FFFFFDu | (127u << 25)},
      {{-0x1000000, 1, 127}, 0x1000000u | (127u << 25)},
      {{0xFFFFFF, 1, 127}, 0xFFFFFFu | (127u << 25)},
      // Bit 24 set with a version below 127: a large positive id.
      {{0x1FFFFFF, 1, 0}, 0x1FFFFFFu},
      {{0x1234567, 1, 126}, 0x1234567u | (126u << 25)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kuid.ToConfigText().c_str());
    uint32_t packed = 0, content = 0;
    c.kuid.Pack(packed, content);
    EXPECT_EQ(packed, c.packed);
    EXPECT_EQ(content, static_cast<uint32_t>(c.kuid.content));
    EXPECT_EQ(KUID::Unpack(packed, content), c.kuid);
  }
}

TEST(KUIDTest, StreamFormIsContentThenPackedWord) {
  TBuffer stream;
  const KUID kuid(123, 456, 7);
  stream.WriteKUID(kuid);
  stream.WriteInt(0xAABBCCDD);  // something follows, as in every real stream
  ASSERT_EQ(stream.GetBuffer().Size(), 12u);
  const uint8_t* d = stream.GetBuffer().Data();
  const std::vector<uint8_t> expected = {0xC8, 0x01, 0, 0, 123, 0, 0, 14};
  EXPECT_EQ(std::vector<uint8_t>(d, d + 8), expected);

  stream.SeekBuffered(0, TStream::kBegin);
  EXPECT_EQ(stream.ReadKUID(), kuid);
  EXPECT_EQ(stream.ReadInt(), 0xAABBCCDDu);
  EXPECT_EQ(stream.GetError(), 0);
}

TEST(KUIDTest, TruncatedStreamReadsNull) {
  for (uint32_t length = 0; length < 8; ++length) {
    SCOPED_TRACE(length);
    TBuffer stream;
    KUID(5, 6, 7).Write(stream);
    stream.GetBuffer().SetSize(length);
    stream.SeekBuffered(0, TStream::kBegin);
    EXPECT_TRUE(KUID::Read(stream).IsNull());
    EXPECT_NE(stream.GetError(), 0);
  }
}

} // namespace
