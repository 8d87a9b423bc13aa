#include "assetdb/VADAssetEdit.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "assetdb/InterfaceTextDB.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADServices.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADAssetFolders.h"
#include "assetdb/VADAssetHandle.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "content/ACSChunk.h"
#include "content/ResultsLog.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/KuidBaseFile.h"
#include "tests/assetdb/database/IndexFixture.h"
#include "tests/assetdb/database/QuietNetwork.h"

namespace {

using Vak::PString;

struct Logged {
  int32_t severity;
  std::string text;
  std::string kuid;  // of the line's property, empty without one
};

std::vector<Logged> Lines(ResultsLog& log) {
  std::vector<Logged> lines;
  log.Lock();
  for (const ResultsLog::Line& line : log.GetLines()) {
    Logged logged{line.severity, line.text.Size() ? static_cast<const char*>(line.text) : "", ""};
    if (line.property.Get()) {
      PString text;
      line.property->GetValueText(text);
      logged.kuid = text.c_str();
    }
    lines.push_back(logged);
  }
  log.Unlock();
  return lines;
}

// The rewrite's own renames, while a test notes them.
VADRenameFunction gRealRename = nullptr;

// Deletions that fail for paths holding `gUndeletable`.
std::string gUndeletable;
bool RefusingDelete(const char* path) {
  if (!gUndeletable.empty() && std::string(path).find(gUndeletable) != std::string::npos) return false;
  return VADDeleteFolder(path);
}

class AssetEditTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    gVadDeleteFolder = RefusingDelete;
    gUndeletable.clear();
  }
  void TearDown() override {
    gVadDeleteFolder = VADDeleteFolder;
    if (gRealRename) gVadRewriteRename = gRealRename;
    gVadRewriteExchange = true;
    PersistentRecordList::Global().Clear();
    AssetArchiveCache::Purge();
    IndexFixture::TearDown();
  }

  // An asset installed in "local/<name>" with a config and two files.
  VADAssetInfo* Local(const KUID& kuid, const std::string& name) {
    WriteConfig("local/" + name, "kuid " + std::string(kuid.ToConfigText().c_str()) + "\nname \"" + name + "\"\n");
    root_.WriteFile("local/" + name + "/mesh.im", "mesh of " + name);
    root_.WriteFile("local/" + name + "/art/a.bmp", "art of " + name);
    return gVadAssetIndex.Insert(LocalRecord(kuid, name));
  }
  VADAssetInfo* RecordOnly(const KUID& kuid, const char* name) {
    VADAssetInfo record;
    record.kuid = kuid;
    record.name = name;
    return gVadAssetIndex.Insert(record);
  }
  std::string Editing(const KUID& kuid) {
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record && record->HasEditingFolder() ? std::string(record->GetEditingFolder()) : std::string();
  }
  std::string LocalOf(const KUID& kuid) {
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    return record && record->HasLocalFolder() ? std::string(record->GetLocalFolder()) : std::string();
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  VelmarResourceDatabaseServices services_;
  const KUID a_{400, 1, 0};
  const KUID b_{400, 2, 0};
  const std::string aText_ = "<kuid:400:1>";
};

// ---- open

TEST_F(AssetEditTest, OpenForEditCopiesOnceAndReportsOnce) {
  Local(a_, "shed");
  ResultsLog log;
  VADAssetHandle handle = VADOpenAsset(a_, true, &log);
  ASSERT_TRUE(handle.IsValid());
  EXPECT_EQ(handle.GetMode(), VADAssetHandle::kEdit);
  const std::string editing = Editing(a_);
  ASSERT_FALSE(editing.empty());
  EXPECT_EQ(Read(editing + "/mesh.im"), "mesh of shed");
  EXPECT_EQ(Read(editing + "/art/a.bmp"), "art of shed");
  Vak::File::Path path;
  ASSERT_TRUE(handle.GetPath(path));
  EXPECT_EQ(std::string(path), editing);
  auto lines = Lines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].severity, ResultsLog::kResult);
  EXPECT_EQ(lines[0].text, "$vad_log_openforedit_success");
  EXPECT_EQ(lines[0].kuid, aText_);

  // Edits made meanwhile survive a second open, which says nothing.
  std::ofstream(editing + "/mesh.im") << "edited";
  VADAssetHandle again = VADOpenAsset(a_, true, &log);
  EXPECT_TRUE(again.IsValid());
  EXPECT_EQ(Editing(a_), editing);
  EXPECT_EQ(Read(editing + "/mesh.im"), "edited");
  EXPECT_EQ(Lines(log).size(), 1u);
}

