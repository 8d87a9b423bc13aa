#include "content/ChunkedList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "content/KUID.h"

namespace {

using Blocks = std::vector<std::vector<int>>;

// The block layout a list must have, kept as plain vectors: block i of the
// model is the i-th block of the ring from the first block.
template <unsigned N>
struct BlockModel {
  Blocks blocks;

  size_t Size() const {
    size_t n = 0;
    for (const auto& b : blocks) n += b.size();
    return n;
  }
  std::vector<int> Flat() const {
    std::vector<int> flat;
    for (const auto& b : blocks) flat.insert(flat.end(), b.begin(), b.end());
    return flat;
  }
  std::pair<size_t, size_t> Locate(size_t n) const {
    size_t b = 0;
    while (n >= blocks[b].size()) n -= blocks[b++].size();
    return {b, n};
  }

  void Append(int v) {
    if (blocks.empty() || blocks.back().size() == N) blocks.emplace_back();
    blocks.back().push_back(v);
  }
  void AddFirstFree(int v) {
    for (auto& b : blocks)
      if (b.size() < N) {
        b.push_back(v);
        return;
      }
    blocks.push_back({v});
  }
  void Insert(size_t n, int v) {
    if (n == Size()) return Append(v);
    auto [b, i] = Locate(n);
    if (blocks[b].size() == N) {
      if (i == 0) {
        if (b > 0 && blocks[b - 1].size() < N)
          blocks[b - 1].push_back(v);
        else
          blocks.insert(blocks.begin() + b, std::vector<int>{v});
        return;
      }
      const size_t keep = N / 2;
      std::vector<int> tail(blocks[b].begin() + keep, blocks[b].end());
      blocks[b].resize(keep);
      blocks.insert(blocks.begin() + b + 1, tail);
      if (i > keep) {
        ++b;
        i -= keep;
      }
    }
    blocks[b].insert(blocks[b].begin() + i, v);
  }
  void Erase(size_t n) {
    auto [b, i] = Locate(n);
    blocks[b][i] = blocks[b].back();
    blocks[b].pop_back();
    if (blocks[b].empty()) blocks.erase(blocks.begin() + b);
  }
  void EraseOrdered(size_t n) {
    auto [b, i] = Locate(n);
    blocks[b].erase(blocks[b].begin() + i);
    if (blocks[b].empty()) blocks.erase(blocks.begin() + b);
  }
};

template <typename List>
Blocks LayoutOf(const List& list) {
  Blocks layout;
  auto* first = list.FirstBlock();
  if (!first) return layout;
  auto* block = first;
  do {
    EXPECT_EQ(block->next->previous, block);
    layout.emplace_back(block->items, block->items + block->count);
    block = block->next;
  } while (block != first);
  return layout;
}

// Position of an iterator counted from Begin; the size for the end.
template <typename List>
size_t PositionOf(const List& list, const typename List::Iterator& it) {
  size_t n = 0;
  for (auto walk = list.Begin(); !walk.IsEnd(); walk.Next(), ++n)
    if (walk.item == it.item) return n;
  EXPECT_TRUE(it.IsEnd()) << "iterator not in the list";
  return n;
}

template <unsigned N>
void RunRandomOperations(uint32_t seed, int steps, size_t softLimit) {
  using List = ChunkedList<int, N>;
  SCOPED_TRACE(testing::Message() << "N=" << N << " seed=" << seed);
  std::mt19937 rng(seed);
  List list;
  BlockModel<N> model;
  int next = 0;
  auto pick = [&](size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(rng); };

  for (int step = 0; step < steps; ++step) {
    const size_t size = model.Size();
    const bool grow = size < softLimit;
    const unsigned op = static_cast<unsigned>(pick(grow ? 10 : 6));
    switch (op) {
      case 0: {  // erase, unordered
        if (!size) break;
        size_t n = pick(size);
        auto it = list.Erase(list.At(n));
        model.Erase(n);
        ASSERT_EQ(PositionOf(list, it), n);
        break;
      }
      case 1: {  // erase, ordered
        if (!size) break;
        size_t n = pick(size);
        auto it = list.EraseOrdered(list.At(n));
        model.EraseOrdered(n);
        ASSERT_EQ(PositionOf(list, it), n);
        break;
      }
      case 2: {  // remove by value, present or not
        int v = static_cast<int>(pick(static_cast<size_t>(next) + 2)) - 1;
        std::vector<int> flat = model.Flat();
        auto found = std::find(flat.begin(), flat.end(), v);
        ASSERT_EQ(list.Remove(v), found != flat.end());
        if (found != flat.end()) model.Erase(static_cast<size_t>(found - flat.begin()));
        break;
      }
      case 3: {
        int front = -1;
        ASSERT_EQ(list.PopFront(&front), size != 0);
        if (size) {
          ASSERT_EQ(front, model.Flat().front());
          model.EraseOrdered(0);
        }
        break;
      }
      case 4: {  // walk: At, Advance, Retreat
        if (!size) break;
        size_t n = pick(size);
        int64_t delta = static_cast<int64_t>(pick(2 * size + 3)) - static_cast<int64_t>(size) - 1;
        auto it = list.At(n);
        ASSERT_EQ(*it, model.Flat()[n]);
        it.Advance(delta);
        int64_t target = static_cast<int64_t>(n) + delta;
        if (target < 0 || target >= static_cast<int64_t>(size)) {
          ASSERT_TRUE(it.IsEnd());
        } else {
          ASSERT_EQ(*it, model.Flat()[static_cast<size_t>(target)]);
        }
        it = list.At(n);
        it.Retreat(delta);
        target = static_cast<int64_t>(n) - delta;
        if (target < 0 || target >= static_cast<int64_t>(size)) {
          ASSERT_TRUE(it.IsEnd());
        } else {
          ASSERT_EQ(*it, model.Flat()[static_cast<size_t>(target)]);
        }
        break;
      }
      case 5: {  // find
        int v = static_cast<int>(pick(static_cast<size_t>(next) + 1));
        std::vector<int> flat = model.Flat();
        auto found = std::find(flat.begin(), flat.end(), v);
        ASSERT_EQ(PositionOf(list, list.Find(v)), static_cast<size_t>(found - flat.begin()));
        break;
      }
      case 6:
      case 7: {
        int v = next++;
        auto it = list.Append(v);
        model.Append(v);
        ASSERT_EQ(*it, v);
        break;
      }
      case 8: {
        int v = next++;
        auto it = list.AddFirstFree(v);
        model.AddFirstFree(v);
        ASSERT_EQ(*it, v);
        break;
      }
      case 9: {  // insert before any position, the end included
        int v = next++;
        size_t n = pick(size + 1);
        auto it = list.Insert(list.At(n), v);
        model.Insert(n, v);
        ASSERT_EQ(*it, v);
        ASSERT_EQ(PositionOf(list, it), n);
        break;
      }
    }
    ASSERT_EQ(LayoutOf(list), model.blocks) << "after step " << step << " op " << op;
    ASSERT_EQ(list.Count(), model.Size());
    ASSERT_EQ(list.IsEmpty(), model.Size() == 0);
    if (step % 97 == 0) {
      List copy(list);
      ASSERT_EQ(LayoutOf(copy), model.blocks);
      std::vector<int> walked;
      for (int v : list) walked.push_back(v);
      ASSERT_EQ(walked, model.Flat());
    }
    if (step % 1500 == 1499) {
      list.Clear();
      model.blocks.clear();
      ASSERT_EQ(list.FirstBlock(), nullptr);
    }
  }
}

TEST(ChunkedListTest, RandomOperationsKeepTheBlockLayout) {
  RunRandomOperations<1>(1, 3000, 40);
  RunRandomOperations<2>(2, 3000, 60);
  RunRandomOperations<4>(3, 5000, 120);
  RunRandomOperations<13>(4, 6000, 250);
  RunRandomOperations<16>(5, 4000, 250);
  RunRandomOperations<125>(6, 4000, 600);
}

// Blocks of 13 filled as listed, then one insert before `position`.
TEST(ChunkedListTest, InsertIntoFullBlocks) {
  struct Case {
    const char* name;
    std::vector<unsigned> fill;  // item count of each block before
    unsigned position;           // flat position of the insert
    std::vector<unsigned> after;  // item count of each block after
    unsigned blockOfNew;
  };
  const std::vector<Case> cases = {
      {"position 3 splits 7 and 7", {13}, 3, {7, 7}, 0},
      {"position 9 splits 6 and 8", {13}, 9, {6, 8}, 1},
      {"position 6 stays in the first half", {13}, 6, {7, 7}, 0},
      {"position 7 goes to the new block", {13}, 7, {6, 8}, 1},
      {"position 12 goes to the new block", {13}, 12, {6, 8}, 1},
      {"front of a full first block: new first block", {13}, 0, {1, 13}, 0},
      {"end of the list appends a block", {13}, 13, {13, 1}, 1},
      {"front of a full block: end of a previous block with room", {5, 13}, 5, {6, 13}, 0},
      {"front of a full block behind a full block: new block between", {13, 13}, 13, {13, 1, 13}, 1},
      {"block with room: no split", {13, 10}, 15, {13, 11}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    using List = ChunkedList<int, 13>;
    List list;
    BlockModel<13> model;
    int v = 0;
    // Build the layout with appends and ordered erases from the back of a block.
    for (unsigned b = 0; b < c.fill.size(); ++b)
      for (unsigned i = 0; i < 13; ++i) {
        list.Append(v);
        model.Append(v++);
      }
    for (unsigned b = c.fill.size(); b-- > 0;)
      for (unsigned i = c.fill[b]; i < 13; ++i) {
        size_t n = 13 * b + c.fill[b];
        list.EraseOrdered(list.At(n));
        model.EraseOrdered(n);
      }
    const std::vector<int> before = model.Flat();
    auto it = list.Insert(list.At(c.position), -7);
    std::vector<unsigned> counts;
    for (const auto& block : LayoutOf(list)) counts.push_back(static_cast<unsigned>(block.size()));
    EXPECT_EQ(counts, c.after);
    std::vector<int> expected = before;
    expected.insert(expected.begin() + c.position, -7);
    std::vector<int> walked;
    for (int x : list) walked.push_back(x);
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(*it, -7);
    unsigned blockIndex = 0;
    for (auto* b = list.FirstBlock(); b != it.block; b = b->next) ++blockIndex;
    EXPECT_EQ(blockIndex, c.blockOfNew);
    EXPECT_EQ(it.first, list.FirstBlock());
  }
}

TEST(ChunkedListTest, KUIDBlocksStartAsNullKUIDs) {
  using List = ChunkedList<KUID, 128>;
  EXPECT_EQ(List::BlockBytes32(12), 1548u);
  List list;
  for (int i = 0; i < 128; ++i) list.Append(KUID(1, i, 0));
  EXPECT_EQ(list.FirstBlock()->next, list.FirstBlock());
  auto it = list.Append(KUID(1, 128, 0));
  ASSERT_NE(it.block, list.FirstBlock());
  EXPECT_EQ(it.Index(), 0u);
  for (unsigned i = 1; i < 128; ++i) EXPECT_TRUE(it.block->items[i].IsNull()) << i;
  EXPECT_EQ(list.Count(), 129u);
  // A vacated slot goes back to the null KUID.
  list.Erase(list.At(5));
  EXPECT_TRUE(list.FirstBlock()->items[127].IsNull());
  EXPECT_EQ(list.FirstBlock()->items[5], KUID(1, 127, 0));
  // KUIDs are found by all three fields.
  EXPECT_TRUE(list.Find(KUID(1, 7, 1)).IsEnd());
  EXPECT_EQ(*list.Find(KUID(1, 7, 0)), KUID(1, 7, 0));
}

TEST(ChunkedListTest, EmptyingTheListFreesEveryBlock) {
  ChunkedList<int, 4> list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_TRUE(list.Begin().IsEnd());
  EXPECT_FALSE(list.PopFront());
  EXPECT_FALSE(list.Remove(1));
  EXPECT_TRUE(list.Find(1).IsEnd());
  EXPECT_TRUE(list.At(0).IsEnd());

  list.Append(1);
  EXPECT_TRUE(list.Erase(list.Begin()).IsEnd());
  EXPECT_EQ(list.FirstBlock(), nullptr);

  list.Append(2);
  EXPECT_TRUE(list.EraseOrdered(list.Begin()).IsEnd());
  EXPECT_EQ(list.FirstBlock(), nullptr);

  list.Append(3);
  EXPECT_TRUE(list.Remove(3));
  EXPECT_EQ(list.FirstBlock(), nullptr);

  // Erasing the first block moves the list's start to the next block.
  for (int i = 0; i < 5; ++i) list.Append(i);
  for (int i = 0; i < 4; ++i) list.Erase(list.Begin());
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.FirstBlock()->next, list.FirstBlock());
  EXPECT_EQ(*list.Begin(), 4);
}

TEST(ChunkedListTest, WalksStopAtEitherEnd) {
  ChunkedList<int, 4> list;
  for (int i = 0; i < 10; ++i) list.Append(i);
  struct Case {
    uint64_t start;
    int64_t advance;
    int expected;  // -1 for the end
  };
  const std::vector<Case> cases = {
      {0, 9, 9}, {0, 10, -1}, {9, -9, 0}, {9, -10, -1}, {3, 4, 7}, {7, -4, 3},
      {0, INT64_MAX, -1}, {9, INT64_MIN, -1}, {5, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " advance " << c.advance);
    auto it = list.At(c.start);
    it.Advance(c.advance);
    if (c.expected < 0) {
      EXPECT_TRUE(it.IsEnd());
    } else {
      ASSERT_FALSE(it.IsEnd());
      EXPECT_EQ(*it, c.expected);
    }
    auto back = list.At(c.start);
    if (c.advance != INT64_MIN) {
      back.Retreat(-c.advance);
      EXPECT_EQ(back.item, it.item);
    }
  }
  EXPECT_TRUE(list.At(10).IsEnd());
  EXPECT_TRUE(list.At(UINT64_MAX).IsEnd());
  auto end = list.End();
  EXPECT_TRUE(end.Advance(1).IsEnd());
  EXPECT_TRUE(end.Retreat(1).IsEnd());
}

// Items with owners: every removal and the clear release them, a copy takes
// its own references.
TEST(ChunkedListTest, ItemsAreReleasedAndCopied) {
  auto a = std::make_shared<std::string>("a");
  auto b = std::make_shared<std::string>("b");
  auto c = std::make_shared<std::string>("c");
  using List = ChunkedList<std::shared_ptr<std::string>, 2>;
  {
    List list;
    list.Append(a);
    list.Append(b);
    list.Insert(list.Begin(), c);  // a new first block
    EXPECT_EQ(a.use_count(), 2);
    {
      List copy(list);
      EXPECT_EQ(a.use_count(), 3);
      EXPECT_EQ(*copy.Begin(), c);
      EXPECT_NE(copy.Begin().item, list.Begin().item);
    }
    EXPECT_EQ(a.use_count(), 2);
    list.Erase(list.Find(a));
    EXPECT_EQ(a.use_count(), 1);
    std::shared_ptr<std::string> front;
    EXPECT_TRUE(list.PopFront(&front));
    EXPECT_EQ(front, c);
    front.reset();
    EXPECT_EQ(c.use_count(), 1);
    list.Append(a);
    list = List();
    EXPECT_EQ(a.use_count(), 1);
    EXPECT_EQ(b.use_count(), 1);
    list.Append(b);
    list.Append(b);
    list.Append(b);
    EXPECT_EQ(b.use_count(), 4);
    List moved(std::move(list));
    EXPECT_EQ(list.FirstBlock(), nullptr);
    EXPECT_EQ(moved.Count(), 3u);
  }
  EXPECT_EQ(b.use_count(), 1);
}

}  // namespace
