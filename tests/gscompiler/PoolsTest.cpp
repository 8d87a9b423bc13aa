#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gscompiler/BlockMemory.h"
#include "gscompiler/CodeBuffer.h"
#include "gscompiler/FrameMemory.h"

namespace {

using Utils::BlockMemory;
using Utils::FrameMemory;

uintptr_t Address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

TEST(FrameMemoryTest, RequestFitsOnlyWhenSizePlusAlignmentSlackFitsAFrame) {
  struct Case {
    uint64_t size;
    unsigned alignment;
    bool fits;
  };
  const Case cases[] = {
      {0, 1, true},        {2048, 1, true},     {2049, 1, false}, {2047, 2, true},
      {2048, 2, false},    {4096, 2, false},    {2045, 4, true},  {2046, 4, false},
      {1, 2048, true},     {2, 2048, false},    {UINT32_MAX, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " at " + std::to_string(c.alignment));
    EXPECT_EQ(FrameMemory::Fits(c.size, c.alignment), c.fits);
    FrameMemory pool;
    void* p = pool.Alloc(c.size, c.alignment);
    EXPECT_EQ(p != nullptr, c.fits);
    if (p != nullptr) {
      EXPECT_EQ(Address(p) % c.alignment, 0u);
      std::memset(p, 0xAB, c.size);  // the whole block is usable (ASan checks)
      EXPECT_EQ(pool.Allocations(), 1u);
      EXPECT_EQ(pool.BytesGiven(), c.size + c.alignment - 1);
    } else {
      EXPECT_EQ(pool.Allocations(), 0u);
    }
  }
}

TEST(FrameMemoryTest, RequestsThatDoNotFitTheRestOfAFrameGoToTheNextFrame) {
  FrameMemory pool;
  char* a = static_cast<char*>(pool.Alloc(1500, 1));
  char* b = static_cast<char*>(pool.Alloc(548, 1));  // fills the first frame exactly
  EXPECT_EQ(b, a + 1500);
  EXPECT_EQ(pool.FrameCount(), 1u);
  char* c = static_cast<char*>(pool.Alloc(1, 1));
  EXPECT_EQ(pool.FrameCount(), 2u);
  EXPECT_NE(c, b + 548);
  void* d = pool.Alloc(8, 8);
  EXPECT_EQ(Address(d) % 8, 0u);
  EXPECT_EQ(pool.Allocations(), 4u);
  pool.Reset();
  EXPECT_EQ(pool.FrameCount(), 0u);
  EXPECT_EQ(pool.Allocations(), 0u);
  EXPECT_NE(pool.Alloc(2048, 1), nullptr);
}

TEST(FrameMemoryTest, StrDupCopiesTextsThatFitAFrame) {
  FrameMemory pool;
  EXPECT_EQ(pool.StrDup(nullptr), nullptr);
  const std::string longest(2047, 'a');
  char* copy = pool.StrDup(longest.c_str());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy, longest);
  EXPECT_EQ(pool.StrDup(std::string(2048, 'b').c_str()), nullptr);
  char* empty = pool.StrDup("");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
}

TEST(BlockMemoryTest, SizeArithmetic) {
  struct Case {
    unsigned given;
    unsigned blocks;      // blocks per chunk
    unsigned blockSize;   // logical block size
    unsigned stride;      // bytes between blocks here
  };
  const Case cases[] = {
      {1, 32, 4, 16}, {32, 32, 32, 32}, {33, 64, 36, 48}, {255, 256, 256, 256}, {256, 256, 256, 256},
      {257, 288, 260, 272},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    EXPECT_EQ(BlockMemory::RoundBlocks(c.given), c.blocks);
    EXPECT_EQ(BlockMemory::RoundBlockSize(c.given), c.blockSize);
    EXPECT_EQ(BlockMemory::Stride(c.given), c.stride);
  }
  BlockMemory pool;
  pool.Setup(10, 13, 40);
  EXPECT_EQ(pool.BlocksPerChunk(), 64u);
  EXPECT_EQ(pool.BitmapWords(), 2u);
  EXPECT_EQ(pool.BlockSize(), 16u);
}

