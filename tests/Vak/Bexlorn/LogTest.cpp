#include "Vak/Bexlorn/Log.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FatalError.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Time.h"
#include "platform/os/Thread.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using platform::test::TempFolder;
using Vak::Log;
using Vak::LogClient;

constexpr int64_t kFrequency = 1'000'000;
constexpr int64_t kStartTicks = 1000 * kFrequency;  // the log opens at 1000 s
int64_t gTicks = kStartTicks;
int64_t FakeCounter() { return gTicks; }

// `bytes` in `from` as UTF-8, through iconv; fails the test on malformed input.
std::string Decode(const std::string& bytes, const char* from) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv_open " << from;
    return {};
  }
  std::string in = bytes;
  std::string out(in.size() * 4 + 16, '\0');
  char* src = in.data();
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
    ADD_FAILURE() << "iconv failed, errno " << errno;
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

// Lines split at "\r\n"; every line must end with it.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated last line: " << text.substr(at);
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string ThreadField() {
  char id[16];
  std::snprintf(id, sizeof id, "%08X", platform::CurrentThreadId());
  return id;
}

const std::regex kBanner(R"(Vak vRRRRR\.RR Build 1234\.5\.QQQQQ on [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} at [0-9]{2}:[0-9]{2}:[0-9]{2}\.)");

class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    Log::Shutdown();  // whatever another test left open
    gTicks = kStartTicks;
    Vak::Time::SetClockSource(&FakeCounter, kFrequency);
  }
  void TearDown() override {
    Log::Shutdown();
    Log::SetStream(nullptr);
    Vak::Time::SetClockSource(nullptr, 0);
  }

  // Opens the log on the temporary folder's file with further option text.
  void Open(const std::string& extra = "", const std::string& name = "VakLog.txt") {
    options_.ProcessRaw(("-LogFile='" + folder_ / name + "' " + extra).c_str());
    Log::Init(&options_);
  }
  std::string Bytes(const std::string& name = "VakLog.txt") const { return folder_.ReadFile(name); }
  // The UTF-16 file as UTF-8 lines, after checking its byte-order mark.
  std::vector<std::string> Utf16Lines() const {
    std::string bytes = Bytes();
    EXPECT_GE(bytes.size(), 2u);
    if (bytes.size() < 2) return {};
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    return Lines(Decode(bytes.substr(2), "UTF-16LE"));
  }
  // The logged lines between "Begin:" and "End." (or the end of the file).
  std::vector<std::string> Body() const {
    std::vector<std::string> lines = Utf16Lines();
    std::vector<std::string> body;
    bool in = false;
    for (const std::string& line : lines) {
      if (line == "End.") break;
      if (in) body.push_back(line);
      if (line == "Begin:") in = true;
    }
    return body;
  }

  TempFolder folder_;
  Vak::Options options_;
};

TEST_F(LogTest, FileHoldsBannerBeginLinesAndEndInUtf16) {
  Open();
  LogClient* net = Log::GetClient("Net");
  net->Output(Vak::kLogWarn, "hello %d", 5);
  net->Output(Vak::kLogDiag, "not at the default threshold");
  gTicks += 1'500'000;
  net->Output(Vak::kLogErr, "caf\xE9");
  Log::Shutdown();

  const std::vector<std::string> lines = Utf16Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(std::regex_match(lines[0], kBanner)) << lines[0];
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Begin:");
  EXPECT_EQ(lines[3], "? " + ThreadField() + " Warn   0:00.0 Net             : hello 5");
  EXPECT_EQ(lines[4], "! " + ThreadField() + " Err    0:01.5 Net             : caf\xC3\xA9");
  EXPECT_EQ(lines[5], "End.");
  // Each character is two bytes: the 8-bit 0xE9 became U+00E9.
  EXPECT_NE(Bytes().find(std::string("c\0a\0f\0\xE9\0", 8)), std::string::npos);
}

