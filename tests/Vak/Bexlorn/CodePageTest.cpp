#include "Vak/Bexlorn/CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace cp = Vak::CodePage;

std::string Byte(unsigned char c) { return std::string(1, static_cast<char>(c)); }

TEST(CodePage, EveryByteRoundTripsThroughUtf16AndUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    all.push_back(static_cast<char>(c));
    unsigned char back = 0;
    ASSERT_TRUE(cp::FromUtf16(cp::ToUtf16(c), back)) << b;
    EXPECT_EQ(back, c) << b;
  }
  const std::u16string wide = cp::AnsiToUtf16(all.data(), all.size());
  ASSERT_EQ(wide.size(), 256u);
  std::string narrow;
  ASSERT_TRUE(cp::Utf16ToAnsi(wide.data(), wide.size(), narrow));
  EXPECT_EQ(narrow, all);

  const std::string utf8 = cp::AnsiToUtf8(all.data(), all.size());
  ASSERT_TRUE(cp::Utf8ToAnsi(utf8.data(), utf8.size(), narrow));
  EXPECT_EQ(narrow, all);
}

TEST(CodePage, KnownMappings) {
  struct Case {
    unsigned char byte;
    char16_t unit;
    const char* utf8;
  };
  const Case cases[] = {
      {0x41, u'A', "A"},
      {0x80, 0x20AC, "\xE2\x82\xAC"},
      {0x81, 0x0081, "\xC2\x81"},  // undefined in the code page: the C1 control
      {0x8A, 0x0160, "\xC5\xA0"},
      {0x8D, 0x008D, "\xC2\x8D"},
      {0x99, 0x2122, "\xE2\x84\xA2"},
      {0x9D, 0x009D, "\xC2\x9D"},
      {0x9F, 0x0178, "\xC5\xB8"},
      {0xA0, 0x00A0, "\xC2\xA0"},
      {0xE9, 0x00E9, "\xC3\xA9"},
      {0xFF, 0x00FF, "\xC3\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(cp::ToUtf16(c.byte), c.unit);
    unsigned char back = 0;
    EXPECT_TRUE(cp::FromUtf16(c.unit, back));
    EXPECT_EQ(back, c.byte);
    EXPECT_EQ(cp::AnsiToUtf8(Byte(c.byte).data(), 1), c.utf8);
  }
}

TEST(CodePage, Utf16WithoutAByteFailsOrTakesTheReplacement) {
  struct Case {
    std::u16string text;
    const char* soFar;     // what a failed conversion leaves behind
    const char* replaced;  // with '?' as the replacement
  };
  const Case cases[] = {
      {u"ab\u0100c", "ab", "ab?c"},
      {u"\u0080", "", "?"},  // a C1 control the code page does not keep
      {u"x\u4E2D", "x", "x?"},
      {u"a\U0001F600b", "a", "a?b"},                      // a pair is one character
      {std::u16string(u"a") + char16_t(0xD800), "a", "a?"},  // high surrogate at the end
      {std::u16string(u"a") + char16_t(0xD800) + u"b", "a", "a?b"},
      {std::u16string(u"a") + char16_t(0xDC00) + u"b", "a", "a?b"},  // lone low surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replaced);
    std::string out = "stale";
    EXPECT_FALSE(cp::Utf16ToAnsi(c.text.data(), c.text.size(), out));
    EXPECT_EQ(out, c.soFar);
    EXPECT_TRUE(cp::Utf16ToAnsi(c.text.data(), c.text.size(), out, '?'));
    EXPECT_EQ(out, c.replaced);
  }
  unsigned char byte = 0;
  EXPECT_FALSE(cp::FromUtf16(0x0100, byte));
  EXPECT_FALSE(cp::FromUtf16(0xD800, byte));
}

TEST(CodePage, MalformedUtf8IsRejectedEvenWithAReplacement) {
  const std::string cases[] = {
      "\x80",                 // stray continuation byte
      "a\xBF",                //
      "\xC0\x80",             // overlong NUL
      "\xC1\xBF",             // overlong
      "\xE0\x80\xAF",         // overlong three-byte
      "\xF0\x80\x80\xAF",     // overlong four-byte
      "\xED\xA0\x80",         // surrogate D800
      "\xED\xBF\xBF",         // surrogate DFFF
      "\xF4\x90\x80\x80",     // past U+10FFFF
      "\xF5\x80\x80\x80",     //
      "\xFF",                 //
      "\xC3",                 // truncated
      "\xE2\x82",             // truncated
      "\xF0\x9F\x98",         // truncated
      "\xC3\x41",             // continuation missing
      "\xE2\x28\xA1",         //
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string out;
    EXPECT_FALSE(cp::Utf8ToAnsi(text.data(), text.size(), out));
    EXPECT_FALSE(cp::Utf8ToAnsi(text.data(), text.size(), out, '?'));
  }
}

TEST(CodePage, WellFormedUtf8) {
  struct Case {
    std::string utf8;
    bool ok;             // without a replacement
    std::string result;  // with '?' as the replacement
  };
  const Case cases[] = {
      {"", true, ""},
      {"plain", true, "plain"},
      {std::string("a\0b", 3), true, std::string("a\0b", 3)},
      {"caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8", true, "caf\xE9 \x80\x9F"},
      {"\xEF\xBF\xBF", false, "?"},          // U+FFFF
      {"x\xF0\x9F\x98\x80y", false, "x?y"},  // outside the BMP
      {"\xF4\x8F\xBF\xBF", false, "?"},      // U+10FFFF, the last code point
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    std::string out;
    EXPECT_EQ(cp::Utf8ToAnsi(c.utf8.data(), c.utf8.size(), out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.result);
    }
    ASSERT_TRUE(cp::Utf8ToAnsi(c.utf8.data(), c.utf8.size(), out, '?'));
    EXPECT_EQ(out, c.result);
  }
}

TEST(CodePage, CaseFolding) {
  const std::pair<unsigned char, unsigned char> pairs[] = {
      {'A', 'a'}, {'Z', 'z'}, {0xC0, 0xE0}, {0xC9, 0xE9}, {0xD6, 0xF6}, {0xD8, 0xF8},
      {0xDE, 0xFE}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF},
  };
  for (auto [upper, lower] : pairs) {
    SCOPED_TRACE(static_cast<int>(upper));
    EXPECT_EQ(cp::ToLower(upper), lower);
    EXPECT_EQ(cp::ToLower(lower), lower);
    EXPECT_EQ(cp::ToUpper(lower), upper);
    EXPECT_EQ(cp::ToUpper(upper), upper);
  }
  // Signs, digits, ASCII neighbours of the letters, and letters without a
  // partner in the code page.
  for (int c : {0x00, int{'0'}, int{'@'}, int{'['}, int{'`'}, int{'{'}, 0x83, 0x9B, 0xB5, 0xD7, 0xDF, 0xF7}) {
    SCOPED_TRACE(c);
    EXPECT_EQ(cp::ToLower(static_cast<unsigned char>(c)), c);
    EXPECT_EQ(cp::ToUpper(static_cast<unsigned char>(c)), c);
  }
  // Exactly 60 letters have a lower form, and folding is consistent both ways.
  int folded = 0;
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    if (cp::ToLower(c) != c) ++folded;
    EXPECT_EQ(cp::ToLower(cp::ToUpper(c)), cp::ToLower(c)) << b;
    EXPECT_EQ(cp::ToUpper(cp::ToLower(c)), cp::ToUpper(c)) << b;
  }
  EXPECT_EQ(folded, 26 + 30 + 4);
}

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CodePage, CompareIgnoreCase) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"", "", 0},
      {"abc", "ABC", 0},
      {"abc", "ABD", -1},
      {"ab", "abc", -1},  // a prefix sorts first
      {"abc", "ab", 1},
      {"\xC9T\xC9", "\xE9t\xE9", 0},  // accented letters fold too
      {"\x8A", "\x9A", 0},
      {"[", "A", -1},        // compared as lower case: '[' < 'a'
      {"_", "a", -1},
      {"\xE9", "z", 1},      // unsigned bytes: high letters after ASCII
      {"\xD7", "\xF7", -1},  // not letters: no folding
      {"\xDF", "SS", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    EXPECT_EQ(Sign(cp::CompareIgnoreCase(c.a, c.b)), c.sign);
    EXPECT_EQ(Sign(cp::CompareIgnoreCase(c.b, c.a)), -c.sign);
  }

  struct CaseN {
    const char* a;
    const char* b;
    std::size_t n;
    int sign;
  };
  const CaseN casesN[] = {
      {"abcX", "ABCy", 3, 0},
      {"abcX", "ABCy", 4, -1},
      {"x", "y", 0, 0},
      {"ab", "AB", 100, 0},  // stops at the end of both texts
      {"ab", "ABC", 100, -1},
  };
  for (const CaseN& c : casesN) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    EXPECT_EQ(Sign(cp::CompareIgnoreCaseN(c.a, c.b, c.n)), c.sign);
  }
}

