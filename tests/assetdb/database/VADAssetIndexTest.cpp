#include "assetdb/VADAssetIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "assetdb/PersistentRecordList.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADDependencyTable.h"
#include "assetdb/VADServices.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/assetdb/database/QuietNetwork.h"

namespace {

using Vak::PString;

std::set<std::string> Keys(const KUIDList& list) {
  std::set<std::string> out;
  for (const KUID& kuid : list) out.insert(kuid.ToShortText().operator const char*());
  return out;
}

std::set<std::string> KeysOf(const KuidTable& table) {
  std::set<std::string> out;
  for (const KuidTable::Entry& entry : table.EntriesByKey()) out.insert(entry.key.ToShortText().operator const char*());
  return out;
}

class VADAssetIndexTest : public IndexFixture {};

TEST_F(VADAssetIndexTest, NewRecordsAndTheIndexStartAsDescribed) {
  const VADAssetInfo record;
  EXPECT_TRUE(record.kuid.IsNull());
  EXPECT_TRUE(record.mapKuid.IsNull());
  EXPECT_EQ(record.sizeOnDisk, -1);
  EXPECT_EQ(record.localRating, 255);
  EXPECT_EQ(record.permissions, 0x1C);
  EXPECT_EQ(record.flags | record.stateFlags | record.hasScripts, 0);
  EXPECT_EQ(record.build, 0.0f);
  EXPECT_EQ(gVadAssetIndex.latestBuild, 38841u);
  EXPECT_EQ(gVadAssetIndex.indexBuild, 38841u);
  EXPECT_EQ(gVadAssetIndex.BucketCount(), 4093u);
}

// Records made in one block are freed one by one, in any order; a copy of
// one is a record of its own.
TEST(VADAssetInfoBlockTest, RecordsOfABlockAndTheirCopiesAreFreedOneByOne) {
  VADAssetInfo* block = VADAssetInfo::MakeBlock(3);
  for (int i = 0; i < 3; ++i) {
    block[i].kuid = KUID(7, i + 1, 0);
    block[i].name = ("record " + std::to_string(i)).c_str();
  }
  auto* copy = new VADAssetInfo(block[1]);
  VADAssetInfo assigned;
  assigned = block[2];
  for (int i : {1, 0}) VADAssetInfo::Free(&block[i]);
  EXPECT_EQ(std::string(copy->name), "record 1");
  VADAssetInfo::Free(copy);
  auto* again = new VADAssetInfo(assigned);
  VADAssetInfo::Free(&block[2]);
  EXPECT_EQ(std::string(again->name), "record 2");
  VADAssetInfo::Free(again);
  EXPECT_EQ(VADAssetInfo::MakeBlock(0), nullptr);
  VADAssetInfo::Free(nullptr);
}

TEST_F(VADAssetIndexTest, AddRefusesTheNullKuidAndMergesLocations) {
  VADAssetInfo null;
  EXPECT_FALSE(gVadAssetIndex.Add(null));
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), 0u) << "a refused record changes nothing";

  const KUID kuid(42, 7, 0);
  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(kuid, "hash-01\\a")));
  VADAssetInfo editing;
  editing.kuid = kuid;
  editing.editingPath = "editing\\a";
  editing.flags = VADAssetInfo::kDownloadStation | VADAssetInfo::kInArchiveKnown;
  EXPECT_TRUE(gVadAssetIndex.Add(editing));
  VADAssetInfo* stored = gVadAssetIndex.Find(kuid);
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(stored->localPath, "local\\hash-01\\a");
  EXPECT_STREQ(stored->editingPath, "editing\\a");
  EXPECT_EQ(stored->Flags() & VADAssetInfo::kDownloadStation, VADAssetInfo::kDownloadStation);
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1u);

  // The same folder written with the other separator is no conflict.
  EXPECT_TRUE(gVadAssetIndex.Add(LocalRecord(kuid, "HASH-01/a")));
  EXPECT_FALSE(gVadAssetIndex.Add(LocalRecord(kuid, "hash-01\\b")));
  EXPECT_STREQ(stored->localPath, "local\\hash-01\\a");

  VADAssetInfo archived;
  archived.kuid = kuid;
  archived.archiveName = PString("base");
  archived.archivePath = "a";
  archived.flags = VADAssetInfo::kArchiveHeld;
  archived.stateFlags = VADAssetInfo::kBuiltIn;
  stored->UpdateFlags(0, VADAssetInfo::kInArchiveKnown);
  EXPECT_TRUE(gVadAssetIndex.Add(archived));
  EXPECT_EQ(stored->archiveName, PString("base"));
  EXPECT_EQ(stored->Flags() & (VADAssetInfo::kArchiveHeld | VADAssetInfo::kInArchiveKnown), VADAssetInfo::kArchiveHeld);
  EXPECT_TRUE(stored->IsBuiltIn());
}