TEST_F(AssetEditTest, OpenEdgeCases) {
  RecordOnly(a_, "bare");
  VADAssetInfo* editingOnly = RecordOnly(b_, "draft");
  root_.WriteFile("editing/draft/config.txt", "kuid <kuid:400:2>\n");
  editingOnly->editingPath = "editing\\draft";
  VADAssetInfo* locked = Local(KUID(400, 3, 0), "locked");
  locked->permissions &= ~VADAssetInfo::kPermitEdit;

  // A record without folders gets an empty editing folder.
  ResultsLog log;
  VADAssetHandle bare = VADOpenAsset(a_, true, &log);
  ASSERT_TRUE(bare.IsValid());
  ASSERT_FALSE(Editing(a_).empty());
  EXPECT_TRUE(std::filesystem::is_empty(Editing(a_)));
  ASSERT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(Lines(log)[0].text, "$vad_log_openforedit_success");

  struct Case {
    KUID kuid;
    bool forEdit;
    const char* message;  // null: none
  };
  const Case cases[] = {
      {b_, false, "$vad_not_committed"},
      {KUID(400, 3, 0), true, "$vad_edit_perm"},
      {KUID(999, 9, 0), false, nullptr},
      {KUID(999, 9, 0), true, nullptr},
  };
  for (const Case& c : cases) {
    ResultsLog caseLog;
    VADAssetHandle handle = VADOpenAsset(c.kuid, c.forEdit, &caseLog);
    EXPECT_FALSE(handle.IsValid()) << c.kuid.ToConfigText().c_str();
    auto lines = Lines(caseLog);
    if (!c.message) {
      EXPECT_TRUE(lines.empty());
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].severity, ResultsLog::kError);
    EXPECT_EQ(lines[0].text, c.message);
    EXPECT_EQ(lines[0].kuid, c.kuid.ToConfigText().c_str());
  }
  EXPECT_TRUE(Editing(KUID(400, 3, 0)).empty());
}

TEST_F(AssetEditTest, HandlesShareOneCountBlock) {
  Local(a_, "shed");
  VADAssetHandle first = VADOpenAsset(a_, false, nullptr);
  ASSERT_TRUE(first.IsValid());
  EXPECT_EQ(first.GetKUID(), a_);
  {
    VADAssetHandle copy(first);
    VADAssetHandle assigned;
    assigned = copy;
    EXPECT_EQ(first.UseCount(), 3);
    assigned = assigned;
    EXPECT_EQ(first.UseCount(), 3);
  }
  EXPECT_EQ(first.UseCount(), 1);
  Vak::File::Path path;
  ASSERT_TRUE(first.GetPath(path));
  EXPECT_EQ(std::string(path), Root("local/shed"));
  VADAssetHandle none;
  EXPECT_FALSE(none.IsValid());
  EXPECT_FALSE(none.GetPath(path));
  EXPECT_STREQ(path, "");
  EXPECT_TRUE(none.GetKUID().IsNull());
}

// What a reload does to the records: every one is freed, and the index is
// read anew into new ones (here: the same asset, or without it).
TEST_F(AssetEditTest, AHandleFindsItsAssetAgainAfterAReload) {
  Local(a_, "shed");
  Local(b_, "barn");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  VADAssetHandle other = VADOpenAsset(b_, false, nullptr);
  ASSERT_TRUE(handle.IsValid());
  const VADAssetInfo saved = *gVadAssetIndex.Find(a_);

  gVadAssetIndex.Clear();
  gVadAssetIndex.Insert(saved);
  EXPECT_TRUE(handle.IsValid());
  Vak::File::Path path;
  ASSERT_TRUE(handle.GetPath(path));
  EXPECT_EQ(std::string(path), std::string(saved.GetEditingFolder()));
  EXPECT_FALSE(other.IsValid()) << "its asset is gone";
  EXPECT_FALSE(other.GetPath(path));

  bool kept = false;
  ResultsLog log;
  EXPECT_TRUE(VADCommitAssetEdits(handle, 0, &log, kept));
  gVadAssetIndex.Clear();
  EXPECT_FALSE(handle.IsValid());
  EXPECT_FALSE(VADCommitAssetEdits(handle, 0, &log, kept));
  EXPECT_FALSE(VADRevertAsset(handle, &log));
}

// ---- status

