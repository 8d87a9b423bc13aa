#include "Vak/Bexlorn/CrashReport.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include "platform/os/FileSystem.h"
#include "platform/os/Program.h"
#include "platform/os/Signals.h"
#include "platform/os/Thread.h"

#include <atomic>
#include <csignal>
#include <string>

namespace Vak {

namespace {

const char kReportName[] = "ERRORLOG.TXT";
constexpr std::size_t kStackDumpLimit = 12288;
constexpr uint64_t kMByte = 1024 * 1024;

struct ExceptionName {
  uint32_t code;
  const char* name;
};

const ExceptionName kExceptionNames[] = {
    {0x40010005, "a Control-C"},
    {0x40010008, "a Control-Break"},
    {0x80000002, "a Datatype Misalignment"},
    {0x80000003, "a Breakpoint"},
    {0xC0000005, "an Access Violation"},
    {0xC0000006, "an In Page Error"},
    {0xC0000017, "a No Memory"},
    {0xC000001D, "an Illegal Instruction"},
    {0xC0000025, "a Noncontinuable Exception"},
    {0xC0000026, "an Invalid Disposition"},
    {0xC000008C, "a Array Bounds Exceeded"},
    {0xC000008D, "a Float Denormal Operand"},
    {0xC000008E, "a Float Divide by Zero"},
    {0xC000008F, "a Float Inexact Result"},
    {0xC0000090, "a Float Invalid Operation"},
    {0xC0000091, "a Float Overflow"},
    {0xC0000092, "a Float Stack Check"},
    {0xC0000093, "a Float Underflow"},
    {0xC0000094, "an Integer Divide by Zero"},
    {0xC0000095, "an Integer Overflow"},
    {0xC0000096, "a Privileged Instruction"},
    {0xC00000FD, "a Stack Overflow"},
    {0xC0000142, "a DLL Initialization Failed"},
    {0xE06D7363, "a Microsoft C++ Exception"},
};

constexpr uint32_t kAccessViolation = 0xC0000005;
constexpr uint32_t kStackOverflow = 0xC00000FD;

// Captured at install time; read-only afterwards.
struct Facts {
  bool ready = false;
  char reportPath[4160] = {};
  char programPath[4096] = {};
  const char* programName = programPath;  // after the last '/'
  char programBase[256] = {};              // the name cut at its last '.'
  char userName[256] = {};
  char osName[72] = {};
  char osRelease[72] = {};
  int processors = 1;
  int64_t utcOffset = 0;
};
Facts gFacts;

std::atomic<bool> gReportOnce{true};

void CopyBounded(char* to, std::size_t size, const char* from) {
  std::size_t n = 0;
  for (; n + 1 < size && from[n] != '\0'; ++n) to[n] = from[n];
  to[n] = '\0';
}

void CaptureFacts() {
  std::string folder = platform::TemporaryFolder();
  std::string report = folder + (folder.back() == '/' ? "" : "/") + kReportName;
  if (report.size() >= sizeof gFacts.reportPath) return;  // no usable path: no report
  CopyBounded(gFacts.reportPath, sizeof gFacts.reportPath, report.c_str());

  std::string program = platform::ProgramPath();
  CopyBounded(gFacts.programPath, sizeof gFacts.programPath, program.empty() ? "Unknown" : program.c_str());
  std::string name = gFacts.programPath;
  std::size_t slash = name.rfind('/');
  gFacts.programName = gFacts.programPath + (slash == std::string::npos ? 0 : slash + 1);
  name = gFacts.programName;
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  CopyBounded(gFacts.programBase, sizeof gFacts.programBase, name.c_str());

  std::string user = platform::UserName();
  CopyBounded(gFacts.userName, sizeof gFacts.userName, user.empty() ? "Unknown" : user.c_str());
  std::string osName, osRelease;
  if (!platform::KernelVersion(osName, osRelease)) osName = osRelease = "Unknown";
  CopyBounded(gFacts.osName, sizeof gFacts.osName, osName.c_str());
  CopyBounded(gFacts.osRelease, sizeof gFacts.osRelease, osRelease.c_str());
  gFacts.processors = platform::ProcessorCount();
  gFacts.utcOffset = platform::UtcOffsetSeconds();
  gFacts.ready = true;
}

void OnCrash(int signal, void* faultAddress, void* context) { WriteCrashReport(signal, faultAddress, context); }

// The processor type as the reports of the original platform number it.
constexpr int ProcessorType() {
#if defined(__x86_64__)
  return 8664;
#elif defined(__i386__)
  return 586;
#else
  return 0;
#endif
}

void Pad2(platform::SignalSafeWriter& w, int64_t value) {
  if (value < 10) w.Char('0');
  w.Decimal(value);
}

// A number left-justified in `width` characters.
void DecimalLeft(platform::SignalSafeWriter& w, uint64_t value, int width) {
  int digits = 1;
  for (uint64_t v = value; v >= 10; v /= 10) ++digits;
  w.Unsigned(value);
  for (; digits < width; ++digits) w.Char(' ');
}

uint64_t MBytes(uint64_t bytes) { return (bytes + kMByte - 1) / kMByte; }

const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '/') name = p + 1;
  return name;
}

