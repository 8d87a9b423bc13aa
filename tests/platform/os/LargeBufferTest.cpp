// Blocks from the heap and mapped ones hold what is written to every byte,
// and a move hands the block over whole.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/os/LargeBuffer.h"

namespace {

TEST(LargeBufferTest, EveryByteHoldsWhatIsWrittenAndMovesHandItOver) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{5} << 20}) {
    platform::LargeBuffer buffer(size);
    const std::size_t n = size ? size : 1;
    ASSERT_EQ(buffer.Size(), n);
    for (std::size_t i = 0; i < n; i += 4093) buffer.Data()[i] = static_cast<uint8_t>(i);
    buffer.Data()[n - 1] = 0xAB;
    platform::LargeBuffer moved(static_cast<platform::LargeBuffer&&>(buffer));
    EXPECT_EQ(buffer.Data(), nullptr) << size;
    EXPECT_EQ(moved.Size(), n) << size;
    for (std::size_t i = 0; i + 1 < n; i += 4093) EXPECT_EQ(moved.Data()[i], static_cast<uint8_t>(i)) << size;
    EXPECT_EQ(moved.Data()[n - 1], 0xAB) << size;
  }
}

} // namespace
