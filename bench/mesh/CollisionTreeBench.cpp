// Collision box trees: building one over a mesh of 10,000, 100,000 and
// 1,000,000 triangles (a height field, so that neighbours share corners and
// the weld map works as on real meshes), and segment queries against it
// against testing every triangle for the same segments. The brute force runs
// on a slice of the queries (its time per query does not depend on which);
// "ratio" is brute force / tree per query.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "assets3d/VLAxisBoxTree.h"

namespace {

using Vak::Vector3;
using Triangle = std::array<Vector3, 3>;

struct Mesh : VLAxisBoxTreeExternalGeometry {
  std::vector<Triangle> triangles;  // index = chunk * 32768 + triangle
  float size = 0;

  static uint32_t Id(std::size_t k) { return uint32_t(k / 32768) << 16 | uint32_t(k % 32768); }
  bool GetTriangle(uint32_t id, Vector3 corners[3]) const override {
    const std::size_t k = std::size_t(id >> 16) * 32768 + (id & 0xFFFF);
    for (int i = 0; i < 3; ++i) corners[i] = triangles[k][i];
    return true;
  }
};

// About `count` triangles: a square height field.
const Mesh& MeshOf(std::size_t count) {
  static std::map<std::size_t, std::unique_ptr<Mesh>> meshes;
  auto& slot = meshes[count];
  if (slot) return *slot;
  slot = std::make_unique<Mesh>();
  const unsigned n = unsigned(std::sqrt(double(count) / 2));
  std::mt19937 rng(140);
  std::uniform_real_distribution<float> height(-3, 3);
  std::vector<float> h((n + 1) * (n + 1));
  for (float& v : h) v = height(rng);
  auto at = [&](unsigned x, unsigned y) { return Vector3{float(x), float(y), h[y * (n + 1) + x]}; };
  for (unsigned y = 0; y < n; ++y)
    for (unsigned x = 0; x < n; ++x) {
      slot->triangles.push_back({at(x, y), at(x + 1, y), at(x + 1, y + 1)});
      slot->triangles.push_back({at(x, y), at(x + 1, y + 1), at(x, y + 1)});
    }
  slot->size = float(n);
  return *slot;
}

void Build(const Mesh& mesh, VLAxisBoxTree& tree) {
  tree.BeginBuild(&mesh);
  for (std::size_t k = 0; k < mesh.triangles.size(); ++k) {
    const Triangle& t = mesh.triangles[k];
    tree.AddTriangle(t[0], t[1], t[2], Mesh::Id(k));
  }
  if (!tree.FinishBuild()) std::abort();
}

// Slanted segments from above the field to below it.
std::vector<std::pair<Vector3, Vector3>> Segments(const Mesh& mesh, std::size_t count) {
  std::mt19937 rng(141);
  std::uniform_real_distribution<float> across(0, mesh.size), drift(-20, 20);
  std::vector<std::pair<Vector3, Vector3>> out;
  for (std::size_t q = 0; q < count; ++q) {
    const Vector3 start{across(rng), across(rng), 10};
    out.emplace_back(start, start + Vector3{drift(rng), drift(rng), -20});
  }
  return out;
}

void BM_CollisionTreeBuild(benchmark::State& state) {
  const Mesh& mesh = MeshOf(std::size_t(state.range(0)));
  for (auto _ : state) {
    VLAxisBoxTree tree;
    Build(mesh, tree);
    benchmark::DoNotOptimize(tree.NodeCount());
  }
  state.counters["triangles"] = double(mesh.triangles.size());
  state.counters["triangles/s"] =
      benchmark::Counter(double(mesh.triangles.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CollisionTreeBuild)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// 100,000 tree queries per iteration; the brute force over every triangle
// for as many segments as take about the same time, scaled per query.
void BM_CollisionTreeQuery(benchmark::State& state) {
  const Mesh& mesh = MeshOf(std::size_t(state.range(0)));
  VLAxisBoxTree tree;
  Build(mesh, tree);
  const auto segments = Segments(mesh, 100000);
  const std::size_t bruteCount = std::max<std::size_t>(10, 20000000 / mesh.triangles.size());
  double treeSeconds = 0, bruteSeconds = 0;
  std::size_t treeQueries = 0, bruteQueries = 0, hits = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (const auto& [a, b] : segments) {
      VLAxisBoxTree::RayResult r;
      hits += tree.RayQuery(a, b, r);
    }
    auto t1 = std::chrono::steady_clock::now();
    for (std::size_t q = 0; q < bruteCount; ++q) {
      const auto& [a, b] = segments[q];
      float best = VLAxisBoxTree::kFar;
      for (const Triangle& t : mesh.triangles) {
        float fraction;
        Vector3 point;
        if (VLAxisBoxTree::SegmentHitsTriangle(a, b, t.data(), fraction, point) && fraction < best) best = fraction;
      }
      benchmark::DoNotOptimize(best);
    }
    auto t2 = std::chrono::steady_clock::now();
    treeSeconds += std::chrono::duration<double>(t1 - t0).count();
    bruteSeconds += std::chrono::duration<double>(t2 - t1).count();
    treeQueries += segments.size();
    bruteQueries += bruteCount;
  }
  const double treePer = treeSeconds / double(treeQueries), brutePer = bruteSeconds / double(bruteQueries);
  state.counters["tree_us_per_query"] = treePer * 1e6;
  state.counters["brute_us_per_query"] = brutePer * 1e6;
  state.counters["ratio"] = brutePer / treePer;
  state.counters["hit_share"] = double(hits) / double(treeQueries);
}
BENCHMARK(BM_CollisionTreeQuery)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
