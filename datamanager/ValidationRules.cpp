#include "datamanager/ValidationRules.h"

#include <cstdlib>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "datamanager/ConfigReports.h"
#include "datamanager/MeshData.h"
#include "datamanager/Vocabulary.h"

namespace RUZLib {

namespace {

const ValidationRule<ContainerRule> kContainerRules[] = {
    {Vak::PString("uniquenames"), &Rules::UniqueNames},
    {Vak::PString("hasvalidtexturefile"), &Rules::HasValidTextureFile},
};

const ValidationRule<TagRule> kTagRules[] = {
    {Vak::PString("istracksidetype"), &Rules::IsTracksideType},
    {Vak::PString("needcollatemeshes"), &Rules::NeedCollateMeshes},
    {Vak::PString("ispositive"), &Rules::IsPositive},
    {Vak::PString("isnotzero"), &Rules::IsNotZero},
    {Vak::PString("scriptfileexists"), &Rules::ScriptFileExists},
    {Vak::PString("range"), &Rules::Range},
    {Vak::PString("arraysize"), &Rules::ArraySize},
    {Vak::PString("notownparent"), &Rules::NotOwnParent},
    {Vak::PString("mustbeownparent"), &Rules::MustBeOwnParent},
    {Vak::PString("mustbeinlightcontainer"), &Rules::MustBeInLightContainer},
    {Vak::PString("mustbepaired"), &Rules::MustBePaired},
};

// Builds are compared with this float; below it array sizes are not held to.
constexpr float kArraySizeBuild = 2.89f;

// Each pair of items of one name is reported for the later one.
template <typename Item, typename Reporter>
bool NoRepeatedNames(const std::vector<Item*>& items, Reporter report) {
  bool unique = true;
  for (std::size_t later = 1; later < items.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (!(items[earlier]->name == items[later]->name)) continue;
      unique = false;
      report(items[later]);
    }
  }
  return unique;
}

bool FileExists(const Vak::File::Path& path) { return Vak::File::Exists(path) == Vak::File::RES_OK; }

} // namespace

std::span<const ValidationRule<ContainerRule>> ContainerRules() { return kContainerRules; }
std::span<const ValidationRule<TagRule>> TagRules() { return kTagRules; }

Vak::File::Path AssetFolderPath() {
  DataManager* manager = DataManager::Instance();
  Vak::File::Path path = GetDatabaseRootPath();
  const Vak::PString content = manager->GetContentFolder();
  if (!(content == Vak::PString(static_cast<const char*>(path)))) path.AddPath(content.c_str());
  if (manager->GetCurrentAssetFolder().Length() > 0) path.AddPath(manager->GetCurrentAssetFolder().c_str());
  return path;
}

bool ContentArchiveExists() { return ArchiveFileExists(DataManager::Instance()->GetContentFolder().c_str()); }