TEST(BlockMemoryTest, TakesTheHighestFreeBitOfTheLastWordFirst) {
  BlockMemory pool;
  pool.Setup(4096, 24, 64);
  const unsigned stride = BlockMemory::Stride(24);
  std::vector<char*> blocks;
  for (int i = 0; i < 63; ++i) blocks.push_back(static_cast<char*>(pool.Allocate()));
  // A fresh chunk gives its blocks from the last down; block 0 is still free.
  for (int i = 1; i < 63; ++i) EXPECT_EQ(blocks[i - 1] - blocks[i], static_cast<std::ptrdiff_t>(stride)) << i;
  char* block0 = blocks[62] - stride;
  EXPECT_EQ(Address(block0) % 16, 0u);
  char* block3 = block0 + 3 * stride;
  char* block40 = block0 + 40 * stride;
  EXPECT_TRUE(pool.Release(block3));
  EXPECT_TRUE(pool.Release(block40));
  EXPECT_EQ(pool.Allocate(), block40);  // the second word first
  EXPECT_EQ(pool.Allocate(), block3);   // then bit 3 before bit 0
  EXPECT_EQ(pool.Allocate(), block0);
  EXPECT_EQ(pool.ChunkCount(), 1u);
}

TEST(BlockMemoryTest, ReleaseAcceptsOnlyBlocksInUseOfThisPool) {
  BlockMemory pool;
  pool.Setup(4096, 40, 32);
  BlockMemory other;
  other.Setup(4096, 40, 32);
  char* block = static_cast<char*>(pool.Allocate());
  void* foreign = other.Allocate();
  int local = 0;
  EXPECT_FALSE(pool.Release(foreign));
  EXPECT_FALSE(pool.Release(&local));
  EXPECT_FALSE(pool.Release(nullptr));
  EXPECT_FALSE(pool.Release(block + 8));  // inside a block, not its start
  char* freeBlock = block - BlockMemory::Stride(40);
  EXPECT_FALSE(pool.Release(freeBlock));  // never handed out
  EXPECT_EQ(pool.BlocksInUse(), 1u);
  EXPECT_TRUE(pool.Release(block));
  EXPECT_FALSE(pool.Release(block));  // twice
  EXPECT_EQ(pool.BlocksInUse(), 0u);
  EXPECT_TRUE(other.Release(foreign));
}

TEST(BlockMemoryTest, AFullChunkBringsASecondOneAndEmptyChunksStayWhileSparesAreFew) {
  BlockMemory pool;
  pool.Setup(BlockMemory::kUnitThreshold, 200, BlockMemory::kUnitBlocksPerChunk);
  std::vector<void*> first;
  for (int i = 0; i < 256; ++i) first.push_back(pool.Allocate());
  EXPECT_EQ(pool.ChunkCount(), 1u);
  EXPECT_EQ(pool.CurrentChunk(), -1);  // the only chunk is full
  void* second = pool.Allocate();
  EXPECT_EQ(pool.ChunkCount(), 2u);
  EXPECT_EQ(pool.ChunkCapacity(), 4u);
  for (void* block : first) EXPECT_TRUE(pool.Release(block));
  EXPECT_EQ(pool.ChunkCount(), 2u);  // 255 spare blocks are not more than 4096
  EXPECT_EQ(pool.BlocksInUse(), 1u);
  EXPECT_TRUE(pool.Release(second));
  EXPECT_EQ(pool.BlocksInUse(), 0u);
}

TEST(BlockMemoryTest, AnEmptiedChunkIsFreedWhenTheOthersHoldMoreSparesThanTheThreshold) {
  BlockMemory pool;
  pool.Setup(30, 16, 32);
  std::vector<void*> first;
  for (int i = 0; i < 32; ++i) first.push_back(pool.Allocate());
  void* second = pool.Allocate();
  ASSERT_EQ(pool.ChunkCount(), 2u);
  for (void* block : first) EXPECT_TRUE(pool.Release(block));
  EXPECT_EQ(pool.ChunkCount(), 1u);  // the other chunk keeps 31 spares, more than 30
  for (void* block : first) EXPECT_FALSE(pool.Release(block));
  EXPECT_TRUE(pool.Release(second));
  EXPECT_EQ(pool.ChunkCount(), 1u);  // no other chunk: nothing spare elsewhere
}

