// VelmarUtil killed with SIGKILL at seeded random points of a delete batch,
// a commit batch and an installcdp of a package it made itself. After each
// kill the installation is opened again through the program, and what its
// status shows must agree with the folders on disk: no asset without its
// folders, no committed edit shown as open, no folder the index does not
// name, and nothing the killed run reported as done undone.
//
// A few rounds by default; VELMAR_KILL_ROUNDS=N runs N (spread over the
// three commands).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "content/ACSChunkPtr.h"
#include "content/KUID.h"
#include "tests/e2e/E2ESupport.h"

namespace {

namespace fs = std::filesystem;
using e2e::Installation;

constexpr int kAssets = 20;
constexpr int kFiles = 5;

int Rounds() {
  const char* text = std::getenv("VELMAR_KILL_ROUNDS");
  const int rounds = text ? std::atoi(text) : 0;
  return rounds > 0 ? rounds : 3;
}

std::string KuidText(int content) { return "<kuid:414142:" + std::to_string(content) + ">"; }

std::string FileName(int file) { return file % 2 ? "art/f" + std::to_string(file) + ".bmp" : "f" + std::to_string(file) + ".im"; }

// Bytes no other file shares, long enough that a copy takes a moment.
std::string FileBytes(const std::string& kuid, int file) {
  std::string text = kuid + " file " + std::to_string(file) + "\n";
  while (text.size() < 4000) text += text;
  return text;
}

// The round's assets, each in its own folder under `folder`.
std::vector<std::string> WriteAssets(const std::string& folder, int first) {
  std::vector<std::string> kuids;
  for (int n = 0; n < kAssets; ++n) {
    const std::string kuid = KuidText(first + n);
    const std::string asset = folder + "/a" + std::to_string(n);
    e2e::WriteText(asset + "/config.txt", "kuid " + kuid + "\r\nkind \"scenery\"\r\nusername \"Kill Asset " +
                                              std::to_string(first + n) + "\"\r\nvelmar-build 3.1\r\n");
    for (int j = 0; j < kFiles; ++j) e2e::WriteText(asset + "/" + FileName(j), FileBytes(kuid, j));
    kuids.push_back(kuid);
  }
  return kuids;
}

std::string Batch(const char* command, const std::vector<std::string>& kuids) {
  std::string text;
  for (const std::string& kuid : kuids) text += std::string(command) + " " + kuid + "\n";
  return text;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// VelmarUtil running in the background, its output in a file.
class Background {
public:
  Background(const Installation& install, const std::vector<std::string>& arguments, const std::string& output)
      : output_(output) {
    std::vector<std::string> line{"/bin/sh", "-c", "out=$1; shift; exec \"$@\" >\"$out\" 2>&1", "sh", output,
                                  install.Program()};
    line.insert(line.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(process_.Start(line), platform::Error::None);
  }
  ~Background() { Kill(); }
  std::string Output() const { return e2e::ReadText(output_); }
  // Until `reached` holds or the run ends; false after a generous bound.
  template <typename Predicate>
  bool Await(Predicate reached) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!reached() && process_.IsRunning()) {
      if (std::chrono::steady_clock::now() > limit) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }
  // True when the kill cut the run short.
  bool Kill() {
    process_.Kill();
    process_.Wait(platform::kInfinite);
    return process_.ExitCode() == 128 + 9;
  }

private:
  std::string output_;
  platform::Process process_;
};

// What the status command shows of an asset.
struct Shown {
  bool known = false;
  bool open = false;       // E
  bool installed = false;  // I
  bool local = false;      // L
};

std::map<std::string, Shown> StatusOf(const Installation& install, const std::set<std::string>& kuids) {
  std::string batch;
  for (const std::string& kuid : kuids) batch += "status " + kuid + "\n";
  const e2e::Result result = install.RunBatch(batch);
  EXPECT_EQ(result.err, "");
  std::map<std::string, Shown> shown;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("+ <kuid:", 0) != 0) continue;
    const std::size_t colon = line.find(" : ");
    if (colon == std::string::npos || line.size() < colon + 3 + 7) continue;
    const std::string letters = line.substr(colon + 3, 7);
    Shown& s = shown[line.substr(2, colon - 2)];
    s.known = true;
    s.open = letters[0] == 'E';
    s.installed = letters[1] == 'I';
    s.local = letters[4] == 'L';
  }
  return shown;
}

