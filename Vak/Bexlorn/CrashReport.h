#pragma once
// The crash report: on the first processor fault of the process (a crash
// signal) a text report "ERRORLOG.TXT" is written into the temporary folder;
// then the signal ends the process as it would have. Everything the report
// needs that is not safe to ask for inside a signal handler (paths, the user,
// the system's name) is captured when the report is installed.
#include "platform/os/CrashFile.h"
#include "platform/os/SignalSafeWriter.h"

#include <cstddef>
#include <cstdint>

namespace Vak {

// Installs the report as the process's crash hook; later calls do nothing.
// False when the system refused the hook.
bool InstallCrashReport();

// What the hook runs (async-signal-safe): writes the report for the first
// call of the process and answers true; later calls write nothing and answer
// false, as does a report file that cannot be created.
bool WriteCrashReport(int signal, void* faultAddress, void* context);

// The parts of the report, for the tests.

// The exception code a fault is reported as; `context` may be null.
uint32_t CrashExceptionCode(int signal, const platform::FaultContext* context, uintptr_t faultAddress);
// Its name ("an Access Violation"); "an Unknown exception type" for others.
const char* CrashExceptionName(uint32_t code);
// Stack lines of four 32-bit words for `size` bytes (a multiple of 4) copied
// from `address`.
void WriteCrashStackLines(platform::SignalSafeWriter& out, const unsigned char* bytes, std::size_t size,
                          uint64_t address);
// "month/day/year hh:mm:ss" at 2-second resolution for a time in seconds
// since 1970 (already shifted to local time).
void WriteCrashTime(platform::SignalSafeWriter& out, int64_t localSeconds);

} // namespace Vak
