#include "content/KUIDHashTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "Vak/Bexlorn/Exception.h"

namespace {

struct Record {
  KUID kuid;
  int id;
};

// A record whose KUID sits at its seventh 32-bit word.
struct OffsetRecord {
  int32_t words[6];
  KUID kuid;
};

using Key = std::tuple<int32_t, int32_t, int32_t>;
Key KeyOf(const KUID& k) { return {k.user, k.content, k.version}; }

std::vector<Record*> Walk(const KUIDHashTable& table) {
  std::vector<Record*> records;
  unsigned bucket = 0;
  for (auto it = table.Begin(); !it.IsEnd(); it.Next()) {
    EXPECT_GE(it.bucket, bucket) << "buckets in index order";
    bucket = it.bucket;
    EXPECT_EQ(it.bucket, KUIDHashTable::BucketIndex(it.Get<Record>()->kuid, table.BucketCount()));
    records.push_back(it.Get<Record>());
  }
  return records;
}

TEST(KUIDHashTableTest, BucketIndex) {
  struct Case {
    KUID kuid;
    unsigned buckets;
    unsigned index;
  };
  const std::vector<Case> cases = {
      {KUID(123, 456, 7), 97, 69},
      {KUID(123, 456, 7), 4093, 2437},
      {KUID(), 97, 96},                  // 0xFFFFFFFF ^ 0xFFFFFFE0 ^ 127 = 0x60
      {KUID(5, -2, 0), 97, 73},          // the shifted content id as unsigned
      {KUID(5, -2, 0), 4093, 2245},
      {KUID(0, 0x08000000, 0), 97, 0},   // bits shifted out of 32 are lost
      {KUID(-3, 0, 127), 97, static_cast<unsigned>((0xFFFFFFFDu ^ 127u) % 97)},
  };
  for (const Case& c : cases) EXPECT_EQ(KUIDHashTable::BucketIndex(c.kuid, c.buckets), c.index) << c.kuid.content;
}

// Random inserts, equal-key inserts and erases against a multimap of records.
TEST(KUIDHashTableTest, RandomOperations) {
  for (unsigned buckets : {1u, 97u, 4093u}) {
    SCOPED_TRACE(testing::Message() << buckets << " buckets");
    std::mt19937 rng(buckets);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    KUIDHashTable table(buckets);
    std::deque<Record> store;
    std::multimap<Key, Record*> model;
    for (int step = 0; step < 4000; ++step) {
      const int op = pick(0, model.size() > 400 ? 5 : 9);
      if (op <= 3) {  // erase at a random place of the walk
        if (model.empty()) continue;
        const std::vector<Record*> before = Walk(table);
        const size_t n = static_cast<size_t>(pick(0, static_cast<int>(before.size()) - 1));
        auto it = table.Begin();
        for (size_t i = 0; i < n; ++i) it.Next();
        Record* erased = it.Get<Record>();
        auto next = table.Erase(it);
        auto range = model.equal_range(KeyOf(erased->kuid));
        model.erase(std::find_if(range.first, range.second, [&](const auto& e) { return e.second == erased; }));
        const std::vector<Record*> after = Walk(table);
        ASSERT_EQ(after.size(), before.size() - 1);
        if (n == after.size()) {
          ASSERT_TRUE(next.IsEnd());
        } else {
          ASSERT_FALSE(next.IsEnd());
          ASSERT_EQ(next.Get<Record>(), after[n]);
        }
      } else if (op <= 5) {  // look-up, hit or miss
        KUID key(pick(-2, 40), pick(-1, 60), pick(0, 2) == 2 ? 127 : pick(0, 1));
        auto it = table.Find(key);
        if (!model.count(KeyOf(key))) {
          ASSERT_TRUE(it.IsEnd());
        } else {
          ASSERT_FALSE(it.IsEnd());
          // The first record with the key along the walk.
          for (Record* r : Walk(table))
            if (r->kuid == key) {
              ASSERT_EQ(it.Get<Record>(), r);
              break;
            }
        }
      } else {
        store.push_back({KUID(pick(-2, 40), pick(-1, 60), pick(0, 2) == 2 ? 127 : pick(0, 1)), step});
        Record* r = &store.back();
        auto it = op <= 7 ? table.Insert(r) : table.InsertEqual(r);
        ASSERT_EQ(it.Get<Record>(), r);
        model.emplace(KeyOf(r->kuid), r);
      }
      ASSERT_EQ(table.Count(), model.size());
      if (step % 101 == 0) {
        std::vector<Record*> walked = Walk(table), expected;
        for (const auto& e : model) expected.push_back(e.second);
        std::sort(walked.begin(), walked.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(walked, expected);
      }
    }
    table.Clear();
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_TRUE(table.Begin().IsEnd());
    EXPECT_TRUE(table.Find(store.front().kuid).IsEnd());
  }
}

// With InsertEqual alone, records of one KUID stay together, newest first,
// and Find gives the newest.
TEST(KUIDHashTableTest, EqualKeysStayTogetherNewestFirst) {
  std::mt19937 rng(11);
  KUIDHashTable table(7);
  std::deque<Record> store;
  std::map<Key, std::vector<Record*>> model;
  for (int i = 0; i < 2000; ++i) {
    KUID kuid(static_cast<int32_t>(rng() % 30), static_cast<int32_t>(rng() % 4), 0);
    store.push_back({kuid, i});
    table.InsertEqual(&store.back());
    auto& group = model[KeyOf(kuid)];
    group.insert(group.begin(), &store.back());
    ASSERT_EQ(table.Find(kuid).Get<Record>(), &store.back());
  }
  std::vector<Record*> walked = Walk(table);
  for (const auto& [key, group] : model) {
    auto start = std::find(walked.begin(), walked.end(), group.front());
    ASSERT_NE(start, walked.end());
    ASSERT_LE(group.size(), static_cast<size_t>(walked.end() - start));
    ASSERT_TRUE(std::equal(group.begin(), group.end(), start)) << std::get<0>(key) << ":" << std::get<1>(key);
  }
}

TEST(KUIDHashTableTest, InsertEqualOfTwoRecordsFindsTheLast) {
  KUIDHashTable table;
  EXPECT_EQ(table.BucketCount(), 97u);
  Record a{KUID(1, 2, 0), 1}, b{KUID(1, 2, 0), 2}, other{KUID(1, 3, 0), 3};
  table.InsertEqual(&other);
  table.InsertEqual(&a);
  table.InsertEqual(&b);
  EXPECT_EQ(table.Find(KUID(1, 2, 0)).Get<Record>(), &b);
  EXPECT_TRUE(table.Find(KUID(1, 2, 1)).IsEnd());
  table.Erase(table.Find(KUID(1, 2, 0)));
  EXPECT_EQ(table.Find(KUID(1, 2, 0)).Get<Record>(), &a);
  EXPECT_EQ(table.Count(), 2u);
}

TEST(KUIDHashTableTest, KeyAtTheSeventhWord) {
  KUIDHashTable table(4093, offsetof(OffsetRecord, kuid));
  std::vector<OffsetRecord> records(50);
  for (int i = 0; i < 50; ++i) {
    records[i].kuid = KUID(i, -i, 0);
    std::fill(std::begin(records[i].words), std::end(records[i].words), 77);
    table.Insert(&records[i]);
  }
  for (int i = 0; i < 50; ++i) EXPECT_EQ(table.Find(KUID(i, -i, 0)).Get<OffsetRecord>(), &records[i]);
  EXPECT_TRUE(table.Find(KUID(77, 77, 77)).IsEnd());
}

TEST(KUIDHashTableTest, NoBucketsIsRefused) { EXPECT_THROW(KUIDHashTable(0), Vak::Exception); }

}  // namespace
