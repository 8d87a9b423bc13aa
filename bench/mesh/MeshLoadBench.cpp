// Loading an indexed mesh file through the reader, against reading the same
// bytes into memory. Files of 10,000, 100,000 and 400,000 vertices (chunks
// of a 100 x 100 grid) are written once by the tests' IDXM builder.
//
// Each iteration reads the file plainly, then loads it, as a fresh process
// would: a new definition, display, material manager and resource, fresh
// buffers, the file opened and read through Vak::File each time. The plain
// read is the least any loader pays for the same bytes on the same path: the
// file opened, a buffer of its size allocated, its bytes read in. The
// iteration's time is the load's; the counters give both rates and their
// ratio (load time / plain read time). Large blocks come fresh from the
// system each time (bench/mesh/MeshBench.h).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "bench/mesh/MeshBench.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"

namespace {

// The file of `chunks` grid chunks, written once per size.
const std::string& MeshPath(int chunks) {
  static std::string paths[64];
  std::string& path = paths[chunks];
  if (path.empty()) {
    std::vector<meshtest::ChunkGroup> groups(chunks);
    for (meshtest::ChunkGroup& g : groups) g.geometry = meshtest::Grid(100);
    path = (std::filesystem::temp_directory_path() / ("meshbench-" + std::to_string(chunks) + ".im")).string();
    std::ofstream(path, std::ios::binary) << meshtest::IdxmFile(groups);
  }
  return path;
}

bool Load(const std::string& path) {
  Vak::Display display;
  Vak::MaterialManager manager;
  meshbench::BenchResource resource;
  VelmarIndexedMeshDefinition definition;
  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok() || !definition.GetMemoryFile().Open(file, false, 0))
    return false;
  file.Close();
  unsigned long result = 0;
  definition.ReadMeshFile(&result, &display, &manager, &resource, path.c_str(), 0xFFFFFFFFu);
  benchmark::DoNotOptimize(definition.GetTextureScale());
  return result == 0;
}

void BM_MeshLoad(benchmark::State& state) {
  const int chunks = static_cast<int>(state.range(0));
  const std::string& path = MeshPath(chunks);
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  const auto [read, load] = meshbench::TimeAgainst(state, "the mesh file did not load",
                                                   [&] { return meshbench::PlainRead(path); },
                                                   [&] { return Load(path); });
  if (read <= 0 || load <= 0) return;
  const double n = static_cast<double>(state.iterations());
  state.counters["vertices"] = chunks * 10000.0;
  state.counters["MB"] = megabytes;
  state.counters["load_MBps"] = megabytes * n / load;
  state.counters["read_MBps"] = megabytes * n / read;
  state.counters["ratio"] = load / read;
}

BENCHMARK(BM_MeshLoad)->Arg(1)->Arg(10)->Arg(40)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
