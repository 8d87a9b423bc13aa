#include "Vak/Bexlorn/BlockCoder.h"

#include <cstring>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/ByteOrder.h"

namespace Vak {

namespace {

constexpr unsigned kSlots = 4096;
constexpr unsigned kCodes = 256;
// Byte values from this one down may become pair codes; 255 never does.
constexpr int kTopPairCode = 254;
// A count byte below this carries entries; from it up it skips codes.
constexpr unsigned kSkipBase = 127;
constexpr unsigned kMaxRun = 127;
// Any acyclic table nests at most 255 pair codes, which needs 256 entries.
constexpr unsigned kStackDepth = 256;

// One per Code call: the sub-block, its replacement table and a hash of pair
// counts (a slot is empty while its count is 0; counts saturate at 255).
struct WorkArea {
  uint8_t buffer[BlockCoder::kSubBlockBytes];
  uint8_t leftCode[kCodes];
  uint8_t rightCode[kCodes];  // also marks the values seen while filling
  uint8_t left[kSlots];
  uint8_t right[kSlots];
  uint8_t count[kSlots];
  unsigned size;
};

// The slot of the pair (a, b), claimed when it was empty. Counts never drop
// back to 0, so the table can fill up after many replacements; then -1 (the
// pair goes uncounted, which only affects which pair is replaced next).
int Lookup(WorkArea& w, uint8_t a, uint8_t b) {
  unsigned index = ((unsigned{b} << 5) ^ a) & (kSlots - 1);
  for (unsigned probes = 0; probes < kSlots; ++probes) {
    if (w.count[index] == 0 || (w.left[index] == a && w.right[index] == b)) {
      w.left[index] = a;
      w.right[index] = b;
      return static_cast<int>(index);
    }
    index = (index + 1) & (kSlots - 1);
  }
  return -1;
}

void Raise(WorkArea& w, uint8_t a, uint8_t b) {
  const int slot = Lookup(w, a, b);
  if (slot >= 0 && w.count[slot] < 255) ++w.count[slot];
}

void Lower(WorkArea& w, uint8_t a, uint8_t b) {
  const int slot = Lookup(w, a, b);
  if (slot >= 0 && w.count[slot] > 1) --w.count[slot];
}

bool IsPair(const WorkArea& w, unsigned code) { return w.leftCode[code] != code; }

// Takes the next sub-block from input[pos..length), counting its pairs.
void Fill(WorkArea& w, const uint8_t* input, unsigned length, unsigned& pos) {
  std::memset(w.count, 0, sizeof w.count);
  std::memset(w.rightCode, 0, sizeof w.rightCode);
  for (unsigned c = 0; c < kCodes; ++c) w.leftCode[c] = static_cast<uint8_t>(c);
  w.size = 0;
  unsigned distinct = 0;
  while (distinct < BlockCoder::kMaxDistinct && pos < length) {
    const uint8_t c = input[pos++];
    if (w.size > 0) Raise(w, w.buffer[w.size - 1], c);
    w.buffer[w.size++] = c;
    if (!w.rightCode[c]) {
      w.rightCode[c] = 1;
      ++distinct;
    }
    if (w.size == BlockCoder::kSubBlockBytes) break;
  }
}

// Rewrites every (a, b) of the sub-block, left to right, as `code`. Bytes
// between occurrences move in one piece; the rewrite never overtakes the scan.
void Replace(WorkArea& w, uint8_t a, uint8_t b, uint8_t code) {
  uint8_t* buf = w.buffer;
  const unsigned n = w.size;
  unsigned out = 0, i = 0;
  for (;;) {
    unsigned at = i;  // next occurrence, from i on
    bool found = false;
    while (at + 1 < n) {
      const void* hit = std::memchr(buf + at, a, n - 1 - at);
      if (!hit) break;
      at = static_cast<unsigned>(static_cast<const uint8_t*>(hit) - buf);
      if (buf[at + 1] == b) {
        found = true;
        break;
      }
      ++at;
    }
    if (!found) break;
    if (out != i) std::memmove(buf + out, buf + i, at - i);
    out += at - i;
    if (out > 0) {
      const uint8_t before = buf[out - 1];
      Lower(w, before, a);
      Raise(w, before, code);
    }
    if (at + 2 < n) {
      const uint8_t after = buf[at + 2];  // not yet overwritten: out <= at
      Lower(w, b, after);
      Raise(w, code, after);
    }
    buf[out++] = code;
    i = at + 2;
  }
  if (out != i) std::memmove(buf + out, buf + i, n - i);
  w.size = out + (n - i);
}

void ReplacePairs(WorkArea& w) {
  int next = kTopPairCode;
  for (;;) {
    while (next >= 0 && !(w.leftCode[next] == next && w.rightCode[next] == 0)) --next;
    if (next < 0) return;
    const uint8_t code = static_cast<uint8_t>(next--);
    // The first slot with the highest count; a maximum then a search for it
    // vectorise where a running comparison would not.
    uint8_t best = 0;
    for (unsigned slot = 0; slot < kSlots; ++slot) best = w.count[slot] > best ? w.count[slot] : best;
    if (best < 3) return;
    const int bestSlot = static_cast<int>(static_cast<const uint8_t*>(std::memchr(w.count, best, kSlots)) - w.count);
    const uint8_t a = w.left[bestSlot], b = w.right[bestSlot];
    Replace(w, a, b, code);
    w.leftCode[code] = a;
    w.rightCode[code] = b;
    w.count[bestSlot] = 1;
  }
}

// Output that refuses to grow to `room` bytes: coding only pays when the
// result is shorter than its input.
struct Sink {
  uint8_t* data;
  unsigned size;
  unsigned room;
  bool Fits(unsigned n) const { return uint64_t{size} + n < room; }
  bool Put(uint8_t v) {
    if (!Fits(1)) return false;
    data[size++] = v;
    return true;
  }
};

bool WriteTable(const WorkArea& w, Sink& out) {
  unsigned c = 0;
  while (c < kCodes) {
    if (!IsPair(w, c)) {
      unsigned run = 0;
      while (run < kMaxRun && c + run < kCodes && !IsPair(w, c + run)) ++run;
      if (!out.Put(static_cast<uint8_t>(kSkipBase + run))) return false;
      c += run;
      continue;
    }
    // A lone self-standing code between pair codes costs one byte as an
    // entry, less than ending the run for a skip.
    unsigned extra = 0, d = c + 1;
    while ((extra < 127 && d < kCodes && IsPair(w, d)) ||
           (extra < 125 && d < kCodes - 2 && IsPair(w, d + 1))) {
      ++extra;
      ++d;
    }
    if (!out.Put(static_cast<uint8_t>(extra))) return false;
    for (unsigned k = c; k <= c + extra; ++k) {
      if (!out.Put(w.leftCode[k])) return false;
      if (IsPair(w, k) && !out.Put(w.rightCode[k])) return false;
    }
    c += extra + 1;
  }
  return true;
}

bool WriteSubBlock(const WorkArea& w, Sink& out) {
  if (!WriteTable(w, out)) return false;
  if (!out.Fits(2 + w.size)) return false;
  PutBE16(out.data + out.size, static_cast<uint16_t>(w.size));
  out.size += 2;
  std::memcpy(out.data + out.size, w.buffer, w.size);
  out.size += w.size;
  return true;
}

// Every byte value in order, and slack for the word-wise copy of one.
constexpr auto kIdentity = [] {
  struct {
    uint8_t bytes[kCodes + 16];
  } table{};
  for (unsigned c = 0; c < kCodes; ++c) table.bytes[c] = static_cast<uint8_t>(c);
  return table;
}();

} // namespace

unsigned BlockCoder::Code(uint8_t* output, const uint8_t* input, unsigned length) {
  if (length == 0) return 0;
  auto* w = static_cast<WorkArea*>(Alloc::New(sizeof(WorkArea)));
  struct Release {
    WorkArea* w;
    ~Release() { Alloc::Delete(w); }
  } release{w};
  Sink out{output, 0, length};
  unsigned pos = 0;
  while (pos < length) {
    Fill(*w, input, length, pos);
    ReplacePairs(*w);
    if (!WriteSubBlock(*w, out)) {
      std::memcpy(output, input, length);
      return length;
    }
  }
  return out.size;
}

long BlockCoder::Expand(uint8_t* output, unsigned room, const uint8_t* input, unsigned length) {
  uint8_t left[kCodes], right[kCodes] = {};
  uint8_t stack[kStackDepth];
  // The bytes each code stands for, once known in this sub-block: a value
  // standing for itself, or the place a pair code's first expansion went
  // (span 0 until then). Later ones copy them, at most 16 bytes at once while
  // the room allows: what a copy writes past the span is overwritten next,
  // and the bytes it reads for the span lie before the output position.
  const uint8_t* from[kCodes];
  uint32_t span[kCodes];
  unsigned in = 0;
  unsigned out = 0;
  while (in < length) {
    for (unsigned c = 0; c < kCodes; ++c) left[c] = static_cast<uint8_t>(c);
    unsigned c = 0;
    while (c < kCodes) {
      if (in >= length) return kDamaged;
      const unsigned n = input[in++];
      if (n > kSkipBase) {
        c += n - kSkipBase;
        if (c > kCodes) return kDamaged;
        continue;
      }
      if (c + n + 1 > kCodes) return kDamaged;
      for (unsigned end = c + n + 1; c < end; ++c) {
        if (in >= length) return kDamaged;
        left[c] = input[in++];
        if (left[c] != c) {
          if (in >= length) return kDamaged;
          right[c] = input[in++];
        }
      }
    }
    for (unsigned v = 0; v < kCodes; ++v) {
      from[v] = kIdentity.bytes + v;
      span[v] = left[v] == v ? 1 : 0;
    }
    if (length - in < 2) return kDamaged;
    const unsigned packed = GetBE16(input + in);
    in += 2;
    if (packed > length - in) return kDamaged;
    for (const unsigned end = in + packed; in < end; ++in) {
      const uint8_t code = input[in];
      if (const uint32_t n = span[code]) {
        if (n <= 16 && room - out >= 16) {
          uint8_t word[16];
          std::memcpy(word, from[code], 16);
          std::memcpy(output + out, word, 16);
        } else {
          if (n > room - out) return kDamaged;
          std::memmove(output + out, from[code], n);
        }
        out += n;
        continue;
      }
      const unsigned start = out;
      unsigned top = 0;
      stack[top++] = code;
      while (top > 0) {
        const uint8_t v = stack[--top];
        if (left[v] == v) {
          if (out >= room) return kDamaged;
          output[out++] = v;
        } else if (const uint32_t n = span[v]) {
          if (n > room - out) return kDamaged;
          std::memmove(output + out, from[v], n);
          out += n;
        } else {
          if (top + 2 > kStackDepth) return kDamaged;
          stack[top++] = right[v];
          stack[top++] = left[v];
        }
      }
      from[code] = output + start;
      span[code] = out - start;
    }
  }
  return static_cast<long>(out);
}

} // namespace Vak
