#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {
namespace {

// References taken and given back by a block of code must balance.
class PStringOpsTest : public ::testing::Test {
protected:
  void SetUp() override { before_ = PString::cache()->GetStatistics().references; }
  void TearDown() override { EXPECT_EQ(PString::cache()->GetStatistics().references, before_); }

private:
  int before_ = 0;
};

TEST_F(PStringOpsTest, LengthLimitedConstructor) {
  struct Case {
    const char* text;
    unsigned n;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"abcdef", 3, "abc"}, {"abc", 10, "abc"}, {"abc", 3, "abc"}, {"abc", 0, ""}, {"", 5, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + "/" + std::to_string(c.n));
    PString s(c.text, c.n);
    EXPECT_STREQ(s.c_str(), c.expected);
    EXPECT_EQ(s, PString(c.expected)) << "the same text shares one node";
  }
  EXPECT_TRUE(PString(nullptr, 4).IsNull());
}

TEST_F(PStringOpsTest, LeftAndRight) {
  struct Case {
    const char* text;
    bool left;
    unsigned n;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"abc", true, 5, "abc"},    {"abc", true, 3, "abc"},   {"abcdef", true, 2, "ab"},
      {"abcdef", true, 0, ""},    {"abc", false, 5, "abc"},  {"abc", false, 3, "abc"},
      {"abcdef", false, 2, "ef"}, {"abcdef", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.left ? " Left " : " Right ") + std::to_string(c.n));
    PString s(c.text);
    PString shared(s);
    if (c.left) {
      s.Left(c.n);
    } else {
      s.Right(c.n);
    }
    EXPECT_STREQ(s.c_str(), c.expected);
    EXPECT_EQ(s.Length(), std::string(c.expected).size());
    EXPECT_STREQ(shared.c_str(), c.text) << "a copy sharing the node keeps its text";
  }
  PString null;
  null.Left(0);
  null.Right(0);
  EXPECT_TRUE(null.IsNull());
}

TEST_F(PStringOpsTest, CaseChangeReinterns) {
  PString s("MiXed _1");
  PString copy(s);
  s.ToLower();
  EXPECT_STREQ(s.c_str(), "mixed _1");
  EXPECT_EQ(s, PString("mixed _1"));
  s.ToUpper();
  EXPECT_STREQ(s.c_str(), "MIXED _1");
  EXPECT_STREQ(copy.c_str(), "MiXed _1");
  PString null;
  null.ToUpper();
  EXPECT_TRUE(null.IsNull());
}

TEST_F(PStringOpsTest, EqualsIgnoreCaseWithText) {
  const PString null;
  const PString empty("");
  const PString word("Hello");
  struct Case {
    const PString* s;
    const char* text;
    bool expected;
  };
  const std::vector<Case> cases = {
      {&null, "", false},       {&null, nullptr, true},     {&null, "x", false},
      {&empty, "", true},       {&empty, nullptr, false},   {&word, "hELLO", true},
      {&word, "Hell", false},   {&word, "Hello!", false},   {&word, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.s->IsNull() ? "<null>" : c.s->c_str()) + " vs " + (c.text ? c.text : "<nullptr>"));
    EXPECT_EQ(c.s->EqualsIgnoreCase(c.text), c.expected);
  }
}

TEST_F(PStringOpsTest, Concatenation) {
  const PString base("path/");
  EXPECT_STREQ((base + "file").c_str(), "path/file");
  EXPECT_EQ(base + "file", PString("path/file"));
  EXPECT_STREQ((base + PString("x")).c_str(), "path/x");
  EXPECT_STREQ(base.c_str(), "path/") << "the left side is not changed";

  // Nothing to append: the result is the left side itself.
  EXPECT_EQ(base + PString(), base);
  EXPECT_EQ(base + "", base);
  EXPECT_EQ(base + static_cast<const char*>(nullptr), base);
  EXPECT_EQ(base + PString(""), base);

  // A null left side takes the right side's text.
  EXPECT_EQ(PString() + "abc", PString("abc"));
  EXPECT_TRUE((PString() + PString()).IsNull());

  // Appending a string to itself, including through its own text.
  PString self("ab");
  self = self + self;
  EXPECT_STREQ(self.c_str(), "abab");
  self = self + self.c_str();
  EXPECT_STREQ(self.c_str(), "abababab");
}

TEST_F(PStringOpsTest, NullReadsAsEmptyText) {
  // A null c_str would crash every C-string consumer; callers test IsNull.
  const PString null;
  ASSERT_NE(null.c_str(), nullptr);
  EXPECT_STREQ(null.c_str(), "");
  EXPECT_EQ(null.Length(), 0u);
}

} // namespace
} // namespace Vak
