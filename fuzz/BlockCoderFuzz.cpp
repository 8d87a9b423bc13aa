// The expander must stay inside its buffers whatever the payload holds, and
// whatever it expands must pack and expand back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/BlockCoder.h"

using Vak::BlockCoder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFF) return 0;  // a block header holds 15 bits of length
  const unsigned length = static_cast<unsigned>(size);
  // Exact-size heap copies, so the sanitizer sees a byte read or written past either end.
  const std::vector<uint8_t> payload(data, data + size);
  std::vector<uint8_t> expanded(BlockCoder::kBlockBytes);
  const long n = BlockCoder::Expand(expanded.data(), BlockCoder::kBlockBytes, payload.data(), length);
  if (n == BlockCoder::kDamaged) return 0;
  if (n < 0 || n > static_cast<long>(BlockCoder::kBlockBytes)) __builtin_trap();
  expanded.resize(static_cast<size_t>(n));

  const unsigned content = static_cast<unsigned>(n);
  std::vector<uint8_t> packed(content);
  const unsigned coded = BlockCoder::Code(packed.data(), expanded.data(), content);
  if (coded > content) __builtin_trap();
  packed.resize(coded);
  if (coded == content) {
    if (packed != expanded) __builtin_trap();
    return 0;
  }
  std::vector<uint8_t> again(content);
  if (BlockCoder::Expand(again.data(), content, packed.data(), coded) != n) __builtin_trap();
  if (again != expanded) __builtin_trap();
  return 0;
}
