#include "tools/Utf8.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string Hex(const uint8_t* bytes, int n) {
  std::string out;
  char item[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(item, sizeof item, "%02X", bytes[i]);
    out += item;
  }
  return out;
}

TEST(EncodeUtf8, WritesOneToFourBytes) {
  struct Case {
    uint32_t codePoint;
    const char* bytes;
  };
  const Case cases[] = {
      {0x00, "00"},       {0x41, "41"},           {0x7F, "7F"},           {0x80, "C280"},     {0x7FF, "DFBF"},
      {0x800, "E0A080"},  {0x20AC, "E282AC"},     {0xFFFF, "EFBFBF"},     {0x10000, "F0908080"},
      {0x10FFFF, "F48FBFBF"}, {0x1FFFFF, "F7BFBFBF"}, {0x200000, "3F"}, {0xFFFFFFFF, "3F"},
  };
  for (const Case& c : cases) {
    uint8_t out[4] = {};
    const int n = EncodeUtf8(c.codePoint, out);
    EXPECT_EQ(c.bytes, Hex(out, n)) << std::hex << c.codePoint;
  }
}

TEST(CheckUtf8Sequence, AcceptsOnlyLegalSequences) {
  struct Case {
    std::string bytes;
    bool legal;
    int length;
  };
  const Case cases[] = {
      {"A", true, 1},
      {std::string("\0", 1), true, 1},
      {"\x7F", true, 1},
      {"\x80", false, 0},
      {std::string("\xC0\x80", 2), false, 0},  // an overlong zero
      {"\xC1\xBF", false, 0},
      {"\xC2\x80", true, 2},
      {"\xDF\xBF", true, 2},
      {"\xC2\x41", false, 0},
      {"\xC2\xC0", false, 0},
      {"\xE0\x9F\xBF", false, 0},
      {"\xE0\xA0\x80", true, 3},
      {"\xE2\x82\xAC", true, 3},
      {"\xE2\x82", false, 0},
      {"\xF0\x8F\xBF\xBF", false, 0},
      {"\xF0\x90\x80\x80", true, 4},
      {"\xF4\x8F\xBF\xBF", true, 4},
      {"\xF4\x90\x80\x80", false, 0},
      {"\xF5\x80\x80\x80", false, 0},
      {"\xF8\x88\x80\x80\x80", false, 0},
      {"\xFC\x84\x80\x80\x80\x80", false, 0},
  };
  for (const Case& c : cases) {
    std::string padded = c.bytes + std::string(8, '\0');
    int length = -1;
    EXPECT_EQ(c.legal, CheckUtf8Sequence(reinterpret_cast<const uint8_t*>(padded.data()), &length))
        << Hex(reinterpret_cast<const uint8_t*>(c.bytes.data()), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(c.legal ? c.length : -1, length);
    EXPECT_EQ(c.legal, CheckUtf8Sequence(reinterpret_cast<const uint8_t*>(padded.data()), nullptr));
  }
}

TEST(DecodeUtf8, ReadsWhatEncodeWrote) {
  for (uint32_t codePoint : {0x0u, 0x41u, 0x80u, 0x7FFu, 0x800u, 0x20ACu, 0xFFFFu, 0x10000u, 0x10FFFFu, 0x1FFFFFu}) {
    uint8_t bytes[8] = {};
    const int n = EncodeUtf8(codePoint, bytes);
    int length = 0;
    EXPECT_EQ(codePoint, DecodeUtf8(bytes, &length)) << std::hex << codePoint;
    EXPECT_EQ(n, length);
    EXPECT_EQ(codePoint, DecodeUtf8(bytes, nullptr));
  }
  // The lead byte's count is trusted: a five-byte form decodes too.
  const uint8_t five[] = {0xF8, 0x88, 0x80, 0x80, 0x80, 0};
  int length = 0;
  EXPECT_EQ(0x200000u, DecodeUtf8(five, &length));
  EXPECT_EQ(5, length);
}

TEST(CountUtf8Characters, StepsByEachLeadByte) {
  struct Case {
    std::string bytes;
    int count;
  };
  const Case cases[] = {
      {"", 0}, {"abc", 3}, {"a\xE2\x82\xAC" "b", 3}, {"\xF0\x90\x80\x80", 1}, {"\x80\x80", 2}, {"\xC3\xA9\xC3\xA9", 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.count, CountUtf8Characters(reinterpret_cast<const uint8_t*>(c.bytes.data()), static_cast<int>(c.bytes.size())))
        << c.bytes;
}

} // namespace
