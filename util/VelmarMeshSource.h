#pragma once
// The data manager's mesh source over the mesh resource types: a mesh field's
// file is found as a resource of the asset's database, loaded for the render
// kernel, and shown through an instance whose definition answers the checks.
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/PString.h"
#include "datamanager/MeshSource.h"

namespace Vak {
class RenderKernel;
class ResourceDatabase;
} // namespace Vak

// What a loaded mesh asks of an animator: add an animation by name (results
// 0 to 4 as MeshModel::AddResult) and read the value its instance carries.
class MeshAnimator {
public:
  virtual ~MeshAnimator() = default;
  virtual int Add(const Vak::PString& name) = 0;
  virtual uint32_t GetValue(const Vak::PString& name) = 0;
};

// Makes the animator of a loaded mesh; null when there is none.
class MeshAnimatorFactory {
public:
  virtual ~MeshAnimatorFactory() = default;
  virtual std::unique_ptr<MeshAnimator> Create(Vak::RenderKernel* kernel, Vak::ResourceDatabase* database) = 0;
};

// Makes none.
class NoMeshAnimatorFactory : public MeshAnimatorFactory {
public:
  std::unique_ptr<MeshAnimator> Create(Vak::RenderKernel*, Vak::ResourceDatabase*) override { return nullptr; }
};

class VelmarMeshSource : public RUZLib::MeshSource {
public:
  // Without a factory loaded meshes have no animator.
  explicit VelmarMeshSource(MeshAnimatorFactory* animators = nullptr);
  Result Load(const Vak::PString& name, Vak::ResourceDatabase* database, Vak::RenderKernel* kernel,
              bool levelOfDetail) override;

private:
  MeshAnimatorFactory* animators_;
};
