// The text level-of-detail description (docs/formats/config-text.md): one
// indexed mesh file or text geometry config per level, gathered into the
// definition's levels, bone table and material table.
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "assets3d/MeshFile.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "engine/elthrac/ParticleBone.h"
#include "engine/kernelx/ConfigParser.h"

using Vak::PString;
using namespace MeshFile;

namespace {

// A "mesh" value is a switch distance when it is made of digits and dots
// only; an empty one counts too.
bool CountsAsNumber(const char* text) { return std::strspn(text, "1234567890.") == std::strlen(text); }

float DistanceOf(const char* text) {
  float distance = 0;
  return Vak::ConfigData::ToFloat(Vak::ConfigValue{text, false}, distance) ? distance : 0.0f;
}

bool IsGeometryConfig(const char* file) { return Vak::CodePage::EndsWithIgnoreCase(file, ".imtxt"); }

} // namespace

unsigned long* VelmarIndexedMeshLODDefinition::ReadLODDescription(unsigned long* result, Vak::Display* display,
                                                                  Vak::MaterialManager* manager,
                                                                  VelmarMeshResource* resource, const char* name,
                                                                  uint32_t defaultColour) {
  AskDisplay(display);
  PString path(name);
  if (resource != nullptr && resource->GetDatabase() != nullptr) path = resource->GetDatabase()->GetFileName(path);
  Vak::ConfigParser parser;
  const int parsed = path.IsNull() ? int(Vak::ConfigParser::kNoFile) : parser.Parse(path.c_str());
  // The syntax knows 1.x only: another version is a version fault here too.
  if (parsed == Vak::ConfigParser::kBadVersion) return Done(result, kBadVersion);
  if (parsed != Vak::ConfigParser::kOk) return Done(result, kNoData);
  const Vak::ConfigData* data = parser.GetData();
  if (data == nullptr) return Done(result, kMalformed);
  // Version 1.0: the value times 100, truncated, is 100. The range test
  // keeps the cast defined for any value.
  const float version = data->GetVersion() * 100.0f;
  if (!(version >= 0.0f && version < 1e6f) || static_cast<int>(version) != 100) return Done(result, kBadVersion);

  const unsigned meshes = data->CountKey("mesh");
  if (meshes == 0) return Done(result, kMalformed);
  levels_.reserve(meshes);
  namedLevels_.reserve(meshes);
  std::vector<std::pair<std::string, unsigned>> loaded;  // file, level
  unsigned item = 0;
  for (; item < meshes; ++item) {
    const Vak::ConfigEntry& entry = *data->Find("mesh", item);
    if (!CountsAsNumber(entry.GetText())) break;
    const char* given = entry.group ? entry.group->GetText("name", nullptr) : nullptr;
    if (given == nullptr) return Done(result, kMalformed);
    const std::string placed = BesideName(name, given);
    const char* file = placed.c_str();
    const float distance = DistanceOf(entry.GetText());
    if (!distances_.empty() && !(distance > distances_.back())) return Done(result, kMalformed);
    if (*LoadLevelMesh(resource, *this, result, display, manager, file, defaultColour, levels_.empty()) != kOk)
      return result;
    loaded.emplace_back(file, static_cast<unsigned>(levels_.size() - 1));
    distances_.push_back(distance);
  }
  if (distances_.empty()) return Done(result, kMalformed);

  for (; item < meshes; ++item) {
    const Vak::ConfigEntry& entry = *data->Find("mesh", item);
    if (CountsAsNumber(entry.GetText())) return Done(result, kMalformed);
    PString levelName(entry.GetText());
    levelName.ToLower();
    for (const NamedLevel& named : namedLevels_)
      if (named.name == levelName) return Done(result, kMalformed);
    const char* given = entry.group ? entry.group->GetText("name", nullptr) : nullptr;
    if (given == nullptr) return Done(result, kMalformed);
    const std::string placed = BesideName(name, given);
    const char* file = placed.c_str();
    NamedLevel named;
    named.name = levelName;
    named.animated = entry.group->GetBool("animated", false);
    named.level = static_cast<uint32_t>(levels_.size());
    bool shared = false;
    for (const auto& [loadedFile, level] : loaded)
      if (!shared && Vak::CodePage::CompareIgnoreCase(loadedFile.c_str(), file) == 0) {
        named.level = level;
        shared = true;
      }
    if (!shared) {
      if (*LoadLevelMesh(resource, *this, result, display, manager, file, defaultColour, false) != kOk)
        return result;
      loaded.emplace_back(file, named.level);
    }
    namedLevels_.push_back(named);
  }

  fileName_ = name;
  levelCount_ = static_cast<uint32_t>(levels_.size());
  offset_ = data->GetFloat("offset", 0.0f);
  multiplier_ = data->GetFloat("multiplier", 1.0f);
  animationCutOff_ = data->GetFloat("animationCutOff", 0.0f);
  renderCutOff_ = data->GetFloat("renderCutOff", 0.0f);
  attachmentCutOff_ = data->GetFloat("attachmentCutOff", 0.0f);
  const char* calc = data->GetText("calcPoint", "");
  calcPoint_ = std::strcmp(calc, "near") == 0 ? kNear : std::strcmp(calc, "far") == 0 ? kFar : kCentre;
  // Each level ran its own post-load steps when it was read.
  MakeCurrent(static_cast<unsigned>(distances_.size() - 1));
  CollectCulledAttachments();
  return Done(result, kOk);
}

