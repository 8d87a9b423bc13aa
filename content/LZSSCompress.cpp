#include "content/LZSSCompress.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace Vak {

namespace {

constexpr uint16_t kEmpty = 0xFFFF;
constexpr unsigned kMinMatch = LZBlockCoder::kMinMatch;
constexpr unsigned kMaxMatch = LZBlockCoder::kMaxMatch;
constexpr unsigned kEndSymbol = 272;
constexpr unsigned kSymbolsA = 273;
constexpr unsigned kFirstLengthSymbol = 256;
constexpr unsigned kWordRun = 6;   // shortest literal run of the word form
constexpr unsigned kNoRun = 259;   // the byte form has no runs
constexpr size_t kLiteralFlush = 257;

struct Window {
  unsigned bits;
  unsigned distanceSymbols;
  unsigned lowBits;
};
constexpr Window kWindows[3] = {{8, 16, 4}, {12, 64, 6}, {14, 64, 8}};

// ---------------------------------------------------------------------------
// Decoding

// Flag bits of the flag-word forms, a new word read when all 32 are used.
class FlagReader {
public:
  FlagReader(const uint8_t*& p, const uint8_t* end) : p_(p), end_(end) {}

  // 0 or 1, or -1 when the input ends inside the next flag word.
  int Next() {
    if (left_ == 0) {
      if (end_ - p_ < 4) return -1;
      flags_ = GetLE32(p_);
      p_ += 4;
      left_ = 32;
    }
    const int bit = static_cast<int>(flags_ & 1);
    flags_ >>= 1;
    --left_;
    return bit;
  }
  // The coder leaves the unused flags of the last word clear; a set one at
  // the end of the input is a token that was cut off.
  bool RestClear() const { return flags_ == 0; }

private:
  const uint8_t*& p_;
  const uint8_t* end_;
  uint32_t flags_ = 0;
  unsigned left_ = 0;
};

bool DecodeBytes(Compress::WriteCursor& out, const uint8_t* p, const uint8_t* end) {
  FlagReader flags(p, end);
  for (;;) {
    if (p == end) return flags.RestClear();
    const int kind = flags.Next();
    if (kind < 0) return false;
    if (kind == 0) {
      if (p == end || !out.Put(*p++)) return false;
      continue;
    }
    unsigned v = 0;
    for (unsigned i = 0; i < 3; ++i) {
      const int bit = flags.Next();
      if (bit < 0) return false;
      v |= static_cast<unsigned>(bit) << i;
    }
    if (v == 7) {
      if (p == end) return false;
      v = *p++;
    }
    if (p == end) return false;
    const unsigned distance = *p++;
    if (out.Copy(distance, v + kMinMatch) != v + kMinMatch) return false;
  }
}

bool DecodeWords(Compress::WriteCursor& out, const uint8_t* p, const uint8_t* end, unsigned bits) {
  const unsigned mask = (1u << (16 - bits)) - 1;
  FlagReader flags(p, end);
  for (;;) {
    if (p == end) return flags.RestClear();
    const int kind = flags.Next();
    if (kind < 0) return false;
    if (kind == 1) {
      if (end - p < 2) return false;
      const unsigned token = GetLE16(p);
      p += 2;
      unsigned v = token >> bits;
      if (v == mask) {
        if (p == end) return false;
        v = *p++;
      }
      const unsigned distance = token & ((1u << bits) - 1);
      if (out.Copy(distance, v + kMinMatch) != v + kMinMatch) return false;
      continue;
    }
    const int run = flags.Next();
    if (run < 0 || p == end) return false;
    if (run == 0) {
      if (!out.Put(*p++)) return false;
      continue;
    }
    const size_t n = size_t{*p++} + kMinMatch;
    if (static_cast<size_t>(end - p) < n || out.Write(p, n) != n) return false;
    p += n;
  }
}

class BitReader {
public:
  BitReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

