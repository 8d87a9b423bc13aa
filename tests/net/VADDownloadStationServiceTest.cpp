// The download station's steps against nginx playing the web service, on an
// open asset database.
#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "assetdb/CategoryList.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADLock.h"
#include "tests/content/LogCapture.h"
#include "tests/net/ServiceFixture.h"
#include "tests/net/TestBytes.h"

namespace {

using content::test::LogCapture;
using nettest::ServiceNginx;

constexpr uint64_t kNow = 1800000000;
uint64_t FixedNow() { return kNow; }

std::atomic<int> gPauses{0};
std::atomic<unsigned long> gPauseMs{0};
void CountingPause(unsigned long ms) {
  gPauses.fetch_add(1);
  gPauseMs = ms;
}

std::vector<std::string> QueueTexts(const VADDownloadStation& station) {
  std::vector<std::string> texts;
  for (const UrlRecord& url : station.Queue()) texts.push_back(url.Format().c_str());
  return texts;
}

void WriteGzip(const std::string& path, const std::string& text) {
  gzFile out = gzopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  ASSERT_EQ(gzclose(out), Z_OK);
}

class StationServiceTest : public nettest::ServiceFixture {
protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    gPauses = 0;
    station_.SetLinePause(&CountingPause);
  }
  std::string ListUrl(const std::string& name) const { return nginx_.Url("/lists/" + name); }
  std::string SearchReply(const std::vector<std::string>& urls) const {
    std::string text = "timestamp \"20261211\"\nfiles\n{\n";
    for (size_t i = 0; i < urls.size(); ++i) text += "  " + std::to_string(i) + " \"" + urls[i] + "\"\n";
    return text + "}\n";
  }
};

TEST_F(StationServiceTest, ASearchFillsTheQueueWithoutDuplicatesAndAsksForTheMembership) {
  nginx_.Write(ServiceNginx::kSearchReply, SearchReply({ListUrl("a.gz"), ListUrl("b.gz"), ListUrl("a.gz")}));
  nginx_.Write(ServiceNginx::kMembershipReply, "tickets\n{\n  t0\n  {\n    rem 3\n    type \"sfr\"\n  }\n}\n");
  station_.Enqueue(UrlRecord(ListUrl("b.gz").c_str()));
  station_.SetTimeStampSource(&FixedNow);
  LogCapture log;
  EXPECT_FALSE(station_.RequestUpdate());
  EXPECT_TRUE(station_.IsRetryPending());
  ASSERT_TRUE(StepUntil([&] { return station_.LastSearchTime() != 0 && !station_.HasMembershipTask(); }))
      << log.Text();
  EXPECT_EQ(station_.LastSearchTime(), kNow);
  EXPECT_STREQ(station_.LastReceivedFile(), "20261211");
  EXPECT_EQ(QueueTexts(station_), (std::vector<std::string>{ListUrl("b.gz"), ListUrl("a.gz")}));
  EXPECT_EQ(log.Count("VADDownloadStation::BeginAssetUpdateSearch> starting update"), 1) << log.Text();
  EXPECT_EQ(log.Count("VADDownloadStation::ParseSearchResults> 3 files"), 1) << log.Text();
  EXPECT_NE(gVadAssetIndex.DirtyFlags(), 0u);
  EXPECT_EQ(station_.GetMembershipState(), VADDownloadStation::kMembershipActive);
  EXPECT_EQ(station_.GetMembershipTimeLeft(), 3.0f * 86400);
  const std::string access = nginx_.AccessLogWith("SFR.php");
  EXPECT_NE(access.find(" GET /games/gamefiles/velmar/scripts/RecordManager/client.php?LASTRECEIVEDFILE=0 "),
            std::string::npos)
      << access;
}

