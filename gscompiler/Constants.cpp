#include "gscompiler/Constants.h"

#include <cmath>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace GSCompiler {

char gNameBuffer[kNameBufferChars + 1];

const char* UnquoteString(const char* text, bool escapes) {
  char copy[kNameBufferChars + 1];
  std::size_t length = 0;
  while (length < kNameBufferChars && text[length] != '\0') ++length;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  if (length != 0 && (copy[length - 1] == '"' || copy[length - 1] == '\'')) copy[--length] = '\0';
  const char* in = copy;
  if (*in == 'L') ++in;
  char* out = gNameBuffer;
  if (*in != '"' && *in != '\'') {
    *out = '\0';
    return gNameBuffer;
  }
  ++in;
  if (!escapes) {
    std::memmove(out, in, std::strlen(in) + 1);
    return gNameBuffer;
  }
  for (; *in != '\0'; ++in) {
    if (*in != '\\') {
      *out++ = *in;
      continue;
    }
    ++in;
    char c;
    switch (*in) {
      case '\0': *out = '\0'; return gNameBuffer;  // a back-slash at the very end
      case 'n': c = '\n'; break;
      case 't': c = '\t'; break;
      case 'v': c = '\v'; break;
      case 'r': c = '\r'; break;
      case 'f': c = '\f'; break;
      case 'b': c = '\b'; break;
      case 'a': c = '\a'; break;
      case '0': *out = '\0'; return gNameBuffer;
      default: c = *in; break;  // back-slash, quotes and any other character
    }
    *out++ = c;
  }
  *out = '\0';
  return gNameBuffer;
}

namespace {

int32_t Saturated(const char* text, int base) {
  const long long value = std::strtoll(text, nullptr, base);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

} // namespace

int32_t DecimalConstant(const char* text) { return Saturated(text, 10); }

int32_t HexConstant(const char* text) {
  return std::strlen(text) < 2 ? 0 : Saturated(text + 2, 16);
}

float FloatConstant(const char* text) {
  const char* end = text + std::strlen(text);
  double value = 0;
  const auto result = std::from_chars(text, end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large for a double when a digit before the point is not zero,
    // otherwise too small: what strtod answers then.
    const char* point = std::strchr(text, '.');
    bool large = false;
    for (const char* p = text; p != point && p != end; ++p)
      if (*p >= '1' && *p <= '9') large = true;
    return large ? std::numeric_limits<float>::infinity() : 0.0f;
  }
  if (result.ec != std::errc()) return 0.0f;
  // Narrowing a double beyond the float range is left undefined by C++; IEEE
  // rounding gives the largest float up to half a unit above it, then
  // infinity.
  constexpr double kMax = std::numeric_limits<float>::max();
  const double kRoundsToInfinity = kMax + std::ldexp(1.0, 103);
  if (value >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
  if (value > kMax) return std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

} // namespace GSCompiler
