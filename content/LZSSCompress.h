#pragma once
// The content code's compression plug-in: LZ77 over a sliding window with
// hash chains. A block is a header byte ((window index << 4) | level) and the
// tokens: behind 32-bit flag words for levels 1-6, coded with two adaptive
// Huffman trees for levels 7-9; level 0 stores the bytes as they are.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "content/CompressCursor.h"

namespace Vak {

class LZSSCompress : public Compress {
public:
  static constexpr int kMaxLevel = 9;
  // Inputs this short are always stored.
  static constexpr uint32_t kStoredBelow = 7;

  // Writes `length` bytes from `in` as one block at `level` (above 9 or
  // negative means 9). When coding fails (the output has no room) both
  // cursors go back and the block is stored instead. True when a block was
  // written; false, with the cursors back where they were, when not even the
  // stored block fits or `in` holds fewer than `length` bytes.
  bool Compress(WriteCursor& out, ReadCursor& in, uint32_t length, int level);

  // Decodes the block of `length` bytes at `in`. False for an empty block, a
  // header of no known form, input that ends inside a token (or, for levels
  // 7-9, before the end symbol), a distance 0 or reaching before the start of
  // `out`, and output beyond the room of `out`. On success `in` moves past
  // the block.
  bool Decompress(WriteCursor& out, ReadCursor& in, uint32_t length);

  // Releases the hash tables of the last Compress.
  void FreeBuffers();

  // Memory forms. CompressBlock replaces `out` with the block, which is never
  // longer than `length` + 1 (a block that would be is stored). DecompressBlock
  // writes at most `room` bytes to `out` and sets `*written` to the count.
  bool CompressBlock(const void* in, size_t length, int level, std::vector<uint8_t>& out);
  bool DecompressBlock(const void* in, size_t length, void* out, size_t room, size_t* written);

private:
  // Codes a block at `level` (as Compress takes it) and frees the tables;
  // false when it is to be stored instead.
  bool Code(LZBlockCoder::Output& out, const uint8_t* data, uint32_t length, int level);
  bool Encode(LZBlockCoder::Output& out, const uint8_t* data, uint32_t length, unsigned level);

  std::vector<uint16_t> head_;
  std::vector<uint16_t> chain_;
};

} // namespace Vak
