#include "Vak/Bexlorn/CompressedFileFormat.h"

#include <cstring>

#include "Vak/Bexlorn/BlockCoder.h"
#include "Vak/Bexlorn/ByteOrder.h"

namespace Vak::CompressedFile {

static_assert(kBlockBytes == BlockCoder::kBlockBytes, "a block is what the coder expands at most");

namespace {
constexpr uint16_t kStoredBit = 0x8000;
constexpr uint16_t kLengthMask = 0x7FFF;
} // namespace

void AppendHead(std::vector<uint8_t>& out, uint32_t length, uint32_t headBytes) {
  out.insert(out.end(), kMagic, kMagic + 4);
  if (headBytes == kShortHeadBytes) return;
  AppendLE32(out, kVersion);
  AppendLE32(out, length);
}

bool ParseHead(const uint8_t* bytes, uint32_t headBytes, uint32_t layerVersion, Head& out) {
  out = Head{};
  if (std::memcmp(bytes, kMagic, 4) != 0) return false;
  if (headBytes < kHeadBytes) {
    out.version = layerVersion;
    return true;
  }
  out.version = GetLE32(bytes + 4);
  out.lengthKnown = out.version > 256;
  if (out.lengthKnown) out.length = GetLE32(bytes + 8);
  return true;
}

bool ParseBlockWord(const uint8_t word[kBlockWordBytes], Block& out) {
  const uint16_t w = GetLE16(word);
  out.stored = (w & kStoredBit) != 0;
  out.payload = out.stored ? (w & kLengthMask) : w;
  out.span = out.stored ? out.payload : kBlockBytes;
  return out.payload > 0 && out.payload <= kBlockBytes;
}

uint32_t AppendBlock(std::vector<uint8_t>& out, const uint8_t* piece, uint32_t n, uint8_t* scratch) {
  const unsigned coded = BlockCoder::Code(scratch, piece, n);
  AppendLE16(out, static_cast<uint16_t>(coded == n ? (kStoredBit | coded) : coded));
  out.insert(out.end(), scratch, scratch + coded);
  return coded;
}

uint32_t ExpandBlock(const Block& block, const uint8_t* payload, uint8_t* out) {
  if (block.stored) {
    if (out != payload) std::memcpy(out, payload, block.payload);
    return block.payload;
  }
  const long expanded = BlockCoder::Expand(out, kBlockBytes, payload, block.payload);
  return expanded > 0 ? static_cast<uint32_t>(expanded) : 0;
}

} // namespace Vak::CompressedFile
