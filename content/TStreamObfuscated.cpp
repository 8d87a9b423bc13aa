#include "content/TStreamObfuscated.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "content/AppGlobals.h"

namespace {

uint8_t RotateRight(uint8_t v, unsigned n) {
  n &= 7;
  return n ? static_cast<uint8_t>((v >> n) | (v << (8 - n))) : v;
}

uint8_t RotateLeft(uint8_t v, unsigned n) {
  n &= 7;
  return n ? static_cast<uint8_t>((v << n) | (v >> (8 - n))) : v;
}

uint8_t Key(uint32_t p, uint32_t seed) { return RotateRight(static_cast<uint8_t>(seed), (p / 3) & 7); }

// Transfers go through a scratch block of at most this many bytes at a time:
// on the stack for small ones.
constexpr uint32_t kSmallChunk = 4096;
constexpr uint32_t kChunk = 65536;

// The transform of a byte depends on its position only through the low byte,
// the position modulo 8 (with the seed) and (position / 3) modulo 8: it
// repeats every 768 bytes.
constexpr uint32_t kPeriod = 768;
// Shorter runs are not worth a pattern.
constexpr uint32_t kPatternFrom = 256;

// A run that wraps past the last position breaks the period.
bool ByPattern(uint32_t p, uint32_t n) { return n >= kPatternFrom && p <= UINT32_MAX - n; }

// A rotation left by r of a byte is the low byte ORed with the high byte of
// the byte times 2^r: one multiply that vectorises, where eight different
// rotations would not.
uint8_t RotateBy(uint8_t b, uint16_t factor) {
  const uint16_t x = static_cast<uint16_t>(b * factor);
  return static_cast<uint8_t>(x | (x >> 8));
}

// Per position of one period from `p`: the multiplier of the rotation and
// the key XORed before (unscramble) or after (scramble) it.
struct Pattern {
  uint16_t factor[kPeriod];
  uint8_t key[kPeriod];
  Pattern(uint32_t p, uint32_t seed, bool scramble) {
    for (uint32_t i = 0; i < kPeriod; ++i) {
      const uint32_t q = p + i;
      const unsigned rotation = (q + seed) & 7;
      factor[i] = static_cast<uint16_t>(1u << (scramble ? (8 - rotation) & 7 : rotation));
      key[i] = static_cast<uint8_t>(static_cast<uint8_t>(q) ^ Key(q, seed));
    }
  }
};

void TransformRun(uint32_t p, uint8_t* bytes, uint32_t n, uint32_t seed, bool scramble) {
  if (!ByPattern(p, n)) {
    for (uint32_t i = 0; i < n; ++i)
      bytes[i] = scramble ? TStreamObfuscated::Scramble(p + i, bytes[i], seed)
                          : TStreamObfuscated::Unscramble(p + i, bytes[i], seed);
    return;
  }
  const Pattern pattern(p, seed, scramble);
  for (uint32_t at = 0; at < n; at += kPeriod) {
    uint8_t* b = bytes + at;
    const uint32_t count = std::min(kPeriod, n - at);
    if (scramble)
      for (uint32_t i = 0; i < count; ++i) b[i] = RotateBy(b[i], pattern.factor[i]) ^ pattern.key[i];
    else
      for (uint32_t i = 0; i < count; ++i) b[i] = RotateBy(b[i] ^ pattern.key[i], pattern.factor[i]);
  }
}

} // namespace

void TStreamObfuscated::ScrambleBlock(uint32_t p, uint8_t* bytes, uint32_t n, uint32_t seed) {
  TransformRun(p, bytes, n, seed, true);
}

void TStreamObfuscated::UnscrambleBlock(uint32_t p, uint8_t* bytes, uint32_t n, uint32_t seed) {
  TransformRun(p, bytes, n, seed, false);
}

uint8_t TStreamObfuscated::Scramble(uint32_t p, uint8_t b, uint32_t seed) {
  const uint32_t d = p + seed;
  return static_cast<uint8_t>(static_cast<uint8_t>(p) ^ RotateRight(b, d & 7) ^ Key(p, seed));
}

