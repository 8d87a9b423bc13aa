#include "Vak/Bexlorn/LZBlockCoder.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using Vak::AdaptiveHuffman;
using Vak::LZBlockCoder;

// Collects what the coder writes; can be told to take only so many bytes.
class Sink final : public LZBlockCoder::Output {
public:
  size_t Write(const void* bytes, size_t count) override {
    ++writes;
    const size_t n = std::min(count, room - data.size());
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), b, b + n);
    return n;
  }
  Bytes data;
  size_t room = SIZE_MAX;
  int writes = 0;
};

// The driver the compression interface would be: set up a form, run the
// level's routines, finish.
struct Driver {
  Sink sink;
  LZBlockCoder coder{sink};

  void ByteForm() { coder.SetFlagForm(false, 0, 7, 259); }
  void WordForm(unsigned windowBits) {
    coder.SetFlagForm(true, windowBits, (1u << (16 - windowBits)) - 1, 6);
  }
  void HuffmanForm(unsigned distanceSymbols, unsigned lowBits) {
    coder.SetHuffmanForm(273, 256, distanceSymbols, lowBits);
  }
  bool Literals(const Bytes& b) { return coder.FlagLiterals(b.data(), static_cast<unsigned>(b.size())); }
};

Bytes Le32(uint32_t v) {
  Bytes b;
  Vak::AppendLE32(b, v);
  return b;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Count(size_t n, uint8_t first = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

TEST(LZBlockCoderTest, LevelTable) {
  struct Row {
    int window, nice;
    bool huffman;
  };
  const Row rows[] = {{1, 8, false},  {1, 16, false}, {1, 32, false}, {2, 64, false}, {2, 128, false},
                      {2, 256, false}, {2, 64, true},  {2, 128, true}, {2, 256, true}};
  for (int level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    const LZBlockCoder::Level& row = LZBlockCoder::LevelRow(level);
    const Row& want = rows[level - 1];
    EXPECT_EQ(row.window, want.window);
    EXPECT_EQ(row.niceLength, want.nice);
    EXPECT_EQ(row.emitMatch, want.huffman ? &LZBlockCoder::HuffmanMatch : &LZBlockCoder::FlagMatch);
    EXPECT_EQ(row.emitLiterals, want.huffman ? &LZBlockCoder::HuffmanLiterals : &LZBlockCoder::FlagLiterals);
  }
}

// 32 flags fill a batch, which goes out at once with its flag word first; the
// 33rd flag opens the next one.
TEST(LZBlockCoderTest, BatchOf32FlagsThenANewOne) {
  Driver d;
  d.ByteForm();
  ASSERT_TRUE(d.Literals(Count(32, 1)));
  EXPECT_EQ(d.sink.data, Cat({Le32(0), Count(32, 1)}));
  ASSERT_TRUE(d.coder.FlagMatch(3, 1));
  EXPECT_EQ(d.sink.writes, 1);
  ASSERT_TRUE(d.coder.FinishBatch());
  EXPECT_EQ(d.sink.data, Cat({Le32(0), Count(32, 1), Le32(1), {1}}));
  ASSERT_TRUE(d.coder.FinishBatch());  // nothing left: no empty batch
  EXPECT_EQ(d.sink.writes, 2);
  EXPECT_EQ(d.coder.Consumed(), 32u);
}

TEST(LZBlockCoderTest, FlagItemsByteForm) {
  struct Case {
    const char* name;
    unsigned length, distance;
    uint32_t flags;
    Bytes data;
  };
  const Case cases[] = {
      {"length 3", 3, 5, 0x1, {5}},
      {"length 9 fits the flags", 9, 200, 0x1 | 0x0 << 1 | 0x2 << 1 | 0x4 << 1, {200}},
      {"length 10 needs the escape", 10, 1, 0xF, {7, 1}},
      {"length 258", 258, 255, 0xF, {255, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    d.ByteForm();
    ASSERT_TRUE(d.coder.FlagMatch(c.length, c.distance));
    ASSERT_TRUE(d.coder.FinishBatch());
    EXPECT_EQ(d.sink.data, Cat({Le32(c.flags), c.data}));
  }
}

// A match whose flags cross the end of a batch: the full batch goes out with
// the flags it holds and the match's bytes follow the next flag word.
TEST(LZBlockCoderTest, MatchFlagsCrossABatch) {
  Driver d;
  d.ByteForm();
  ASSERT_TRUE(d.Literals(Count(30, 0x40)));
  ASSERT_TRUE(d.coder.FlagMatch(10, 9));
  ASSERT_TRUE(d.coder.FinishBatch());
  EXPECT_EQ(d.sink.data, Cat({Le32(0xC0000000u), Count(30, 0x40), Le32(0x3), {7, 9}}));
}

TEST(LZBlockCoderTest, FlagItemsWordForm) {
  Driver d;
  d.WordForm(12);
  ASSERT_TRUE(d.coder.FlagMatch(17, 0x123));   // length field 14
  ASSERT_TRUE(d.coder.FlagMatch(18, 0xFFF));   // 15 is the escape
  ASSERT_TRUE(d.Literals({0xAA}));             // flags 0, 0
  ASSERT_TRUE(d.Literals(Count(6, 0x10)));     // a run: flags 0, 1
  ASSERT_TRUE(d.coder.FinishBatch());
  const uint32_t flags = 0x1 | 0x2 | 0x20;
  EXPECT_EQ(d.sink.data, Cat({Le32(flags), {0x23, 0xE1}, {0xFF, 0xFF, 15}, {0xAA}, {3}, Count(6, 0x10)}));

  Driver d14;
  d14.WordForm(14);
  ASSERT_TRUE(d14.coder.FlagMatch(5, 0x3FFF));  // length field 2
  ASSERT_TRUE(d14.coder.FlagMatch(6, 1));       // 3 is the escape
  ASSERT_TRUE(d14.coder.FinishBatch());
  EXPECT_EQ(d14.sink.data, Cat({Le32(0x3), {0xFF, 0xBF}, {0x01, 0xC0, 3}}));
}

// Stretches below the smallest run go one by one; long ones are cut into runs
// a length byte can say, however long the caller lets them get.
TEST(LZBlockCoderTest, LiteralStretches) {
  Driver d;
  d.WordForm(12);
  ASSERT_TRUE(d.Literals(Count(5)));
  ASSERT_TRUE(d.coder.FinishBatch());
  EXPECT_EQ(d.sink.data, Cat({Le32(0), Count(5)}));

  Driver big;
  big.WordForm(12);
  const Bytes stretch = Count(600, 7);
  ASSERT_TRUE(big.Literals(stretch));
  ASSERT_TRUE(big.coder.FinishBatch());
  // 258 + 258 + 84, each flags 0, 1.
  const Bytes want = Cat({Le32(0x2 | 0x8 | 0x20), {255}, Bytes(stretch.begin(), stretch.begin() + 258), {255},
                          Bytes(stretch.begin() + 258, stretch.begin() + 516), {81},
                          Bytes(stretch.begin() + 516, stretch.end())});
  EXPECT_EQ(big.sink.data, want);
  EXPECT_EQ(big.coder.Consumed(), 600u);

  // Sixteen full runs to a batch is the most a batch ever holds.
  Driver full;
  full.WordForm(12);
  ASSERT_TRUE(full.Literals(Bytes(258 * 40, 0x55)));
  ASSERT_TRUE(full.coder.FinishBatch());
  EXPECT_EQ(full.sink.data.size(), 258u * 40 + 40 + 4 * 3);
}

TEST(LZBlockCoderTest, FieldsOutsideTheFormAreRefused) {
  struct Case {
    const char* name;
    bool word;
    unsigned length, distance;
  };
  const Case cases[] = {
      {"length 2", false, 2, 1},    {"length 259", false, 259, 1}, {"distance 0", false, 3, 0},
      {"byte distance", false, 3, 256}, {"word distance", true, 3, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Driver d;
    if (c.word) d.WordForm(12); else d.ByteForm();
    EXPECT_FALSE(d.coder.FlagMatch(c.length, c.distance));
  }
  Driver h;
  h.HuffmanForm(64, 6);
  EXPECT_FALSE(h.coder.HuffmanMatch(259, 1));
  EXPECT_FALSE(h.coder.HuffmanMatch(3, 4096));  // high part 64 has no symbol
}

TEST(LZBlockCoderTest, ShortWritesFail) {
  Driver d;
  d.ByteForm();
  d.sink.room = 10;
  EXPECT_FALSE(d.Literals(Count(40)));

  Driver h;
  h.HuffmanForm(64, 6);
  h.sink.room = 1;
  EXPECT_FALSE(h.coder.HuffmanLiterals(Count(3).data(), 3) && h.coder.FinishBits());
}

TEST(LZBlockCoderTest, LengthClasses) {
  struct Case {
    unsigned length, cls, extraBits, extra;
  };
  const Case cases[] = {{3, 0, 0, 0},   {7, 4, 0, 0},   {8, 5, 1, 0},    {9, 5, 1, 1},   {10, 6, 1, 0},
                        {12, 7, 2, 0},  {19, 8, 2, 3},  {20, 9, 3, 0},   {35, 10, 3, 7}, {36, 11, 4, 0},
                        {67, 12, 4, 15}, {68, 13, 5, 0}, {131, 14, 5, 31}, {132, 15, 7, 0}, {258, 15, 7, 126}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const unsigned cls = LZBlockCoder::LengthClass(c.length);
    EXPECT_EQ(cls, c.cls);
    EXPECT_EQ(LZBlockCoder::kLengthExtra[cls], c.extraBits);
    EXPECT_EQ(c.length - 3 - LZBlockCoder::kLengthBase[cls], c.extra);
  }
}

// Hand-worked codes of the initial trees: literal 0 sits nine levels down the
// 274-leaf tree (root-first path 1,1,1,0,1,1,1,0,0); in the 16-leaf tree
// symbol 5 takes the path 0,1,0,1. Bits go out lowest first.
TEST(LZBlockCoderTest, HuffmanCodesOfTheInitialTrees) {
  Driver lit;
  lit.HuffmanForm(16, 4);
  const uint8_t zero = 0;
  ASSERT_TRUE(lit.coder.HuffmanLiterals(&zero, 1));
  ASSERT_TRUE(lit.coder.FinishBits());
  EXPECT_EQ(lit.sink.data, (Bytes{0x77, 0x00}));

  // Length 3 is symbol 256: leaf 256 -> 402 -> 475 -> 511 -> 529 -> 538 ->
  // 543 -> 545 -> root.
  Driver match;
  match.HuffmanForm(16, 4);
  ASSERT_TRUE(match.coder.HuffmanMatch(3, (5 << 4) | 0x9));
  ASSERT_TRUE(match.coder.FinishBits());
  // Root-first bits of symbol 256: 1,1,0,1,1,1,0,0; of distance symbol 5:
  // 0,1,0,1; then the low bits 1001 as they are.
  Bytes stream;
  Vak::AppendLE16(stream, 0x3B | 0xA << 8 | 0x9 << 12);
  EXPECT_EQ(match.sink.data, stream);
}

// Whatever the symbols, the tree keeps its order and links through updates
// and the rebuilds that halve it.
TEST(LZBlockCoderTest, AdaptiveTreeStaysWellFormed) {
  auto check = [](const AdaptiveHuffman& t) {
    const unsigned root = t.Root();
    uint64_t leafSum = 0;
    for (unsigned n = 0; n <= root; ++n) {
      if (n > 0) {
        ASSERT_LE(t.Weight(n - 1), t.Weight(n)) << "node " << n;
      }
      const uint16_t c = t.Child(n);
      if (c & AdaptiveHuffman::kLeaf) {
        const unsigned symbol = c & ~AdaptiveHuffman::kLeaf;
        ASSERT_LT(symbol, t.Leaves());
        ASSERT_EQ(t.LeafOf(symbol), n);
        ASSERT_GE(t.Weight(n), 1u);
        leafSum += t.Weight(n);
      } else {
        ASSERT_LT(c + 1u, n);
        ASSERT_EQ(t.Parent(c), n);
        ASSERT_EQ(t.Parent(c + 1), n);
        ASSERT_EQ(t.Weight(n), t.Weight(c) + t.Weight(c + 1));
      }
    }
    ASSERT_EQ(t.Weight(root), leafSum);
    ASSERT_LE(t.Weight(root), AdaptiveHuffman::kMaxWeight + 1);
  };
  struct Case {
    const char* name;
    unsigned symbols;
    int spread;  // 0 uniform, else geometric-like skew
  };
  const Case cases[] = {{"literals uniform", 273, 0}, {"literals skewed", 273, 3},
                        {"distances skewed", 64, 1}, {"small", 16, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AdaptiveHuffman tree;
    tree.Init(c.symbols);
    check(tree);
    std::mt19937 rng(c.symbols * 31 + static_cast<unsigned>(c.spread));
    std::geometric_distribution<unsigned> skew(c.spread ? 0.5 / c.spread : 0.5);
    for (int i = 0; i < 150000; ++i) {
      unsigned s = c.spread ? skew(rng) % c.symbols : rng() % c.symbols;
      if (i % 40000 > 30000) s = (i / 7) % c.symbols;  // change of mix
      tree.Update(s);
      if (i % 997 == 0 || tree.Weight(tree.Root()) > AdaptiveHuffman::kMaxWeight) {
        check(tree);
        if (testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

} // namespace

namespace {

// The update as first written: a leaf's weight goes up and the node moves
// behind every node now lighter, found by looking at each in turn. The tree's
// own update must make the very same moves, or coded streams change.
class PlainTree {
public:
  explicit PlainTree(const AdaptiveHuffman& t) : root_(t.Root()) {
    for (unsigned n = 0; n <= root_; ++n) {
      weight_.push_back(t.Weight(n));
      child_.push_back(t.Child(n));
      parent_.push_back(t.Parent(n));
    }
    for (unsigned s = 0; s < t.Leaves(); ++s) leaf_.push_back(t.LeafOf(s));
  }

  void Update(unsigned symbol) {
    unsigned node = leaf_[symbol];
    while (node != root_) {
      const uint32_t w = ++weight_[node];
      if (w > weight_[node + 1]) {
        unsigned last = node + 1;
        while (last + 1 < root_ && weight_[last + 1] < w) ++last;
        std::swap(weight_[node], weight_[last]);
        std::swap(child_[node], child_[last]);
        Attach(node);
        Attach(last);
        node = last;
      }
      node = parent_[node];
    }
    ++weight_[root_];
  }

  bool Same(const AdaptiveHuffman& t) const {
    for (unsigned n = 0; n <= root_; ++n)
      if (t.Weight(n) != weight_[n] || t.Child(n) != child_[n]) return false;
    return true;
  }

private:
  void Attach(unsigned node) {
    const uint16_t c = child_[node];
    if (c & AdaptiveHuffman::kLeaf) {
      leaf_[c & ~AdaptiveHuffman::kLeaf] = static_cast<uint16_t>(node);
    } else {
      parent_[c] = parent_[c + 1] = static_cast<uint16_t>(node);
    }
  }

  unsigned root_;
  std::vector<uint32_t> weight_;
  std::vector<uint16_t> child_;
  std::vector<uint16_t> parent_;
  std::vector<uint16_t> leaf_;
};

TEST(LZBlockCoderTest, UpdateMovesAsTheNodeByNodeSearch) {
  struct Case {
    const char* name;
    unsigned symbols;
    int spread;  // 0 uniform, else geometric-like skew
  };
  const Case cases[] = {{"literals uniform", 273, 0}, {"literals skewed", 273, 2},
                        {"distances uniform", 64, 0}, {"few symbols", 4, 1}, {"small uniform", 16, 0}, {"small skewed", 16, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AdaptiveHuffman tree;
    tree.Init(c.symbols);
    PlainTree plain(tree);
    std::mt19937 rng(c.symbols * 17 + static_cast<unsigned>(c.spread));
    std::geometric_distribution<unsigned> skew(c.spread ? 0.5 / c.spread : 0.5);
    for (int i = 0; i < 200000; ++i) {
      unsigned s = c.spread ? skew(rng) % c.symbols : rng() % c.symbols;
      if (i % 20000 > 15000) s = (i / 5) % c.symbols;  // change of mix
      if (tree.Weight(tree.Root()) > AdaptiveHuffman::kMaxWeight) {
        // Both go on from the same rebuilt tree.
        AdaptiveHuffman rebuilt = tree;
        rebuilt.Rebuild();
        plain = PlainTree(rebuilt);
      }
      tree.Update(s);
      plain.Update(s);
      if (i % 61 == 0 || i < 600) {
        ASSERT_TRUE(plain.Same(tree)) << "after update " << i;
      }
    }
    EXPECT_TRUE(plain.Same(tree));
  }
}

} // namespace
