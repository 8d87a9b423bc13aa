// One frame of blended geometry through the sorting cache: N entries added
// (a third of them near enough to have their primitives sorted) and
// rendered through the recording display, whose log is cleared each frame.
// An iteration is a frame; the time is per frame, in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "assets3d/VelmarAlphaBlendCache.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/GeometryChunk.h"

namespace {

// A 3 x 3 grid of vertices as eight triangles in a list.
Vak::GeometryChunk* MakeGridChunk() {
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  const uint16_t indices[] = {0, 1, 3, 1, 4, 3, 1, 2, 4, 2, 5, 4, 3, 4, 6, 4, 7, 6, 4, 5, 7, 5, 8, 7};
  auto* chunk = new Vak::GeometryChunk(type, 9, 0, unsigned(std::size(indices)), 0, 0, Vak::StandardChunkHint());
  chunk->SetFlags(Vak::GeometryChunk::kTypeTriangleList);
  auto positions = chunk->GetItem<Vak::Vector3>(Vak::kItemPosition);
  for (unsigned v = 0; v < 9; ++v) positions[v] = {float(v % 3), float(v / 3), 0.0f};
  std::copy(std::begin(indices), std::end(indices), chunk->GetIndices());
  return chunk;
}

void BM_AlphaBlendFrame(benchmark::State& state) {
  const int entries = int(state.range(0));
  Vak::GeometryChunk* chunk = MakeGridChunk();
  // Every third entry inside the sorted buckets (under 350), the rest
  // spread from 350 to 1350.
  std::vector<Vak::Matrix4> transforms(entries);
  for (int i = 0; i < entries; ++i) {
    const float distance = i % 3 == 0 ? 1.0f + float(i % 349) : 350.0f + float((i * 7919) % 1000);
    transforms[i].m[0][3] = distance * 0.6f;
    transforms[i].m[2][3] = distance * 0.8f;
  }
  Vak::VelmarAlphaBlendCache cache;
  Vak::AlphaBlendDrawer drawer;
  Vak::Display display;
  for (auto _ : state) {
    for (const Vak::Matrix4& transform : transforms) cache.Add(&drawer, chunk, nullptr, transform);
    cache.Render(display, 0);
    benchmark::DoNotOptimize(display.GetCalls().size());
    display.ClearCalls();
  }
  state.SetItemsProcessed(state.iterations() * entries);
  chunk->ReleaseReference();
}
BENCHMARK(BM_AlphaBlendFrame)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace
