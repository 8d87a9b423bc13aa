#include "Vak/Bexlorn/FatalError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Vak {
namespace {

// An exception whose description the test chooses.
class DescribedException : public Exception {
public:
  DescribedException(const char* file, int line, const char* reason, const char* description)
      : Exception(file, line, reason), description_(description) {}
  const char* Description() const override { return description_; }
  const char* ClassName() const override { return "Described"; }

private:
  const char* description_;
};

std::vector<std::string> gLogged;
void LogLine(const char* line) { gLogged.emplace_back(line); }

std::string gShown;
int gAnswerCalls = 0;
int AnswerContinue(const Exception&, const char* report) {
  gShown = report;
  ++gAnswerCalls;
  return 0;
}
int AnswerEndCounting(const Exception&, const char*) {
  ++gAnswerCalls;
  return 1;
}
int AnswerThrows(const Exception&, const char*) { throw std::runtime_error("no display"); }

// Hooks in place for one test only.
class FatalErrorTest : public ::testing::Test {
protected:
  void SetUp() override {
    gLogged.clear();
    gShown.clear();
    gAnswerCalls = 0;
    previousAnswer_ = SetFatalErrorAnswer(AnswerContinue);
    previousWriter_ = SetFatalErrorLogWriter(LogLine);
  }
  void TearDown() override {
    SetFatalErrorAnswer(previousAnswer_);
    SetFatalErrorLogWriter(previousWriter_);
  }

