#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <array>
#include <cstring>

namespace Vak::Archive {

bool BlockHead::Is(const char (&other)[4]) const { return std::memcmp(tag, other, 4) == 0; }

void BlockHead::Encode(uint8_t out[kHeadBytes]) const {
  std::memcpy(out, tag, 4);
  PutLE32(out + 4, length);
}

BlockHead BlockHead::Decode(const uint8_t in[kHeadBytes]) {
  BlockHead head;
  std::memcpy(head.tag, in, 4);
  head.length = GetLE32(in + 4);
  return head;
}

bool Info::Valid() const {
  return identifier == kIdentifier && (version == kVersion257 || version == kVersion258);
}

void Info::Encode(uint8_t out[kInfoBytes]) const {
  PutLE32(out, identifier);
  PutLE32(out + 4, version);
  PutLE32(out + 8, entryCount);
  PutLE32(out + 12, indexOffset);
  std::memcpy(out + 16, reserved, sizeof reserved);
}

Info Info::Decode(const uint8_t* in, std::size_t length) {
  uint8_t full[kInfoBytes] = {};
  std::memcpy(full, in, length < kInfoBytes ? length : kInfoBytes);
  Info info;
  info.identifier = GetLE32(full);
  info.version = GetLE32(full + 4);
  info.entryCount = GetLE32(full + 8);
  info.indexOffset = GetLE32(full + 12);
  std::memcpy(info.reserved, full + 16, sizeof info.reserved);
  return info;
}

std::string_view FileHeader::Name() const {
  const void* end = std::memchr(name, 0, kNameBytes);
  return std::string_view(name, end ? static_cast<const char*>(end) - name : kNameBytes);
}

bool FileHeader::SetName(const char* text) {
  const std::size_t n = text ? std::strlen(text) : 0;
  if (n >= kNameBytes) return false;
  std::memset(name, 0, kNameBytes);
  std::memcpy(name, text, n);
  return true;
}

void FileHeader::Encode(uint8_t out[kHeaderBytes]) const {
  std::memcpy(out, name, kNameBytes);
  uint8_t* p = out + kNameBytes;
  for (uint32_t v : {uncompressedSize, storedSize, checksum, reserved1, reserved2, fileTime}) {
    PutLE32(p, v);
    p += 4;
  }
  PutLE16(p, flags);
  PutLE16(p + 2, reserved3);
}

FileHeader FileHeader::Decode(const uint8_t in[kHeaderBytes]) {
  FileHeader h;
  std::memcpy(h.name, in, kNameBytes);
  const uint8_t* p = in + kNameBytes;
  h.uncompressedSize = GetLE32(p);
  h.storedSize = GetLE32(p + 4);
  h.checksum = GetLE32(p + 8);
  h.reserved1 = GetLE32(p + 12);
  h.reserved2 = GetLE32(p + 16);
  h.fileTime = GetLE32(p + 20);
  h.flags = GetLE16(p + 24);
  h.reserved3 = GetLE16(p + 26);
  return h;
}

void IndexRecord::Encode(uint8_t out[kRecordBytes]) const {
  PutLE32(out, payloadOffset);
  PutLE32(out + 4, payloadSize);
  header.Encode(out + 8);
}

IndexRecord IndexRecord::Decode(const uint8_t in[kRecordBytes]) {
  IndexRecord r;
  r.payloadOffset = GetLE32(in);
  r.payloadSize = GetLE32(in + 4);
  r.header = FileHeader::Decode(in + 8);
  return r;
}

namespace {

// tables[0] is the byte table; tables[k][i] is the CRC of byte i followed by
// k zero bytes, so sixteen bytes fold in with sixteen independent look-ups.
constexpr std::size_t kSlice = 16;
using Tables = std::array<std::array<uint32_t, 256>, kSlice>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ Crc::kPolynomial : c << 1;
    t[0][i] = c;
  }
  for (std::size_t k = 1; k < kSlice; ++k)
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
  return t;
}

constexpr Tables kTables = MakeTables();

} // namespace

const uint32_t* Crc::Table() { return kTables[0].data(); }

uint32_t Crc::Update(uint32_t crc, const void* data, std::size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const auto& t = kTables;
  while (length >= kSlice) {
    const uint32_t a = crc ^ GetBE32(p);
    crc = t[15][a >> 24] ^ t[14][(a >> 16) & 0xFF] ^ t[13][(a >> 8) & 0xFF] ^ t[12][a & 0xFF] ^ t[11][p[4]] ^
          t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^
          t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
    p += kSlice;
    length -= kSlice;
  }
  while (length--) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p++];
  return crc;
}

} // namespace Vak::Archive
