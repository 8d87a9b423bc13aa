#include "cdp/ContentPackage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "cdp/PackageFiles.h"
#include "content/TDBTags.h"
#include "tests/cdp/PackageTestSupport.h"

using cdptest::ListTree;
using cdptest::ReadBytes;
using cdptest::TempFolder;
using cdptest::WriteBytes;

namespace {

using Vak::PString;

ACSChunkPtr RawValue(const std::string& bytes) {
  return ACSChunkPtr(new TDBDataTag(kACSRaw, ACSRawDataCore::CreateCopy(static_cast<uint32_t>(bytes.size()),
                                                                        bytes.data())));
}

std::vector<std::string> ChildNames(const ACSChunkPtr& tree) {
  std::vector<std::string> names;
  for (int i = 0; i < tree.GetChildCount(); ++i) names.push_back(tree.GetChildName(i).c_str());
  return names;
}

std::vector<std::string> Texts(const KUIDList& list) {
  std::vector<std::string> texts;
  for (auto it = list.Begin(); !it.IsEnd(); it.Next()) texts.push_back(it->ToConfigText().c_str());
  return texts;
}

std::vector<std::string> TableTexts(const ACSChunkPtr& table) {
  KUIDList list;
  CollectChildKUIDs(table, list);
  return Texts(list);
}

ContentPackageItem MakeItem(const KUID& kuid) {
  ContentPackageItem item;
  item.SetChildKUID(PString("kuid"), kuid);
  item.SetChildString(PString("kind"), "scenery");
  return item;
}

ACSChunkPtr KUIDTable(const std::vector<KUID>& kuids) {
  KUIDList list;
  for (const KUID& kuid : kuids) list.Append(kuid);
  return MakeKUIDListContainer(list);
}

// ---- signature ----

TEST(ContentPackageTest, FilesSignatureTexts) {
  const struct {
    const char* what;
    ACSChunkPtr (*make)();
    const char* dsid;
  } cases[] = {
      {"empty files", [] { ACSChunkPtr f; f.MakeContainer(); return f; }, "0:0"},
      {"one file of 4 bytes", [] { ACSChunkPtr f; f.SetChild(PString("a.txt"), RawValue("abcd")); return f; }, "1:0"},
      {"one empty file", [] { ACSChunkPtr f; f.SetChild(PString("a.txt"), RawValue("")); return f; }, "1:0"},
      {"one empty sub-folder", [] { ACSChunkPtr f; f.SetChild(PString("sub"), ACSChunkPtr()); return f; }, "1:0"},
      {"ABCDEFGHI", [] { ACSChunkPtr f; f.SetChild(PString("a.txt"), RawValue("ABCDEFGHI")); return f; },
       "-1583639149:8"},
      {"the first 8 of 9 bytes only",
       [] { ACSChunkPtr f; f.SetChild(PString("a.txt"), RawValue("ABCDEFGH")); return f; }, "-1583639149:8"},
      {"eight zero bytes", [] { ACSChunkPtr f; f.SetChild(PString("z.dat"), RawValue(std::string(8, '\0'))); return f; },
       "1:8"},
      {"nested", [] {
         ACSChunkPtr sub;
         sub.SetChild(PString("b.txt"), RawValue("ABCDEFGHI"));
         ACSChunkPtr f;
         f.SetChild(PString("sub"), sub);
         f.SetChild(PString("a.txt"), RawValue(std::string(8, '\0')));
         return f;
       },
       "-1583639148:16"},
  };
  for (const auto& c : cases) {
    ContentPackageItem item;
    item.SetFiles(c.make());
    EXPECT_STREQ(FormatChecksum(ComputeFilesChecksum(item.GetFiles())), c.dsid) << c.what;
    item.UpdateDSID();
    EXPECT_STREQ(item.GetChildString(PString("dsid")).c_str(), c.dsid) << c.what;
    EXPECT_TRUE(item.VerifyDSID()) << c.what;
  }
}

TEST(ContentPackageTest, BlockChecksumRules) {
  const std::string abcd = "ABCDEFGH";
  const auto* bytes = reinterpret_cast<const uint8_t*>(abcd.data());
  EXPECT_EQ(ComputeBlockChecksum(bytes, 4), (BlockChecksum{0, 0}));
  EXPECT_EQ(ComputeBlockChecksum(bytes, 6), ComputeBlockChecksum(bytes, 7)) << "6 bytes use the first 4";
  EXPECT_EQ(ComputeBlockChecksum(bytes, 6).length, 4u);
  // 0x44434241 rotated: bit 31 is lost, bit 30 comes round to bit 0.
  EXPECT_EQ(ComputeBlockChecksum(bytes, 5).sum, 0x88868483u);
  const uint8_t top[5] = {0, 0, 0, 0xC0, 0};
  EXPECT_EQ(ComputeBlockChecksum(top, 5).sum, 0x80000003u);
  EXPECT_EQ(CombineChecksums({0xFFFFFFFFu, 4}, {1, 4}), (BlockChecksum{1, 8})) << "a sum of 0 becomes 1";
  EXPECT_EQ(CombineChecksums({2, 4}, {3, 8}), (BlockChecksum{5, 12}));
}

TEST(ContentPackageTest, ChangedFilesFailTheStoredSignature) {
  ContentPackageItem item;
  ACSChunkPtr files;
  files.SetChild(PString("a.txt"), RawValue("ABCDEFGHI"));
  item.SetFiles(files);
  item.UpdateDSID();
  ASSERT_TRUE(item.VerifyDSID());
  files.SetChild(PString("b.txt"), RawValue("12345678"));
  EXPECT_FALSE(item.VerifyDSID());
}

// ---- items ----

TEST(ContentPackageTest, ItemKeepsItsCompressionThroughAssign) {
  ContentPackageItem item;
  EXPECT_STREQ(item.GetCompression().c_str(), "LZSS");
  EXPECT_FALSE(item.IsChanged());
  item.SetChildString(PString("compression"), "");
  ACSChunkPtr config;
  config.SetChildKUID(PString("kuid"), KUID(1, 2, 0));
  config.SetChildString(PString("compression"), "LZSS");
  item.Assign(config);
  EXPECT_TRUE(item.IsChanged());
  EXPECT_STREQ(item.GetCompression().c_str(), "");
  EXPECT_EQ(item.GetChildKUID(PString("kuid"), KUID::Null()), KUID(1, 2, 0));
  EXPECT_FALSE(config.GetChildString(PString("compression")).IsNull()) << "the source stays as it was";
  EXPECT_STREQ(config.GetChildString(PString("compression")).c_str(), "LZSS");
}

TEST(ContentPackageTest, ItemFromThePackageEditsThePackage) {
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, MakeItem(KUID(5, 6, 0))));
  ContentPackageItem item = package.GetAsset(0);
  ACSChunkPtr files;
  files.SetChild(PString("a.txt"), RawValue("x"));
  item.SetFiles(files);
  EXPECT_TRUE(item.IsChanged());
  EXPECT_EQ(package.GetAsset(0).GetFiles().GetChildCount(), 1);
  ACSChunkPtr config;
  config.SetChildKUID(PString("kuid"), KUID(5, 6, 0));
  config.SetChildString(PString("username"), "renamed");
  item.Assign(config);
  EXPECT_STREQ(package.GetAsset(0).GetChildString(PString("username")).c_str(), "renamed");
}