  FatalErrorAnswer previousAnswer_ = nullptr;
  FatalErrorLogWriter previousWriter_ = nullptr;
};

TEST_F(FatalErrorTest, ReportLinesGoToStderrTheHookAndTheLog) {
  const std::string version = "Version: Vak vRRRRR.RR Build 1234.5.QQQQQ";
  DescribedException multi("a.cpp", 3, "broken", "first\r\n\r\nlast");
  DescribedException trailing("a.cpp", 3, "broken", "only\r\n");
  DescribedException empty(nullptr, 0, "quiet", "");
  struct Case {
    const char* name;
    const Exception* e;
    std::vector<std::string> lines;
  };
  Exception plain("Vak/Bexlorn/File.cpp", 42, "Read() File is not open");
  Exception noPlace(nullptr, 0, "nowhere");
  Exception fileOnly("x.cpp", 0, "r");
  Exception lineOnly(nullptr, 7, "r");
  Exception negativeLine("x.cpp", -5, "r");
  FileEx fileEx("f.cpp", 1, "Subst(data) Closing non-existant subst?");
  const Case cases[] = {
      {"file and line", &plain,
       {"File: Vak/Bexlorn/File.cpp", "Line: 42", "Class: Unknown", "Reason: Read() File is not open", version,
        "No call stack available"}},
      {"neither file nor line", &noPlace, {"Class: Unknown", "Reason: nowhere", version, "No call stack available"}},
      {"file, line 0", &fileOnly, {"File: x.cpp", "Class: Unknown", "Reason: r", version, "No call stack available"}},
      {"line, no file", &lineOnly, {"Line: 7", "Class: Unknown", "Reason: r", version, "No call stack available"}},
      {"negative line", &negativeLine, {"File: x.cpp", "Class: Unknown", "Reason: r", version, "No call stack available"}},
      {"derived class", &fileEx,
       {"File: f.cpp", "Line: 1", "Class: File", "Reason: Subst(data) Closing non-existant subst?", version,
        "No call stack available"}},
      {"description of several lines", &multi,
       {"File: a.cpp", "Line: 3", "Class: Described", "Reason: broken", version, "first", "", "last"}},
      {"description ending in a line end", &trailing,
       {"File: a.cpp", "Line: 3", "Class: Described", "Reason: broken", version, "only"}},
      {"empty description", &empty, {"Class: Described", "Reason: quiet", version}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gLogged.clear();
    std::string expected;
    for (const std::string& line : c.lines) expected += line + "\n";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ShowFatalError(*c.e), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(gShown, expected);
    EXPECT_EQ(gLogged, c.lines);
  }
  EXPECT_FALSE(FatalErrorAccepted());
}

TEST_F(FatalErrorTest, WithoutLogWriterOnlyStderr) {
  SetFatalErrorLogWriter(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShowFatalError(Exception(nullptr, 0, "r")), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Reason: r\n"), std::string::npos);
  EXPECT_TRUE(gLogged.empty());
}

TEST_F(FatalErrorTest, SetHookAnswersThePreviousOneAndNullRestoresTheDefault) {
  EXPECT_EQ(SetFatalErrorAnswer(AnswerEndCounting), AnswerContinue);
  EXPECT_EQ(SetFatalErrorAnswer(nullptr), AnswerEndCounting);
  FatalErrorAnswer byDefault = SetFatalErrorAnswer(AnswerContinue);
  EXPECT_NE(byDefault, nullptr);
  EXPECT_EQ(byDefault(Exception(nullptr, 0, "r"), ""), 1);
  EXPECT_EQ(SetFatalErrorLogWriter(nullptr), LogLine);
}

TEST_F(FatalErrorTest, ContinueKeepsTheWindowAvailable) {
  Exception e(nullptr, 0, "again");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShowFatalError(e), 0);
  EXPECT_EQ(ShowFatalError(e), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(gAnswerCalls, 2);
  EXPECT_FALSE(FatalErrorAccepted());
}

// While one thread's window is showing, another thread's fatal error answers
// 1 at once (it would hang here if it waited for the window).
std::promise<void>* gWindowShown;
std::shared_future<void>* gMayClose;
int AnswerAfterRelease(const Exception&, const char*) {
  gWindowShown->set_value();
  gMayClose->wait();
  return 0;
}

TEST_F(FatalErrorTest, SecondThreadDoesNotWaitForAShowingWindow) {
  std::promise<void> shown;
  std::promise<void> close;
  std::shared_future<void> mayClose = close.get_future().share();
  gWindowShown = &shown;
  gMayClose = &mayClose;
  SetFatalErrorAnswer(AnswerAfterRelease);
  ::testing::internal::CaptureStderr();
  int first = -1;
  std::thread window([&] { first = ShowFatalError(Exception("t.cpp", 1, "first")); });
  shown.get_future().wait();
  EXPECT_EQ(ShowFatalError(Exception("t.cpp", 2, "second")), 1);
  close.set_value();
  window.join();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(err.find("second"), std::string::npos);
  EXPECT_FALSE(FatalErrorAccepted());
  // The window is free again afterwards.
  SetFatalErrorAnswer(AnswerContinue);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShowFatalError(Exception("t.cpp", 3, "third")), 0);
  ::testing::internal::GetCapturedStderr();
}

// Accepting a fatal error lasts for the process: these run in a child.
using FatalErrorDeathTest = FatalErrorTest;

// Ends the child with 0 when `ok`, else says why on stderr and ends with 1.
[[noreturn]] void ExitWith(bool ok, const std::string& why) {
  if (!ok) std::fprintf(stderr, "child: %s\n", why.c_str());
  std::exit(ok ? 0 : 1);
}

TEST_F(FatalErrorDeathTest, EndIsAcceptedAndLaterErrorsEndAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* name;
    FatalErrorAnswer hook;  // null: the default
  };
  const Case cases[] = {{"hook answers 1", AnswerEndCounting}, {"default hook", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          SetFatalErrorAnswer(c.hook);
          Exception e("x.cpp", 9, "fatal");
          int first = ShowFatalError(e);
          bool accepted = FatalErrorAccepted();
          int callsAfterFirst = gAnswerCalls;
          SetFatalErrorAnswer(AnswerContinue);
          int second = ShowFatalError(e);
          ExitWith(first == 1 && accepted && second == 1 && gAnswerCalls == callsAfterFirst && gShown.empty(),
                   "first " + std::to_string(first) + " accepted " + std::to_string(accepted) + " second " +
                       std::to_string(second) + " calls " + std::to_string(gAnswerCalls));
        },
        ::testing::ExitedWithCode(0), "Reason: fatal\n");
  }
}

TEST_F(FatalErrorDeathTest, HookThatThrowsFallsBackAndAccepts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetFatalErrorAnswer(AnswerThrows);
        int first = ShowFatalError(Exception(nullptr, 0, "r"));
        bool accepted = FatalErrorAccepted();
        SetFatalErrorAnswer(AnswerContinue);
        int second = ShowFatalError(Exception(nullptr, 0, "r"));
        ExitWith(first == 1 && accepted && second == 1 && gAnswerCalls == 0,
                 "first " + std::to_string(first) + " second " + std::to_string(second));
      },
      ::testing::ExitedWithCode(0),
      "Fatal Error: An error occurred trying to display the fatal error window! \\(0\\)\n");
}

TEST_F(FatalErrorDeathTest, LogWriterThatThrowsFallsBackToo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetFatalErrorLogWriter([](const char*) { throw std::runtime_error("log gone"); });
        int result = ShowFatalError(Exception(nullptr, 0, "r"));
        ExitWith(result == 1 && FatalErrorAccepted() && gAnswerCalls == 0, "result " + std::to_string(result));
      },
      ::testing::ExitedWithCode(0), "An error occurred trying to display the fatal error window! \\(0\\)");
}

} // namespace
} // namespace Vak