TEST_F(AssetEditTest, StatusOfAnUnknownAssetKeepsItsStart) {
  VADAssetStatus status;
  EXPECT_FALSE(VADGetAssetStatus(a_, status, 0xFF));
  EXPECT_EQ(status.number, -1);
  EXPECT_EQ(status.stateByte, 255);
  EXPECT_FALSE(status.valid);
  EXPECT_FALSE(VADHasMissingDependencies(a_, 0));
  EXPECT_TRUE(VADHasMissingDependencies(a_, 1));
  EXPECT_STREQ(VADGetAssetName(a_), "");
}

TEST_F(AssetEditTest, StatusFieldsComeFromTheRecord) {
  VADAssetInfo* record = Local(a_, "shed");
  record->categoryClasses = "BIN";
  record->secondaryName = "Schuppen";
  record->regionList = "Europe";
  record->sizeOnDisk = 1234;
  record->localRating = 3;
  record->flags = VADAssetInfo::kReskin | VADAssetInfo::kFavourite | VADAssetInfo::kDownloadStation;
  record->editingPath = "editing\\shed";
  record->eraList = "1950s";

  VADAssetStatus status;
  ASSERT_TRUE(VADGetAssetStatus(a_, status, 0xFF));
  EXPECT_STREQ(status.name, "Schuppen");
  EXPECT_STREQ(status.text0, "BIN");
  EXPECT_STREQ(status.text1, "shed");
  EXPECT_STREQ(status.text2, "Europe");
  EXPECT_EQ(status.number, 1234);
  EXPECT_EQ(status.stateByte, 3);
  EXPECT_EQ(status.stateLow, 0x09);
  EXPECT_EQ(status.userId, 400);
  EXPECT_TRUE(status.valid);
  EXPECT_EQ(status.Flags() & 0x1CC, 0x14Cu) << "open for edit, on the station, installed, local";
  EXPECT_EQ(status.commitAllowed, 1);

  VADAssetStatus bare;
  ASSERT_TRUE(VADGetAssetStatus(a_, bare, 0));
  EXPECT_STREQ(bare.name, "");
  EXPECT_STREQ(bare.text0, "");
  EXPECT_EQ(bare.number, 1234);

  EXPECT_STREQ(VADGetAssetName(a_), "Schuppen");
  EXPECT_STREQ(VADGetAssetEraList(a_), "1950s");
  EXPECT_STREQ(VADGetAssetRegionList(a_), "Europe");
}

TEST_F(AssetEditTest, TheArchivedAnswerIsCachedInTheRecord) {
  VADAssetInfo* record = Local(a_, "shed");
  PersistentRecordList::Global().Add()->kuids.Append(a_);
  VADAssetStatus status;
  ASSERT_TRUE(VADGetAssetStatus(a_, status, 0x10));
  EXPECT_TRUE(status.state & VADAssetStatus::kInArchive);
  // Known now: the list is not asked again.
  PersistentRecordList::Global().Clear();
  ASSERT_TRUE(VADGetAssetStatus(a_, status, 0x10));
  EXPECT_TRUE(status.state & VADAssetStatus::kInArchive);
  record->UpdateFlags(VADAssetInfo::kInArchiveKnown, 0);
  ASSERT_TRUE(VADGetAssetStatus(a_, status, 0x10));
  EXPECT_FALSE(status.state & VADAssetStatus::kInArchive);
  ASSERT_TRUE(VADGetAssetStatus(a_, status, 0));
  EXPECT_FALSE(status.state & VADAssetStatus::kInArchive) << "not asked for";
}

