#include "platform/os/Signals.h"
#include "platform/os/SignalSafeWriter.h"
#include "platform/os/Thread.h"

#include <gtest/gtest.h>

#include "WriterCapture.h"

#include <climits>
#include <csignal>
#include <cstdint>
#include <string>
#include <unistd.h>

namespace platform {
namespace {

using platform::test::Written;

TEST(SignalSafeWriterTest, FormatsNumbersAndText) {
  EXPECT_EQ(Written([](SignalSafeWriter& w) {
              w.Text("a=").Decimal(0).Char(' ').Decimal(-42).Char(' ').Decimal(INT64_MIN).Char(' ')
                  .Unsigned(UINT64_MAX).Text(nullptr);
            }),
            "a=0 -42 -9223372036854775808 18446744073709551615");
  EXPECT_EQ(Written([](SignalSafeWriter& w) {
              w.Hex(0).Char(' ').Hex(0xBEEF, 8).Char(' ').Hex(0x123456789, 4).Char(' ')
                  .Hex(UINT64_MAX, 20).Char(' ').Hex(0x10, 16);
            }),
            "0 0000beef 123456789 ffffffffffffffff 0000000000000010");
}

TEST(SignalSafeWriterTest, LongOutputPassesTheBuffer) {
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += std::to_string(i) + ",";
  EXPECT_EQ(Written([](SignalSafeWriter& w) {
              for (int i = 0; i < 1000; ++i) w.Decimal(i).Char(',');
            }),
            expected);
}

TEST(SignalSafeWriterTest, ClosedDescriptorFails) {
  SignalSafeWriter w(-1);
  w.Text("x");
  EXPECT_FALSE(w.Flush());
  EXPECT_TRUE(w.Failed());
}

TEST(SignalsTest, Names) {
  EXPECT_STREQ(SignalName(SIGSEGV), "SIGSEGV");
  EXPECT_STREQ(SignalName(SIGFPE), "SIGFPE");
  EXPECT_STREQ(SignalName(SIGHUP), "unknown signal");
}

void Report(int signal, void* address, void*) {
  SignalSafeWriter(STDERR_FILENO)
      .Text("crash report: ").Text(SignalName(signal)).Text(" (").Decimal(signal).Text(") at 0x")
      .Hex(reinterpret_cast<uintptr_t>(address), 8).Char('\n');
}

// An address no mapping holds (the lowest page is never mapped).
volatile uintptr_t gBadAddress = 0x10;

void Fault() {
  *reinterpret_cast<volatile int*>(gBadAddress) = 1;
}

unsigned FaultInThread(void*) {
  Fault();
  return 0;
}

using SignalsDeathTest = ::testing::Test;

TEST_F(SignalsDeathTest, FaultReachesTheCallbackAndStillKills) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        InstallCrashHandler(Report);
        Fault();
      },
      "crash report: SIGSEGV \\(11\\) at 0x00000010\n");
  EXPECT_EXIT(
      {
        InstallCrashHandler(Report);
        Thread t(FaultInThread, nullptr, true);
        t.WaitOne(kInfinite);
      },
      ::testing::KilledBySignal(SIGSEGV), "crash report: SIGSEGV \\(11\\) at 0x00000010\n");
  EXPECT_EXIT(
      {
        InstallCrashHandler(Report);
        ::abort();
      },
      ::testing::KilledBySignal(SIGABRT), "crash report: SIGABRT \\(6\\) at 0x00000000\n");
}

} // namespace
} // namespace platform