// What one walk of the memory map tells about the fault.
struct MapFacts {
  uintptr_t ip = 0;
  uintptr_t sp = 0;
  char module[256] = "Unknown";
  uintptr_t codeEnd = 0;   // end of the readable region holding ip, 0 when none
  uintptr_t stackEnd = 0;  // end of the readable region holding sp, 0 when none
  uint64_t usedAddressSpace = 0;
  uint64_t userAddressSpace = 0;
};

bool CollectMapFacts(const platform::MappedRegion& region, void* context) {
  auto& facts = *static_cast<MapFacts*>(context);
  if (region.start < facts.userAddressSpace) facts.usedAddressSpace += region.end - region.start;
  if (facts.ip >= region.start && facts.ip < region.end) {
    if (region.path[0] == '/') CopyBounded(facts.module, sizeof facts.module, FileNameOf(region.path));
    if (region.readable) facts.codeEnd = region.end;
  }
  if (facts.sp >= region.start && facts.sp < region.end && region.readable) facts.stackEnd = region.end;
  return true;
}

// The module list: runs of regions mapping the same file, reported when one
// of them is executable.
struct ModuleWalk {
  platform::SignalSafeWriter* out;
  int count = 0;
  bool open = false;
  bool executable = false;
  uintptr_t base = 0;
  uintptr_t end = 0;
  char path[4096] = {};
};
ModuleWalk gModuleWalk{nullptr};  // one report per process: no need for it on the stack

void WriteModule(ModuleWalk& walk) {
  if (!walk.open || !walk.executable) return;
  platform::SignalSafeWriter& w = *walk.out;
  w.Text("Module ").Decimal(++walk.count).Text("\r\n");
  w.Text(walk.path).Text("\r\n");
  w.Text("Image Base: 0x").Hex(walk.base, 16).Text("  Image Size: 0x").Hex(walk.end - walk.base, 8).Text("\r\n");
  uint64_t size = 0;
  int64_t modified = 0;
  if (platform::FileSizeAndTime(walk.path, size, modified)) {
    w.Text("File Size:  ");
    DecimalLeft(w, size, 10);
    w.Text("  File Time:  ");
    WriteCrashTime(w, modified + gFacts.utcOffset);
    w.Text("\r\n");
  }
  w.Text("\r\n");
}

bool VisitModule(const platform::MappedRegion& region, void* context) {
  auto& walk = *static_cast<ModuleWalk*>(context);
  bool isFile = region.path[0] == '/';
  bool same = walk.open && isFile && region.start == walk.end;
  if (same) {
    const char* a = walk.path;
    const char* b = region.path;
    while (*a != '\0' && *a == *b) ++a, ++b;
    same = *a == *b;
  }
  if (same) {
    walk.end = region.end;
    walk.executable = walk.executable || region.executable;
    return true;
  }
  WriteModule(walk);
  walk.open = isFile;
  if (isFile) {
    CopyBounded(walk.path, sizeof walk.path, region.path);
    walk.base = region.start;
    walk.end = region.end;
    walk.executable = region.executable;
  }
  return true;
}

unsigned char gStackCopy[kStackDumpLimit];

} // namespace

