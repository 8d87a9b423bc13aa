#include "assets3d/MeshFile.h"

#include <algorithm>
#include <cstring>

#include "engine/kernelx/MemoryFile.h"

namespace MeshFile {

Result ReadContainerHeader(Vak::MemoryFile& file, uint32_t type, uint64_t& end) {
  if (!file.HasData()) return kNoData;
  uint32_t magic = 0, size = 0, found = 0;
  if (!file.Read(magic) || magic != kMagic || !file.Read(size)) return kMalformed;
  end = uint64_t{file.Tell()} + size;
  if (end > file.Tell() + uint64_t{file.Remaining()}) return kMalformed;
  if (!file.Read(found) || found != type) return kMalformed;
  return kOk;
}

Result ReadChunkHeader(Vak::MemoryFile& file, uint32_t tag, uint64_t limit, ChunkHeader& header) {
  uint32_t size = 0;
  if (!file.Read(header.tag) || header.tag != tag || !file.Read(size)) return kMalformed;
  header.end = uint64_t{file.Tell()} + size;
  if (header.end > limit || !file.Read(header.version)) return kMalformed;
  return kOk;
}

bool PeekTag(Vak::MemoryFile& file, uint32_t& tag) {
  if (!file.Read(tag)) return false;
  file.StepBack(4);
  return true;
}

bool NextTagIs(Vak::MemoryFile& file, uint32_t tag) {
  uint32_t found = 0;
  return PeekTag(file, found) && found == tag;
}

const char* FileNamePart(const char* path) {
  const char* cut = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
  return cut ? cut + 1 : path;
}

std::string BesideName(const char* owner, const char* file) {
  if (file[0] == '/' || file[0] == '\\' || (file[0] != 0 && file[1] == ':')) return file;
  return std::string(owner, FileNamePart(owner)) + file;
}

bool ReadFloats(Vak::MemoryFile& file, float* out, unsigned n) {
  for (unsigned i = 0; i < n; ++i)
    if (!file.Read(out[i])) return false;
  return true;
}

bool CountFits(const Vak::MemoryFile& file, uint64_t count, uint64_t each) {
  return each == 0 || count <= file.Remaining() / each;
}

} // namespace MeshFile
