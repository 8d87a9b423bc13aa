#include "tools/PatchFiles.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kPlainLimit = 1024;

bool WriteWith(const Vak::PString& substitute, const char* path, const uint8_t* data, std::size_t size,
               unsigned long mode) {
  if (!path || size > 0xFFFFFFFFu) return false;
  try {
    Vak::File out;
    if (!out.Open(substitute, path, mode).Ok()) return false;
    const bool written = size == 0 || out.Write(data, static_cast<unsigned long>(size), 1) == size;
    return out.Close() == 0 && written;
  } catch (...) {
    return false;
  }
}

} // namespace

bool FileBytes::Resize(std::size_t size) {
  if (size > capacity_) {
    data_.reset(new (std::nothrow) uint8_t[size]);
    capacity_ = data_ ? size : 0;
    if (!data_) {
      size_ = 0;
      return false;
    }
  }
  size_ = size;
  return true;
}

bool ReadWholeFile(Vak::File& file, FileBytes& out) {
  out.Resize(0);
  if (!file.IsOpen()) return false;
  try {
    file.Seek(0, Vak::File::kSeekBegin);
    const uint32_t size = file.Size();
    if (!out.Resize(size)) return false;
    if (size > 0 && file.Read(out.data(), size, 1) != size) return false;
    return !file.ReadFailed();
  } catch (...) {
    // An allocation, or a layer refusing the read.
    return false;
  }
}

bool WriteBufferToArchive(const Vak::PString& substitute, const char* path, const uint8_t* data,
                          std::size_t size) {
  const unsigned long mode = size > kPlainLimit ? Vak::File::kCreate | Vak::File::kWriteCompressed
                                                : Vak::File::kCreate | Vak::File::kWrite;
  return WriteWith(substitute, path, data, size, mode);
}

bool WritePlainFile(const Vak::PString& substitute, const char* path, const uint8_t* data, std::size_t size) {
  return WriteWith(substitute, path, data, size, Vak::File::kCreate | Vak::File::kWrite);
}

bool WriteFileToArchive(const Vak::PString& destination, const char* path, Vak::File& source) {
  FileBytes content;
  if (!ReadWholeFile(source, content)) return false;
  return WriteBufferToArchive(destination, path, content.data(), content.size());
}

bool CopyArchiveFile(const Vak::PString& sourceSubstitute, const char* sourcePath,
                     const Vak::PString& destinationSubstitute, const char* destinationPath) {
  try {
    Vak::File source;
    if (!source.Open(sourceSubstitute, sourcePath, Vak::File::kRead).Ok()) return false;
    return WriteFileToArchive(destinationSubstitute, destinationPath, source);
  } catch (...) {
    return false;
  }
}

bool IsSafeArchivePath(const char* path) {
  if (!path || !*path || path[0] == '/' || path[0] == '\\' || std::strchr(path, ':')) return false;
  const char* p = path;
  while (*p) {
    const char* end = p;
    while (*end && *end != '/' && *end != '\\') ++end;
    if (end - p == 2 && p[0] == '.' && p[1] == '.') return false;
    p = *end ? end + 1 : end;
  }
  return true;
}