  bool Bit(unsigned& bit) {
    if (count_ == 0) {
      if (p_ == end_) return false;
      byte_ = *p_++;
      count_ = 8;
    }
    bit = byte_ & 1;
    byte_ >>= 1;
    --count_;
    return true;
  }
  bool Bits(unsigned n, unsigned& value) {
    value = 0;
    for (unsigned i = 0; i < n; ++i) {
      unsigned bit;
      if (!Bit(bit)) return false;
      value |= bit << i;
    }
    return true;
  }
  bool Symbol(AdaptiveHuffman& tree, unsigned& symbol) {
    unsigned node = tree.Root();
    while (!(tree.Child(node) & AdaptiveHuffman::kLeaf)) {
      unsigned bit;
      if (!Bit(bit)) return false;
      node = tree.Child(node) + bit;
    }
    symbol = tree.Child(node) & ~AdaptiveHuffman::kLeaf;
    return true;
  }

private:
  const uint8_t* p_;
  const uint8_t* end_;
  unsigned byte_ = 0;
  unsigned count_ = 0;
};

bool DecodeHuffman(Compress::WriteCursor& out, const uint8_t* p, const uint8_t* end, const Window& w) {
  AdaptiveHuffman literals;
  AdaptiveHuffman distances;
  literals.Init(kSymbolsA);
  distances.Init(w.distanceSymbols);
  BitReader in(p, end);
  for (;;) {
    unsigned symbol;
    // Running out before the end symbol means the block was cut short.
    if (!in.Symbol(literals, symbol) || symbol >= kSymbolsA) return false;
    literals.Update(symbol);
    if (symbol < 256) {
      if (!out.Put(static_cast<uint8_t>(symbol))) return false;
      continue;
    }
    if (symbol == kEndSymbol) return true;
    const unsigned cls = symbol - kFirstLengthSymbol;
    unsigned extra, high, low;
    if (!in.Bits(LZBlockCoder::kLengthExtra[cls], extra)) return false;
    if (!in.Symbol(distances, high)) return false;
    distances.Update(high);
    if (!in.Bits(w.lowBits, low)) return false;
    const size_t length = size_t{LZBlockCoder::kLengthBase[cls]} + extra + kMinMatch;
    const size_t distance = ((high << w.lowBits) + low) & ((1u << w.bits) - 1);
    if (out.Copy(distance, length) != length) return false;
  }
}

} // namespace

// ---------------------------------------------------------------------------
// Encoding

