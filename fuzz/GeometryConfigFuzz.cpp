// Text geometry configs: parsed, then loaded; a load that succeeds holds
// only indices and influence entries inside its chunks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/fyrmond/GeometryConfigData.h"
#include "engine/kernelx/ConfigParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vak::ConfigParser parser;
  if (parser.ParseText(reinterpret_cast<const char*>(data), size) != 0 || !parser.GetData()) return 0;
  Vak::GeometryConfigData config;
  if (!config.Load(*parser.GetData(), "fuzz.imtxt")) return 0;
  if (config.GetNumChunks() == 0) std::abort();
  for (unsigned c = 0; c < config.GetNumChunks(); ++c) {
    const Vak::GeometryConfigData::Chunk& chunk = config.GetChunk(c);
    const unsigned vertices = chunk.GetVertexCount();
    if (vertices == 0 || chunk.normals.size() != vertices ||
        chunk.texCoords.size() != std::size_t(vertices) * 2 * chunk.texCoordSets)
      std::abort();
    if (config.GetMaxVertexCount() && vertices > config.GetMaxVertexCount()) std::abort();
    for (uint16_t index : chunk.indices)
      if (index >= vertices) std::abort();
  }
  for (unsigned i = 0; i < config.GetNumInfluences(); ++i)
    for (const Vak::InfluenceDefinition::Group& group : config.GetInfluence(i).groups) {
      if (group.chunk >= config.GetNumChunks()) std::abort();
      for (const Vak::InfluenceDefinition::Entry& entry : group.entries)
        if (entry.vertex >= config.GetChunk(group.chunk).GetVertexCount()) std::abort();
    }
  return 0;
}
