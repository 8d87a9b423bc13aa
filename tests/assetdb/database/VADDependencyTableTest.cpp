#include "assetdb/VADDependencyTable.h"

#include "BlockBytes.h"
#include "assetdb/KuidTable.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"

namespace {

using Table = VADDependencyTable;

KUID K(int n) { return KUID(100, n, 0); }

KUIDList ListOf(std::initializer_list<KUID> kuids) {
  KUIDList list;
  for (const KUID& k : kuids) list.Append(k);
  return list;
}

std::vector<KUID> Items(const KUIDList& list) {
  std::vector<KUID> out;
  for (auto it = list.Begin(); !it.IsEnd(); ++it) out.push_back(*it);
  return out;
}

std::set<int> Contents(const KUIDList& list) {
  std::set<int> out;
  for (const KUID& k : Items(list)) out.insert(k.content);
  return out;
}

std::set<int> DependenciesOf(const Table& table, int n) {
  KUIDList list;
  table.GetDependencies(K(n), list);
  return Contents(list);
}

std::set<int> DependantsOf(const Table& table, int n, const KuidTable& replacements = KuidTable()) {
  KUIDList list;
  table.GetDependants(K(n), replacements, list);
  return Contents(list);
}

struct Flags {
  bool hasDependencies;
  bool hasDependants;
  bool operator==(const Flags&) const = default;
};

struct FakeRecords : VADDependencyRecords {
  std::set<int> known;       // content ids the index holds a record of
  std::map<int, Flags> flags;
  void SetDependencyFlags(const KUID& kuid, bool hasDependencies, bool hasDependants) override {
    if (known.count(kuid.content)) flags[kuid.content] = {hasDependencies, hasDependants};
  }
};

TEST(VADDependencyTableTest, KeepsBothDirectionsInStep) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::vector<int>>> sets;  // SetDependencies calls in order
    int asset;
    std::set<int> dependencies;
    std::set<int> dependants;
  };
  const Case cases[] = {
      {"an asset listing itself is its own dependant", {{1, {1, 2}}}, 1, {1, 2}, {1}},
      {"a replaced list leaves the old dependencies", {{1, {2, 3}}, {1, {3, 4}}}, 2, {}, {}},
      {"a dependency kept in the new list is added back", {{1, {2, 3}}, {1, {3, 4}}}, 3, {}, {1}},
      {"an empty list clears", {{1, {2}}, {1, {}}}, 2, {}, {}},
      {"several dependants", {{1, {3}}, {2, {3}}}, 3, {}, {1, 2}},
      {"a KUID never seen", {{1, {2}}}, 9, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table table;
    for (const auto& [asset, deps] : c.sets) {
      KUIDList list;
      for (int d : deps) list.Append(K(d));
      table.SetDependencies(K(asset), list);
    }
    EXPECT_EQ(DependenciesOf(table, c.asset), c.dependencies);
    EXPECT_EQ(DependantsOf(table, c.asset), c.dependants);
  }
}

TEST(VADDependencyTableTest, NullKUIDsAreIgnoredAndListsKeepWhatTheyHold) {
  Table table;
  table.SetDependencies(KUID::Null(), ListOf({K(1)}));
  EXPECT_EQ(table.Count(), 0u);
  table.SetDependencies(K(1), ListOf({KUID::Null(), K(2), K(2)}));
  EXPECT_EQ(DependenciesOf(table, 1), std::set<int>{2});

  KUIDList list = ListOf({K(2)});
  table.GetDependencies(K(1), list);
  EXPECT_EQ(Items(list).size(), 1u) << "no duplicate appended";
  table.GetDependencies(KUID::Null(), list);
  EXPECT_EQ(Items(list).size(), 1u);
}

