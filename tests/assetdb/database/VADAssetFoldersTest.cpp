#include "assetdb/VADAssetFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "content/ACSChunk.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using Vak::PString;

// The entries directly in a folder, sorted.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AssetFolderVectorsTest, LocalHashBuckets) {
  struct Case {
    KUID kuid;
    uint8_t bucket;
  };
  const Case cases[] = {
      {KUID(123, 456, 0), 0xB2},
      {KUID(7, 7, 0), 0x00},
      {KUID(0x12345, 0x12345, 0), 0x00},
      // Bits above 16 fold down: (0x10000 ^ 0) ^ 1 = 0x10001, then 0x00 ^ 0x01.
      {KUID(0x10000, 0, 0), 0x01},
  };
  for (const Case& c : cases) EXPECT_EQ(LocalHashBucket(c.kuid), c.bucket) << c.kuid.ToConfigText().c_str();
}

TEST(AssetFolderVectorsTest, BlockChecksums) {
  struct Case {
    std::vector<uint8_t> bytes;
    BlockChecksum expected;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, {0, 0}},
      {{}, {0, 0}},
      // Only the whole first word counts: 1, rotated to 2.
      {{1, 0, 0, 0, 0xAA, 0xBB}, {2, 4}},
      // 0x40000000 rotates to 0x80000001; the next step loses bit 31.
      {{0, 0, 0, 0x40, 0, 0, 0, 0}, {2, 8}},
      // A sum of 0 is given as 1.
      {{0, 0, 0, 0, 0, 0, 0, 0}, {1, 8}},
  };
  for (const Case& c : cases) {
    const BlockChecksum got = ComputeBlockChecksum(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    EXPECT_EQ(got.sum, c.expected.sum) << c.bytes.size() << " bytes";
    EXPECT_EQ(got.length, c.expected.length) << c.bytes.size() << " bytes";
  }
  EXPECT_EQ(CombineChecksums({0xFFFFFFFFu, 4}, {1, 4}), (BlockChecksum{1, 8}));
  EXPECT_EQ(CombineChecksums({5, 4}, {6, 8}), (BlockChecksum{11, 12}));
}

TEST(AssetFolderVectorsTest, KuidPairsGiveTheContentWordFirst) {
  struct Case {
    KUID kuid;
    const char* expected;
  };
  const Case cases[] = {
      {KUID(123, 456, 0), "456:123"},
      {KUID(123, 456, 3), "456:100663419"},  // the version sits in the top bits
      {KUID(-5, 9, 127), "9:-5"},
  };
  for (const Case& c : cases) EXPECT_STREQ(FormatKuidPair(c.kuid), c.expected);
}

TEST(AssetStatusTest, CopyTakesEveryField) {
  VADAssetStatus status;
  status.name = "n";
  status.text1 = "t1";
  status.state = 0x8C;
  status.detail = 0x81;
  status.commitAllowed = 1;
  status.listingAllowed = 1;
  status.userId = -3;
  status.text2 = "t2";
  status.number = 77;
  status.classText = "cls";
  status.text0 = "t0";
  status.stateLow = 0xA;
  status.stateByte = 4;
  status.build = 3.5f;
  status.installTime = 11;
  status.modifiedTime = 12;
  status.valid = true;
  VADAssetStatus copy;
  copy = status;
  EXPECT_STREQ(copy.name, "n");
  EXPECT_STREQ(copy.text1, "t1");
  EXPECT_EQ(copy.state, 0x8C);
  EXPECT_EQ(copy.detail, 0x81);
  EXPECT_EQ(copy.commitAllowed, 1);
  EXPECT_EQ(copy.listingAllowed, 1);
  EXPECT_EQ(copy.userId, -3);
  EXPECT_STREQ(copy.text2, "t2");
  EXPECT_EQ(copy.number, 77);
  EXPECT_STREQ(copy.classText, "cls");
  EXPECT_STREQ(copy.text0, "t0");
  EXPECT_EQ(copy.stateLow, 0xA);
  EXPECT_EQ(copy.stateByte, 4);
  EXPECT_EQ(copy.build, 3.5f);
  EXPECT_EQ(copy.installTime, 11);
  EXPECT_EQ(copy.modifiedTime, 12);
  EXPECT_TRUE(copy.valid);
  EXPECT_EQ(copy.Flags(), 0x818Cu);
}

class AssetFoldersTest : public IndexFixture {
protected:
  void TearDown() override {
    gVadRewriteRename = saveRename_;
    gVadRewriteExchange = true;
    IndexFixture::TearDown();
  }
  VADRenameFunction saveRename_ = gVadRewriteRename;
};