namespace {

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Count of equal bytes of `a` and `b` from `n` up to `limit`, a word at a time.
size_t EqualUpTo(const uint8_t* a, const uint8_t* b, size_t n, size_t limit) {
  for (; n + 8 <= limit; n += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (const uint64_t diff = x ^ y) {
      const int bit = std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
      return n + static_cast<size_t>(bit / 8);
    }
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Hash-table entries after the window slid down by `by`: those that fall
// before the new start come out empty, as do empty ones. Without branches so
// that it vectorises: +1 takes empty to 0, the subtraction saturates at 0,
// and -1 takes 0 back to empty.
void Lowered(uint16_t* to, const uint16_t* from, size_t n, uint16_t by) {
  for (size_t i = 0; i < n; ++i) {
    const uint16_t e = static_cast<uint16_t>(from[i] + 1);
    to[i] = static_cast<uint16_t>((e > by ? e - by : 0) - 1);
  }
}

// Appends to a byte vector that already has its capacity, refusing to pass
// `room` bytes.
class VectorOutput final : public LZBlockCoder::Output {
public:
  VectorOutput(std::vector<uint8_t>& out, size_t room) : out_(out), room_(room) {}
  size_t Write(const void* bytes, size_t count) override {
    count = std::min(count, room_ - out_.size());
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    out_.insert(out_.end(), b, b + count);
    return count;
  }

private:
  std::vector<uint8_t>& out_;
  size_t room_;
};

} // namespace

bool LZSSCompress::Encode(LZBlockCoder::Output& out, const uint8_t* data, uint32_t length, unsigned level) {
  unsigned window = static_cast<unsigned>(LZBlockCoder::LevelRow(static_cast<int>(level)).window);
  if (length < 256) {
    window = 0;
    level = std::min(level, 6u);
  } else if (length <= (1u << kWindows[window - 1].bits)) {
    --window;
  }
  const LZBlockCoder::Level& row = LZBlockCoder::LevelRow(static_cast<int>(level));
  const Window& w = kWindows[window];
  const uint8_t header = static_cast<uint8_t>(window << 4 | level);
  if (out.Write(&header, 1) != 1) return false;

  LZBlockCoder coder(out);
  const bool huffman = level > 6;
  if (huffman) {
    coder.SetHuffmanForm(kSymbolsA, kFirstLengthSymbol, w.distanceSymbols, w.lowBits);
  } else if (window == 0) {
    coder.SetFlagForm(false, 0, 7, kNoRun);
  } else {
    coder.SetFlagForm(true, w.bits, (1u << (16 - w.bits)) - 1, kWordRun);
  }

  const size_t W = size_t{1} << w.bits;
  const size_t area = std::min<size_t>(length, 2 * W + kMaxMatch);
  const unsigned shift = area < 2000 ? 3 : area < 24000 ? 4 : 5;
  const unsigned mask = (1u << (3 * shift)) - 1;
  head_.assign(size_t{1} << (3 * shift), kEmpty);
  chain_.assign(area, kEmpty);
  uint16_t* const head = head_.data();
  uint16_t* const chain = chain_.data();
  const size_t nice = static_cast<size_t>(row.niceLength);

  auto insert = [&](size_t pos, const uint8_t* p) {
    uint16_t& h = head[((unsigned{p[0]} << (2 * shift)) ^ (unsigned{p[1]} << shift) ^ p[2]) & mask];
    const uint16_t previous = h;
    chain[pos] = previous;
    h = static_cast<uint16_t>(pos);
    return previous;
  };
  // A chain entry lies in the window when it is less than W back; an empty
  // one, above every position, wraps to a distance far beyond it.
  auto inWindow = [W](size_t pos, size_t cand) { return pos - cand - 1 < W - 1; };
  auto emitLiterals = [&](size_t from, size_t to) {
    return from == to || (coder.*row.emitLiterals)(data + from, static_cast<unsigned>(to - from));
  };

  size_t base = 0;  // input offset of area position 0
  size_t pos = 0;
  size_t literalsFrom = 0;
  while (base + pos + kMinMatch <= length) {
    const size_t at = base + pos;
    if (at - literalsFrom > kLiteralFlush) {
      if (!emitLiterals(literalsFrom, at)) return false;
      literalsFrom = at;
    }
    if (pos >= 2 * W) {
      const size_t by = pos - W;
      Lowered(head, head, head_.size(), static_cast<uint16_t>(by));
      Lowered(chain, chain + by, area - by, static_cast<uint16_t>(by));
      std::fill(chain + (area - by), chain + area, kEmpty);
      base += by;
      pos = W;
    }
    const uint8_t* here = data + at;
    const uint16_t previous = insert(pos, here);
    if (!inWindow(pos, previous)) {
      ++pos;
      continue;
    }

    // Longest match along the chain, nearest candidates first. A candidate
    // can only beat `best` when its first two bytes and the two ending at
    // `best` agree; the shared hash settles the third.
    const size_t maxLength = std::min(length - at, area - pos);
    const size_t stop = std::min(nice, maxLength);
    const uint8_t* const window0 = data + base;
    const uint16_t hereStart = Load16(here);
    size_t best = 2;
    size_t bestFrom = 0;
    uint16_t hereEnd = Load16(here + best - 1);  // the two bytes ending at `best`
    for (size_t cand = previous; inWindow(pos, cand); cand = chain[cand]) {
      const uint8_t* there = window0 + cand;
      if (Load16(there + best - 1) != hereEnd || Load16(there) != hereStart) continue;
      const size_t n = EqualUpTo(there, here, 3, maxLength);
      if (n > best) {
        best = n;
        bestFrom = cand;
        if (best >= stop) break;
        hereEnd = Load16(here + best - 1);
      }
    }
    if (best < kMinMatch) {
      ++pos;
      continue;
    }

    if (!emitLiterals(literalsFrom, at)) return false;
    const unsigned distance = static_cast<unsigned>(pos - bestFrom);
    size_t done = 0;
    while (best - done > kMaxMatch) {
      if (!(coder.*row.emitMatch)(kMaxMatch, distance)) return false;
      done += kMaxMatch;
    }
    if (best - done >= kMinMatch) {
      if (!(coder.*row.emitMatch)(static_cast<unsigned>(best - done), distance)) return false;
      done = best;
    }
    const size_t inserted = std::min(done, length - kMinMatch + 1 - at);
    for (size_t q = 1; q < inserted; ++q) insert(pos + q, here + q);
    pos += done;
    literalsFrom = base + pos;
  }
  if (!emitLiterals(literalsFrom, length)) return false;
  if (huffman) return coder.HuffmanSymbol(kEndSymbol) && coder.FinishBits();
  return coder.FinishBatch();
}

bool LZSSCompress::Code(LZBlockCoder::Output& out, const uint8_t* data, uint32_t length, int level) {
  const unsigned lvl = std::min(static_cast<unsigned>(level), static_cast<unsigned>(kMaxLevel));
  const bool coded = lvl != 0 && length >= kStoredBelow && Encode(out, data, length, lvl);
  FreeBuffers();
  return coded;
}

bool LZSSCompress::Compress(WriteCursor& out, ReadCursor& in, uint32_t length, int level) {
  if (in.Left() < length) return false;
  const size_t outStart = out.Position();
  const size_t inStart = in.Position();
  if (!Code(out, in.Here(), length, level)) {
    out.Seek(outStart);
    in.Seek(inStart);
    if (!out.Put(0) || out.Write(in.Here(), length) != length) {
      out.Seek(outStart);
      return false;
    }
  }
  in.Advance(length);
  return true;
}

bool LZSSCompress::Decompress(WriteCursor& out, ReadCursor& in, uint32_t length) {
  if (length == 0 || in.Left() < length) return false;
  const uint8_t* p = in.Here();
  const uint8_t* end = p + length;
  const unsigned header = *p++;
  const unsigned level = header & 0x0F;
  const unsigned window = header >> 4;
  bool ok;
  if (level == 0) {
    const size_t n = static_cast<size_t>(end - p);
    ok = out.Write(p, n) == n;
  } else if (level > kMaxLevel || window > 2) {
    ok = false;
  } else if (level > 6) {
    ok = DecodeHuffman(out, p, end, kWindows[window]);
  } else if (window == 0) {
    ok = DecodeBytes(out, p, end);
  } else {
    ok = DecodeWords(out, p, end, kWindows[window].bits);
  }
  if (ok) in.Advance(length);
  return ok;
}

void LZSSCompress::FreeBuffers() {
  head_ = {};
  chain_ = {};
}

bool LZSSCompress::CompressBlock(const void* in, size_t length, int level, std::vector<uint8_t>& out) {
  out.clear();
  if (length > std::numeric_limits<uint32_t>::max() - 1) return false;
  // Appended as coded rather than sized up front: no pass to clear the room.
  out.reserve(length + 1);
  const uint8_t* data = static_cast<const uint8_t*>(in);
  VectorOutput writer(out, length + 1);
  if (!Code(writer, data, static_cast<uint32_t>(length), level)) {
    out.assign(1, 0);
    out.insert(out.end(), data, data + length);
  }
  return true;
}

bool LZSSCompress::DecompressBlock(const void* in, size_t length, void* out, size_t room, size_t* written) {
  if (written) *written = 0;
  if (length > std::numeric_limits<uint32_t>::max()) return false;
  ReadCursor reader(in, length);
  WriteCursor writer(out, room);
  const bool ok = Decompress(writer, reader, static_cast<uint32_t>(length));
  if (written) *written = writer.Position();
  return ok;
}

} // namespace Vak
