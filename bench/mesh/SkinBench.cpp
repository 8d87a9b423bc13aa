// Software skinning, one frame: every vertex position of a 40-bone mesh
// written again from its two weighted bone offsets, at 5,000, 50,000 and
// 500,000 vertices (chunks of at most 10,000). The reference is a plain copy
// of the same position bytes; "ratio" is skinning / copy per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "assets3d/VelmarInfluenceMesh.h"
#include "bench/mesh/MeshBench.h"
#include "engine/elthrac/Particle.h"

namespace {

using Vak::GeometryChunk;
using Vak::InfluenceDefinition;
using Vak::Particle;
using Vak::PString;
using Vak::Vector3;

constexpr unsigned kBones = 40;
constexpr unsigned kChunkVertices = 10000;

struct SkinnedMesh {
  SharedRefArray<GeometryChunk> chunks;
  unsigned chunkCount = 0;
  std::unique_ptr<Particle> skeleton;
  VelmarInfluenceMesh skin;
  std::vector<Vector3> copy;  // the reference's destination
};

PString BoneName(unsigned i) {
  PString name;
  name.Setf("b.bone%u", i);
  return name;
}

// A binary tree of bones; each vertex hangs on two of them.
std::unique_ptr<SkinnedMesh> Make(unsigned vertices) {
  auto mesh = std::make_unique<SkinnedMesh>();
  std::mt19937 rng(122);
  std::uniform_int_distribution<unsigned> pick(0, kBones - 1);
  std::uniform_real_distribution<float> coordinate(-1, 1), weight(0.1f, 0.9f);
  std::vector<InfluenceDefinition> bones;
  std::vector<Particle*> particles;
  for (unsigned b = 0; b < kBones; ++b) {
    bones.emplace_back(BoneName(b), b == 0 ? PString("") : BoneName((b - 1) / 2), Vector3{0.5f, 0, 0},
                       Vak::Matrix3());
    auto* particle = new Particle(BoneName(b));
    particle->SetPosition(0.5f, 0, 0);
    particle->SetOrientation(Vak::Quaternion(0, 0, 0.0998f, 0.995f).Normalise());
    if (b == 0) mesh->skeleton.reset(particle);
    else particles[(b - 1) / 2]->AddChild(particle);
    particles.push_back(particle);
  }
  Vak::VertexType type;
  type.Add(Vak::kItemPosition);
  type.Add(Vak::kItemNormal);
  type.Add(Vak::kItemTexCoord0);
  for (unsigned first = 0, c = 0; first < vertices; first += kChunkVertices, ++c) {
    const unsigned count = std::min(kChunkVertices, vertices - first);
    mesh->chunks.Set(c, new GeometryChunk(type, count, 0, 0, 0, 0, Vak::StandardChunkHint()));
    std::vector<InfluenceDefinition::Group> groups(kBones);
    for (auto& group : groups) group.chunk = c;
    for (unsigned v = 0; v < count; ++v) {
      const float w = weight(rng);
      const unsigned a = pick(rng), b = (a + 1 + pick(rng) % (kBones - 1)) % kBones;
      groups[a].entries.push_back({v, w, {coordinate(rng), coordinate(rng), coordinate(rng)}});
      groups[b].entries.push_back({v, 1 - w, {coordinate(rng), coordinate(rng), coordinate(rng)}});
    }
    for (unsigned b = 0; b < kBones; ++b) bones[b].AddGroup(std::move(groups[b]));
    mesh->chunkCount = c + 1;
  }
  mesh->skin.LoadInfluences(kBones, bones.data(), false, mesh->chunkCount, &mesh->chunks);
  mesh->skin.BindBones(mesh->skeleton.get());
  mesh->copy.resize(vertices);
  return mesh;
}

bool CopyPositions(SkinnedMesh& mesh) {
  Vector3* out = mesh.copy.data();
  for (unsigned c = 0; c < mesh.chunkCount; ++c) {
    GeometryChunk* chunk = mesh.chunks.Get(c);
    auto positions = chunk->GetItem<Vector3>(Vak::kItemPosition);
    for (unsigned v = 0; v < chunk->GetVertexCount(); ++v) *out++ = positions[v];
  }
  benchmark::DoNotOptimize(mesh.copy.data());
  benchmark::ClobberMemory();
  return true;
}

void BM_SoftwareSkin(benchmark::State& state) {
  const unsigned vertices = static_cast<unsigned>(state.range(0));
  std::unique_ptr<SkinnedMesh> mesh = Make(vertices);
  uint32_t frame = 0;
  const auto [copy, skin] = meshbench::TimeAgainst(state, "no frame", [&] { return CopyPositions(*mesh); },
                                                   [&] {
                                                     mesh->skin.UpdateSkin(mesh->chunkCount, &mesh->chunks,
                                                                           ++frame, 0);
                                                     benchmark::ClobberMemory();
                                                     return true;
                                                   });
  if (copy <= 0 || skin <= 0) return;
  const double n = static_cast<double>(state.iterations());
  state.counters["vertices"] = vertices;
  state.counters["skin_ms"] = skin * 1e3 / n;
  state.counters["copy_ms"] = copy * 1e3 / n;
  state.counters["ratio"] = skin / copy;
}

BENCHMARK(BM_SoftwareSkin)->Arg(5000)->Arg(50000)->Arg(500000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
