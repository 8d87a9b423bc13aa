#include "platform/os/CaseFold.h"

#include <gtest/gtest.h>

namespace {

struct CasePair {
  unsigned char upper;
  unsigned char lower;
};

TEST(CaseFold, LetterPairsFoldBothWays) {
  const CasePair pairs[] = {
      {'A', 'a'}, {'M', 'm'}, {'Z', 'z'},
      {0xC0, 0xE0}, {0xC9, 0xE9}, {0xD0, 0xF0}, {0xD6, 0xF6}, {0xD8, 0xF8}, {0xDE, 0xFE},
      {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF},
  };
  for (const CasePair& p : pairs) {
    SCOPED_TRACE(testing::Message() << "upper 0x" << std::hex << int(p.upper));
    EXPECT_EQ(platform::FoldCase(p.upper), p.lower);
    EXPECT_EQ(platform::FoldCase(p.lower), p.lower);
    EXPECT_EQ(platform::UpperCase(p.lower), p.upper);
    EXPECT_EQ(platform::UpperCase(p.upper), p.upper);
  }
}

TEST(CaseFold, NonLettersAndUnpairedLettersStay) {
  // Multiplication and division signs sit inside the letter ranges; sharp s,
  // micro and the f-hook have no partner in the code page.
  const unsigned char same[] = {0x00, '0', '@', '[', '`', '{', 0x7F, 0x80, 0x83, 0x8B, 0x9B,
                                0xA0, 0xB5, 0xBF, 0xD7, 0xDF, 0xF7};
  for (unsigned char c : same) {
    SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(c));
    EXPECT_EQ(platform::FoldCase(c), c);
    EXPECT_EQ(platform::UpperCase(c), c);
  }
}

TEST(CaseFold, WholeTableIsConsistent) {
  int lowerLetters = 0;
  for (int i = 0; i < 256; ++i) {
    auto c = static_cast<unsigned char>(i);
    unsigned char lower = platform::FoldCase(c);
    unsigned char upper = platform::UpperCase(c);
    EXPECT_EQ(platform::FoldCase(lower), lower) << i;
    EXPECT_EQ(platform::UpperCase(upper), upper) << i;
    // A byte changes in at most one direction, and its partner leads back.
    EXPECT_TRUE(lower == c || upper == c) << i;
    if (lower != c) {
      EXPECT_EQ(platform::UpperCase(lower), c) << i;
    }
    if (upper != c) {
      EXPECT_EQ(platform::FoldCase(upper), c) << i;
      ++lowerLetters;
    }
  }
  // 26 ASCII, 30 in 0xE0-0xFE, and the four pairs in 0x80-0x9F.
  EXPECT_EQ(lowerLetters, 26 + 30 + 4);
}

} // namespace
