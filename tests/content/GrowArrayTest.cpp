#include "content/GrowArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// Appends random values up to `total`, checking the items and that the
// capacity is always the count rounded up to the step.
template <typename T, unsigned Step>
void AppendAndCheck(uint32_t seed, uint32_t total) {
  SCOPED_TRACE(testing::Message() << "step " << Step);
  std::mt19937 rng(seed);
  GrowArray<T, Step> array;
  std::vector<T> model;
  uint32_t growths = 0;
  for (uint32_t i = 0; i < total; ++i) {
    const T value = static_cast<T>(rng());
    const T* before = array.Data();
    array.Append(value);
    model.push_back(value);
    if (array.Data() != before) ++growths;
    ASSERT_EQ(array.Count(), model.size());
    ASSERT_EQ(array.Capacity(), (model.size() + Step - 1) / Step * Step);
    if (i % 509 == 0 || i + 1 == total) {
      ASSERT_TRUE(std::equal(array.begin(), array.end(), model.begin(), model.end()));
    }
  }
  EXPECT_EQ(growths, (total + Step - 1) / Step);
  array.Free();
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_EQ(array.Capacity(), 0u);
  EXPECT_EQ(array.Data(), nullptr);
  array.Append(T{});
  EXPECT_EQ(array.Capacity(), Step);
}

TEST(GrowArrayTest, GrowsInSteps) {
  AppendAndCheck<float, 128>(1, 3000);
  AppendAndCheck<int32_t, 128>(2, 3000);
  AppendAndCheck<char, 128>(3, 3000);
  AppendAndCheck<uint8_t, 4096>(4, 10000);
  AppendAndCheck<uintptr_t, 8192>(5, 20000);
}

TEST(GrowArrayTest, GrownCapacity) {
  struct Case {
    uint64_t count;
    uint64_t step128;
    uint64_t step8192;
  };
  const std::vector<Case> cases = {
      {0, 128, 8192}, {128, 256, 8192}, {256, 384, 8192}, {8192, 8320, 16384}, {16384, 16512, 24576},
  };
  for (const Case& c : cases) {
    EXPECT_EQ((GrowArray<int, 128>::GrownCapacity(c.count)), c.step128) << c.count;
    EXPECT_EQ((GrowArray<void*, 8192>::GrownCapacity(c.count)), c.step8192) << c.count;
  }
}

TEST(GrowArrayTest, PointerArrayGrowsTo16384AtItem8193) {
  GrowArray<void*, 8192> array;
  for (uintptr_t i = 0; i < 8192; ++i) array.Append(reinterpret_cast<void*>(i));
  EXPECT_EQ(array.Capacity(), 8192u);
  array.Append(nullptr);
  EXPECT_EQ(array.Capacity(), 16384u);
  EXPECT_EQ(array.Count(), 8193u);
  EXPECT_EQ(array[8191], reinterpret_cast<void*>(8191));
}

TEST(GrowArrayTest, AppendingItsOwnItemWhileGrowing) {
  GrowArray<int, 4> array;
  for (int i = 0; i < 4; ++i) array.Append(i + 10);
  array.Append(array[1]);  // the source lives in the block being replaced
  EXPECT_EQ(array[4], 11);
}

// A step whose block would not fit one allocator request is refused before
// anything is allocated.
TEST(GrowArrayTest, RefusesBlocksBeyondFourGigabytes) {
  GrowArray<uint64_t, (1u << 29)> array;  // 4 GB for the first step
  EXPECT_THROW(array.Append(1), std::length_error);
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_EQ(array.Capacity(), 0u);
}

}  // namespace