TEST_F(AssetFoldersTest, NewRecordsTakeFreeKuidsOnly) {
  VADAssetInfo* record = NewAssetRecord(KUID(5, 6, 0), "");
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record->name, "New Asset");
  EXPECT_STREQ(record->categoryClasses, "?");
  EXPECT_EQ(gVadAssetIndex.Find(KUID(5, 6, 0)), record);
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1u);

  gVadAssetIndex.ClearDirtyFlags();
  EXPECT_EQ(NewAssetRecord(KUID(5, 6, 0), "again"), nullptr);
  EXPECT_STREQ(record->name, "New Asset");
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1u);
  EXPECT_TRUE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords);

  VADAssetInfo* named = NewAssetRecord(KUID(5, 7, 0), "Signal box");
  ASSERT_NE(named, nullptr);
  EXPECT_STREQ(named->name, "Signal box");
}

TEST_F(AssetFoldersTest, LocalAndEditingFoldersAreFreshAndSetOnce) {
  VADAssetInfo* record = NewAssetRecord(KUID(123, 456, 0), "Goods shed");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(std::string(MakeLocalHashFolder(record->kuid)), Root("local/hash-B2"));

  ASSERT_TRUE(AllocateLocalFolder(*record));
  const std::string local(record->GetLocalFolder());
  EXPECT_EQ(local.rfind(Root("local/hash-B2/content"), 0), 0u) << local;
  EXPECT_TRUE(std::filesystem::is_directory(local));
  EXPECT_FALSE(AllocateLocalFolder(*record));
  EXPECT_EQ(std::string(record->GetLocalFolder()), local);

  ASSERT_TRUE(AllocateEditingFolder(*record));
  EXPECT_EQ(std::string(record->GetEditingFolder()), Root("editing/Goods shed"));
  EXPECT_TRUE(std::filesystem::is_directory(Root("editing/Goods shed")));
  EXPECT_FALSE(AllocateEditingFolder(*record));

  // A second asset of the same name gets a folder of its own.
  VADAssetInfo* other = NewAssetRecord(KUID(123, 457, 0), "Goods shed");
  root_.WriteFile("editing/Goods shed/config.txt", "kuid <kuid:123:456>\n");
  ASSERT_TRUE(AllocateEditingFolder(*other));
  EXPECT_EQ(std::string(other->GetEditingFolder()).rfind(Root("editing/edit "), 0), 0u);
}

TEST_F(AssetFoldersTest, AFolderARecordNamesIsNeverHandedToAnotherAsset) {
  struct Case {
    const char* what;
    bool named;        // the first record names "editing/Goods shed"
    bool asEditing;    // as its editing folder, else as its local folder
    bool onDisk;       // the folder is there, empty
    const char* name;  // the second asset's display name
  };
  const Case cases[] = {
      {"an emptied editing folder", true, true, true, "Goods shed"},
      {"the same name in other letters", true, true, true, "GOODS SHED"},
      {"an editing folder gone from the disk", true, true, false, "Goods shed"},
      {"a local folder that lies in editing", true, false, true, "Goods shed"},
      {"an empty leftover no record names", false, true, true, "Goods shed"},
  };
  const std::string shed = Root("editing/Goods shed");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    std::filesystem::remove_all(Root("editing"));
    if (c.onDisk) std::filesystem::create_directories(shed);
    VADAssetInfo* first = NewAssetRecord(KUID(123, 456, 0), "Goods shed");
    ASSERT_NE(first, nullptr);
    if (c.named) {
      ASSERT_TRUE(c.asEditing ? first->SetEditingFolder(shed.c_str()) : first->SetLocalFolder(shed.c_str()));
    }

    VADAssetInfo* second = NewAssetRecord(KUID(123, 457, 0), c.name);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(AllocateEditingFolder(*second));
    const std::string got(second->GetEditingFolder());
    EXPECT_TRUE(std::filesystem::is_directory(got)) << got;
    if (!c.named) {
      EXPECT_EQ(got, shed);
      continue;
    }
    EXPECT_EQ(got.rfind(Root("editing/edit "), 0), 0u) << got;
    EXPECT_EQ(Entries(Root("editing")).size(), c.onDisk ? 2u : 1u);
    EXPECT_EQ(std::filesystem::is_directory(shed), c.onDisk);
  }
}

