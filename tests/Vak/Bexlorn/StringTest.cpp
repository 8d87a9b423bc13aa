#include "Vak/Bexlorn/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {
namespace {

using R = AnsiString::CompareResult;

std::string Str(const String& s) { return std::string(static_cast<const char*>(s), s.Size()); }

// ---- blocks and capacity -----------------------------------------------------

TEST(StringTest, CapacityRule) {
  const std::vector<std::pair<unsigned, unsigned>> cases = {
      {0, 16}, {1, 16}, {14, 16}, {15, 32}, {30, 32}, {31, 48}, {1000, 1008}, {1007, 1024},
  };
  for (auto [length, capacity] : cases) {
    EXPECT_EQ(String::CapacityFor(length), capacity) << length;
    EXPECT_EQ(String(std::string(length, 'a').c_str()).Capacity(), capacity) << length;
  }
}

TEST(StringTest, AppendingOneCharacterAtATimeGrowsIn16ByteSteps) {
  AnsiString s("");
  std::string expected;
  for (unsigned length = 1; length <= 40; ++length) {
    s += "x";
    expected += 'x';
    ASSERT_EQ(Str(s), expected);
    EXPECT_EQ(s.Capacity(), String::CapacityFor(length)) << length;
  }
  AnsiString fourteen(std::string(14, 'a').c_str());
  EXPECT_EQ(fourteen.Capacity(), 16u);
  fourteen += "b";
  EXPECT_EQ(fourteen.Capacity(), 32u);
}

TEST(StringTest, EmptyFormsShareOneStaticBlockExceptAnOwnedEmptyText) {
  String byDefault;
  String fromNull(static_cast<const char*>(nullptr));
  String fromNullCounted(nullptr, 5);
  String fromEmpty("");
  for (const String* s : {&byDefault, &fromNull, &fromNullCounted, &fromEmpty}) {
    EXPECT_STREQ(*s, "");
    EXPECT_EQ(s->Size(), 0u);
  }
  EXPECT_EQ(byDefault.Capacity(), 0u);
  EXPECT_EQ(static_cast<const char*>(byDefault), static_cast<const char*>(fromNull));
  EXPECT_EQ(static_cast<const char*>(byDefault), static_cast<const char*>(fromNullCounted));
  EXPECT_EQ(fromEmpty.Capacity(), 16u);

  // Assigning null goes back to the static block.
  fromEmpty = static_cast<const char*>(nullptr);
  EXPECT_EQ(fromEmpty.Capacity(), 0u);
}

TEST(StringTest, CountedConstructorStopsAtTheTerminator) {
  const char text[] = "abc\0def";
  const std::vector<std::pair<unsigned, std::string>> cases = {
      {0, ""}, {2, "ab"}, {3, "abc"}, {7, "abc"}, {~0u, "abc"},
  };
  for (const auto& [n, expected] : cases) EXPECT_EQ(Str(String(text, n)), expected) << n;
}

TEST(StringTest, CopiesShareTheBlockAndReleaseIt) {
  String a("hello");
  EXPECT_EQ(a.RefCount(), 1);
  {
    String b(a);
    String c;
    c = b;
    EXPECT_EQ(static_cast<const char*>(b), static_cast<const char*>(a));
    EXPECT_EQ(a.RefCount(), 3);
    c = c;  // self-assignment keeps the block
    EXPECT_EQ(Str(c), "hello");
    EXPECT_EQ(a.RefCount(), 3);
  }
  EXPECT_EQ(a.RefCount(), 1);

  String moved(std::move(a));
  EXPECT_EQ(Str(moved), "hello");
  EXPECT_EQ(moved.RefCount(), 1);
  EXPECT_EQ(a.Capacity(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is the empty string
  EXPECT_STREQ(a, "");
}

TEST(StringTest, FromInternedString) {
  String fromNull{PString()};
  EXPECT_EQ(fromNull.Capacity(), 0u);

  String fromEmpty{PString("")};
  EXPECT_STREQ(fromEmpty, "");
  EXPECT_EQ(fromEmpty.Capacity(), 16u);

  String s{PString("Track")};
  EXPECT_EQ(Str(s), "Track");
  s = PString("some longer interned name");
  EXPECT_EQ(Str(s), "some longer interned name");
  EXPECT_EQ(s.Capacity(), String::CapacityFor(25));
  s = PString();
  EXPECT_EQ(s.Capacity(), 0u);
}

// ---- copy-on-write -----------------------------------------------------------

TEST(StringTest, WritingOneOfTwoCopiesLeavesTheOtherUnchanged) {
  struct Case {
    const char* name;
    std::function<void(AnsiString&)> write;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"append", [](AnsiString& s) { s += "!"; }, "hello world!"},
      {"insert", [](AnsiString& s) { s.Insert("++", 5); }, "hello++ world"},
      {"del", [](AnsiString& s) { s.Del(0, 6); }, "world"},
      {"removeChars", [](AnsiString& s) { s.RemoveChars("lo"); }, "he wrd"},
      {"token", [](AnsiString& s) { s.Token(" "); }, " world"},
      {"toUpper", [](AnsiString& s) { s.ToUpper(); }, "HELLO WORLD"},
      {"setf", [](AnsiString& s) { s.Setf("%d", 12); }, "12"},
      {"addf", [](AnsiString& s) { s.Addf("%d", 12); }, "hello world12"},
      {"assign", [](AnsiString& s) { s = "other"; }, "other"},
      {"assignLeft", [](AnsiString& s) { s.AssignLeft("abcdef", 2); }, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnsiString original("hello world");
    AnsiString copy(original);
    c.write(copy);
    EXPECT_EQ(Str(copy), c.expected);
    EXPECT_EQ(Str(original), "hello world");
    EXPECT_EQ(original.RefCount(), 1);
    EXPECT_NE(static_cast<const char*>(copy), static_cast<const char*>(original));
  }
}

TEST(StringTest, SoleOwnerWritesInPlace) {
  AnsiString s("hello");
  const char* before = s;
  s += " you";
  s.Del(0, 1);
  s.ToUpper();
  EXPECT_EQ(static_cast<const char*>(s), before);
  EXPECT_EQ(Str(s), "ELLO YOU");
}

// ---- editing -------------------------------------------------------------------

TEST(StringTest, Insert) {
  struct Case {
    const char* text;
    const char* insert;
    unsigned position;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"abcdef", "XY", 0, "XYabcdef"},
      {"abcdef", "XY", 3, "abcXYdef"},
      {"abcdef", "XY", 6, "abcdefXY"},
      {"abcdef", "XY", 7, "abcdef"},  // beyond the length
      {"abcdef", "", 2, "abcdef"},
      {"abcdef", nullptr, 2, "abcdef"},
      {"", "XY", 0, "XY"},
      {nullptr, "XY", 0, "XY"},
      {"abcdefghijklmn", "0123456789abcdefghij", 7, "abcdefg0123456789abcdefghijhijklmn"},
  };
  for (const Case& c : cases) {
    AnsiString s(c.text);
    s.Insert(c.insert, c.position);
    EXPECT_EQ(Str(s), c.expected) << c.text << " / " << (c.insert ? c.insert : "null") << " @" << c.position;
    EXPECT_GE(s.Capacity(), String::CapacityFor(s.Size()));
  }
}

TEST(StringTest, Del) {
  struct Case {
    unsigned position, count;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {2, 100, "ab"}, {6, 1, "abcdef"}, {7, 1, "abcdef"}, {0, 0, "abcdef"}, {1, 2, "adef"},
      {0, 6, ""},     {5, 1, "abcde"},  {4, 2, "abcd"},   {2, ~0u, "ab"},   {0, 1, "bcdef"},
  };
  for (const Case& c : cases) {
    AnsiString s("abcdef");
    s.Del(c.position, c.count);
    EXPECT_EQ(Str(s), c.expected) << c.position << "," << c.count;
    EXPECT_EQ(s.Capacity(), 16u);
  }
  AnsiString empty;
  empty.Del(0, 1);
  EXPECT_EQ(empty.Capacity(), 0u);
}

TEST(StringTest, Token) {
  struct Case {
    const char* text;
    const char* separators;
    std::vector<std::pair<std::string, std::string>> steps;  // token, remainder
  };
  const std::vector<Case> cases = {
      {"  ab, cd", " ,", {{"ab", ", cd"}, {"cd", ""}, {"", ""}}},
      {"one", " ", {{"one", ""}, {"", ""}}},
      {",,,", ",", {{"", ""}}},
      {"a b", "", {{"a b", ""}}},
      {"a b", nullptr, {{"a b", ""}}},
      {"", " ", {{"", ""}}},
      {"x;y;;z", ";", {{"x", ";y;;z"}, {"y", ";;z"}, {"z", ""}}},
  };
  for (const Case& c : cases) {
    AnsiString s(c.text);
    for (const auto& [token, rest] : c.steps) {
      AnsiString t = s.Token(c.separators);
      EXPECT_EQ(Str(t), token) << c.text;
      EXPECT_EQ(Str(s), rest) << c.text;
      if (token.empty()) {
        EXPECT_EQ(t.Capacity(), 0u) << c.text;
      }
    }
  }
}

TEST(StringTest, RemoveCharsAndAssignLeft) {
  const std::vector<std::tuple<const char*, const char*, const char*>> remove = {
      {"a-b_c-d", "-_", "abcd"}, {"aaaa", "a", ""}, {"abc", "", "abc"}, {"abc", nullptr, "abc"}, {"", "a", ""},
  };
  for (const auto& [text, set, expected] : remove) {
    AnsiString s(text);
    s.RemoveChars(set);
    EXPECT_EQ(Str(s), expected) << text;
  }

  const std::vector<std::tuple<const char*, unsigned, const char*>> left = {
      {"abcdef", 3, "abc"}, {"ab", 10, "ab"}, {"abc", 0, ""}, {"abc", ~0u, "abc"},
  };
  for (const auto& [text, n, expected] : left) {
    AnsiString s("previous");
    s.AssignLeft(text, n);
    EXPECT_EQ(Str(s), expected) << text << " " << n;
  }
  AnsiString s("previous");
  s.AssignLeft(nullptr, 3);
  EXPECT_EQ(s.Capacity(), 0u);
}

TEST(StringTest, AppendingOrInsertingItsOwnText) {
  struct Case {
    const char* name;
    std::function<void(AnsiString&)> edit;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"append self", [](AnsiString& s) { s += s; }, "abcdabcd"},
      {"append self text", [](AnsiString& s) { s += static_cast<const char*>(s); }, "abcdabcd"},
      {"append own tail", [](AnsiString& s) { s += static_cast<const char*>(s) + 2; }, "abcdcd"},
      {"insert self", [](AnsiString& s) { s.Insert(s, 1); }, "aabcdbcd"},
      {"insert own tail", [](AnsiString& s) { s.Insert(static_cast<const char*>(s) + 1, 2); }, "abbcdcd"},
      {"assign own tail", [](AnsiString& s) { s = static_cast<const char*>(s) + 1; }, "bcd"},
      {"assignLeft own tail", [](AnsiString& s) { s.AssignLeft(static_cast<const char*>(s) + 1, 2); }, "bc"},
      {"repeat", [](AnsiString& s) { for (int i = 0; i < 4; ++i) s += s; }, "abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd"},
  };
  // Once on a block that must grow, once on one with room to spare (written in
  // place), once on a block that is shared with another copy.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnsiString tight("abcd");
    c.edit(tight);
    EXPECT_EQ(Str(tight), c.expected);

    AnsiString roomy(std::string(100, 'z').c_str());
    roomy = "abcd";
    ASSERT_EQ(roomy.Capacity(), String::CapacityFor(100));
    c.edit(roomy);
    EXPECT_EQ(Str(roomy), c.expected);

    AnsiString shared("abcd");
    AnsiString other(shared);
    c.edit(shared);
    EXPECT_EQ(Str(shared), c.expected);
    EXPECT_EQ(Str(other), "abcd");
  }
}

