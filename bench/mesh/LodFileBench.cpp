// Level-of-detail mesh files: reading one through the reader against reading
// its bytes, and writing one through the writer against writing as many
// bytes. The file has four levels of `chunks` grid chunks of 100 x 100
// vertices each (40,000 and 400,000 vertices in all); it is made once per
// size by the tests' LODM builder, loaded, and written again by our own
// writer, whose output is what both benchmarks use.
//
// Read: each iteration reads the file plainly, then loads it as a fresh
// process would (new definition, display, material manager and resource;
// the reader opens the file itself). Write: each iteration writes a buffer
// of the file's size to a new file, then writes the loaded definition to a
// new file. The iteration's time is ours; "ratio" is ours / reference.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "bench/BenchScratch.h"
#include "bench/mesh/MeshBench.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "tests/assets3d/mesh/LodmBuilder.h"

namespace {

struct Loaded {
  Vak::Display display;
  Vak::MaterialManager manager;
  meshbench::BenchResource resource{"meshes\\bench.lm"};
  VelmarIndexedMeshLODDefinition definition;

  bool Read(const std::string& path) {
    unsigned long result = 99;
    definition.ReadMeshFile(&result, &display, &manager, &resource, path.c_str(), 0xFFFFFFFFu);
    return result == 0;
  }
  bool Write(const std::string& path) {
    Vak::File file;
    if (!file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
    unsigned long result = 99;
    definition.WriteMeshFile(&result, file);
    file.Close();
    return result == 0;
  }
};

// The file our writer made of four levels of `chunks` grid chunks; empty
// when it could not be made.
const std::string& LodPath(int chunks) {
  static std::map<int, std::string> paths;
  std::string& path = paths[chunks];
  if (path.empty()) {
    meshtest::Lodm m = meshtest::LevelsAt({0, 100, 200, 400});
    for (meshtest::Level& level : m.levels) level.chunks.assign(chunks, meshtest::LevelChunk{0, meshtest::Grid(100)});
    const std::string built = bench::ScratchPath("built-" + std::to_string(chunks) + ".lm");
    std::ofstream(built, std::ios::binary) << meshtest::LodmFile(m);
    Loaded loaded;
    const std::string written = bench::ScratchPath("lod-" + std::to_string(chunks) + ".lm");
    if (loaded.Read(built) && loaded.Write(written)) path = written;
  }
  return path;
}

bool PlainWrite(const std::string& path, const std::string& bytes) {
  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
  const bool whole = file.Write(bytes.data(), bytes.size(), 1) == bytes.size();
  file.Close();
  return whole;
}

void Report(benchmark::State& state, int chunks, std::pair<double, double> times) {
  if (times.first <= 0 || times.second <= 0) return;
  state.counters["vertices"] = 4 * chunks * 10000.0;
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(LodPath(chunks))) / 1e6;
  state.counters["ratio"] = times.second / times.first;
}

void BM_LodRead(benchmark::State& state) {
  const int chunks = static_cast<int>(state.range(0));
  const std::string& path = LodPath(chunks);
  if (path.empty()) return state.SkipWithError("the bench file could not be made");
  Report(state, chunks,
         meshbench::TimeAgainst(state, "the file did not load", [&] { return meshbench::PlainRead(path); },
                                [&] { return std::make_unique<Loaded>()->Read(path); }));
}

void BM_LodWrite(benchmark::State& state) {
  const int chunks = static_cast<int>(state.range(0));
  const std::string& path = LodPath(chunks);
  Loaded loaded;
  if (path.empty() || !loaded.Read(path)) return state.SkipWithError("the bench file could not be made");
  const std::string bytes(std::filesystem::file_size(path), 'x');
  const std::string target = bench::ScratchPath("out-" + std::to_string(chunks) + ".lm");
  Report(state, chunks,
         meshbench::TimeAgainst(state, "the file could not be written", [&] { return PlainWrite(target, bytes); },
                                [&] { return loaded.Write(target); }));
}

BENCHMARK(BM_LodRead)->Arg(1)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodWrite)->Arg(1)->Arg(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
