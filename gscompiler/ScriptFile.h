#pragma once
// One script held as plain text (".gs") or in its scrambled, compressed form
// (".gse"), read and written by the file's extension.
//
// A ".gse" file is the engine's packed file form around a 16-byte header
// (header word, 0, n, 0, little-endian) and n bytes of scrambled block: the
// plain length as a little-endian word, then the LZSS-compressed text, the
// whole block XOR-ed with the container key.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/File.h"

class ScriptFile {
public:
  static constexpr std::size_t kKeyBytes = 32;
  static const uint8_t kKey[kKeyBytes];
  // Longest plain text read or unpacked.
  static constexpr uint32_t kMaxPlainLength = 0x4000000;
  static constexpr uint32_t kHeaderBytes = 16;

  ScriptFile();
  ~ScriptFile() = default;
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  // Clear, then the header word of a fresh container.
  void Reset();
  // Frees the data and zeroes every field.
  void Clear();

  // `layer`: the substitute to read through; null or empty for plain paths.
  // False for an extension other than gs or gse, a missing file or a read
  // that failed.
  bool Load(const char* layer, const char* path);
  // Writes through a temporary file beside the path, renamed into place only
  // when it is complete, so a failure leaves any earlier file as it was.
  bool Save(const char* layer, const char* path);

  // The plain text (no terminating zero), unscrambled first when needed;
  // null when there is none or unscrambling failed.
  const char* GetText();
  uint32_t GetPlainLength();

  // Plain to scrambled; false (nothing changed) for an empty text.
  bool Encode();
  // Scrambled to plain; a bad length or bad compressed data clears the
  // container.
  bool Decode();

  // XOR with the key from its first byte on; its own inverse.
  static void Scramble(uint8_t* data, std::size_t length);

  bool IsScrambled() const { return scrambled_; }
  uint32_t HeaderWord() const { return headerWord_; }
  uint32_t Length() const { return static_cast<uint32_t>(data_.size()); }
  const uint8_t* Data() const { return data_.empty() ? nullptr : data_.data(); }
  const char* LoadPath() const { return loadPath_; }
  const char* SavePath() const { return savePath_; }

private:
  bool ReadPlain();
  bool ReadScrambled();
  bool WritePlain();
  bool WriteScrambled();
  bool Open(Vak::File& file, const char* path, unsigned long mode) const;
  bool Exists(const char* path) const;
  // Writes `parts` in order to a new temporary file through the layer and
  // renames it over the save path.
  bool WriteReplacing(unsigned long mode, const std::vector<std::pair<const void*, std::size_t>>& parts);

  Vak::File::Path loadPath_;
  Vak::File::Path savePath_;
  const char* layer_ = nullptr;  // not owned
  std::vector<uint8_t> data_;
  bool scrambled_ = false;
  uint32_t headerWord_ = 0;
  uint32_t plainLength_ = 0;
};
