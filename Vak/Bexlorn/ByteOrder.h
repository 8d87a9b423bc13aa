#pragma once
// Little-endian fields of stored bytes, one byte at a time, whatever the
// host's order or alignment. Safe in a signal handler.
#include <cstddef>
#include <cstdint>

namespace Vak {

inline uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Appends to a byte buffer (std::string, std::vector<uint8_t> or <char>).
template <class Buffer> void AppendLE16(Buffer& out, uint16_t v) {
  uint8_t b[2];
  PutLE16(b, v);
  out.insert(out.end(), b, b + 2);
}

template <class Buffer> void AppendLE32(Buffer& out, uint32_t v) {
  uint8_t b[4];
  PutLE32(b, v);
  out.insert(out.end(), b, b + 4);
}

// Patches a field already in the buffer, at a byte offset.
template <class Buffer> void PatchLE32(Buffer& out, std::size_t offset, uint32_t v) {
  PutLE32(reinterpret_cast<uint8_t*>(&out[offset]), v);
}

} // namespace Vak
