#include "assets3d/TextureConversion.h"
#include "assets3d/VelmarGeometryBaseResource.h"
#include "util/Program.h"

// The plug-in system finds the program's own resource types here (the library
// "*" of "plugins.ini").
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() {
  RegisterMeshResourceTypes();
  RegisterTextureResourceTypes();
}

int main(int argc, char** argv) { return VelmarUtilMain(argc, argv); }