TEST(CodePage, StartsAndEndsWithIgnoreCase) {
  struct Case {
    const char* text;
    const char* part;
    bool starts;
    bool ends;
  };
  const Case cases[] = {
      {"<KUID:1:2>", "<kuid:", true, false},
      {"Texture.TXT", "texture.txt", true, true},
      {"a/bTexture.txt", "TEXTURE.TXT", false, true},
      {"abc", "", true, true},
      {"", "a", false, false},
      {"ab", "abc", false, false},  // the part is longer than the text
      {"\xC9t\xC9", "\xE9T\xE9", true, true},  // the code page's letters fold
      {"\xD7x", "\xF7", false, false},          // not letters
      {"kuid", "KUID2", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " / " + testing::PrintToString(c.part));
    EXPECT_EQ(cp::StartsWithIgnoreCase(c.text, c.part), c.starts);
    EXPECT_EQ(cp::EndsWithIgnoreCase(c.text, c.part), c.ends);
  }
}

TEST(CodePage, AsciiEqualsIgnoreCase) {
  struct Case {
    const char* a;
    const char* b;
    std::size_t n;
    bool equal;
  };
  const Case cases[] = {
      {"Track", "tRACK", 5, true},
      {"Tracks", "trackX", 5, true},  // only n bytes count
      {"abc", "abd", 3, false},
      {"", "", 0, true},
      {"\xC4", "\xE4", 1, false},           // ASCII letters only
      {"a\0b", "A\0c", 4, false},         // a NUL does not end the comparison
      {"@[`{", "@[`{", 4, true},
      {"[", "{", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    EXPECT_EQ(cp::AsciiEqualsIgnoreCase(c.a, c.b, c.n), c.equal);
  }
}

}  // namespace
