#pragma once
// The engine archive (".va"): "ARCH", an "INFO" block, then blocks of a
// 4-byte tag, a u32 length and that many bytes: "FIL " (a 288-byte file
// header and the payload), "FIL!" (a file deleted in place) and "IDX " (one
// 296-byte record per file). All integers little-endian. The structures here
// encode and decode field by field; the layer that serves an archive is
// FileSubArchive.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Vak::Archive {

inline constexpr char kSignature[4] = {'A', 'R', 'C', 'H'};
inline constexpr char kInfoTag[4] = {'I', 'N', 'F', 'O'};
inline constexpr char kFileTag[4] = {'F', 'I', 'L', ' '};
inline constexpr char kDeletedTag[4] = {'F', 'I', 'L', '!'};
inline constexpr char kIndexTag[4] = {'I', 'D', 'X', ' '};

inline constexpr uint32_t kIdentifier = 0x41524330;
inline constexpr uint32_t kVersion257 = 257;
inline constexpr uint32_t kVersion258 = 258;  // what a new archive gets

inline constexpr std::size_t kSignatureBytes = 4;
inline constexpr std::size_t kHeadBytes = 8;
inline constexpr std::size_t kInfoBytes = 32;
inline constexpr std::size_t kNameBytes = 260;
inline constexpr std::size_t kHeaderBytes = 288;
inline constexpr std::size_t kRecordBytes = 296;
// A "FIL " block's head and header: its payload starts this far behind its tag.
inline constexpr std::size_t kFileLeadBytes = kHeadBytes + kHeaderBytes;
// A new archive: signature, info head and info.
inline constexpr std::size_t kNewArchiveBytes = kSignatureBytes + kHeadBytes + kInfoBytes;
// Content bytes one payload chunk stands for at most.
inline constexpr uint32_t kChunkBytes = 16384;

inline constexpr uint16_t kFlagCompressed = 0x80;

// A block's tag and length (the bytes behind the length).
struct BlockHead {
  char tag[4] = {};
  uint32_t length = 0;

  bool Is(const char (&other)[4]) const;
  void Encode(uint8_t out[kHeadBytes]) const;
  static BlockHead Decode(const uint8_t in[kHeadBytes]);
};

// The 32 bytes of the "INFO" block.
struct Info {
  uint32_t identifier = kIdentifier;
  uint32_t version = kVersion258;
  uint32_t entryCount = 0;
  uint32_t indexOffset = 0;  // of the "IDX " tag; 0: no valid index
  uint8_t reserved[16] = {};

  // A signed archive with this info can be read.
  bool Valid() const;
  void Encode(uint8_t out[kInfoBytes]) const;
  // `length` bytes of info data (a short block leaves the rest zero).
  static Info Decode(const uint8_t* in, std::size_t length);
};

// The 288-byte header of a stored file.
struct FileHeader {
  char name[kNameBytes] = {};  // as stored; need not hold a terminator
  uint32_t uncompressedSize = 0;
  uint32_t storedSize = 0;  // payload bytes
  uint32_t checksum = 0;    // Crc of the uncompressed content
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
  uint32_t fileTime = 0;
  uint16_t flags = 0;
  uint16_t reserved3 = 0;

  // The name up to its terminator, never past the field.
  std::string_view Name() const;
  // False (nothing changed) for a name that leaves no room for the terminator.
  bool SetName(const char* text);
  bool Compressed() const { return (flags & kFlagCompressed) != 0; }
  void Encode(uint8_t out[kHeaderBytes]) const;
  static FileHeader Decode(const uint8_t in[kHeaderBytes]);
};

// One record of the "IDX " block.
struct IndexRecord {
  uint32_t payloadOffset = 0;  // first payload byte, behind the header
  uint32_t payloadSize = 0;
  FileHeader header;

  void Encode(uint8_t out[kRecordBytes]) const;
  static IndexRecord Decode(const uint8_t in[kRecordBytes]);
};

// CRC-32 with the most significant bit first: polynomial 0x04C11DB7, start
// 0xFFFFFFFF, result inverted. Check value of "123456789": 0xFC891918.
class Crc {
public:
  static constexpr uint32_t kPolynomial = 0x04C11DB7;
  static constexpr uint32_t kInitial = 0xFFFFFFFF;

  // The CRC of the byte i in the top eight bits.
  static const uint32_t* Table();
  // Folds bytes into a running value that starts at kInitial.
  static uint32_t Update(uint32_t crc, const void* data, std::size_t length);
  static uint32_t Final(uint32_t crc) { return ~crc; }
  static uint32_t Of(const void* data, std::size_t length) { return Final(Update(kInitial, data, length)); }
};

} // namespace Vak::Archive
