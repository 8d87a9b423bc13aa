#include "assetdb/VADInstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/VADAssetEdit.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADLock.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "cdp/PackageFiles.h"
#include "content/ACSChunk.h"
#include "content/ResultsLog.h"
#include "tests/assetdb/TestSupport.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/cdp/PackageTestSupport.h"

namespace {

using Vak::PString;
using cdptest::Lines;
using cdptest::ListTree;
using cdptest::ReadBytes;

std::string Text(const KUID& kuid) { return kuid.ToConfigText().c_str(); }

// Answers every question the same way and remembers the keys it was asked.
class ScriptedPrompt : public VADInstallPrompt {
public:
  explicit ScriptedPrompt(int answer) : answer_(answer) {}
  int Ask(const char* promptKey, const char* logKey, const KUID&, ResultsLog*) override {
    asked.push_back(std::string(promptKey) + " " + logKey);
    if (onAsk) onAsk();
    return answer_;
  }
  std::vector<std::string> asked;
  std::function<void()> onAsk;

private:
  int answer_;
};

class InstallTest : public IndexFixture {
protected:
  void TearDown() override {
    AssetArchiveCache::Purge();
    IndexFixture::TearDown();
  }

  // An asset folder outside the database: a config and the given files.
  std::string AssetFolder(const std::string& relative, const KUID& kuid, const std::string& extraConfig = "",
                          const std::vector<std::pair<std::string, std::string>>& files = {{"mesh.im", "mesh"}}) {
    source_.WriteFile(relative + "/config.txt", "kuid " + Text(kuid) + "\nkind \"scenery\"\n" + extraConfig);
    for (const auto& [name, bytes] : files) source_.WriteFile(relative + "/" + name, bytes);
    return source_ / relative;
  }
  // A package item packed from such a folder.
  ContentPackageItem Item(const KUID& kuid, const std::vector<std::pair<std::string, std::string>>& files,
                          const std::string& extraConfig = "") {
    const std::string folder = AssetFolder("item-" + std::to_string(++items_), kuid, extraConfig, files);
    ContentPackageItem item;
    item.SetChildString(PString("compression"), "");
    ACSChunkPtr config;
    EXPECT_TRUE(FindConfig(folder.c_str(), PString(), config));
    ACSChunkPtr packed;
    packed.MakeContainer();
    ResultsLog log;
    EXPECT_TRUE(PackFolderFiles(packed, folder.c_str(), PString(), log, PString()));
    packed.RemoveChild(PString("config.txt"));
    item.Assign(config);
    item.SetFiles(packed);
    item.UpdateDSID();
    return item;
  }
  static std::string EditingOf(const KUID& kuid) {
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record && record->HasEditingFolder() ? std::string(record->GetEditingFolder()) : std::string();
  }
  // Where the committed copy lies: the local folder, or the place in the
  // "local" folder archive that a signed package's commit moves it to.
  static std::string InstalledOf(const KUID& kuid) {
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    Vak::File::Path path;
    return record && VADAssetPath(*record, VADAssetHandle::kRead, path) ? std::string(path) : std::string();
  }
  // The config an install wrote into the asset's editing folder.
  static ACSChunkPtr EditingConfig(const KUID& kuid) {
    ACSChunkPtr config;
    FindConfig(EditingOf(kuid).c_str(), PString(), config);
    return config;
  }

  VelmarResourceDatabaseServices services_;
  platform::test::TempFolder source_;
  int items_ = 0;
  const KUID a_{500, 1, 0};
  const KUID b_{500, 2, 0};
  const KUID c_{500, 3, 0};
};

// ---- one item

TEST_F(InstallTest, NewItemIsCommittedWithItsFilesAndTimes) {
  ResultsLog log;
  bool kept = false;
  ContentPackageItem item = Item(a_, {{"mesh.im", "new mesh"}, {"art/a.bmp", "art"}});
  EXPECT_EQ(VADInstallAsset(item, &log, kVADInstallCommit, kept, nullptr), a_);
  const std::string local = InstalledOf(a_);
  ASSERT_FALSE(local.empty());
  EXPECT_TRUE(EditingOf(a_).empty());
  EXPECT_EQ(ReadBytes(local + "/mesh.im"), "new mesh");
  EXPECT_EQ(ReadBytes(local + "/art/a.bmp"), "art");
  EXPECT_TRUE(platform::Exists((local + "/config.chump").c_str()));
  EXPECT_FALSE(platform::Exists((local + "/config.txt").c_str()));
  const VADAssetInfo* record = gVadAssetIndex.Find(a_);
  EXPECT_GT(record->firstInstalled, 0);
  EXPECT_EQ(record->firstInstalled, record->lastInstalled);
  const auto lines = Lines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "4 $vad_installed");
}

