#pragma once
// The compressed ("CFIL") file form: a head of the magic, a u32 version and
// the u32 content length, then blocks of a u16 word and a payload. Bit 15 of
// the word set: the payload is the piece as it is, (word AND 0x7FFF) bytes;
// clear: the payload is `word` bytes of byte-pair code that expand to a piece
// of kBlockBytes. Every writer and reader of the form goes through here.
#include <cstdint>
#include <vector>

namespace Vak::CompressedFile {

inline constexpr char kMagic[4] = {'C', 'F', 'I', 'L'};
inline constexpr uint32_t kVersion = 257;  // what a head is written with
inline constexpr uint32_t kHeadBytes = 12;
// Inside an archive of version 257 only the magic stands before the blocks.
inline constexpr uint32_t kShortHeadBytes = 4;
inline constexpr uint32_t kLayerVersionShortHead = 257;
// What a plain path, or a folder layer, answers as its version.
inline constexpr uint32_t kFolderVersion = 258;
inline constexpr uint32_t kBlockWordBytes = 2;
// Content bytes one block stands for at most.
inline constexpr uint32_t kBlockBytes = 16384;

// The head a reader expects from a layer of `layerVersion`.
constexpr uint32_t HeadBytes(uint32_t layerVersion) {
  return layerVersion == kLayerVersionShortHead ? kShortHeadBytes : kHeadBytes;
}

// Appends a head of `headBytes` (kHeadBytes or kShortHeadBytes).
void AppendHead(std::vector<uint8_t>& out, uint32_t length, uint32_t headBytes = kHeadBytes);

struct Head {
  uint32_t version = 0;
  bool lengthKnown = false;
  uint32_t length = 0;
};
// Reads a head of `headBytes` from `bytes`; a short head takes `layerVersion`
// as its version and leaves the length unknown, as does a version of 256 or
// less. False when the bytes do not start with the magic.
bool ParseHead(const uint8_t* bytes, uint32_t headBytes, uint32_t layerVersion, Head& out);

struct Block {
  bool stored = false;
  uint32_t payload = 0;  // bytes behind the word
  uint32_t span = 0;     // content bytes the block stands for
};
// Reads a block word; false for one no writer makes: a payload longer than a
// block, or a block that stands for nothing.
bool ParseBlockWord(const uint8_t word[kBlockWordBytes], Block& out);

// Codes `n` (1 to kBlockBytes) content bytes and appends the block: word and
// payload. `scratch` has room for kBlockBytes. Returns the payload's length.
uint32_t AppendBlock(std::vector<uint8_t>& out, const uint8_t* piece, uint32_t n, uint8_t* scratch);

// The content of a block's payload into `out` (room for kBlockBytes): its
// length, or 0 when the payload is damaged. A stored payload is copied only
// when `out` is not `payload` itself.
uint32_t ExpandBlock(const Block& block, const uint8_t* payload, uint8_t* out);

} // namespace Vak::CompressedFile