TEST_F(VADAssetIndexTest, ArchiveBitsNeedAnArchivePath) {
  struct Case {
    const char* archivePath;
    uint8_t expectedFlags;
    uint8_t expectedState;
  };
  const Case cases[] = {{"", 0x01, 0x00}, {"folder", 0x81, 0x01}};
  int content = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archivePath);
    VADAssetInfo record;
    record.kuid = KUID(5, content++, 0);
    record.archivePath = c.archivePath;
    if (*c.archivePath) record.archiveName = PString("base");
    record.flags = VADAssetInfo::kArchiveHeld | VADAssetInfo::kFavourite;
    record.stateFlags = VADAssetInfo::kBuiltIn;
    VADAssetInfo* stored = gVadAssetIndex.Insert(record);
    EXPECT_EQ(stored->Flags(), c.expectedFlags);
    EXPECT_EQ(stored->StateFlags(), c.expectedState);
  }
}

TEST_F(VADAssetIndexTest, RecordLocationsAndTheirClears) {
  VADAssetInfo record;
  EXPECT_TRUE(record.SetLocalFolder(Root("local/hash-0A/content1/").c_str()));
  EXPECT_STREQ(record.localPath, "local\\hash-0A\\content1");
  EXPECT_STREQ(record.GetLocalFolder(), Root("local/hash-0A/content1").c_str());
  EXPECT_FALSE(record.SetLocalFolder("/elsewhere/local/x")) << "outside the root";
  EXPECT_FALSE(record.SetLocalFolder((Root("") + "/../x").c_str()));
  EXPECT_STREQ(record.localPath, "local\\hash-0A\\content1");

  EXPECT_TRUE(record.SetEditingFolder(Root("editing/e1").c_str()));
  EXPECT_STREQ(record.editingPath, "editing\\e1");
  EXPECT_NE(record.lastInstalled, 0);
  EXPECT_NE(record.firstInstalled, 0);

  record.archiveName = PString("base");
  record.archivePath = "x";
  record.flags = VADAssetInfo::kArchiveHeld;
  record.stateFlags = VADAssetInfo::kBuiltIn | VADAssetInfo::kFaulty;
  record.contentHash = 9;
  record.ClearArchiveLocation();
  EXPECT_TRUE(record.archiveName.IsNull());
  EXPECT_EQ(record.flags, 0);
  EXPECT_EQ(record.stateFlags, VADAssetInfo::kFaulty);
  EXPECT_EQ(record.contentHash, 9) << "the local folder keeps its hash";
  record.ClearLocalFolder();
  EXPECT_EQ(record.contentHash, 0);

  struct Legacy {
    const char* local;
    const char* archive;
    const char* expectedArchivePath;
    const char* expectedLocal;
  };
  const Legacy legacy[] = {
      {"local\\abc", "", "abc", ""},
      {"local\\", "", "", "local\\"},  // six characters: kept
      {"local\\abc", "kept", "kept", "local\\abc"},
  };
  for (const Legacy& c : legacy) {
    SCOPED_TRACE(c.local);
    VADAssetInfo r;
    r.localPath = c.local;
    r.archivePath = c.archive;
    r.FixLegacyLocalPath();
    EXPECT_STREQ(r.archivePath, c.expectedArchivePath);
    EXPECT_STREQ(r.localPath, c.expectedLocal);
    if (!*c.archive && *c.expectedArchivePath) {
      EXPECT_EQ(r.archiveName, PString("local"));
    }
  }
}

TEST_F(VADAssetIndexTest, ComputeSizeAndScriptsWalkTheFolder) {
  root_.WriteFile("local/a/one.bin", "12345");
  root_.WriteFile("local/a/sub/two.gs", "123");
  root_.WriteFile("local/b/x.txt", "1");
  VADAssetInfo record = LocalRecord(KUID(1, 1, 0), "a");
  EXPECT_EQ(record.ComputeSize(), 8);
  EXPECT_TRUE(VADFolderHasScripts(PString(), record.GetLocalFolder()));
  record = LocalRecord(KUID(1, 2, 0), "b");
  EXPECT_FALSE(VADFolderHasScripts(PString(), record.GetLocalFolder()));

  VADAssetInfo nowhere;
  EXPECT_EQ(nowhere.ComputeSize(), -1);
  EXPECT_EQ(nowhere.ComputeContentHash(), 1u);
  nowhere.stateFlags = VADAssetInfo::kBuiltIn;
  EXPECT_EQ(nowhere.ComputeSize(), 0);
}

TEST_F(VADAssetIndexTest, DisplayNameOrderIgnoresCaseAndPutsPrefixesFirst) {
  const char* names[] = {"ABD", "abc", "ab"};
  int content = 1;
  for (const char* name : names) {
    VADAssetInfo record;
    record.kuid = KUID(9, content++, 0);
    record.name = name;
    gVadAssetIndex.Insert(record);
  }
  gVadAssetIndex.SortByName();
  ASSERT_EQ(gVadAssetIndex.RecordCount(), 3u);
  EXPECT_STREQ(gVadAssetIndex.SortedAt(0)->name, "ab");
  EXPECT_STREQ(gVadAssetIndex.SortedAt(1)->name, "abc");
  EXPECT_STREQ(gVadAssetIndex.SortedAt(2)->name, "ABD");
}

