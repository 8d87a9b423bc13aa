#pragma once
// The data manager's mesh source over the mesh resource types: a mesh field's
// file is found as a resource of the asset's database, loaded for the render
// kernel, and shown through an instance whose definition answers the checks;
// its animations go to the engine's animator over the mesh's skeleton.
#include "Vak/Bexlorn/PString.h"
#include "datamanager/MeshSource.h"

namespace Vak {
class RenderKernel;
class ResourceDatabase;
} // namespace Vak

class VelmarMeshSource : public RUZLib::MeshSource {
public:
  Result Load(const Vak::PString& name, Vak::ResourceDatabase* database, Vak::RenderKernel* kernel,
              bool levelOfDetail) override;
};
