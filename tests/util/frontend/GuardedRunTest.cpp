#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "Vak/Bexlorn/Exception.h"
#include "content/ResultsLog.h"
#include "util/EngineContext.h"
#include "util/GuardedRun.h"
#include "util/ResultsPrinting.h"

namespace {

bool Succeeds(ResultsLog&, EngineContext&, int, char**) { return false; }
bool Fails(ResultsLog& log, EngineContext&, int, char**) {
  log.AddMessage(ResultsLog::kError, nullptr, "failed");
  return true;
}
bool ThrowsStandard(ResultsLog& log, EngineContext&, int, char**) {
  log.AddMessage(ResultsLog::kError, nullptr, "logged before the throw");
  throw std::runtime_error("boom");
}
bool ThrowsEngine(ResultsLog& log, EngineContext&, int, char**) {
  log.AddMessage(ResultsLog::kError, nullptr, "logged before the throw");
  throw Vak::Exception("GuardedRunTest.cpp", 1, "boom");
}
bool ThrowsInt(ResultsLog& log, EngineContext&, int, char**) {
  log.AddMessage(ResultsLog::kError, nullptr, "logged before the throw");
  throw 7;
}
bool Faults(ResultsLog& log, EngineContext&, int, char**) {
  log.AddMessage(ResultsLog::kError, nullptr, "logged before the fault");
  std::raise(SIGSEGV);
  return false;
}

TEST(GuardedRunTest, PassesTheCommandsResultOn) {
  char program[] = "VelmarUtil";
  char* argv[] = {program, nullptr};
  EngineContext context;
  ResultsLog log;
  EXPECT_FALSE(RunCommandGuarded(log, context, 1, argv, Succeeds));
  EXPECT_TRUE(RunCommandGuarded(log, context, 1, argv, Fails));
  EXPECT_EQ(log.GetErrorCount(), 1);
}

// What main does after the command: print the log, then shut down. Neither
// may happen once the command threw or faulted.
void RunAsMainWould(CommandFunction command) {
  char program[] = "VelmarUtil";
  char* argv[] = {program, nullptr};
  EngineContext context;
  ResultsLog log;
  std::fprintf(stderr, "command starts\n");
  RunCommandGuarded(log, context, 1, argv, command);
  PrintResultsLog(log, stderr);
  std::fprintf(stderr, "shutdown ran\n");
}

TEST(GuardedRunDeathTest, AnExceptionEndsTheProcessAtOnceWith156) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CommandFunction throwers[] = {ThrowsStandard, ThrowsEngine, ThrowsInt};
  for (CommandFunction thrower : throwers) {
    EXPECT_EXIT(RunAsMainWould(thrower), testing::ExitedWithCode(156),
                testing::AllOf(testing::HasSubstr("command starts"), testing::Not(testing::HasSubstr("logged")),
                               testing::Not(testing::HasSubstr("OK (")),
                               testing::Not(testing::HasSubstr("shutdown ran"))));
  }
}

TEST(GuardedRunDeathTest, AProcessorFaultInACommandEndsTheProcessWith156) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunAsMainWould(Faults), testing::ExitedWithCode(156),
              testing::AllOf(testing::Not(testing::HasSubstr("logged")),
                             testing::Not(testing::HasSubstr("shutdown ran"))));
}

TEST(GuardedRunDeathTest, EndProcessKeepsWhatStdioStillBuffers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::setvbuf(stderr, nullptr, _IOFBF, 4096);
        std::fprintf(stderr, "buffered text");
        EndProcess(255);
      },
      testing::ExitedWithCode(255), testing::HasSubstr("buffered text"));
}

} // namespace
