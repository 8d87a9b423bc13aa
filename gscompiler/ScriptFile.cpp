#include "gscompiler/ScriptFile.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/PString.h"
#include "content/LZSSCompress.h"
#include "platform/os/Thread.h"

const uint8_t ScriptFile::kKey[kKeyBytes] = {
    0x5c, 0x1e, 0x9a, 0x3b, 0x7d, 0x20, 0xf4, 0xc6, 0x8e, 0x11, 0xb2, 0xd9, 0xa0, 0x7f, 0x3c, 0x45,
    0xe6, 0xd8, 0x19, 0x2b, 0x0f, 0xa4, 0xc3, 0xe7, 0xd5, 0xb6, 0xa8, 0x09, 0x1e, 0x2f, 0x3c, 0x4d,
};

namespace {

// A new file written packed, and a new file written plain.
constexpr unsigned long kPackedWriteMode = Vak::File::kCreateNew | Vak::File::kWriteCompressed;
constexpr unsigned long kPlainWriteMode = Vak::File::kCreateNew | Vak::File::kWriteMask;
// Reads either form; the packed one is detected.
constexpr unsigned long kReadMode = Vak::File::kRead;
constexpr int kLzssLevel = 9;
// Reads grow the buffer by pieces, so a size that a file only claims is
// never allocated ahead of its bytes.
constexpr uint32_t kReadPiece = 1u << 16;

std::atomic<uint32_t> gTemporaryCounter{0};

// Appends up to `want` bytes of the file to `out`; false when fewer arrived.
bool ReadExactly(Vak::File& file, uint32_t want, std::vector<uint8_t>& out) {
  // Callers check `want` against the file's size, but a packed file's size
  // is what its header claims, so nothing is reserved ahead of the bytes.
  while (want > 0) {
    const uint32_t piece = want < kReadPiece ? want : kReadPiece;
    const std::size_t at = out.size();
    out.resize(at + piece);
    const unsigned long got = file.Read(out.data() + at, piece, 1);
    if (got != piece) return false;
    want -= piece;
  }
  return true;
}

// "layer:path" when a layer is named, else the path.
std::string Routed(const char* layer, const char* path) {
  if (layer == nullptr || *layer == '\0') return path;
  return std::string(layer) + ":" + path;
}

} // namespace

ScriptFile::ScriptFile() { Reset(); }

void ScriptFile::Reset() {
  Clear();
  headerWord_ = 1;
}

void ScriptFile::Clear() {
  std::vector<uint8_t>().swap(data_);
  loadPath_ = "";
  savePath_ = "";
  layer_ = nullptr;
  scrambled_ = false;
  headerWord_ = 0;
  plainLength_ = 0;
}

void ScriptFile::Scramble(uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) data[i] ^= kKey[i % kKeyBytes];
}

bool ScriptFile::Encode() {
  if (scrambled_) return true;
  // An empty text would pack with plain length 0, which no decode accepts.
  if (data_.empty()) return false;
  if (plainLength_ == 0) plainLength_ = Length();
  std::vector<uint8_t> packed;
  Vak::LZSSCompress compressor;
  if (!compressor.CompressBlock(data_.data(), data_.size(), kLzssLevel, packed)) return false;
  std::vector<uint8_t> block(4 + packed.size());
  Vak::PutLE32(block.data(), plainLength_);
  std::copy(packed.begin(), packed.end(), block.begin() + 4);
  data_.swap(block);
  Scramble(data_.data(), data_.size());
  scrambled_ = true;
  return true;
}

bool ScriptFile::Decode() {
  if (!scrambled_) return true;
  if (data_.size() < 4) {
    Clear();
    return false;
  }
  Scramble(data_.data(), data_.size());
  const uint32_t plain = Vak::GetLE32(data_.data());
  if (plain == 0 || plain > kMaxPlainLength) {
    Clear();
    return false;
  }
  std::vector<uint8_t> text(plain);
  std::size_t written = 0;
  Vak::LZSSCompress compressor;
  if (!compressor.DecompressBlock(data_.data() + 4, data_.size() - 4, text.data(), text.size(), &written) ||
      written != plain) {
    Clear();
    return false;
  }
  data_.swap(text);
  if (plainLength_ == 0) plainLength_ = plain;
  scrambled_ = false;
  return true;
}

const char* ScriptFile::GetText() {
  if (scrambled_ && !Decode()) return nullptr;
  return data_.empty() ? nullptr : reinterpret_cast<const char*>(data_.data());
}

