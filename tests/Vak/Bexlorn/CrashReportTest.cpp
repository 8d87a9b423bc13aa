#include "Vak/Bexlorn/CrashReport.h"

#include "platform/os/Program.h"
#include "platform/os/Thread.h"

#include <gtest/gtest.h>

#include "tests/platform/os/WriterCapture.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace Vak {
namespace {

using platform::test::Written;

TEST(CrashReportTest, ExceptionNames) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0xC0000005, "an Access Violation"},       {0xC0000094, "an Integer Divide by Zero"},
      {0xC000008C, "a Array Bounds Exceeded"},   {0xE06D7363, "a Microsoft C++ Exception"},
      {0x40010005, "a Control-C"},               {0xC0000142, "a DLL Initialization Failed"},
      {0, "an Unknown exception type"},          {0xC0000001, "an Unknown exception type"},
  };
  for (const auto& [code, name] : cases) EXPECT_STREQ(CrashExceptionName(code), name) << std::hex << code;
}

TEST(CrashReportTest, ExceptionCodeFromSignalAndProcessorState) {
  constexpr uint64_t kSp = 0x7ffd12340000;
  constexpr uint32_t kAllMasked = 0x1f80;  // the SSE default: every exception masked
  struct Case {
    const char* name;
    int signal;
    bool context;
    uint64_t trap;
    uint32_t x87;
    uint32_t mxcsr;
    uintptr_t fault;
    uint32_t expected;
  };
  const Case cases[] = {
      {"null page", SIGSEGV, true, 14, 0, 0, 0, 0xC0000005},
      {"push into the guard page", SIGSEGV, true, 14, 0, 0, kSp - 8, 0xC00000FD},
      {"probe of a large frame", SIGSEGV, true, 14, 0, 0, kSp + 4096, 0xC00000FD},
      {"far below the stack", SIGSEGV, true, 14, 0, 0, kSp - 65536, 0xC0000005},
      {"general protection", SIGSEGV, true, 13, 0, 0, 0, 0xC0000005},
      {"no context", SIGSEGV, false, 0, 0, 0, 0x10, 0xC0000005},
      {"misaligned", SIGBUS, true, 17, 0, 0, 0x1001, 0x80000002},
      {"mapped file gone", SIGBUS, true, 14, 0, 0, 0x1000, 0xC0000006},
      {"illegal instruction", SIGILL, true, 6, 0, 0, 0, 0xC000001D},
      {"integer divide", SIGFPE, true, 0, 0, 0, 0, 0xC0000094},
      {"SSE divide by zero", SIGFPE, true, 19, 0, (kAllMasked & ~0x200u) | 0x4, 0, 0xC000008E},
      {"SSE invalid", SIGFPE, true, 19, 0, (kAllMasked & ~0x80u) | 0x1, 0, 0xC0000090},
      {"SSE masked flag ignored", SIGFPE, true, 19, 0, (kAllMasked & ~0x400u) | 0x4 | 0x8, 0, 0xC0000091},
      {"SSE underflow", SIGFPE, true, 19, 0, (kAllMasked & ~0x800u) | 0x10, 0, 0xC0000093},
      {"SSE inexact", SIGFPE, true, 19, 0, (kAllMasked & ~0x1000u) | 0x20, 0, 0xC000008F},
      {"SSE denormal", SIGFPE, true, 19, 0, (kAllMasked & ~0x100u) | 0x2, 0, 0xC000008D},
      {"x87 stack fault", SIGFPE, true, 16, 0x41, 0, 0, 0xC0000092},
      {"x87 divide by zero", SIGFPE, true, 16, 0x04, 0, 0, 0xC000008E},
      {"x87 overflow", SIGFPE, true, 16, 0x08, 0, 0, 0xC0000091},
      {"FPE without context", SIGFPE, false, 0, 0, 0, 0, 0},
      {"abort", SIGABRT, true, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    platform::FaultContext context;
    context.rsp = kSp;
    context.trapNumber = c.trap;
    context.x87Status = c.x87;
    context.mxcsr = c.mxcsr;
    EXPECT_EQ(CrashExceptionCode(c.signal, c.context ? &context : nullptr, c.fault), c.expected) << c.name;
  }
}

TEST(CrashReportTest, StackLinesPadAShortLastLine) {
  const unsigned char bytes[] = "ABCDEFGHIJKLMNOP\x7fqrstuvwxyz{|}~ \x00\x80\xff!abc\x1f";
  static_assert(sizeof bytes == 41);
  const std::string pad = "         ";
  const std::string first = "0x00007ffd00001000: 44434241 48474645 4c4b4a49 504f4e4d ABCDEFGHIJKLMNOP\r\n";
  const std::string second = "0x00007ffd00001010: 7372717f 77767574 7b7a7978 207e7d7c .qrstuvwxyz{|}~ \r\n";
  struct Case {
    const char* name;
    std::size_t size;
    std::string expected;
  };
  const Case cases[] = {
      {"nothing", 0, ""},
      {"one full line", 16, first},
      {"two words short", 24, first + "0x00007ffd00001010: 7372717f 77767574 " + pad + pad + ".qrstuvw\r\n"},
      {"three words short", 36, first + second + "0x00007ffd00001020: 21ff8000 " + pad + pad + pad + "...!\r\n"},
      {"two words short after full lines", 40,
       first + second + "0x00007ffd00001020: 21ff8000 1f636261 " + pad + pad + "...!abc.\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Written([&](platform::SignalSafeWriter& w) { WriteCrashStackLines(w, bytes, c.size, 0x7ffd00001000); }),
              c.expected)
        << c.name;
}

TEST(CrashReportTest, TimeIsMonthDayYearAtTwoSecondResolution) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "1/1/1970 00:00:00"},
      {951782400, "2/29/2000 00:00:00"},
      {951868799, "2/29/2000 23:59:58"},
      {1700000001, "11/14/2023 22:13:20"},
      {4102531199, "1/1/2100 23:59:58"},
      {-1, "12/31/1969 23:59:58"},
      {-31536000, "1/1/1969 00:00:00"},
  };
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(Written([&](platform::SignalSafeWriter& w) { WriteCrashTime(w, seconds); }), text) << seconds;
}

