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
// ratio (load time / plain read time).
//
// A process starts with no freed memory to reuse: every block of 128 KiB or
// more comes from the system here too (glibc would otherwise raise that
// threshold after the first free and hand both sides warm pages).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

class BenchResource final : public VelmarMeshResource {
public:
  BenchResource() : VelmarMeshResource("meshes\\bench.im", nullptr) {}
  const MeshGeometryOptions& GetGeometryOptions() const override { return options_; }
  bool AllowsMaterialFallBack() const override { return false; }
  void AddFailedMaterialName(const Vak::PString&) override {}

private:
  MeshGeometryOptions options_;
};

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

bool PlainRead(const std::string& path) {
  Vak::File file;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok()) return false;
  const uint32_t size = file.Size();
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  const bool whole = file.Read(bytes.get(), size, 1) == size;
  benchmark::DoNotOptimize(bytes.get());
  file.Close();
  return whole;
}

bool Load(const std::string& path) {
  Vak::Display display;
  Vak::MaterialManager manager;
  BenchResource resource;
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

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

const bool kFreshBlocks = mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;

void BM_MeshLoad(benchmark::State& state) {
  if (!kFreshBlocks) state.SkipWithError("cannot fix the allocation threshold");
  const int chunks = static_cast<int>(state.range(0));
  const std::string& path = MeshPath(chunks);
  const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  double read = 0, load = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    if (!PlainRead(path)) {
      state.SkipWithError("cannot read the mesh file");
      break;
    }
    const Clock::time_point middle = Clock::now();
    if (!Load(path)) {
      state.SkipWithError("the mesh file did not load");
      break;
    }
    const Clock::time_point end = Clock::now();
    read += Seconds(start, middle);
    load += Seconds(middle, end);
    state.SetIterationTime(Seconds(middle, end));
  }
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
