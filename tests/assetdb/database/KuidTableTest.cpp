#include "assetdb/KuidTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "BlockBytes.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

using blocktest::AppendKuid;
using blocktest::Bytes;
using blocktest::ReadBlock;
using blocktest::WriteBlock;

const KUID A(1, 0, 0);
const KUID B(98, 0, 0);  // shares A's bucket
const KUID C(5, 6, 0);
const KUID D(7, 8, 1);
const KUID E(-4, 9, 127);
const KUID Null = KUID::Null();

using Triple = std::tuple<int, int, int, int, int, int, int, int, int>;
Triple AsTuple(const KuidTable::Entry& e) {
  return {e.key.user, e.key.content, e.key.version, e.target.user, e.target.content, e.target.version,
          e.resolved.user, e.resolved.content, e.resolved.version};
}
std::vector<Triple> Sorted(const std::vector<KuidTable::Entry>& entries) {
  std::vector<Triple> out;
  for (const KuidTable::Entry& e : entries) out.push_back(AsTuple(e));
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<KUID> Reverse(const KuidTable& table, const KUID& kuid) {
  KUIDList list;
  table.ReverseLookup(kuid, list);
  std::vector<KUID> out;
  for (const KUID& k : list) out.push_back(k);
  return out;
}

Bytes Block(uint32_t form, const std::vector<KUID>& kuids) {
  Bytes b;
  Vak::AppendLE32(b, form);
  for (const KUID& k : kuids) AppendKuid(b, k);
  return b;
}

TEST(KuidTableTest, NewLinkThroughAnExistingOneResolvesOneStep) {
  KuidTable table;
  ASSERT_TRUE(table.Insert(C, D));
  ASSERT_TRUE(table.Insert(A, C));
  EXPECT_EQ(table.Lookup(A), D);
  const std::vector<KuidTable::Entry> entries = table.EntriesByKey();
  const auto a = std::find_if(entries.begin(), entries.end(), [](const KuidTable::Entry& e) { return e.key == A; });
  ASSERT_NE(a, entries.end());
  EXPECT_EQ(a->target, C);
  EXPECT_EQ(a->resolved, D);
}

TEST(KuidTableTest, LinkFromATargetRepointsLinksEndingThere) {
  KuidTable table;
  ASSERT_TRUE(table.Insert(A, C));
  ASSERT_TRUE(table.Insert(B, C));
  ASSERT_TRUE(table.Insert(C, D));
  EXPECT_EQ(table.Lookup(A), D);
  EXPECT_EQ(table.Lookup(B), D);
  EXPECT_EQ(table.Lookup(C), D);
  EXPECT_TRUE(Reverse(table, C).empty());
  std::vector<KUID> to = Reverse(table, D);
  EXPECT_EQ(to.size(), 3u);
  for (const KUID& k : {A, B, C}) EXPECT_NE(std::find(to.begin(), to.end(), k), to.end());
}

TEST(KuidTableTest, RefusedLinksLeaveTheTableAsItWas) {
  struct Case {
    const char* name;
    KUID key, target;
  };
  const Case cases[] = {
      {"self link", B, B},
      {"target resolves back to key", D, A},
      {"through a chain", D, C},
      {"null key", Null, A},
      {"null target", A, Null},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KuidTable table;
    ASSERT_TRUE(table.Insert(A, D));
    ASSERT_TRUE(table.Insert(C, A));
    const std::vector<Triple> before = Sorted(table.EntriesByKey());
    EXPECT_FALSE(table.Insert(c.key, c.target));
    EXPECT_FALSE(table.InsertTriple(c.key, c.target, E));
    EXPECT_EQ(Sorted(table.EntriesByKey()), before);
    EXPECT_EQ(Sorted(table.EntriesByTarget()), before);
  }
}

TEST(KuidTableTest, SecondLinkForAKeyReplacesTheFirst) {
  KuidTable table;
  ASSERT_TRUE(table.Insert(A, C));
  ASSERT_TRUE(table.Insert(A, D));
  EXPECT_EQ(table.Count(), 1u);
  EXPECT_EQ(table.Lookup(A), D);
  EXPECT_TRUE(Reverse(table, C).empty());
  EXPECT_EQ(Reverse(table, D), std::vector<KUID>{A});
  // The key's own link is what its new target resolves through.
  ASSERT_TRUE(table.Insert(A, A));
  EXPECT_EQ(table.Count(), 1u);
  EXPECT_EQ(table.Lookup(A), D);
}

TEST(KuidTableTest, ResolveGivesTheKuidItselfWithoutALink) {
  KuidTable table;
  EXPECT_EQ(table.Resolve(A), A);
  ASSERT_TRUE(table.Insert(A, C));
  EXPECT_EQ(table.Resolve(A), C);
  EXPECT_EQ(table.Resolve(B), B);  // same bucket as A
  EXPECT_EQ(table.Resolve(Null), Null);
  EXPECT_EQ(table.Lookup(B), Null);
}

TEST(KuidTableTest, RemoveRepointAndClear) {
  KuidTable table;
  ASSERT_TRUE(table.Insert(A, D));
  ASSERT_TRUE(table.Insert(B, D));
  ASSERT_TRUE(table.Insert(C, E));

  table.Repoint(D, D);
  EXPECT_EQ(table.Lookup(A), D);
  table.Repoint(D, E);
  EXPECT_EQ(table.Lookup(A), E);
  EXPECT_EQ(table.Lookup(B), E);
  EXPECT_TRUE(Reverse(table, D).empty());
  EXPECT_EQ(Reverse(table, E).size(), 3u);
  EXPECT_EQ(Sorted(table.EntriesByKey()), Sorted(table.EntriesByTarget()));

  table.RemoveByKey(B);
  EXPECT_EQ(table.Lookup(B), Null);
  EXPECT_EQ(table.Lookup(A), E);
  EXPECT_EQ(Sorted(table.EntriesByKey()), Sorted(table.EntriesByTarget()));

  table.RemoveByTarget(E);
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_TRUE(table.EntriesByTarget().empty());

  ASSERT_TRUE(table.Insert(A, D));
  table.Clear();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Lookup(A), Null);
  ASSERT_TRUE(table.Insert(A, D));
  table.Destroy();
  EXPECT_EQ(table.Lookup(A), Null);
  EXPECT_TRUE(Reverse(table, D).empty());
  table.RemoveByKey(A);
  ASSERT_TRUE(table.Insert(A, D));
  EXPECT_EQ(table.Lookup(A), D);
}

