#pragma once
// Fixed-width integers in stored bytes, little- or big-endian, one byte at a
// time whatever the host's order or alignment. Safe in a signal handler.
#include <cstddef>
#include <cstdint>

namespace Vak {

constexpr uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr uint64_t GetLE64(const uint8_t* p) { return GetLE32(p) | uint64_t{GetLE32(p + 4)} << 32; }

constexpr uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

constexpr uint32_t GetBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

constexpr uint64_t GetBE64(const uint8_t* p) { return uint64_t{GetBE32(p)} << 32 | GetBE32(p + 4); }

constexpr void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

constexpr void PutLE64(uint8_t* p, uint64_t v) {
  PutLE32(p, static_cast<uint32_t>(v));
  PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

constexpr void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

constexpr void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

constexpr void PutBE64(uint8_t* p, uint64_t v) {
  PutBE32(p, static_cast<uint32_t>(v >> 32));
  PutBE32(p + 4, static_cast<uint32_t>(v));
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