namespace Rules {

bool UniqueNames(Container* container, const ACSChunkPtr&) {
  const bool childrenUnique = NoRepeatedNames(container->children, [&](Container* later) {
    Report::ContainerError(later, Msg::kDuplicateName, later->name, container->name);
  });
  const bool tagsUnique = NoRepeatedNames(container->tags, [&](Tag* later) {
    Report::TagError(later, Msg::kDuplicateName, later->name, container->name);
  });
  return childrenUnique && tagsUnique;
}

bool HasValidTextureFile(Container* container, const ACSChunkPtr&) {
  if (ContentArchiveExists()) return true;
  for (Tag* tag : container->tags) {
    if (!(tag->name == Words::kTexture) && !(tag->name == Words::kAssetFilename)) continue;
    Vak::File::Path path = AssetFolderPath();
    path.AddPath(tag->value.c_str());
    path.ReplaceForwardSlashes();
    path.SetExt("texture");
    if (FileExists(path)) return true;
    Report::TagError(tag, Msg::kMissingTextureFile, tag->value);
    return false;
  }
  Report::Error(Msg::kNoTextureTag);
  return false;
}

bool IsTracksideType(Tag* tag, const ACSChunkPtr&) {
  for (Tag* other : tag->owner->tags) {
    if (!(other->name == Words::kType)) continue;
    if (other->value == Words::kTrackside) return true;
    Report::TagError(other, Msg::kNotTracksideType, other->name, Words::kTrackside, tag->name);
    return false;
  }
  Report::TagError(tag, Msg::kNoTypeTag, tag->name, Words::kType, Words::kTrackside);
  return false;
}

bool NeedCollateMeshes(Tag* tag, const ACSChunkPtr&) {
  if (tag->owner->FindTag(Words::kCollateMeshes)) return true;
  Report::TagError(tag, Msg::kNeedsCollateMeshes, tag->name, Words::kCollateMeshes);
  return false;
}

bool IsPositive(Tag* tag, const ACSChunkPtr&) {
  if (tag->value.Length() == 0) return false;
  for (float v : ParseValueList(tag->value.c_str())) {
    if (v < 0) {
      Report::TagError(tag, Msg::kNegativeValue, tag->name);
      return false;
    }
  }
  return true;
}

bool IsNotZero(Tag* tag, const ACSChunkPtr&) {
  if (tag->value.Length() == 0) return false;
  for (float v : ParseValueList(tag->value.c_str())) {
    if (v == 0) {
      Report::TagError(tag, Msg::kZeroValue, tag->name);
      return false;
    }
  }
  return true;
}

bool ScriptFileExists(Tag* tag, const ACSChunkPtr&) {
  if (tag->value.Length() == 0) return false;
  if (tag->value.c_str()[0] == '/') return true;
  if (ContentArchiveExists()) return true;
  Vak::File::Path path = AssetFolderPath();
  path.AddPath(tag->value.c_str());
  path.ReplaceForwardSlashes();
  for (const char* extension : {"gse", "gs"}) {
    path.SetExt(extension);
    if (FileExists(path)) return true;
  }
  Report::TagError(tag, Msg::kMissingScriptFile, tag->value);
  return false;
}

bool Range(Tag* tag, const ACSChunkPtr& arguments) {
  if (tag->value.Length() == 0) return false;
  const double low = std::atof(arguments.GetChildString(Words::kMin).c_str());
  const double high = std::atof(arguments.GetChildString(Words::kMax).c_str());
  for (float v : ParseValueList(tag->value.c_str())) {
    if (v < low || v > high) {
      Report::TagError(tag, Msg::kOutOfRange, tag->name, low, high);
      return false;
    }
  }
  return true;
}

bool CheckArraySize(Tag* tag, long expected) {
  if (DataManager::Instance()->currentBuild < kArraySizeBuild) return true;
  if (tag->value.Length() == 0) return false;
  const auto found = static_cast<long>(ParseValueList(tag->value.c_str()).size());
  if (found == expected) return true;
  Report::TagError(tag, Msg::kWrongArraySize, tag->name, static_cast<int>(expected), static_cast<int>(found));
  return false;
}

bool ArraySize(Tag* tag, const ACSChunkPtr& arguments) {
  if (!arguments.HasChild(Words::kSize)) return false;
  return CheckArraySize(tag, std::strtol(arguments.GetChildString(Words::kSize).c_str(), nullptr, 10));
}

bool NotOwnParent(Tag* tag, const ACSChunkPtr&) {
  if (!(tag->name == tag->owner->name)) return true;
  Report::TagError(tag, Msg::kOwnParentName);
  return false;
}

bool MustBeOwnParent(Tag* tag, const ACSChunkPtr&) {
  MeshData* mesh = LoadedMeshFor(tag->owner->Grandparent());
  if (!mesh) return false;
  for (const MeshTextureEntry& entry : mesh->GetTextures())
    if (entry.fileName == tag->value) return true;
  Report::TagError(tag, Msg::kNotMeshTexture, tag->value, mesh->GetMeshPath());
  return false;
}

bool MustBeInLightContainer(Tag* tag, const ACSChunkPtr&) {
  Container* lights = nullptr;
  if (Container* grandparent = tag->owner->Grandparent()) {
    for (Container* child : grandparent->children) {
      if (child->name == Words::kLights) {
        lights = child;
        break;
      }
    }
  }
  if (!lights) {
    Report::TagError(tag, Msg::kNoLightsContainer);
    return false;
  }
  bool found = true;
  for (int number : ParseIntList(tag->value.c_str())) {
    const std::string wanted = std::to_string(number);
    bool present = false;
    for (Container* child : lights->children) present = present || wanted == child->name.c_str();
    if (present) continue;
    found = false;
    Report::TagError(tag, Msg::kMissingLight, number);
  }
  return found;
}

bool MustBePaired(Tag* tag, const ACSChunkPtr& arguments) {
  if (tag->name == Words::kInitialCount && tag->value == Words::kZero) return true;
  const Vak::PString first = arguments.GetChildString(Words::kZero);
  const Vak::PString second = arguments.GetChildString(Words::kOne);
  bool paired = true;
  if (!tag->owner->FindTag(first)) {
    paired = false;
    Report::TagError(tag, Msg::kUnpairedTag, second, first);
  }
  if (!tag->owner->FindTag(second)) {
    paired = false;
    Report::TagError(tag, Msg::kUnpairedTag, first, second);
  }
  return paired;
}

} // namespace Rules

} // namespace RUZLib
