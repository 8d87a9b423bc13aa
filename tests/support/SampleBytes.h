#pragma once
// Sample inputs for coder tests: config-like text, random bytes, and joins.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <random>
#include <vector>

namespace sample {

using Bytes = std::vector<uint8_t>;

// `n` bytes of config-like text lines, repeating with some variety.
inline Bytes Text(size_t n) {
  static const char* const kLines[] = {
      "kuid <kuid:12345:678>\r\n", "username \"Station platform\"\r\n", "kind scenery\r\n",
      "mesh-table {\r\n  default {\r\n    mesh \"platform.im\"\r\n  }\r\n}\r\n",
      "category-region-0 \"DE;FR\"\r\n", "trackside 2.5\r\n"};
  Bytes b;
  for (size_t i = 0; b.size() < n; ++i) {
    const char* line = kLines[(i * 7 + i / 3) % std::size(kLines)];
    b.insert(b.end(), line, line + std::strlen(line));
  }
  b.resize(n);
  return b;
}

inline Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

} // namespace sample
