#pragma once
// The calling thread's locale id, as the original system kept it per thread.
// Only the id is recorded: text and numbers are never formatted by it here
// (number formatting stays in the "C" locale).
#include <cstdint>

namespace platform {

constexpr uint32_t kDefaultThreadLocale = 0x0409;

// The id set on this thread, else kDefaultThreadLocale.
uint32_t GetThreadLocale();
void SetThreadLocale(uint32_t id);

} // namespace platform