uint32_t CrashExceptionCode(int signal, const platform::FaultContext* context, uintptr_t faultAddress) {
  switch (signal) {
    case SIGSEGV:
      // A page fault just below (or inside a fresh frame above) the stack
      // pointer is the stack running into its guard.
      if (context != nullptr && context->trapNumber == platform::kTrapPageFault && faultAddress + 4096 >= context->rsp &&
          faultAddress < context->rsp + 65536)
        return kStackOverflow;
      return kAccessViolation;
    case SIGBUS:
      return context != nullptr && context->trapNumber == platform::kTrapAlignmentCheck ? 0x80000002 : 0xC0000006;
    case SIGILL:
      return 0xC000001D;
    case SIGFPE: {
      if (context == nullptr) return 0;
      uint32_t flags;
      if (context->trapNumber == platform::kTrapDivideError) return 0xC0000094;
      if (context->trapNumber == platform::kTrapX87Error) {
        flags = context->x87Status;
        if ((flags & 0x41) == 0x41) return 0xC0000092;  // invalid operation from the register stack
      } else if (context->trapNumber == platform::kTrapSimdError) {
        flags = context->mxcsr & ~(context->mxcsr >> 7);  // raised and not masked
      } else {
        return 0;
      }
      if (flags & 0x01) return 0xC0000090;
      if (flags & 0x04) return 0xC000008E;
      if (flags & 0x02) return 0xC000008D;
      if (flags & 0x08) return 0xC0000091;
      if (flags & 0x10) return 0xC0000093;
      if (flags & 0x20) return 0xC000008F;
      return 0;
    }
    default:  // SIGABRT and anything else: no exception of the table
      return 0;
  }
}

const char* CrashExceptionName(uint32_t code) {
  for (const ExceptionName& entry : kExceptionNames)
    if (entry.code == code) return entry.name;
  return "an Unknown exception type";
}

void WriteCrashStackLines(platform::SignalSafeWriter& out, const unsigned char* bytes, std::size_t size,
                          uint64_t address) {
  for (std::size_t line = 0; line < size; line += 16) {
    std::size_t count = size - line < 16 ? size - line : 16;
    out.Text("0x").Hex(address + line, 16).Text(": ");
    for (std::size_t word = 0; word < 16; word += 4) {
      if (word >= count) {
        out.Text("         ");
        continue;
      }
      out.Hex(GetLE32(bytes + line + word), 8).Char(' ');
    }
    for (std::size_t i = 0; i < count; ++i) {
      unsigned char c = bytes[line + i];
      out.Char(c >= 32 && c <= 126 ? static_cast<char>(c) : '.');
    }
    out.Text("\r\n");
  }
}

void WriteCrashTime(platform::SignalSafeWriter& out, int64_t localSeconds) {
  int64_t days = localSeconds / 86400;
  int64_t rest = localSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from a day number (proleptic Gregorian calendar).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  out.Decimal(month).Char('/').Decimal(day).Char('/').Decimal(year).Char(' ');
  Pad2(out, rest / 3600);
  out.Char(':');
  Pad2(out, rest / 60 % 60);
  out.Char(':');
  Pad2(out, (rest % 60) & ~int64_t{1});
}

bool InstallCrashReport() {
  static const bool installed = [] {
    CaptureFacts();
    return platform::InstallCrashHandler(OnCrash);
  }();
  return installed;
}

