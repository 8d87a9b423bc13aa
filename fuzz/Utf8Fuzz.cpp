// Arbitrary bytes through the UTF-8 checker and decoder: every position is
// checked and decoded (eight zero bytes follow the input, as far as a lead
// byte can reach), a legal sequence must encode back to the same bytes, and
// the count must stay within the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tools/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  bytes.resize(size + 8, 0);
  for (size_t i = 0; i < size; ++i) {
    int length = 0;
    const uint32_t decoded = DecodeUtf8(bytes.data() + i, &length);
    if (length < 1 || length > 6) __builtin_trap();
    if (!CheckUtf8Sequence(bytes.data() + i, &length)) continue;
    if (length < 1 || length > 4) __builtin_trap();
    uint8_t again[4];
    if (EncodeUtf8(decoded, again) != length || std::memcmp(again, bytes.data() + i, length) != 0) __builtin_trap();
  }
  const int count = CountUtf8Characters(bytes.data(), static_cast<int>(size));
  if (count < 0 || static_cast<size_t>(count) > size) __builtin_trap();
  return 0;
}
