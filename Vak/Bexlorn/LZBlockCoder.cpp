#include "Vak/Bexlorn/LZBlockCoder.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <algorithm>
#include <vector>

namespace Vak {

namespace {

constexpr uint16_t kNoParent = 0xFFFF;
constexpr uint16_t kUnassigned = 0xFFFE;

bool IsLeaf(uint16_t child) { return (child & AdaptiveHuffman::kLeaf) != 0; }

} // namespace

// ---------------------------------------------------------------------------
// AdaptiveHuffman

void AdaptiveHuffman::Init(unsigned symbols) {
  symbols = std::clamp(symbols, 2u, kMaxSymbols);
  leaves_ = (symbols + 1) & ~1u;
  nodes_ = 2 * leaves_ - 1;
  for (unsigned i = 0; i < leaves_; ++i) {
    weight_[i] = 1;
    child_[i] = static_cast<uint16_t>(kLeaf | i);
    leaf_[i] = static_cast<uint16_t>(i);
  }
  runEnd_.fill(0);
  for (unsigned k = 0; leaves_ + k < nodes_; ++k) {
    const unsigned node = leaves_ + k;
    weight_[node] = weight_[2 * k] + weight_[2 * k + 1];
    child_[node] = static_cast<uint16_t>(2 * k);
    parent_[2 * k] = parent_[2 * k + 1] = static_cast<uint16_t>(node);
  }
  parent_[Root()] = kNoParent;
}

void AdaptiveHuffman::Attach(unsigned node) {
  const uint16_t c = child_[node];
  if (IsLeaf(c)) {
    leaf_[c & ~kLeaf] = static_cast<uint16_t>(node);
  } else {
    parent_[c] = parent_[c + 1] = static_cast<uint16_t>(node);
  }
}

void AdaptiveHuffman::Exchange(unsigned a, unsigned b) {
  std::swap(weight_[a], weight_[b]);
  std::swap(child_[a], child_[b]);
  Attach(a);
  Attach(b);
}

// The last node before the root lighter than `w`, the node after `node`
// being one. With the weights in order that is the end of the run of weight
// w - 1 that `node` left, which a hint remembers; the hint is only believed
// when the nodes around it show it is that end.
unsigned AdaptiveHuffman::LastLighter(unsigned node, uint32_t w) const {
  const unsigned root = Root();
  const unsigned hint = runEnd_[(w - 1) % kRunHints];
  if (hint > node && hint < root && weight_[hint] == w - 1 && (hint + 1 == root || weight_[hint + 1] >= w))
    return hint;
  unsigned last = node + 1;
  // Runs of equal weight are long (every leaf starts at 1), so they are
  // passed eight nodes at a time, without a branch per node.
  while (last + 8 < root) {
    const uint32_t* next = &weight_[last + 1];
    unsigned lighter = 0;
    for (unsigned k = 0; k < 8; ++k) lighter += next[k] < w;
    if (lighter != 8) break;
    last += 8;
  }
  while (last + 1 < root && weight_[last + 1] < w) ++last;
  return last;
}

void AdaptiveHuffman::Update(unsigned symbol) {
  const unsigned root = Root();
  if (weight_[root] > kMaxWeight) Rebuild();
  unsigned node = leaf_[symbol];
  while (node != root) {
    const uint32_t w = ++weight_[node];
    if (w > weight_[node + 1]) {
      // Move behind every node that is now lighter, keeping the order.
      const unsigned last = LastLighter(node, w);
      Exchange(node, last);
      // The node taken from `last` keeps the run of w - 1 going up to it.
      runEnd_[(w - 1) % kRunHints] = static_cast<uint16_t>(last - 1);
      node = last;
    }
    if (weight_[node + 1] != w) runEnd_[w % kRunHints] = static_cast<uint16_t>(node);
    node = parent_[node];
  }
  ++weight_[root];
}

// In place: pairs are taken from the front, each new internal node goes into
// the next free internal slot, after any lighter leaves pulled in front of it
// or, when earlier nodes are heavier, in front of them.
void AdaptiveHuffman::Rebuild() {
  const unsigned root = Root();
  for (unsigned n = 0; n <= root; ++n) {
    if (IsLeaf(child_[n])) weight_[n] = (weight_[n] + 1) / 2;
    parent_[n] = kUnassigned;
  }
  unsigned pair = 0;
  unsigned slot = 0;
  unsigned leavesLeft = leaves_;
  for (;;) {
    unsigned p = pair;
    while (p < root && parent_[p] != kUnassigned) ++p;
    if (p >= root) break;
    pair = p + 2;

    while (slot <= root) {
      if (!IsLeaf(child_[slot]) && parent_[slot] == kUnassigned) break;
      if (IsLeaf(child_[slot])) --leavesLeft;
      ++slot;
    }
    // A free slot is always left for each pair still to join.
    if (slot > root || slot == 0) break;

    const uint32_t f = weight_[p] + weight_[p + 1];
    unsigned at;
    unsigned next;
    if (f < weight_[slot - 1]) {
      at = slot;
      while (at > 0 && weight_[at - 1] > f) {
        weight_[at] = weight_[at - 1];
        child_[at] = child_[at - 1];
        Attach(at);
        --at;
      }
      next = slot + 1;
    } else {
      at = slot;
      unsigned scan = slot + 1;
      while (leavesLeft > 0) {
        while (scan <= root && !IsLeaf(child_[scan])) ++scan;
        if (scan > root || weight_[scan] >= f) break;
        weight_[at] = weight_[scan];
        child_[at] = child_[scan];
        parent_[at] = kUnassigned;
        Attach(at);
        child_[scan] = 0;  // an empty internal slot now
        parent_[scan] = kUnassigned;
        ++at;
        ++scan;
        --leavesLeft;
      }
      next = at + 1;
    }
    weight_[at] = f;
    child_[at] = static_cast<uint16_t>(p);
    parent_[p] = parent_[p + 1] = static_cast<uint16_t>(at);
    slot = next;
  }
  parent_[root] = kNoParent;
}

// ---------------------------------------------------------------------------
// Level table and length classes

namespace {

const LZBlockCoder::Level kLevelTable[LZBlockCoder::kLevels] = {
    {1, 8, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {1, 16, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {1, 32, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {2, 64, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {2, 128, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {2, 256, &LZBlockCoder::FlagMatch, &LZBlockCoder::FlagLiterals},
    {2, 64, &LZBlockCoder::HuffmanMatch, &LZBlockCoder::HuffmanLiterals},
    {2, 128, &LZBlockCoder::HuffmanMatch, &LZBlockCoder::HuffmanLiterals},
    {2, 256, &LZBlockCoder::HuffmanMatch, &LZBlockCoder::HuffmanLiterals},
};

} // namespace

const std::array<uint16_t, LZBlockCoder::kLengthClasses> LZBlockCoder::kLengthBase = {
    0, 1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129};
const std::array<uint8_t, LZBlockCoder::kLengthClasses> LZBlockCoder::kLengthExtra = {
    0, 0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 7};

const LZBlockCoder::Level& LZBlockCoder::LevelRow(int level) {
  return kLevelTable[std::clamp(level, 1, kLevels) - 1];
}

unsigned LZBlockCoder::LengthClass(unsigned length) {
  static const auto kClassOf = [] {
    std::array<uint8_t, kMaxMatch - kMinMatch + 1> table{};
    unsigned cls = 0;
    for (unsigned v = 0; v < table.size(); ++v) {
      while (cls + 1 < kLengthClasses && kLengthBase[cls + 1] <= v) ++cls;
      table[v] = static_cast<uint8_t>(cls);
    }
    return table;
  }();
  return kClassOf[length - kMinMatch];
}

// ---------------------------------------------------------------------------
// Flag-bit form

void LZBlockCoder::SetFlagForm(bool word, unsigned lengthShift, unsigned largestLength,
                               unsigned smallestRun) {
  word_ = word;
  lengthShift_ = std::min(lengthShift, 16u);
  largestLength_ = largestLength;
  smallestRun_ = std::max(smallestRun, kMinMatch);
  flags_ = 0;
  flagBit_ = 1;
  data_ = 0;
}

bool LZBlockCoder::Advance() {
  flagBit_ <<= 1;
  if (flagBit_ != 0) return true;
  return FinishBatch();
}

bool LZBlockCoder::FinishBatch() {
  if (flagBit_ == 1 && data_ == 0) return true;
  PutLE32(batch_.data(), flags_);
  const size_t size = size_t{4} + data_;
  flags_ = 0;
  flagBit_ = 1;
  data_ = 0;
  return out_.Write(batch_.data(), size) == size;
}

bool LZBlockCoder::Literal(uint8_t b) {
  if (word_ && !Advance()) return false;  // the first of two clear flags
  Byte(b);
  return Advance();
}

bool LZBlockCoder::FlagLiterals(const uint8_t* bytes, unsigned count) {
  consumed_ += count;
  // Runs longer than a length byte can say are split.
  while (count >= smallestRun_) {
    const unsigned run = std::min(count, kMaxMatch);
    if (!Advance()) return false;
    Flag(true);
    Byte(static_cast<uint8_t>(run - kMinMatch));
    std::copy(bytes, bytes + run, batch_.data() + 4 + data_);
    data_ += run;
    if (!Advance()) return false;
    bytes += run;
    count -= run;
  }
  for (unsigned i = 0; i < count; ++i) {
    if (!Literal(bytes[i])) return false;
  }
  return true;
}

bool LZBlockCoder::FlagMatch(unsigned length, unsigned distance) {
  if (length < kMinMatch || length > kMaxMatch || distance == 0) return false;
  const unsigned v = length - kMinMatch;
  if (!word_) {
    if (distance > 0xFF) return false;
    Flag(true);
    if (!Advance()) return false;
    const unsigned bits = v < 7 ? v : 7;
    for (unsigned i = 0; i < 3; ++i) {
      Flag((bits >> i) & 1);
      if (i < 2 && !Advance()) return false;
    }
    if (bits == 7) Byte(static_cast<uint8_t>(v));
    Byte(static_cast<uint8_t>(distance));
    return Advance();
  }
  if ((distance >> lengthShift_) != 0) return false;
  Flag(true);
  const unsigned field = v < largestLength_ ? v : largestLength_;
  PutLE16(batch_.data() + 4 + data_, static_cast<uint16_t>(distance | (field << lengthShift_)));
  data_ += 2;
  if (field == largestLength_) Byte(static_cast<uint8_t>(v));
  return Advance();
}

// ---------------------------------------------------------------------------
// Huffman form

void LZBlockCoder::SetHuffmanForm(unsigned symbols, unsigned firstLengthSymbol,
                                  unsigned distanceSymbols, unsigned lowDistanceBits) {
  literals_.Init(symbols);
  distances_.Init(distanceSymbols);
  firstLengthSymbol_ = firstLengthSymbol;
  distanceSymbols_ = distances_.Leaves();
  lowDistanceBits_ = std::min(lowDistanceBits, 16u);
  bitBuffer_ = 0;
  bitCount_ = 0;
  pendingCount_ = 0;
}

bool LZBlockCoder::FlushBytes() {
  const size_t n = pendingCount_;
  pendingCount_ = 0;
  return n == 0 || out_.Write(pending_.data(), n) == n;
}

bool LZBlockCoder::Bits(uint32_t value, unsigned count) {
  bitBuffer_ |= static_cast<uint64_t>(value) << bitCount_;
  bitCount_ += count;
  while (bitCount_ >= 16) {
    if (pendingCount_ + 2 > pending_.size() && !FlushBytes()) return false;
    PutLE16(pending_.data() + pendingCount_, static_cast<uint16_t>(bitBuffer_));
    pendingCount_ += 2;
    bitBuffer_ >>= 16;
    bitCount_ -= 16;
  }
  return true;
}

// The code is read from the leaf up, so the decision at the root ends in the
// lowest bit and goes out first.
bool LZBlockCoder::Code(AdaptiveHuffman& tree, unsigned symbol) {
  const unsigned root = tree.Root();
  unsigned node = tree.LeafOf(symbol);
  uint32_t code = 0;
  unsigned length = 0;
  while (node != root && length < 32) {
    const unsigned parent = tree.Parent(node);
    code = (code << 1) | (node - tree.Child(parent));
    ++length;
    node = parent;
  }
  bool ok;
  if (node == root) {
    ok = Bits(code, length);
  } else {
    // A code longer than 32 bits: collect it whole, then send it root first.
    std::vector<uint8_t> path;
    for (node = tree.LeafOf(symbol); node != root; node = tree.Parent(node))
      path.push_back(static_cast<uint8_t>(node - tree.Child(tree.Parent(node))));
    ok = true;
    for (size_t i = path.size(); ok && i-- > 0;) ok = Bits(path[i], 1);
  }
  tree.Update(symbol);
  return ok;
}

bool LZBlockCoder::HuffmanSymbol(unsigned symbol) {
  if (symbol >= literals_.Leaves()) return false;
  return Code(literals_, symbol);
}

bool LZBlockCoder::HuffmanLiterals(const uint8_t* bytes, unsigned count) {
  consumed_ += count;
  for (unsigned i = 0; i < count; ++i) {
    if (!Code(literals_, bytes[i])) return false;
  }
  return true;
}

bool LZBlockCoder::HuffmanMatch(unsigned length, unsigned distance) {
  if (length < kMinMatch || length > kMaxMatch || distance == 0) return false;
  const unsigned high = distance >> lowDistanceBits_;
  const unsigned cls = LengthClass(length);
  if (high >= distanceSymbols_ || firstLengthSymbol_ + cls >= literals_.Leaves()) return false;
  return Code(literals_, firstLengthSymbol_ + cls) &&
         Bits(length - kMinMatch - kLengthBase[cls], kLengthExtra[cls]) && Code(distances_, high) &&
         Bits(distance & ((1u << lowDistanceBits_) - 1), lowDistanceBits_);
}

bool LZBlockCoder::FinishBits() {
  if (bitCount_ > 0 && !Bits(0, 16 - bitCount_)) return false;
  return FlushBytes();
}

} // namespace Vak
