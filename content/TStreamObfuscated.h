#pragma once
// A stream over another stream (borrowed) that, in scrambled mode, stores a
// random 32-bit seed first and transforms every byte by its position in the
// inner stream and the seed, so the same data gives different bytes on every
// write. Plain mode passes the bytes through.
#include <cstdint>

#include "content/TStream.h"

class TStreamObfuscated : public TStream {
public:
  enum Mode : int32_t { kPlain = 0, kScrambled = 1 };
  // Error flag value for a transfer against the direction it was opened for.
  static constexpr int kWrongDirection = 2;

  TStreamObfuscated() = default;

  // A null inner stream leaves the stream detached. Scrambled mode writes a
  // fresh seed (writing) or reads it (reading).
  void Open(bool writing, TStream* inner, int32_t mode);

  void Truncate() override;
  uint32_t Tell() override;
  bool IsOpen() override;
  uint32_t GetSize() override;
  uint32_t Write(const void* data, uint32_t n) override;
  uint32_t Read(void* out, uint32_t n) override;
  void Seek(int64_t offset, int origin) override;
  bool AtEnd() override;

  uint32_t Seed() const { return seed_; }

  // The stored byte of plain byte `b` at inner position `p`, and back.
  static uint8_t Scramble(uint32_t p, uint8_t b, uint32_t seed);
  static uint8_t Unscramble(uint32_t p, uint8_t s, uint32_t seed);
  // The same for `n` bytes in place, the first at inner position `p`.
  static void ScrambleBlock(uint32_t p, uint8_t* bytes, uint32_t n, uint32_t seed);
  static void UnscrambleBlock(uint32_t p, uint8_t* bytes, uint32_t n, uint32_t seed);

private:
  TStream* inner_ = nullptr;
  int32_t mode_ = kPlain;
  uint32_t position_ = 0;  // the inner stream's position after the last operation
  bool writing_ = false;
  uint32_t seed_ = 0;
};
