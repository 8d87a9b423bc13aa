// The thumbnail, description and user-name look-ups through the download
// manager against nginx playing the web service; their throttles run on the
// application clock the test sets.
#include "net/AssetWebLookups.h"

#include <gtest/gtest.h>

#include <string>

#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "platform/os/FileSystem.h"
#include "tests/net/ServiceFixture.h"

namespace {

using nettest::ServiceNginx;

class LookupServiceTest : public nettest::ServiceFixture {
protected:
  int Requests(const std::string& page) const { return nettest::Count(nginx_.AccessLog(), page); }
  // Until nginx has answered `n` requests of the page.
  bool AnsweredTimes(const std::string& page, int n) const {
    return WaitUntil([&] { return Requests(page) >= n; });
  }
};

TEST_F(LookupServiceTest, ThumbnailsAreAskedForOnceEveryThreeSecondsAndLandInTheCache) {
  nginx_.Write(ServiceNginx::kThumbnail, "\xFF\xD8jpeg bytes");
  const KUID first(1234, 56, 0);
  ASSERT_TRUE(thumbnails_.Request(first));
  ASSERT_TRUE(AnsweredTimes("asset_thumbnail.php?SearchCriteria=1234:56 ", 1));
  const std::string cached = DatabaseRoot() + "/cache/thumbnails/kuid 1234 56.jpg";
  // The answer is taken by the next request.
  ASSERT_TRUE(WaitUntil([&] {
    thumbnails_.Request(first);
    return platform::Exists(cached.c_str());
  }));
  EXPECT_EQ(nettest::ReadText(cached), "\xFF\xD8jpeg bytes");

  // Within 3 s of the clock another KUID is not sent, but may still come.
  const KUID unknown(9, 9, 0);
  SetAppClock(kClock + 3);
  EXPECT_TRUE(thumbnails_.Request(unknown));
  SetAppClock(kClock + 3.5f);
  EXPECT_TRUE(thumbnails_.Request(unknown));
  ASSERT_TRUE(AnsweredTimes("SearchCriteria=9:9 ", 1));
  // Its page answered 404: none will come, and it is not asked again.
  EXPECT_TRUE(WaitUntil([&] { return !thumbnails_.Request(unknown); }));
  SetAppClock(kClock + 10);
  EXPECT_FALSE(thumbnails_.Request(unknown));
  EXPECT_EQ(Requests("asset_thumbnail.php"), 2);
  EXPECT_FALSE(thumbnails_.Request(KUID(-3, 1, 0)));
}

TEST_F(LookupServiceTest, DescriptionsAreThrottledAskedOnceAndAnsweredThroughTheSeam) {
  nginx_.Write(ServiceNginx::kDescription, "A fine little engine.\r\n");
  const KUID first(1234, 56, 0);
  const KUID second(1234, 57, 0);
  EXPECT_EQ(service_.RequestDescription(first).Size(), 0u);
  // Two requests within 3 s of the clock send one; the same KUID twice
  // sends one.
  SetAppClock(kClock + 2);
  service_.RequestDescription(second);
  ASSERT_TRUE(AnsweredTimes("asset_description.php", 1));
  ASSERT_TRUE(WaitUntil([&] {
    return std::string(service_.RequestDescription(first)) == "A fine little engine.";
  }));
  service_.RequestDescription(first);
  SetAppClock(kClock + 3.5f);
  service_.RequestDescription(second);
  ASSERT_TRUE(AnsweredTimes("SearchCriteria=1234:57 ", 1));
  EXPECT_EQ(Requests("asset_description.php"), 2);
  EXPECT_EQ(Requests("SearchCriteria=1234:56 "), 1);
}

TEST_F(LookupServiceTest, ALookedUpNameArrivesThroughTheManagerAndIsCached) {
  // The page is plain HTTP on the service's host.
  SetWebServiceHost(("127.0.0.1:" + std::to_string(nginx_.port)).c_str());
  nginx_.Write(ServiceNginx::kUserNames, "users\n{\n  777 \"Erin\"\n  523 \"impostor\"\n}\n");
  EXPECT_STREQ(userNames_.GetName(777).c_str(), "#777");
  ASSERT_TRUE(AnsweredTimes("user_lookup.php?userid=777 ", 1));
  ASSERT_TRUE(WaitUntil([&] { return std::string(userNames_.GetName(777).c_str()) == "erin"; }));
  EXPECT_STREQ(userNames_.GetName(523).c_str(), "Moxel");
  EXPECT_EQ(userNames_.RecordCount(), 1u);
  // The cache the index stores holds it.
  TBuffer out;
  userNames_.Write(out);
  const std::string bytes(reinterpret_cast<const char*>(out.GetBuffer().Data()), out.GetBuffer().Size());
  EXPECT_NE(bytes.find(std::string("erin\0", 5)), std::string::npos);
  EXPECT_EQ(Requests("user_lookup.php"), 1);
}

// The repair's purge runs the manager's queue: a purged URL's cached file
// goes.
TEST_F(LookupServiceTest, ProcessDownloadQueueRunsTheManagersPurgeQueue) {
  nginx_.Write("page.txt", "cached");
  const std::string url = nginx_.Url("/page.txt");
  DownloadTask* task = manager_->Request(url.c_str(), 0, -1);
  ASSERT_NE(task, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return task->IsFinished(); }));
  Vak::File::Path cached;
  Vak::PString type;
  ASSERT_TRUE(task->GetResult(cached, type));
  DownloadTask::Release(task);
  ASSERT_TRUE(platform::Exists(cached));
  manager_->QueuePurge(UrlRecord(url.c_str()));
  EXPECT_TRUE(platform::Exists(cached));
  service_.ProcessDownloadQueue();
  EXPECT_FALSE(platform::Exists(cached));

  // The finished task no longer stands for the URL: asking again fetches it.
  manager_->Pump();
  DownloadTask* again = manager_->Request(url.c_str(), 0, -1);
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return again->IsFinished(); }));
  ASSERT_TRUE(again->GetResult(cached, type));
  EXPECT_TRUE(platform::Exists(cached));
  DownloadTask::Release(again);
}

} // namespace