// ---- Reports of real faults, written in a child process ----

// Sanitizer checks off: the faults must reach the processor.
int* volatile gNull = nullptr;
volatile uintptr_t gLowAddress = 0x10;
volatile int gZero = 0;
volatile int gSink;

__attribute__((noinline, no_sanitize("undefined"))) void WriteNull() { *gNull = 1; }
__attribute__((noinline, no_sanitize("undefined"))) void ReadLow() { gSink = *reinterpret_cast<volatile int*>(gLowAddress); }
__attribute__((noinline, no_sanitize("undefined"))) void DivideByZero() { gSink = 7 / gZero; }

void (*gThreadFault)();
unsigned RunThreadFault(void*) {
  gThreadFault();
  return 0;
}

// The child runs the whole test again, so the folder reaches it through the
// environment.
constexpr char kFolderVariable[] = "VAK_CRASH_REPORT_TEST_FOLDER";

class CrashReportDeathTest : public ::testing::Test {
protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (const char* inherited = std::getenv(kFolderVariable)) {
      folder_ = inherited;
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "vak-crash-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    owner_ = true;
    ::setenv(kFolderVariable, folder_.c_str(), 1);
  }
  void TearDown() override {
    if (!owner_) return;
    ::unsetenv(kFolderVariable);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  std::string Report() const {
    std::ifstream in(folder_ + "/ERRORLOG.TXT", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // In the child: the report goes into the test's folder.
  void Install() const {
    ::setenv("TMPDIR", folder_.c_str(), 1);
    InstallCrashReport();
  }

  std::string folder_;
  bool owner_ = false;
};

// Ends the child with 0 when `ok`, else says why on stderr and ends with 1.
[[noreturn]] void ExitWith(bool ok, const std::string& why) {
  if (!ok) std::fprintf(stderr, "child: %s\n", why.c_str());
  std::exit(ok ? 0 : 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

// Checks one stack line; answers its byte count (0 when malformed).
std::size_t StackLineBytes(const std::string& line, uint64_t address) {
  char expectedAddress[32];
  std::snprintf(expectedAddress, sizeof expectedAddress, "0x%016llx: ", static_cast<unsigned long long>(address));
  if (line.compare(0, 20, expectedAddress) != 0 || line.size() < 56) return 0;
  std::size_t words = 0;
  bool padding = false;
  static const std::regex word("[0-9a-f]{8} ");
  for (std::size_t slot = 0; slot < 4; ++slot) {
    std::string text = line.substr(20 + slot * 9, 9);
    if (!padding && std::regex_match(text, word)) {
      ++words;
    } else if (text == "         ") {
      padding = true;
    } else {
      return 0;
    }
  }
  std::string chars = line.substr(56);
  if (chars.size() != words * 4) return 0;
  for (char c : chars)
    if (c < 32 || c > 126) return 0;
  return words * 4;
}

struct FaultCase {
  const char* name;
  void (*fault)();
  bool inThread;
  int signal;
  const char* exception;  // "<name> (0x<code>)"
  const char* accessLine; // null when none
};

void CheckReport(const std::string& report, const FaultCase& c) {
  std::vector<std::string> lines = Lines(report);
  ASSERT_GT(lines.size(), 30u) << report;
  std::size_t i = 0;
  EXPECT_EQ(lines[i++], std::string("Bexlorn_tests caused ") + c.exception + " ");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[i++], m, std::regex("in module Bexlorn_tests at [0-9a-f]{4}:([0-9a-f]{16})\\.")))
      << lines[i - 1];
  std::string rip = m[1];
  EXPECT_EQ(lines[i++], "");
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex(c.inThread ? "Exception handler called in thread [0-9]+\\."
                                                                 : "Exception handler called in main thread\\.")))
      << lines[i - 1];
  EXPECT_TRUE(std::regex_match(lines[i++],
                               std::regex("Error occurred at [0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9][02468]\\.")))
      << lines[i - 1];
  std::string user = platform::UserName();
  EXPECT_EQ(lines[i++], platform::ProgramPath() + ", run by " + (user.empty() ? "Unknown" : user) + ".");
  std::string osName, osRelease;
  ASSERT_TRUE(platform::KernelVersion(osName, osRelease));
  EXPECT_EQ(lines[i++], "Operating system:  " + osName + " (" + osRelease + ").");
  EXPECT_EQ(lines[i++], std::to_string(platform::ProcessorCount()) + " processor(s), type 8664.");
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex("[0-9]{1,3}% memory in use\\."))) << lines[i - 1];
  for (const char* what : {"physical memory", "physical memory free", "paging file", "paging file free",
                           "user address space", "user address space free"})
    EXPECT_TRUE(std::regex_match(lines[i++], std::regex(std::string("[0-9]+ MBytes ") + what + "\\.")))
        << lines[i - 1];
  if (c.accessLine != nullptr) {
    EXPECT_EQ(lines[i++], c.accessLine);
  }
  EXPECT_EQ(lines[i++], "Context:");
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex("RDI:    0x[0-9a-f]{16}  RSI: 0x[0-9a-f]{16}  RAX:   0x[0-9a-f]{16}")))
      << lines[i - 1];
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex("RBX:    0x[0-9a-f]{16}  RCX: 0x[0-9a-f]{16}  RDX:   0x[0-9a-f]{16}")))
      << lines[i - 1];
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex("RIP:    0x" + rip + "  RBP: 0x[0-9a-f]{16}  SegCs: 0x[0-9a-f]{8}")))
      << lines[i - 1];
  ASSERT_TRUE(std::regex_match(lines[i++], m, std::regex("EFlags: 0x[0-9a-f]{8}  RSP: 0x([0-9a-f]{16})  SegSs: 0x[0-9a-f]{8}")))
      << lines[i - 1];
  uint64_t sp = std::stoull(m[1], nullptr, 16);
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(lines[i++], "Bytes at CS:RIP:");
  EXPECT_TRUE(std::regex_match(lines[i++], std::regex("([0-9a-f]{2} ){16}"))) << lines[i - 1];
  EXPECT_EQ(lines[i++], "");
  EXPECT_EQ(lines[i++], "Stack:");
  // Whole lines from the stack pointer up; only the last may be short; at most 12288 bytes.
  std::size_t dumped = 0;
  for (; i < lines.size() && lines[i].rfind("0x", 0) == 0; ++i) {
    std::size_t bytes = StackLineBytes(lines[i], sp + dumped);
    ASSERT_NE(bytes, 0u) << lines[i];
    ASSERT_EQ(dumped % 16, 0u) << "a short line before the last: " << lines[i];
    dumped += bytes;
  }
  EXPECT_GT(dumped, 0u);
  EXPECT_LE(dumped, 12288u);
  // The modules: the program among them with its place and file.
  EXPECT_EQ(lines[i], "Module 1");
  bool programListed = false;
  for (; i + 3 < lines.size(); ++i) {
    if (lines[i] != platform::ProgramPath()) continue;
    programListed = std::regex_match(lines[i - 1], std::regex("Module [0-9]+")) &&
                    std::regex_match(lines[i + 1], std::regex("Image Base: 0x[0-9a-f]{16}  Image Size: 0x[0-9a-f]{8,}")) &&
                    std::regex_match(lines[i + 2], std::regex("File Size:  [0-9]+ *  File Time:  [0-9/]+ [0-9:]+"));
    break;
  }
  EXPECT_TRUE(programListed);
  EXPECT_TRUE(report.ends_with("\r\n\r\n===== [end of ERRORLOG.TXT] =====\r\n"));
}