TEST_F(LogTest, DefaultNameIsVakLogInTheWorkingFolder) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_.Path());
  Log::Init(nullptr);
  Log::GetClient("Net")->Output(Vak::kLogWarn, "x");
  Log::Shutdown();
  std::filesystem::current_path(previous);
  ASSERT_TRUE(folder_.Has("VakLog.txt"));
  const std::vector<std::string> lines = Utf16Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "Begin:");
  EXPECT_EQ(lines[4], "End.");
}

TEST_F(LogTest, LogAnsiWritesEightBitText) {
  Open("-LogAnsi");
  Log::GetClient("Net")->Output(Vak::kLogWarn, "caf\xE9 \x80");
  Log::Shutdown();
  const std::string bytes = Bytes();
  ASSERT_EQ(bytes.substr(0, 5), "Vak v");  // no byte-order mark
  EXPECT_NE(bytes.find(" : caf\xE9 \x80\r\nEnd.\r\n"), std::string::npos);
  const std::vector<std::string> lines = Lines(Decode(bytes, "WINDOWS-1252"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(lines[0], kBanner)) << lines[0];
  EXPECT_EQ(lines[3], "? " + ThreadField() + " Warn   0:00.0 Net             : caf\xC3\xA9 \xE2\x82\xAC");
}

TEST_F(LogTest, ThresholdPassesLevelsUpToIt) {
  Open();
  std::set<std::string> expected;
  for (int threshold = 0; threshold <= 4; ++threshold) {
    LogClient* client = Log::GetClient(("T" + std::to_string(threshold)).c_str());
    ASSERT_EQ(client->Threshold(), LogClient::kDefaultThreshold);
    client->SetThreshold(threshold);
    for (int level = 0; level <= 4; ++level) {
      const std::string message = "t" + std::to_string(threshold) + " l" + std::to_string(level);
      EXPECT_EQ(client->Passes(level), threshold >= level) << message;
      client->Output(level, "%s", message.c_str());
      if (threshold >= level) expected.insert(message);
    }
  }
  // No output on: nothing passes.
  LogClient* silent = Log::GetClient("Silent");
  silent->SetOutputs(0);
  EXPECT_FALSE(silent->Passes(Vak::kLogErr));
  silent->Output(Vak::kLogErr, "silent");

  std::set<std::string> seen;
  for (const std::string& line : Body()) seen.insert(line.substr(line.rfind(" : ") + 3));
  EXPECT_EQ(seen, expected);
}

TEST_F(LogTest, PrefixTimeCarriesRoundingIntoTheMinutes) {
  struct Case {
    int64_t elapsedTicks;
    const char* time;
  };
  const std::vector<Case> cases = {
      {0, "  0:00.0"},
      {59'940'000, "  0:59.9"},
      {59'960'000, "  1:00.0"},  // not "0:60.0"
      {60'000'000, "  1:00.0"},
      {61'250'000, "  1:01.2"},  // 1.25 rounds as printf does
      {119'960'000, "  2:00.0"},
      {125'500'000, "  2:05.5"},
      {3'600'000'000, " 60:00.0"},
      {3'659'990'000, " 61:00.0"},
  };
  Open();
  LogClient* client = Log::GetClient("Clock");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    gTicks = kStartTicks + cases[i].elapsedTicks;
    client->Output(Vak::kLogWarn, "%zu", i);
  }
  // A clock behind the start counts as 0.
  gTicks = kStartTicks - 5 * kFrequency;
  client->Output(Vak::kLogWarn, "behind");
  Log::Shutdown();

  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), cases.size() + 1);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(body[i], "? " + ThreadField() + " Warn " + cases[i].time + " Clock           : " + std::to_string(i));
  }
  EXPECT_EQ(body.back(), "? " + ThreadField() + " Warn   0:00.0 Clock           : behind");
}

