#pragma once
// Builds archive bytes block by block, for archives the layer would not
// write itself: version 257, blocks behind the index, damage.
#include <cstdint>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/BlockCoder.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"

namespace Vak::test {

class ArchiveBuilder {
public:
  // `infoBytes`: the length of the "INFO" block, which a reader accepts
  // shorter or longer than the 32 bytes written.
  explicit ArchiveBuilder(uint32_t version = Archive::kVersion258, uint32_t infoBytes = Archive::kInfoBytes)
      : infoBytes_(infoBytes) {
    info_.version = version;
    bytes_.assign(Archive::kSignature, 4);
    Block(Archive::kInfoTag, std::string(infoBytes, '\0'));
  }

  // Appends a "FIL " block; returns its index record (not yet listed).
  Archive::IndexRecord AddFile(const std::string& name, const std::string& content, bool compressed = false,
                               uint32_t time = 0) {
    Archive::FileHeader h;
    h.uncompressedSize = static_cast<uint32_t>(content.size());
    h.checksum = Archive::Crc::Of(content.data(), content.size());
    h.fileTime = time;
    if (compressed) h.flags = Archive::kFlagCompressed;
    return AddPayload(name, compressed ? Compress(content) : content, h);
  }

  // Appends a "FIL " block of `payload` as it is, with the fields of `h`
  // (name and stored size are set here).
  Archive::IndexRecord AddPayload(const std::string& name, const std::string& payload, Archive::FileHeader h) {
    Archive::IndexRecord r;
    r.header = h;
    r.header.SetName(name.c_str());
    r.header.storedSize = static_cast<uint32_t>(payload.size());
    r.payloadSize = r.header.storedSize;
    uint8_t header[Archive::kHeaderBytes];
    r.header.Encode(header);
    r.payloadOffset = static_cast<uint32_t>(bytes_.size() + Archive::kFileLeadBytes);
    Block(Archive::kFileTag, std::string(reinterpret_cast<char*>(header), sizeof header) + payload);
    records_.push_back(r);
    return r;
  }

  // Appends an "IDX " block of every file added so far and points the info at it.
  uint32_t AddIndex() {
    std::string data;
    for (const auto& r : records_) {
      uint8_t raw[Archive::kRecordBytes];
      r.Encode(raw);
      data.append(reinterpret_cast<char*>(raw), sizeof raw);
    }
    info_.indexOffset = static_cast<uint32_t>(bytes_.size());
    info_.entryCount = static_cast<uint32_t>(records_.size());
    Block(Archive::kIndexTag, data);
    return info_.indexOffset;
  }

  void Raw(const std::string& bytes) { bytes_ += bytes; }
  Archive::Info& Info() { return info_; }

  std::string Bytes() const {
    std::string out = bytes_;
    uint8_t info[Archive::kInfoBytes];
    info_.Encode(info);
    const std::size_t n = std::min<std::size_t>(infoBytes_, sizeof info);
    out.replace(Archive::kSignatureBytes + Archive::kHeadBytes, n, reinterpret_cast<char*>(info), n);
    return out;
  }

  void WriteTo(const std::string& path) const { std::ofstream(path, std::ios::binary) << Bytes(); }

  // The payload of a compressed file in an archive of this version.
  std::string Compress(const std::string& content) const {
    std::string out = "CFIL";
    if (info_.version != Archive::kVersion257) {
      out += U32(257);
      out += U32(static_cast<uint32_t>(content.size()));
    }
    std::vector<uint8_t> coded(Archive::kChunkBytes);
    for (std::size_t at = 0; at < content.size(); at += Archive::kChunkBytes) {
      const unsigned n = static_cast<unsigned>(std::min<std::size_t>(Archive::kChunkBytes, content.size() - at));
      const unsigned c = BlockCoder::Code(coded.data(), reinterpret_cast<const uint8_t*>(content.data()) + at, n);
      const uint16_t word = static_cast<uint16_t>(c == n ? (0x8000 | c) : c);
      AppendLE16(out, word);
      out.append(reinterpret_cast<const char*>(coded.data()), c);
    }
    return out;
  }

  static std::string U32(uint32_t v) {
    std::string out;
    AppendLE32(out, v);
    return out;
  }

private:
  void Block(const char (&tag)[4], const std::string& data) {
    bytes_.append(tag, 4);
    bytes_ += U32(static_cast<uint32_t>(data.size()));
    bytes_ += data;
  }

  uint32_t infoBytes_;
  Archive::Info info_;
  std::string bytes_;
  std::vector<Archive::IndexRecord> records_;
};

// The content of `name` ("sub:path" or a plain path), or "<not opened>".
inline std::string ReadVia(const std::string& name, unsigned long mode = File::kRead) {
  File f;
  if (!f.Open(name.c_str(), mode).Ok()) return "<not opened>";
  std::string out;
  char buf[4096];
  for (unsigned long n; (n = f.Read(buf, sizeof buf, 1)) > 0;) out.append(buf, n);
  return out;
}

// Writes `content` to `name`; true when it was opened, written and closed
// (for a file in an archive: stored).
inline bool WriteVia(const std::string& name, const std::string& content,
                     unsigned long mode = File::kWrite | File::kCreate) {
  File f;
  if (!f.Open(name.c_str(), mode).Ok()) return false;
  const bool written = content.empty() || f.Write(content.data(), content.size(), 1) == content.size();
  return f.Close() == 0 && written;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace Vak::test