bool WriteCrashReport(int signal, void* faultAddress, void* context) {
  if (!gReportOnce.exchange(false)) return false;
  int fd = gFacts.ready ? platform::CreateCrashFile(gFacts.reportPath) : -1;
  if (fd < 0) {
    platform::SignalSafeWriter(2).Text("Error creating exception report\n");
    return false;
  }
  {
    platform::SignalSafeWriter w(fd);
    platform::FaultContext registers;
    bool haveRegisters = platform::ReadFaultContext(context, registers);
    auto address = reinterpret_cast<uintptr_t>(faultAddress);
    uint32_t code = CrashExceptionCode(signal, haveRegisters ? &registers : nullptr, address);
    platform::MemoryStatus memory;
    bool haveMemory = platform::ReadMemoryStatus(memory);

    MapFacts map;
    map.ip = haveRegisters ? registers.rip : 0;
    map.sp = haveRegisters ? registers.rsp : 0;
    map.userAddressSpace = memory.userAddressSpace;
    platform::ForEachMappedRegion(CollectMapFacts, &map);

    w.Text(gFacts.programBase).Text(" caused ").Text(CrashExceptionName(code)).Text(" (0x").Hex(code, 8)
        .Text(") \r\nin module ").Text(map.module).Text(" at ").Hex(registers.cs, 4).Char(':').Hex(map.ip, 16)
        .Text(".\r\n\r\n");

    w.Text("Exception handler called in ");
    uint32_t thread = platform::CurrentThreadId();
    if (thread == platform::CurrentProcessId())
      w.Text("main thread");
    else
      w.Text("thread ").Unsigned(thread);
    w.Text(".\r\n");

    w.Text("Error occurred at ");
    WriteCrashTime(w, platform::WallClockSeconds() + gFacts.utcOffset);
    w.Text(".\r\n");
    w.Text(gFacts.programPath).Text(", run by ").Text(gFacts.userName).Text(".\r\n");
    w.Text("Operating system:  ").Text(gFacts.osName).Text(" (").Text(gFacts.osRelease).Text(").\r\n");
    w.Decimal(gFacts.processors).Text(" processor(s), type ").Decimal(ProcessorType()).Text(".\r\n");
    uint64_t load = haveMemory && memory.totalPhysical != 0
                        ? (memory.totalPhysical - memory.freePhysical) * 100 / memory.totalPhysical
                        : 0;
    uint64_t freeAddressSpace =
        memory.userAddressSpace > map.usedAddressSpace ? memory.userAddressSpace - map.usedAddressSpace : 0;
    w.Unsigned(load).Text("% memory in use.\r\n");
    w.Unsigned(MBytes(memory.totalPhysical)).Text(" MBytes physical memory.\r\n");
    w.Unsigned(MBytes(memory.freePhysical)).Text(" MBytes physical memory free.\r\n");
    w.Unsigned(MBytes(memory.totalSwap)).Text(" MBytes paging file.\r\n");
    w.Unsigned(MBytes(memory.freeSwap)).Text(" MBytes paging file free.\r\n");
    w.Unsigned(MBytes(memory.userAddressSpace)).Text(" MBytes user address space.\r\n");
    w.Unsigned(MBytes(freeAddressSpace)).Text(" MBytes user address space free.\r\n");

    if (code == kAccessViolation) {
      bool write = haveRegisters && registers.trapNumber == platform::kTrapPageFault && (registers.errorCode & 2) != 0;
      w.Text(write ? "Write to" : "Read from").Text(" location ").Hex(address, 16)
          .Text(" caused an access violation.\r\n");
    }

    w.Text("Context:\r\n");
    if (haveRegisters) {
      w.Text("RDI:    0x").Hex(registers.rdi, 16).Text("  RSI: 0x").Hex(registers.rsi, 16)
          .Text("  RAX:   0x").Hex(registers.rax, 16).Text("\r\n");
      w.Text("RBX:    0x").Hex(registers.rbx, 16).Text("  RCX: 0x").Hex(registers.rcx, 16)
          .Text("  RDX:   0x").Hex(registers.rdx, 16).Text("\r\n");
      w.Text("RIP:    0x").Hex(registers.rip, 16).Text("  RBP: 0x").Hex(registers.rbp, 16)
          .Text("  SegCs: 0x").Hex(registers.cs, 8).Text("\r\n");
      w.Text("EFlags: 0x").Hex(registers.eflags, 8).Text("  RSP: 0x").Hex(registers.rsp, 16)
          .Text("  SegSs: 0x").Hex(registers.ss, 8).Text("\r\n");
    }

    w.Text("\r\nBytes at CS:RIP:\r\n");
    if (haveRegisters) {
      unsigned char code16[16];
      std::size_t readable = map.codeEnd > map.ip ? map.codeEnd - map.ip : 0;
      if (readable > sizeof code16) readable = sizeof code16;
      platform::CopyMappedMemory(code16, reinterpret_cast<const void*>(map.ip), readable);
      for (std::size_t i = 0; i < sizeof code16; ++i)
        if (i < readable)
          w.Hex(code16[i], 2).Char(' ');
        else
          w.Text("?? ");
    }

    w.Text("\r\n\r\nStack:\r\n");
    if (haveRegisters && map.stackEnd > map.sp) {
      std::size_t size = map.stackEnd - map.sp;
      if (size > kStackDumpLimit) size = kStackDumpLimit;
      size &= ~std::size_t{3};
      platform::CopyMappedMemory(gStackCopy, reinterpret_cast<const void*>(map.sp), size);
      WriteCrashStackLines(w, gStackCopy, size, map.sp);
    } else {
      w.Text("Exception encountered during stack dump.\r\n");
    }

    gModuleWalk.out = &w;
    platform::ForEachMappedRegion(VisitModule, &gModuleWalk);
    WriteModule(gModuleWalk);

    w.Text("\r\n===== [end of ").Text(kReportName).Text("] =====\r\n");
    w.Flush();
  }
  platform::CloseCrashFile(fd);
  return true;
}

} // namespace Vak
