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

}  // namespace