TEST_F(StationServiceTest, ASearchReplyWithoutATimestampChangesNothing) {
  dir_.WriteFile("bad.txt", "files\n{\n  0 \"http://h/x\"\n}\n");
  LogCapture log;
  station_.ParseSearchResults((dir_ / "bad.txt").c_str(), "text/plain");
  EXPECT_TRUE(station_.Queue().IsEmpty());
  EXPECT_STREQ(station_.LastReceivedFile(), "0");
  EXPECT_EQ(log.Count("VADDownloadStation::ParseSearchResults> bad data in '" + (dir_ / "bad.txt") + "'"), 1)
      << log.Text();
}

// Records of the index before the list comes.
void AddRecord(const KUID& kuid, const char* name, const char* localPath, int64_t number) {
  VADLock lock;
  lock.Acquire(true);
  VADAssetInfo record;
  record.kuid = kuid;
  record.name = name;
  record.categoryClasses = "XX";
  record.localPath = localPath;
  record.downloadNumber = number;
  ASSERT_NE(gVadAssetIndex.Insert(record), nullptr);
}

TEST_F(StationServiceTest, AnAssetListAddsAndUpdatesRecords) {
  AddRecord(KUID(100, 1, 0), "Local One", "local\\one", 0);
  AddRecord(KUID(100, 2, 0), "", "", 7);
  WriteGzip(nginx_.Www("lists/a.gz"),
            "<kuid:100:1> scenery 55 Renamed\n"
            "<kuid:100:2> scenery 66 \"Quoted Name\"\r\n"
            "\n"
            "<kuid:100:3> scenery 77   New One  \n"
            "notakuid scenery 5 No KUID\n"
            "<kuid:100:4> scenery\n"
            "<kuid:100:5> scenery x12 Not A Number\n");
  LogIn();
  station_.Enqueue(UrlRecord(ListUrl("a.gz").c_str()));
  LogCapture log;
  ASSERT_TRUE(StepUntil([&] { return station_.Queue().IsEmpty() && !station_.HasListTask(); })) << log.Text();
  EXPECT_EQ(log.Count("VADDownloadStation::Idle> Downloading asset list: " + ListUrl("a.gz")), 1) << log.Text();
  EXPECT_EQ(log.Count("VADDownloadStation::Idle> Parsing asset list '" + ListUrl("a.gz") + "'."), 1) << log.Text();

  VADLock lock;
  lock.Acquire(false);
  const char* scenery = CategoryList::CodesForKind("scenery", nullptr);
  VADAssetInfo* local = gVadAssetIndex.Find(KUID(100, 1, 0));
  ASSERT_NE(local, nullptr);
  EXPECT_TRUE(local->Flags() & VADAssetInfo::kDownloadStation);
  EXPECT_EQ(local->downloadNumber, 55);
  EXPECT_STREQ(local->name, "Local One");
  EXPECT_STREQ(local->categoryClasses, "XX");

  VADAssetInfo* offered = gVadAssetIndex.Find(KUID(100, 2, 0));
  ASSERT_NE(offered, nullptr);
  EXPECT_TRUE(offered->Flags() & VADAssetInfo::kDownloadStation);
  EXPECT_EQ(offered->downloadNumber, 7);
  EXPECT_STREQ(offered->name, "Quoted Name");
  EXPECT_STREQ(offered->categoryClasses, scenery);
  EXPECT_NE(std::string(offered->KeywordList()).find("quoted"), std::string::npos) << offered->KeywordList();

  VADAssetInfo* added = gVadAssetIndex.Find(KUID(100, 3, 0));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Flags(), VADAssetInfo::kDownloadStation);
  EXPECT_EQ(added->downloadNumber, 77);
  EXPECT_STREQ(added->name, "New One");
  EXPECT_STREQ(added->categoryClasses, scenery);

  // Lines without a KUID or a number add nothing.
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 3u);
  EXPECT_EQ(gVadAssetIndex.Find(KUID(100, 4, 0)), nullptr);
  EXPECT_EQ(gVadAssetIndex.Find(KUID(100, 5, 0)), nullptr);
  EXPECT_NE(gVadAssetIndex.DirtyFlags() & VADAssetIndex::kDirtyRecords, 0u);
}

