#include "Vak/Bexlorn/Rand.h"

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::array<uint32_t, Vak::Rand::kSize> Snapshot(const Vak::Rand& r) {
  std::array<uint32_t, Vak::Rand::kSize> words{};
  for (int i = 0; i < Vak::Rand::kSize; ++i) words[i] = r.Word(i);
  return words;
}

TEST(RandTest, EachCallXorsTheWordWithTheOneLagBehind) {
  Vak::Rand r;
  r.Randomise(12345);
  ASSERT_EQ(r.Position(), 0);
  // Every step of a full round and a bit: position i combines i and (i - 147) mod 250.
  for (int step = 0; step < 2 * Vak::Rand::kSize + 3; ++step) {
    const int i = r.Position();
    ASSERT_EQ(i, step % Vak::Rand::kSize);
    const int j = (i + Vak::Rand::kSize - Vak::Rand::kLag) % Vak::Rand::kSize;
    const auto before = Snapshot(r);
    const int result = r.NextInt();
    const auto after = Snapshot(r);
    EXPECT_EQ(after[i], before[i] ^ before[j]) << "step " << step;
    EXPECT_EQ(static_cast<uint32_t>(result), after[i]);
    for (int k = 0; k < Vak::Rand::kSize; ++k) {
      if (k != i) {
        ASSERT_EQ(after[k], before[k]) << "step " << step << " word " << k;
      }
    }
  }
}

TEST(RandTest, LagBoundaries) {
  Vak::Rand r;
  r.Randomise(7);
  auto w = Snapshot(r);
  r.NextInt();
  EXPECT_EQ(r.Word(0), w[0] ^ w[103]);
  for (int i = 1; i < 147; ++i) r.NextInt();
  ASSERT_EQ(r.Position(), 147);
  w = Snapshot(r);
  r.NextInt();
  EXPECT_EQ(r.Word(147), w[147] ^ w[0]);
  for (int i = 148; i < 250; ++i) r.NextInt();
  EXPECT_EQ(r.Position(), 0);
}

TEST(RandTest, SeedGivesTheSameSequenceAndRandomiseRestarts) {
  Vak::Rand a, b;
  a.Randomise(99);
  b.Randomise(99);
  std::vector<int> first;
  for (int i = 0; i < 1000; ++i) {
    first.push_back(a.NextInt());
    ASSERT_EQ(first.back(), b.NextInt());
  }
  a.Randomise(99);
  EXPECT_EQ(a.Position(), 0);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.NextInt(), first[i]);

  b.Randomise(100);
  int same = 0;
  for (int i = 0; i < 1000; ++i) same += b.NextInt() == first[i];
  EXPECT_LT(same, 10);
}

// Every seed, zero included, leaves each of the 32 bit positions live.
TEST(RandTest, EverySeedProducesAllBits) {
  for (uint32_t seed : {0u, 1u, 0xFFFFFFFFu}) {
    Vak::Rand r;
    r.Randomise(seed);
    uint32_t seen = 0;
    for (int i = 0; i < 1000; ++i) seen |= static_cast<uint32_t>(r.NextInt());
    EXPECT_EQ(seen, 0xFFFFFFFFu) << "seed " << seed;
  }
  Vak::Rand unseeded;
  uint32_t seen = 0;
  for (int i = 0; i < 1000; ++i) seen |= static_cast<uint32_t>(unseeded.NextInt());
  EXPECT_EQ(seen, 0xFFFFFFFFu);
}

TEST(RandTest, RangeStaysWithinBoundsIncludingExtremes) {
  struct Case {
    int lo, hi;
  };
  const std::vector<Case> cases = {
      {0, 35},   {35, 0},         {5, 5},          {-3, 3},       {INT_MIN, INT_MAX}, {INT_MAX, INT_MIN},
      {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN + 1}, {INT_MAX - 1, INT_MAX}, {-1, 0},
  };
  Vak::Rand r;
  r.Randomise(2024);
  for (const Case& c : cases) {
    const int lo = c.lo < c.hi ? c.lo : c.hi;
    const int hi = c.lo < c.hi ? c.hi : c.lo;
    bool sawLo = false, sawHi = false;
    for (int i = 0; i < 2000; ++i) {
      const int v = r.NextInt(c.lo, c.hi);
      ASSERT_GE(v, lo) << c.lo << ".." << c.hi;
      ASSERT_LE(v, hi) << c.lo << ".." << c.hi;
      sawLo |= v == lo;
      sawHi |= v == hi;
    }
    if (static_cast<int64_t>(hi) - lo < 100) {
      EXPECT_TRUE(sawLo && sawHi) << c.lo << ".." << c.hi << " both ends are reachable";
    }
  }
}

TEST(RandTest, SmallRangeCoversEveryValueEvenly) {
  Vak::Rand r;
  r.Randomise(31337);
  std::array<int, 36> counts{};
  const int draws = 36 * 2000;
  for (int i = 0; i < draws; ++i) ++counts[r.NextInt(0, 35)];
  for (int v = 0; v < 36; ++v) {
    EXPECT_GT(counts[v], 1600) << v;
    EXPECT_LT(counts[v], 2400) << v;
  }
}

} // namespace