// The folders the asset operations delete, while one is alive.
struct NotedDeletes {
  NotedDeletes() { gVadDeleteFolder = Note; }
  ~NotedDeletes() { gVadDeleteFolder = VADDeleteFolder; }
  static bool Note(const char* path) {
    paths.emplace_back(path);
    return VADDeleteFolder(path);
  }
  static inline std::vector<std::string> paths;
};

// A new asset that is committed at once is unpacked where its local folder
// goes and renamed into place: no editing copy is written and deleted, and
// no folder is made that is not used. An older config without
// "asset-filename" still goes through the editing folder, whose name the
// commit gives it.
TEST_F(InstallTest, NewCommittedAssetIsUnpackedWhereItsLocalFolderGoes) {
  struct Case {
    const char* what;
    const char* config;
    std::size_t deletes;
    const char* fileName;  // "asset-filename" of the installed config
  };
  const Case cases[] = {
      {"current build", "velmar-build 3.1\n", 0, ""},
      {"own file name", "velmar-build 2.4\nasset-filename \"mine\"\n", 0, "mine"},
      {"older build", "velmar-build 2.4\nusername \"Old Shed\"\n", 1, "Old Shed"},
  };
  NotedDeletes deletes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    std::filesystem::remove_all(Root("local"));
    std::filesystem::remove_all(Root("editing"));
    deletes.paths.clear();
    ContentPackageItem item = Item(a_, {{"mesh.im", "mesh"}, {"art/a.bmp", "art"}}, c.config);
    // Unsigned: checked, and committed to a local folder of its own.
    item.SetChildString(PString("dsid"), "");
    ResultsLog log;
    bool kept = false;
    EXPECT_EQ(VADInstallAsset(item, &log, kVADInstallCommit, kept, nullptr), a_);
    EXPECT_EQ(deletes.paths.size(), c.deletes) << (deletes.paths.empty() ? "" : deletes.paths.front());
    const VADAssetInfo* record = gVadAssetIndex.Find(a_);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->HasLocalFolder());
    EXPECT_FALSE(record->HasEditingFolder());
    const std::string folder = InstalledOf(a_);
    EXPECT_EQ(ListTree(folder), (std::vector<std::string>{"art/", "art/a.bmp", "config.chump", "mesh.im"}));
    EXPECT_EQ(ReadBytes(folder + "/art/a.bmp"), "art");
    // Every folder in "local" and "editing" holds the asset's copy or is it.
    for (const char* top : {"local", "editing"}) {
      for (const std::string& entry : ListTree(Root(top))) {
        const std::string path = Root(top) + "/" + entry;
        EXPECT_TRUE((folder + "/").rfind(path, 0) == 0 || path.rfind(folder + "/", 0) == 0) << path;
      }
    }
    ACSChunkPtr config;
    ASSERT_TRUE(FindConfig(folder.c_str(), PString(), config));
    EXPECT_STREQ(config.GetChildString(PString("asset-filename")).c_str(), c.fileName);
    EXPECT_EQ(Lines(log), (std::vector<std::string>{"4 $vad_log_commit_success", "4 $vad_installed"}));
  }
}

TEST_F(InstallTest, InstalledAssetIsLeftOpenForEditWithThePackageFiles) {
  ResultsLog first;
  bool kept = false;
  ContentPackageItem old = Item(a_, {{"mesh.im", "old mesh"}, {"old.im", "gone later"}});
  ASSERT_EQ(VADInstallAsset(old, &first, kVADInstallCommit, kept, nullptr), a_);
  const std::string local = InstalledOf(a_);

  ResultsLog log;
  ContentPackageItem fresh = Item(a_, {{"mesh.im", "new mesh"}});
  EXPECT_EQ(VADInstallAsset(fresh, &log, kVADInstallCommit, kept, nullptr), a_);
  // Never committed over the installed copy.
  EXPECT_EQ(InstalledOf(a_), local);
  EXPECT_EQ(ReadBytes(local + "/mesh.im"), "old mesh");
  const std::string editing = EditingOf(a_);
  ASSERT_FALSE(editing.empty());
  EXPECT_EQ(ListTree(editing), (std::vector<std::string>{"config.txt", "mesh.im"}));
  EXPECT_EQ(ReadBytes(editing + "/mesh.im"), "new mesh");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"4 $vad_installed"}));
}