TEST(VADDependencyTableTest, DependantsOfWhatAnAssetReplaces) {
  Table table;
  table.SetDependencies(K(10), ListOf({K(1)}));  // 10 needs the old asset 1
  table.SetDependencies(K(11), ListOf({K(2)}));  // 11 needs 2, which replaces 1
  table.SetDependencies(K(12), ListOf({K(3)}));  // unrelated
  KuidTable replacements;
  ASSERT_TRUE(replacements.Insert(K(1), K(2)));
  EXPECT_EQ(DependantsOf(table, 2, replacements), (std::set<int>{10, 11}));
  EXPECT_EQ(DependantsOf(table, 1, replacements), (std::set<int>{10, 11}));
  EXPECT_EQ(DependantsOf(table, 3, replacements), std::set<int>{12});
}

TEST(VADDependencyTableTest, RecordsGetFlagsFromTheFinalSets) {
  Table table;
  FakeRecords records;
  records.known = {1, 2, 3};
  table.SetRecords(&records);
  table.SetDependencies(K(2), ListOf({K(3)}));
  table.SetDependencies(K(1), ListOf({K(2), K(7)}));  // 7 has no record
  EXPECT_EQ(records.flags[1], (Flags{true, false}));
  EXPECT_EQ(records.flags[2], (Flags{true, true}));
  EXPECT_EQ(records.flags[3], (Flags{false, true}));
  EXPECT_EQ(records.flags.count(7), 0u);

  table.SetDependencies(K(1), KUIDList());
  EXPECT_EQ(records.flags[1], (Flags{false, false}));
}

TEST(VADDependencyTableTest, RandomEditsKeepTheInvariant) {
  std::mt19937 rng(7);
  Table table;
  for (int round = 0; round < 400; ++round) {
    KUIDList list;
    const int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) list.Append(K(static_cast<int>(rng() % 30)));
    table.SetDependencies(K(static_cast<int>(rng() % 30)), list);
  }
  for (auto it = table.Table().Begin(); !it.IsEnd(); ++it) {
    const auto& a = static_cast<const Table::DependencyInfo&>(*it.Node());
    for (const Table::DependencyInfo* b : a.dependencies) EXPECT_TRUE(b->dependants.count(const_cast<Table::DependencyInfo*>(&a)));
    for (const Table::DependencyInfo* b : a.dependants) EXPECT_TRUE(b->dependencies.count(const_cast<Table::DependencyInfo*>(&a)));
  }
}

using blocktest::AppendKuid;
using blocktest::Bytes;
using blocktest::ReadBlock;
using blocktest::WriteBlock;

TEST(VADDependencyTableTest, BlockLayoutAndRoundTrip) {
  Table table;
  table.SetDependencies(K(1), ListOf({K(2)}));
  Bytes expected;
  Vak::AppendLE16(expected, 1);
  Vak::AppendLE32(expected, 2);
  // Bucket order: 100 ^ (2 << 5) = 36 comes before 100 ^ (1 << 5) = 68.
  for (const auto& [self, deps, dependants] : {std::tuple{K(2), std::vector<KUID>{}, std::vector<KUID>{K(1)}},
                                                std::tuple{K(1), std::vector<KUID>{K(2)}, std::vector<KUID>{}}}) {
    AppendKuid(expected, self);
    Vak::AppendLE32(expected, static_cast<uint32_t>(deps.size()));
    for (const KUID& k : deps) AppendKuid(expected, k);
    Vak::AppendLE32(expected, static_cast<uint32_t>(dependants.size()));
    for (const KUID& k : dependants) AppendKuid(expected, k);
  }
  const Bytes bytes = WriteBlock(table);
  EXPECT_EQ(bytes, expected);

  Table again;
  ASSERT_TRUE(ReadBlock(again, bytes));
  EXPECT_EQ(WriteBlock(again), bytes);
  EXPECT_EQ(DependantsOf(again, 2), std::set<int>{1});
}