// ---- formatting ------------------------------------------------------------------

TEST(StringTest, SetfAndAddf) {
  AnsiString s;
  s.Setf("%s=%d", "count", 12);
  EXPECT_EQ(Str(s), "count=12");
  EXPECT_EQ(s.Capacity(), 16u);

  EXPECT_EQ(s.Addf(", %s", "more"), 6u);
  EXPECT_EQ(Str(s), "count=12, more");
  EXPECT_EQ(s.Addf("%s", ""), 0u);
  EXPECT_EQ(Str(s), "count=12, more");

  // Formatting from the string's own text is safe.
  EXPECT_EQ(s.Addf("|%s", static_cast<const char*>(s)), 15u);
  EXPECT_EQ(Str(s), "count=12, more|count=12, more");

  // An empty result empties the string onto the shared block.
  s.Setf("%s", "");
  EXPECT_EQ(s.Capacity(), 0u);

  AnsiString fromEmpty;
  EXPECT_EQ(fromEmpty.Addf("%d", 7), 1u);
  EXPECT_EQ(Str(fromEmpty), "7");
}

TEST(StringTest, FormattingLongResults) {
  for (int width : {1023, 1024, 40000}) {
    AnsiString s;
    s.Setf("%*d", width, 5);
    ASSERT_EQ(s.Size(), static_cast<unsigned>(width));
    EXPECT_EQ(s[width - 1], '5');
    EXPECT_EQ(s.Capacity(), String::CapacityFor(width));
    AnsiString t("x");
    EXPECT_EQ(t.Addf("%*d", width, 5), static_cast<unsigned>(width));
    EXPECT_EQ(t.Size(), static_cast<unsigned>(width) + 1);
  }
}

