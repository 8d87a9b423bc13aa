#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "content/TStream.h"
#include "net/VADDownloadStation.h"
#include "tests/content/LogCapture.h"
#include "tests/net/TestBytes.h"

namespace {

using blocktest::ReadBlock;
using blocktest::WriteBlock;
using content::test::LogCapture;
using nettest::Bytes;
using nettest::PText;
using nettest::Text;

constexpr uint64_t kPastTime = 1700000000;  // November 2023
const char* const kListA = "http://files.example.com/lists/a.txt.gz";
const char* const kListB = "https://joe:pw@example.com:8443/list.php?id=2";

Bytes Header(uint32_t version, const std::string& lastFile, uint64_t time, uint32_t count) {
  Bytes b;
  Vak::AppendLE32(b, version);
  Text(b, lastFile);
  Vak::AppendLE32(b, static_cast<uint32_t>(time));
  Vak::AppendLE32(b, static_cast<uint32_t>(time >> 32));
  Vak::AppendLE32(b, count);
  return b;
}

// Version 1, last file "0", a time, two URLs.
Bytes TwoUrlBlock() {
  Bytes b = Header(1, "0", kPastTime, 2);
  PText(b, kListA);
  PText(b, kListB);
  return b;
}

std::vector<std::string> QueueTexts(const VADDownloadStation& station) {
  std::vector<std::string> texts;
  for (const UrlRecord& url : station.Queue()) texts.push_back(url.Format().c_str());
  return texts;
}

TEST(VADDownloadStationTest, StoredBlockReadsBackAndRewritesByteForByte) {
  const Bytes expected = {
      1, 0, 0, 0,                                      // version
      1, 0, 0, 0, '0',                                 // last received file
      0x00, 0xF1, 0x53, 0x65, 0, 0, 0, 0,              // last search time, low word first
      2, 0, 0, 0,                                      // queued URLs
      40, 0, 0, 0, 'h', 't', 't', 'p', ':', '/', '/', 'f', 'i', 'l', 'e', 's', '.', 'e', 'x', 'a', 'm',
      'p', 'l', 'e', '.', 'c', 'o', 'm', '/', 'l', 'i', 's', 't', 's', '/', 'a', '.', 't', 'x', 't', '.', 'g', 'z', 0,
  };
  Bytes withB = expected;
  PText(withB, kListB);
  ASSERT_EQ(withB, TwoUrlBlock());

  VADDownloadStation station(false);
  ASSERT_TRUE(ReadBlock(station, withB));
  EXPECT_STREQ(station.LastReceivedFile(), "0");
  EXPECT_EQ(station.LastSearchTime(), kPastTime);
  EXPECT_EQ(QueueTexts(station), (std::vector<std::string>{kListA, kListB}));
  const UrlRecord& second = *station.Queue().At(1);
  EXPECT_STREQ(second.host, "example.com");
  EXPECT_EQ(second.port, 8443);
  EXPECT_EQ(WriteBlock(station), withB);
}

TEST(VADDownloadStationTest, AFreshStationWritesAnEmptyQueueAndLastFileZero) {
  VADDownloadStation station(false);
  EXPECT_EQ(WriteBlock(station), Header(1, "0", 0, 0));
  station.Enqueue(UrlRecord(kListA));
  station.Enqueue(UrlRecord("HTTP://FILES.example.com/lists/a.txt.gz"));  // the same URL
  Bytes oneUrl = Header(1, "0", 0, 1);
  PText(oneUrl, kListA);
  EXPECT_EQ(WriteBlock(station), oneUrl);
}

TEST(VADDownloadStationTest, VersionTwoIsRefusedWithItsLogLineAndAnEmptyQueue) {
  VADDownloadStation station(false);
  ASSERT_TRUE(ReadBlock(station, TwoUrlBlock()));
  Bytes block = TwoUrlBlock();
  block[0] = 2;
  LogCapture log;
  EXPECT_FALSE(ReadBlock(station, block));
  EXPECT_EQ(log.Count("VADDownloadStation::Read> unknown file format version 2"), 1) << log.Text();
  EXPECT_TRUE(station.Queue().IsEmpty());
}

TEST(VADDownloadStationTest, AFutureSearchTimeIsResetWithItsLogLine) {
  // The high word alone puts it in the future: both words are read.
  Bytes block = Header(1, "20240101", uint64_t{1} << 32 | 5, 1);
  PText(block, kListA);
  VADDownloadStation station(false);
  LogCapture log;
  ASSERT_TRUE(ReadBlock(station, block));
  EXPECT_EQ(station.LastSearchTime(), 0u);
  EXPECT_STREQ(station.LastReceivedFile(), "20240101");
  EXPECT_EQ(log.Count("VADDownloadStation::Read> future-dated timestamp, resetting"), 1) << log.Text();
  EXPECT_EQ(log.Count(std::string("VADDownloadStation::Read> queued url: ") + kListA), 1) << log.Text();
}

TEST(VADDownloadStationTest, TruncatedBlocksAndCountsPastTheEndAreRefused) {
  std::vector<std::pair<std::string, Bytes>> cases;
  const Bytes whole = TwoUrlBlock();
  for (size_t n = 0; n < whole.size(); ++n)
    cases.emplace_back("first " + std::to_string(n) + " bytes", Bytes(whole.begin(), whole.begin() + n));
  cases.emplace_back("count 100000, nothing after", Header(1, "0", kPastTime, 100000));
  cases.emplace_back("count 2^31 - 1, nothing after", Header(1, "0", kPastTime, 0x7FFFFFFF));
  Bytes threeOfTwo = Header(1, "0", kPastTime, 3);
  PText(threeOfTwo, kListA);
  PText(threeOfTwo, kListB);
  cases.emplace_back("count 3, two URLs", threeOfTwo);
  Bytes longText = Header(1, "0", kPastTime, 1);
  Vak::AppendLE32(longText, 0x00100000);  // a text length past the end
  longText.insert(longText.end(), 8, 'x');
  cases.emplace_back("text longer than the rest", longText);

  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    VADDownloadStation station(false);
    ASSERT_TRUE(ReadBlock(station, TwoUrlBlock()));
    EXPECT_FALSE(ReadBlock(station, bytes));
    EXPECT_TRUE(station.Queue().IsEmpty());
    EXPECT_EQ(station.LastSearchTime(), kPastTime) << "a refused block changes no other field";
  }
}