TEST_F(InstallTest, PromptDecidesAboutAnAssetThatIsThere) {
  struct Case {
    const char* what;
    bool openForEdit;
    bool builtIn;
    bool stationItem;
    int answer;
    const char* key;
    bool installs;
  };
  const Case cases[] = {
      {"open for edit, go on", true, false, false, 2, "$vad_prompt_openforedit", true},
      {"open for edit wins over built-in", true, true, false, 3, "$vad_prompt_openforedit", true},
      {"built-in wins over station item", false, true, true, 2, "$vad_prompt_builtin", true},
      {"station item", false, false, true, 2, "$vad_prompt_dls_item", true},
      {"installed, skipped", false, false, false, 1, "$vad_prompt_alreadyinstalled", false},
      {"installed, answer 0 skips", false, false, false, 0, "$vad_prompt_alreadyinstalled", false},
      {"installed, answer 4 skips", false, false, false, 4, "$vad_prompt_alreadyinstalled", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    bool kept = false;
    ContentPackageItem old = Item(a_, {{"mesh.im", "old"}});
    ASSERT_EQ(VADInstallAsset(old, nullptr, kVADInstallCommit, kept, nullptr), a_);
    VADAssetInfo* record = gVadAssetIndex.Find(a_);
    if (c.builtIn) record->UpdateStateFlags(VADAssetInfo::kBuiltIn, VADAssetInfo::kBuiltIn);
    if (c.stationItem) record->flags |= VADAssetInfo::kArchiveHeld;
    if (c.openForEdit) {
      ASSERT_TRUE(VADOpenAsset(a_, true, nullptr).IsValid());
    }

    ScriptedPrompt prompt(c.answer);
    ResultsLog log;
    ContentPackageItem fresh = Item(a_, {{"mesh.im", "new"}});
    EXPECT_EQ(VADInstallAsset(fresh, &log, kVADInstallCommit, kept, &prompt), c.installs ? a_ : KUID());
    EXPECT_EQ(prompt.asked, std::vector<std::string>{std::string(c.key) + " " + c.key + "_log"});
    if (c.installs) {
      EXPECT_EQ(ReadBytes(EditingOf(a_) + "/mesh.im"), "new");
    } else {
      EXPECT_TRUE(Lines(log).empty());
    }
  }
}

// A signed item is committed as trusted: without the file check and into the
// older layout (a place in the "local" folder archive); any other item gets
// the check and a local folder of its own.
TEST_F(InstallTest, SignatureDecidesHowTheItemIsCommitted) {
  struct Case {
    const char* what;
    const char* dsid;  // null: the signature of the item's files
    bool trusted;
  };
  const Case cases[] = {
      {"matching signature", nullptr, true},
      {"signature of other files", "1:4", false},
      {"no signature", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    ContentPackageItem item = Item(a_, {{"mesh.im", "mesh"}});
    if (c.dsid) item.SetChildString(PString("dsid"), c.dsid);
    ResultsLog log;
    bool kept = false;
    ASSERT_EQ(VADInstallAsset(item, &log, kVADInstallCommit, kept, nullptr), a_);
    const VADAssetInfo* record = gVadAssetIndex.Find(a_);
    EXPECT_EQ(record->HasLocalFolder(), !c.trusted);
    EXPECT_EQ(record->HasArchiveLocation(), c.trusted);
    EXPECT_EQ(ReadBytes(InstalledOf(a_) + "/mesh.im"), "mesh");
  }
}

TEST_F(InstallTest, FailedExtractionRevertsTheNewAsset) {
  ContentPackageItem item = Item(a_, {{"mesh.im", "mesh"}});
  // Stored as compressed, but not a valid compressed file.
  item.SetChildString(PString("compression"), "LZSS");
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallAsset(item, &log, kVADInstallCommit, kept, nullptr), KUID());
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"3 $vad_failed_install"}));
  EXPECT_EQ(gVadAssetIndex.Find(a_), nullptr);
}