TEST(BlockMemoryTest, ChunksKeepAddressOrderForReleaseAcrossManyChunks) {
  BlockMemory pool;
  pool.Setup(1u << 30, 8, 32);
  std::vector<void*> blocks;
  for (int i = 0; i < 32 * 9; ++i) blocks.push_back(pool.Allocate());
  EXPECT_EQ(pool.ChunkCount(), 9u);
  EXPECT_EQ(pool.ChunkCapacity(), 12u);  // grows by 4
  for (std::size_t i = 0; i < blocks.size(); i += 2) EXPECT_TRUE(pool.Release(blocks[i]));
  for (std::size_t i = 1; i < blocks.size(); i += 2) EXPECT_TRUE(pool.Release(blocks[i]));
  EXPECT_EQ(pool.BlocksInUse(), 0u);
}

// The chunk table doubles (plus the first step) whenever it fills, so a
// pool of n chunks moves its table O(log n) times.
TEST(BlockMemoryTest, TheChunkTableGrowsGeometrically) {
  BlockMemory pool;
  pool.Setup(1u << 30, 8, 32);
  std::vector<unsigned> capacities;
  for (int i = 0; i < 32 * 200; ++i) {
    ASSERT_NE(pool.Allocate(), nullptr);
    if (capacities.empty() || capacities.back() != pool.ChunkCapacity()) capacities.push_back(pool.ChunkCapacity());
  }
  EXPECT_EQ(pool.ChunkCount(), 200u);
  EXPECT_EQ(capacities, (std::vector<unsigned>{4, 12, 28, 60, 124, 252}));
}

TEST(BlockMemoryTest, EverySixteenthReleaseMovesAllocationToTheFullestChunk) {
  BlockMemory pool;
  pool.Setup(4096, 8, 32);
  std::vector<char*> a;
  for (int i = 0; i < 32; ++i) a.push_back(static_cast<char*>(pool.Allocate()));
  for (int i = 0; i < 16; ++i) pool.Allocate();  // chunk B, now current
  auto inA = [&](void* p) {
    return Address(p) >= Address(a.back()) && Address(p) <= Address(a.front());
  };
  // 48 in use: this release chooses again while A is still full, so B stays.
  EXPECT_TRUE(pool.Release(a[0]));
  void* next = pool.Allocate();
  EXPECT_FALSE(inA(next));
  // 48 in use again: now A (31 used) is fuller than B (17 used).
  EXPECT_TRUE(pool.Release(a[1]));
  next = pool.Allocate();
  EXPECT_TRUE(inA(next));
  EXPECT_EQ(next, a[0]);  // the highest free block of A
}

TEST(CodeBufferTest, GrowsToTheRequestPlusOneStepWhenTheRequestReachesTheCapacity) {
  struct Case {
    unsigned step;
    uint64_t ensure;
    uint32_t capacity;
  };
  const Case cases[] = {
      {GSCompiler::CodeBuffer::kLibraryStep, 1023, 1024},
      {GSCompiler::CodeBuffer::kLibraryStep, 1024, 2048},
      {GSCompiler::CodeBuffer::kSideStep, 512, 1024},
      {GSCompiler::CodeBuffer::kSideStep, 700, 1212},
      {GSCompiler::CodeBuffer::kSlotListStep, 64, 128},
      {GSCompiler::CodeBuffer::kSlotListStep, 10, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.step) + " ensure " + std::to_string(c.ensure));
    GSCompiler::CodeBuffer buffer(c.step);
    buffer.Reset();
    EXPECT_EQ(buffer.Capacity(), c.step);
    EXPECT_TRUE(buffer.Ensure(c.ensure));
    EXPECT_EQ(buffer.Capacity(), c.capacity);
    EXPECT_EQ(buffer.Flags(), 0u);
  }
}

TEST(CodeBufferTest, WritesLittleEndianWordsKeepThemWhenGrowingAndBackPatch) {
  GSCompiler::CodeBuffer buffer(GSCompiler::CodeBuffer::kSlotListStep);
  buffer.Reset();
  buffer.AppendU32(0);  // a length word to patch
  for (uint32_t i = 0; i < 40; ++i) buffer.AppendU32(0x01020304u * i);
  EXPECT_EQ(buffer.Length(), 164u);
  EXPECT_GE(buffer.Capacity(), 164u);
  EXPECT_EQ(Address(buffer.Data()) % 4, 0u);
  buffer.SetPosition(0);
  buffer.AppendU32(160);
  EXPECT_EQ(buffer.Position(), 4u);
  EXPECT_EQ(buffer.Length(), 164u);
  const uint8_t* d = buffer.Data();
  EXPECT_EQ(d[0], 160);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[8], 0x04);
  EXPECT_EQ(d[9], 0x03);
  EXPECT_EQ(d[10], 0x02);
  EXPECT_EQ(d[11], 0x01);
  buffer.SetPosition(165);
  EXPECT_EQ(buffer.Flags(), GSCompiler::CodeBuffer::kPositionPastEnd);
  EXPECT_EQ(buffer.Position(), 4u);
  buffer.SetPosition(164);
  EXPECT_EQ(buffer.Position(), 164u);
}

