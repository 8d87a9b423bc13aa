#include "assets3d/MeshFile.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"

unsigned long* VelmarIndexedMeshLODDefinition::ReadLODDescription(unsigned long* result, Vak::Display*,
                                                                  Vak::MaterialManager*, VelmarMeshResource*,
                                                                  const char*, uint32_t) {
  *result = MeshFile::kMalformed;
  return result;
}