TEST_F(StationServiceTest, AThousandLinesPauseThreeTimes) {
  std::string text;
  for (int i = 1; i <= 1000; ++i) text += "<kuid:200:" + std::to_string(i) + "> scenery " + std::to_string(i) + " N\n";
  WriteGzip(dir_ / "thousand.gz", text);
  station_.LoadAssetList((dir_ / "thousand.gz").c_str());
  EXPECT_EQ(gPauses.load(), 3);
  EXPECT_EQ(gPauseMs.load(), VADDownloadStation::kLinePauseMs);
  EXPECT_EQ(gVadAssetIndex.RecordCount(), 1000u);
}

TEST_F(StationServiceTest, AFailedSearchIsRetriedAfter120SecondsOfTheClock) {
  LogCapture log;
  // No search reply: the page answers 404.
  station_.RequestUpdate();
  ASSERT_TRUE(StepUntil([&] { return station_.IsRetryPending() && !station_.HasSearchTask(); })) << log.Text();
  const std::string searchUrl = "https://127.0.0.1:" + std::to_string(nginx_.sslPort) +
                                "/games/gamefiles/velmar/scripts/RecordManager/client.php?LASTRECEIVEDFILE=0";
  EXPECT_EQ(log.Count("VADDownloadStation::Idle> Asset update failed '" + searchUrl + "'. Retrying in 2 minutes."), 1)
      << log.Text();
  EXPECT_EQ(station_.RetryTime(), kClock + 120);
  SetAppClock(kClock + 119);
  station_.Idle();
  EXPECT_FALSE(station_.HasSearchTask());
  SetAppClock(kClock + 121);
  station_.Idle();
  EXPECT_TRUE(station_.HasSearchTask());
  EXPECT_EQ(log.Count("VADDownloadStation::BeginAssetUpdateSearch> starting update"), 2) << log.Text();
}

TEST_F(StationServiceTest, AFailedListStaysQueuedAndIsFetchedAgain120SecondsLater) {
  LogIn();
  station_.Enqueue(UrlRecord(ListUrl("missing.gz").c_str()));
  LogCapture log;
  ASSERT_TRUE(StepUntil([&] { return log.Count("Failed download of '" + ListUrl("missing.gz") + "'") == 1; }))
      << log.Text();
  EXPECT_EQ(log.Count("VADDownloadStation::Idle> Failed download of '" + ListUrl("missing.gz") +
                      "'. Retrying in 2 minutes."),
            1);
  EXPECT_EQ(station_.RetryTime(), kClock + 120);
  EXPECT_EQ(QueueTexts(station_), std::vector<std::string>{ListUrl("missing.gz")});
  SetAppClock(kClock + 119);
  station_.Idle();
  EXPECT_FALSE(station_.HasListTask());
  SetAppClock(kClock + 121);
  station_.Idle();
  EXPECT_TRUE(station_.HasListTask());
}

TEST_F(StationServiceTest, ASearchWithin21600OfTheLastIsTooSoon) {
  station_.SetTimeStampSource(&FixedNow);
  nettest::Bytes block;
  Vak::AppendLE32(block, 1);
  nettest::Text(block, "7");
  const uint64_t last = kNow - VADDownloadStation::kSearchGap + 1;
  Vak::AppendLE32(block, static_cast<uint32_t>(last));
  Vak::AppendLE32(block, static_cast<uint32_t>(last >> 32));
  Vak::AppendLE32(block, 0);
  ASSERT_TRUE(blocktest::ReadBlock(station_, block));
  LogCapture log;
  station_.RequestUpdate();
  station_.Idle();
  EXPECT_EQ(log.Count("VADDownloadStation::BeginAssetUpdateSearch> too soon for auto-update"), 1) << log.Text();
  EXPECT_FALSE(station_.HasSearchTask());
  EXPECT_FALSE(station_.IsRetryPending());
  // One unit later the gap has passed.
  station_.SetTimeStampSource(+[] { return kNow + 1; });
  station_.RequestUpdate();
  station_.Idle();
  EXPECT_TRUE(station_.HasSearchTask());
}

