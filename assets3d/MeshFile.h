#pragma once
// The mesh files' container and chunk conventions: result codes, tags and
// the header reads that every chunk reader starts with. Each reader checks
// what it reads against what remains, so no read goes past the data.
#include <cstdint>
#include <string>

#include "engine/kernelx/ResourceFile.h"

namespace Vak {
class MemoryFile;
}

namespace MeshFile {

// The result of every mesh-file reader and writer.
enum Result : unsigned long {
  kOk = 0,
  kNothingToWrite = 1,
  kNoData = 2,         // not opened, or nothing in the memory file
  kMalformed = 3,      // magic, type, tag, size, index, primitive, or no material or geometry made
  kBadVersion = 4,
  kNoMaterialManager = 5,
  kMaterialNotFound = 6,  // the manager said "not found" and no fall-back is allowed
  kMaterialFailed = 7,
};

constexpr uint32_t kMagic = Vak::FourCC("VIRF");
constexpr uint32_t kIndexedMesh = Vak::FourCC("IDXM");
constexpr uint32_t kInfo = Vak::FourCC("INFO");
constexpr uint32_t kChunk = Vak::FourCC("CHNK");
constexpr uint32_t kMaterial = Vak::FourCC("MATL");
constexpr uint32_t kGeometry = Vak::FourCC("GEOM");
constexpr uint32_t kNeighbours = Vak::FourCC("NINF");
constexpr uint32_t kInfluences = Vak::FourCC("INFL");
constexpr uint32_t kSkeleton = Vak::FourCC("SKEL");
constexpr uint32_t kBone = Vak::FourCC("BONE");
constexpr uint32_t kAttachments = Vak::FourCC("ATCH");
constexpr uint32_t kProgressive = Vak::FourCC("PMIN");

// The container header: magic, size and the expected type. `end` is the
// container's end as an offset from the data start. kNoData for an empty
// memory file; kMalformed for a wrong magic or type, a cut header, or an end
// past the data.
Result ReadContainerHeader(Vak::MemoryFile& file, uint32_t type, uint64_t& end);

struct ChunkHeader {
  uint32_t tag = 0;
  uint32_t version = 0;
  uint64_t end = 0;  // offset from the data start
};

// Tag, size and version of a chunk that must be `tag`. kMalformed for another
// tag, a cut header or a chunk that would end past `limit`.
Result ReadChunkHeader(Vak::MemoryFile& file, uint32_t tag, uint64_t limit, ChunkHeader& header);

// Whether the next chunk is `tag`, for an optional chunk. The cursor does not
// move; at the end of the data there is no tag and the answer is false.
bool NextTagIs(Vak::MemoryFile& file, uint32_t tag);
// The next tag when four bytes remain; the cursor does not move.
bool PeekTag(Vak::MemoryFile& file, uint32_t& tag);

// Stores `code` in a reader's result and hands the result back, as the
// readers' operations answer.
inline unsigned long* Done(unsigned long* result, unsigned long code) {
  *result = code;
  return result;
}

// What follows the last '\\' or '/' of `path` (all of it without one).
const char* FileNamePart(const char* path);
// A file a mesh names, placed in the folder of the mesh's own name `owner`;
// a rooted `file` (a leading slash or back-slash, or a drive) stays as it is.
std::string BesideName(const char* owner, const char* file);

// `n` 32-bit floats; false when they do not all remain.
bool ReadFloats(Vak::MemoryFile& file, float* out, unsigned n);

// Whether `count` records of at least `each` bytes can fit in what remains.
bool CountFits(const Vak::MemoryFile& file, uint64_t count, uint64_t each);

} // namespace MeshFile
