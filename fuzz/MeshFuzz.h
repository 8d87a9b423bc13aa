#pragma once
// What the mesh-reader targets share: a resource that answers, a display
// that skins in hardware, and a material manager that always supplies.
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "assets3d/VelmarMeshResource.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"

namespace fuzz {

class MeshResource final : public VelmarMeshResource {
public:
  MeshResource() : VelmarMeshResource("meshes\\fuzz.im", nullptr) {}
  const MeshGeometryOptions& GetGeometryOptions() const override { return options; }
  bool AllowsMaterialFallBack() const override { return true; }
  void AddFailedMaterialName(const Vak::PString&) override {}

  MeshGeometryOptions options;
};

struct MeshReaderParts {
  Vak::Display display;
  Vak::MaterialManager manager;
  MeshResource resource;

  // The input's length picks the weight form, so both lanes are reached.
  explicit MeshReaderParts(size_t size) {
    display.SetCapability(26, true);
    resource.options.hardwareAnimationFloatPrecision = {static_cast<uint8_t>(size & 1), 1};
  }
};

// Whether every index of every level's chunks lies inside its chunk.
inline bool LevelIndicesInside(const VelmarIndexedMeshLODDefinition& definition) {
  for (unsigned l = 0; l < definition.GetLevelCount(); ++l) {
    const auto* chunks = definition.GetLevel(l).chunks;
    for (unsigned c = 0; chunks != nullptr && c < chunks->Count(); ++c) {
      const Vak::GeometryChunk* chunk = chunks->Get(c);
      for (unsigned i = 0; chunk != nullptr && i < chunk->GetIndexCount(); ++i)
        if (chunk->GetIndices()[i] >= chunk->GetVertexCount()) return false;
    }
  }
  return true;
}

}  // namespace fuzz
