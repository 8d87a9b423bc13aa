#pragma once
// What a caller asks of the geometry chunk a material makes: buffer usage,
// texture sets, skinning. The material derives the vertex type from it.
#include <cstdint>

namespace Vak {

class ResourceDatabase;

struct StandardChunkHint {
  enum Flag : uint32_t {
    kSoftwareLighting = 0x1,
    kSkinned = 0x2,           // vertices carry influences
    kSoftwareSkinning = 0x4,  // skinned on the CPU: no weight items
    kFloatWeights = 0x8,      // float weight items instead of packed bytes
  };
  static constexpr int kHardwareSkinning = 4;  // skinning mode

  // `usage` sets the vertex and the index data usage alike.
  explicit StandardChunkHint(int usage = 2, uint32_t flags_ = 0)
      : flags(flags_), vertexUsage(usage), indexUsage(usage) {}

  uint32_t flags;
  int vertexUsage;
  int indexUsage;
  unsigned textureSets = 1;       // at most 8 count
  unsigned weightsPerVertex = 0;  // picks the float weight item
  bool tangents = false;          // item 27
  int skinningMode = 0;
  unsigned matrixLimit = 0;       // palette size; 0 for no limit
  float value = 0;                // carried for the material
  ResourceDatabase* database = nullptr;
};

} // namespace Vak
