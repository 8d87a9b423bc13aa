#pragma once
// Byte-pair block coder of compressed ("CFIL") files. Each sub-block of at
// most 2048 input bytes repeatedly replaces its most frequent pair of adjacent
// bytes by a byte value it does not hold, and is stored as the table of those
// replacements, a big-endian u16 count of packed bytes, and the packed bytes.
// A coded payload is a run of such sub-blocks.
#include <cstdint>

namespace Vak {

class BlockCoder {
public:
  // Content bytes a block of a compressed file stands for at most; the room a
  // reader gives Expand for one block.
  static constexpr unsigned kBlockBytes = 16384;
  // Input bytes one sub-block codes at most.
  static constexpr unsigned kSubBlockBytes = 2048;
  // A sub-block stops early once this many distinct byte values were seen,
  // so enough values stay free to serve as pair codes.
  static constexpr unsigned kMaxDistinct = 210;
  // Expand's result for a payload that is damaged.
  static constexpr long kDamaged = -1;

  // Packs `length` bytes of `input` into `output`, which has room for
  // `length` bytes. Returns the bytes written; a result equal to `length`
  // means packing did not make the data shorter and `output` holds the input
  // as it is. Empty input gives 0.
  static unsigned Code(uint8_t* output, const uint8_t* input, unsigned length);

  // Expands a payload of `length` bytes into `output`, writing at most `room`
  // bytes. Returns the bytes written, or kDamaged when the payload runs out
  // inside a table or a sub-block, a table covers more than 256 codes, the
  // pair codes nest deeper than the expansion stack (or refer to themselves),
  // or the expansion would pass `room`. On kDamaged the output bytes up to
  // `room` are unspecified; nothing outside them is touched.
  static long Expand(uint8_t* output, unsigned room, const uint8_t* input, unsigned length);
};

} // namespace Vak
