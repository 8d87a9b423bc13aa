#pragma once
// Where the running program's executable lives.
#include <string>

namespace platform {

// Absolute path of the executable, links resolved; empty when it cannot be read.
std::string ProgramPath();
// Its folder, without a trailing separator ("/" for the root); empty as above.
std::string ProgramFolder();
// The value of an environment variable; false when it is not set.
bool GetEnvironment(const char* name, std::string& value);
// Freed large blocks stay with the process for its next allocations instead
// of going back to the system each time: for a program that makes and drops
// blocks of the same few sizes in turn, each new one would otherwise come as
// fresh pages, every page a fault to fill. Call once at start-up.
void KeepFreedBlocks();

// Built with AddressSanitizer or ThreadSanitizer: memory left to the end of
// the process would then show as leaks, so everything is freed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif
#else
constexpr bool kUnderSanitizer = false;
#endif

} // namespace platform