// ---- adding ----

TEST(ContentPackageTest, AddingBuildsTablesInOrder) {
  ContentPackage package;
  Vak::String error;
  ContentPackageItem first = MakeItem(KUID(1, 100, 0));
  first.SetChild(PString("kuid-table"), KUIDTable({KUID(1, 200, 0), KUID(9, 9, 0)}));
  first.SetChild(PString("obsolete-table"), KUIDTable({KUID(1, 99, 0)}));
  ASSERT_TRUE(package.AddAsset(error, first));
  EXPECT_STREQ(error, "");
  EXPECT_EQ(ChildNames(package.Root()),
            (std::vector<std::string>{"assets", "contents-table", "kuid-table", "obsolete-table", "kind",
                                      "package-version"}));
  ContentPackageItem second = MakeItem(KUID(1, 200, 0));
  second.SetChild(PString("obsolete-table"), KUIDTable({KUID(1, 98, 0), KUID(1, 99, 0)}));
  ASSERT_TRUE(package.AddAsset(error, second));
  const ACSChunkPtr& root = package.Root();
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"assets", "contents-table", "kuid-table", "obsolete-table",
                                                         "kind", "package-version"}));
  EXPECT_EQ(ChildNames(root.GetChildContainer(PString("assets"))),
            (std::vector<std::string>{"<kuid:1:100>", "<kuid:1:200>"}));
  EXPECT_EQ(ChildNames(root.GetChildContainer(PString("contents-table"))), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(TableTexts(root.GetChildContainer(PString("contents-table"))),
            (std::vector<std::string>{"<kuid:1:100>", "<kuid:1:200>"}));
  EXPECT_EQ(TableTexts(root.GetChildContainer(PString("kuid-table"))), std::vector<std::string>{"<kuid:9:9>"})
      << "what the package holds is no dependency";
  EXPECT_EQ(TableTexts(root.GetChildContainer(PString("obsolete-table"))),
            (std::vector<std::string>{"<kuid:1:99>", "<kuid:1:98>"}));
  EXPECT_STREQ(root.GetChildString(PString("kind")).c_str(), "archive");
  EXPECT_EQ(root.GetChildInt(PString("package-version"), 0), 1);
  EXPECT_EQ(package.GetAssetCount(), 2);
  EXPECT_EQ(package.FindAsset(KUID(1, 200, 0)), 1);
  EXPECT_EQ(package.FindAsset(KUID(1, 300, 0)), -1);
}