// A plainly written model: key -> resolved target.
struct Model {
  std::map<std::tuple<int, int, int>, KUID> links;
  static std::tuple<int, int, int> T(const KUID& k) { return {k.user, k.content, k.version}; }
  bool Has(const KUID& k) const { return links.count(T(k)) != 0; }
  KUID End(KUID k) const {
    while (Has(k)) k = links.at(T(k));
    return k;
  }
  bool Insert(const KUID& key, const KUID& target) {
    if (key.IsNull() || target.IsNull()) return false;
    const KUID to = End(target);
    if (to == key) return false;
    for (auto& [k, v] : links)
      if (v == key) v = to;
    links[T(key)] = to;
    return true;
  }
  void RemoveByKey(const KUID& key) { links.erase(T(key)); }
  void RemoveByTarget(const KUID& target) {
    std::erase_if(links, [&](const auto& kv) { return kv.second == target; });
  }
};

void ExpectMatches(const KuidTable& table, const Model& model, const std::vector<KUID>& pool) {
  const std::vector<KuidTable::Entry> byKey = table.EntriesByKey();
  EXPECT_EQ(Sorted(byKey), Sorted(table.EntriesByTarget()));
  ASSERT_EQ(byKey.size(), model.links.size());
  for (const KuidTable::Entry& e : byKey) {
    EXPECT_TRUE(table.Lookup(e.resolved).IsNull()) << "a resolved target is a key";
    ASSERT_TRUE(model.Has(e.key));
  }
  for (const KUID& k : pool) {
    EXPECT_EQ(table.Lookup(k), model.Has(k) ? model.End(k) : Null);
    std::vector<KUID> got = Reverse(table, k);
    EXPECT_EQ(got.size(), static_cast<size_t>(std::count_if(model.links.begin(), model.links.end(),
                                                             [&](const auto& kv) { return kv.second == k; })));
    for (const KUID& key : got) EXPECT_EQ(table.Lookup(key), k);
  }
}

TEST(KuidTableTest, RandomInsertsAndRemovesFollowTheModel) {
  // Several KUIDs per bucket, negative users and versions, and the null KUID.
  const std::vector<KUID> pool = {A, B, KUID(195, 0, 0), C, D, E, KUID(2, 0, 0), KUID(99, 0, 0),
                                  KUID(-4, 9, 127), KUID(3, 1, 5), KUID(100, 1, 5), Null};
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    auto pick = [&] { return pool[rng() % pool.size()]; };
    KuidTable table;
    Model model;
    for (int step = 0; step < 200; ++step) {
      const KUID x = pick(), y = pick();
      switch (rng() % 6) {
        case 0:
        case 1:
          ASSERT_EQ(table.Insert(x, y), model.Insert(x, y));
          break;
        case 2:
          ASSERT_EQ(table.InsertTriple(x, y, pick()), model.Insert(x, y));
          break;
        case 3:
          table.RemoveByKey(x);
          model.RemoveByKey(x);
          break;
        case 4:
          table.RemoveByTarget(x);
          model.RemoveByTarget(x);
          break;
        case 5: {
          KuidTable copy;
          ASSERT_TRUE(ReadBlock(copy, WriteBlock(table)));
          ExpectMatches(copy, model, pool);
          break;
        }
      }
      ExpectMatches(table, model, pool);
      if (HasFatalFailure() || HasFailure()) return;
    }
  }
}

