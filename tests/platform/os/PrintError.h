#pragma once
// Lets GoogleTest print platform::Error by name.
#include "platform/os/Error.h"

#include <ostream>

namespace platform {

inline void PrintTo(Error error, std::ostream* os) { *os << ErrorName(error); }

} // namespace platform
