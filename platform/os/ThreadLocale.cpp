#include "platform/os/ThreadLocale.h"

namespace platform {

namespace {
thread_local uint32_t threadLocale = kDefaultThreadLocale;
}

uint32_t GetThreadLocale() { return threadLocale; }

void SetThreadLocale(uint32_t id) { threadLocale = id; }

} // namespace platform