TEST(StringTest, SprintfIsBoundedAndAlwaysTerminated) {
  struct Case {
    std::size_t size;
    const char* expected;
  };
  const std::vector<Case> cases = {{1, ""}, {2, "h"}, {6, "hello"}, {11, "hello worl"}, {12, "hello world"}, {16, "hello world"}};
  for (const Case& c : cases) {
    char buffer[20];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Snprintf(buffer, c.size, "%s %s", "hello", "world"), 11) << c.size;
    EXPECT_STREQ(buffer, c.expected) << c.size;
    for (std::size_t i = c.size; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#') << c.size << " wrote past the bound";
  }

  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(Snprintf(untouched, 0, "%s", "abc"), 3);
  EXPECT_EQ(untouched[0], '#');

  char small[8];
  EXPECT_EQ(Sprintf(small, "%d-%s", 12345, "abcdef"), 12);
  EXPECT_STREQ(small, "12345-a");

  char nothing[4] = "abc";
  EXPECT_EQ(Snprintf(nothing, sizeof nothing, nullptr), 0);
  EXPECT_STREQ(nothing, "");
}

// ---- searching -----------------------------------------------------------------

TEST(StringTest, FindCharacter) {
  struct Case {
    const char* text;
    unsigned character, start;
    int expected;
  };
  const std::vector<Case> cases = {
      {"abcabc", 'c', 0, 2},
      {"abcabc", 'c', 2, 2},
      {"abcabc", 'c', 3, 5},
      {"abcabc", 'a', 1, 3},
      {"abcabc", 'z', 0, -1},
      {"abcabc", 'c', 6, -1},
      {"abcabc", 'c', 7, -1},  // beyond the length: nothing read
      {"abcabc", 'c', ~0u, -1},
      {"abcabc", 0, 0, -1},  // the terminator is not part of the text
      {"caf\xE9", 0xE9, 0, 3},
      {"caf\xE9", static_cast<unsigned>(static_cast<int>(static_cast<char>('\xE9'))), 0, 3},  // a sign-extended char
      {"", 'a', 0, -1},
      {nullptr, 'a', 0, -1},
  };
  for (const Case& c : cases) {
    AnsiString s(c.text);
    EXPECT_EQ(s.Find(c.character, c.start), c.expected) << (c.text ? c.text : "null") << " " << c.character << "@" << c.start;
  }
}

