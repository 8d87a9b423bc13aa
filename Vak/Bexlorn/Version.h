#pragma once
// The engine's version texts, as the log banner and the fatal-error report
// print them ("Vak v%s Build %s.%s").

namespace Vak {

inline constexpr char kVersion[] = "RRRRR.RR";
inline constexpr char kBuild[] = "1234.5";
inline constexpr char kBuildSuffix[] = "QQQQQ";

} // namespace Vak
