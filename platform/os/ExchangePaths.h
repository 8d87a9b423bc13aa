#pragma once
// Swapping two existing entries (files or folders) in one step, so that a
// finished new folder takes an old one's place without a moment in which
// neither is there.
#include "platform/os/Error.h"

namespace platform {

// Both paths must exist; afterwards each name holds what the other held.
// `supported` is false (and the result Other) when the file system or the
// kernel cannot do it in one step: the caller then falls back to renames.
Error ExchangePaths(const char* first, const char* second, bool& supported);

} // namespace platform