TEST(VADDownloadStationTest, TheBlockIsReadFromTheMiddleOfAStream) {
  Bytes bytes = {0xAA, 0xBB, 0xCC, 0xDD};
  const Bytes block = TwoUrlBlock();
  bytes.insert(bytes.end(), block.begin(), block.end());
  Vak::AppendLE32(bytes, 0x12345678);
  TBuffer stream;
  stream.GetBuffer().Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.GetBuffer().SetPosition(4);
  VADDownloadStation station(false);
  ASSERT_TRUE(station.Read(stream));
  EXPECT_EQ(station.Queue().Count(), 2u);
  EXPECT_EQ(stream.ReadInt(), 0x12345678u);
}

TEST(VADDownloadStationTest, QueuedTextsThatNameNoServerAreLeftOut) {
  Bytes block = Header(1, "0", kPastTime, 4);
  PText(block, "http://h/a\r\nX-Extra: 1");
  Vak::AppendLE32(block, 0);  // an empty text
  PText(block, kListB);
  PText(block, "http://h:70000/list");
  VADDownloadStation station(false);
  ASSERT_TRUE(ReadBlock(station, block));
  EXPECT_EQ(QueueTexts(station), (std::vector<std::string>{kListB}));
}

TEST(VADDownloadStationTest, ResetForgetsTheStateAndRunsTheWorker) {
  VADDownloadStation station(false);
  ASSERT_TRUE(ReadBlock(station, TwoUrlBlock()));
  EXPECT_FALSE(station.IsWorkerRunning());
  EXPECT_FALSE(station.RequestUpdate());
  EXPECT_TRUE(station.IsRetryPending());
  station.Reset();
  EXPECT_TRUE(station.Queue().IsEmpty());
  EXPECT_STREQ(station.LastReceivedFile(), "0");
  EXPECT_EQ(station.LastSearchTime(), 0u);
  EXPECT_FALSE(station.IsRetryPending());
  EXPECT_TRUE(station.IsWorkerRunning());
  station.Clear();
  EXPECT_FALSE(station.IsWorkerRunning());
}

// The worker's pause is long here, so only a pause that StopWorker cuts short
// lets these tests end within the bound.
constexpr unsigned long kLongPauseMs = 60000;
constexpr auto kGenerousBound = std::chrono::seconds(20);

void WaitForAStep(const VADDownloadStation& station) {
  const auto deadline = std::chrono::steady_clock::now() + kGenerousBound;
  while (station.WorkerSteps() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(station.WorkerSteps(), 0u) << "the worker never stepped";
}

template <class Action> std::chrono::steady_clock::duration TimeOf(Action action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::steady_clock::now() - start;
}

TEST(VADDownloadStationTest, StopWorkerEndsTheWorkersPauseAtOnce) {
  VADDownloadStation station(true, kLongPauseMs);
  ASSERT_TRUE(station.IsWorkerRunning());
  WaitForAStep(station);
  EXPECT_LT(TimeOf([&] { station.StopWorker(); }), kGenerousBound);
  EXPECT_FALSE(station.IsWorkerRunning());
  // And it starts again after a stop.
  station.StartWorker();
  WaitForAStep(station);
  EXPECT_LT(TimeOf([&] { station.StopWorker(); }), kGenerousBound);
}

TEST(VADDownloadStationTest, TheDestructorStopsTheWorkerAtOnce) {
  auto station = std::make_unique<VADDownloadStation>(true, kLongPauseMs);
  WaitForAStep(*station);
  EXPECT_LT(TimeOf([&] { station.reset(); }), kGenerousBound);
}

TEST(VADDownloadStationTest, StartWorkerWhileRunningKeepsTheWorkerAndFreesTheLock) {
  VADDownloadStation station(true, kLongPauseMs);
  WaitForAStep(station);
  station.StartWorker();
  EXPECT_TRUE(station.IsWorkerRunning());
  EXPECT_GT(station.WorkerSteps(), 0u) << "the running worker was replaced";
  // Another thread can take the station lock.
  std::thread other([&] { station.StopWorker(); });
  other.join();
  EXPECT_FALSE(station.IsWorkerRunning());
}

TEST(VADDownloadStationTest, TheProcessWideStationRunsItsWorkerFromTheStart) {
  EXPECT_TRUE(VADDownloadStation::Global().IsWorkerRunning());
}

// The programs end with -1, 255 and -100 while the worker runs; the station's
// destructor stops it on the way out, and the code reaches the shell.
TEST(VADDownloadStationDeathTest, ExitWhileTheWorkerRunsKeepsTheExitCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int code : {-1, 255, -100}) {
    SCOPED_TRACE(code);
    EXPECT_EXIT(
        {
          VADDownloadStation::Global().StartWorker();
          std::exit(code);
        },
        testing::ExitedWithCode(code & 0xFF), "");
  }
}

} // namespace
