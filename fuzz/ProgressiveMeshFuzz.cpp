// Progressive mesh files through the reader: a load that succeeds has every
// chain pointer inside the array it points into. Input: the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "assets3d/VelmarProgressiveMeshDefinition.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/MeshFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input("mesh.pm");
  if (!input.Write(data, size)) return 0;
  fuzz::MeshReaderParts parts(size);
  VelmarProgressiveMeshDefinition definition(parts.resource.options);
  unsigned long result = 99;
  definition.ReadMeshFile(&result, &parts.display, &parts.manager, &parts.resource, input.Path().c_str(), 0);
  if (result > 7) std::abort();
  if (result != 0) return 0;
  for (uint32_t k = 0; k < definition.GetStepCount(); ++k) {
    const auto& step = definition.GetSteps()[k];
    if (step.indices != nullptr &&
        (step.indices < definition.GetIndices() ||
         step.indices + step.values[3] > definition.GetIndices() + definition.GetIndexCount()))
      std::abort();
  }
  for (uint32_t k = 0; k < definition.GetTopCount(); ++k) {
    const auto& top = definition.GetTops()[k];
    if (top.groups + top.groupCount > definition.GetGroups() + definition.GetGroupCount()) std::abort();
  }
  return 0;
}
