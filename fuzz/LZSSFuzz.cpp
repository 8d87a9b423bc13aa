// The LZSS decoder must stay inside its buffers whatever a block holds, and
// whatever it decodes must code (at a level taken from the block's first
// byte) and decode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "content/LZSSCompress.h"

namespace {
constexpr size_t kRoom = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size heap copies, so the sanitizer sees a byte read or written past either end.
  const std::vector<uint8_t> block(data, data + size);
  const auto decoded = std::make_unique<uint8_t[]>(kRoom);
  Vak::LZSSCompress lz;
  size_t written = 0;
  if (!lz.DecompressBlock(block.data(), block.size(), decoded.get(), kRoom, &written)) return 0;
  if (written > kRoom) __builtin_trap();

  const std::vector<uint8_t> plain(decoded.get(), decoded.get() + written);
  const int level = size > 0 ? data[0] % 11 - 1 : 0;  // -1 (meaning 9) to 9
  std::vector<uint8_t> packed;
  if (!lz.CompressBlock(plain.data(), plain.size(), level, packed)) __builtin_trap();
  if (packed.size() > plain.size() + 1) __builtin_trap();
  std::vector<uint8_t> again(plain.size());
  size_t back = 0;
  if (!lz.DecompressBlock(packed.data(), packed.size(), again.data(), again.size(), &back)) __builtin_trap();
  if (back != plain.size() || again != plain) __builtin_trap();
  return 0;
}
