#pragma once
// The mesh loaded for a config field while the config is checked: loaded
// through the mesh source on the main thread (posted through the job
// scheduler and awaited), hung under the data manager's scene root, with the
// lists the config checks read (textures, attachments, animations).
#include <cstdint>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "assetdb/JobScheduler.h"
#include "datamanager/MeshSource.h"
#include "engine/elthrac/Particle.h"

namespace RUZLib {

class Container;

// A job that calls a member function of an object with the poster's result
// byte.
template <typename T>
class CXCallbackCPPVoidPtr : public CXCallbackBase {
public:
  using Function = void (T::*)(bool* result);
  CXCallbackCPPVoidPtr(T* object, Function function) : object_(object), function_(function) {}
  intptr_t Run(uintptr_t argument) override {
    (object_->*function_)(reinterpret_cast<bool*>(argument));
    return 0;
  }

private:
  T* object_;
  Function function_;
};

class MeshData : public Vak::Particle {
public:
  struct Animation {
    Vak::PString name;
    uint32_t value = 0;
  };
  struct Extra {
    Vak::PString name;
  };
  // The job flags of a load: main thread only, the poster waits.
  static constexpr uint32_t kLoadFlags = 3;
  static constexpr const char* kName = "some name";

  MeshData() = default;
  ~MeshData() override;

  // Loads `path` for the container's field on the main thread; true on
  // success. Problems go to the error handler.
  bool Load(const Vak::PString& path, Container* container);
  // Adds the animation to `mesh`'s animator on the main thread.
  bool LoadAnimation(const Vak::PString& path, MeshData* mesh);

  int GetPrimitiveCount() const { return model_ ? model_->GetPrimitiveCount() : 0; }
  Vak::PString GetName() const { return Vak::PString(kName); }
  int GetTextureCount() const { return static_cast<int>(textures_.size()); }
  int GetAttachmentCount() const { return static_cast<int>(attachments_.size()); }
  int GetExtraCount() const { return static_cast<int>(extras_.size()); }
  const std::vector<MeshTextureEntry>& GetTextures() const { return textures_; }
  const std::vector<MeshAttachment>& GetAttachments() const { return attachments_; }
  const std::vector<Extra>& GetExtras() const { return extras_; }
  const std::vector<Animation>& GetAnimations() const { return animations_; }
  MeshModel* GetInstance() const { return model_.get(); }
  bool IsAnimatable() const { return animatable_; }
  bool IsLevelOfDetail() const { return levelOfDetail_; }
  const Vak::PString& GetMeshPath() const { return meshPath_; }
  const Vak::PString& GetAnimationPath() const { return animationPath_; }
  const Vak::PString& GetResourceName() const { return resourceName_; }
  Container* GetOwner() const { return owner_; }

protected:
  explicit MeshData(bool levelOfDetail) : levelOfDetail_(levelOfDetail) {}

private:
  void LoadBody(bool* result);
  void AnimationBody(bool* result);
  // The error handler's report, owned by the container when there is one.
  void ReportError(const Vak::PString& text) const;
  void BuildLists();
  void CheckTextures();
  void CheckTextureDescription(const Vak::PString& textureName);

  std::unique_ptr<MeshModel> model_;
  Vak::PString meshPath_;
  Vak::PString animationPath_;
  Vak::PString resourceName_;
  std::vector<MeshTextureEntry> textures_;
  std::vector<MeshAttachment> attachments_;
  std::vector<Extra> extras_;
  std::vector<Animation> animations_;
  MeshData* animationTarget_ = nullptr;
  Container* owner_ = nullptr;
  bool animatable_ = false;
  bool levelOfDetail_ = false;
};

class LODMeshData : public MeshData {
public:
  LODMeshData() : MeshData(true) {}
};

// The path without its first folder ("a\b\c.im" gives "b\c.im").
Vak::PString WithoutFirstFolder(const Vak::PString& path);
// The image a texture description names on a line beginning "Primary=",
// lower-cased and without its line end; false when no line names one. Every
// line counts, the last one without a line end too.
bool FindPrimaryImage(std::string_view description, std::string& image);

} // namespace RUZLib
