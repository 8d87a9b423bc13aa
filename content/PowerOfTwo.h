#pragma once
#include <cstdint>

// At most one bit set (0 too).
constexpr bool IsPowerOfTwo(uint32_t value) { return (value & (value - 1)) == 0; }