TEST_F(AssetEditTest, StatusLetters) {
  struct Case {
    const char* name;
    bool local, editing, archived, station, faulty, missing;
    const char* letters;
  };
  const Case cases[] = {
      {"record only", false, false, false, false, false, false, "eiadlme"},
      {"local", true, false, false, false, false, false, "eIadLme"},
      {"editing only", false, true, false, false, false, false, "EIadlme"},
      {"archived", true, false, true, false, false, false, "eIAdLme"},
      {"on the station", false, false, false, true, false, false, "eiaDlme"},
      {"missing dependencies", true, false, false, false, false, true, "eIadLMe"},
      {"errors", true, false, false, false, true, false, "eIadLmE"},
      {"errors without a folder do not count", false, true, false, false, true, false, "EIadlme"},
      {"everything", true, true, true, true, true, true, "EIADLME"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const KUID kuid(500, ++n, 0);
    VADAssetInfo* record = c.local ? Local(kuid, "asset" + std::to_string(n)) : RecordOnly(kuid, "x");
    if (c.editing) record->editingPath = "editing\\x";
    if (c.archived) PersistentRecordList::Global().Add()->kuids.Append(kuid);
    if (c.station) record->UpdateFlags(0, VADAssetInfo::kDownloadStation);
    if (c.faulty) record->UpdateStateFlags(0, VADAssetInfo::kFaulty);
    record->UpdateStateFlags(0, VADAssetInfo::kMissingKnown | (c.missing ? VADAssetInfo::kMissingAnswer : 0));
    EXPECT_STREQ(VADStatusLetters(kuid), c.letters) << c.name;
  }
}

class DescriptionNetwork : public QuietNetwork {
public:
  PString GetUserName(int32_t id) override { return id == 0 ? PString() : PString(("#" + std::to_string(id)).c_str()); }
  Vak::String RequestDescription(const KUID& kuid) override {
    asked.push_back(kuid);
    return Vak::String("from the station");
  }
  std::vector<KUID> asked;
};

TEST_F(AssetEditTest, DescriptionsComeFromTheRecordTheConfigOrTheStation) {
  DescriptionNetwork network;
  GetVADServices().network = &network;
  VADAssetInfo* own = Local(a_, "own");
  own->description = "the record's";
  WriteConfig("local/configured", "kuid <kuid:400:2>\ndescription \"the config's\"\n");
  gVadAssetIndex.Insert(LocalRecord(b_, "configured"));
  RecordOnly(KUID(400, 3, 0), "remote");
  Local(KUID(400, 4, 0), "silent");

  EXPECT_STREQ(VADGetAssetDescription(a_), "the record's");
  EXPECT_STREQ(VADGetAssetDescription(b_), "the config's");
  EXPECT_STREQ(VADGetAssetDescription(KUID(400, 3, 0)), "from the station");
  EXPECT_STREQ(VADGetAssetDescription(KUID(400, 4, 0)), "") << "installed: the station is not asked";
  EXPECT_STREQ(VADGetAssetDescription(KUID(999, 1, 0)), "");
  EXPECT_EQ(network.asked, std::vector<KUID>{KUID(400, 3, 0)});

  EXPECT_EQ(VADGetAssetConfig(b_).GetChildKUID(PString("kuid"), KUID::Null()), b_);
  EXPECT_TRUE(VADGetAssetConfig(KUID(999, 1, 0)).IsNull());
  PString author;
  EXPECT_TRUE(VADGetAuthorName(400, author));
  EXPECT_STREQ(author.c_str(), "#400");
  EXPECT_FALSE(VADGetAuthorName(0, author));
  GetVADServices().network = nullptr;
}

// ---- commit

TEST_F(AssetEditTest, CommitMovesTheEditingCopyIntoANewLocalFolder) {
  RecordOnly(a_, "new");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  root_.WriteFile(editing.substr(root_.Path().string().size() + 1) + "/config.txt",
                  "kuid <kuid:400:1>\nname \"committed\"\nkind \"scenery\"\n");
  std::ofstream(editing + "/body.im") << "body";
  gVadAssetIndex.globalData.MakeContainer();
  ACSChunkPtr author;
  author.MakeContainer();
  author.SetChildString(a_.ToConfigText(), "x");
  gVadAssetIndex.globalData.SetChild(PString("400"), author);

  ResultsLog log;
  bool kept = false;
  ASSERT_TRUE(VADCommitAssetEdits(handle, 0, &log, kept));
  EXPECT_FALSE(kept);
  EXPECT_EQ(handle.GetMode(), VADAssetHandle::kRead);
  EXPECT_FALSE(std::filesystem::exists(editing));
  EXPECT_TRUE(Editing(a_).empty());
  const std::string local = LocalOf(a_);
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(local.rfind(Root("local/hash-"), 0), 0u);
  EXPECT_EQ(Read(local + "/body.im"), "body");
  EXPECT_STREQ(gVadAssetIndex.Find(a_)->name, "committed");
  EXPECT_FALSE(gVadAssetIndex.globalData.HasChild(PString("400")));
  auto lines = Lines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "$vad_log_commit_success");
  EXPECT_EQ(lines[0].kuid, aText_);
}

