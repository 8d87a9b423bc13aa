#include "content/TStreamObfuscated.h"

#include <algorithm>
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

// Transfers go through a scratch block of at most this many bytes at a time.
constexpr uint32_t kChunk = 4096;

} // namespace

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
    uint8_t scratch[kChunk];
    inner_->DropReadAhead();
    while (written < n) {
      const uint32_t count = std::min(n - written, kChunk);
      for (uint32_t i = 0; i < count; ++i)
        scratch[i] = Scramble(position_ + written + i, in[written + i], seed_);
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
    for (uint32_t i = 0; i < got; ++i) bytes[i] = Unscramble(position_ + i, bytes[i], seed_);
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
