#include "engine/dorvix/Display.h"

#include "engine/dorvix/GeometryChunk.h"

namespace Vak {

void Display::ConvertColorArray(uint32_t* colours, unsigned count) const {
  for (unsigned i = 0; i < count; ++i) colours[i] = ConvertColor(colours[i]);
}

// Draws.

void Display::RenderGeometry(const GeometryChunk& chunk) {
  Record("RenderGeometry", {double(chunk.GetVertexCount()), double(chunk.GetIndexCount())});
}

void Display::RenderPrimitives(const GeometryChunk& chunk, const uint16_t* indices, unsigned count,
                               unsigned primitives, int type) {
  std::vector<double> args;
  args.reserve(3 + std::size_t(count));
  args.insert(args.end(), {double(chunk.GetVertexCount()), double(primitives), double(type)});
  for (unsigned i = 0; i < count; ++i) args.push_back(indices[i]);
  Record("RenderPrimitives", std::move(args));
}

} // namespace Vak
