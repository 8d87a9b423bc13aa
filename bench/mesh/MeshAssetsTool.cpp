// Writes scenery assets for bench/util/validate-mesh.sh:
//   mesh_assets_bench_tool <folder> <count>
// <folder>/assetNNNNN holds a config whose mesh table names "body.im" (KUIDs
// <kuid:414141:1> up) and that mesh: one chunk of a 100 x 100 grid, 10,000
// vertices, laid out by the tests' IDXM builder. Every asset's mesh is the
// same file; the reader keeps nothing from one asset to the next.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/assets3d/mesh/IdxmBuilder.h"

namespace {

bool Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) < 1) {
    std::fprintf(stderr, "usage: mesh_assets_bench_tool <folder> <count>\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const int count = std::atoi(argv[2]);
  meshtest::ChunkGroup grid;
  grid.geometry = meshtest::Grid(100);
  const std::string mesh = meshtest::IdxmFile({grid});
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "asset%05d", n);
    const std::filesystem::path folder = root / name;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string config = "kuid <kuid:414141:" + std::to_string(n + 1) +
                               ">\r\nkind \"scenery\"\r\nusername \"bench mesh asset " + std::to_string(n) +
                               "\"\r\nvelmar-build 3.1\r\ncategory-region \"AU\"\r\n"
                               "mesh-table\r\n{\r\n  default\r\n  {\r\n    mesh \"body.im\"\r\n    auto-create 1\r\n"
                               "  }\r\n}\r\n";
    if (!Write(folder / "config.txt", config) || !Write(folder / "body.im", mesh)) return 1;
  }
  std::printf("%d assets, meshes of %zu bytes\n", count, mesh.size());
  return 0;
}
