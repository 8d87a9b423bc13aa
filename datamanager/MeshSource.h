#pragma once
// What the data manager needs of the 3-D formats' mesh resources, definitions
// and instances: find a mesh resource by name, load it, and ask the loaded
// mesh about its textures, levels, attachments and animations. The 3-D
// formats implement it; until they do, the built-in source finds nothing.
#include <cstdint>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {
class ParallelLight;
class RenderKernel;
class ResourceDatabase;
} // namespace Vak

namespace RUZLib {

// One texture record of a mesh definition: eleven words of its own and the
// texture's file name.
struct MeshTextureEntry {
  uint32_t words[11] = {};
  Vak::PString fileName;
};

struct MeshAttachment {
  Vak::PString name;
  float x = 0, y = 0, z = 0;
};

// A loaded mesh: its instance with its definition and, once made, its
// animator.
class MeshModel {
public:
  // Animator add results.
  enum AddResult { kAdded = 0, kAddedAgain = 1, kAddFailed2 = 2, kAddFailed3 = 3, kAddFailed4 = 4 };

  virtual ~MeshModel() = default;
  // The instance is of the kind the loader asked for (indexed or
  // level-of-detail).
  virtual bool IsExpectedInstance() const = 0;
  virtual int GetPrimitiveCount() const = 0;
  virtual int GetLevelCount() const = 0;
  virtual void SetLevel(int level) = 0;
  // The definition's texture records, names as the definition holds them.
  virtual std::vector<MeshTextureEntry> GetTextures() const = 0;
  // Names the definition could not resolve.
  virtual std::vector<Vak::PString> GetUnresolvedNames() const = 0;
  // The texture names of each material of the definition.
  virtual std::vector<std::vector<Vak::PString>> GetMaterialTextureNames() const = 0;
  virtual std::vector<MeshAttachment> GetAttachments() const = 0;
  // Hands the light to the instance's light-target part (null: none).
  virtual void ApplyLight(Vak::ParallelLight* light) = 0;
  // Adds an animation by its lower-case name to the animator.
  virtual int AddAnimation(const Vak::PString& name) = 0;
  // The value an animation instance of that name carries.
  virtual uint32_t GetAnimationValue(const Vak::PString& name) = 0;
};

class MeshSource {
public:
  enum class Kind { kNone, kProgressive, kGeometry, kOther };
  struct Result {
    Kind kind = Kind::kNone;
    bool loadFailed = false;             // a geometry resource that did not load
    std::unique_ptr<MeshModel> model;  // a loaded geometry resource's instance
  };

  virtual ~MeshSource() = default;
  // The resource `name` (lower case) of the database, loaded as an indexed
  // or a level-of-detail mesh.
  virtual Result Load(const Vak::PString& name, Vak::ResourceDatabase* database, Vak::RenderKernel* kernel,
                      bool levelOfDetail) = 0;
};

// Finds no resource.
class NoMeshSource : public MeshSource {
public:
  Result Load(const Vak::PString&, Vak::ResourceDatabase*, Vak::RenderKernel*, bool) override { return {}; }
};

} // namespace RUZLib