TEST(StringTest, FindText) {
  struct Case {
    const char* text;
    const char* pattern;
    unsigned start;
    int expected;
  };
  const std::vector<Case> cases = {
      {"abcabc", "bc", 0, 1}, {"abcabc", "bc", 2, 4}, {"abcabc", "bc", 5, -1},  {"abcabc", "abcabc", 0, 0},
      {"abcabc", "abcabcd", 0, -1}, {"abcabc", "BC", 0, -1}, {"abcabc", "", 0, -1}, {"abcabc", nullptr, 0, -1},
      {"abcabc", "c", 100, -1},     {"", "a", 0, -1},
  };
  for (const Case& c : cases) {
    AnsiString s(c.text);
    EXPECT_EQ(s.Find(c.pattern, c.start), c.expected) << c.text << " / " << (c.pattern ? c.pattern : "null") << "@" << c.start;
  }
}

TEST(StringTest, FindIgnoreCase) {
  struct Case {
    const char* text;
    unsigned length;
    const char* pattern;
    unsigned patternLength;
    int expected;
  };
  const std::vector<Case> cases = {
      {"Hello World", 11, "WORLD", 5, 6},
      {"Hello World", 10, "WORLD", 5, -1},  // the length bounds the search
      {"Hello World", 11, "o w", 3, 4},
      {"Hello World", 11, "xyz", 3, -1},
      {"Hello World", 11, "", 0, -1},
      {"ab", 2, "abc", 3, -1},
      {"CAF\xC9 au lait", 13, "caf\xE9", 4, 0},
      {"a\0Bc", 4, "bC", 2, 2},  // zeros inside the length are just bytes
      {nullptr, 0, "a", 1, -1},
      {"abc", 3, nullptr, 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiString::FindIgnoreCase(c.text, c.length, c.pattern, c.patternLength), c.expected)
        << (c.text ? c.text : "null") << " / " << (c.pattern ? c.pattern : "null");
  }

  const std::vector<std::tuple<const char*, unsigned, unsigned, int>> characters = {
      {"Hello", 5, 'L', 2}, {"Hello", 5, 'h', 0}, {"Hello", 2, 'l', -1}, {"\xC9t\xE9", 3, 0xE9, 0}, {nullptr, 3, 'a', -1},
  };
  for (const auto& [text, length, character, expected] : characters)
    EXPECT_EQ(AnsiString::FindIgnoreCase(text, length, character), expected) << (text ? text : "null") << " " << character;
}