TEST_F(StationServiceTest, TicketsGiveTheMembershipState) {
  struct Case {
    const char* what;
    const char* reply;
    int32_t state;
    float timeLeft;
  } cases[] = {
      {"the longest active ticket counts",
       "tickets\n{\n a\n {\n  rem 3\n  type \"SFR\"\n }\n b\n {\n  rem 5\n  type \"sfr\"\n }\n"
       " c\n {\n  rem 40\n  type \"SFR\"\n  suspended 1\n }\n}\n",
       2, 5.0f * 86400},
      {"an infinite ticket is 1000 days", "tickets\n{\n a\n {\n  rem 2\n  type \"SFR\"\n  infinite 1\n }\n}\n", 2,
       1000.0f * 86400},
      {"only suspended tickets", "tickets\n{\n a\n {\n  rem 9\n  type \"SFR\"\n  suspended 1\n }\n}\n", 3, 0},
      {"tickets of another type", "tickets\n{\n a\n {\n  rem 9\n  type \"XYZ\"\n }\n}\n", 0, 0},
      {"no tickets", "tickets\n{\n}\n", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    station_.SetMembership(7, 1.0f);
    dir_.WriteFile("sfr.txt", c.reply);
    station_.ParseStarfareResult((dir_ / "sfr.txt").c_str(), "text/plain");
    EXPECT_EQ(station_.GetMembershipState(), c.state);
    EXPECT_EQ(station_.GetMembershipTimeLeft(), c.timeLeft);
  }
  LogCapture log;
  dir_.WriteFile("sfr.txt", "error \"no session\"\n");
  station_.ParseStarfareResult((dir_ / "sfr.txt").c_str(), "text/plain");
  EXPECT_EQ(log.Count("ParseStarfareResult> error 'no session'"), 1) << log.Text();
  EXPECT_EQ(station_.GetMembershipState(), 0);
}

// Without a download manager a step takes no lock: it returns while
// another thread holds the index lock exclusively.
TEST_F(StationServiceTest, WithoutAManagerIdleReturnsWithoutTheIndexLock) {
  DownloadManager::Destroy();
  SharedLock& lock = VADLock::IndexLock();
  ASSERT_TRUE(lock.Acquire(true, -1));
  std::thread stepper([&] { station_.Idle(); });
  stepper.join();
  lock.Release();
  EXPECT_FALSE(station_.HasSearchTask());
}

// Whoever stops the worker may hold the index lock meanwhile (the repair's
// reset does): a worker merging a list then gives the list up instead of
// waiting for the lock for ever, and the list stays queued.
std::atomic<bool> gInPause{false};
std::atomic<bool> gLockTaken{false};
void PauseUntilTheLockIsTaken(unsigned long) {
  gInPause = true;
  while (!gLockTaken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(StationServiceTest, StoppingTheWorkerUnderTheIndexLockEndsAListMerge) {
  std::string text;
  for (int i = 1; i <= 600; ++i) text += "<kuid:300:" + std::to_string(i) + "> scenery 1 N\n";
  WriteGzip(nginx_.Www("lists/big.gz"), text);
  LogIn();
  station_.Enqueue(UrlRecord(ListUrl("big.gz").c_str()));
  gInPause = false;
  gLockTaken = false;
  station_.SetLinePause(&PauseUntilTheLockIsTaken);
  station_.StartWorker();
  ASSERT_TRUE(WaitUntil([] { return gInPause.load(); }));
  VADLock lock;
  lock.Acquire(true);
  ASSERT_TRUE(lock.IsHeld());
  gLockTaken = true;
  station_.StopWorker();
  EXPECT_FALSE(station_.IsWorkerRunning());
  EXPECT_EQ(QueueTexts(station_), std::vector<std::string>{ListUrl("big.gz")});
}

} // namespace