uint8_t TStreamObfuscated::Unscramble(uint32_t p, uint8_t s, uint32_t seed) {
  const uint32_t d = p + seed;
  const uint8_t x = static_cast<uint8_t>(static_cast<uint8_t>(p) ^ s ^ Key(p, seed));
  return RotateLeft(x, d & 7);
}

void TStreamObfuscated::Open(bool writing, TStream* inner, int32_t mode) {
  inner_ = nullptr;
  mode_ = kPlain;
  position_ = 0;
  writing_ = false;
  seed_ = 0;
  error_ = 0;
  ClearBuffer();
  if (!inner) return;
  inner_ = inner;
  mode_ = mode;
  writing_ = writing;
  if (mode_ == kScrambled) {
    if (writing_) {
      seed_ = static_cast<uint32_t>(SharedRandNextInt());
      inner_->WriteInt(seed_);
    } else {
      seed_ = inner_->ReadInt();
    }
  }
  position_ = inner_->Tell();
}

void TStreamObfuscated::Truncate() {
  ClearBuffer();
  if (!inner_) return;
  inner_->Truncate();
  position_ = inner_->Tell();
}

uint32_t TStreamObfuscated::Tell() { return inner_ ? position_ - unread_ : 0; }

bool TStreamObfuscated::IsOpen() { return inner_ && inner_->IsOpen(); }

uint32_t TStreamObfuscated::GetSize() { return inner_ ? inner_->GetSize() : 0; }

uint32_t TStreamObfuscated::Write(const void* data, uint32_t n) {
  if (!inner_) return 0;
  if (!writing_) {
    SetError(kWrongDirection);
    return 0;
  }
  uint32_t written = 0;
  if (mode_ == kPlain) {
    if (n) written = inner_->WriteBytes(data, n);
  } else if (mode_ == kScrambled) {
    // The caller's bytes stay untouched: scramble a copy.
    const uint8_t* in = static_cast<const uint8_t*>(data);
    uint8_t local[kSmallChunk];
    std::unique_ptr<uint8_t[]> heap;
    const uint32_t scratchSize = n <= kSmallChunk ? kSmallChunk : kChunk;
    uint8_t* scratch = n <= kSmallChunk ? local : (heap.reset(new uint8_t[kChunk]), heap.get());
    inner_->DropReadAhead();
    while (written < n) {
      const uint32_t count = std::min(n - written, scratchSize);
      std::memcpy(scratch, in + written, count);
      ScrambleBlock(position_ + written, scratch, count, seed_);
      const uint32_t put = inner_->Write(scratch, count);
      written += put;
      if (put != count) break;
    }
  }
  position_ += written;
  return written;
}

uint32_t TStreamObfuscated::Read(void* out, uint32_t n) {
  if (!inner_) return 0;
  if (writing_) {
    SetError(kWrongDirection);
    return 0;
  }
  uint32_t got = 0;
  if (mode_ == kPlain) {
    got = inner_->ReadBuffered(n, out);
  } else if (mode_ == kScrambled) {
    uint8_t* bytes = static_cast<uint8_t*>(out);
    got = inner_->ReadBuffered(n, bytes);
    UnscrambleBlock(position_, bytes, got, seed_);
  }
  position_ += got;
  return got;
}

void TStreamObfuscated::Seek(int64_t offset, int origin) {
  if (!inner_ || (mode_ != kPlain && mode_ != kScrambled)) return;
  // Relative to this stream's logical position, which trails the inner
  // stream by our own unread read-ahead.
  if (origin == kCurrent) inner_->SeekBuffered(int64_t(Tell()) + offset, kBegin);
  else inner_->SeekBuffered(offset, origin);
  position_ = inner_->Tell();
}

bool TStreamObfuscated::AtEnd() {
  if (!inner_) return true;
  // Our own read-ahead may hold the last bytes after the inner stream ended.
  if (unread_ || inner_->Buffered()) return false;
  return inner_->AtEnd();
}