// Names that differ only past their first 8 or 16 bytes, or end right
// there, names with bytes above 0x7F and the empty name, inserted in
// several orders, come out in one order.
TEST_F(VADAssetIndexTest, DisplayNameOrderAcrossLongSharedPrefixes) {
  const std::vector<std::string> expected = {
      "",
      "abcdefg",
      "abcdefgh",
      "abcdefgH\x01",
      "ABCDEFGHI",
      "abcdefghijklmno",
      "abcdefghijklmnop",
      "abcdefghijklmnoP1",
      "abcdefghijklmnopq",
      "abcdefghijklmnopq long tail a",
      "ABCDEFGHIJKLMNOPQ LONG TAIL B",
      "zebra",
      "\xE9t\xE9",
  };
  const std::vector<std::vector<int>> orders = {
      {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
      {5, 0, 12, 3, 9, 1, 7, 11, 2, 10, 4, 8, 6},
      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
  };
  for (const auto& order : orders) {
    gVadAssetIndex.Clear();
    int content = 1;
    for (int at : order) {
      VADAssetInfo record;
      record.kuid = KUID(9, content++, 0);
      // Half of them sort by the second name.
      if (at % 2) {
        record.name = "unused";
        record.secondaryName = expected[at].c_str();
      } else {
        record.name = expected[at].c_str();
      }
      gVadAssetIndex.Insert(record);
    }
    gVadAssetIndex.SortByName();
    ASSERT_EQ(gVadAssetIndex.RecordCount(), expected.size());
    for (uint32_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(std::string(gVadAssetIndex.SortedAt(i)->DisplayName()), expected[i]) << "at " << i;
  }
}

// The sort's quick path (a sorted run and a few records out of place) and
// its fall-back must both give the full order.
TEST_F(VADAssetIndexTest, SortByNameAfterFewOrManyChanges) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
  };
  auto expectSorted = [&](const char* label) {
    SCOPED_TRACE(label);
    for (uint32_t i = 1; i < gVadAssetIndex.RecordCount(); ++i)
      ASSERT_LE(lower(gVadAssetIndex.SortedAt(i - 1)->DisplayName().operator const char*()),
                lower(gVadAssetIndex.SortedAt(i)->DisplayName().operator const char*()))
          << "at " << i;
  };
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  int content = 1;
  auto add = [&](const std::string& name, const char* secondary = "") {
    VADAssetInfo record;
    record.kuid = KUID(3, content++, 0);
    record.name = name.c_str();
    record.secondaryName = secondary;
    gVadAssetIndex.Insert(record);
  };
  for (int i = 0; i < 600; ++i) add("Name " + std::to_string(next() % 100000));
  gVadAssetIndex.SortByName();
  expectSorted("from scratch");

  add("aaa first");
  add("zzz last");
  add("Name 5");
  add("ignored", "Name 50000");
  gVadAssetIndex.SortByName();
  expectSorted("a few appended");
  EXPECT_STREQ(gVadAssetIndex.SortedAt(0)->name, "aaa first");
  EXPECT_STREQ(gVadAssetIndex.SortedAt(gVadAssetIndex.RecordCount() - 1)->name, "zzz last");

  gVadAssetIndex.SortedAt(300)->name = "AA renamed";
  gVadAssetIndex.SortByName();
  expectSorted("one renamed in the middle");
  EXPECT_STREQ(gVadAssetIndex.SortedAt(0)->name, "AA renamed");

  for (int i = 0; i < 200; ++i) add("Late " + std::to_string(next() % 1000));
  gVadAssetIndex.SortByName();
  expectSorted("many appended");
}

TEST_F(VADAssetIndexTest, RecordAtWalksTheListInOrder) {
  for (int i = 0; i < 1500; ++i) {
    VADAssetInfo record;
    record.kuid = KUID(4, i + 1, 0);
    gVadAssetIndex.Insert(record);
  }
  std::vector<VADAssetInfo*> order;
  for (VADAssetInfo* record : gVadAssetIndex.Records()) order.push_back(record);
  for (uint64_t n = 0; n < order.size(); ++n) ASSERT_EQ(gVadAssetIndex.RecordAt(n), order[n]) << n;
  EXPECT_EQ(gVadAssetIndex.RecordAt(order.size()), nullptr);
  EXPECT_EQ(gVadAssetIndex.RecordAt(7), order[7]) << "going back starts over";
  EXPECT_EQ(gVadAssetIndex.RecordAt(1400), order[1400]);
  gVadAssetIndex.Remove(order[1401]->kuid);
  order.clear();
  for (VADAssetInfo* record : gVadAssetIndex.Records()) order.push_back(record);
  EXPECT_EQ(gVadAssetIndex.RecordAt(1401), order[1401]) << "a change forgets the cursor";
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1499u);
}

TEST_F(VADAssetIndexTest, TheTableGrowsAndStillFindsEveryRecord) {
  const int count = 4093 * VADAssetIndex::kMaxRecordsPerBucket + 50;
  for (int i = 0; i < count; ++i) {
    VADAssetInfo record;
    record.kuid = KUID(i % 7, i, 0);
    gVadAssetIndex.Insert(record);
  }
  EXPECT_GT(gVadAssetIndex.BucketCount(), 4093u);
  for (int i = 0; i < count; ++i) ASSERT_NE(gVadAssetIndex.Find(KUID(i % 7, i, 0)), nullptr) << i;
  EXPECT_EQ(gVadAssetIndex.Find(KUID(1, count + 1, 0)), nullptr);
  gVadAssetIndex.Clear();
  EXPECT_EQ(gVadAssetIndex.BucketCount(), 4093u);
}

