// Loading an indexed mesh file through the reader, against reading the same
// bytes into memory. Files of 10,000, 100,000 and 400,000 vertices (chunks of
// a 100 x 100 grid) are made fresh by the tests' IDXM builder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshDefinition.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "engine/kernelx/WholeFile.h"
#include "tests/assets3d/mesh/IdxmBuilder.h"

namespace {

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

void BM_ReadMeshFile(benchmark::State& state) {
  const std::string& path = MeshPath(static_cast<int>(state.range(0)));
  Vak::Display display;
  Vak::MaterialManager manager;
  BenchResource resource;
  for (auto _ : state) {
    VelmarIndexedMeshDefinition definition;
    Vak::File file;
    if (!file.Open(path.c_str(), Vak::File::kRead).Ok() || !definition.GetMemoryFile().Open(file, false, 0)) {
      state.SkipWithError("cannot read the mesh file");
      break;
    }
    file.Close();
    unsigned long result = 0;
    definition.ReadMeshFile(&result, &display, &manager, &resource, path.c_str(), 0xFFFFFFFFu);
    if (result != 0) {
      state.SkipWithError("the mesh file did not load");
      break;
    }
    benchmark::DoNotOptimize(definition.GetTotalVertices());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}

void BM_PlainRead(benchmark::State& state) {
  const std::string& path = MeshPath(static_cast<int>(state.range(0)));
  std::string bytes;
  for (auto _ : state) {
    if (!Vak::ReadWholeFile(path.c_str(), bytes)) {
      state.SkipWithError("cannot read the mesh file");
      break;
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

BENCHMARK(BM_ReadMeshFile)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);

} // namespace
