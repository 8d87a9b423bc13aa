#include "assetdb/VADTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "assetdb/AssetArchiveCache.h"
#include "assetdb/JobScheduler.h"
#include "assetdb/VADServices.h"
#include "assets3d/VelmarResourceDatabaseServices.h"
#include "content/AppGlobals.h"
#include "tests/assetdb/database/IndexFixture.h"

namespace {

using Vak::PString;

std::vector<std::string> Texts(ResultsLog& log) {
  std::vector<std::string> texts;
  log.Lock();
  for (const ResultsLog::Line& line : log.GetLines()) texts.push_back(line.text.Size() ? static_cast<const char*>(line.text) : "");
  log.Unlock();
  return texts;
}

// ---- tasks and their threads

uint64_t gFreeBytes = 0;
bool gFreeKnown = true;
bool FakeFreeSpace(const char*, uint64_t& bytes) {
  bytes = gFreeBytes;
  return gFreeKnown;
}

TEST(VADTaskThreadTest, DiskSpaceNeedsOneHundredMebibytes) {
  const VADFreeSpaceFunction saved = GetVADServices().freeSpace;
  GetVADServices().freeSpace = FakeFreeSpace;
  struct Case {
    uint64_t bytes;
    bool known;
    bool enough;
  };
  const Case cases[] = {
      {0x6400000 - 1, true, false}, {0x6400000, true, true},  {0, true, false},
      {0x100000000ull, true, true}, {0x6400000, false, false},
  };
  VADTaskThread thread;
  for (const Case& c : cases) {
    gFreeBytes = c.bytes;
    gFreeKnown = c.known;
    EXPECT_EQ(thread.HasDiskSpace("/"), c.enough) << c.bytes << " known " << c.known;
  }
  GetVADServices().freeSpace = saved;
}

class CountingThread : public VADTaskThread {
public:
  void Run() override {
    seenId = RunningThreadId();
    runs.fetch_add(1);
  }
  std::atomic<int> runs{0};
  unsigned long seenId = 0;
};

class EndingTask : public VADTask {
public:
  void OnThreadEnded() override { ended.fetch_add(1); }
  std::atomic<int> ended{0};
};

TEST(VADTaskTest, TheThreadRunsOnceAndTellsItsTask) {
  auto task = std::make_unique<EndingTask>();
  auto* thread = new CountingThread;
  task->SetThread(thread);
  task->running.store(1);
  ASSERT_TRUE(thread->Resume());
  ASSERT_TRUE(thread->Lock());
  EXPECT_EQ(thread->runs.load(), 1);
  EXPECT_NE(thread->seenId, 0u);
  EXPECT_EQ(thread->RunningThreadId(), 0u);
  EXPECT_EQ(task->running.load(), 0);
  EXPECT_EQ(task->ended.load(), 1);
  task.reset();  // frees the thread
}

// Counts its runs and its end in counters that outlive it.
class WatchedThread : public VADTaskThread {
public:
  WatchedThread(std::atomic<int>& runs, std::atomic<int>& freed) : runs_(runs), freed_(freed) {}
  ~WatchedThread() override { freed_.fetch_add(1); }
  void Run() override { runs_.fetch_add(1); }

private:
  std::atomic<int>& runs_;
  std::atomic<int>& freed_;
};

TEST(VADTaskTest, ATaskWhoseThreadNeverStartedEndsWithoutRunningIt) {
  // The thread reports its end to a task that outlives its owner, so a body
  // run while the owner or the thread is torn down still shows.
  EndingTask watcher;
  watcher.running.store(1);
  std::atomic<int> runs{0};
  std::atomic<int> freed{0};
  {
    EndingTask owner;
    owner.SetThread(new WatchedThread(runs, freed));
    owner.Thread()->task = &watcher;
  }
  EXPECT_EQ(freed.load(), 1);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_EQ(watcher.ended.load(), 0);
  EXPECT_EQ(watcher.running.load(), 1);
}

// A download that is done (or failed) after a number of polls.
class FakeDownload : public VADUpdateDownload {
public:
  FakeDownload(int polls, int32_t finalState, bool error) : polls_(polls), final_(finalState), error_(error) {}
  int32_t GetState() override { return --polls_ <= 0 ? final_ : 1; }
  bool IsActive() override { return polls_ > 0 || final_ == kDone; }
  bool HasError() override { return error_; }

private:
  int polls_;
  int32_t final_;
  bool error_;
};

class FakeSource : public VADUpdateSource {
public:
  VADUpdateDownload* Request(const char* url, int32_t mode, uint32_t limit) override {
    asked = std::string(url) + " " + std::to_string(mode) + " " + std::to_string(limit);
    return refuse ? nullptr : new FakeDownload(polls, finalState, error);
  }
  std::string asked;
  bool refuse = false;
  int polls = 2;
  int32_t finalState = VADUpdateDownload::kDone;
  bool error = false;
};

TEST(VADUpdateCheckTest, ReportsOnlyAPageThatCame) {
  struct Case {
    const char* name;
    bool refuse;
    int32_t finalState;
    bool error;
    bool reported;
  };
  const Case cases[] = {
      {"done", false, VADUpdateDownload::kDone, false, true},
      {"failed", false, VADUpdateDownload::kFailed, false, false},
      {"error", false, VADUpdateDownload::kDone, true, false},
      {"refused", true, VADUpdateDownload::kDone, false, false},
  };
  for (const Case& c : cases) {
    FakeSource source;
    source.refuse = c.refuse;
    source.finalState = c.finalState;
    source.error = c.error;
    float progress = 0;
    auto* thread = new VADUpdateCheckThread(source, [&](float value) { progress = value; });
    {
      VADTask task;
      task.SetThread(thread);
      ASSERT_TRUE(thread->Resume());
      ASSERT_TRUE(thread->Lock());
    }
    EXPECT_EQ(progress, c.reported ? 1.0f : 0.0f) << c.name;
    EXPECT_EQ(source.asked, std::string(VADUpdateCheckThread::kUpdatePage) + " 2 0") << c.name;
  }
}

// ---- call chains

class ChainTest : public ::testing::Test {
protected:
  void SetUp() override { SetMainThread(); }
};

TEST_F(ChainTest, CallsRunInOrderWhereTheirFlagsPutThem) {
  std::mutex mutex;
  std::vector<std::string> order;
  std::atomic<bool> mainOk{true}, workerOk{true};
  auto note = [&](const char* name) {
    std::lock_guard<std::mutex> guard(mutex);
    order.push_back(name);
  };
  VelmarWorkerCallChain chain(JobScheduler::Instance());
  chain.Post([&] { note("load"); if (!IsMainThread()) mainOk = false; }, 11);
  chain.Post([&] { note("write"); if (IsMainThread()) workerOk = false; }, 24);
  chain.Post([&] { note("release"); if (!IsMainThread()) mainOk = false; }, 9);
  chain.Start();
  chain.WaitIdle();
  EXPECT_EQ(order, (std::vector<std::string>{"load", "write", "release"}));
  EXPECT_TRUE(mainOk);
  EXPECT_TRUE(workerOk);
  EXPECT_FALSE(chain.Failed());
  EXPECT_FALSE(chain.IsBusy());
}

TEST_F(ChainTest, AThrowingCallMarksTheChainFailed) {
  VelmarWorkerCallChain chain(JobScheduler::Instance());
  chain.Post([] { throw std::runtime_error("broken"); }, 9);
  chain.Start();
  chain.WaitIdle();
  EXPECT_TRUE(chain.Failed());
  // An empty chain starts nothing and waits for nothing.
  VelmarWorkerCallChain empty(JobScheduler::Instance());
  empty.Start();
  empty.WaitIdle();
  EXPECT_FALSE(empty.Failed());
}

TEST_F(ChainTest, CallsDroppedByTheSchedulerEndTheChain) {
  auto scheduler = std::make_unique<JobScheduler>();
  VelmarWorkerCallChain chain(*scheduler);
  bool ran = false;
  chain.Post([&] { ran = true; }, JobScheduler::kMainThreadOnly);
  chain.Post([&] { ran = true; }, JobScheduler::kMainThreadOnly);
  chain.Start();
  EXPECT_TRUE(chain.IsBusy());
  scheduler.reset();  // cancels what is queued
  EXPECT_FALSE(chain.IsBusy());
  EXPECT_TRUE(chain.Failed());
  EXPECT_FALSE(ran);
  chain.WaitIdle();
}

// ---- texture conversion

// Behaviour by the description's name: "badload", "badlock", "badsave",
// "throw", "wrongtype"; anything else converts.
class FakeTexture : public VADTextureResource {
public:
  FakeTexture(std::string name, std::atomic<int>& live, std::atomic<int>& saves)
      : name_(std::move(name)), live_(live), saves_(saves) {
    live_.fetch_add(1);
  }
  bool IsCompressible() override { return !Has("wrongtype"); }
  void SetOptions(const Vak::Options&) override { optionsSet_ = true; }
  bool Load() override {
    if (Has("throw")) throw std::runtime_error("bad texture");
    return optionsSet_ && !Has("badload");
  }
  bool Lock() override { return !Has("badlock"); }
  void Unlock() override {}
  bool CompressAndSave(const char* outputPath) override {
    saves_.fetch_add(1);
    if (Has("badsave")) return false;
    std::ofstream(outputPath) << "compressed " << name_;
    return true;
  }
  void Release() override {
    live_.fetch_sub(1);
    delete this;
  }

private:
  bool Has(const char* word) const { return name_.find(word) != std::string::npos; }
  std::string name_;
  std::atomic<int>& live_;
  std::atomic<int>& saves_;
  bool optionsSet_ = false;
};

class FakeTextureService : public VADTextureService {
public:
  VADTextureResource* Open(Vak::ResourceDatabase* database, const PString& fileSet, const char* name) override {
    if (!database || fileSet.IsNull()) return nullptr;
    if (std::string(name).find("noopen") != std::string::npos) return nullptr;
    return new FakeTexture(name, live, saves);
  }
  std::atomic<int> live{0};
  std::atomic<int> saves{0};
};

class ConvertTest : public IndexFixture {
protected:
  void SetUp() override {
    IndexFixture::SetUp();
    SetMainThread();
    VADSetTextureService(&textures_);
  }
  void TearDown() override {
    VADSetTextureService(nullptr);
    AssetArchiveCache::Purge();
    IndexFixture::TearDown();
  }
  int Convert(const std::string& folder) { return VADConvertTextures(PString(), Root(folder).c_str(), log_); }
  // Every description under the folder, relative to it; working names too.
  std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root(folder)))
      if (entry.is_regular_file()) names.push_back(std::filesystem::relative(entry.path(), Root(folder)));
    std::sort(names.begin(), names.end());
    return names;
  }

  VelmarResourceDatabaseServices services_;
  FakeTextureService textures_;
  ResultsLog log_;
};