TEST_F(VADAssetIndexTest, IsObsoleteRecomputesOnlyAfterTheGenerationMoves) {
  VADAssetInfo* record = gVadAssetIndex.Insert(LocalRecord(KUID(10, 1, 0), "a"));
  EXPECT_FALSE(record->IsObsolete());
  ASSERT_TRUE(gVadAssetIndex.TableA().Insert(KUID(10, 1, 0), KUID(10, 1, 1)));
  EXPECT_FALSE(record->IsObsolete()) << "the cached answer holds until the generation moves";
  gVadAssetIndex.RaiseObsoleteGeneration();
  EXPECT_TRUE(record->IsObsolete());
  gVadAssetIndex.TableA().RemoveByKey(KUID(10, 1, 0));
  EXPECT_TRUE(record->IsObsolete());
  gVadAssetIndex.RaiseObsoleteGeneration();
  EXPECT_FALSE(record->IsObsolete());
}

TEST_F(VADAssetIndexTest, UpToDateAndResolving) {
  VADAssetInfo* record = gVadAssetIndex.Insert(LocalRecord(KUID(11, 1, 0), "a"));
  EXPECT_TRUE(record->IsUpToDate());
  gVadAssetIndex.TableB().Insert(KUID(11, 1, 0), KUID(11, 1, 1));
  EXPECT_FALSE(record->IsUpToDate());
  EXPECT_EQ(gVadAssetIndex.ResolveThroughTableB(KUID(11, 1, 0)), KUID(11, 1, 1));

  gVadAssetIndex.TableA().Insert(KUID(11, 2, 0), KUID(11, 3, 0));
  EXPECT_EQ(VADResolveKuid(KUID(11, 2, 0)), KUID(11, 3, 0));
  EXPECT_EQ(VADResolveKuid(KUID(11, 9, 0)), KUID(11, 9, 0));
  EXPECT_TRUE(VADResolveKuid(KUID::Null()).IsNull());
  KUIDList list;
  list.Append(KUID(11, 2, 0));
  list.Append(KUID(11, 4, 0));
  gVadAssetIndex.ResolveKuidList(list);
  EXPECT_EQ(Keys(list), (std::set<std::string>{"11:3", "11:4"}));
}

TEST_F(VADAssetIndexTest, KuidFamily) {
  const KUID target(12, 1, 2);
  gVadAssetIndex.TableB().Insert(KUID(12, 1, 0), target);
  gVadAssetIndex.TableB().Insert(KUID(12, 1, 1), target);
  KUIDList family;
  gVadAssetIndex.CollectKuidFamily(KUID(12, 1, 0), family);
  EXPECT_EQ(Keys(family), (std::set<std::string>{"12:1", "12:1:1", "12:1:2"}));
  EXPECT_EQ(family.Count(), 3u) << "each KUID once";
  KUIDList alone;
  gVadAssetIndex.CollectKuidFamily(KUID(12, 5, 0), alone);
  EXPECT_EQ(Keys(alone), (std::set<std::string>{"12:5"}));
}

