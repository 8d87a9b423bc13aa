#pragma once
// The engine's chunked resource file, shared by meshes and textures:
//
//   "VIRF"  u32 size (bytes after this field)  u32 type  chunks...
//   chunk:  4-byte tag  u32 size (bytes after this field)  u32 version  payload
//
// All numbers little-endian. Payloads may hold further chunks. The writer
// marks each size field and back-patches it when the chunk ends; the reader
// walks the bytes of a whole file held in memory and checks every size
// against what remains.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"

namespace Vak {

class File;

// A four-character tag as the number whose little-endian bytes spell it.
constexpr uint32_t FourCC(const char (&text)[5]) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(text[0]), static_cast<uint8_t>(text[1]),
                            static_cast<uint8_t>(text[2]), static_cast<uint8_t>(text[3])};
  return GetLE32(bytes);
}

class ResourceFileWriter {
public:
  static constexpr uint32_t kMagic = FourCC("VIRF");

  // `file` is open for writing, plain, at the position where the container
  // starts; it must outlive the writer.
  explicit ResourceFileWriter(File& file) : file_(file) {}

  // The container header; the type is stored as a little-endian number.
  bool BeginFile(uint32_t type);
  bool BeginChunk(uint32_t tag, uint32_t version);
  // Ends the innermost open chunk, or the container when none is open.
  bool End();

  bool Write(const void* data, std::size_t size);
  bool WriteU32(uint32_t value);
  bool WriteI32(int32_t value) { return WriteU32(static_cast<uint32_t>(value)); }

  // How many chunks (and the container) are open.
  std::size_t Depth() const { return marks_.size(); }
  bool Failed() const { return failed_; }

  // Writes a placeholder size at the current position and returns that
  // position; WriteSizeAtMark stores there the bytes written after it.
  static uint32_t MarkSizePos(File& file);
  static bool WriteSizeAtMark(File& file, uint32_t mark);

private:
  bool Check(bool ok) {
    failed_ = failed_ || !ok;
    return ok;
  }

  File& file_;
  std::vector<uint32_t> marks_;
  bool failed_ = false;
};

// One chunk found by the reader: payload offsets are into the whole file.
struct ResourceChunk {
  uint32_t tag = 0;
  uint32_t version = 0;
  std::size_t payload = 0;  // first byte after the version
  std::size_t end = 0;      // one past the chunk's last byte
};

// The container header of `data`; false when it is not one or its size does
// not fit. `end` is one past the container's last byte.
bool ReadResourceFileHeader(const uint8_t* data, std::size_t size, uint32_t& type, std::size_t& end);
// The chunks that fill [begin, end) exactly; false (with the chunks read so
// far) when one is truncated or does not end inside the range.
bool ReadResourceChunks(const uint8_t* data, std::size_t begin, std::size_t end, std::vector<ResourceChunk>& chunks);

} // namespace Vak