// ---- comparisons ---------------------------------------------------------------

TEST(StringTest, SharedEmptyBlockComparesLessThanAnOwnedEmptyText) {
  AnsiString shared;
  AnsiString owned("");
  AnsiString other;
  EXPECT_EQ(shared.CompareWith(other), R::Equal);
  EXPECT_EQ(shared.CompareWith(owned), R::Less);
  EXPECT_EQ(owned.CompareWith(shared), R::Greater);
  EXPECT_EQ(owned.CompareWith(AnsiString("")), R::Equal);
  EXPECT_EQ(shared.CompareWith(static_cast<const char*>(nullptr)), R::Equal);
  EXPECT_EQ(shared.CompareWith(""), R::Less);
  EXPECT_EQ(owned.CompareWith(static_cast<const char*>(nullptr)), R::Greater);
  EXPECT_EQ(owned.CompareWith(""), R::Equal);
  EXPECT_EQ(shared.CompareWithIgnoreCase(owned), R::Less);
  EXPECT_EQ(owned.CompareWithIgnoreCase(shared), R::Greater);
  EXPECT_FALSE(shared == owned);
  EXPECT_TRUE(shared != owned);
  EXPECT_TRUE(shared == other);
  EXPECT_FALSE(shared.EqualsIgnoreCase(""));
  EXPECT_TRUE(shared.EqualsIgnoreCase(static_cast<const char*>(nullptr)));
}