// Inside a batch of installs the claims come from a table made at its first
// use: it answers as the records do, for folders given out or let go after
// it was made as for those named before.
TEST_F(AssetFoldersTest, ABatchAnswersForTheFoldersRecordsNameAsTheRecordsDo) {
  const std::string shed = Root("editing/Goods shed");
  struct Case {
    const char* what;
    bool beforeTable;  // `name` runs before the batch's table is made
    std::function<void(VADAssetInfo& first)> name;
    bool claimed;
  };
  const Case cases[] = {
      {"named before the batch", true, [&](VADAssetInfo& first) { ASSERT_TRUE(first.SetEditingFolder(shed.c_str())); },
       true},
      {"given out in the batch", false, [](VADAssetInfo& first) { ASSERT_TRUE(AllocateEditingFolder(first)); }, true},
      {"given out and let go in the batch", false,
       [&](VADAssetInfo& first) {
         ASSERT_TRUE(AllocateEditingFolder(first));
         first.ClearEditingFolder();
         std::filesystem::remove_all(shed);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    std::filesystem::remove_all(Root("editing"));
    VADAssetInfo* first = NewAssetRecord(KUID(123, 456, 0), "Goods shed");
    ASSERT_NE(first, nullptr);
    if (c.beforeTable) c.name(*first);
    VADFolderClaimsBatch batch;
    // The table is made for the first folder given out in the batch.
    ASSERT_TRUE(AllocateEditingFolder(*NewAssetRecord(KUID(123, 458, 0), "Barn")));
    if (!c.beforeTable) c.name(*first);

    VADAssetInfo* second = NewAssetRecord(KUID(123, 457, 0), "Goods shed");
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(AllocateEditingFolder(*second));
    const std::string got(second->GetEditingFolder());
    if (c.claimed) {
      EXPECT_EQ(got.rfind(Root("editing/edit "), 0), 0u) << got;
    } else {
      EXPECT_EQ(got, shed);
    }
  }
}

TEST_F(AssetFoldersTest, TextureSourcesAndCompiledScripts) {
  root_.WriteFile("a/plain.txt", "x");
  root_.WriteFile("a/wall.texture.txt", "x");
  root_.WriteFile("a/roof.texture", "x");
  struct Case {
    const char* path;
    bool exists;
  };
  const Case cases[] = {
      {"a/plain.txt", true}, {"a/wall.texture", true},  {"a/roof.texture", true},
      {"a/none.texture", false}, {"a/plain", false}, {"a/wall.texture.txt", true},
  };
  for (const Case& c : cases) EXPECT_EQ(FileOrTextureSourceExists(Root(c.path).c_str()), c.exists) << c.path;

  root_.WriteFile("s/one.gs", "source");
  root_.WriteFile("s/one.gse", "compiled");
  root_.WriteFile("s/lone.gse", "compiled only");
  root_.WriteFile("s/sub/two.gs", "source");
  root_.WriteFile("s/sub/two.gse", "compiled");
  EXPECT_TRUE(DeleteCompiledScripts(Root("s").c_str()));
  EXPECT_EQ(Entries(Root("s")), (std::vector<std::string>{"lone.gse", "one.gs", "sub"}));
  EXPECT_EQ(Entries(Root("s/sub")), (std::vector<std::string>{"two.gs"}));
  EXPECT_FALSE(DeleteCompiledScripts(Root("missing").c_str()));
}

TEST_F(AssetFoldersTest, FileTreesLoseConfigsAndCompiledTextureSources) {
  ACSChunkPtr files;
  files.MakeContainer();
  for (const char* name : {"config.txt", "config.chump", "wall.texture", "wall.texture.txt", "lone.texture.txt"})
    files.SetChildString(PString(name), "x");
  ACSChunkPtr sub;
  sub.MakeContainer();
  sub.SetChildString(PString("roof.texture.txt"), "x");
  sub.SetChildString(PString("roof.texture"), "x");
  sub.SetChildString(PString("config.txt"), "x");
  files.SetChild(PString("sub"), sub);

  RemoveConfigFiles(files);
  RemoveTextureSources(files);
  std::vector<std::string> names;
  for (int i = 0; i < files.GetChildCount(); ++i) names.push_back(files.GetChildName(i).c_str());
  EXPECT_EQ(names, (std::vector<std::string>{"wall.texture", "lone.texture.txt", "sub"}));
  ACSChunkPtr after = files.GetChildContainer(PString("sub"));
  names.clear();
  for (int i = 0; i < after.GetChildCount(); ++i) names.push_back(after.GetChildName(i).c_str());
  // Only the top level loses its config files.
  EXPECT_EQ(names, (std::vector<std::string>{"roof.texture", "config.txt"}));
}

TEST_F(AssetFoldersTest, GlobalDataEntriesGoWithTheirEmptyAuthor) {
  gVadAssetIndex.globalData.MakeContainer();
  ACSChunkPtr author;
  author.MakeContainer();
  author.SetChildString(KUID(12, 1, 0).ToConfigText(), "a");
  author.SetChildString(KUID(12, 2, 0).ToConfigText(), "b");
  gVadAssetIndex.globalData.SetChild(PString("12"), author);
  gVadAssetIndex.globalData.SetChildString(PString("13"), "other");

  RemoveGlobalDataEntry(KUID(12, 1, 0));
  EXPECT_TRUE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyGlobalData);
  ASSERT_TRUE(gVadAssetIndex.globalData.HasChild(PString("12")));
  EXPECT_FALSE(gVadAssetIndex.globalData.GetChildContainer(PString("12")).HasChild(KUID(12, 1, 0).ToConfigText()));
  RemoveGlobalDataEntry(KUID(12, 2, 0));
  EXPECT_FALSE(gVadAssetIndex.globalData.HasChild(PString("12")));
  EXPECT_TRUE(gVadAssetIndex.globalData.HasChild(PString("13")));
}

// A source folder of an asset and a destination that holds an older copy.
class RewriteTest : public AssetFoldersTest {
protected:
  void SetUp() override {
    AssetFoldersTest::SetUp();
    Populate();
  }
  void Populate() {
    std::filesystem::remove_all(Root("local"));
    root_.WriteFile("src/config.txt", "kuid <kuid:1:2>\nname \"new\"\nvelmar-build 3.5\n");
    root_.WriteFile("src/mesh.im", "new mesh");
    root_.WriteFile("src/art/tex.bmp", "new art");
    root_.WriteFile("local/dst/config.txt", "kuid <kuid:1:2>\nname \"old\"\nvelmar-build 3.5\n");
    root_.WriteFile("local/dst/mesh.im", "old mesh");
    root_.WriteFile("local/dst/old-only.im", "old");
  }
  bool Rewrite(uint32_t flags = kRewriteCopyOnly) {
    ResultsLog log;
    return RewriteAssetFolder(PString(), Root("src").c_str(), Root("local/dst").c_str(), log, flags);
  }
  void ExpectOld() {
    EXPECT_EQ(root_.ReadFile("local/dst/mesh.im"), "old mesh");
    EXPECT_TRUE(root_.Has("local/dst/old-only.im"));
    EXPECT_FALSE(root_.Has("local/dst/art"));
    EXPECT_EQ(Entries(Root("local")), std::vector<std::string>{"dst"}) << "no temporary folder stays";
  }
};

TEST_F(RewriteTest, TheCopyReplacesTheDestinationWhole) {
  for (bool exchange : {true, false}) {
    Populate();
    gVadRewriteExchange = exchange;
    ASSERT_TRUE(Rewrite()) << exchange;
    EXPECT_EQ(root_.ReadFile("local/dst/mesh.im"), "new mesh");
    EXPECT_EQ(root_.ReadFile("local/dst/art/tex.bmp"), "new art");
    EXPECT_FALSE(root_.Has("local/dst/old-only.im"));
    ACSChunkPtr config;
    ASSERT_TRUE(config.Load(nullptr, Root("local/dst/config.txt").c_str()));
    EXPECT_STREQ(config.GetChildString(PString("name")).c_str(), "new");
    EXPECT_EQ(Entries(Root("local")), std::vector<std::string>{"dst"});
  }
}

TEST_F(RewriteTest, AnOldBuildLearnsItsFolderName) {
  root_.WriteFile("src/config.txt", "kuid <kuid:1:2>\nvelmar-build 2.4\n");
  ASSERT_TRUE(Rewrite());
  ACSChunkPtr config;
  ASSERT_TRUE(config.Load(nullptr, Root("local/dst/config.txt").c_str()));
  EXPECT_STREQ(config.GetChildString(PString("asset-filename")).c_str(), "src");
}

TEST_F(RewriteTest, AMissingDestinationIsMade) {
  ResultsLog log;
  ASSERT_TRUE(RewriteAssetFolder(PString(), Root("src").c_str(), Root("local/fresh").c_str(), log, kRewriteCopyOnly));
  EXPECT_EQ(root_.ReadFile("local/fresh/mesh.im"), "new mesh");
  EXPECT_EQ(Entries(Root("local")), (std::vector<std::string>{"dst", "fresh"}));
}

TEST_F(RewriteTest, AnUnreadableDestinationConfigChangesNothing) {
  std::filesystem::remove(Root("local/dst/config.txt"));
  std::filesystem::create_directories(Root("local/dst/config.txt"));
  EXPECT_FALSE(Rewrite());
  EXPECT_TRUE(std::filesystem::is_directory(Root("local/dst/config.txt")));
  ExpectOld();
}

// The renames fail one after another; the exchange is off so they are used.
TEST_F(RewriteTest, AFailingRenameIsUndone) {
  static int failAt;
  static int calls;
  gVadRewriteExchange = false;
  gVadRewriteRename = [](const char* from, const char* to) {
    if (++calls == failAt) return false;
    return std::filesystem::exists(from) && (std::filesystem::rename(from, to), true);
  };
  for (int at : {1, 2}) {
    Populate();
    failAt = at;
    calls = 0;
    EXPECT_FALSE(Rewrite()) << "rename " << at;
    ExpectOld();
  }
}

} // namespace