// Storage is taken as the contents need it; the capacity still moves by the
// steps alone, and every byte written stays.
TEST(CodeBufferTest, CapacityFollowsTheStepsWhileTheContentsGrowInSmallPieces) {
  for (unsigned step : {GSCompiler::CodeBuffer::kFunctionCodeStep, GSCompiler::CodeBuffer::kSlotListStep}) {
    SCOPED_TRACE(step);
    GSCompiler::CodeBuffer buffer(step);
    buffer.Reset();
    uint64_t capacity = step;
    for (uint32_t i = 0; i < 3000; ++i) {
      const uint8_t piece[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x5A};
      if (uint64_t{buffer.Position()} + sizeof piece >= capacity)
        capacity = GSCompiler::CodeBuffer::GrownCapacity(buffer.Position() + sizeof piece, step);
      buffer.AppendBytes(piece, sizeof piece);
      ASSERT_EQ(buffer.Capacity(), capacity) << i;
    }
    ASSERT_EQ(buffer.Flags(), 0u);
    ASSERT_EQ(buffer.Length(), 9000u);
    for (uint32_t i = 0; i < 3000; ++i) {
      const uint8_t* at = buffer.Data() + 3 * i;
      ASSERT_EQ(at[0] | at[1] << 8, static_cast<int>(i & 0xFFFF)) << i;
      ASSERT_EQ(at[2], 0x5A) << i;
    }
  }
  GSCompiler::CodeBuffer large(GSCompiler::CodeBuffer::kLibraryStep);
  large.Reset();
  ASSERT_TRUE(large.Ensure(100000));
  EXPECT_EQ(large.Capacity(), 101024u);
  const std::vector<uint8_t> bytes(101500, 0xC3);
  large.AppendBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(large.Capacity(), 102524u);
  EXPECT_EQ(std::vector<uint8_t>(large.Data(), large.Data() + large.Length()), bytes);
}

TEST(CodeBufferTest, FillAndEraseCloseUpTheRest) {
  GSCompiler::CodeBuffer buffer(GSCompiler::CodeBuffer::kSlotListStep);
  buffer.Reset();
  buffer.AppendFill(0xEE, 100);
  buffer.AppendBytes("abcd", 4);
  EXPECT_EQ(buffer.Length(), 104u);
  buffer.SetPosition(0);
  buffer.AppendBytes("xy", 2);
  buffer.Erase(2, 98);
  EXPECT_EQ(buffer.Flags(), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length()), "xyabcd");
  EXPECT_EQ(buffer.Position(), 6u);
  buffer.Erase(5, 2);  // past the end
  EXPECT_EQ(buffer.Flags(), GSCompiler::CodeBuffer::kPositionPastEnd);
  EXPECT_EQ(buffer.Length(), 6u);
}

TEST(CodeBufferTest, AFailedGrowthKeepsTheBufferAndSkipsLaterWrites) {
  GSCompiler::CodeBuffer buffer(GSCompiler::CodeBuffer::kLibraryStep);
  buffer.Reset();
  buffer.AppendU32(7);
  EXPECT_FALSE(buffer.Ensure(uint64_t{UINT32_MAX}));
  EXPECT_EQ(buffer.Flags(), GSCompiler::CodeBuffer::kAllocFailed);
  EXPECT_EQ(buffer.Capacity(), 1024u);
  buffer.AppendU32(8);
  EXPECT_EQ(buffer.Position(), 4u);
  EXPECT_EQ(buffer.Length(), 4u);
  EXPECT_EQ(buffer.Data()[0], 7);
  buffer.Reset();
  EXPECT_EQ(buffer.Flags(), 0u);
  buffer.AppendU32(9);
  EXPECT_EQ(buffer.Length(), 4u);
}

} // namespace
