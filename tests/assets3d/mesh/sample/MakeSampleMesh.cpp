// Writes the sample installation's mesh, data/samples/brickshed.im: one
// textured quad naming the sample texture "brick.texture". scripts/sample-install
// copies it into a sample scenery asset, since a shell script cannot lay out
// a mesh. Remake it after a change to the builder or the recipe:
//   cmake --build --preset dev --target MakeSampleMesh &&
//   build/dev/tests/assets3d/mesh/MakeSampleMesh data/samples/brickshed.im
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/assets3d/mesh/IdxmBuilder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeSampleMesh <mesh file>\n");
    return 2;
  }
  using namespace meshtest;
  ChunkGroup wall = QuadGroup();
  wall.geometry.name = "wall";
  wall.material.name = "brick";
  wall.material.textures = {Texture{0, "brick.texture", 1}};
  const std::string bytes = IdxmFile({wall});
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %zu bytes\n", argv[1], bytes.size());
  return 0;
}
