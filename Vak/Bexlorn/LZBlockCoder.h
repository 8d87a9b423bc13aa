#pragma once
// Output side of the kernel's LZ compressor: the level table and the routines
// that write matches and literals in the two stream forms. The flag-bit form
// (levels 1-6) groups items behind a 32-bit little-endian flag word; the
// Huffman form (levels 7-9) codes them with two adaptive Huffman trees into a
// bit stream written lowest bit first in 16-bit little-endian words. Finding
// matches is the caller's business.
#include <array>
#include <cstddef>
#include <cstdint>

namespace Vak {

// Adaptive Huffman tree over the nodes of one array kept in non-decreasing
// weight order; the children of an internal node are a neighbouring pair.
class AdaptiveHuffman {
public:
  static constexpr unsigned kMaxSymbols = 274;
  static constexpr unsigned kMaxNodes = 2 * kMaxSymbols - 1;
  // Child entry of a leaf: the mark plus its symbol.
  static constexpr uint16_t kLeaf = 0x8000;
  // The tree is rebuilt with halved leaf weights once the root passes this.
  static constexpr uint32_t kMaxWeight = 0x7FFF;

  // `symbols` (2 to kMaxSymbols) is rounded up to an even leaf count; every
  // leaf starts with weight 1.
  void Init(unsigned symbols);

  // Counts one occurrence of `symbol`, keeping the weight order.
  void Update(unsigned symbol);

  unsigned Root() const { return nodes_ - 1; }
  unsigned Leaves() const { return leaves_; }
  unsigned Nodes() const { return nodes_; }
  // First child of an internal node (the second is the one after it), or
  // kLeaf | symbol for a leaf.
  uint16_t Child(unsigned node) const { return child_[node]; }
  uint16_t Parent(unsigned node) const { return parent_[node]; }
  uint32_t Weight(unsigned node) const { return weight_[node]; }
  uint16_t LeafOf(unsigned symbol) const { return leaf_[symbol]; }

  // Rebuilds from halved leaf weights; Update does it when the root is heavy.
  void Rebuild();

private:
  unsigned LastLighter(unsigned node, uint32_t w) const;
  void Exchange(unsigned a, unsigned b);
  void Attach(unsigned node);  // points the children (or the symbol) at `node`

  unsigned leaves_ = 0;
  unsigned nodes_ = 0;
  std::array<uint32_t, kMaxNodes> weight_{};
  std::array<uint16_t, kMaxNodes> child_{};
  std::array<uint16_t, kMaxNodes> parent_{};
  std::array<uint16_t, kMaxSymbols> leaf_{};
  // Where the run of nodes of a weight ends, by weight modulo the count; a
  // guess to check, as weights change and rebuilds move nodes.
  static constexpr unsigned kRunHints = 256;
  std::array<uint16_t, kRunHints> runEnd_{};
};

class LZBlockCoder {
public:
  // Receives the coded bytes; returns how many it took.
  class Output {
  public:
    virtual size_t Write(const void* bytes, size_t count) = 0;

  protected:
    ~Output() = default;
  };

  using EmitMatch = bool (LZBlockCoder::*)(unsigned length, unsigned distance);
  using EmitLiterals = bool (LZBlockCoder::*)(const uint8_t* bytes, unsigned count);

  // One row of the level table: the window index, the match length at which
  // the search may stop, and the two routines of the level's form.
  struct Level {
    int window;
    int niceLength;
    EmitMatch emitMatch;
    EmitLiterals emitLiterals;
  };
  static constexpr int kLevels = 9;
  // Row of `level` (1 to 9).
  static const Level& LevelRow(int level);

  static constexpr unsigned kMinMatch = 3;
  static constexpr unsigned kMaxMatch = 258;
  // Data bytes one batch of the flag-bit form holds at most: 16 runs of 258.
  static constexpr unsigned kBatchData = 4144;

  // Length classes of the Huffman form: the first length of each class
  // (minus kMinMatch) and its count of extra bits.
  static constexpr unsigned kLengthClasses = 16;
  static const std::array<uint16_t, kLengthClasses> kLengthBase;
  static const std::array<uint8_t, kLengthClasses> kLengthExtra;
  // Class of a match length (kMinMatch to kMaxMatch).
  static unsigned LengthClass(unsigned length);

  explicit LZBlockCoder(Output& out) : out_(out) {}

  // Flag-bit form. Byte mode (word = false): lengths in three flags, a byte
  // escape and a distance byte. Word mode: a 16-bit word of distance and
  // length, the length field `lengthShift` bits up and `largestLength` its
  // escape value. Literal stretches of `smallestRun` bytes or more are runs.
  void SetFlagForm(bool word, unsigned lengthShift, unsigned largestLength, unsigned smallestRun);
  // Huffman form: the first tree has `symbols` symbols of which the length
  // classes start at `firstLengthSymbol`; the second codes distances shifted
  // right by `lowDistanceBits` over `distanceSymbols` symbols.
  void SetHuffmanForm(unsigned symbols, unsigned firstLengthSymbol, unsigned distanceSymbols,
                      unsigned lowDistanceBits);

  // The routines of the level table. Each returns false when an output write
  // fell short (the coder is then unusable) or, for a match, when its length
  // or distance cannot be coded in the form set up.
  bool FlagMatch(unsigned length, unsigned distance);
  bool FlagLiterals(const uint8_t* bytes, unsigned count);
  bool HuffmanMatch(unsigned length, unsigned distance);
  bool HuffmanLiterals(const uint8_t* bytes, unsigned count);

  // Codes one symbol of the first tree (the end-of-data symbol).
  bool HuffmanSymbol(unsigned symbol);
  // Writes the batch when it holds an item.
  bool FinishBatch();
  // Pads the bit stream with zero bits to a whole 16-bit word and writes it.
  bool FinishBits();

  // Input bytes the literal routines emitted.
  uint64_t Consumed() const { return consumed_; }

private:
  void Flag(bool set) {
    if (set) flags_ |= flagBit_;
  }
  bool Advance();
  void Byte(uint8_t b) { batch_[4 + data_++] = b; }
  bool Literal(uint8_t b);

  bool Code(AdaptiveHuffman& tree, unsigned symbol);
  bool Bits(uint32_t value, unsigned count);
  bool FlushBytes();

  Output& out_;
  uint64_t consumed_ = 0;

  // Flag-bit form.
  bool word_ = false;
  unsigned lengthShift_ = 0;
  unsigned largestLength_ = 7;
  unsigned smallestRun_ = 259;
  uint32_t flags_ = 0;
  uint32_t flagBit_ = 1;
  unsigned data_ = 0;
  std::array<uint8_t, 4 + kBatchData> batch_{};

  // Huffman form.
  uint64_t bitBuffer_ = 0;
  unsigned bitCount_ = 0;
  unsigned firstLengthSymbol_ = 256;
  unsigned distanceSymbols_ = 64;
  unsigned lowDistanceBits_ = 6;
  AdaptiveHuffman literals_;
  AdaptiveHuffman distances_;
  std::array<uint8_t, 256> pending_{};  // coded bytes not yet written
  unsigned pendingCount_ = 0;
};

} // namespace Vak
