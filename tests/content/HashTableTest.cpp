#include "content/HashTable.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "Vak/Bexlorn/Exception.h"

namespace {

// Keys hash to themselves, so small keys land in known buckets.
struct IntNode : Utils::IHashNode {
  explicit IntNode(int k, std::vector<int>* deleted = nullptr) : key(k), deletions(deleted) {}
  ~IntNode() override {
    if (deletions) deletions->push_back(key);
  }
  uint32_t Hash() const override { return static_cast<uint32_t>(key); }
  int Compare(const IHashNode& other) const override {
    int k = static_cast<const IntNode&>(other).key;
    return key < k ? -1 : key > k ? 1 : 0;
  }
  int key;
  std::vector<int>* deletions;
};

std::vector<int> Walk(const Utils::HashTable& table) {
  std::vector<int> keys;
  for (auto it = table.Begin(); !it.IsEnd(); it.Next()) keys.push_back(static_cast<IntNode*>(it.Node())->key);
  return keys;
}

// Order of a walk: buckets in index order, each chain in ascending order.
std::vector<int> ExpectedWalk(const std::set<int>& keys, unsigned buckets) {
  std::map<std::pair<unsigned, int>, int> ordered;
  for (int k : keys) ordered[{static_cast<uint32_t>(k) % buckets, k}] = k;
  std::vector<int> walk;
  for (const auto& entry : ordered) walk.push_back(entry.second);
  return walk;
}

TEST(HashTableTest, RandomInsertsAndLookUps) {
  for (unsigned buckets : {1u, 7u, 8191u}) {
    SCOPED_TRACE(testing::Message() << buckets << " buckets");
    std::mt19937 rng(buckets);
    std::uniform_int_distribution<int> keyOf(-300, 300);
    Utils::HashTable table(buckets);
    std::set<int> model;
    for (int step = 0; step < 3000; ++step) {
      int key = keyOf(rng);
      if (step % 2 == 0) {
        IntNode* node = new IntNode(key);
        bool inserted = table.Insert(node);
        ASSERT_EQ(inserted, model.insert(key).second) << key;
        if (!inserted) delete node;
      } else {
        IntNode probe(key);
        auto it = table.Find(probe);
        ASSERT_EQ(it.IsEnd(), !model.count(key)) << key;
        if (!it.IsEnd()) {
          EXPECT_EQ(static_cast<IntNode*>(it.Node())->key, key);
          EXPECT_EQ(it.bucket, static_cast<int>(static_cast<uint32_t>(key) % buckets));
          EXPECT_EQ(*it.link, it.Node());
        }
      }
      ASSERT_EQ(table.Count(), model.size());
      if (step % 250 == 0) {
        ASSERT_EQ(Walk(table), ExpectedWalk(model, buckets));
      }
    }
    ASSERT_EQ(Walk(table), ExpectedWalk(model, buckets));
    table.DeleteAllNodes();
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_TRUE(table.Begin().IsEnd());
    EXPECT_EQ(table.BucketCount(), buckets);
  }
}

TEST(HashTableTest, EqualNodeIsRefused) {
  Utils::HashTable table(7);
  std::vector<int> deleted;
  IntNode* first = new IntNode(9, &deleted);
  ASSERT_TRUE(table.Insert(first));
  ASSERT_TRUE(table.Insert(new IntNode(2, &deleted)));  // same bucket as 9
  IntNode duplicate(9);
  EXPECT_FALSE(table.Insert(&duplicate));
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(Walk(table), (std::vector<int>{2, 9}));
  EXPECT_EQ(table.Find(IntNode(9)).Node(), first);
  EXPECT_EQ(duplicate.next, nullptr);
  table.DeleteAllNodes();
}

TEST(HashTableTest, DeleteAllNodesGoesFromTheLastBucket) {
  Utils::HashTable table(5);
  std::vector<int> deleted;
  for (int k : {0, 5, 10, 1, 6, 3, 4, 14}) ASSERT_TRUE(table.Insert(new IntNode(k, &deleted)));
  table.DeleteAllNodes();
  EXPECT_EQ(deleted, (std::vector<int>{4, 14, 3, 1, 6, 0, 5, 10}));
  EXPECT_EQ(table.Count(), 0u);
  // The buckets stay and take nodes again.
  ASSERT_TRUE(table.Insert(new IntNode(3, &deleted)));
  EXPECT_EQ(table.Count(), 1u);
  table.DeleteAllNodes();
}

TEST(HashTableTest, FreedBucketsFindNothingAndRefuseInserts) {
  Utils::HashTable table(3);
  IntNode node(1);
  ASSERT_TRUE(table.Insert(&node));
  table.FreeBuckets();
  EXPECT_EQ(table.BucketCount(), 0u);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_TRUE(table.Begin().IsEnd());
  EXPECT_TRUE(table.Find(node).IsEnd());
  IntNode other(2);
  EXPECT_THROW(table.Insert(&other), Vak::Exception);
  table.FreeBuckets();  // twice is harmless
}

// A place given by the owner links without a walk when it holds, and takes
// the ordinary walk when it does not, so the chains keep their order.
TEST(HashTableTest, InsertAfterAGivenPlace) {
  struct Case {
    int previous;  // a key in the table, or 99 for none
    int key;
    bool inserted;
  };
  // 7 buckets; 2, 16, 30 share bucket 2, 3 sits in bucket 3.
  const Case cases[] = {
      {2, 9, true},    {30, 37, true},  {99, 0, true},   // the right place
      {99, 9, true},   {16, 9, true},   {2, 23, true},   // a wrong one
      {3, 9, true},                                      // another bucket
      {2, 2, false},   {2, 16, false},  {99, 2, false},  // equal nodes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "after " << c.previous << ": " << c.key);
    Utils::HashTable table(7);
    std::set<int> model{2, 16, 30, 3};
    std::vector<IntNode> nodes(model.begin(), model.end());
    for (IntNode& node : nodes) ASSERT_TRUE(table.Insert(&node));
    IntNode* previous = nullptr;
    for (IntNode& node : nodes)
      if (node.key == c.previous) previous = &node;
    IntNode added(c.key);
    EXPECT_EQ(table.InsertAfter(previous, &added), c.inserted);
    if (c.inserted) model.insert(c.key);
    EXPECT_EQ(table.Count(), model.size());
    EXPECT_EQ(Walk(table), ExpectedWalk(model, 7));
  }
}

TEST(HashTableTest, InsertAfterTheRightPlaceComparesOnlyWithTheNeighbours) {
  struct CountingNode : IntNode {
    CountingNode(int k, int* count) : IntNode(k), compares(count) {}
    int Compare(const IHashNode& other) const override {
      ++*compares;
      return IntNode::Compare(other);
    }
    int* compares;
  };
  Utils::HashTable table(1);
  std::vector<IntNode> chain;
  for (int k = 0; k < 2000; k += 2) chain.emplace_back(k);
  for (IntNode& node : chain) ASSERT_TRUE(table.InsertAfter(chain.front().key == node.key ? nullptr : &node - 1, &node));
  int compares = 0;
  CountingNode odd(1001, &compares);
  ASSERT_TRUE(table.InsertAfter(&chain[500], &odd));
  EXPECT_LE(compares, 2);
  EXPECT_EQ(odd.next, &chain[501]);
  EXPECT_EQ(table.Count(), 1001u);
}

}  // namespace