TEST(KuidTableTest, BlockRoundTrips) {
  KuidTable table;
  ASSERT_TRUE(table.Insert(A, C));
  ASSERT_TRUE(table.Insert(B, C));
  ASSERT_TRUE(table.Insert(C, D));
  ASSERT_TRUE(table.Insert(E, KUID(3, 1, 5)));
  const Bytes bytes = WriteBlock(table);
  KuidTable copy;
  ASSERT_TRUE(copy.Insert(D, E));  // a read starts from an empty table
  ASSERT_TRUE(ReadBlock(copy, bytes));
  std::vector<Triple> want;
  for (KuidTable::Entry e : table.EntriesByKey()) {
    e.target = e.resolved;  // pairs keep only the resolved target
    want.push_back(AsTuple(e));
  }
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Sorted(copy.EntriesByKey()), want);
  EXPECT_EQ(WriteBlock(copy), bytes);
}

TEST(KuidTableTest, StoredLayout) {
  KuidTable table;
  EXPECT_EQ(WriteBlock(table), Bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  // Written in key-index order: A's bucket (1) before C's (3).
  ASSERT_TRUE(table.Insert(C, D));
  ASSERT_TRUE(table.Insert(A, D));
  const Bytes expected = {
      0, 0, 0, 0,                                      // pairs
      8, 0, 0, 0, 7, 0, 0, 2,                          // D
      0, 0, 0, 0, 1, 0, 0, 0,                          // A
      8, 0, 0, 0, 7, 0, 0, 2,                          // D
      6, 0, 0, 0, 5, 0, 0, 0,                          // C
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // end
  };
  EXPECT_EQ(WriteBlock(table), expected);
}

TEST(KuidTableTest, WellFormedBlocks) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::tuple<KUID, KUID, KUID>> entries;  // key, named, resolved
  };
  const Case cases[] = {
      {"terminator at once", Block(0, {Null}), {}},
      {"terminator at once, triples", Block(7, {Null}), {}},
      {"bytes after the terminator are left", Block(0, {Null, A, B}), {}},
      {"pairs resolve again", Block(0, {C, A, D, C, Null}), {{A, C, D}, {C, D, D}}},
      {"triples keep the named target", Block(1, {C, A, E, D, C, B, Null}), {{A, E, D}, {C, B, D}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KuidTable table;
    ASSERT_TRUE(table.Insert(B, E));
    ASSERT_TRUE(ReadBlock(table, c.bytes));
    std::vector<Triple> want;
    for (const auto& [key, named, resolved] : c.entries) want.push_back(AsTuple({key, named, resolved}));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Sorted(table.EntriesByKey()), want);
    EXPECT_EQ(Sorted(table.EntriesByTarget()), want);
  }
}

TEST(KuidTableTest, MalformedBlocksFailAndLeaveTheTableEmpty) {
  const Bytes good = Block(0, {C, A, Null});
  const Bytes goodTriple = Block(1, {C, A, E, Null});
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::vector<Case> cases = {
      {"self link", Block(0, {A, A, Null})},
      {"null key", Block(0, {A, Null, Null})},
      {"link back to its key", Block(0, {B, A, A, B, Null})},
      {"triple self link", Block(1, {A, A, C, Null})},
      {"triple null key", Block(1, {A, Null, C, Null})},
  };
  // Every cut short of the terminator's last byte.
  for (size_t n = 0; n < good.size(); ++n) cases.push_back({"cut pairs", Bytes(good.begin(), good.begin() + n)});
  for (size_t n = 0; n < goodTriple.size(); ++n)
    cases.push_back({"cut triples", Bytes(goodTriple.begin(), goodTriple.begin() + n)});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.bytes.size());
    KuidTable table;
    ASSERT_TRUE(table.Insert(B, E));
    EXPECT_FALSE(ReadBlock(table, c.bytes));
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_TRUE(table.EntriesByTarget().empty());
    EXPECT_EQ(table.Lookup(A), Null);
  }
  KuidTable table;
  EXPECT_TRUE(ReadBlock(table, good));
  EXPECT_TRUE(ReadBlock(table, goodTriple));
}

}  // namespace