TEST_F(AssetEditTest, CommitFailuresKeepTheEditingFolder) {
  Local(a_, "shed");
  ResultsLog log;
  bool kept = false;
  VADAssetHandle read = VADOpenAsset(a_, false, nullptr);
  EXPECT_FALSE(VADCommitAssetEdits(read, 0, &log, kept));
  VADAssetHandle none;
  EXPECT_FALSE(VADCommitAssetEdits(none, 0, &log, kept));
  EXPECT_TRUE(Lines(log).empty()) << "no message for a read handle";

  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  std::ofstream(editing + "/config.txt") << "kuid <kuid:400:77>\n";
  EXPECT_FALSE(VADCommitAssetEdits(handle, 0, &log, kept));
  ASSERT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(Lines(log)[0].text, "$vad_commit_wrong_kuid");
  EXPECT_EQ(Editing(a_), editing);
  EXPECT_TRUE(std::filesystem::exists(editing + "/mesh.im"));
  EXPECT_EQ(Read(Root("local/shed/config.txt")).find("400:77"), std::string::npos);
  EXPECT_EQ(handle.GetMode(), VADAssetHandle::kEdit);

  std::filesystem::remove(editing + "/config.txt");
  ResultsLog missing;
  EXPECT_FALSE(VADCommitAssetEdits(handle, 0, &missing, kept));
  ASSERT_EQ(Lines(missing).size(), 1u);
  EXPECT_EQ(Lines(missing)[0].text, "$vad_commit_missing_config");

  // A record without a local folder does not keep the one made for it.
  VADAssetInfo* bare = RecordOnly(b_, "bare");
  VADAssetHandle bareHandle = VADOpenAsset(b_, true, nullptr);
  EXPECT_FALSE(VADCommitAssetEdits(bareHandle, 0, nullptr, kept));
  EXPECT_FALSE(bare->HasLocalFolder());
  EXPECT_FALSE(bare->IsInstalled());
}