TEST_F(LogTest, LevelCharactersAndNamesClampOutOfRange) {
  struct Case {
    int level;
    const char* head;
  };
  const std::vector<Case> cases = {
      {-3, "  "}, {0, "  "}, {1, "! "}, {2, "? "}, {3, "+ "}, {4, "- "}, {9, "- "},
  };
  const char* names[] = {"None", "None", "Err ", "Warn", "Diag", "Prog", "Prog"};
  Open();
  LogClient* client = Log::GetClient("Levels");
  for (const Case& c : cases) {
    client->SetLevel(c.level);
    client->OutputString("x");
  }
  Log::Shutdown();
  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(body[i], std::string(cases[i].head) + ThreadField() + " " + names[i] + "   0:00.0 Levels          : x");
  }
}

TEST_F(LogTest, ClientNamesAreCutOrPaddedAndFoundWithoutCase) {
  struct Case {
    const char* name;
    const char* field;
  };
  const std::vector<Case> cases = {
      {"A", "A              "},
      {"FifteenCharsXYZ", "FifteenCharsXYZ"},
      {"SixteenCharsWXYZ", "SixteenCharsWXY"},
      {"AVeryLongClientNameIndeed", "AVeryLongClient"},
  };
  Open();
  for (const Case& c : cases) Log::GetClient(c.name)->Output(Vak::kLogErr, "n");
  Log::Shutdown();
  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(body[i].substr(25), std::string(cases[i].field) + " : n");
  }

  LogClient* net = Log::GetClient("Net");
  EXPECT_EQ(Log::GetClient("NET"), net);
  EXPECT_EQ(Log::GetClient("nEt"), net);
  EXPECT_NE(Log::GetClient("Net2"), net);
  EXPECT_NE(Log::GetClient("Ne"), net);
  EXPECT_STREQ(net->Name(), "Net");
}

TEST_F(LogTest, ThreadIdFieldNamesTheWritingThread) {
  Open();
  LogClient* client = Log::GetClient("Threads");
  client->Output(Vak::kLogWarn, "main");
  std::string otherId;
  std::thread other([&] {
    otherId = ThreadField();
    client->Output(Vak::kLogWarn, "other");
  });
  other.join();
  Log::Shutdown();
  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), 2u);
  EXPECT_NE(otherId, ThreadField());
  EXPECT_EQ(body[0].substr(2, 8), ThreadField());
  EXPECT_EQ(body[1].substr(2, 8), otherId);
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
  Open();
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      LogClient* client = Log::GetClient(("W" + std::to_string(t)).c_str());
      for (int i = 0; i < kLines; ++i) client->Output(Vak::kLogErr, "thread %d line %d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  Log::Shutdown();
  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), std::size_t{kThreads} * kLines);
  std::vector<int> next(kThreads, 0);
  const std::regex line(R"(! [0-9A-F]{8} Err    0:00\.0 W([0-9]) {13} : thread ([0-9]) line ([0-9]+))");
  for (const std::string& text : body) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    const int t = std::stoi(m[1]);
    ASSERT_EQ(std::stoi(m[2]), t);
    EXPECT_EQ(std::stoi(m[3]), next[t]++);
  }
}

TEST_F(LogTest, FlushOptionDecidesWhetherLinesReachTheDiskAtOnce) {
  struct Case {
    const char* options;
    bool atOnce;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"-LogFlush", false},  // a bare switch flips the default
      {"-LogFlush=off", false},
      {"-LogFlush=on", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Vak::Options options;
    options.ProcessRaw((std::string("-LogFile='") + folder_ / "flush.txt" + "' " + c.options).c_str());
    Log::Init(&options);
    // Begin: is on disk in every case.
    EXPECT_NE(Decode(Bytes("flush.txt").substr(2), "UTF-16LE").find("Begin:\r\n"), std::string::npos);
    Log::GetClient("Net")->Output(Vak::kLogWarn, "pending");
    const std::string before = Decode(Bytes("flush.txt").substr(2), "UTF-16LE");
    EXPECT_EQ(before.find("pending") != std::string::npos, c.atOnce);
    Log::Shutdown();
    const std::string after = Decode(Bytes("flush.txt").substr(2), "UTF-16LE");
    EXPECT_NE(after.find(" : pending\r\nEnd.\r\n"), std::string::npos);
  }
}

