#pragma once
// Limits for the readers of the blocks this library stores in the asset
// index: a count is believed only when the bytes left can hold it.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "content/TStream.h"

namespace net {

// Bytes from the read position to `size` (the stream's size, taken once
// before reading).
inline uint32_t BytesLeft(TStream& stream, uint32_t size) {
  const uint32_t here = stream.Tell();
  return here < size ? size - here : 0;
}

// A count of items of at least `smallest` bytes each that the rest of the
// stream can hold, read without error so far.
inline bool CountFits(TStream& stream, uint32_t size, uint32_t count, uint32_t smallest) {
  return stream.GetError() == 0 && count <= BytesLeft(stream, size) / smallest;
}

// An interned string (length with terminator, bytes) whose length the rest
// of the stream holds; false, with the error flag or a length past the end,
// when it does not.
inline bool ReadPStringWithin(TStream& stream, uint32_t size, Vak::PString& out) {
  const uint32_t start = stream.Tell();
  const uint32_t n = stream.ReadInt();
  if (stream.GetError() || n > BytesLeft(stream, size)) return false;
  stream.SeekBuffered(start, TStream::kBegin);
  stream.ReadPString(out);
  return stream.GetError() == 0;
}

} // namespace net