TEST(ContentPackageTest, AddingFailures) {
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, MakeItem(KUID(3, 4, 5))));
  EXPECT_FALSE(package.AddAsset(error, MakeItem(KUID(3, 4, 5))));
  EXPECT_STREQ(error, "Unable to add content as an item with KUID <kuid2:3:4:5> is already present");
  ContentPackageItem nameless;
  EXPECT_FALSE(package.AddAsset(error, nameless));
  EXPECT_STREQ(error, "Unable to add content as it doesnt not contain a valid KUID");
  EXPECT_EQ(package.GetAssetCount(), 1);
}

// ---- dependencies ----

TEST(ContentPackageTest, DependencyRules) {
  const KUID self(1, 1, 0);
  const struct {
    const char* what;
    void (*fill)(ACSChunkPtr&);
    std::vector<std::string> expected;
  } cases[] = {
      {"self in the kuid-table",
       [](ACSChunkPtr& c) { c.SetChild(PString("kuid-table"), KUIDTable({KUID(1, 1, 0), KUID(2, 2, 0)})); },
       {"<kuid:2:2>"}},
      {"engine traincar without interior",
       [](ACSChunkPtr& c) {
         c.SetChildString(PString("kind"), "TrainCar");
         c.SetChildInt(PString("engine"), 1);
       },
       {"<kuid:-10:172>"}},
      {"engine traincar with interior",
       [](ACSChunkPtr& c) {
         c.SetChildString(PString("kind"), "traincar");
         c.SetChildInt(PString("engine"), 1);
         c.SetChildKUID(PString("interior"), KUID(7, 7, 0));
       },
       {"<kuid:7:7>"}},
      {"traincar that is no engine",
       [](ACSChunkPtr& c) {
         c.SetChildString(PString("kind"), "traincar");
         c.SetChildInt(PString("engine"), 0);
       },
       {}},
      {"obsoleted KUIDs removed",
       [](ACSChunkPtr& c) {
         c.SetChild(PString("kuid-table"), KUIDTable({KUID(3, 3, 0), KUID(4, 4, 0)}));
         c.SetChild(PString("obsolete-table"), KUIDTable({KUID(3, 3, 0)}));
       },
       {"<kuid:4:4>"}},
      {"KUIDs in text and nested containers",
       [](ACSChunkPtr& c) {
         ACSChunkPtr mesh;
         mesh.SetChildString(PString("texture"), "<kuid2:5:5:1>");
         mesh.SetChildString(PString("note"), "5:6");  // not a strict KUID
         c.SetChild(PString("mesh-table"), mesh);
       },
       {"<kuid2:5:5:1>"}},
      // Texts that only the tag lookup reads as KUIDs: the tags' own order
      // decides, whatever the config's order.
      {"order of the eleven tags",
       [](ACSChunkPtr& c) {
         const char* tags[] = {"enginesound", "enginespec", "interior", "bogey-1-r", "bogey-1", "product-category",
                               "map-kuid",    "preview-mesh-kuid", "bogey", "bridgetrack", "alias"};
         int n = 11;
         for (const char* tag : tags) c.SetChildString(PString(tag), ("20:" + std::to_string(n--)).c_str());
       },
       {"<kuid:20:1>", "<kuid:20:2>", "<kuid:20:3>", "<kuid:20:4>", "<kuid:20:5>", "<kuid:20:6>", "<kuid:20:7>",
        "<kuid:20:8>", "<kuid:20:9>", "<kuid:20:10>", "<kuid:20:11>"}},
  };
  for (const auto& c : cases) {
    ACSChunkPtr config;
    config.SetChildKUID(PString("kuid"), self);
    c.fill(config);
    KUIDList out;
    out.Append(KUID(1, 1000, 0));  // appended to, never cleared
    CollectAssetDependencies(self, config, out);
    std::vector<std::string> expected{"<kuid:1:1000>"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(Texts(out), expected) << c.what;
  }
}

TEST(ContentPackageTest, ObsoletedKUIDsAreListedOnceWithoutTheAssetItself) {
  const KUID self(1, 1, 0);
  ACSChunkPtr config;
  config.SetChild(PString("obsolete-table"), KUIDTable({KUID(2, 2, 0), self, KUID(3, 3, 0)}));
  config.SetChildKUID(PString("obsoletes-kuid"), KUID(2, 2, 0));
  KUIDList out;
  CollectObsoletedKUIDs(self, config, out);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{"<kuid:2:2>", "<kuid:3:3>"}));
}

