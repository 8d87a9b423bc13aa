#include <gtest/gtest.h>

#include "content/TStream.h"
#include "net/AssetWebLookups.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "tests/platform/os/TempFolder.h"
#include "net/NetworkService.h"
#include "net/UserNameLookup.h"
#include "net/VADDownloadStation.h"
#include "tests/net/TestBytes.h"

namespace {

using nettest::Bytes;
using nettest::PText;

// The objects behind one service, as a test's own.
struct Objects {
  VADDownloadStation station{false};
  UserNameLookup userNames;
  AssetThumbnailLookup thumbnails;
  AssetDescriptionLookup descriptions;
  NetworkService service{station, userNames, thumbnails, descriptions};
};

Bytes StreamBytes(TBuffer& stream) {
  const DynamicBuffer& b = stream.GetBuffer();
  return Bytes(b.Data(), b.Data() + b.Size());
}

// A station block with a received list, a search time and one queued URL.
Bytes StationBlock() {
  Bytes bytes;
  Vak::AppendLE32(bytes, 1);
  nettest::Text(bytes, "20240101");
  Vak::AppendLE32(bytes, 1700000000);
  Vak::AppendLE32(bytes, 0);
  Vak::AppendLE32(bytes, 1);
  PText(bytes, "http://files.example.com/a.txt.gz");
  return bytes;
}

void StartReading(TBuffer& in, const Bytes& bytes) {
  in.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  in.GetBuffer().SetPosition(0);
}

// The station and user-name blocks follow each other inside the index file;
// each reader stops at its block's end.
TEST(NetworkServiceTest, BothBlocksRoundTripInOneStream) {
  Bytes bytes = StationBlock();
  Vak::AppendLE32(bytes, 0);
  Vak::AppendLE32(bytes, 1);
  PText(bytes, "erin");
  Vak::AppendLE32(bytes, 4);
  Vak::AppendLE32(bytes, 777);

  Objects first;
  TBuffer in;
  StartReading(in, bytes);
  ASSERT_TRUE(first.service.ReadStation(in));
  ASSERT_TRUE(first.service.ReadUserNames(in));
  EXPECT_STREQ(first.service.GetUserName(777).c_str(), "erin");

  TBuffer out;
  first.service.WriteStation(out);
  first.service.WriteUserNames(out);
  EXPECT_EQ(StreamBytes(out), bytes);
}

TEST(NetworkServiceTest, ResetsAndClearsReachTheObjects) {
  Objects o;
  Bytes names;
  Vak::AppendLE32(names, 0);
  Vak::AppendLE32(names, 1);
  PText(names, "erin");
  Vak::AppendLE32(names, 4);
  Vak::AppendLE32(names, 777);
  ASSERT_TRUE(blocktest::ReadBlock(o.userNames, names));
  o.service.ResetUserNames();
  EXPECT_EQ(o.userNames.RecordCount(), 0u);

  o.station.Enqueue(UrlRecord("http://h/list"));
  o.service.StartStationWorker();
  EXPECT_TRUE(o.station.IsWorkerRunning());
  o.service.ClearStation();
  EXPECT_TRUE(o.station.Queue().IsEmpty());
  EXPECT_FALSE(o.station.IsWorkerRunning());

  o.service.SetMembership(VADDownloadStation::kMembershipActive, 86400.0f);
  EXPECT_EQ(o.service.GetMembershipStatus(), 2);
  EXPECT_EQ(o.service.GetMembershipValue(), 86400.0f);
}

// The repair's reset reaches the station: what it had received and queued is
// forgotten and its worker runs again.
TEST(NetworkServiceTest, ResetStationForgetsTheStationsState) {
  Objects o;
  TBuffer in;
  StartReading(in, StationBlock());
  ASSERT_TRUE(o.service.ReadStation(in));
  ASSERT_FALSE(o.station.Queue().IsEmpty());
  o.service.ResetStation();
  EXPECT_TRUE(o.station.Queue().IsEmpty());
  EXPECT_STREQ(o.station.LastReceivedFile(), "0");
  EXPECT_EQ(o.station.LastSearchTime(), 0u);
  EXPECT_TRUE(o.station.IsWorkerRunning());
  o.service.ClearStation();
}

TEST(NetworkServiceTest, ReleaseDropsOneHoldAndIgnoresNull) {
  Objects o;
  platform::test::TempFolder folder;
  folder.WriteFile("page.txt", "x");
  ASSERT_NE(DownloadManager::Create((folder / "downloads").c_str()), nullptr);
  DownloadTask* task = DownloadManager::Instance()->Request(("file://velmar" + folder / "page.txt").c_str(), 0, -1);
  ASSERT_NE(task, nullptr);
  task->Hold();
  o.service.ReleaseDownloadTask(task);
  EXPECT_EQ(task->UseCount(), 1);
  o.service.ReleaseDownloadTask(nullptr);
  o.service.ReleaseDownloadTask(task);
  DownloadManager::Destroy();
}

// No download manager exists, so nothing is sent; a thumbnail may still
// come (a later call may send the request), a description has not.
TEST(NetworkServiceTest, WithoutADownloadManagerNothingIsSentAndAThumbnailMayStillCome) {
  Objects o;
  struct Case {
    KUID kuid;
    bool mayCome;
  } cases[] = {{KUID(1234, 56, 0), true}, {KUID(-5, 56, 127), false}, {KUID::Null(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<const char*>(c.kuid.ToShortText()));
    EXPECT_EQ(o.service.RequestThumbnail(c.kuid), c.mayCome);
    EXPECT_EQ(o.service.RequestDescription(c.kuid).Size(), 0u);
  }
  o.service.ResetThumbnailLookup();
  EXPECT_TRUE(o.service.RequestThumbnail(KUID(1234, 56, 0)));
}

TEST(NetworkServiceTest, InstallSetsTheDatabasesSeam) {
  VADNetworkService* before = GetVADServices().network;
  InstallNetworkService();
  ASSERT_NE(GetVADServices().network, nullptr);
  EXPECT_STREQ(GetVADServices().network->GetUserName(0).c_str(), "-");
  GetVADServices().network = before;
}

} // namespace