// The asset folders on disk, by the KUID their config names.
struct OnDisk {
  std::map<std::string, std::vector<std::string>> editing, local;
  std::vector<std::string> unreadable;
};

void Collect(const std::string& folder, std::map<std::string, std::vector<std::string>>& into, OnDisk& disk) {
  ACSChunkPtr config;
  for (const char* name : {"config.chump", "config.txt"}) {
    if (fs::exists(folder + "/" + name) && config.Load(nullptr, (folder + "/" + name).c_str())) break;
    config = ACSChunkPtr();
  }
  const KUID kuid = config.IsNull() ? KUID::Null() : config.GetChildKUID(Vak::PString("kuid"), KUID::Null());
  if (kuid.IsNull()) disk.unreadable.push_back(folder);
  else into[kuid.ToConfigText().c_str()].push_back(folder);
}

std::vector<std::string> SubFolders(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_directory()) found.push_back(entry.path().string());
  return found;
}

OnDisk FoldersOf(const std::string& root) {
  OnDisk disk;
  for (const std::string& folder : SubFolders(root + "/editing")) Collect(folder, disk.editing, disk);
  for (const std::string& hash : SubFolders(root + "/local"))
    for (const std::string& folder : SubFolders(hash)) Collect(folder, disk.local, disk);
  return disk;
}

int LocalFolderCount(const std::string& root) {
  int count = 0;
  for (const std::string& hash : SubFolders(root + "/local")) count += static_cast<int>(SubFolders(hash).size());
  return count;
}

// Every file of the asset, whole.
::testing::AssertionResult Whole(const std::string& folder, const std::string& kuid) {
  for (int j = 0; j < kFiles; ++j)
    if (e2e::ReadText(folder + "/" + FileName(j)) != FileBytes(kuid, j))
      return ::testing::AssertionFailure() << folder << "/" << FileName(j) << " is not whole";
  return ::testing::AssertionSuccess();
}

enum class Kind { kDelete, kCommit, kInstall };

// What the run reported done: per KUID, the state it must be found in.
enum class Done { kNothing, kDeleted, kCommitted };

// Opens the installation through the program and checks it against the
// folders on disk and what the killed run reported.
void ExpectAgreement(const Installation& install, const std::vector<std::string>& kuids,
                     const std::map<std::string, Done>& done) {
  // Every asset a folder names as well as the round's; the folders are read
  // again after the reopen, which may have moved leftovers to "trash".
  std::set<std::string> asked(kuids.begin(), kuids.end());
  const OnDisk before = FoldersOf(install.Root());
  for (const auto* folders : {&before.editing, &before.local})
    for (const auto& [kuid, paths] : *folders) asked.insert(kuid);
  const std::map<std::string, Shown> shown = StatusOf(install, asked);
  const OnDisk now = FoldersOf(install.Root());
  EXPECT_EQ(now.unreadable, std::vector<std::string>()) << "folders holding no asset are outside the index";
  for (const std::string& kuid : asked) {
    SCOPED_TRACE(kuid);
    const auto s = shown.count(kuid) ? shown.at(kuid) : Shown();
    const auto editing = now.editing.count(kuid) ? now.editing.at(kuid) : std::vector<std::string>();
    const auto local = now.local.count(kuid) ? now.local.at(kuid) : std::vector<std::string>();
    EXPECT_LE(editing.size(), 1u) << "a second editing copy is outside the index";
    EXPECT_LE(local.size(), 1u) << "a second local copy is outside the index";
    // No record without its folders, no folder without its record.
    EXPECT_EQ(s.known, !editing.empty() || !local.empty());
    EXPECT_EQ(s.open, !editing.empty());
    EXPECT_EQ(s.installed, !editing.empty() || !local.empty());
    if (s.local) {
      EXPECT_FALSE(local.empty());
    }
    if (!local.empty()) {
      EXPECT_TRUE(s.local || !s.open) << "the local copy is not the record's";
    }
    for (const std::string& folder : local) EXPECT_TRUE(Whole(folder, kuid));
    const auto reported = done.find(kuid);
    if (reported == done.end()) continue;
    if (reported->second == Done::kDeleted) {
      EXPECT_FALSE(s.known) << "deleted, and back";
    } else if (reported->second == Done::kCommitted) {
      EXPECT_TRUE(s.installed && !s.open && local.size() == 1u) << "committed, and not so";
    }
  }
}

