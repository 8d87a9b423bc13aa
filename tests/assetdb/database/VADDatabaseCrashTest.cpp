// Crash safety and two processes on one database: a writer process killed at
// random moments never costs a reported write, and a KUID base file is never
// left empty or short; two processes adding records both keep theirs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "IPCTestSupport.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADDatabaseFile.h"
#include "assetdb/VADLock.h"
#include "content/AppGlobals.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Process.h"

namespace {

// One index_writer process; it is killed and reaped at the end.
class Writer {
public:
  Writer(const ipctest::Database& db, const std::string& name, const std::vector<std::string>& mode)
      : output_(db.Scratch(name + ".out")) {
    std::vector<std::string> arguments{INDEX_WRITER_PATH, output_, db.Root()};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    EXPECT_EQ(process_.Start(arguments), platform::Error::None);
  }
  ~Writer() { Kill(); }
  void Kill() {
    process_.Kill();
    process_.Wait(platform::kInfinite);
  }
  bool Ends() { return process_.Wait(60000) && process_.ExitCode() == 0; }
  // Waits until the worker has reported its first step, so that a kill
  // drawn after it lands inside the work however slowly the process started.
  bool AwaitFirst(const char* word) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Last(word) < 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  // The value of the last complete line "<word> N", else -1.
  long Last(const char* word) const {
    const std::string text = ipctest::ReadText(output_);
    const std::size_t end = text.rfind('\n');
    if (end == std::string::npos) return -1;
    const std::size_t start = text.rfind('\n', end - 1);
    const std::size_t first = start == std::string::npos ? 0 : start + 1;
    const std::string line = text.substr(first, end - first);
    const std::string prefix = std::string(word) + " ";
    return line.rfind(prefix, 0) == 0 ? std::stol(line.substr(prefix.size())) : -1;
  }

private:
  std::string output_;
  platform::Process process_;
};

class DatabaseCrashTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedRoot_ = GetDatabaseRootPath();
    gVadAssetIndex.Clear();
  }
  void TearDown() override {
    VADShutdown();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    SetDatabaseRootPath(savedRoot_);
  }
  void Open() {
    VADStartBlock block;
    VADStartParams(block);
    std::strncpy(block.root, db_.Root().c_str(), sizeof block.root - 1);
    ASSERT_TRUE(VADInit(block));
  }
  // Loads as any process would, and tells which of the KUIDs are missing.
  long FirstMissing(int32_t user, long count) {
    Open();
    VADLock lock;
    lock.Acquire(true);
    for (long i = 0; i < count; ++i)
      if (!gVadAssetIndex.Find(KUID(user, static_cast<int32_t>(i), 0))) return i;
    return -1;
  }

  ipctest::Database db_;
  Vak::File::Path savedRoot_;
};

TEST_F(DatabaseCrashTest, KilledWriterNeverLosesAReportedWrite) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> delayMs(0, 120);
  long reported = -1;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    {
      Writer writer(db_, "writer" + std::to_string(round), {"write-loop"});
      ASSERT_TRUE(writer.AwaitFirst("wrote"));
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
      writer.Kill();
      reported = std::max(reported, writer.Last("wrote"));
    }
    // The record count before a write is its KUID's content id.
    EXPECT_EQ(FirstMissing(500, reported + 1), -1);
    VADShutdown();
  }
  EXPECT_GE(reported, 0) << "no write was reported in any round";
}

TEST_F(DatabaseCrashTest, KilledKuidGeneratorLeavesAWholeBaseFile) {
  platform::MakeFolderPath((db_.Root() + "/settings").c_str());
  std::mt19937 random(1210);
  std::uniform_int_distribution<int> delayMs(0, 120);
  long reported = -1;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    Writer writer(db_, "kuid" + std::to_string(round), {"kuid-loop"});
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + delayMs(random)));
    writer.Kill();
    reported = std::max(reported, writer.Last("kuid"));
    const std::string path = db_.Root() + "/settings/kuid.txt";
    // A writer killed before its first KUID (a slow start under load) has
    // handed out nothing, so there is nothing to lose yet.
    if (reported < 0 && !platform::Exists(path.c_str())) continue;
    ACSChunkPtr tree;
    ASSERT_TRUE(tree.Load(nullptr, path.c_str()));
    const KUID base = tree.GetChildKUID("base-kuid", KUID::Null());
    ASSERT_FALSE(base.IsNull());
    EXPECT_GE(base.content, reported);
  }
}

TEST_F(DatabaseCrashTest, TwoProcessesKeepEachOthersRecords) {
  Writer first(db_, "first", {"add", "601", "40"});
  Writer second(db_, "second", {"add", "602", "40"});
  ASSERT_TRUE(first.Ends());
  ASSERT_TRUE(second.Ends());
  EXPECT_EQ(first.Last("done"), 1);
  EXPECT_EQ(second.Last("done"), 1);
  ASSERT_TRUE(ReadDatabaseFile((db_.Root() + "/assets.tdx").c_str()));
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 80u);
  for (int32_t user : {601, 602})
    for (int32_t i = 0; i < 40; ++i) EXPECT_NE(gVadAssetIndex.Find(KUID(user, i, 0)), nullptr) << user << ":" << i;
}

} // namespace
