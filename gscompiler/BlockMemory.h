#pragma once
// A pool of equal-sized blocks (syntax nodes, symbols) carved from chunks of
// n blocks. Each chunk keeps a bitmap of its free blocks; blocks are taken
// from the chunk that is fullest, so that emptied chunks can be given back.
//
// The block arithmetic of the pool (blocks rounded to a multiple of 4 bytes,
// chunks of a multiple of 32 blocks) is kept as the pool's logical sizes. On
// this 64-bit platform the blocks hold pointers, so each block really sits
// at a stride rounded up to 16 bytes, and chunk areas start 16-byte aligned.
#include <cstdint>

#include "content/GrowArray.h"
#include "gscompiler/FrameMemory.h"

namespace Utils {

class BlockMemory {
public:
  static constexpr unsigned kAlignment = 4;
  static constexpr unsigned kStrideAlignment = 16;
  static constexpr unsigned RoundBlocks(unsigned n) { return (n + 31) / 32 * 32; }
  static constexpr unsigned RoundBlockSize(unsigned size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }
  static constexpr unsigned Stride(unsigned size) {
    return (RoundBlockSize(size) + kStrideAlignment - 1) / kStrideAlignment * kStrideAlignment;
  }
  // The chunk table's capacity once `count` chunks fill it: twice as many
  // and the first step again.
  static constexpr uint64_t ChunkTableGrowth(uint32_t count) { return uint64_t{count} * 2 + kChunkTableStep; }
  static constexpr unsigned kChunkTableStep = 4;
  // Settings of the pool of a compile unit (threshold, blocks per chunk).
  static constexpr unsigned kUnitThreshold = 4096;
  static constexpr unsigned kUnitBlocksPerChunk = 256;

  BlockMemory() = default;
  BlockMemory(const BlockMemory&) = delete;
  BlockMemory& operator=(const BlockMemory&) = delete;
  virtual ~BlockMemory();

  // Frees every chunk, then takes the new settings: a chunk is given back
  // when it empties while the other chunks keep more than `threshold` free
  // blocks.
  void Setup(unsigned threshold, unsigned blockSize, unsigned blocksPerChunk);
  // One block, or null when the pool has no settings.
  void* Allocate();
  // True when `block` was a block in use of this pool; anything else (a
  // block already free, a foreign or misplaced address) changes nothing.
  bool Release(void* block);
  void Reset();

  // Variable-sized data that lives as long as the pool.
  FrameMemory& Frames() { return frames_; }

  unsigned BlockSize() const { return blockSize_; }
  unsigned BlocksPerChunk() const { return blocksPerChunk_; }
  unsigned BitmapWords() const { return blocksPerChunk_ / 32; }
  unsigned BlocksInUse() const { return inUse_; }
  unsigned ChunkCount() const { return chunks_.Count(); }
  unsigned ChunkCapacity() const { return chunks_.Capacity(); }
  // Index of the current chunk in the address order, or -1 for none.
  int CurrentChunk() const;

private:
  struct Chunk {
    void* raw;
    char* start;
    char* end;
    uint32_t* bitmap;
    unsigned used;
  };
  Chunk* AddChunk();
  void FreeChunk(Chunk* chunk);
  void ChooseCurrent();
  int FindChunk(const char* address) const;

  unsigned threshold_ = 0;
  unsigned blocksPerChunk_ = 0;
  unsigned blockSize_ = 0;
  unsigned stride_ = 0;
  unsigned inUse_ = 0;
  unsigned fullChunks_ = 0;
  Chunk* current_ = nullptr;
  GrowArray<Chunk*, kChunkTableStep> chunks_;  // sorted by block-area address
  FrameMemory frames_;
};

} // namespace Utils