// The rules that pick the obsolete links of a record's config.
TEST_F(VADAssetIndexTest, ObsoleteLinksOfTheConfig) {
  struct Case {
    const char* label;
    KUID kuid;
    const char* table;  // the config's obsolete-table lines
    uint8_t flags;
    const char* build;
    bool installed;
    std::set<std::string> tableB;
    bool alsoTableA;
  };
  const char* mixed = "a <kuid2:100:5:7>\n b <kuid:200:1>\n c <kuid:100:6>\n d <kuid:100:6>\n";
  const Case cases[] = {
      {"same asset dropped, other users dropped, earlier versions added", KUID(100, 5, 3), mixed, 0x02, "3.1", true,
       {"100:5", "100:5:1", "100:5:2", "100:6"}, true},
      {"a negative user keeps other users and has no versions", KUID(-5, 5, 127), "a <kuid:200:1>\n b <kuid:-5:5>\n",
       0x02, "2.0", true, {"200:1"}, true},
      {"a user above the range has no earlier versions", KUID(0x2000000, 5, 2), "a <kuid:7:1>\n", 0x02, "2.0", true,
       {}, true},
      {"not locally enabled: table B only", KUID(100, 5, 1), mixed, 0x00, "2.0", true, {"100:5", "100:6"}, false},
      {"a build above 3.10: table B only", KUID(100, 5, 1), mixed, 0x02, "3.2", true, {"100:5", "100:6"}, false},
      {"no archive or local folder: table B only", KUID(100, 5, 1), mixed, 0x02, "2.0", false, {"100:5", "100:6"},
       false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    gVadAssetIndex.Clear();
    const std::string folder = "case" + std::to_string(n++);
    WriteConfig((c.installed ? "local/" : "editing/") + folder,
                std::string("kuid <kuid:1:1>\nobsolete-table\n{\n") + c.table + "}\n");
    VADAssetInfo source;
    source.kuid = c.kuid;
    source.flags = c.flags;
    source.build = std::stof(c.build);
    if (c.installed) {
      source.localPath = ("local\\" + folder).c_str();
    } else {
      source.editingPath = ("editing\\" + folder).c_str();
    }
    VADAssetInfo* record = gVadAssetIndex.Insert(source);
    const uint32_t generation = gVadAssetIndex.ObsoleteGeneration();
    gVadAssetIndex.AddObsoleteLinks(*record);
    EXPECT_GT(gVadAssetIndex.ObsoleteGeneration(), generation);
    EXPECT_EQ(KeysOf(gVadAssetIndex.TableB()), c.tableB);
    EXPECT_EQ(KeysOf(gVadAssetIndex.TableA()), c.alsoTableA ? c.tableB : std::set<std::string>{});
    for (const KuidTable::Entry& entry : gVadAssetIndex.TableB().EntriesByKey()) EXPECT_EQ(entry.target, c.kuid);
  }
}

// Removing a record's links gives the assets it had taken over their own
// links back.
TEST_F(VADAssetIndexTest, RemovingLinksRestoresThoseOfTheReplacedAssets) {
  WriteConfig("local/x", "obsolete-table\n{\n a <kuid:20:3>\n}\n");
  WriteConfig("local/r", "obsolete-table\n{\n a <kuid:20:1>\n}\n");
  VADAssetInfo* x = gVadAssetIndex.Insert(LocalRecord(KUID(20, 1, 0), "x"));
  VADAssetInfo* r = gVadAssetIndex.Insert(LocalRecord(KUID(20, 2, 0), "r"));
  gVadAssetIndex.AddObsoleteLinks(*x);
  gVadAssetIndex.AddObsoleteLinks(*r);
  EXPECT_EQ(gVadAssetIndex.TableB().Lookup(KUID(20, 3, 0)), KUID(20, 2, 0));
  gVadAssetIndex.RemoveObsoleteLinks(*r);
  EXPECT_TRUE(gVadAssetIndex.TableB().Lookup(KUID(20, 1, 0)).IsNull());
  EXPECT_EQ(gVadAssetIndex.TableB().Lookup(KUID(20, 3, 0)), KUID(20, 1, 0));

  gVadAssetIndex.Remove(KUID(20, 1, 0));
  EXPECT_EQ(gVadAssetIndex.Find(KUID(20, 1, 0)), nullptr);
  EXPECT_EQ(gVadAssetIndex.TableB().Count(), 0u);
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1u);
}

// A dependency is missing without a record or any location, faulty when
// its record has errors; the answers stay cached until a refresh of the
// record or of a dependency.
TEST_F(VADAssetIndexTest, CachedDependencyAnswersAreSetAndDropped) {
  VADDependencyTable& dependencies = VADDependencyTable::Instance();
  const KUID a(30, 1, 0), b(30, 2, 0), c(30, 3, 0);
  VADAssetInfo* ra = gVadAssetIndex.Insert(LocalRecord(a, "a"));
  KUIDList list;
  list.Append(b);
  dependencies.SetDependencies(a, list);
  gVadAssetIndex.Refresh(*ra, false);
  gVadAssetIndex.ClearDirtyFlags();

  EXPECT_TRUE(ra->HasMissingDependencies()) << "b has no record";
  EXPECT_FALSE(ra->HasFaultyDependencies());
  EXPECT_EQ(ra->StateFlags() & 0x66, VADAssetInfo::kMissingKnown | VADAssetInfo::kMissingAnswer |
                                         VADAssetInfo::kFaultyDepsKnown);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), VADAssetIndex::kDirtyDependencyAnswers);

  // A record of b with only a KUID still counts as missing; the cache holds
  // the answer until b is refreshed.
  VADAssetInfo nowhere;
  nowhere.kuid = b;
  VADAssetInfo* rb = gVadAssetIndex.Insert(nowhere);
  EXPECT_TRUE(ra->HasMissingDependencies());
  rb->localPath = "local\\b";
  rb->stateFlags = VADAssetInfo::kFaulty;
  EXPECT_TRUE(ra->HasMissingDependencies()) << "cached";
  gVadAssetIndex.Refresh(*rb, false);
  EXPECT_EQ(ra->StateFlags() & (VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown), 0)
      << "the dependant was refreshed";
  EXPECT_FALSE(ra->HasMissingDependencies());
  EXPECT_TRUE(ra->HasFaultyDependencies()) << "b has errors";

  // Resolved through table A: b is replaced by c, which is not there.
  gVadAssetIndex.TableA().Insert(b, c);
  gVadAssetIndex.Refresh(*ra, false);
  EXPECT_TRUE(ra->HasMissingDependencies());
  EXPECT_FALSE(ra->HasFaultyDependencies());

  // Without any location the answer is no, and nothing is cached.
  VADAssetInfo* rc = gVadAssetIndex.Insert(nowhere = VADAssetInfo());
  (void)rc;
  VADAssetInfo loose;
  loose.kuid = KUID(30, 9, 0);
  VADAssetInfo* rl = gVadAssetIndex.Insert(loose);
  dependencies.SetDependencies(loose.kuid, list);
  gVadAssetIndex.Refresh(*rl, false);
  EXPECT_FALSE(rl->HasMissingDependencies());
  EXPECT_EQ(rl->StateFlags() & VADAssetInfo::kMissingKnown, 0);
}

