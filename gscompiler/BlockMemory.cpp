#include "gscompiler/BlockMemory.h"

#include <cstring>
#include <functional>

#include "Vak/Bexlorn/Alloc.h"

namespace Utils {

BlockMemory::~BlockMemory() { Reset(); }

void BlockMemory::Setup(unsigned threshold, unsigned blockSize, unsigned blocksPerChunk) {
  Reset();
  threshold_ = threshold;
  blocksPerChunk_ = RoundBlocks(blocksPerChunk);
  blockSize_ = RoundBlockSize(blockSize);
  stride_ = Stride(blockSize);
}

BlockMemory::Chunk* BlockMemory::AddChunk() {
  const unsigned words = BitmapWords();
  auto* chunk = static_cast<Chunk*>(Vak::Alloc::New(sizeof(Chunk) + words * sizeof(uint32_t)));
  chunk->raw = Vak::Alloc::New(blocksPerChunk_ * stride_ + kStrideAlignment - 1);
  const uintptr_t raw = reinterpret_cast<uintptr_t>(chunk->raw);
  chunk->start = reinterpret_cast<char*>((raw + kStrideAlignment - 1) & ~uintptr_t{kStrideAlignment - 1});
  chunk->end = chunk->start + std::size_t{blocksPerChunk_} * stride_;
  chunk->bitmap = reinterpret_cast<uint32_t*>(chunk + 1);
  std::memset(chunk->bitmap, 0xFF, words * sizeof(uint32_t));
  chunk->used = 0;

  uint32_t at = 0;
  uint32_t end = chunks_.Count();
  while (at < end) {
    const uint32_t mid = at + (end - at) / 2;
    if (std::less<const char*>()(chunks_[mid]->start, chunk->start)) {
      at = mid + 1;
    } else {
      end = mid;
    }
  }
  // Doubling keeps the table's copies linear in the chunk count.
  if (chunks_.Count() == chunks_.Capacity()) chunks_.Reserve(ChunkTableGrowth(chunks_.Count()));
  chunks_.Append(chunk);
  Chunk** items = chunks_.Data();
  std::memmove(items + at + 1, items + at, (chunks_.Count() - 1 - at) * sizeof(Chunk*));
  items[at] = chunk;
  return chunk;
}

void BlockMemory::FreeChunk(Chunk* chunk) {
  Vak::Alloc::Delete(chunk->raw);
  Vak::Alloc::Delete(chunk);
}

void BlockMemory::ChooseCurrent() {
  current_ = nullptr;
  if (fullChunks_ == chunks_.Count()) return;  // spares no walk while a pool only grows
  for (Chunk* chunk : chunks_) {
    if (chunk->used == blocksPerChunk_) continue;
    if (current_ == nullptr || chunk->used > current_->used) current_ = chunk;
  }
}

int BlockMemory::CurrentChunk() const {
  for (uint32_t i = 0; i < chunks_.Count(); ++i)
    if (chunks_[i] == current_) return static_cast<int>(i);
  return -1;
}

void* BlockMemory::Allocate() {
  if (blocksPerChunk_ == 0) return nullptr;
  if (current_ == nullptr) current_ = AddChunk();
  Chunk* chunk = current_;
  for (unsigned word = BitmapWords(); word-- > 0;) {
    const uint32_t bits = chunk->bitmap[word];
    if (bits == 0) continue;
    const unsigned bit = 31u - static_cast<unsigned>(__builtin_clz(bits));
    chunk->bitmap[word] = bits & ~(uint32_t{1} << bit);
    ++chunk->used;
    ++inUse_;
    if (chunk->used == blocksPerChunk_) {
      ++fullChunks_;
      ChooseCurrent();
    }
    return chunk->start + std::size_t{word * 32 + bit} * stride_;
  }
  return nullptr;  // not reached: the current chunk always has a free block
}

int BlockMemory::FindChunk(const char* address) const {
  int low = 0;
  int high = static_cast<int>(chunks_.Count()) - 1;
  const std::less<const char*> before;
  while (low <= high) {
    const int mid = (low + high) / 2;
    const Chunk* chunk = chunks_[static_cast<uint32_t>(mid)];
    if (before(address, chunk->start)) {
      high = mid - 1;
    } else if (!before(address, chunk->end)) {
      low = mid + 1;
    } else {
      return mid;
    }
  }
  return -1;
}

bool BlockMemory::Release(void* block) {
  if (inUse_ % 16 == 0) ChooseCurrent();
  const int found = FindChunk(static_cast<const char*>(block));
  if (found < 0) return false;
  Chunk* chunk = chunks_[static_cast<uint32_t>(found)];
  const std::size_t offset = static_cast<std::size_t>(static_cast<const char*>(block) - chunk->start);
  if (offset % stride_ != 0) return false;
  const std::size_t index = offset / stride_;
  uint32_t& word = chunk->bitmap[index / 32];
  const uint32_t mask = uint32_t{1} << (index % 32);
  if (word & mask) return false;
  word |= mask;
  if (chunk->used == blocksPerChunk_) --fullChunks_;
  --chunk->used;
  --inUse_;
  if (chunk->used == 0) {
    const uint64_t othersFree = uint64_t{chunks_.Count() - 1} * blocksPerChunk_ - inUse_;
    if (othersFree > threshold_) {
      FreeChunk(chunk);
      chunks_.EraseAt(static_cast<uint32_t>(found));
      ChooseCurrent();
    }
  }
  return true;
}

void BlockMemory::Reset() {
  for (Chunk* chunk : chunks_) FreeChunk(chunk);
  chunks_.Free();
  fullChunks_ = 0;
  current_ = nullptr;
  inUse_ = 0;
  frames_.Reset();
}

} // namespace Utils