TEST(ContentPackageTest, SummaryForInstalling) {
  ContentPackageItem item = MakeItem(KUID(1, 2, 0));
  item.SetChildString(PString("kind"), "Scenery");
  item.SetChild(PString("files"), ACSChunkPtr());
  item.SetChildString(PString("dsid"), "0:0");
  item.SetChildString(PString("folder-icon"), "x");
  item.SetChildString(PString(".cache"), "y");
  ACSChunkPtr table;
  table.SetChildKUID(PString("a"), KUID(3, 3, 0));
  table.SetChildKUID(PString("7"), KUID(4, 4, 0));
  item.SetChild(PString("kuid-table"), table);
  item.SetChildString(PString("username"), "after");
  ACSChunkPtr summary = MakePackageAssetSummary(item);
  EXPECT_TRUE(item.IsChanged());
  EXPECT_EQ(ChildNames(summary), (std::vector<std::string>{"kuid", "kind", "kuid-table", "username"}));
  EXPECT_STREQ(summary.GetChildString(PString("kind")).c_str(), "scenery");
  EXPECT_EQ(ChildNames(summary.GetChildContainer(PString("kuid-table"))), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(TableTexts(summary.GetChildContainer(PString("kuid-table"))),
            (std::vector<std::string>{"<kuid:3:3>", "<kuid:4:4>"}));
  EXPECT_TRUE(item.HasChild(PString("files"))) << "the item itself keeps everything";
  EXPECT_EQ(ChildNames(item.GetChildContainer(PString("kuid-table"))), (std::vector<std::string>{"a", "7"}));

  ContentPackageItem plain = MakeItem(KUID(1, 3, 0));
  MakePackageAssetSummary(plain);
  EXPECT_FALSE(plain.IsChanged());
}

// ---- reading and writing ----

// A package file from a tree as it stands, without the writer's repairs.
void SaveTree(const ACSChunkPtr& root, const std::string& path) { ASSERT_TRUE(root.Save(nullptr, path.c_str())); }

ACSChunkPtr ValidRoot(int assets, int contents) {
  ACSChunkPtr root;
  ACSChunkPtr assetList;
  KUIDList kuids;
  for (int i = 0; i < assets; ++i) {
    ContentPackageItem item = MakeItem(KUID(1, i + 1, 0));
    assetList.SetChild(item.GetChildKUID(PString("kuid"), KUID::Null()).ToConfigText(), item);
  }
  for (int i = 0; i < contents; ++i) kuids.Append(KUID(1, i + 1, 0));
  root.SetChild(PString("assets"), assetList);
  root.SetChild(PString("contents-table"), MakeKUIDListContainer(kuids));
  root.SetChild(PString("kuid-table"), ACSChunkPtr());
  root.SetChild(PString("obsolete-table"), ACSChunkPtr());
  root.SetChildString(PString("kind"), "archive");
  root.SetChildInt(PString("package-version"), 1);
  return root;
}

TEST(ContentPackageTest, ReadChecksInOrder) {
  const char* notPackage = "Content could not be read, as the file is not a valid CDP";
  const char* damaged = "Content could not be read, as the CDP file is damaged";
  const char* newer = "This content requires a newer Velmar version";
  enum class File { kTree, kMissing, kTruncated, kGarbage, kEmpty };
  constexpr int kNoVersion = -1;
  const struct {
    const char* what;
    int assets;
    int contents;
    const char* kind;
    int version;
    File file;
    const char* error;
  } cases[] = {
      {"valid", 2, 2, "archive", 1, File::kTree, ""},
      {"ARCHIVE", 1, 1, "ARCHIVE", 1, File::kTree, ""},
      {"wrong kind", 1, 1, "scenery", 1, File::kTree, notPackage},
      {"three assets, two contents", 3, 2, "archive", 1, File::kTree, damaged},
      {"version 2", 1, 1, "archive", 2, File::kTree, newer},
      {"no version", 1, 1, "archive", kNoVersion, File::kTree, newer},
      {"damaged before the version", 1, 0, "archive", 2, File::kTree, damaged},
      {"missing file", 1, 1, "archive", 1, File::kMissing, notPackage},
      {"truncated", 2, 2, "archive", 1, File::kTruncated, notPackage},
      {"garbage", 1, 1, "archive", 1, File::kGarbage, notPackage},
      {"empty file", 1, 1, "archive", 1, File::kEmpty, notPackage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    const std::string path = temp / "p.cdp";
    ACSChunkPtr root = ValidRoot(c.assets, c.contents);
    root.SetChildString(PString("kind"), c.kind);
    if (c.version == kNoVersion) {
      root.RemoveChild(PString("package-version"));
    } else {
      root.SetChildInt(PString("package-version"), c.version);
    }
    if (c.file != File::kMissing) SaveTree(root, path);
    const std::string bytes = ReadBytes(path);
    if (c.file == File::kTruncated) WriteBytes(path, bytes.substr(0, bytes.size() / 2));
    if (c.file == File::kGarbage) WriteBytes(path, "ACS$ this is not a chunk file at all");
    if (c.file == File::kEmpty) WriteBytes(path, "");

    ContentPackage package;
    Vak::String error = "stale";
    EXPECT_EQ(package.Read(error, temp.Path().c_str(), "p.cdp"), *c.error == 0);
    EXPECT_STREQ(error, c.error);
    if (*c.error) {
      EXPECT_EQ(package.GetAssetCount(), 0);
      EXPECT_EQ(package.Root().GetChildCount(), 0) << "cleared";
    }
  }
}

// The asset a package holds, with the files of `folder` packed into it.
ContentPackageItem PackedItem(const KUID& kuid, const std::string& folder, const char* compression) {
  ContentPackageItem item = MakeItem(kuid);
  item.SetChildString(PString("compression"), compression);
  ResultsLog log;
  ACSChunkPtr files;
  EXPECT_TRUE(PackFolderFiles(files, folder.c_str(), PString(), log, PString(compression)));
  item.SetFiles(files);
  item.UpdateDSID();
  return item;
}

TEST(ContentPackageTest, PackWriteReadExtractIsByteForByte) {
  std::string noise(64 * 1024, '\0');
  uint32_t state = 15;
  for (char& ch : noise) {
    state = state * 1103515245u + 12345u;
    ch = static_cast<char>(state >> 24);
  }
  const std::vector<std::pair<std::string, std::string>> content = {
      {"config.txt", "kuid <kuid:1:2>\nkind \"scenery\"\n"},
      {"empty.txt", ""},
      {"abc.dat", "abc"},
      {"hello.txt", "hello world\n"},
      {"noise.bmp", noise},
      {"art/sides.tga", std::string(2000, '\x7f') + "tail"},
      {"art/inner/deep.txt", "deep\n"},
  };
  for (const char* compression : {"LZSS", ""}) {
    SCOPED_TRACE(std::string("compression \"") + compression + "\"");
    TempFolder temp;
    for (const auto& [name, bytes] : content) ASSERT_TRUE(WriteBytes(temp / ("in/" + name), bytes));
    ContentPackage package;
    Vak::String error;
    ASSERT_TRUE(package.AddAsset(error, PackedItem(KUID(1, 2, 0), temp / "in", compression)));
    ASSERT_TRUE(package.Write(error, (temp / "p.cdp").c_str())) << static_cast<const char*>(error);

    ContentPackage read;
    ASSERT_TRUE(read.Read(error, temp.Path().c_str(), "p.cdp")) << static_cast<const char*>(error);
    ASSERT_EQ(read.GetAssetCount(), 1);
    ContentPackageItem item = read.GetAsset(0);
    EXPECT_TRUE(item.VerifyDSID());
    EXPECT_STREQ(item.GetCompression().c_str(), compression);
    ASSERT_TRUE(WritePackageFiles(error, item.GetFiles(), (temp / "out").c_str(), item.GetCompression()))
        << static_cast<const char*>(error);
    EXPECT_EQ(ListTree(temp / "out"), ListTree(temp / "in"));
    for (const auto& [name, bytes] : content) EXPECT_EQ(ReadBytes(temp / ("out/" + name)), bytes) << name;
    if (*compression) {
      const ACSChunkPtr hello = item.GetFiles()->FindChild(PString("hello.txt"));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(hello->GetData()), hello->GetDataSize()),
                std::string("\x0C\x00\x00\x00\x00hello world\n", 17));
      const ACSChunkPtr empty = item.GetFiles()->FindChild(PString("empty.txt"));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(empty->GetData()), empty->GetDataSize()),
                std::string(5, '\0'));
    }
  }
}