// Adding records reads their dependencies from the config; a dependency
// that arrives refreshes what depends on it.
TEST_F(VADAssetIndexTest, RefreshTakesTheDependenciesOfTheConfig) {
  WriteConfig("local/needs", "kuid <kuid:32:1>\nkuid-table\n{\n  0 <kuid:32:2>\n}\n");
  WriteConfig("local/needed", "kuid <kuid:32:2>\n");
  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(KUID(32, 1, 0), "needs")));
  KUIDList dependencies;
  VADDependencyTable::Instance().GetDependencies(KUID(32, 1, 0), dependencies);
  EXPECT_EQ(Keys(dependencies), (std::set<std::string>{"32:2"}));
  VADAssetInfo* needs = gVadAssetIndex.Find(KUID(32, 1, 0));
  EXPECT_EQ(needs->permissions & VADAssetInfo::kHasDependencies, VADAssetInfo::kHasDependencies);
  EXPECT_TRUE(needs->HasMissingDependencies());

  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(KUID(32, 2, 0), "needed")));
  EXPECT_EQ(needs->StateFlags() & VADAssetInfo::kMissingKnown, 0) << "the dependant's answer was dropped";
  EXPECT_FALSE(needs->HasMissingDependencies());
  EXPECT_EQ(gVadAssetIndex.Find(KUID(32, 2, 0))->permissions & VADAssetInfo::kHasDependants,
            VADAssetInfo::kHasDependants);
}

TEST_F(VADAssetIndexTest, AddRefreshesFromTheFolder) {
  root_.WriteFile("local/s/script.gs", "x");
  WriteConfig("local/s", "kuid <kuid:31:1>\n");
  ASSERT_TRUE(gVadAssetIndex.Add(LocalRecord(KUID(31, 1, 0), "s")));
  VADAssetInfo* record = gVadAssetIndex.Find(KUID(31, 1, 0));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->hasScripts, 1);
  EXPECT_TRUE(root_.Has("cache/libraries"));
  EXPECT_NE(record->contentHash, 0);
  EXPECT_NE(record->lastInstalled, 0);
  EXPECT_EQ(record->firstInstalled, record->lastInstalled);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, VADAssetIndex::kDirtyRecords);
  EXPECT_STREQ(record->keywordList, "s");
}

TEST_F(VADAssetIndexTest, CollectLocationsTreatsSeparatorsAndCaseAlike) {
  VADAssetInfo a = LocalRecord(KUID(40, 1, 0), "hash-01\\content1");
  a.editingPath = "editing\\Edit One";
  VADAssetInfo b;
  b.kuid = KUID(40, 2, 0);
  b.localPath = "local/hash-02/content2";
  b.archiveName = PString("builtin\\1");
  b.archivePath = "folder\\sub";
  gVadAssetIndex.Insert(a);
  gVadAssetIndex.Insert(b);
  VADLocationSet known;
  gVadAssetIndex.CollectLocations(known);
  EXPECT_EQ(known.Count(), 4u);
  struct Case {
    const char* source;
    const char* path;
    bool known;
  };
  const Case cases[] = {
      {"local", "hash-01/content1", true},  {"LOCAL", "HASH-01\\Content1", true},
      {"local", "hash-02\\content2", true}, {"editing", "edit one", true},
      {"builtin/1", "folder/sub/", true},   {"local", "hash-01", false},
      {"builtin\\1", "folder", false},       {"builtin", "folder/sub", false},
  };
  for (const Case& c : cases) EXPECT_EQ(known.Contains(c.source, c.path), c.known) << c.source << ":" << c.path;
}

TEST_F(VADAssetIndexTest, RebuiltFlagAndTimeMarker) {
  root_.WriteFile("assets.tdx", "index");
  gVadAssetIndex.SetRebuiltFlag(0);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), 0u);
  gVadAssetIndex.SetRebuiltFlag(1);
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), VADAssetIndex::kDirtyRebuilt);
  EXPECT_TRUE(root_.Has("assets.tdx")) << "the rebuilt flag does not demote the file";

  struct Case {
    int64_t marker;
    int64_t given;
    int64_t expected;
    uint32_t dirty;
  };
  const Case cases[] = {
      {-1, 500, -1, 0},
      {100, 500, 500, 0x09},
      {500, 100, 500, 0x09},
      {100, -1, 100, 0x09},
  };
  for (const Case& c : cases) {
    gVadAssetIndex.ClearDirtyFlags();
    gVadAssetIndex.SetTimeMarker(c.marker);
    gVadAssetIndex.RaiseTimeMarker(c.given);
    EXPECT_EQ(gVadAssetIndex.TimeMarker(), c.expected) << c.marker << " " << c.given;
    EXPECT_EQ(gVadAssetIndex.DirtyFlags(), c.dirty) << c.marker << " " << c.given;
  }
  gVadAssetIndex.SetTimeMarker(VADAssetIndex::kTimeMarkerUnset);
}

class RecordingNetwork : public QuietNetwork {
public:
  void ResetUserNames() override { events += "names;"; }
  void ReleaseDownloadTask(void* task) override { events += std::string(static_cast<const char*>(task)) + ";"; }
  void ResetThumbnailLookup() override { events += "thumbnails;"; }
  std::string events;
};

