// The editing cycle killed at random moments: every asset's local folder
// stays whole, old or new and never a mix, and an editing copy goes only
// once its local copy is complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/assetdb/TestSupport.h"
#include "tests/platform/os/TempFolder.h"

namespace {

constexpr int kAssets = 3;
constexpr int kFiles = 20;
constexpr int kRounds = 20;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The generation every file of the folder holds; -1 for a mix or a gap.
int WholeGeneration(const std::string& folder) {
  int generation = -2;
  for (int j = 0; j < kFiles; ++j) {
    std::ifstream in(folder + "/f" + std::to_string(j) + ".im");
    std::string word, fileWord;
    int g = -1, file = -1;
    if (!(in >> word >> g >> fileWord >> file) || file != j) return -1;
    if (generation != -2 && g != generation) return -1;
    generation = g;
  }
  if (!std::filesystem::exists(folder + "/config.txt")) return -1;
  return generation;
}

struct Progress {
  std::map<int, int> committed;  // asset: last generation reported committed
  std::map<int, int> edited;     // asset: last generation written to its editing copy
  int commits = 0;
};

Progress ReadProgress(const std::string& text) {
  Progress progress;
  std::istringstream lines(text);
  std::string what;
  int asset = 0, generation = 0;
  while (lines >> what) {
    if (what == "ready") continue;
    if (!(lines >> asset >> generation)) break;
    if (what == "committed") {
      progress.committed[asset] = generation;
      ++progress.commits;
    } else if (what == "edited") {
      progress.edited[asset] = generation;
    } else {
      ADD_FAILURE() << "the worker failed: " << what << " " << asset;
    }
  }
  return progress;
}

TEST(EditCrashTest, KilledCommitsLeaveWholeAssets) {
  platform::test::TempFolder root;
  for (int i = 0; i < kAssets; ++i) {
    const std::string folder = "local/asset" + std::to_string(i);
    root.WriteFile(folder + "/config.txt", "kuid <kuid:600:" + std::to_string(i + 1) + ">\n");
    for (int j = 0; j < kFiles; ++j)
      root.WriteFile(folder + "/f" + std::to_string(j) + ".im", "gen 0 file " + std::to_string(j) + "\n");
  }
  std::mt19937 random(20);
  const std::string output = root / "progress.txt";
  std::map<int, int> committed;
  int commits = 0;
  for (int round = 0; round < kRounds; ++round) {
    const int before = ReadProgress(ReadAll(output)).commits;
    const int target = before + 1 + static_cast<int>(random() % 4);
    const int extraUs = static_cast<int>(random() % 15000);
    platform::Process worker;
    ASSERT_EQ(worker.Start({EDIT_PEER_PATH, output, root.Path().string(), std::to_string(kAssets),
                            std::to_string(kFiles)}),
              platform::Error::None);
    ASSERT_TRUE(WaitUntil([&] { return ReadProgress(ReadAll(output)).commits >= target; })) << ReadAll(output);
    std::this_thread::sleep_for(std::chrono::microseconds(extraUs));
    worker.Kill();
    worker.Wait(platform::kInfinite);

    const Progress progress = ReadProgress(ReadAll(output));
    commits = progress.commits;
    for (int i = 0; i < kAssets; ++i) {
      const std::string name = "asset" + std::to_string(i);
      const int generation = WholeGeneration(root / ("local/" + name));
      ASSERT_GE(generation, 0) << name << " is not whole after round " << round;
      const auto done = progress.committed.find(i);
      if (done != progress.committed.end()) {
        EXPECT_GE(generation, done->second) << name << ": a commit was lost";
      }
      const auto edited = progress.edited.find(i);
      if (edited != progress.edited.end() && !std::filesystem::exists(root / ("editing/" + name))) {
        EXPECT_GE(generation, edited->second) << name << ": the editing copy went before its local copy was whole";
      }
    }
  }
  EXPECT_GE(commits, kRounds);
}

} // namespace