TEST_F(CrashReportDeathTest, FaultWritesTheReport) {
  const FaultCase cases[] = {
      {"null write", WriteNull, false, SIGSEGV, "an Access Violation (0xc0000005)",
       "Write to location 0000000000000000 caused an access violation."},
      {"low read", ReadLow, false, SIGSEGV, "an Access Violation (0xc0000005)",
       "Read from location 0000000000000010 caused an access violation."},
      {"integer divide by zero", DivideByZero, false, SIGFPE, "an Integer Divide by Zero (0xc0000094)", nullptr},
      {"null write in a thread", WriteNull, true, SIGSEGV, "an Access Violation (0xc0000005)",
       "Write to location 0000000000000000 caused an access violation."},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(folder_ + "/ERRORLOG.TXT");
    EXPECT_EXIT(
        {
          Install();
          if (c.inThread) {
            gThreadFault = c.fault;
            platform::Thread thread(RunThreadFault, nullptr, true);
            thread.WaitOne(platform::kInfinite);
          } else {
            c.fault();
          }
        },
        ::testing::KilledBySignal(c.signal), "");
    CheckReport(Report(), c);
  }
}

TEST_F(CrashReportDeathTest, OnlyTheFirstFaultIsReportedAndAnOldReportIsReplaced) {
  std::ofstream(folder_ + "/ERRORLOG.TXT") << "an older report\r\n";
  EXPECT_EXIT(
      {
        Install();
        ucontext_t context{};
        ::getcontext(&context);
        bool first = WriteCrashReport(SIGSEGV, nullptr, &context);
        std::string afterFirst = Report();
        bool second = WriteCrashReport(SIGFPE, nullptr, &context);
        std::string afterSecond = Report();
        ExitWith(first && !second && afterFirst == afterSecond &&
                     afterFirst.starts_with("Bexlorn_tests caused an Access Violation (0xc0000005) \r\n") &&
                     afterFirst.ends_with("===== [end of ERRORLOG.TXT] =====\r\n"),
                 "first " + std::to_string(first) + " second " + std::to_string(second) + "\n" + afterSecond);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(CrashReportDeathTest, ReportWithoutContextSaysTheStackCouldNotBeDumped) {
  EXPECT_EXIT(
      {
        Install();
        bool written = WriteCrashReport(SIGABRT, nullptr, nullptr);
        std::string report = Report();
        ExitWith(written && report.starts_with("Bexlorn_tests caused an Unknown exception type (0x00000000) \r\n"
                                               "in module Unknown at 0000:0000000000000000.\r\n") &&
                     report.find("Context:\r\n\r\nBytes at CS:RIP:\r\n\r\n\r\nStack:\r\n"
                                 "Exception encountered during stack dump.\r\nModule 1\r\n") != std::string::npos,
                 report);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(CrashReportDeathTest, UncreatableReportIsSaidOnStderr) {
  EXPECT_EXIT(
      {
        ::setenv("TMPDIR", (folder_ + "/missing").c_str(), 1);
        InstallCrashReport();
        ExitWith(!WriteCrashReport(SIGSEGV, nullptr, nullptr), "written");
      },
      ::testing::ExitedWithCode(0), "Error creating exception report\n");
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/missing"));
}

} // namespace
} // namespace Vak
