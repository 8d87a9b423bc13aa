#include "datamanager/MeshData.h"

#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Path.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/TextHelpers.h"
#include "datamanager/DataManager.h"
#include "datamanager/ErrorHandler.h"
#include "datamanager/FormTemplate.h"
#include "engine/dorvix/RenderKernel.h"

namespace RUZLib {

namespace {

constexpr unsigned kDescriptionLineLength = 512;
constexpr std::string_view kPrimary = "Primary=";

MeshSource& Source() { return DataManager::GetMeshSource(); }

std::string Lower(std::string text) {
  for (char& c : text) c = Vak::CodePage::AsciiLower(c);
  return text;
}

// Database root + content folder, as a folder path.
Vak::File::Path ContentRoot() {
  Vak::File::Path path = GetDatabaseRootPath();
  if (DataManager* manager = DataManager::TryInstance()) {
    const Vak::PString folder = manager->GetContentFolder();
    if (!(folder == Vak::PString(static_cast<const char*>(path)))) path.AddPath(folder.c_str());
  }
  return path;
}

} // namespace

Vak::PString WithoutFirstFolder(const Vak::PString& path) {
  const std::string text = path.c_str();
  const std::size_t cut = text.find_first_of("\\/");
  if (cut == std::string::npos) return path;
  return Vak::PString(text.c_str() + cut + 1);
}

bool FindPrimaryImage(std::string_view description, std::string& image) {
  for (std::string_view line : FormTemplatePieces(description, kDescriptionLineLength)) {
    if (line.substr(0, kPrimary.size()) != kPrimary) continue;
    image.assign(line.substr(kPrimary.size()));
    TrimLineEnd(image);
    image = Lower(std::move(image));
    return true;
  }
  return false;
}

MeshData::~MeshData() {
  model_.reset();
  DeleteChildren();
  Unmark(kMarkCurrent);
}

bool MeshData::Load(const Vak::PString& path, Container* container) {
  owner_ = container;
  meshPath_ = path;
  bool result = false;
  JobScheduler::Instance().Post(new CXCallbackCPPVoidPtr<MeshData>(this, &MeshData::LoadBody), kLoadFlags,
                                reinterpret_cast<uintptr_t>(&result));
  return result;
}

bool MeshData::LoadAnimation(const Vak::PString& path, MeshData* mesh) {
  animationPath_ = path;
  animationTarget_ = mesh ? mesh : this;
  bool result = false;
  JobScheduler::Instance().Post(new CXCallbackCPPVoidPtr<MeshData>(this, &MeshData::AnimationBody), kLoadFlags,
                                reinterpret_cast<uintptr_t>(&result));
  return result;
}

void MeshData::ReportError(const Vak::PString& text) const {
  ErrorHandler* handler = ErrorHandler::Instance();
  if (!handler) return;
  if (owner_) {
    handler->ContainerError(text, owner_);
  } else {
    handler->Error(text);
  }
}

void MeshData::LoadBody(bool* result) {
  *result = false;
  DataManager* manager = DataManager::TryInstance();
  if (!manager) return;
  const Vak::PString shown = WithoutFirstFolder(meshPath_);
  resourceName_ = meshPath_;
  LowerCasePString(resourceName_);

  MeshSource::Result found =
      Source().Load(resourceName_, manager->GetResourceDatabase(), manager->GetRenderKernel(), levelOfDetail_);
  if (found.kind == MeshSource::Kind::kProgressive && !levelOfDetail_) {
    *result = true;
    return;
  }
  if (found.kind == MeshSource::Kind::kGeometry) {
    if (found.loadFailed || !found.model || !found.model->IsExpectedInstance()) {
      if (owner_) ReportError(manager->Format(Msg::kMeshLoadFailed, shown));
      return;
    }
    model_ = std::move(found.model);
    animatable_ = true;
    if (ErrorHandler* handler = ErrorHandler::Instance())
      handler->Trace(manager->Format(Msg::kMeshLoaded).c_str(), nullptr);
    BuildLists();
    CheckTextures();
    attachments_ = model_->GetAttachments();
    *result = true;
    return;
  }
  const bool silent = found.kind == MeshSource::Kind::kNone && (!owner_ || manager->meshAssetSeen);
  if (!silent) ReportError(manager->Format(Msg::kMeshResourceMissing, shown));
}

void MeshData::BuildLists() {
  textures_ = model_->GetTextures();
  for (MeshTextureEntry& entry : textures_) {
    const char* name = entry.fileName.c_str();
    const char* slash = std::strrchr(name, '/');
    if (slash) entry.fileName = Vak::PString(slash + 1);
  }
}

void MeshData::CheckTextures() {
  DataManager* manager = DataManager::TryInstance();
  const Vak::File::Path root = ContentRoot();
  Vak::File::Path assetFolder = root;
  assetFolder.AddPath(manager->GetCurrentAssetFolder().c_str());
  for (const Vak::PString& name : model_->GetUnresolvedNames()) {
    Vak::File::Path placed = root;
    placed.AddPath(name.c_str());
    Vak::File::Path relative = placed;
    if (!relative.MakeRelativeTo(assetFolder)) relative = name.c_str();
    ReportError(manager->Format(Msg::kUnresolvedMeshName, static_cast<const char*>(relative), resourceName_));
  }
  Vak::TextureCollection& textures = manager->GetRenderKernel()->GetTextureCollection();
  for (const std::vector<Vak::PString>& material : model_->GetMaterialTextureNames()) {
    for (const Vak::PString& name : material) {
      CheckTextureDescription(name);
      Vak::Texture* texture = textures.Find(name, manager->GetResourceDatabase());
      if (!texture) {
        ReportError(manager->Format(Msg::kTextureMissing, name));
        continue;
      }
      texture->ReleaseReference();
    }
  }
}

void MeshData::CheckTextureDescription(const Vak::PString& textureName) {
  Vak::File::Path description = ContentRoot();
  description.AddPath(textureName.c_str());
  if (IsExtension(textureName.c_str(), "texture")) {
    description.Add(".txt");
  } else if (!IsExtension(textureName.c_str(), "txt")) {
    return;
  }
  std::string bytes;
  if (Vak::File::Exists(description) != Vak::File::RES_OK || !ReadFileBytes(description, bytes)) return;
  std::string image;
  if (!FindPrimaryImage(bytes, image)) return;
  Vak::File::Path imagePath = description;
  imagePath.DelName(false);
  imagePath.Add(image.c_str());
  if (Vak::File::Exists(imagePath) == Vak::File::RES_OK) return;
  ReportError(DataManager::Instance()->Format(Msg::kTextureMissing, static_cast<const char*>(imagePath)));
}

void MeshData::AnimationBody(bool* result) {
  *result = false;
  DataManager* manager = DataManager::TryInstance();
  if (!manager) return;
  MeshData* target = animationTarget_ ? animationTarget_ : this;
  if (!target->model_ || !target->animatable_) {
    ReportError(manager->Format(Msg::kAnimationWithoutAnimator, animationPath_));
    return;
  }
  Vak::PString name = animationPath_;
  LowerCasePString(name);
  switch (target->model_->AddAnimation(name)) {
    case MeshModel::kAddFailed2: ReportError(manager->Format(Msg::kAnimationResult2, name)); return;
    case MeshModel::kAddFailed3: ReportError(manager->Format(Msg::kAnimationResult3, name)); return;
    case MeshModel::kAddFailed4: ReportError(manager->Format(Msg::kAnimationResult4, name)); return;
    default: break;
  }
  target->animations_.push_back({name, target->model_->GetAnimationValue(name)});
  if (ErrorHandler* handler = ErrorHandler::Instance())
    handler->Trace(manager->Format(Msg::kAnimationAdded).c_str(), nullptr);
  *result = true;
}

} // namespace RUZLib