// Files put together in a "temp" folder of the hash folder become the local
// folder as they are; a commit that fails leaves them open for edit instead.
TEST_F(AssetEditTest, StagedFolderIsCommittedInPlaceOrLeftOpenForEdit) {
  struct Case {
    const char* what;
    bool permitted;
    bool badFile;
    uint32_t flags;
    std::vector<std::string> lines;  // the last is the commit's own
  };
  const Case cases[] = {
      {"committed", true, false, 0, {"$vad_log_commit_success"}},
      {"check skipped", true, true, kCommitSkipFileCheck, {"$vad_log_commit_success"}},
      {"no permission", false, false, 0, {"$vad_commit_perm"}},
      {"check fails", true, true, 0, {"$vad_package_file_bad_ext", "$vad_commit_invalid_files"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gVadAssetIndex.Clear();
    std::filesystem::remove_all(Root("local"));
    std::filesystem::remove_all(Root("editing"));
    VADAssetInfo* record = RecordOnly(a_, "staged");
    if (!c.permitted) record->permissions &= ~VADAssetInfo::kPermitCommit;
    const std::string staged(MakeLocalStagingFolder(a_));
    ASSERT_FALSE(staged.empty());
    std::ofstream(staged + "/config.txt") << "kuid <kuid:400:1>\nname \"committed\"\nkind \"scenery\"\n";
    std::ofstream(staged + "/body.im") << "body";
    if (c.badFile) std::ofstream(staged + "/notes.xyz") << "?";

    ResultsLog log;
    const bool committed = c.lines.back() == "$vad_log_commit_success";
    EXPECT_EQ(VADCommitStagedFolder(*record, staged.c_str(), c.flags, &log), committed);
    std::vector<std::string> texts;
    for (const Logged& line : Lines(log)) texts.push_back(line.text);
    EXPECT_EQ(texts, c.lines);
    EXPECT_FALSE(std::filesystem::exists(staged));
    const std::string folder = committed ? LocalOf(a_) : Editing(a_);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(committed ? Editing(a_) : LocalOf(a_), "");
    EXPECT_EQ(Read(folder + "/body.im"), "body");
    EXPECT_EQ(gVadAssetIndex.Find(a_)->IsInstalled(), committed);
    if (committed) {
      EXPECT_STREQ(gVadAssetIndex.Find(a_)->name, "committed");
    }
  }
}

// The folders made directly in `folder` while `run` runs.
std::vector<std::string> FoldersMadeIn(const std::string& folder, const std::function<void()>& run) {
  const int watch = inotify_init1(IN_NONBLOCK);
  EXPECT_GE(watch, 0);
  EXPECT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
  run();
  std::vector<std::string> made;
  alignas(inotify_event) char buffer[8192];
  for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if ((event->mask & IN_ISDIR) && event->len > 0) made.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  return made;
}

// A rewrite makes one temporary folder for the new content; where the
// folders are exchanged in one step, the old content needs none.
TEST_F(AssetEditTest, RewriteMakesOnlyTheFolderItUses) {
  Local(a_, "shed");
  std::filesystem::create_directories(Root("editing"));
  VADAssetHandle handle;
  const std::vector<std::string> opened = FoldersMadeIn(Root("editing"), [&] {
    handle = VADOpenAsset(a_, true, nullptr);
  });
  ASSERT_FALSE(Editing(a_).empty());
  // The editing folder itself, and the copy that takes its place.
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(std::count_if(opened.begin(), opened.end(), [](const std::string& name) { return name.rfind("temp", 0) == 0; }), 1);

  const std::vector<std::string> committed = FoldersMadeIn(Root("local"), [&] {
    bool kept = false;
    EXPECT_TRUE(VADCommitAssetEdits(handle, 0, nullptr, kept));
  });
  ASSERT_EQ(committed.size(), 1u);
  EXPECT_EQ(committed[0].rfind("temp", 0), 0u);
  EXPECT_EQ(Read(Root("local/shed/mesh.im")), "mesh of shed");
}

TEST_F(AssetEditTest, AnEditingFolderThatWillNotGoIsReportedAsKept) {
  Local(a_, "shed");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  std::ofstream(editing + "/mesh.im") << "changed";
  gUndeletable = "editing";
  bool kept = false;
  ResultsLog log;
  ASSERT_TRUE(VADCommitAssetEdits(handle, 0, &log, kept));
  EXPECT_TRUE(kept);
  EXPECT_TRUE(Editing(a_).empty());
  EXPECT_TRUE(std::filesystem::exists(editing));
  EXPECT_EQ(Read(Root("local/shed/mesh.im")), "changed");
}

// ---- revert and create

TEST_F(AssetEditTest, RevertDiscardsTheEditingCopy) {
  Local(a_, "shed");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  ResultsLog log;
  ASSERT_TRUE(VADRevertAsset(handle, &log));
  EXPECT_FALSE(std::filesystem::exists(editing));
  EXPECT_TRUE(Editing(a_).empty());
  EXPECT_NE(gVadAssetIndex.Find(a_), nullptr);
  ASSERT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(Lines(log)[0].text, "$vad_log_revert_success");
  EXPECT_FALSE(VADRevertAsset(handle, &log)) << "nothing left to revert";
  EXPECT_EQ(Lines(log).size(), 1u);
}

TEST_F(AssetEditTest, AnEditingFolderThatWillNotGoStaysInTheRecord) {
  Local(a_, "shed");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  gUndeletable = "editing";
  ResultsLog log;
  EXPECT_FALSE(VADRevertAsset(handle, &log));
  EXPECT_EQ(Editing(a_), editing);
  EXPECT_TRUE(Lines(log).empty());
}

TEST_F(AssetEditTest, CreateWithTheNullKuidTakesTheNextFreeKuidOfTheUser) {
  // The base stands just below a known asset, which the generator must skip.
  Local(a_, "shed");
  std::filesystem::create_directories(root_.Path() / "settings");
  KuidBaseFile::Init(root_.Path().c_str());
  ASSERT_TRUE(KuidBaseFile::SetBase(KUID(a_.user, a_.content - 1, 0)));
  VADAssetHandle handle = VADCreateAsset(KUID::Null(), true, "Fresh");
  KuidBaseFile::Reset();
  ASSERT_TRUE(handle.IsValid());
  const KUID expected(a_.user, a_.content + 1, 0);
  EXPECT_EQ(handle.GetKUID(), expected);
  ASSERT_NE(gVadAssetIndex.Find(expected), nullptr);
  EXPECT_STREQ(gVadAssetIndex.Find(expected)->name, "Fresh");
}

TEST_F(AssetEditTest, CreateMakesARecordOpenForEditAndRevertRemovesIt) {
  VADAssetHandle handle = VADCreateAsset(a_, true, "Fresh");
  ASSERT_TRUE(handle.IsValid());
  EXPECT_EQ(handle.GetMode(), VADAssetHandle::kEdit);
  Vak::File::Path folder;
  ASSERT_TRUE(handle.GetPath(folder));
  ACSChunkPtr config;
  ASSERT_TRUE(config.Load(nullptr, (std::string(folder) + "/config.txt").c_str()));
  EXPECT_EQ(config.GetChildKUID(PString("kuid"), KUID::Null()), a_);
  EXPECT_STREQ(config.GetChildString(PString("kind")).c_str(), "unknown");
  EXPECT_STREQ(gVadAssetIndex.Find(a_)->name, "Fresh");
  VADLog& databaseLog = VADLog::Instance();
  databaseLog.LockLog();
  const VADLog::Entry* entry = nullptr;
  for (const VADLog::Entry* e : databaseLog.FinishedList()) entry = e;
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(entry->kuid);
  EXPECT_EQ(*entry->kuid, a_);
  Vak::AnsiString expected(GetInterfaceString(PString("$vad_log_asset_created")).c_str());
  ResultsLog::ExpandMacro(aText_.c_str(), expected, "ASSET_KUID");
  EXPECT_STREQ(entry->text, expected);
  databaseLog.UnlockLog();
  EXPECT_FALSE(VADCreateAsset(a_, true, "Twice").IsValid());

  ASSERT_TRUE(VADRevertAsset(handle, nullptr));
  EXPECT_EQ(gVadAssetIndex.Find(a_), nullptr);
  EXPECT_FALSE(std::filesystem::exists(std::string(folder)));
}

// ---- delete

TEST_F(AssetEditTest, DeleteRemovesEveryCopyAndTheRecord) {
  Local(a_, "shed");
  VADAssetHandle handle = VADOpenAsset(a_, true, nullptr);
  const std::string editing = Editing(a_);
  ResultsLog log;
  ASSERT_TRUE(VADDeleteAsset(a_, true, &log));
  EXPECT_EQ(gVadAssetIndex.Find(a_), nullptr);
  EXPECT_FALSE(std::filesystem::exists(editing));
  EXPECT_FALSE(std::filesystem::exists(Root("local/shed")));
  ASSERT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(Lines(log)[0].text, "$vad_log_delete_success");
  EXPECT_FALSE(handle.IsValid());
  EXPECT_FALSE(VADDeleteAsset(a_, true, &log));

  Local(b_, "barn");
  ASSERT_TRUE(VADDeleteAsset(b_, false, nullptr));
  ASSERT_NE(gVadAssetIndex.Find(b_), nullptr) << "kept when asked";
  EXPECT_FALSE(gVadAssetIndex.Find(b_)->HasAnyLocation());
}

TEST_F(AssetEditTest, DeleteEdgeCases) {
  // Archived: nothing goes.
  Local(a_, "kept");
  PersistentRecordList::Global().Add()->kuids.Append(a_);
  ResultsLog log;
  EXPECT_FALSE(VADDeleteAsset(a_, true, &log));
  ASSERT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(Lines(log)[0].text, "$vad_log_delete_err_archive");
  EXPECT_TRUE(std::filesystem::exists(Root("local/kept/mesh.im")));
  EXPECT_NE(gVadAssetIndex.Find(a_), nullptr);

  // Built in: the editing and local copies go, the archive and record stay.
  VADAssetInfo* builtIn = Local(b_, "builtin");
  builtIn->UpdateStateFlags(0, VADAssetInfo::kBuiltIn);
  builtIn->archiveName = PString("base");
  builtIn->archivePath = "builtin";
  root_.WriteFile("base/builtin/config.txt", "kuid <kuid:400:2>\n");
  VADAssetHandle edit = VADOpenAsset(b_, true, nullptr);
  ASSERT_TRUE(edit.IsValid());
  const std::string editing = Editing(b_);
  ASSERT_TRUE(VADDeleteAsset(b_, true, nullptr));
  ASSERT_NE(gVadAssetIndex.Find(b_), nullptr);
  EXPECT_TRUE(gVadAssetIndex.Find(b_)->HasArchiveLocation());
  EXPECT_TRUE(std::filesystem::exists(Root("base/builtin/config.txt")));
  EXPECT_FALSE(std::filesystem::exists(Root("local/builtin")));
  EXPECT_FALSE(std::filesystem::exists(editing));
}

// Assets committed by a package install with a matching signature live in
// the folder archive "local"; each owns only its own folder there.
TEST_F(AssetEditTest, DeletingAFolderArchiveAssetRemovesOnlyItsOwnFolder) {
  for (const char* name : {"hash-01/contentA", "hash-01/contentB"})
    root_.WriteFile(std::string("local/") + name + "/config.txt", "kuid <kuid:400:9>\n");
  VADAssetInfo* record = RecordOnly(a_, "packaged");
  record->localPath = "local\\hash-01\\contentA";
  record->FixLegacyLocalPath();
  ASSERT_STREQ(record->archiveName.c_str(), "local");
  RecordOnly(b_, "neighbour")->localPath = "local\\hash-01\\contentB";

  ASSERT_TRUE(VADDeleteAsset(a_, true, nullptr));
  EXPECT_EQ(gVadAssetIndex.Find(a_), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Root("local/hash-01/contentA")));
  EXPECT_TRUE(std::filesystem::exists(Root("local/hash-01/contentB/config.txt")));

  // A location naming the whole archive is not the asset's to delete.
  VADAssetInfo* whole = RecordOnly(KUID(400, 5, 0), "whole");
  whole->archiveName = PString("local");
  whole->archivePath = ".";
  EXPECT_FALSE(VADDeleteAsset(KUID(400, 5, 0), true, nullptr));
  EXPECT_TRUE(std::filesystem::exists(Root("local/hash-01/contentB/config.txt")));
  EXPECT_NE(gVadAssetIndex.Find(KUID(400, 5, 0)), nullptr);
}

TEST_F(AssetEditTest, AFolderThatWillNotGoStaysInTheRecord) {
  struct Case {
    const char* undeletable;
    bool editing;
  };
  const Case cases[] = {{"editing", true}, {"local", false}, {"local", true}};
  int n = 0;
  for (const Case& c : cases) {
    const KUID kuid(401, ++n, 0);
    Local(kuid, "asset" + std::to_string(n));
    if (c.editing) {
      ASSERT_TRUE(VADOpenAsset(kuid, true, nullptr).IsValid());
    }
    const std::string editing = Editing(kuid);
    const std::string local = LocalOf(kuid);
    gUndeletable = c.undeletable;
    ResultsLog log;
    EXPECT_FALSE(VADDeleteAsset(kuid, true, &log)) << c.undeletable;
    gUndeletable.clear();
    const VADAssetInfo* record = gVadAssetIndex.Find(kuid);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(LocalOf(kuid), local) << "the local folder stays known";
    if (std::string(c.undeletable) == "editing") {
      EXPECT_EQ(Editing(kuid), editing);
    }
    EXPECT_TRUE(Lines(log).empty());
  }
}

// ---- order against a kill

// A folder change that the index file on disk still describes survives a
// kill unseen: the next start reads that file and never restores. So each
// operation demotes the file (its first change) before any folder moves.
bool gIndexFileStood = false;
void NoteIndexFile() {
  Vak::File::Path index = GetDatabaseRootPath();
  index.AddPath("assets.tdx");
  gIndexFileStood = gIndexFileStood || Vak::File::Exists(index).Ok();
}
bool NotingDelete(const char* path) {
  NoteIndexFile();
  return RefusingDelete(path);
}
bool NotingRename(const char* from, const char* to) {
  NoteIndexFile();
  return gRealRename(from, to);
}

TEST_F(AssetEditTest, FoldersMoveOnlyOnceTheIndexFileIsDemoted) {
  gRealRename = gVadRewriteRename;
  gVadRewriteRename = NotingRename;
  gVadRewriteExchange = false;
  gVadDeleteFolder = NotingDelete;
  VADAssetHandle handle;
  struct Case {
    const char* what;
    std::function<void()> setUp;
    std::function<bool()> run;
  };
  const Case cases[] = {
      {"delete", [&] { Local(a_, "shed"); }, [&] { return VADDeleteAsset(a_, true, nullptr); }},
      {"commit over a local folder",
       [&] {
         Local(b_, "barn");
         handle = VADOpenAsset(b_, true, nullptr);
       },
       [&] {
         bool kept = false;
         return VADCommitAssetEdits(handle, 0, nullptr, kept);
       }},
      {"revert", [&] { handle = VADOpenAsset(b_, true, nullptr); }, [&] { return VADRevertAsset(handle, nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.setUp();
    root_.WriteFile("assets.tdx", "the index as the run found it");
    gVadAssetIndex.ClearDirtyFlags();
    gIndexFileStood = false;
    EXPECT_TRUE(c.run());
    EXPECT_FALSE(gIndexFileStood);
    EXPECT_TRUE(std::filesystem::exists(Root("cache/assets.bku")));
  }
}

} // namespace