// An item without a KUID once went in under a freshly generated one.
TEST_F(InstallTest, ItemWithoutAKuidMakesNoRecord) {
  ContentPackageItem item = Item(a_, {{"mesh.im", "mesh"}});
  item.RemoveChild(PString("kuid"));
  root_.WriteFile("settings/kuid.txt", "base-kuid <kuid:500:10>\n");
  KuidBaseFile::Init(root_.Path().c_str());
  const uint32_t records = gVadAssetIndex.RecordCount();
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallAsset(item, &log, 0, kept, nullptr), KUID());
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"3 $vad_failed_install"}));
  EXPECT_EQ(gVadAssetIndex.RecordCount(), records);
  EXPECT_EQ(root_.ReadFile("settings/kuid.txt"), "base-kuid <kuid:500:10>\n");
  KuidBaseFile::Reset();
}

// ---- packages

TEST_F(InstallTest, PackageInstallsEveryItemInOrder) {
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, Item(a_, {{"mesh.im", "a"}})));
  ASSERT_TRUE(package.AddAsset(error, Item(b_, {{"mesh.im", "b"}})));
  const std::string path = source_ / "two.cdp";
  ASSERT_TRUE(package.Write(error, path.c_str()));
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallFromCDP(path.c_str(), &log, kVADInstallCommit, kept, nullptr), 2);
  EXPECT_EQ(ReadBytes(InstalledOf(a_) + "/mesh.im"), "a");
  EXPECT_EQ(ReadBytes(InstalledOf(b_) + "/mesh.im"), "b");
}

TEST_F(InstallTest, CancelStopsThePackageAtTheFirstSkippedItem) {
  bool kept = false;
  ContentPackageItem installed = Item(a_, {{"mesh.im", "a"}});
  ASSERT_EQ(VADInstallAsset(installed, nullptr, kVADInstallCommit, kept, nullptr), a_);
  ContentPackage package;
  Vak::String error;
  ASSERT_TRUE(package.AddAsset(error, Item(a_, {{"mesh.im", "a2"}})));
  ASSERT_TRUE(package.AddAsset(error, Item(b_, {{"mesh.im", "b"}})));
  const std::string path = source_ / "two.cdp";
  ASSERT_TRUE(package.Write(error, path.c_str()));
  ScriptedPrompt prompt(1);
  prompt.onAsk = [&] { prompt.cancel = true; };
  EXPECT_EQ(VADInstallFromCDP(path.c_str(), nullptr, kVADInstallCommit, kept, &prompt), 0);
  EXPECT_EQ(gVadAssetIndex.Find(b_), nullptr);
}

TEST_F(InstallTest, UnreadablePackageGivesOneError) {
  source_.WriteFile("junk.cdp", "not a package at all");
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallFromCDP((source_ / "junk.cdp").c_str(), &log, kVADInstallCommit, kept, nullptr), 0);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"3 $vad_unreadable_cdp"}));
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u);
}

// ---- folders

TEST_F(InstallTest, TreeInstallsOnlyTheUpperOfNestedAssets) {
  AssetFolder("tree/upper", a_);
  AssetFolder("tree/upper/inner", b_);
  AssetFolder("tree/x/y/deep", c_);
  source_.WriteFile("tree/x/readme.txt", "not an asset");
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallFromPath((source_ / "tree").c_str(), &log, 0, kept, nullptr), 2);
  EXPECT_NE(gVadAssetIndex.Find(a_), nullptr);
  EXPECT_EQ(gVadAssetIndex.Find(b_), nullptr);
  EXPECT_NE(gVadAssetIndex.Find(c_), nullptr);
  // The inner asset travels as files of the upper one, which stays open for
  // edit.
  const std::string editing = EditingOf(a_);
  ASSERT_FALSE(editing.empty());
  EXPECT_EQ(ListTree(editing),
            (std::vector<std::string>{"config.txt", "inner/", "inner/config.txt", "inner/mesh.im", "mesh.im"}));
  EXPECT_EQ(VADInstallFromPath("", &log, 0, kept, nullptr), 0);
}

