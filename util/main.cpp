#include "assets3d/TextureConversion.h"
#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/materials/VelmarMaterialPlugins.h"
#include "util/Program.h"

// The plug-in system finds the program's own material plug-ins and resource
// types here (the library "*" of "plugins.ini").
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() {
  Vak::RegisterMaterialPlugins();
  RegisterMeshResourceTypes();
  RegisterTextureResourceTypes();
}

int main(int argc, char** argv) { return VelmarUtilMain(argc, argv); }
