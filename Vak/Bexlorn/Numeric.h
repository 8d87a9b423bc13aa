#pragma once
// Narrowing of numbers read from files: a cast of a value no int holds is
// undefined, and files hold anything.
#include <cmath>
#include <cstdint>

namespace Vak {

// Truncates towards zero like a cast; NaN gives 0 and values past either end
// give that end.
inline int32_t TruncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return INT32_MAX;
  if (value <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

} // namespace Vak
