#include "assets3d/TextureConversion.h"
#include "util/Program.h"

// The plug-in system finds the program's own resource types here (the library
// "*" of "plugins.ini").
extern "C" __attribute__((visibility("default"))) void VakGetPlugins() { RegisterTextureResourceTypes(); }

int main(int argc, char** argv) { return VelmarUtilMain(argc, argv); }