TEST(StringTest, ComparisonTable) {
  struct Case {
    const char* a;
    const char* b;
    R bytes;
    R ignoringCase;
  };
  const std::vector<Case> cases = {
      {"abc", "abc", R::Equal, R::Equal},
      {"abc", "abd", R::Less, R::Less},
      {"abd", "abc", R::Greater, R::Greater},
      {"abc", "ABC", R::Greater, R::Equal},
      {"ABC", "abd", R::Less, R::Less},
      {"ab", "abc", R::Less, R::Less},
      {"abc", "ab", R::Greater, R::Greater},
      {"\x80", "a", R::Greater, R::Greater},  // bytes compare unsigned
      {"\xC9t\xE9", "\xE9T\xC9", R::Less, R::Equal},  // Windows-1252 letters fold
      {"\xE9", "\xC9", R::Greater, R::Equal},
      {"stra\xDF" "e", "STRA\xDF" "E", R::Greater, R::Equal},
      {"\xFF", "\x9F", R::Greater, R::Equal},  // y with diaeresis, both cases
      {"a", "", R::Greater, R::Greater},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    AnsiString a(c.a), b(c.b);
    EXPECT_EQ(a.CompareWith(b), c.bytes);
    EXPECT_EQ(a.CompareWith(c.b), c.bytes);
    EXPECT_EQ(a.CompareWithIgnoreCase(b), c.ignoringCase);
    EXPECT_EQ(a.CompareWithIgnoreCase(c.b), c.ignoringCase);
    EXPECT_EQ(a.EqualsIgnoreCase(b), c.ignoringCase == R::Equal);
    EXPECT_EQ(a.EqualsIgnoreCase(c.b), c.ignoringCase == R::Equal);
    EXPECT_EQ(a == b, c.bytes == R::Equal);
    EXPECT_EQ(a == c.b, c.bytes == R::Equal);
    EXPECT_EQ(c.b == a, c.bytes == R::Equal);
    EXPECT_EQ(a != b, c.bytes != R::Equal);
    EXPECT_EQ(a != c.b, c.bytes != R::Equal);
  }
}

// ---- case, parts and conversions -----------------------------------------------

TEST(StringTest, CaseFoldingLeftAndRight) {
  AnsiString s("Caf\xE9 \xC9t\xE9 123");
  s.ToUpper();
  EXPECT_EQ(Str(s), "CAF\xC9 \xC9T\xC9 123");
  s.ToLower();
  EXPECT_EQ(Str(s), "caf\xE9 \xE9t\xE9 123");

  AnsiString empty;
  empty.ToUpper();
  EXPECT_EQ(empty.Capacity(), 0u);

  AnsiString text("abcdef");
  const std::vector<std::tuple<unsigned, const char*, const char*>> parts = {
      {0, "", ""}, {2, "ab", "ef"}, {6, "abcdef", "abcdef"}, {100, "abcdef", "abcdef"},
  };
  for (const auto& [n, left, right] : parts) {
    EXPECT_EQ(Str(text.Left(n)), left) << n;
    EXPECT_EQ(Str(text.Right(n)), right) << n;
  }
  EXPECT_EQ(Str(text), "abcdef");
}

TEST(StringTest, SetUnicode) {
  struct Case {
    const char16_t* text;
    int length;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {u"Caf\u00E9", -1, "Caf\xE9"},
      {u"Caf\u00E9", 3, "Caf"},
      {u"\u20AC5", -1, "\x80" "5"},  // euro sign lives at 0x80
      {u"a\u4E2Db", -1, "a?b"},       // not in the code page
      {u"ab\0cd", 5, "ab"},
      {u"", -1, ""},
  };
  for (const Case& c : cases) {
    AnsiString s("old");
    s.SetUnicode(c.text, c.length);
    EXPECT_EQ(Str(s), c.expected);
  }
  AnsiString s("old");
  s.SetUnicode(nullptr, 3);
  EXPECT_EQ(s.Capacity(), 0u);
}