TEST_F(VADAssetIndexTest, ClearEmptiesEverythingAndLetsTheNetworkStateGo) {
  RecordingNetwork network;
  GetVADServices().network = &network;
  static const char first[] = "task1";
  static const char second[] = "task2";
  gVadAssetIndex.SetPendingDownloadTask(0, const_cast<char*>(first));
  gVadAssetIndex.SetPendingDownloadTask(1, const_cast<char*>(second));
  gVadAssetIndex.lookupKuid = KUID(1, 2, 0);
  gVadAssetIndex.lookupQueue.Append(KUID(1, 3, 0));
  gVadAssetIndex.settings.MakeContainer();
  gVadAssetIndex.globalData.MakeContainer();
  gVadAssetIndex.Insert(LocalRecord(KUID(50, 1, 0), "a"));
  gVadAssetIndex.TableA().Insert(KUID(50, 2, 0), KUID(50, 1, 0));
  gVadAssetIndex.TableB().Insert(KUID(50, 2, 0), KUID(50, 1, 0));
  KUIDList list;
  list.Append(KUID(50, 3, 0));
  VADDependencyTable::Instance().SetDependencies(KUID(50, 1, 0), list);
  PersistentRecordList::Global().Add();
  VADLog::Instance().AddEntry(nullptr, nullptr, "finished", VADLog::kPlain);
  VADLog::Entry* open = VADLog::Instance().BeginEntry(nullptr, "still running", nullptr, VADLog::kPlain);
  gVadAssetIndex.SetRebuiltFlag(1);

  gVadAssetIndex.Clear();
  GetVADServices().network = nullptr;
  EXPECT_EQ(network.events, "task1;task2;thumbnails;names;");
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u);
  EXPECT_EQ(gVadAssetIndex.Records().Count(), 0u);
  EXPECT_EQ(gVadAssetIndex.Find(KUID(50, 1, 0)), nullptr);
  EXPECT_EQ(gVadAssetIndex.TableA().Count() + gVadAssetIndex.TableB().Count(), 0u);
  EXPECT_EQ(VADDependencyTable::Instance().Count(), 0u);
  EXPECT_TRUE(PersistentRecordList::Global().Records().IsEmpty());
  EXPECT_TRUE(VADLog::Instance().FinishedList().IsEmpty());
  EXPECT_FALSE(VADLog::Instance().ActiveList().Find(open).IsEnd()) << "a running task keeps its entry";
  VADLog::Instance().EndEntry(open);
  VADLog::Instance().ClearFinished();
  EXPECT_EQ(gVadAssetIndex.PendingDownloadTask(0), nullptr);
  EXPECT_TRUE(gVadAssetIndex.lookupKuid.IsNull());
  EXPECT_TRUE(gVadAssetIndex.lookupQueue.IsEmpty());
  EXPECT_TRUE(gVadAssetIndex.settings.IsNull());
  EXPECT_TRUE(gVadAssetIndex.globalData.IsNull());
  EXPECT_EQ(gVadAssetIndex.DirtyFlags(), 0u);
  EXPECT_EQ(gVadAssetIndex.RebuiltFlag(), 0);
}

// A record freed by Clear may be followed by a new record at the same
// address; the config cache must not hand it the freed asset's config.
TEST_F(VADAssetIndexTest, ClearForgetsTheCachedConfig) {
  WriteConfig("local/first", "kuid <kuid:60:1>\nname first\n");
  WriteConfig("local/second", "kuid <kuid:60:2>\nname second\n");
  VADAssetInfo slot = LocalRecord(KUID(60, 1, 0), "first");
  EXPECT_EQ(GetRecordConfig(slot).GetChildString(PString("name")), PString("first"));
  gVadAssetIndex.Clear();
  // The same storage now holds another asset.
  slot = LocalRecord(KUID(60, 2, 0), "second");
  EXPECT_EQ(GetRecordConfig(slot).GetChildString(PString("name")), PString("second"));
}

TEST_F(VADAssetIndexTest, TheFirstChangeDemotesTheIndexFileOnce) {
  root_.WriteFile("assets.tdx", "current");
  root_.WriteFile("cache/assets.tdx", "older copy");
  root_.WriteFile("cache/assets.bku", "older backup");
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyRecords);
  EXPECT_FALSE(root_.Has("assets.tdx"));
  EXPECT_FALSE(root_.Has("cache/assets.tdx"));
  EXPECT_EQ(root_.ReadFile("cache/assets.bku"), "current");
  EXPECT_EQ(VADLock::PendingChangeFlags() & VADAssetIndex::kDirtyRecords, VADAssetIndex::kDirtyRecords);

  // Once written again, the next first change demotes the new file.
  root_.WriteFile("assets.tdx", "written");
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtySetting);
  EXPECT_TRUE(root_.Has("assets.tdx")) << "still the same round of changes";
  gVadAssetIndex.ClearDirtyFlags();
  gVadAssetIndex.MarkDirty(VADAssetIndex::kDirtyDependencyAnswers);
  EXPECT_FALSE(root_.Has("assets.tdx"));
  EXPECT_EQ(root_.ReadFile("cache/assets.bku"), "written");
  EXPECT_TRUE(VADDemoteDatabaseFile()) << "no root file: nothing to do";
}

