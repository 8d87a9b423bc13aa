#pragma once
// Builds are compared as whole hundredths, and each place that compares them
// writes the arithmetic its own way: the product in float or in double, and
// nothing, 0.1 or the float 0.1 added before the truncation. The results differ
// at the edges (3.1f gives 310 in float and 309 in double), so every place goes
// through this one helper and states its own terms.
#include <type_traits>

#include "Vak/Bexlorn/Numeric.h"

namespace RUZLib {

// What a call site adds to the product before truncating.
inline constexpr double kBuildBiasNone = 0.0;
inline constexpr double kBuildBiasDouble = 0.1;
inline constexpr double kBuildBiasFloat = static_cast<double>(0.1f);

// (int)(build * 100 + bias): the product in the build's own type, as a float
// or double times the integer 100 gives it, the bias added in double. A build
// no int holds saturates.
template <typename Build>
inline int BuildHundredths(Build build, double bias) {
  static_assert(std::is_same_v<Build, float> || std::is_same_v<Build, double>, "a build is a float or a double");
  const Build product = build * 100;
  return Vak::TruncateToInt(static_cast<double>(product) + bias);
}

} // namespace RUZLib
