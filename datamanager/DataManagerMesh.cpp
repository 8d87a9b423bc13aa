// The data manager's part in mesh loading: which object a field's file name
// makes, and what it does with the loaded object.
#include <algorithm>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/Path.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/Container.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/MeshData.h"
#include "engine/elthrac/ParallelLight.h"

namespace RUZLib {

namespace {

NoMeshSource gNoMeshSource;
MeshSource* gMeshSource = nullptr;
DataManager::TagFileNameFunction gTagFileName = nullptr;

// Kinds whose level-of-detail meshes are not judged by these checks.
constexpr const char* kUncheckedLevelOfDetailKinds[] = {"traincar", "bogey", "interior", "pantograph",
                                                       "drivercharacter"};
constexpr int kFewPrimitives = 300;
// Builds are compared in hundredths; above this the progressive mesh is an
// error.
constexpr int kProgressiveErrorBuild = 289;

} // namespace

void DataManager::SetMeshSource(MeshSource* source) { gMeshSource = source; }

MeshSource& DataManager::GetMeshSource() { return gMeshSource ? *gMeshSource : gNoMeshSource; }

void DataManager::SetTagFileNameFunction(TagFileNameFunction function) { gTagFileName = function; }

bool DataManager::IsFileReferenced(const Vak::PString& fileName, const Vak::PString& listName) {
  auto list = referenceLists_.find(listName);
  if (list != referenceLists_.end() && gTagFileName) {
    for (Tag* tag : list->second)
      if (gTagFileName(tag) == fileName) return true;
  }
  auto children = containerReferences_.find(listName);
  if (children != containerReferences_.end()) {
    for (Container* child : children->second)
      if (child->name == fileName) return true;
  }
  for (const auto& [container, object] : loadedObjects_) {
    for (const MeshTextureEntry& entry : object->GetTextures())
      if (entry.fileName == fileName) return true;
  }
  return false;
}

void DataManager::Register(MeshData* object, Container* container) {
  if (currentObject_) currentObject_->Unmark(Vak::Particle::kMarkCurrent);
  auto earlier = loadedObjects_.find(container);
  if (earlier != loadedObjects_.end()) {
    if (currentObject_ == earlier->second) currentObject_ = nullptr;
    delete earlier->second;
    loadedObjects_.erase(earlier);
  }
  currentObject_ = object;
  if (root_) root_->AddChild(object);
  object->Mark(Vak::Particle::kMarkCurrent);
  loadedObjects_[container] = object;
  NotifyUniqueItemsChanged();
  NotifyItemsChanged();
  Reserved(container);
  if (MeshModel* model = object->GetInstance()) model->ApplyLight(light_);
}

void DataManager::LevelOfDetailChecks(MeshData* object, Container* container, const Vak::PString& path) {
  const Vak::PString kind = ContainerKind(container);
  for (const char* unchecked : kUncheckedLevelOfDetailKinds)
    if (std::strcmp(kind.c_str(), unchecked) == 0) return;
  Vak::PString shown = path;
  const unsigned cut = currentAssetFolder_.Length() + 1;
  if (shown.Length() > cut) shown = Vak::PString(path.c_str() + cut);
  ErrorHandler* handler = ErrorHandler::Instance();
  if (!handler) return;
  if (object->GetTextureCount() == 0 && object->GetAnimations().empty())
    handler->ContainerWarning(Format(Msg::kNoTexturesOrAnimations, shown), container);
  MeshModel* model = object->GetInstance();
  if (!model) return;
  const int levels = model->GetLevelCount();
  if (levels == 1) handler->ContainerWarning(Format(Msg::kSingleLevel, shown), container);
  model->SetLevel(levels - 1);
  if (object->GetPrimitiveCount() < kFewPrimitives)
    handler->ContainerWarning(Format(Msg::kFewPrimitives, shown), container);
}

MeshData* DataManager::LoadMeshForField(const Vak::PString& fileName, Container* container) {
  if (fileName.Length() == 0) return nullptr;
  Vak::File::Path path(fileName.c_str());
  if (!path.GetExt()) return nullptr;
  if (IsAbsolutePath(path)) {
    Vak::File::Path base = GetDatabaseRootPath();
    if (topContentFolder_.Length() > 0) base.AddPath(topContentFolder_.c_str());
    base.ReplaceForwardSlashes();
    path.ReplaceForwardSlashes();
    path.MakeRelativeTo(base);
  }
  path.ReplaceForwardSlashes();
  const Vak::PString name(static_cast<const char*>(path));
  ErrorHandler* handler = ErrorHandler::Instance();

  auto loadAndRegister = [&](MeshData* object) -> MeshData* {
    if (!object->Load(name, container)) {
      meshFailureReported = true;
      delete object;
      return nullptr;
    }
    Register(object, container);
    return currentObject_;
  };

  if (path.IsExt("im")) return loadAndRegister(new MeshData());
  if (path.IsExt("lm")) {
    MeshData* object = loadAndRegister(new LODMeshData());
    if (object) LevelOfDetailChecks(object, container, name);
    return object;
  }
  if (path.IsExt("pm")) {
    meshFailureReported = true;
    if (handler) {
      const Vak::PString text = Format(Msg::kProgressiveMesh);
      if (BuildHundredths(currentBuild, kBuildBiasDouble) > kProgressiveErrorBuild) {
        handler->ContainerError(text, container);
      } else {
        handler->ContainerWarning(text, container);
      }
    }
    MeshData temporary;
    temporary.Load(name, container);
    return nullptr;
  }
  if (path.IsExt("kin")) {
    if (currentObject_ && currentObject_->IsAnimatable()) {
      currentObject_->LoadAnimation(name, currentObject_);
    } else if (!meshFailureReported && !meshAssetSeen) {
      meshFailureReported = true;
      if (handler) handler->ContainerError(Format(Msg::kAnimationWithoutMesh, name), container);
    }
    return nullptr;
  }
  if (path.IsExt("txt")) {
    Vak::File::Path inner = path;
    inner.SetExt(nullptr);
    if (inner.IsExt("lm")) return loadAndRegister(new LODMeshData());
    return nullptr;
  }
  return nullptr;
}

} // namespace RUZLib
