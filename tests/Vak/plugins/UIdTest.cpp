#include "Vak/plugins/UId.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Fields {
  uint32_t first;
  uint16_t second;
  uint16_t third;
  std::array<uint8_t, 8> bytes;
};

void ExpectFields(const Vak::UId& id, const Fields& f, const std::string& text) {
  EXPECT_EQ(id.first, f.first) << text;
  EXPECT_EQ(id.second, f.second) << text;
  EXPECT_EQ(id.third, f.third) << text;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(id.bytes[i], f.bytes[i]) << text << " byte " << i;
}

TEST(UIdTest, ParsesTextIntoFields) {
  struct Case {
    const char* text;
    Fields expected;
  };
  const std::vector<Case> cases = {
      {"4C414E80-BBDA-11d4-9AD7-0001025364B8",
       {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0x64, 0xB8}}},
      {"00000000-0000-0000-0000-000000000000", {0, 0, 0, {}}},
      {"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
       {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}},
      // Characters past the 36th are never read.
      {"4C414E80-BBDA-11d4-9AD7-0001025364B8trailing",
       {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0x64, 0xB8}}},
      // Separators are not checked: positions 8, 13, 18 and 23 are ignored.
      {"4C414E80xBBDAx11d4x9AD7x0001025364B8",
       {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0x64, 0xB8}}},
      // Braces are taken as given: everything shifts by one.
      {"{4C414E80-BBDA-11d4-9AD7-0001025364B8}", {0, 0, 0, {0x00, 0xAD, 0x00, 0x00, 0x10, 0x25, 0x36, 0x4B}}},
      // Short texts: what is not covered reads as 0.
      {"", {0, 0, 0, {}}},
      {"4C414E80", {0x4C414E80, 0, 0, {}}},
      {"4C414E80-BB", {0x4C414E80, 0xBB, 0, {}}},
      {"4C414E80-BBDA-11d4-9A", {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0, 0, 0, 0, 0, 0, 0}}},
      {"4C414E80-BBDA-11d4-9AD7-00010253", {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0, 0}}},
      {"4C414E80-BBDA-11d4-9AD7-0001025364B", {0x4C414E80, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0x64, 0x0B}}},
      // Non-hex characters end a field; none at all gives 0.
      {"4C41ZZ80-BBDA-11d4-9AD7-0001025364B8",
       {0x4C41, 0xBBDA, 0x11D4, {0x9A, 0xD7, 0x00, 0x01, 0x02, 0x53, 0x64, 0xB8}}},
      {"ZZZZZZZZ-GHIJ-1-2-9G-G9-0001025364B8", {0, 0, 0x1, {0, 0, 0x00, 0x01, 0x02, 0x53, 0x64, 0xB8}}},
      {"12345678-9ABC-DEF0-1G2g-0x01+2-34 56",
       {0x12345678, 0x9ABC, 0xDEF0, {0x1, 0x2, 0x0, 0x1, 0x0, 0x0, 0x4, 0x56}}},
      // No sign, blank or 0x prefix is taken as part of a number.
      {" 1234567--1-2-0x12-0001025364B8", {0, 0, 0, {0x00, 0x01, 0x25, 0x36, 0x4B, 0x08, 0, 0}}},
  };
  for (const Case& c : cases) ExpectFields(Vak::UId(c.text), c.expected, c.text);
}

TEST(UIdTest, NullTextAndDefaultAreZero) {
  EXPECT_EQ(Vak::UId(nullptr), Vak::UId());
  EXPECT_EQ(Vak::UId().ToText(), "00000000-0000-0000-0000-000000000000");
}

TEST(UIdTest, CaseDoesNotMatter) {
  const Vak::UId upper("4C414E80-BBDA-11D4-9AD7-0001025364B8");
  const Vak::UId lower("4c414e80-bbda-11d4-9ad7-0001025364b8");
  EXPECT_EQ(upper, lower);
  EXPECT_EQ(upper.Hash(), lower.Hash());
}

TEST(UIdTest, EqualityLooksAtEveryWord) {
  const char* base = "4C414E80-BBDA-11D4-9AD7-0001025364B8";
  const std::vector<const char*> others = {
      "4C414E81-BBDA-11D4-9AD7-0001025364B8",  // word 0
      "4C414E80-BBDB-11D4-9AD7-0001025364B8",  // word 1, low half
      "4C414E80-BBDA-11D5-9AD7-0001025364B8",  // word 1, high half
      "4C414E80-BBDA-11D4-9AD7-0101025364B8",  // word 2
      "4C414E80-BBDA-11D4-9AD7-0001025364B9",  // word 3
  };
  for (const char* other : others) EXPECT_NE(Vak::UId(base), Vak::UId(other)) << other;
}

TEST(UIdTest, HashIsXorOfTheLittleEndianWords) {
  const Vak::UId id("4C414E80-BBDA-11D4-9AD7-0001025364B8");
  const uint32_t words[4] = {0x4C414E80u, 0x11D4BBDAu, 0x0100D79Au, 0xB8645302u};
  EXPECT_EQ(id.Hash(), words[0] ^ words[1] ^ words[2] ^ words[3]);
  EXPECT_EQ(Vak::UId().Hash(), 0u);
}

TEST(UIdTest, RoundTripThroughText) {
  const std::vector<std::string> texts = {
      "4C414E80-BBDA-11D4-9AD7-0001025364B8",
      "00000000-0000-0000-0000-000000000000",
      "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
      "0000000A-000B-000C-0D0E-0F1011121314",
  };
  for (const std::string& text : texts) {
    const Vak::UId id(text.c_str());
    EXPECT_EQ(id.ToText(), text);
    EXPECT_EQ(Vak::UId(id.ToText().c_str()), id);
  }
  EXPECT_EQ(Vak::UId("4c414e80-bbda-11d4-9ad7-0001025364b8").ToText(), "4C414E80-BBDA-11D4-9AD7-0001025364B8");
}

} // namespace