// Damaged entries as they come out of a package file: each item is
// extracted into its own folder, and nothing lands anywhere else.
TEST(ContentPackageTest, DamagedEntriesOfAReadPackage) {
  const char* decodeFailed = "Failed to decompress data. Content package may be damaged";
  const struct {
    const char* what;
    const char* compression;
    ACSChunkPtr (*make)();
    const char* error;
    std::vector<std::string> extracted;
  } cases[] = {
      {"LZSS block of 3 bytes", "LZSS",
       [] { ACSChunkPtr f; f.SetChild(PString("a.txt"), RawValue(std::string("\x0C\x00\x00", 3))); return f; },
       decodeFailed, {"dest/"}},
      {"output overruns the size field", "LZSS",
       [] {
         ACSChunkPtr f;
         f.SetChild(PString("a.txt"), RawValue(std::string("\x02\x00\x00\x00\x00", 5) + "hello"));
         return f;
       },
       decodeFailed, {"dest/"}},
      {"names that leave the folder", "",
       [] {
         ACSChunkPtr up;
         up.SetChild(PString("escaped.txt"), RawValue("no"));
         ACSChunkPtr f;
         f.SetChild(PString(".."), up);
         f.SetChild(PString("../escaped.txt"), RawValue("no"));
         f.SetChild(PString("sub/escaped.txt"), RawValue("no"));
         f.SetChild(PString("sub\\escaped.txt"), RawValue("no"));
         f.SetChild(PString("ok.txt"), RawValue("yes"));
         return f;
       },
       "", {"dest/", "dest/ok.txt"}},
      {"a value that is no file data", "",
       [] { ACSChunkPtr f; f.SetChildString(PString("a.txt"), "text"); return f; },
       "Unknown data type encountered. Content package may be damaged", {"dest/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    ContentPackage package;
    Vak::String error;
    ContentPackageItem item = MakeItem(KUID(1, 2, 0));
    item.SetChildString(PString("compression"), c.compression);
    item.SetFiles(c.make());
    ASSERT_TRUE(package.AddAsset(error, item));
    ASSERT_TRUE(package.Write(error, (temp / "p.cdp").c_str()));
    ContentPackage read;
    ASSERT_TRUE(read.Read(error, temp.Path().c_str(), "p.cdp"));
    ContentPackageItem readItem = read.GetAsset(0);
    EXPECT_EQ(WritePackageFiles(error, readItem.GetFiles(), (temp / "dest").c_str(), readItem.GetCompression()),
              *c.error == 0);
    EXPECT_STREQ(error, c.error);
    std::vector<std::string> listing = ListTree(temp.Path());
    std::erase(listing, "p.cdp");
    EXPECT_EQ(listing, c.extracted);
  }
}

TEST(ContentPackageTest, PackageWithoutAssetsReadsBack) {
  TempFolder temp;
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.Write(error, (temp / "empty.cdp").c_str())) << static_cast<const char*>(error);
  ContentPackage read;
  EXPECT_TRUE(read.Read(error, temp.Path().c_str(), "empty.cdp")) << static_cast<const char*>(error);
  EXPECT_EQ(read.GetAssetCount(), 0);
  for (const char* table : {"contents-table", "kuid-table", "obsolete-table"})
    EXPECT_EQ(read.Root().GetChildType(PString(table)), kACSContainer) << table;
  EXPECT_STREQ(read.Root().GetChildString(PString("kind")).c_str(), "archive");
  EXPECT_EQ(read.Root().GetChildInt(PString("package-version"), 0), 1);
}

TEST(ContentPackageTest, ThumbnailIsARootValue) {
  TempFolder temp;
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, MakeItem(KUID(1, 2, 0))));
  EXPECT_TRUE(package.GetChild(PString("thumbnail")).IsNull());
  EXPECT_TRUE(package.GetChild(PString("assets")).IsNull()) << "a container is no value";
  ContentPackage withThumbnail;
  ACSChunkPtr root = ValidRoot(1, 1);
  root.SetChild(PString("thumbnail"), RawValue("JFIF"));
  SaveTree(root, temp / "t.cdp");
  ASSERT_TRUE(withThumbnail.Read(error, temp.Path().c_str(), "t.cdp"));
  const ACSChunkPtr thumbnail = withThumbnail.GetChild(PString("thumbnail"));
  ASSERT_FALSE(thumbnail.IsNull());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(thumbnail->GetData()), thumbnail->GetDataSize()), "JFIF");
}