// A block in another order than the table's own (as another writer may
// leave it): saved without a question it goes back as read; after one, in the
// table's order, with the same answers either way.
TEST(VADDependencyTableTest, BlockNeverAskedIsWrittenBackAsRead) {
  Bytes stored;
  Vak::AppendLE16(stored, 1);
  Vak::AppendLE32(stored, 2);
  for (const auto& [self, deps, dependants] : {std::tuple{K(1), std::vector<KUID>{K(2)}, std::vector<KUID>{}},
                                               std::tuple{K(2), std::vector<KUID>{}, std::vector<KUID>{K(1)}}}) {
    AppendKuid(stored, self);
    Vak::AppendLE32(stored, static_cast<uint32_t>(deps.size()));
    for (const KUID& k : deps) AppendKuid(stored, k);
    Vak::AppendLE32(stored, static_cast<uint32_t>(dependants.size()));
    for (const KUID& k : dependants) AppendKuid(stored, k);
  }
  Table reference;
  reference.SetDependencies(K(1), ListOf({K(2)}));

  Table table;
  ASSERT_TRUE(ReadBlock(table, stored));
  EXPECT_EQ(WriteBlock(table), stored);
  EXPECT_EQ(DependantsOf(table, 2), std::set<int>{1});
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(WriteBlock(table), WriteBlock(reference));
}

TEST(VADDependencyTableTest, MalformedBlocksFailAndLeaveTheTableEmpty) {
  Table source;
  source.SetDependencies(K(1), ListOf({K(2), K(3)}));
  const Bytes good = WriteBlock(source);

  Bytes version2 = good;
  version2[0] = 2;
  Bytes zero;
  Vak::AppendLE16(zero, 1);
  Vak::AppendLE32(zero, 0);
  Bytes hugeCount(good.begin(), good.begin() + 2);
  Vak::AppendLE32(hugeCount, 0xFFFFFFFFu);

  Table table;
  EXPECT_TRUE(ReadBlock(table, zero));
  EXPECT_EQ(table.Count(), 0u);
  for (const Bytes& bad : {version2, hugeCount, Bytes()}) {
    table.SetDependencies(K(5), ListOf({K(6)}));
    EXPECT_FALSE(ReadBlock(table, bad));
    EXPECT_EQ(table.Count(), 0u);
  }
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(ReadBlock(table, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))));
    EXPECT_EQ(table.Count(), 0u);
  }
}

// Read where a view holds the bytes or from a copy of a stream's rest, a
// block gives the same table and leaves the stream just after it; a cut
// block fails either way.
TEST(VADDependencyTableTest, InPlaceAndCopiedReadsAgreeAndStopAfterTheBlock) {
  Table source;
  source.SetDependencies(K(1), ListOf({K(2), K(3)}));
  source.SetDependencies(K(4), ListOf({K(1)}));
  const Bytes block = WriteBlock(source);
  Bytes followed = block;
  Vak::AppendLE32(followed, 0xC0FFEEu);
  const auto asView = [](const Bytes& b) {
    return std::unique_ptr<TStream>(new TView(b.data(), static_cast<uint32_t>(b.size())));
  };
  const auto asBuffer = [](const Bytes& b) {
    auto stream = std::make_unique<TBuffer>();
    stream->GetBuffer().Write(b.data(), static_cast<uint32_t>(b.size()));
    stream->GetBuffer().SetPosition(0);
    return std::unique_ptr<TStream>(std::move(stream));
  };
  for (const auto& make : {std::function<std::unique_ptr<TStream>(const Bytes&)>(asView), std::function<std::unique_ptr<TStream>(const Bytes&)>(asBuffer)}) {
    Table table;
    const std::unique_ptr<TStream> stream = make(followed);
    ASSERT_TRUE(table.Read(*stream));
    EXPECT_EQ(stream->ReadInt(), 0xC0FFEEu);
    EXPECT_EQ(WriteBlock(table), block);
    EXPECT_EQ(DependantsOf(table, 1), std::set<int>{4});
    const Bytes cut(block.begin(), block.end() - 1);
    EXPECT_FALSE(table.Read(*make(cut)));
    EXPECT_EQ(table.Count(), 0u);
  }
}

} // namespace
