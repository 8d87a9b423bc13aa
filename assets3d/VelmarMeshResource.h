#pragma once
// What a mesh definition asks of the resource that loads it, beyond what
// every resource has. The mesh resource types derive from it; tests fake it.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Cindrel/Resource.h"

// One option of a config group "Mesh": its value and whether it was given.
struct MeshGeometryOption {
  uint8_t value = 0;
  uint8_t isSet = 0;
  bool SetAndTrue() const { return isSet != 0 && value != 0; }
};

struct MeshGeometryOptions {
  MeshGeometryOption softwareLighting;
  MeshGeometryOption softwareAnimation;
  MeshGeometryOption dynamicVertex;
  MeshGeometryOption dynamicIndex;
  MeshGeometryOption hardwareAnimationFloatPrecision;
};

class VelmarMeshResource : public Vak::Resource {
public:
  using Vak::Resource::Resource;

  virtual const MeshGeometryOptions& GetGeometryOptions() const = 0;
  // Whether a material that cannot be had may be replaced by the manager's
  // fall-back material.
  virtual bool AllowsMaterialFallBack() const = 0;
  // Keeps a material name that could not be had, for the report.
  virtual void AddFailedMaterialName(const Vak::PString& name) = 0;
};
