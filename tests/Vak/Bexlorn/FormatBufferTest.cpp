#include "Vak/Bexlorn/FormatBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Vak {
namespace {

struct Formatted {
  std::string text;
  unsigned length;
  bool onHeap;
};

Formatted Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatBuffer buffer(format, args);
  va_end(args);
  return {buffer.Text(), buffer.Length(), buffer.OnHeap()};
}

TEST(FormatBufferTest, LocalAreaHoldsUpTo1023Characters) {
  struct Case {
    int width;
    bool onHeap;
  };
  const std::vector<Case> cases = {
      {0, false}, {1, false}, {1022, false}, {1023, false}, {1024, true}, {32767, true}, {32768, true}, {200000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Formatted f = Format("%*s", c.width, "");
    EXPECT_EQ(f.length, static_cast<unsigned>(c.width));
    EXPECT_EQ(f.text, std::string(c.width, ' '));
    EXPECT_EQ(f.onHeap, c.onHeap);
  }
}

TEST(FormatBufferTest, HeapResultKeepsEveryArgument) {
  std::string big(5000, 'x');
  Formatted f = Format("<%s|%d|%s>", big.c_str(), 42, "tail");
  EXPECT_EQ(f.text, "<" + big + "|42|tail>");
  EXPECT_EQ(f.length, f.text.size());
  EXPECT_TRUE(f.onHeap);
}

// The largest heap area is 33554432 bytes (the last x4 step within 134217727).
TEST(FormatBufferTest, GivesUpBeyondTheLargestArea) {
  Formatted fits = Format("%*s", 33554431, "");
  EXPECT_EQ(fits.length, 33554431u);
  EXPECT_TRUE(fits.onHeap);

  Formatted tooLong = Format("%*s", 33554432, "");
  EXPECT_EQ(tooLong.length, 0u);
  EXPECT_EQ(tooLong.text, "");
  EXPECT_FALSE(tooLong.onHeap);
}

TEST(FormatBufferTest, NullFormatGivesEmptyText) {
  Formatted f = Format(nullptr);
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.length, 0u);
  EXPECT_FALSE(f.onHeap);
}

// The buffer works on copies of the argument list, so the caller can still use it.
void FormatTwice(std::string& first, std::string& second, const char* format, ...) {
  va_list args;
  va_start(args, format);
  {
    FormatBuffer a(format, args);
    first = a.Text();
  }
  {
    FormatBuffer b(format, args);
    second = b.Text();
  }
  va_end(args);
}

TEST(FormatBufferTest, LeavesTheCallersArgumentListUnconsumed) {
  std::string big(3000, 'y');
  for (const char* arg : {"short", big.c_str()}) {
    std::string first, second;
    FormatTwice(first, second, "%s-%d", arg, 7);
    EXPECT_EQ(first, std::string(arg) + "-7");
    EXPECT_EQ(second, first);
  }
}

} // namespace
} // namespace Vak
