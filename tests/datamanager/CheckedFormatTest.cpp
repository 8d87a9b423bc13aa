#include "datamanager/CheckedFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using RUZLib::FormatArg;

struct ConversionCase {
  const char* format;
  bool accepted;
  const char* kinds;
};

TEST(CheckedFormat, ConversionsOfAFormat) {
  const ConversionCase cases[] = {
      {"plain", true, ""},
      {"100%% sure", true, ""},
      {"%s and %s", true, "ss"},
      {"%d %i %u %x %X %c", true, "iiiiii"},
      {"%f %F %g %G %e %E", true, "ffffff"},
      {"%-10s|%+5d|% d|%#x|%08.3f|%.2s", true, "siiifs"},
      {"%s %d %g", true, "sif"},
      {"%", false, ""},
      {"ends in %-", false, ""},
      {"%*d", false, ""},
      {"%.*s", false, ""},
      {"%ld", false, ""},
      {"%lld", false, ""},
      {"%hhd", false, ""},
      {"%n", false, ""},
      {"%p", false, ""},
      {"%5%", false, ""},
      {"%99999s", false, ""},
      {"%------s", false, ""},
  };
  for (const ConversionCase& c : cases) {
    std::string kinds = "junk";
    EXPECT_EQ(RUZLib::FormatConversions(c.format, kinds), c.accepted) << c.format;
    if (c.accepted) {
      EXPECT_EQ(kinds, c.kinds) << c.format;
    }
  }
}

struct FormatCase {
  const char* format;
  const char* kinds;
  std::vector<FormatArg> args;
  bool fits;
  const char* expected;
};

TEST(CheckedFormat, FormatsOnlyWhatFits) {
  const FormatCase cases[] = {
      {"Mesh '%s' missing", "s", {"a.im"}, true, "Mesh 'a.im' missing"},
      {"%s: %d of %d", "sii", {"v", 2, 3}, true, "v: 2 of 3"},
      {"%s lies in %g..%g", "sff", {"x", 0.5, 10.0}, true, "x lies in 0.5..10"},
      {"[%5s|%-3d|%.1f]", "sif", {"ab", 7, 2.25}, true, "[   ab|7  |2.2]"},
      {"%c%c", "ii", {65, 66}, true, "AB"},
      {"100%%", "", {}, true, "100%"},
      // More conversions than arguments: never reads past them.
      {"%s %s", "s", {"only"}, false, "%s %s"},
      // Fewer conversions than arguments.
      {"no conversion", "s", {"extra"}, false, "no conversion"},
      // Declared text, entry asks for a number.
      {"Mesh %d failed", "s", {"a.im"}, false, "Mesh %d failed"},
      // Declared kinds and given arguments disagree.
      {"%d", "i", {"text"}, false, "%d"},
      {"%s", "s", {3}, false, "%s"},
      {"%n", "", {}, false, "%n"},
  };
  for (const FormatCase& c : cases) {
    std::string out;
    EXPECT_EQ(RUZLib::FormatChecked(c.format, c.kinds, c.args, out), c.fits) << c.format;
    EXPECT_EQ(out, c.expected) << c.format;
  }
}

TEST(CheckedFormat, LongTextsAreWhole) {
  const std::string value(5000, 'x');
  std::string out;
  ASSERT_TRUE(RUZLib::FormatChecked("<%s>", "s", std::vector<FormatArg>{value}, out));
  EXPECT_EQ(out, "<" + value + ">");
}

} // namespace
