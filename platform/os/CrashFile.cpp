#include "platform/os/CrashFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string UserName() {
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int err = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (err == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (err == 0 && found != nullptr && found->pw_name != nullptr) return found->pw_name;
    break;
  }
  // No entry in the user database (common in containers): what the login said.
  for (const char* variable : {"USER", "LOGNAME"})
    if (const char* name = std::getenv(variable); name != nullptr && *name != '\0') return name;
  return {};
}

bool KernelVersion(std::string& name, std::string& release) {
  utsname info{};
  if (::uname(&info) != 0) return false;
  name = info.sysname;
  release = info.release;
  return true;
}

int ProcessorCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

int64_t UtcOffsetSeconds() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

int CreateCrashFile(const char* path) {
  int fd;
  do fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  return fd;
}

void CloseCrashFile(int fd) {
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int64_t WallClockSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

bool ReadMemoryStatus(MemoryStatus& status) {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return false;
  uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1;
  status.totalPhysical = info.totalram * unit;
  status.freePhysical = info.freeram * unit;
  status.totalSwap = info.totalswap * unit;
  status.freeSwap = info.freeswap * unit;
#if defined(__x86_64__)
  status.userAddressSpace = uint64_t{1} << 47;
#elif defined(__aarch64__)
  status.userAddressSpace = uint64_t{1} << 48;
#else
  status.userAddressSpace = static_cast<uint64_t>(UINTPTR_MAX) / 2 + 1;
#endif
  return true;
}

bool FileSizeAndTime(const char* path, uint64_t& size, int64_t& modified) {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  size = static_cast<uint64_t>(info.st_size);
  modified = info.st_mtime;
  return true;
}

namespace {

// Reads a hex number; moves `p` past it.
uint64_t ParseHex(const char*& p, const char* end) {
  uint64_t value = 0;
  for (; p < end; ++p) {
    char c = *p;
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) break;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return value;
}

void SkipField(const char*& p, const char* end) {
  while (p < end && *p != ' ') ++p;
  while (p < end && *p == ' ') ++p;
}

// "start-end perms offset dev inode   path" (the line without its '\n',
// terminated in place).
bool ParseRegion(char* line, char* end, MappedRegion& region) {
  const char* p = line;
  region.start = static_cast<uintptr_t>(ParseHex(p, end));
  if (p >= end || *p != '-') return false;
  ++p;
  region.end = static_cast<uintptr_t>(ParseHex(p, end));
  if (p + 5 > end || *p != ' ') return false;
  ++p;
  region.readable = p[0] == 'r';
  region.writable = p[1] == 'w';
  region.executable = p[2] == 'x';
  SkipField(p, end);
  region.offset = ParseHex(p, end);
  SkipField(p, end);
  SkipField(p, end);  // device
  SkipField(p, end);  // inode
  region.path = p;
  *end = '\0';
  return true;
}

} // namespace

bool ForEachMappedRegion(RegionVisitor visitor, void* context) {
  int fd;
  do fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  // A line holds at most a path (PATH_MAX) and about 80 characters before it.
  char buffer[8192];
  std::size_t used = 0;
  bool skipping = false;  // the rest of a line too long for the buffer
  bool more = true;
  bool ok = true;
  while (more) {
    ssize_t n = ::read(fd, buffer + used, sizeof buffer - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) {
      more = false;
      if (used == 0) break;
      buffer[used++] = '\n';  // a last line without its end
    } else {
      used += static_cast<std::size_t>(n);
    }
    char* line = buffer;
    char* stop = buffer + used;
    for (char* newline; (newline = static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(stop - line)))) != nullptr;
         line = newline + 1) {
      if (skipping) {
        skipping = false;
        continue;
      }
      MappedRegion region;
      if (ParseRegion(line, newline, region) && !visitor(region, context)) {
        more = false;
        break;
      }
    }
    if (!more) break;
    std::size_t rest = static_cast<std::size_t>(stop - line);
    if (rest == sizeof buffer - 1) {
      skipping = true;
      rest = 0;
    }
    for (std::size_t i = 0; i < rest; ++i) buffer[i] = line[i];
    used = rest;
  }
  ::close(fd);
  return ok;
}

__attribute__((no_sanitize("address", "undefined"))) void CopyMappedMemory(void* to, const void* from, std::size_t size) {
  auto* out = static_cast<unsigned char*>(to);
  auto* in = static_cast<const volatile unsigned char*>(from);
  for (std::size_t i = 0; i < size; ++i) out[i] = in[i];
}

bool ReadFaultContext(const void* context, FaultContext& out) {
#if defined(__x86_64__)
  if (context == nullptr) return false;
  const auto* uc = static_cast<const ucontext_t*>(context);
  const greg_t* g = uc->uc_mcontext.gregs;
  auto reg = [&](int index) { return static_cast<uint64_t>(g[index]); };
  out.rax = reg(REG_RAX);
  out.rbx = reg(REG_RBX);
  out.rcx = reg(REG_RCX);
  out.rdx = reg(REG_RDX);
  out.rsi = reg(REG_RSI);
  out.rdi = reg(REG_RDI);
  out.rbp = reg(REG_RBP);
  out.rsp = reg(REG_RSP);
  out.rip = reg(REG_RIP);
  out.eflags = reg(REG_EFL);
  // cs, gs, fs and (when the kernel saved it, flag UC_SIGCONTEXT_SS) ss.
  uint64_t segments = reg(REG_CSGSFS);
  out.cs = static_cast<uint16_t>(segments);
  out.ss = (uc->uc_flags & 0x2) != 0 ? static_cast<uint16_t>(segments >> 48) : 0;
  out.trapNumber = reg(REG_TRAPNO);
  out.errorCode = reg(REG_ERR);
  if (uc->uc_mcontext.fpregs != nullptr) {
    out.x87Status = uc->uc_mcontext.fpregs->swd;
    out.mxcsr = uc->uc_mcontext.fpregs->mxcsr;
  }
  return true;
#else
  (void)context;
  (void)out;
  return false;
#endif
}

} // namespace platform
