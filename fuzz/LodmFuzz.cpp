// Level-of-detail mesh files through the reader: nothing may read past the
// bytes, a load that succeeds holds only indices inside its chunks, and what
// it loaded writes back and reads again. Input: the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/MeshFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("mesh.lm");
  static const fuzz::InputFile output("written.lm");
  if (!input.Write(data, size)) return 0;
  fuzz::MeshReaderParts parts(size);
  VelmarIndexedMeshLODDefinition definition(parts.resource.options);
  unsigned long result = 99;
  definition.ReadMeshFile(&result, &parts.display, &parts.manager, &parts.resource, input.Path().c_str(), 0);
  if (result > 7) std::abort();
  if (result != 0) return 0;
  if (!fuzz::LevelIndicesInside(definition)) std::abort();
  Vak::File file;
  if (!file.Open(output.Path().c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok()) return 0;
  definition.WriteMeshFile(&result, file);
  file.Close();
  if (result != 0) std::abort();
  VelmarIndexedMeshLODDefinition again(parts.resource.options);
  again.ReadMeshFile(&result, &parts.display, &parts.manager, &parts.resource, output.Path().c_str(), 0);
  if (result != 0) std::abort();
  return 0;
}