TEST_F(LogTest, NoLogLeavesBannerAndDisabledLine) {
  Open("-NoLog");
  EXPECT_TRUE(Log::IsInitialised());
  EXPECT_TRUE(Log::IsDisabled());
  testing::internal::CaptureStdout();
  Log::SetStream(stdout);
  Log::GetClient("Net")->Output(Vak::kLogWarn, "console only");
  std::fflush(stdout);
  const std::string console = testing::internal::GetCapturedStdout();
  Log::Shutdown();
  EXPECT_EQ(console, "? " + ThreadField() + " Warn   0:00.0 Net             : console only\r\n");
  const std::vector<std::string> lines = Utf16Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(lines[0], kBanner));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Log Disabled.");
}

TEST_F(LogTest, FileThatCannotOpenOrEmptyNameDisablesTheLog) {
  for (const char* name : {"missing/folder/VakLog.txt", ""}) {
    SCOPED_TRACE(name);
    Vak::Options options;
    options.ProcessRaw((std::string("-LogFile='") + (*name ? folder_ / name : std::string()) + "'").c_str());
    Log::Init(&options);
    EXPECT_TRUE(Log::IsInitialised());
    EXPECT_TRUE(Log::IsDisabled());
    Log::GetClient("Net")->Output(Vak::kLogErr, "nowhere");
    Log::WriteShutdown();
    Log::Shutdown();
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Path()));
}

TEST_F(LogTest, ConsoleStreamOptions) {
  struct Case {
    const char* options;
    bool out;
    bool err;
  };
  const std::vector<Case> cases = {
      {"", false, false},
      {"-LogStdOut", true, false},
      {"-LogStdErr", false, true},
      {"-LogStdErr -LogStdOut", false, true},  // standard error wins
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Vak::Options options;
    options.ProcessRaw((std::string("-LogFile='") + folder_ / "console.txt" + "' " + c.options).c_str());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Log::Init(&options);
    Log::GetClient("Net")->Output(Vak::kLogWarn, "copy");
    std::fflush(stdout);
    std::fflush(stderr);
    Log::Shutdown();
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find(" : copy\r\n") != std::string::npos, c.out) << out;
    EXPECT_EQ(err.find(" : copy\r\n") != std::string::npos, c.err) << err;
  }
}

TEST_F(LogTest, LogOptionConfiguresClients) {
  struct Case {
    const char* name;
    int threshold;
    uint8_t outputs;
    uint8_t format;
  };
  constexpr uint8_t kFile = LogClient::kOutputFile, kMono = LogClient::kOutputDebugger,
                    kWindow = LogClient::kOutputWindow;
  constexpr uint8_t kNewline = LogClient::kFormatNewline, kPrefix = LogClient::kFormatPrefix;
  const std::vector<Case> cases = {
      {"Net", 3, kMono, kNewline | kPrefix},
      {"Res", 4, kFile | kMono | kWindow, kPrefix},
      {"Quiet", 0, kFile, kNewline},
      {"Mixed", 1, kFile | kMono, kNewline | kPrefix},  // unknown settings ignored, last level wins
      {"Plain", 2, kFile | kMono, kNewline | kPrefix},
  };
  Open("-Log=Net:Diag:file=off +Log=Res:prog:window:newlines=OFF +Log=' Quiet:NONE:mono=off:displaymodulename=off ' "
       "+Log=Mixed:Warn:colour=off:file=maybe:Err +Log=Plain +Log=:Diag");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogClient* client = Log::GetClient(c.name);
    EXPECT_EQ(client->Threshold(), c.threshold);
    EXPECT_EQ(client->Outputs(), c.outputs);
    EXPECT_EQ(client->Format(), c.format);
  }

  testing::internal::CaptureStdout();
  Log::SetStream(stdout);
  Log::GetClient("Net")->Output(Vak::kLogDiag, "diagnostic");
  Log::GetClient("Res")->Output(Vak::kLogProg, "progress");
  std::fflush(stdout);
  const std::string console = testing::internal::GetCapturedStdout();
  Log::Shutdown();
  // Net passes diagnostics but not into the file; Res writes without a line end.
  EXPECT_NE(console.find(" : diagnostic\r\n"), std::string::npos);
  const std::string file = Decode(Bytes().substr(2), "UTF-16LE");
  EXPECT_EQ(file.find("diagnostic"), std::string::npos);
  EXPECT_NE(file.find("Res             : progressEnd.\r\n"), std::string::npos);
}