TEST_F(InstallTest, OlderFolderConfigsGainTheFolderName) {
  struct Case {
    const char* what;
    const char* config;
    const char* expected;  // "asset-filename" afterwards, "" for none
  };
  const Case cases[] = {
      {"build 2.4", "velmar-build 2.4\n", "shed 24"},
      {"build 2.5", "velmar-build 2.5\n", ""},
      {"build 3.1", "velmar-build 3.1\n", ""},
      {"no build", "", "shed 24"},
      {"own name kept", "velmar-build 2.4\nasset-filename \"mine\"\n", "mine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    const std::string folder = AssetFolder(std::string("builds/") + c.what + "/shed 24", a_, c.config);
    bool kept = false;
    EXPECT_EQ(VADInstallFolderAsset((folder + "/").c_str(), nullptr, 0, kept, nullptr), a_);
    EXPECT_STREQ(EditingConfig(a_).GetChildString(PString("asset-filename")).c_str(), c.expected);
  }
}

TEST_F(InstallTest, FolderWithoutConfigIsSkippedWithAWarning) {
  source_.WriteFile("bare/mesh.im", "mesh");
  for (const char* folder : {"bare", "missing"}) {
    SCOPED_TRACE(folder);
    ResultsLog log;
    bool kept = false;
    EXPECT_EQ(VADInstallFolderAsset((source_ / folder).c_str(), &log, 0, kept, nullptr), KUID());
    EXPECT_EQ(Lines(log), (std::vector<std::string>{"2 $vad_unable_read_config_at"}));
  }
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 0u);
}

// A link back up the tree is not followed; a link to a folder elsewhere is.
TEST_F(InstallTest, WalkDoesNotFollowLinksBackUpItsPath) {
  AssetFolder("tree/x/y/asset", a_);
  AssetFolder("elsewhere/asset", b_);
  std::filesystem::create_directory_symlink(source_ / "tree", source_ / "tree/x/up");
  std::filesystem::create_directory_symlink(source_ / "elsewhere", source_ / "tree/x/other");
  ResultsLog log;
  bool kept = false;
  EXPECT_EQ(VADInstallFromPath((source_ / "tree").c_str(), &log, 0, kept, nullptr), 2);
  EXPECT_NE(gVadAssetIndex.Find(a_), nullptr);
  EXPECT_NE(gVadAssetIndex.Find(b_), nullptr);
  const auto lines = Lines(log);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "4 $vad_installed"), 2);
}

// ---- export

TEST_F(InstallTest, ReadAssetForPackageFlags) {
  bool kept = false;
  ContentPackageItem source = Item(a_, {{"mesh.im", "mesh"},
                                        {"a.texture", "compiled"},
                                        {"a.texture.txt", "source"},
                                        {"b.texture", "no source"},
                                        {"sub/c.texture", "compiled"},
                                        {"sub/c.texture.txt", "source"}});
  ASSERT_EQ(VADInstallAsset(source, nullptr, kVADInstallCommit, kept, nullptr), a_);
  struct Case {
    uint32_t flags;
    const char* compression;
    std::vector<std::string> top;
    std::vector<std::string> sub;
  };
  const std::vector<std::string> all{"a.texture", "a.texture.txt", "b.texture", "mesh.im", "sub"};
  const Case cases[] = {
      {0, "", all, {"c.texture", "c.texture.txt"}},
      {kVADPackageKeepCompression, "LZSS", all, {"c.texture", "c.texture.txt"}},
      {kVADPackageDropCompiledTextures, "", {"a.texture.txt", "b.texture", "mesh.im", "sub"}, {"c.texture.txt"}},
  };
  auto names = [](const ACSChunkPtr& tree) {
    std::vector<std::string> out;
    for (int i = 0; i < tree.GetChildCount(); ++i) out.push_back(tree.GetChildName(i).c_str());
    std::sort(out.begin(), out.end());
    return out;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    ResultsLog log;
    ContentPackageItem item = VADReadAssetForPackage(a_, &log, c.flags);
    EXPECT_TRUE(Lines(log).empty());
    EXPECT_STREQ(item.GetCompression().c_str(), c.compression);
    EXPECT_EQ(item.GetChildKUID(PString("kuid"), KUID()), a_);
    EXPECT_EQ(names(item.GetFiles()), c.top);
    EXPECT_EQ(names(item.GetFiles().GetChildContainer(PString("sub"))), c.sub);
    // The export carries files as a package stores them, in the item's
    // compression, and they come back out whole.
    Vak::String error;
    const std::string out = source_ / ("out-" + std::to_string(c.flags));
    ASSERT_TRUE(WritePackageFiles(error, item.GetFiles(), out.c_str(), item.GetCompression()));
    EXPECT_EQ(ReadBytes(out + "/mesh.im"), "mesh");
  }
}

