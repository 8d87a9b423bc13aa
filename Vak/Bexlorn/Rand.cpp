#include "Vak/Bexlorn/Rand.h"

#include <cassert>
#include <chrono>
#include <random>
#include <utility>

namespace Vak {

namespace {

// splitmix64 (Steele, Lea, Flood): spreads a small seed over the table.
uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

} // namespace

Rand::Rand() { Randomise(); }

Rand::~Rand() = default;

void Rand::Randomise() {
  std::random_device device;
  uint64_t clock = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  Randomise(device() ^ static_cast<uint32_t>(clock) ^ static_cast<uint32_t>(clock >> 32));
}

void Rand::Randomise(uint32_t seed) {
  size_ = kSize;
  auxSize_ = kAuxSize;
  table_.reset(new uint32_t[kSize]);
  aux_.reset(new uint32_t[kAuxSize]);
  lag_ = kLag;
  position_ = 0;

  uint64_t state = seed;
  for (int i = 0; i < kSize; ++i) table_[i] = static_cast<uint32_t>(SplitMix64(state) >> 32);
  for (int i = 0; i < kAuxSize; ++i) aux_[i] = static_cast<uint32_t>(SplitMix64(state) >> 32);

  // Make 32 words linearly independent (a triangle of bits on a diagonal), so
  // that no bit of the output can be stuck at 0 whatever the seed.
  uint32_t mask = 0xFFFFFFFFu;
  uint32_t bit = 0x80000000u;
  for (int k = 0; k < 32; ++k) {
    uint32_t& word = table_[3 + 7 * k];
    word = (word & mask) | bit;
    mask >>= 1;
    bit >>= 1;
  }
}

int Rand::NextInt() {
  int i = position_;
  int j = i >= lag_ ? i - lag_ : i + size_ - lag_;
  table_[i] ^= table_[j];
  position_ = i + 1 < size_ ? i + 1 : 0;
  return static_cast<int>(table_[i]);
}

int Rand::NextInt(int lo, int hi) {
  if (lo > hi) std::swap(lo, hi);
  const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;  // 1 .. 2^32
  // Reject the top partial stretch of 32-bit values so that every result is equally likely.
  const uint64_t limit = (uint64_t{1} << 32) - (uint64_t{1} << 32) % span;
  uint64_t r;
  do {
    r = static_cast<uint32_t>(NextInt());
  } while (r >= limit);
  return static_cast<int>(static_cast<int64_t>(lo) + static_cast<int64_t>(r % span));
}

uint32_t Rand::Word(int i) const {
  assert(i >= 0 && i < size_);
  return table_[i];
}

} // namespace Vak