TEST(StringTest, Concatenation) {
  String a("left");
  String empty;
  struct Case {
    String result;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {a + "-right", "left-right"},
      {a + String("-right"), "left-right"},
      {a + "", "left"},
      {a + static_cast<const char*>(nullptr), "left"},
      {a + empty, "left"},
      {empty + "x", "x"},
      {a + a, "leftleft"},
      {AnsiString(a) + "!", "left!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(c.result), c.expected);
  EXPECT_EQ(Str(a), "left");
  // Nothing appended: the result shares the first operand's block.
  String same = a + "";
  EXPECT_EQ(static_cast<const char*>(same), static_cast<const char*>(a));
}

// ---- threads ---------------------------------------------------------------------

TEST(StringTest, CopiesMadeWrittenAndReleasedOnSeveralThreads) {
  AnsiString original("shared text of some length");
  AnsiString sharedEmpty;
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        AnsiString copy(original);
        AnsiString second = copy;
        AnsiString empty(sharedEmpty);
        if (i % 4 == 0) {
          second.Addf("/%d/%d", t, i);
          if (copy != "shared text of some length") ++failures[t];
        }
        copy = second;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
  EXPECT_EQ(original.RefCount(), 1);
  EXPECT_EQ(Str(original), "shared text of some length");
}

// ---- StringArena --------------------------------------------------------------

TEST(StringArenaTest, CarvedTextsEqualTheirHeapTwins) {
  const std::string longText(3u << 20, 'q');  // more than one of the arena's blocks
  const struct {
    const char* text;
    unsigned n;
  } cases[] = {
      {"abc", 3}, {"abcdef", 4}, {"ab\0cd", 5}, {"\0x", 2}, {"", 0}, {nullptr, 3}, {longText.c_str(), 3u << 20},
  };
  StringArena arena;
  for (const auto& c : cases) {
    const String carved = arena.Make(c.text, c.n);
    const String heap(c.text, c.n);
    EXPECT_EQ(Str(carved), Str(heap)) << c.n;
    EXPECT_EQ(carved.Capacity() == 0, heap.Capacity() == 0) << c.n;
    if (carved.Capacity() != 0) {
      EXPECT_EQ(carved.RefCount(), 1) << c.n;
    }
  }
}

// The arena and the records that held its texts may go first: each text
// lives while any copy does, and a writer copies it.
TEST(StringArenaTest, TextsOutliveTheArenaAndAreCopiedBeforeAWrite) {
  std::vector<AnsiString> kept;
  {
    StringArena arena;
    for (const char* text : {"first", "second", "third"}) kept.push_back(arena.Make(text, 100));
    const String dropped = arena.Make("dropped at once", 100);
  }
  AnsiString copy = kept[1];
  EXPECT_EQ(kept[1].RefCount(), 2);
  copy += " changed";
  EXPECT_EQ(Str(copy), "second changed");
  EXPECT_EQ(Str(kept[1]), "second");
  EXPECT_EQ(kept[1].RefCount(), 1);
  kept[0] = "replaced";
  kept.erase(kept.begin() + 1);
  EXPECT_EQ(Str(kept[0]), "replaced");
  EXPECT_EQ(Str(kept[1]), "third");
}

// Texts of one arena released on many threads free its block once.
TEST(StringArenaTest, CopiesReleasedOnManyThreads) {
  std::vector<String> texts;
  {
    StringArena arena;
    for (int i = 0; i < 64; ++i) texts.push_back(arena.Make(std::to_string(i).c_str(), 8));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([texts] {
      for (int round = 0; round < 100; ++round) {
        std::vector<String> copies(texts);
        copies.clear();
      }
    });
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < 64; ++i) EXPECT_EQ(Str(texts[i]), std::to_string(i));
}

} // namespace
} // namespace Vak
