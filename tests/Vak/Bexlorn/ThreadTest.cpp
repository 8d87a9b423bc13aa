#include "Vak/Bexlorn/Thread.h"

#include "Vak/Bexlorn/CrashReport.h"
#include "Vak/Bexlorn/DynamicLibrary.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FatalError.h"
#include "Vak/Bexlorn/Time.h"

#include "tests/platform/os/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace Vak {
namespace {

// What a test's thread function saw and did.
struct Context {
  Thread* self = nullptr;
  std::atomic<bool> ran{false};
  std::atomic<bool> stopAsked{false};
  std::atomic<unsigned long> id{0};
  unsigned result = 0;
};

unsigned Record(void* context) {
  auto* c = static_cast<Context*>(context);
  c->id = Thread::GetCurrentId();
  c->ran = true;
  return c->result;
}

// Whether the thread's end event is set, seen through the thread's own object.
bool StopAsked(Thread* self, unsigned long timeout) {
  SyncObject* objects[] = {self};
  MultiLock lock(objects, 1);
  return lock.Lock(timeout) == MultiLock::kWaitObject0;
}

unsigned NoteStopRequest(void* context) {
  auto* c = static_cast<Context*>(context);
  c->ran = true;
  c->stopAsked = StopAsked(c->self, 0);
  return 5;
}

unsigned WaitForStopRequest(void* context) {
  auto* c = static_cast<Context*>(context);
  c->ran = true;
  c->stopAsked = StopAsked(c->self, SyncObject::kInfinite);
  return 7;
}

TEST(ThreadTest, RunsAtOnceAndEndsWithTheFunctionsResult) {
  Context c;
  c.result = 42;
  Thread thread(Record, &c, true);
  EXPECT_TRUE(thread.SetPriority(Thread::PriorityAboveNormal));
  EXPECT_TRUE(thread.Lock());
  EXPECT_TRUE(thread.IsDone());
  EXPECT_EQ(thread.GetExitCode(), 42u);
  EXPECT_TRUE(thread.Wait(-1));  // stays signalled once ended
  EXPECT_TRUE(thread.Lock(0));
  EXPECT_NE(c.id, 0u);
  EXPECT_NE(c.id, Thread::GetCurrentId());
}

TEST(ThreadTest, SuspendedThreadStartsAtResume) {
  Context c;
  c.result = 3;
  Thread thread(Record, &c, false);
  EXPECT_FALSE(thread.Lock(2));
  EXPECT_FALSE(thread.IsDone());
  EXPECT_EQ(thread.GetExitCode(), 0u);
  EXPECT_FALSE(c.ran);
  EXPECT_TRUE(thread.Resume());
  EXPECT_TRUE(thread.Lock());
  EXPECT_TRUE(c.ran);
  EXPECT_EQ(thread.GetExitCode(), 3u);
  EXPECT_TRUE(thread.Resume());  // already ended: still true
}

TEST(ThreadTest, DestructorAsksToStopAndWaitsForTheFunction) {
  struct Case {
    const char* name;
    Thread::Function function;
    bool resume;
  };
  const Case cases[] = {
      {"never resumed: runs once the stop is asked", NoteStopRequest, false},
      {"running, waiting for the stop request", WaitForStopRequest, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Context c;
    {
      auto thread = std::make_unique<Thread>(test.function, &c, false);
      c.self = thread.get();
      if (test.resume) {
        thread->Resume();
        while (!c.ran) Time::Delay(0);
      }
    }
    EXPECT_TRUE(c.ran);
    EXPECT_TRUE(c.stopAsked);
  }
}

TEST(ThreadTest, SignalSetsTheEndEventTheFunctionWaitsOn) {
  Context c;
  Thread thread(WaitForStopRequest, &c, false);
  c.self = &thread;
  ASSERT_TRUE(thread.Resume());
  EXPECT_FALSE(thread.Lock(2));
  EXPECT_TRUE(thread.Signal());
  EXPECT_TRUE(thread.Lock());
  EXPECT_TRUE(c.stopAsked);
  EXPECT_EQ(thread.GetExitCode(), 7u);
}

TEST(ThreadTest, TerminateEndsAThreadThatHasNotStarted) {
  Context suspended;
  Thread never(Record, &suspended, false);
  EXPECT_TRUE(never.Terminate());
  EXPECT_TRUE(never.Lock());
  EXPECT_TRUE(never.IsDone());
  EXPECT_FALSE(suspended.ran);
  EXPECT_TRUE(never.Resume());
  EXPECT_FALSE(suspended.ran);

  // A running one is asked to stop and ends by itself.
  Context running;
  Thread thread(WaitForStopRequest, &running, false);
  running.self = &thread;
  thread.Resume();
  while (!running.ran) Time::Delay(0);
  thread.Terminate();
  EXPECT_TRUE(thread.Lock());
  EXPECT_TRUE(running.stopAsked);
  EXPECT_EQ(thread.GetExitCode(), 7u);
}

// Escaped exceptions. The window's answer is "continue" here, so the process
// goes on starting threads.
std::atomic<int> gWindows{0};
std::string gShownReason;

int Continue(const Exception& e, const char*) {
  ++gWindows;
  gShownReason = e.Reason();
  return 0;
}

TEST(ThreadTest, EscapedExceptionsEndTheThreadWithZero) {
  struct Case {
    const char* name;
    Thread::Function function;
    int windows;
    const char* reason;
  };
  const Case cases[] = {
      {"engine exception", [](void*) -> unsigned { throw Exception(__FILE__, __LINE__, "engine failure"); }, 1,
       "engine failure"},
      {"derived engine exception", [](void*) -> unsigned { throw FileEx(nullptr, 0, "file failure"); }, 1,
       "file failure"},
      {"standard exception", [](void*) -> unsigned { throw std::runtime_error("dropped"); }, 0, ""},
      {"any other value", [](void*) -> unsigned { throw 17; }, 0, ""},
  };
  FatalErrorAnswer previous = SetFatalErrorAnswer(Continue);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gWindows = 0;
    gShownReason.clear();
    Thread thread(c.function, nullptr, true);
    ASSERT_TRUE(thread.Lock());
    EXPECT_EQ(thread.GetExitCode(), 0u);
    EXPECT_EQ(gWindows, c.windows);
    EXPECT_EQ(gShownReason, c.reason);
  }
  EXPECT_FALSE(FatalErrorAccepted());
  SetFatalErrorAnswer(previous);
}

using ThreadDeathTest = ::testing::Test;

TEST_F(ThreadDeathTest, AcceptedFatalErrorStopsNewThreadFunctions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The default answer ends; the process then starts no thread function.
  EXPECT_EXIT(
      {
        Thread failing([](void*) -> unsigned { throw Exception("Game.cpp", 12, "boom"); }, nullptr, true);
        failing.Lock();
        if (failing.GetExitCode() != 0 || !FatalErrorAccepted()) std::_Exit(1);
        Context c;
        c.result = 9;
        Thread later(Record, &c, true);
        later.Lock();
        std::_Exit(c.ran ? 2 : later.GetExitCode() == 0 ? 3 : 4);
      },
      ::testing::ExitedWithCode(3), "File: Game.cpp\nLine: 12\nClass: .*\nReason: boom\n");
}

volatile uintptr_t gBadAddress = 0x10;

TEST_F(ThreadDeathTest, ProcessorFaultProducesTheCrashReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The report goes to the temporary folder, which the child (this test run
  // again from the top in a new process) inherits from here.
  const char kChildMark[] = "VAK_THREAD_TEST_CRASH_CHILD";
  std::optional<platform::test::TempFolder> folder;
  std::string previous;
  const char* saved = std::getenv("TMPDIR");
  if (std::getenv(kChildMark) == nullptr) {
    folder.emplace();
    if (saved != nullptr) previous = saved;
    ::setenv("TMPDIR", folder->Path().c_str(), 1);
    ::setenv(kChildMark, "1", 1);
  }
  EXPECT_EXIT(
      {
        Thread faulting(
            [](void*) -> unsigned {
              *reinterpret_cast<volatile int*>(gBadAddress) = 1;
              return 1;
            },
            nullptr, true);
        faulting.Lock();
        std::_Exit(0);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
  ::unsetenv(kChildMark);
  if (saved != nullptr)
    ::setenv("TMPDIR", previous.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  std::string report = folder->ReadFile("ERRORLOG.TXT");
  EXPECT_NE(report.find("caused an Access Violation (0xc0000005)"), std::string::npos) << report;
  EXPECT_NE(report.find("===== [end of ERRORLOG.TXT] ====="), std::string::npos);
}

TEST(ThreadTest, RunningProcessIsAlive) {
  unsigned long self = Thread::GetProcessId();
  EXPECT_NE(self, 0u);
  EXPECT_TRUE(Thread::IsProcessAlive(self));
  EXPECT_FALSE(Thread::IsProcessAlive(0));
  EXPECT_FALSE(Thread::IsProcessAlive(0x100000000ul + self));  // not cut to 32 bits
}

// Delay sleeps at least as long as asked, on the monotonic clock; 0 only
// gives the processor away.
TEST(ThreadTest, DelaySleepsAtLeastAsLongAsAsked) {
  for (unsigned long ms : {0ul, 1ul, 5ul}) {
    SCOPED_TRACE(ms);
    const auto start = std::chrono::steady_clock::now();
    Time::Delay(ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
  }
}

TEST(DynamicLibraryTest, RunningProgramAndMissingLibraries) {
  DynamicLibrary library;
  void* address = &address;
  EXPECT_FALSE(library.Symbol("getenv", &address));  // nothing loaded
  EXPECT_EQ(address, nullptr);

  ASSERT_TRUE(library.Load("*"));
  ASSERT_TRUE(library.Symbol("getenv", &address));
  EXPECT_EQ(address, reinterpret_cast<void*>(&std::getenv));
  EXPECT_FALSE(library.Symbol("no_such_symbol_in_any_module", &address));
  EXPECT_EQ(address, nullptr);

  // A failed load still frees what was held.
  EXPECT_FALSE(library.Load("/no/such/folder/library.so"));
  EXPECT_FALSE(library.Symbol("getenv", &address));
  EXPECT_FALSE(library.Load("no_such_library_anywhere.so"));

  ASSERT_TRUE(library.Load(nullptr));
  library.Free();
  EXPECT_FALSE(library.Symbol("getenv", &address));
}

} // namespace
} // namespace Vak