TEST_F(LogTest, DisplayModuleNameOffDropsThePrefix) {
  LogClient* early = Log::GetClient("Early");  // exists before Init
  ASSERT_TRUE(early->Format() & LogClient::kFormatPrefix);
  Open("-LogDisplayModuleName=off");
  EXPECT_FALSE(early->Format() & LogClient::kFormatPrefix);
  early->Output(Vak::kLogWarn, "early");
  Log::GetClient("Late")->Output(Vak::kLogWarn, "late");
  Log::Shutdown();
  EXPECT_EQ(Body(), (std::vector<std::string>{"early", "late"}));
}

TEST_F(LogTest, SecondInitDoesNothing) {
  Open();
  Log::GetClient("Net")->Output(Vak::kLogWarn, "first");
  Vak::Options other;
  other.ProcessRaw(("-LogAnsi -LogFile='" + folder_ / "other.txt" + "'").c_str());
  Log::Init(&other);
  Log::GetClient("Net")->Output(Vak::kLogWarn, "second");
  Log::Shutdown();
  EXPECT_FALSE(folder_.Has("other.txt"));
  const std::vector<std::string> body = Body();
  ASSERT_EQ(body.size(), 2u);
  EXPECT_NE(body[0].find(": first"), std::string::npos);
  EXPECT_NE(body[1].find(": second"), std::string::npos);
}

TEST_F(LogTest, WriteShutdownClosesTheFile) {
  Open();
  Log::GetClient("Net")->Output(Vak::kLogErr, "before");
  Log::WriteShutdown();
  Log::GetClient("Net")->Output(Vak::kLogErr, "after");
  Log::Shutdown();
  const std::vector<std::string> lines = Utf16Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[3].find(": before"), std::string::npos);
  EXPECT_EQ(lines[4], "Shutdown.");
}

TEST_F(LogTest, FatalErrorLinesGoThroughTheExceptionHandlerClient) {
  EXPECT_EQ(Vak::SetFatalErrorLogWriter(nullptr), nullptr);
  Open();
  Vak::FatalErrorAnswer previous = Vak::SetFatalErrorAnswer([](const Vak::Exception&, const char*) { return 0; });
  testing::internal::CaptureStderr();
  EXPECT_EQ(Vak::ShowFatalError(Vak::Exception("Unit.cpp", 12, "broken")), 0);
  testing::internal::GetCapturedStderr();
  Vak::SetFatalErrorAnswer(previous);
  Log::Shutdown();
  // The writer is removed with the log.
  EXPECT_EQ(Vak::SetFatalErrorLogWriter(nullptr), nullptr);

  const std::vector<std::string> body = Body();
  const std::string head = "! " + ThreadField() + " Err    0:00.0 ExceptionHandle : ";
  ASSERT_GE(body.size(), 2u);
  EXPECT_EQ(body[0], head + "File: Unit.cpp");
  EXPECT_EQ(body[1], head + "Line: 12");
  for (const std::string& line : body) EXPECT_EQ(line.substr(0, head.size()), head);
}

} // namespace