// ---- replacing a package on disk ----

TEST(ContentPackageTest, FindingSeesEditsAndEveryFormOfTheKUID) {
  ContentPackage package;
  Vak::String error;
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(package.AddAsset(error, MakeItem(KUID(1, n, 0))));
  // Edited through an item after adding, and held as text.
  package.GetAsset(1).SetChildString(PString("kuid"), "<kuid:1:7>");
  ACSChunkPtr assets = package.Root().GetChildContainer(PString("assets"));
  assets.SetChildString(PString("stray"), "not an asset");
  const struct {
    KUID kuid;
    int index;
  } cases[] = {
      {KUID(1, 1, 0), 0}, {KUID(1, 7, 0), 1}, {KUID(1, 2, 0), -1}, {KUID(1, 3, 0), 2}, {KUID::Null(), 3},
  };
  for (const auto& c : cases) EXPECT_EQ(package.FindAsset(c.kuid), c.index) << c.kuid.ToConfigText().c_str();
  EXPECT_FALSE(package.AddAsset(error, MakeItem(KUID(1, 7, 0))));
  EXPECT_TRUE(package.AddAsset(error, MakeItem(KUID(1, 4, 0))));
}

// Files beside the package: the package alone, never a temporary file.
std::vector<std::string> FolderNames(const std::string& folder) { return ListTree(folder); }

