#pragma once
// What a crash report needs from the system. The first group may allocate and
// is called ahead of time; everything after it is async-signal-safe (system
// calls only: no allocation, no stdio, no locks) for use inside the crash hook
// of Signals.h.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// ---- Ahead of time ----

// Login name of the effective user; empty when unknown.
std::string UserName();
// The kernel's name and release ("Linux", "6.1.0-18-amd64"); false when unknown.
bool KernelVersion(std::string& name, std::string& release);
// Processors online; at least 1.
int ProcessorCount();
// Local time minus UTC, in seconds, as it is now.
int64_t UtcOffsetSeconds();

// ---- Inside a signal handler ----

// Creates (or empties) the file for writing; -1 on failure.
int CreateCrashFile(const char* path);
// Commits what was written to the disk and closes.
void CloseCrashFile(int fd);
// Seconds since 1970-01-01 00:00 UTC.
int64_t WallClockSeconds();

struct MemoryStatus {
  uint64_t totalPhysical = 0;
  uint64_t freePhysical = 0;
  uint64_t totalSwap = 0;
  uint64_t freeSwap = 0;
  // The size of the user part of the address space.
  uint64_t userAddressSpace = 0;
};
bool ReadMemoryStatus(MemoryStatus& status);

// Size and last write time (seconds since 1970, UTC) of the file at `path`
// (taken as it is, not resolved).
bool FileSizeAndTime(const char* path, uint64_t& size, int64_t& modified);

// One line of the process's memory map.
struct MappedRegion {
  uintptr_t start = 0;
  uintptr_t end = 0;  // one past the last byte
  bool readable = false;
  bool writable = false;
  bool executable = false;
  uint64_t offset = 0;       // in the mapped file
  const char* path = "";     // the file, a "[name]" or empty; valid during the visit only
};
// Called for each region in address order; false stops the walk.
using RegionVisitor = bool (*)(const MappedRegion& region, void* context);
// False when the map cannot be read.
bool ForEachMappedRegion(RegionVisitor visitor, void* context);

// Copies memory the caller has found mapped readable, whatever the sanitizers
// think of it (the stack of a faulting thread is full of poisoned red zones).
void CopyMappedMemory(void* to, const void* from, std::size_t size);

// The interrupted code's state from the context argument of the crash hook.
// Register names are x86_64's; elsewhere ReadFaultContext answers false.
struct FaultContext {
  uint64_t rax = 0, rbx = 0, rcx = 0, rdx = 0, rsi = 0, rdi = 0, rbp = 0, rsp = 0, rip = 0;
  uint64_t eflags = 0;
  uint16_t cs = 0, ss = 0;
  uint64_t trapNumber = 0;  // the processor's exception vector (0 divide error, 14 page fault, ...)
  uint64_t errorCode = 0;   // its error code (for a page fault, bit 1 set for a write)
  uint32_t x87Status = 0;   // x87 status word
  uint32_t mxcsr = 0;       // SSE control and status
};
bool ReadFaultContext(const void* context, FaultContext& out);

// Trap numbers of FaultContext the report tells apart.
constexpr uint64_t kTrapDivideError = 0;
constexpr uint64_t kTrapX87Error = 16;
constexpr uint64_t kTrapAlignmentCheck = 17;
constexpr uint64_t kTrapSimdError = 19;
constexpr uint64_t kTrapPageFault = 14;

} // namespace platform
