#pragma once
// Whole-file steps of the patch converter: reading an engine file, writing
// bytes or a file into an archive (or the plain file system), and the test
// that an archive-relative path stays inside its archive.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"

// A whole file's bytes. The memory is kept for the next file and is not
// cleared before it is filled.
class FileBytes {
public:
  // False when the memory cannot be had.
  bool Resize(std::size_t size);
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

private:
  std::unique_ptr<uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Reads an open file whole, from its start. False when it is not open, the
// buffer cannot be had or a read fails or finds damage.
bool ReadWholeFile(Vak::File& file, FileBytes& out);

// Creates `path` in the substitute (null or empty: the plain file system)
// and writes the bytes: stored compressed when over 1024 bytes, else plain.
// An empty buffer gives an empty file. False when anything failed.
bool WriteBufferToArchive(const Vak::PString& substitute, const char* path, const uint8_t* data,
                          std::size_t size);
// The same, but never compressed (work files, list files).
bool WritePlainFile(const Vak::PString& substitute, const char* path, const uint8_t* data, std::size_t size);

// Copies an open source's content to `path` in the destination; false when
// the source is not open or anything failed.
bool WriteFileToArchive(const Vak::PString& destination, const char* path, Vak::File& source);
// Opens the source through its substitute ("" or null: plain) and copies it.
bool CopyArchiveFile(const Vak::PString& sourceSubstitute, const char* sourcePath,
                     const Vak::PString& destinationSubstitute, const char* destinationPath);

// False for an empty path, a leading separator, a drive prefix or a colon,
// and any ".." component: such a name must not reach a file system path.
bool IsSafeArchivePath(const char* path);