TEST(ContentPackageTest, WriteReplacesAnExistingPackageWhole) {
  TempFolder temp;
  const std::string path = temp / "p.cdp";
  ContentPackage first;
  Vak::String error;
  ASSERT_TRUE(first.AddAsset(error, MakeItem(KUID(1, 1, 0))));
  ASSERT_TRUE(first.AddAsset(error, MakeItem(KUID(1, 2, 0))));
  ASSERT_TRUE(first.Write(error, path.c_str()));
  ContentPackage second;
  ASSERT_TRUE(second.AddAsset(error, MakeItem(KUID(1, 3, 0))));
  ASSERT_TRUE(second.Write(error, path.c_str()));
  EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"p.cdp"});
  ContentPackage read;
  ASSERT_TRUE(read.Read(error, "", path.c_str()));
  EXPECT_EQ(read.GetAssetCount(), 1);
  EXPECT_EQ(read.FindAsset(KUID(1, 3, 0)), 0);
}

TEST(ContentPackageTest, FailedWriteKeepsTheEarlierPackage) {
  TempFolder temp;
  const std::string path = temp / "p.cdp";
  ContentPackage small;
  Vak::String error;
  ASSERT_TRUE(small.AddAsset(error, MakeItem(KUID(1, 1, 0))));
  ASSERT_TRUE(small.Write(error, path.c_str()));
  const std::string before = ReadBytes(path);

  ContentPackage large;
  ContentPackageItem item = MakeItem(KUID(1, 2, 0));
  ACSChunkPtr files;
  files.SetChild(PString("big.dat"), RawValue(std::string(256 * 1024, 'b')));
  item.SetFiles(files);
  ASSERT_TRUE(large.AddAsset(error, item));

  // The system refuses to let any file grow past 64 KiB while the package is
  // written: the write fails part way.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool written = large.Write(error, path.c_str());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_STREQ(error, "Unable to write archive file. Needs to be .cdp file extension");
  EXPECT_TRUE(ReadBytes(path) == before) << "the earlier package is as it was";
  EXPECT_EQ(FolderNames(temp.Path()), std::vector<std::string>{"p.cdp"});
}

TEST(ContentPackageTest, WriteFailures) {
  TempFolder temp;
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, MakeItem(KUID(1, 1, 0))));
  for (const std::string& path : {temp / "p.zip", temp / "missing/p.cdp", temp / "p"}) {
    EXPECT_FALSE(package.Write(error, path.c_str())) << path;
    EXPECT_STREQ(error, "Unable to write archive file. Needs to be .cdp file extension") << path;
  }
  EXPECT_TRUE(FolderNames(temp.Path()).empty());
}

} // namespace