// Readers under shared holds evaluate the cached tests of the same records
// at once: no cached bit may be lost, and the first markings must demote the
// index file once.
TEST_F(VADAssetIndexTest, ReadersUnderSharedHoldsShareTheCachedAnswers) {
  constexpr int kRecords = 300;
  constexpr int kThreads = 6;
  constexpr int kRounds = 20;
  VADDependencyTable& dependencies = VADDependencyTable::Instance();
  std::vector<VADAssetInfo*> records;
  for (int i = 0; i < kRecords; ++i) {
    VADAssetInfo* record = gVadAssetIndex.Insert(LocalRecord(KUID(70, i + 1, 0), "r" + std::to_string(i)));
    records.push_back(record);
    if (i % 3 == 0) gVadAssetIndex.TableA().Insert(record->kuid, KUID(71, i, 0));
  }
  for (int i = 0; i < kRecords; ++i) {
    KUIDList list;
    list.Append(KUID(70, (i * 7) % (kRecords + 40) + 1, 0));  // some of them have no record
    dependencies.SetDependencies(records[i]->kuid, list);
  }
  SharedLock& lock = VADLock::IndexLock();
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string content = "index " + std::to_string(round);
    root_.WriteFile("assets.tdx", content);
    gVadAssetIndex.ClearDirtyFlags();
    gVadAssetIndex.RaiseObsoleteGeneration();
    for (VADAssetInfo* record : records) gVadAssetIndex.Refresh(*record, false);

    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ASSERT_TRUE(lock.Acquire(false, -1));
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        // Each question of each record is asked once, by one of three
        // threads walking the same records side by side: a lost bit is
        // not put back by a later question.
        for (int i = t / 3; i < kRecords; i += 2) {
          VADAssetInfo* record = records[i];
          switch (t % 3) {
            case 0: record->IsObsolete(); break;
            case 1: record->HasMissingDependencies(); break;
            default: record->HasFaultyDependencies(); break;
          }
        }
        lock.Release();
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kRecords; ++i) {
      VADAssetInfo* record = records[i];
      const uint8_t state = record->StateFlags();
      const bool missing = VADIsDependencyMissing(KUID(70, (i * 7) % (kRecords + 40) + 1, 0));
      if (state & VADAssetInfo::kMissingKnown) {
        ASSERT_EQ((state & VADAssetInfo::kMissingAnswer) != 0, missing) << i;
      }
      if (record->obsoleteStamp == gVadAssetIndex.ObsoleteGeneration()) {
        ASSERT_EQ((state & VADAssetInfo::kObsolete) != 0, i % 3 == 0) << i;
      }
      // Every record was asked every question: all answers must be there.
      const uint8_t both = VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown;
      ASSERT_EQ(state & both, both) << "record " << i << " lost a cached answer";
      ASSERT_EQ(record->obsoleteStamp, gVadAssetIndex.ObsoleteGeneration()) << i;
    }
    EXPECT_FALSE(root_.Has("assets.tdx"));
    EXPECT_EQ(root_.ReadFile("cache/assets.bku"), content) << "the backup of this round survived";
    EXPECT_EQ(gVadAssetIndex.DirtyFlags(), VADAssetIndex::kDirtyDependencyAnswers);
  }
}

TEST_F(VADAssetIndexTest, DependencyTableSetsTheRecordFlags) {
  const KUID a(80, 1, 0), b(80, 2, 0);
  VADAssetInfo* ra = gVadAssetIndex.Insert(LocalRecord(a, "a"));
  VADAssetInfo* rb = gVadAssetIndex.Insert(LocalRecord(b, "b"));
  ra->stateFlags = VADAssetInfo::kMissingAnswer;
  KUIDList list;
  list.Append(b);
  VADDependencyTable::Instance().SetDependencies(a, list);
  EXPECT_EQ(rb->permissions & 0x03, VADAssetInfo::kHasDependants);
  EXPECT_EQ(rb->StateFlags() & 0x66, VADAssetInfo::kMissingKnown | VADAssetInfo::kFaultyDepsKnown)
      << "b needs nothing";
  EXPECT_EQ(ra->permissions & 0x03, VADAssetInfo::kHasDependencies);
  EXPECT_EQ(ra->StateFlags(), VADAssetInfo::kMissingAnswer) << "a needs something: its state stays";
  EXPECT_EQ(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, VADAssetIndex::kDirtyRecords);
}

TEST_F(VADAssetIndexTest, KeywordsFromNameKeywordsAndClasses) {
  VADAssetInfo record;
  record.name = "Big Engine";
  record.keywords = "steam;uk";
  record.categoryClasses = "TR;LOCO;ACTV";
  record.BuildKeywords();
  EXPECT_STREQ(record.keywordList, "big;engine;steam;uk;interactive;locomotive");
  record.secondaryName = "Other";
  record.categoryClasses = "TEND;ROLL";
  record.keywords = "";
  record.BuildKeywords();
  EXPECT_STREQ(record.keywordList, "other;tender;rollingstock");
}

} // namespace
