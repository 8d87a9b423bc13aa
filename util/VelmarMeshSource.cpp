#include "util/VelmarMeshSource.h"

#include <cstring>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assets3d/VelmarGeometryBaseResource.h"
#include "assets3d/VelmarIndexedMeshInstance.h"
#include "assets3d/VelmarIndexedMeshLODInstance.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/fyrmond/Animator.h"

namespace {

// The names the mesh's skeleton answers to, root first.
void CollectBoneNames(const Vak::Particle* bone, std::vector<Vak::PString>& names) {
  if (bone == nullptr) return;
  names.push_back(bone->GetName());
  for (const Vak::Particle* child : bone->Children()) CollectBoneNames(child, names);
}

// A loaded mesh: one use of its resource, its instance and its animator.
class VelmarMeshModel : public RUZLib::MeshModel {
public:
  VelmarMeshModel(VelmarGeometryBaseResource* resource, VelmarIndexedMeshInstance* instance, bool levelOfDetail,
                  std::unique_ptr<Vak::Animator> animator)
      : resource_(resource),
        instance_(instance),
        levels_(dynamic_cast<VelmarIndexedMeshLODInstance*>(instance)),
        levelOfDetail_(levelOfDetail),
        animator_(std::move(animator)) {}
  ~VelmarMeshModel() override {
    delete instance_;
    // A mesh is loaded for one check; kept, every asset's of a batch would
    // stay in memory to the end of the run.
    resource_->ReleaseAndDrop();
  }

  bool IsExpectedInstance() const override { return levelOfDetail_ ? levels_ != nullptr : instance_ != nullptr; }
  int GetPrimitiveCount() const override {
    if (levels_) return levels_->GetLevelPrimitiveCount(levels_->GetLevel());
    return instance_ ? instance_->GetPrimitiveCount() : 0;
  }
  int GetLevelCount() const override { return levels_ ? levels_->GetLevelCount() : 1; }
  void SetLevel(int level) override {
    if (levels_) levels_->SetLevel(level);
  }

  // Each MATL texture {kind, name, value} fills a record: word 0 the kind,
  // word 1 the value's bits, word 2 the material's index, word 3 the
  // texture's index in it; the rest stay 0.
  std::vector<RUZLib::MeshTextureEntry> GetTextures() const override {
    std::vector<RUZLib::MeshTextureEntry> entries;
    for (unsigned m = 0; m < Materials()->Count(); ++m) {
      const std::vector<VelmarIndexedMeshDefinition::Texture>* textures = TexturesOf(m);
      if (textures == nullptr) continue;
      for (unsigned t = 0; t < textures->size(); ++t) {
        RUZLib::MeshTextureEntry entry;
        entry.words[0] = (*textures)[t].kind;
        std::memcpy(&entry.words[1], &(*textures)[t].value, sizeof(float));
        entry.words[2] = m;
        entry.words[3] = t;
        entry.fileName = (*textures)[t].file;
        entries.push_back(entry);
      }
    }
    return entries;
  }
  std::vector<Vak::PString> GetUnresolvedNames() const override {
    return resource_->GetDefinition()->GetUnresolvedNames();
  }
  std::vector<std::vector<Vak::PString>> GetMaterialTextureNames() const override {
    std::vector<std::vector<Vak::PString>> names;
    for (unsigned m = 0; m < Materials()->Count(); ++m) {
      std::vector<Vak::PString>& material = names.emplace_back();
      if (const auto* textures = TexturesOf(m))
        for (const VelmarIndexedMeshDefinition::Texture& texture : *textures)
          material.push_back(resource_->PlaceTextureFile(texture.file));
    }
    return names;
  }
  std::vector<RUZLib::MeshAttachment> GetAttachments() const override {
    std::vector<RUZLib::MeshAttachment> points;
    for (const VelmarIndexedMeshDefinition::AttachmentPoint& point : resource_->GetDefinition()->GetAttachmentPoints())
      points.push_back({point.name, point.position[0], point.position[1], point.position[2]});
    return points;
  }
  void ApplyLight(Vak::ParallelLight* light) override {
    if (!instance_) return;
    instance_->SetLight(light);
    instance_->UpdateLighting(false);
  }
  int AddAnimation(const Vak::PString& name) override { return animator_ ? animator_->Add(name) : kAddFailed4; }
  uint32_t GetAnimationValue(const Vak::PString& name) override { return animator_ ? animator_->GetValue(name) : 0; }

private:
  // The materials of the level shown for a level-of-detail mesh, else the
  // definition's.
  SharedRefArray<Vak::Material>* Materials() const {
    return levels_ ? levels_->GetLevelMaterials(levels_->GetLevel()) : resource_->GetDefinition()->GetMaterials();
  }
  // The textures of material `m` as the definition read them. The levels
  // share the materials of one table, so a level's material is found by the
  // binding that made it.
  const std::vector<VelmarIndexedMeshDefinition::Texture>* TexturesOf(unsigned m) const {
    const VelmarIndexedMeshDefinition* definition = resource_->GetDefinition();
    if (!levels_) return definition->GetMaterialTextures(m);
    const Vak::Material* material = Materials()->Get(m);
    for (const VelmarIndexedMeshDefinition::MaterialBinding& binding : definition->GetPendingBindings())
      if (material != nullptr && binding.material == material) return &binding.textures;
    return nullptr;
  }

  VelmarGeometryBaseResource* resource_;
  VelmarIndexedMeshInstance* instance_;
  VelmarIndexedMeshLODInstance* levels_;  // the instance, when it has levels
  bool levelOfDetail_;
  std::unique_ptr<Vak::Animator> animator_;
};

} // namespace

RUZLib::MeshSource::Result VelmarMeshSource::Load(const Vak::PString& name, Vak::ResourceDatabase* database,
                                                  Vak::RenderKernel* kernel, bool levelOfDetail) {
  Result result;
  if (database == nullptr) return result;
  // A text description is found by the resource system under its name
  // without ".txt" and read through the text form of the type.
  Vak::PString asked = name;
  if (levelOfDetail && Vak::CodePage::EndsWithIgnoreCase(name.c_str(), ".lm.txt"))
    asked = Vak::PString(name.c_str(), name.Length() - 4);
  Vak::Resource* resource = database->Get(asked, Vak::ResourceDatabase::kNoQueue);
  if (resource == nullptr) return result;
  if (!levelOfDetail && dynamic_cast<VelmarProgressiveMeshResource*>(resource)) {
    result.kind = Kind::kProgressive;
    resource->ReleaseReference();
    return result;
  }
  auto* geometry = dynamic_cast<VelmarGeometryBaseResource*>(resource);
  if (geometry == nullptr) {
    result.kind = Kind::kOther;
    resource->ReleaseReference();
    return result;
  }
  result.kind = Kind::kGeometry;
  geometry->SetRenderKernel(kernel);
  if (!geometry->Lock().Ok()) {
    result.loadFailed = true;
    geometry->ReleaseReference();
    return result;
  }
  VelmarIndexedMeshInstance* instance = geometry->CreateMeshInstance();
  // The instance keeps its own lock.
  geometry->Unlock();
  std::unique_ptr<Vak::Animator> animator;
  if (instance) {
    std::vector<Vak::PString> bones;
    CollectBoneNames(geometry->GetDefinition()->GetRootBone(), bones);
    animator = std::make_unique<Vak::Animator>(database, std::move(bones));
  }
  result.model = std::make_unique<VelmarMeshModel>(geometry, instance, levelOfDetail, std::move(animator));
  return result;
}
