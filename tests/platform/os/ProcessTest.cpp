#include "platform/os/Process.h"
#include "platform/os/Waitable.h"

#include "tests/platform/os/PrintError.h"

#include <gtest/gtest.h>

#include <csignal>

namespace platform {
namespace {

TEST(ProcessTest, ExitCodesOfFinishedPrograms) {
  struct Case {
    std::vector<std::string> argv;
    int exitCode;
  } cases[] = {
      {{"/bin/true"}, 0},
      {{"/bin/false"}, 1},
      {{"/bin/sh", "-c", "exit 7"}, 7},
      // Arguments reach the program as they are, spaces and quotes included.
      {{"/bin/sh", "-c", "test \"$1\" = 'a b \"c\"'", "sh", "a b \"c\""}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argv.back());
    Process p;
    EXPECT_EQ(p.ExitCode(), -1);
    ASSERT_EQ(p.Start(c.argv), Error::None);
    EXPECT_NE(p.Id(), 0u);
    EXPECT_TRUE(p.Wait(kInfinite));
    EXPECT_FALSE(p.IsRunning());
    EXPECT_EQ(p.ExitCode(), c.exitCode);
    EXPECT_TRUE(p.Wait(0));
    EXPECT_FALSE(p.Kill());
  }
}

TEST(ProcessTest, KillEndsARunningProgram) {
  Process p;
  ASSERT_EQ(p.Start({"/bin/sleep", "10"}), Error::None);
  EXPECT_TRUE(p.IsRunning());
  EXPECT_FALSE(p.Wait(2));
  EXPECT_TRUE(p.Kill());
  EXPECT_TRUE(p.Wait(kInfinite));
  EXPECT_EQ(p.ExitCode(), 128 + SIGKILL);
  EXPECT_FALSE(p.Kill());
}

TEST(ProcessTest, TimedWaitSeesTheEnd) {
  Process p;
  ASSERT_EQ(p.Start({"/bin/true"}), Error::None);
  while (!p.Wait(5)) {
  }
  EXPECT_EQ(p.ExitCode(), 0);
}

TEST(ProcessTest, StartFailures) {
  Process p;
  EXPECT_EQ(p.Start({}), Error::InvalidArgument);
  EXPECT_EQ(p.Start({""}), Error::InvalidArgument);
  EXPECT_EQ(p.Start({"/no/such/program"}), Error::PathNotFound);
  EXPECT_FALSE(p.Wait(0));
  EXPECT_FALSE(p.IsRunning());
  EXPECT_FALSE(p.Kill());
  ASSERT_EQ(p.Start({"/bin/true"}), Error::None);
  EXPECT_EQ(p.Start({"/bin/true"}), Error::InvalidArgument);
  EXPECT_TRUE(p.Wait(kInfinite));
}

} // namespace
} // namespace platform
