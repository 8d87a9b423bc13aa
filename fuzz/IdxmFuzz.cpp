// Indexed mesh files through the reader: nothing may read past the bytes,
// and a load that succeeds holds only indices inside its chunks. Input: the
// file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/MeshFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("mesh.im");
  if (!input.Write(data, size)) return 0;
  fuzz::MeshReaderParts parts(size);
  VelmarIndexedMeshDefinition definition(parts.resource.options);
  Vak::File file;
  if (!file.Open(input.Path().c_str(), Vak::File::kRead).Ok()) return 0;
  definition.GetMemoryFile().Open(file, false, 0);
  file.Close();
  unsigned long result = 99;
  definition.ReadMeshFile(&result, &parts.display, &parts.manager, &parts.resource, input.Path().c_str(), 0);
  if (result > 7) std::abort();
  if (result != 0) return 0;
  for (int c = 0; c < definition.GetChunkCount(); ++c) {
    const Vak::GeometryChunk* chunk = definition.GetChunk(c);
    for (unsigned i = 0; i < chunk->GetIndexCount(); ++i)
      if (chunk->GetIndices()[i] >= chunk->GetVertexCount()) std::abort();
  }
  return 0;
}