TEST_F(ConvertTest, AFolderWithoutDescriptionsConvertsNothing) {
  root_.WriteFile("local/a/mesh.im", "m");
  root_.WriteFile("local/a/sub/notes.txt", "n");
  EXPECT_EQ(Convert("local/a"), 2);
  EXPECT_EQ(textures_.saves.load(), 0);
  EXPECT_TRUE(Texts(log_).empty());
  EXPECT_EQ(Convert("local/missing"), 0);
  EXPECT_EQ(Texts(log_), std::vector<std::string>{"Unable to search path: '" + Root("local/missing") + "'"});
}

TEST_F(ConvertTest, EveryDescriptionGetsItsCompiledTextureBesideIt) {
  root_.WriteFile("local/a/wall.texture.txt", "d");
  root_.WriteFile("local/a/wall.texture", "stale");
  root_.WriteFile("local/a/sub/roof.texture.txt", "d");
  EXPECT_EQ(Convert("local/a"), 2);
  EXPECT_EQ(root_.ReadFile("local/a/wall.texture"), "compressed a/wall.texture.convert-tex.txt");
  EXPECT_TRUE(root_.Has("local/a/sub/roof.texture"));
  EXPECT_EQ(Files("local/a"), (std::vector<std::string>{"sub/roof.texture", "sub/roof.texture.txt", "wall.texture",
                                                         "wall.texture.txt"}));
  EXPECT_EQ(textures_.live.load(), 0);
  EXPECT_TRUE(Texts(log_).empty());

  EXPECT_TRUE(VADDeleteCompiledTextures(PString(), Root("local/a").c_str()));
  EXPECT_EQ(Files("local/a"), (std::vector<std::string>{"sub/roof.texture.txt", "wall.texture.txt"}));
  EXPECT_FALSE(VADDeleteCompiledTextures(PString(), Root("local/none").c_str()));
}

