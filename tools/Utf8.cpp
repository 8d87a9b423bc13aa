#include "tools/Utf8.h"

namespace {

// Subtracted after the bytes are summed, by trailing count: removes the
// marks of the lead and continuation bytes.
constexpr uint32_t kOffsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u, 0x03C82080u, 0xFA082080u, 0x82082080u};

int TrailingCount(uint8_t lead) {
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF8) return 3;
  if (lead < 0xFC) return 4;
  return 5;
}

} // namespace

int Utf8SequenceLength(uint8_t lead) { return TrailingCount(lead) + 1; }

int EncodeUtf8(uint32_t codePoint, uint8_t* out) {
  if (codePoint < 0x80) {
    out[0] = static_cast<uint8_t>(codePoint);
    return 1;
  }
  int count;
  uint8_t mark;
  if (codePoint < 0x800) {
    count = 2;
    mark = 0xC0;
  } else if (codePoint < 0x10000) {
    count = 3;
    mark = 0xE0;
  } else if (codePoint < 0x200000) {
    count = 4;
    mark = 0xF0;
  } else {
    out[0] = '?';
    return 1;
  }
  for (int i = count - 1; i > 0; --i) {
    out[i] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
    codePoint >>= 6;
  }
  out[0] = static_cast<uint8_t>(mark | codePoint);
  return count;
}

bool CheckUtf8Sequence(const uint8_t* bytes, int* length) {
  const uint8_t lead = bytes[0];
  if ((lead >= 0x80 && lead <= 0xC1) || lead > 0xF4) return false;
  const int n = Utf8SequenceLength(lead);
  for (int i = 1; i < n; ++i) {
    const uint8_t c = bytes[i];
    if (c < 0x80 || c > 0xBF) return false;
    if (i == 1 && ((lead == 0xE0 && c < 0xA0) || (lead == 0xF0 && c < 0x90) || (lead == 0xF4 && c > 0x8F)))
      return false;
  }
  if (length) *length = n;
  return true;
}

uint32_t DecodeUtf8(const uint8_t* bytes, int* length) {
  const int extra = TrailingCount(bytes[0]);
  uint32_t value = 0;
  for (int i = 0; i <= extra; ++i) {
    value += bytes[i];
    if (i < extra) value <<= 6;
  }
  if (length) *length = extra + 1;
  return value - kOffsets[extra];
}

int CountUtf8Characters(const uint8_t* bytes, int byteLength) {
  int count = 0;
  for (int i = 0; i < byteLength; i += Utf8SequenceLength(bytes[i])) ++count;
  return count;
}
