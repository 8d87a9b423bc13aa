#include "assets3d/VelmarProgressiveMeshDefinition.h"

#include <algorithm>
#include <cstring>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assets3d/MeshFile.h"

using namespace MeshFile;

VelmarProgressiveMeshDefinition::~VelmarProgressiveMeshDefinition() = default;

unsigned long* VelmarProgressiveMeshDefinition::ReadMeshFile(unsigned long* result, Vak::Display* display,
                                                             Vak::MaterialManager* manager,
                                                             VelmarMeshResource* resource, const char* name,
                                                             uint32_t defaultColour) {
  if (manager == nullptr) return Done(result, kNoMaterialManager);
  if (!LoadMemoryFile(resource, name)) return Done(result, kNoData);
  AskDisplay(display);
  if (capability26_) matrixLimit_ = 24;
  if (unsigned long code = ReadIndexedSequence(display, manager, resource, defaultColour); code != kOk)
    return Done(result, code);
  // A PMIN that could not be read leaves the cursor short of the end, or
  // chains that would leave their arrays: either fails the load.
  while (BytesRemain(memoryFile_)) {
    unsigned long code = kOk;
    if (*ReadProgressiveChunk(&code, memoryFile_) != kOk) return Done(result, kMalformed);
  }
  SumTotals();
  if (memoryFile_.Tell() != ContainerEnd()) return Done(result, kMalformed);
  BuildSkeletonFromInfluences();
  PrepareInfluences();
  fileName_ = MeshFile::FileNamePart(memoryFile_.Name());
  CalculateExtents(false);
  memoryFile_.Close();
  return Done(result, kOk);
}

unsigned long* VelmarProgressiveMeshDefinition::ReadProgressiveChunk(unsigned long* result, Vak::MemoryFile& file) {
  ChunkHeader h;
  if (Result r = ReadChunkHeader(file, kProgressive, ContainerEnd(), h); r != kOk) return Done(result, r);
  if (h.version != 101) return Done(result, kBadVersion);
  uint32_t a = 0, b = 0, c = 0, d = 0;
  if (!file.Read(a) || !file.Read(b) || !file.Read(c) || !file.Read(d)) return Done(result, kMalformed);
  const uint64_t need = 4 * uint64_t{a} + 16 * uint64_t{b} + 8 * uint64_t{c} + 4 * uint64_t{d};
  if (need > ContainerEnd() - file.Tell()) return Done(result, kMalformed);
  indexCount_ = a;
  stepCount_ = b;
  groupCount_ = c;
  topCount_ = d;
  indices_.reset(a > 0 ? new uint32_t[a] : nullptr);
  steps_.reset(b > 0 ? new Step[b] : nullptr);
  groups_.reset(new Group[c]);
  tops_.reset(new Top[d]);
  const uint8_t* at = file.Cursor();
  for (uint32_t i = 0; i < a; ++i, at += 4) indices_[i] = Vak::GetLE32(at);
  for (uint32_t k = 0; k < b; ++k)
    for (int v = 0; v < 4; ++v, at += 4) steps_[k].values[v] = Vak::GetLE32(at);
  for (uint32_t k = 0; k < c; ++k)
    for (int v = 0; v < 2; ++v, at += 4) groups_[k].values[v] = Vak::GetLE32(at);
  for (uint32_t k = 0; k < d; ++k, at += 4) tops_[k].groupCount = Vak::GetLE32(at);
  file.Skip(static_cast<uint32_t>(need));
  // The sums are 64-bit and must stay inside the arrays they point into.
  uint64_t sum = 0;
  for (uint32_t k = 0; k < b; ++k) {
    steps_[k].indices = indices_ ? indices_.get() + sum : nullptr;
    sum += steps_[k].values[3];
    if (sum > a) return Done(result, kMalformed);
  }
  sum = 0;
  for (uint32_t k = 0; k < c; ++k) {
    groups_[k].steps = steps_ ? steps_.get() + sum : nullptr;
    sum += groups_[k].values[1];
    if (sum > b) return Done(result, kMalformed);
  }
  sum = 0;
  for (uint32_t k = 0; k < d; ++k) {
    tops_[k].groups = groups_.get() + sum;
    sum += tops_[k].groupCount;
    if (sum > c) return Done(result, kMalformed);
  }
  return Done(result, kOk);
}
