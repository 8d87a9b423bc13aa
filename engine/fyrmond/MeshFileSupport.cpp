#include "engine/fyrmond/MeshFileSupport.h"

#include <cstring>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "engine/kernelx/MemoryFile.h"
#include "engine/kernelx/ResourceFile.h"

namespace Vak {

namespace {

uint64_t Padded(uint64_t stored) { return (stored + 3) & ~uint64_t{3}; }

} // namespace

uint32_t MeshFileSupport::MarkSizePos(File& file) { return ResourceFileWriter::MarkSizePos(file); }

bool MeshFileSupport::WriteSizeAtMark(File& file, unsigned long mark) {
  return ResourceFileWriter::WriteSizeAtMark(file, static_cast<uint32_t>(mark));
}

bool MeshFileSupport::WritePaddedString(File& file, const char* text) {
  if (text == nullptr) return file.Write(uint32_t{0});
  const std::size_t length = std::strlen(text);
  if (length >= 0xFFFFFFF0u) return false;
  const uint32_t stored = static_cast<uint32_t>(length + 1);
  if (!file.Write(stored) || file.Write(text, stored, 1) != stored) return false;
  static const char kZeros[4] = {};
  const uint32_t pad = static_cast<uint32_t>(Padded(stored) - stored);
  return pad == 0 || file.Write(kZeros, pad, 1) == pad;
}

bool MeshFileSupport::Take(MemoryFile& file, const char*& text, uint32_t& length, bool& isNull) {
  const MemoryFile::State before = file.GetState();
  uint32_t stored = 0;
  if (!file.Read(stored)) return false;
  isNull = stored == 0;
  text = reinterpret_cast<const char*>(file.Cursor());
  if (isNull) {
    length = 0;
    return true;
  }
  const uint64_t span = Padded(stored);
  if (span > file.Remaining() || text[stored - 1] != '\0') {
    file.SetState(before);
    return false;
  }
  // An early zero ends the text, as it would for any C string.
  length = static_cast<uint32_t>(strnlen(text, stored));
  file.Skip(static_cast<uint32_t>(span));
  return true;
}

bool MeshFileSupport::ReadPaddedString(MemoryFile& file, String& out) {
  const char* text;
  uint32_t length;
  bool isNull;
  if (!Take(file, text, length, isNull)) return false;
  out = isNull ? String() : String(text, length);
  return true;
}

bool MeshFileSupport::ReadPaddedString(MemoryFile& file, PString& out) {
  const char* text;
  uint32_t length;
  bool isNull;
  if (!Take(file, text, length, isNull)) return false;
  out = isNull ? PString() : PString(text, length);
  return true;
}

bool MeshFileSupport::ReadPaddedString(MemoryFile& file, char*& out) {
  const char* text;
  uint32_t length;
  bool isNull;
  if (!Take(file, text, length, isNull)) return false;
  if (isNull) {
    out = nullptr;
    return true;
  }
  out = static_cast<char*>(Alloc::New(length + 1));
  std::memcpy(out, text, length);
  out[length] = '\0';
  return true;
}

} // namespace Vak