TEST_F(InstallTest, ReadAssetForPackageFailuresGiveAnEmptyItem) {
  bool kept = false;
  ContentPackageItem source = Item(b_, {{"mesh.im", "mesh"}});
  ASSERT_EQ(VADInstallAsset(source, nullptr, kVADInstallCommit, kept, nullptr), b_);
  ASSERT_TRUE(VADOpenAsset(b_, true, nullptr).IsValid());
  struct Case {
    const char* what;
    KUID kuid;
    const char* error;
  };
  const Case cases[] = {
      {"unknown asset", a_, "3 $vad_unable_to_open"},
      {"open for edit", b_, "3 $vad_already_open_for_edit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResultsLog log;
    ContentPackageItem item = VADReadAssetForPackage(c.kuid, &log, 0);
    EXPECT_EQ(Lines(log), std::vector<std::string>{c.error});
    EXPECT_TRUE(item.GetFiles().IsNull());
    EXPECT_FALSE(item.HasChild(PString("kuid")));
  }
}

// ---- the index lock

// With the database open: the lock is real, and changes reach the change
// callback at the outermost release of an exclusive hold.
class InstallLockTest : public InstallTest {
protected:
  void SetUp() override {
    InstallTest::SetUp();
    VADStartBlock block;
    VADStartParams(block);
    std::strncpy(block.root, root_.Path().c_str(), sizeof block.root - 1);
    ASSERT_TRUE(VADInit(block));
    {
      VADLock lock;
      lock.Acquire(true);
    }
    Saved() = VADLock::GetChangeCallback();
    Deliveries() = 0;
    VADLock::SetChangeCallback(Count);
  }
  void TearDown() override {
    VADLock::SetChangeCallback(Saved());
    EXPECT_TRUE(VADShutdown());
    InstallTest::TearDown();
  }
  static std::atomic<int>& Deliveries() {
    static std::atomic<int> deliveries{0};
    return deliveries;
  }
  static VADLock::ChangeCallback& Saved() {
    static VADLock::ChangeCallback saved = nullptr;
    return saved;
  }
  static void Count(int flags) {
    ++Deliveries();
    if (Saved()) Saved()(flags);
  }
  // Whether another thread could read the index right now.
  static bool OtherThreadGetsIn() {
    bool held = true;
    std::thread other([&] {
      VADLock lock;
      lock.Acquire(false, VADLock::kTry);
      held = lock.IsHeld();
    });
    other.join();
    return held;
  }
};

TEST_F(InstallLockTest, TreeInstallsUnderOneExclusiveHold) {
  AssetFolder("tree/one", a_);
  AssetFolder("tree/two", b_);
  AssetFolder("tree/three", c_);
  bool kept = false;
  EXPECT_EQ(VADInstallFromPath((source_ / "tree").c_str(), nullptr, 0, kept, nullptr), 3);
  // Other threads see the tree arrive whole, in one change.
  EXPECT_EQ(Deliveries(), 1);
}

TEST_F(InstallLockTest, FolderRoutesHoldTheLockWhileAskingAndInstalling) {
  struct Case {
    const char* what;
    bool tree;
  };
  const Case cases[] = {{"tree", true}, {"one folder", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = AssetFolder(std::string("again/") + c.what + "/asset", a_);
    bool kept = false;
    ASSERT_EQ(VADInstallFolderAsset(folder.c_str(), nullptr, 0, kept, nullptr), a_);
    ScriptedPrompt prompt(2);
    bool otherGotIn = true;
    prompt.onAsk = [&] { otherGotIn = OtherThreadGetsIn(); };
    Deliveries() = 0;
    if (c.tree) {
      EXPECT_EQ(VADInstallFromPath((source_ / "again").c_str(), nullptr, 0, kept, &prompt), 1);
    } else {
      EXPECT_EQ(VADInstallFolderAsset(folder.c_str(), nullptr, 0, kept, &prompt), a_);
    }
    EXPECT_EQ(prompt.asked.size(), 1u);
    EXPECT_FALSE(otherGotIn);
    EXPECT_EQ(Deliveries(), 1);
    // The database's own threads may hold the lock for a moment afterwards.
    EXPECT_TRUE(WaitUntil(OtherThreadGetsIn));
  }
}

} // namespace