// One failure among several: every record is waited for and freed, one
// message says so, and every description has its own name again.
TEST_F(ConvertTest, OneFailureWaitsForAllAndReportsOnce) {
  struct Case {
    const char* bad;
    const char* message;
    int saves;  // of the three
  };
  const Case cases[] = {
      {"badload", "Unable to load source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", 2},
      {"badlock", "Lock failed for source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", 2},
      {"wrongtype", "Incorrect resource type for source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", 2},
      {"noopen", "Unable to open source texture '$(FILE_NAME)' in subst '$(ARCHIVE)'", 2},
      {"throw", "Exception '$(ERROR)' thrown while processing '$(FILE_NAME)'", 2},
      {"badsave", "Unable to write output file '$(FILE_NAME)'", 3},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(Root("local"));
    ResultsLog log;
    root_.WriteFile("local/a/a1.texture.txt", "d");
    root_.WriteFile(std::string("local/a/") + c.bad + ".texture.txt", "d");
    root_.WriteFile("local/a/z9.texture.txt", "d");
    textures_.saves = 0;
    EXPECT_EQ(VADConvertTextures(PString(), Root("local/a").c_str(), log), 1) << c.bad;
    Vak::AnsiString message(c.message);
    const std::string description = Root(std::string("local/a/") + c.bad + ".texture.txt");
    ResultsLog::ExpandMacro(c.saves == 3 ? description.substr(0, description.size() - 4).c_str() : description.c_str(),
                            message, "FILE_NAME");
    ResultsLog::ExpandMacro("local", message, "ARCHIVE");
    ResultsLog::ExpandMacro("bad texture", message, "ERROR");
    EXPECT_EQ(Texts(log), (std::vector<std::string>{static_cast<const char*>(message), "$vad_texture_compress_err"}));
    EXPECT_EQ(textures_.saves.load(), c.saves) << c.bad << ": no save without a good load";
    EXPECT_EQ(textures_.live.load(), 0) << c.bad;
    std::vector<std::string> expected{std::string(c.bad) + ".texture.txt", "a1.texture", "a1.texture.txt",
                                      "z9.texture", "z9.texture.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files("local/a"), expected) << c.bad;
  }
}

TEST_F(ConvertTest, ARecordThatCannotBePreparedCountsAsFailed) {
  platform::test::TempFolder outside;
  outside.WriteFile("wall.texture.txt", "d");
  EXPECT_EQ(VADConvertTextures(PString(), outside.Path().c_str(), log_), 1);
  EXPECT_EQ(Texts(log_), (std::vector<std::string>{"Unable to determine relative path for '" +
                                                        (outside / "wall.texture.txt") + "'",
                                                    "$vad_texture_compress_err"}));
  EXPECT_TRUE(outside.Has("wall.texture.txt"));
}

TEST_F(ConvertTest, StagesTheSchedulerDropsStillGiveTheNameBack) {
  root_.WriteFile("local/a/wall.texture.txt", "d");
  auto scheduler = std::make_unique<JobScheduler>();
  ResultsLog log;
  auto record = std::make_unique<VADTextureConvertFileRPC>(PString(), Root("local/a/wall.texture.txt").c_str(), log,
                                                           *scheduler);
  ASSERT_TRUE(record->Start());
  EXPECT_FALSE(root_.Has("local/a/wall.texture.txt")) << "under its working name meanwhile";
  scheduler.reset();
  EXPECT_TRUE(record->Failed());
  record.reset();
  EXPECT_EQ(Files("local/a"), std::vector<std::string>{"wall.texture.txt"});
  EXPECT_EQ(textures_.saves.load(), 0);
}

} // namespace
