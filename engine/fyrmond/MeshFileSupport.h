#pragma once
// What the mesh-file readers and writers share: sizes back-patched as the
// resource-file writer does, and padded strings (docs/formats/mesh-files.md):
//
//   u32 n   0 for a null text, else the text's length plus its terminating zero
//   n bytes the text and its zero, then zero bytes up to a multiple of 4
#include <cstdint>

namespace Vak {

class File;
class MemoryFile;
class PString;
class String;

class MeshFileSupport {
public:
  // A placeholder size at the current position; returns that position.
  static uint32_t MarkSizePos(File& file);
  // Writes at `mark` the number of bytes written after the placeholder.
  static bool WriteSizeAtMark(File& file, unsigned long mark);

  // A null text is written as such and reads back as null.
  static bool WritePaddedString(File& file, const char* text);

  // False, cursor unmoved and `out` unchanged, when the string does not fit
  // in what remains or its last stored byte is not the terminating zero.
  static bool ReadPaddedString(MemoryFile& file, String& out);
  static bool ReadPaddedString(MemoryFile& file, PString& out);
  // A new buffer from Vak::Alloc::New (null for a null text); the caller
  // frees it with Vak::Alloc::Delete.
  static bool ReadPaddedString(MemoryFile& file, char*& out);

private:
  // The text of the string at the cursor and its length; moves past it.
  static bool Take(MemoryFile& file, const char*& text, uint32_t& length, bool& isNull);
};

} // namespace Vak
