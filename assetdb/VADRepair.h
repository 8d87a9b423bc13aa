#pragma once
// The database repair steps, each under its own exclusive lock so a running
// simulator can interleave, and two small services of the same kind: setting
// a value of the index's settings tree and the readiness test.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"

// Takes the exclusive lock with `lockFlags` (VADLock::Flags); false when it
// could not be taken, and then nothing changes.
bool VADSetSetting(const char* section, const char* key, const char* value, uint32_t lockFlags);
// The index is loaded, or a shared lock can be taken now; false before the
// database is open.
bool VADIsIndexReady();
// The settings tree's value when the index is ready, else empty.
Vak::PString VADTryLocked(const char* section, const char* key);
