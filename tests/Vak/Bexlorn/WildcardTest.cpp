#include "Vak/Bexlorn/Wildcard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Exact-size heap copy, so that the sanitizer sees any read past the terminator.
std::unique_ptr<char[]> Exact(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto copy = std::make_unique<char[]>(size);
  std::memcpy(copy.get(), text, size);
  return copy;
}

struct Case {
  const char* name;
  const char* pattern;
  bool match;
  int directoryEnd;  // offset into name, -1 for none
};

void Check(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    const auto name = Exact(c.name);
    const auto pattern = Exact(c.pattern);
    const char* directoryEnd = name.get();  // must be reset
    const bool match = Vak::MatchWildcard(name.get(), pattern.get(), &directoryEnd);
    EXPECT_EQ(match, c.match) << "'" << c.name << "' vs '" << c.pattern << "'";
    const int offset = directoryEnd ? static_cast<int>(directoryEnd - name.get()) : -1;
    EXPECT_EQ(offset, c.directoryEnd) << "'" << c.name << "' vs '" << c.pattern << "'";
    // The result does not depend on asking for the directory end.
    EXPECT_EQ(Vak::MatchWildcard(name.get(), pattern.get(), nullptr), c.match)
        << "'" << c.name << "' vs '" << c.pattern << "' without directoryEnd";
  }
}

TEST(MatchWildcard, PlainCharactersIgnoreCase) {
  Check({
      {"README.TXT", "readme.txt", true, -1},
      {"readme.txt", "readme.tx", false, -1},
      {"readme.tx", "readme.txt", false, -1},
      {"\xC9t\xC9.txt", "\xE9T\xE9.TXT", true, -1},  // Windows-1252 letters
      {"\xD7", "\xF7", false, -1},                     // multiply and divide signs
      {"", "", true, -1},
  });
}

TEST(MatchWildcard, StarsAndQuestionMarks) {
  Check({
      {"readme", "*.", true, -1},
      {"readme", "readme*", true, -1},
      {"readme", "*.*", false, -1},
      {"a.txt", "*.*", true, -1},
      {"abab", "*b", true, -1},        // returns to the star after a false start
      {"abcab", "*ab", true, -1},
      {"axb", "a?b", true, -1},
      {"ab", "a?b", false, -1},
      {"\xC9", "?", true, -1},
      {"abc", "*?", false, -1},        // the character after a star is literal
      {"a?", "*?", true, -1},
      {"abc", "**c", false, -1},
      {"a*c", "**c", true, -1},
      {"abc", "a*", true, -1},
      {"", "*", true, -1},
  });
}

TEST(MatchWildcard, SeparatorsAndFolders) {
  Check({
      {"Data\\Tex\\a.TGA", "*.tga", false, -1},  // a star does not cross a separator
      {"Data\\Tex\\a.TGA", "*", false, 4},       // the pattern matched the first folder
      {"Data\\Tex\\a.TGA", "data\\*\\*.tga", true, -1},
      {"data/tex/a.tga", "DATA\\TEX\\*.TGA", true, -1},  // either separator
      {"data\\tex\\a.tga", "data/tex/*.tga", true, -1},
      {"a\\b", "a?b", false, -1},  // '?' does not match a separator
      {"a\\bc", "a*", false, 1},
      {"data\\x", "data\\", false, 4},  // pattern ends after its separator
      {"data\\", "data\\", true, 4},
      {"data\\x", "other\\", false, -1},
      {"data", "data\\*", false, -1},
      {"a\\b\\c", "a\\*", false, 3},
  });
}

TEST(MatchWildcard, LeadingCurrentFolderIsSkipped) {
  Check({
      {".\\a.txt", "a.txt", true, -1},
      {"a.txt", ".\\a.txt", true, -1},
      {"./a.txt", ".\\a.txt", true, -1},
      {".a.txt", "a.txt", false, -1},
  });
}

TEST(MatchWildcard, Alternatives) {
  Check({
      {"b.txt", "*.doc;*.txt", true, -1},
      {"b.doc", "*.doc;*.txt", true, -1},
      {"b.xls", "*.doc;*.txt", false, -1},
      {"ab", "a;ab", true, -1},  // first alternative ends before the name does
      {"readme", "*.doc;*.", true, -1},
      {"a\\b.txt", "a\\*.doc;*.txt", true, -1},  // restart after the folder part
      {"a\\b.txt", "a\\*.doc;b.txt", true, -1},
      {"x\\b.txt", "a\\*.doc;*.txt", false, -1},
  });
}

TEST(MatchWildcard, PatternEndsInStarOrSemicolon) {
  Check({
      {"a", "a;", true, -1},
      {"b", "a;", false, -1},
      {"b", "a;;", false, -1},
      {"abc", "x;*", true, -1},
      {"a\\b", "x;*", false, 1},
      {"abc", "*;", true, -1},
      {"abc", "a*;", true, -1},
  });
}

TEST(MatchWildcard, NullArgumentsDoNotMatch) {
  const char* directoryEnd = "x";
  EXPECT_FALSE(Vak::MatchWildcard(nullptr, "*", &directoryEnd));
  EXPECT_EQ(directoryEnd, nullptr);
  EXPECT_FALSE(Vak::MatchWildcard("a", nullptr, nullptr));
}

} // namespace