uint32_t ScriptFile::GetPlainLength() {
  if (plainLength_ != 0) return plainLength_;
  if (!scrambled_) return Length();
  return Decode() ? Length() : 0;
}

bool ScriptFile::Exists(const char* path) const {
  if (layer_ != nullptr && *layer_ != '\0') {
    Vak::PString layer(layer_);
    return Vak::File::Exists(layer, path).Ok();
  }
  return Vak::File::Exists(path).Ok();
}

bool ScriptFile::Open(Vak::File& file, const char* path, unsigned long mode) const {
  if (layer_ != nullptr && *layer_ != '\0') return file.Open(Vak::PString(layer_), path, mode).Ok();
  return file.Open(path, mode).Ok();
}

bool ScriptFile::Load(const char* layer, const char* path) {
  Reset();
  if (path == nullptr || !loadPath_.Set(path)) return false;
  layer_ = layer;
  const bool plain = loadPath_.IsExt("gs");
  if (!plain && !loadPath_.IsExt("gse")) return false;
  if (!Exists(loadPath_)) return false;
  return plain ? ReadPlain() : ReadScrambled();
}

bool ScriptFile::Save(const char* layer, const char* path) {
  if (path == nullptr || !savePath_.Set(path)) return false;
  layer_ = layer;
  if (savePath_.IsExt("gse")) return WriteScrambled();
  if (savePath_.IsExt("gs")) return WritePlain();
  return false;
}

bool ScriptFile::ReadPlain() {
  Vak::File file;
  if (!Open(file, loadPath_, kReadMode)) return false;
  const uint32_t size = file.Size();
  std::vector<uint8_t> text;
  const bool read = size <= kMaxPlainLength && ReadExactly(file, size, text) && !file.ReadFailed();
  file.Close();
  if (!read) return false;
  data_.swap(text);
  plainLength_ = size;
  return true;
}

bool ScriptFile::ReadScrambled() {
  Vak::File file;
  if (!Open(file, loadPath_, kReadMode)) return false;
  std::vector<uint8_t> header;
  bool read = ReadExactly(file, kHeaderBytes, header);
  const uint32_t word = read ? Vak::GetLE32(header.data()) : 0;
  const uint32_t n = read ? Vak::GetLE32(header.data() + 8) : 0;
  // The block must lie within the bytes that remain.
  const uint32_t size = read ? file.Size() : 0;
  read = read && n != 0 && size >= kHeaderBytes && n <= size - kHeaderBytes;
  std::vector<uint8_t> block;
  read = read && ReadExactly(file, n, block) && file.Tell() == kHeaderBytes + n && !file.ReadFailed();
  file.Close();
  if (!read) return false;
  headerWord_ = word;
  data_.swap(block);
  scrambled_ = true;
  return true;
}

bool ScriptFile::WriteScrambled() {
  if (!Encode()) return false;
  uint8_t header[kHeaderBytes];
  Vak::PutLE32(header, headerWord_);
  Vak::PutLE32(header + 4, 0);
  Vak::PutLE32(header + 8, Length());
  Vak::PutLE32(header + 12, 0);
  return WriteReplacing(kPackedWriteMode, {{header, sizeof header}, {data_.data(), data_.size()}});
}

bool ScriptFile::WritePlain() {
  if (!Decode()) return false;
  return WriteReplacing(kPlainWriteMode, {{data_.data(), data_.size()}});
}

bool ScriptFile::WriteReplacing(unsigned long mode, const std::vector<std::pair<const void*, std::size_t>>& parts) {
  // The temporary sits in the save path's folder, within the same layer.
  Vak::File::Path temporary;
  Vak::File file;
  bool opened = false;
  for (int tries = 0; tries < 16 && !opened; ++tries) {
    char name[32];
    std::snprintf(name, sizeof name, "%08X.S%08X", platform::CurrentProcessId(), gTemporaryCounter++);
    temporary = savePath_;
    temporary.DelName(false);
    if (!temporary.Add(name)) return false;
    opened = Open(file, temporary, mode);
  }
  if (!opened) return false;
  bool written = true;
  for (const auto& [data, size] : parts) {
    if (size != 0 && file.Write(data, size, 1) != size) written = false;
  }
  if (file.Close() != 0) written = false;
  const std::string from = Routed(layer_, temporary);
  if (written && Vak::File::Rename(from.c_str(), Routed(layer_, savePath_).c_str())) return true;
  Vak::File::Unlink(from.c_str());
  return false;
}