unsigned long* VelmarIndexedMeshLODDefinition::LoadLevelMesh(VelmarMeshResource* resource,
                                                             VelmarIndexedMeshLODDefinition& definition,
                                                             unsigned long* result, Vak::Display* display,
                                                             Vak::MaterialManager* manager, const char* file,
                                                             uint32_t defaultColour, bool first) {
  auto mesh = std::make_unique<VelmarIndexedMeshDefinition>(definition.options_);
  std::vector<PString> boneNames;
  for (const BoneRecord& bone : definition.bones_) boneNames.push_back(bone.name);
  if (!first) mesh->SetBoneNames(&boneNames);
  *result = kOk;
  if (IsGeometryConfig(file)) {
    mesh->LoadConfigFile(result, display, manager, resource, file, defaultColour);
  } else if (!mesh->LoadMemoryFile(resource, file)) {
    *result = kNoData;
  } else {
    mesh->ReadMeshFile(result, display, manager, resource, file, defaultColour);
  }
  mesh->SetBoneNames(nullptr);
  if (*result != kOk) return result;

  const std::vector<Vak::InfluenceDefinition>& influences = mesh->GetInfluences();
  if (first) {
    definition.ReplaceRootBone(mesh->TakeRootBone());
    definition.attachmentPoints_ = mesh->GetAttachmentPoints();
    for (const Vak::InfluenceDefinition& influence : influences) {
      BoneRecord bone;
      bone.name = influence.GetName();
      // The parent the skeleton gave it, so that a write and a read agree.
      const Vak::Particle* linked =
          definition.rootBone_ != nullptr ? definition.rootBone_->FindByName(influence.GetName()) : nullptr;
      bone.parent = linked != nullptr && linked->Parent() != nullptr ? linked->Parent()->GetName()
                                                                     : influence.GetParentName();
      if (linked == definition.rootBone_) bone.parent = PString();
      const Vak::Vector3& p = influence.GetPosition();
      bone.position[0] = p.x;
      bone.position[1] = p.y;
      bone.position[2] = p.z;
      influence.GetMatrix().ToFloats(bone.matrix);
      definition.bones_.push_back(std::move(bone));
    }
    definition.hasBoneTable_ = !definition.bones_.empty();
  } else if (mesh->GetAttachmentPoints().size() != definition.attachmentPoints_.size() ||
             influences.size() != definition.bones_.size()) {
    return Done(result, kMalformed);
  }

  Level level;
  level.chunks = mesh->GetChunks();
  level.chunks->AddReference();
  level.materials = mesh->GetMaterials();
  level.materials->AddReference();
  level.chunkNames = mesh->GetChunkNames();
  level.chunkCount = mesh->GetChunkCount();
  level.totalVertices = mesh->GetTotalVertices();
  level.totalFaces = mesh->GetTotalFaces();
  level.maxInfluences = mesh->GetMaxInfluencesPerVertex();
  level.maxMatrices = mesh->GetMaxMatricesPerChunk();
  level.hardwareSkinning = mesh->UsesHardwareSkinning();
  // The material table holds each material once with its stored form, as a
  // read of the written file would.
  for (unsigned slot = 0; slot < level.materials->Count(); ++slot) {
    Vak::Material* material = level.materials->Get(slot);
    const MaterialRecord* stored = mesh->GetStoredMaterial(slot);
    if (material == nullptr || stored == nullptr) continue;
    bool known = false;
    for (unsigned i = 0; i < definition.table_->Count() && !known; ++i) known = definition.table_->Get(i) == material;
    if (known) continue;
    material->AddReference();
    definition.table_->Set(definition.table_->Count(), material);
    definition.stored_.push_back(*stored);
  }
  const unsigned index = static_cast<unsigned>(definition.levels_.size());
  definition.levels_.push_back(std::move(level));
  definition.AddLevelInfluences(index, *mesh);
  // The level's textures are bound with the definition's own, where a
  // material's textures are looked up later (validate reports them).
  for (MaterialBinding& binding : mesh->TakePendingBindings()) definition.pendingBindings_.push_back(std::move(binding));
  definition.levelDefinitions_.push_back(std::move(mesh));
  return Done(result, kOk);
}

void VelmarIndexedMeshLODDefinition::AddLevelInfluences(unsigned level, const VelmarIndexedMeshDefinition& mesh) {
  for (BoneRecord& bone : bones_) {
    std::vector<Vak::InfluenceDefinition::Group> groups;
    for (const Vak::InfluenceDefinition& influence : mesh.GetInfluences())
      if (influence.GetName() == bone.name) {
        for (const Vak::InfluenceDefinition::Group& group : influence.Groups())
          if (!group.entries.empty()) groups.push_back(group);
        break;
      }
    bone.levels.emplace_back(level, std::move(groups));
  }
}