class VelmarUtilKillTest : public ::testing::Test {
protected:
  Installation install_{"inst"};
  Installation source_{"source"};
  int next_ = 100;  // the first KUID content number of the next round's assets
};

TEST_F(VelmarUtilKillTest, KilledBatchesAndInstallsReopenConsistent) {
  std::mt19937 random(3939);
  const int rounds = Rounds();
  int cut = 0;  // runs the kill cut short
  for (int round = 0; round < rounds; ++round) {
    const Kind kind = static_cast<Kind>(round % 3);
    const int target = static_cast<int>(random() % kAssets);
    const int extraUs = static_cast<int>(random() % 3000);
    SCOPED_TRACE("round " + std::to_string(round) + " kind " + std::to_string(round % 3) + " after " +
                 std::to_string(target) + " +" + std::to_string(extraUs) + "us");
    const std::string folder = install_.Scratch("round" + std::to_string(round));
    const std::vector<std::string> kuids = WriteAssets(folder, next_);
    next_ += kAssets;
    std::map<std::string, Done> done;
    const std::string output = install_.Scratch("kill" + std::to_string(round) + ".txt");

    if (kind == Kind::kInstall) {
      ASSERT_EQ(source_.Run({"installfrompath", folder}).code, 0);
      ASSERT_EQ(source_.RunBatch(Batch("commit", kuids)).code, 0);
      const std::string package = install_.Scratch("round" + std::to_string(round) + ".cdp");
      std::vector<std::string> arguments{"createcdp", package};
      arguments.insert(arguments.end(), kuids.begin(), kuids.end());
      const e2e::Result made = source_.Run(arguments);
      ASSERT_EQ(made.code, 0) << made.out;
      const int before = LocalFolderCount(install_.Root());
      Background run(install_, {"installcdp", package}, output);
      ASSERT_TRUE(run.Await([&] { return LocalFolderCount(install_.Root()) - before > target; }));
      std::this_thread::sleep_for(std::chrono::microseconds(extraUs));
      cut += run.Kill();
      // The command reports its installs only once all are done.
      if (Count(run.Output(), "Installed asset") == kAssets)
        for (const std::string& kuid : kuids) done[kuid] = Done::kCommitted;
    } else {
      ASSERT_EQ(install_.Run({"installfrompath", folder}).code, 0);
      if (kind == Kind::kDelete) {
        ASSERT_EQ(install_.RunBatch(Batch("commit", kuids)).code, 0);
      }
      const std::string batch = install_.Scratch("batch" + std::to_string(round) + ".txt");
      e2e::WriteText(batch, Batch(kind == Kind::kDelete ? "delete" : "commit", kuids));
      Background run(install_, {"@" + batch}, output);
      // One result line per command, printed once the command is done.
      const char* mark = kind == Kind::kDelete ? "OK (" : "Committed asset";
      ASSERT_TRUE(run.Await([&] { return Count(run.Output(), mark) > target; }));
      std::this_thread::sleep_for(std::chrono::microseconds(extraUs));
      cut += run.Kill();
      const int finished = std::min(Count(run.Output(), mark), kAssets);
      for (int n = 0; n < finished; ++n) done[kuids[n]] = kind == Kind::kDelete ? Done::kDeleted : Done::kCommitted;
      // Past the delete the kill cut short, the assets are as they were.
      if (kind == Kind::kDelete)
        for (int n = finished + 1; n < kAssets; ++n) done[kuids[n]] = Done::kCommitted;
    }
    ExpectAgreement(install_, kuids, done);
    if (HasFailure()) return;
  }
  EXPECT_GT(cut, 0) << "every run ended before its kill";
}

} // namespace
