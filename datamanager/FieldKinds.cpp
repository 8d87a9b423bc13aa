// Field kinds: what the "type" word of a tag's schema sub-entry makes of the
// tag when it is set up, and how each kind is checked and written back when
// its container is exported.
#include <cstdlib>
#include <cstring>
#include <string>

#include "assetdb/CategoryList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADAssetQueries.h"
#include "content/FileHelpers.h"
#include "content/TextHelpers.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/ConfigReports.h"
#include "datamanager/Container.h"
#include "datamanager/MeshData.h"
#include "datamanager/ValidationRules.h"
#include "datamanager/Vocabulary.h"

namespace RUZLib {

namespace {

struct TypeWord {
  const Vak::PString* word;
  FieldKind kind;
};
const TypeWord kTypeWords[] = {
    {&Words::kFloat, kFieldFloat},
    {&Words::kString, kFieldString},
    {&Words::kInt, kFieldInt},
    {&Words::kBool, kFieldBool},
    {&Words::kVector2, kFieldVector2},
    {&Words::kVector3, kFieldVector3},
    {&Words::kRgb, kFieldVector3},
    {&Words::kVector4, kFieldVector4},
    {&Words::kVector5, kFieldVector5},
    {&Words::kFloatlist, kFieldFloatList},
    {&Words::kCombobox, kFieldComboBox},
    {&Words::kIntcombobox, kFieldIntComboBox},
    {&Words::kListbox, kFieldListBox},
    {&Words::kDoublestring, kFieldDoubleString},
    {&Words::kKuid, kFieldKUID},
    {&Words::kFilepath, kFieldFilePath},
    {&Words::kFilepathedit, kFieldFilePathEdit},
    {&Words::kStringkuid, kFieldStringKUID},
    {&Words::kKuidbrowser, kFieldKUIDBrowser},
    {&Words::kStringkuidbrowser, kFieldStringKUIDBrowser},
};

using ExportOperation = bool (Container::*)(Tag*, ACSChunkPtr&);
// By field kind; kind 2 is not written.
const ExportOperation kExports[] = {
    &Container::ExportFloat,      &Container::ExportString,       nullptr,
    &Container::ExportInt,        &Container::ExportBool,         &Container::ExportVector2,
    &Container::ExportVector3,    &Container::ExportVector4,      &Container::ExportVector5,
    &Container::ExportFloatList,  &Container::ExportComboBox,     &Container::ExportIntComboBox,
    &Container::ExportListBox,    &Container::ExportDoubleString, &Container::ExportKUID,
    &Container::ExportFilePath,   &Container::ExportFilePathEdit, &Container::ExportStringKUID,
    &Container::ExportKUIDBrowser, &Container::ExportStringKUIDBrowser, &Container::ExportOther,
};
static_assert(std::size(kExports) == kFieldOther + 1);

// The export writes each config kind under the word the schema lookup
// mapped from it.
struct KindMapping {
  const Vak::PString* schemaKind;
  const Vak::PString* configKind;
};
const KindMapping kKindsBack[] = {
    {&Words::kDoubleTrack, &Words::kBridge},     {&Words::kTunnel, &Words::kBridge},
    {&Words::kChunkyTrack, &Words::kTrack},      {&Words::kMeshReducingTrack, &Words::kTrack},
    {&Words::kObsoleteTrack, &Words::kTrack},    {&Words::kSceneryTrackside, &Words::kScenery},
};

// Extensions a file-path field of a data type may name.
struct DataTypeExtensions {
  const Vak::PString* dataType;
  std::vector<const char*> extensions;
  Msg failure;
};
const DataTypeExtensions kFileExtensions[] = {
    {&Words::kMeshes, {"im", "lm", "pm"}, Msg::kBadMeshExtension},
    {&Words::kImage, {"bmp", "tga", "jpg", "texture", "txt"}, Msg::kBadImageExtension},
    {&Words::kAnimation, {"kin"}, Msg::kBadAnimationExtension},
};

// Tag names a config before build 2.5 may carry as comments.
constexpr float kCommentBuild = 2.5f;
constexpr int kObsoleteErrorBuild = 289;
constexpr std::string_view kRegionPrefix = "category-region-";
constexpr std::string_view kEraPrefix = "category-era-";
const char* const kChoiceSources[] = {"mesh-table", "attached-track", "queues"};
const Vak::PString kWebsiteWords[] = {Vak::PString("contact-website"), Vak::PString("website")};

bool StartsWith(const Vak::PString& text, std::string_view prefix) {
  return std::string_view(text.c_str()).substr(0, prefix.size()) == prefix;
}

bool NonZero(const ACSChunkPtr& entry, const Vak::PString& name) { return entry.GetChildInt(name, 0) != 0; }

Vak::PString Lower(const Vak::PString& text) {
  Vak::PString lower = text;
  LowerCasePString(lower);
  return lower;
}

// The pieces between separators; each separator ends one, so two adjacent
// ones give an empty piece.
std::vector<std::string> SplitValues(const char* text) {
  std::vector<std::string> pieces(1);
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == ' ' || *c == ',') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(*c);
    }
  }
  return pieces;
}

bool FormTemplateHolds(const Vak::PString& value, const ACSChunkPtr& subEntry) {
  const auto& templates = DataManager::Instance()->FormTemplates();
  auto it = templates.find(subEntry.GetChildString(Words::kSource));
  if (it == templates.end()) return false;
  for (const FormTemplateLine& line : it->second) {
    std::string text = line.key.c_str();
    if (!line.value.IsNull()) text += std::string(" ") + line.value.c_str();
    if (value.EqualsIgnoreCase(text.c_str())) return true;
  }
  return false;
}

class IndexQueries : public AssetIndexQueries {
public:
  KUID Resolve(const KUID& kuid) override { return VADResolveKuid(kuid); }
  bool GetStatus(const KUID& kuid, VADAssetStatus& status) override { return VADGetAssetStatus(kuid, status, 0xFF); }
};
IndexQueries gIndexQueries;
AssetIndexQueries* gQueries = nullptr;

} // namespace

void SetAssetIndexQueries(AssetIndexQueries* queries) { gQueries = queries; }

MeshData* LoadedMeshFor(Container* container) {
  if (!container) return nullptr;
  const auto& objects = DataManager::Instance()->LoadedObjects();
  auto it = objects.find(container);
  return it == objects.end() ? nullptr : it->second;
}

std::vector<float> ParseValueList(const char* text) {
  std::vector<float> values;
  for (const std::string& piece : SplitValues(text)) values.push_back(static_cast<float>(std::atof(piece.c_str())));
  return values;
}

std::vector<int> ParseIntList(const char* text) {
  std::vector<int> values;
  for (const std::string& piece : SplitValues(text)) values.push_back(std::atoi(piece.c_str()));
  return values;
}

// ------------------------------------------------------------------ set-up

void Container::SetupTagFromSchema(Tag* tag, const ACSChunkPtr& subEntry, const ACSChunkPtr& fromConfig,
                                   Container* owner) {
  DataManager* manager = DataManager::Instance();
  tag->schemaEntry = subEntry;
  const Vak::PString type = subEntry.GetChildString(Words::kType);
  tag->fieldKind = kFieldOther;
  for (const TypeWord& row : kTypeWords)
    if (*row.word == type) tag->fieldKind = row.kind;

  switch (tag->fieldKind) {
    case kFieldFloat:
    case kFieldInt: tag->disabled = NonZero(subEntry, Words::kDisabled); break;
    case kFieldString: {
      tag->disabled = NonZero(subEntry, Words::kDisabled);
      tag->filter = subEntry.GetChildString(Words::kFilter);
      if (fromConfig.Get()) break;
      const PersonalDetails& details = manager->GetPersonalDetails();
      if (tag->name == Words::kAuthor) tag->value = details.author;
      if (tag->name == Words::kLicense) tag->value = details.license;
      if (tag->name == Words::kOrganisation) tag->value = details.organisation;
      if (tag->name == Words::kContactEmail) tag->value = details.email;
      for (const Vak::PString& word : kWebsiteWords)
        if (tag->name == word) tag->value = details.website;
      break;
    }
    case kFieldComboBox: {
      const Vak::PString source = subEntry.GetChildString(Words::kSource);
      bool named = false;
      for (const char* list : kChoiceSources) named = named || std::strcmp(source.c_str(), list) == 0;
      if (source == Words::kAttachment) {
        if (NonZero(subEntry, Words::kUnique)) {
          manager->AddItem(tag);
        } else {
          manager->AddUniqueItem(tag);
        }
      } else if (named) {
        manager->AddToNamedList(source, tag);
      }
      if (source == Words::kAttachment || named) {
        tag->sourceBound = true;
        tag->source = source;
        break;
      }
      if (tag->value.Length() > 0 && !CheckComboBoxValue(tag->value, subEntry)) {
        Report::TagWarning(tag, Msg::kValueNotOffered, tag->value, tag->name);
        tag->value = Words::kEmptyWord;
      }
      break;
    }
    case kFieldIntComboBox:
    case kFieldListBox: {
      const bool offered = tag->fieldKind == kFieldIntComboBox ? CheckIntComboBoxValue(tag->value, subEntry)
                                                               : CheckListBoxValue(tag->value, subEntry);
      if (tag->value.Length() > 0 && !offered) {
        Report::TagWarning(tag, Msg::kValueNotOffered, tag->value, tag->name);
        tag->value = Words::kEmptyWord;
      }
      break;
    }
    case kFieldKUID:
      if (tag->value.Length() == 0) tag->value = KUID::Null().ToConfigText();
      break;
    case kFieldFilePath:
    case kFieldFilePathEdit: {
      tag->dataType = subEntry.GetChildString(Words::kDatatype);
      tag->isFile = true;
      if (tag->name == Words::kScript) break;
      if (fromConfig.Get() && fromConfig.HasChild(Words::kMeshAsset)) {
        manager->meshAssetSeen = true;
        break;
      }
      std::string path = manager->GetCurrentAssetFolder().c_str();
      if (!path.empty()) path += '\\';
      path += tag->value.c_str();
      if (tag->value.Length() > 0) manager->LoadMeshForField(Vak::PString(path.c_str()), owner);
      break;
    }
    case kFieldKUIDBrowser:
      tag->category = subEntry.GetChildString(Words::kCategory);
      tag->filter = subEntry.GetChildString(Words::kFilter);
      break;
    case kFieldOther: {
      const bool comment =
          tag->name == Words::kExclamation || tag->name == Words::kRem || tag->name == Words::kSemicolon;
      if (comment && manager->currentBuild < kCommentBuild) break;
      const bool obsolete =
          std::find(owner->obsoleteNames.begin(), owner->obsoleteNames.end(), tag->name) != owner->obsoleteNames.end();
      if (!obsolete && !StartsWith(tag->name, kRegionPrefix) && !StartsWith(tag->name, kEraPrefix)) {
        Report::TagError(tag, Msg::kUnknownName, tag->name, owner->name);
      } else if (BuildHundredths(manager->currentBuild, kBuildBiasNone) > kObsoleteErrorBuild) {
        Report::TagError(tag, Msg::kObsoleteName, tag->name, owner->name);
      } else {
        Report::TagWarning(tag, Msg::kObsoleteName, tag->name, owner->name);
      }
      break;
    }
    default: break;
  }
}

bool Container::CheckComboBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry) {
  return FormTemplateHolds(value, subEntry);
}

bool Container::CheckIntComboBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry) {
  return FormTemplateHolds(value, subEntry);
}

bool Container::CheckListBoxValue(const Vak::PString& value, const ACSChunkPtr& subEntry) {
  const std::string text = value.c_str();
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(';', start);
    const std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (FormTemplateHolds(Vak::PString(piece.c_str()), subEntry)) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// ------------------------------------------------------------------ export

bool Container::Export(ACSChunkPtr out) {
  if (extensions.Get()) {
    out.SetChild(Words::kExtensions, extensions);
    return true;
  }
  bool result = true;
  for (Tag* tag : tags) {
    if (tag->name == Words::kKind) {
      tag->value = Lower(tag->value);
      for (const KindMapping& row : kKindsBack)
        if (tag->value == *row.schemaKind) tag->value = *row.configKind;
    }
    if (!result && (tag->fieldKind == kFieldFloat || tag->fieldKind == kFieldString)) continue;
    if (tag->fieldKind < 0 || tag->fieldKind > kFieldOther) continue;
    const ExportOperation operation = kExports[tag->fieldKind];
    if (operation && !(this->*operation)(tag, out)) result = false;
  }
  for (Container* child : children) {
    Report::Trace("now exporting the container %s", child->name);
    ACSChunkPtr written;
    written.MakeContainer();
    out.SetChild(child->keyName.Length() > 0 ? child->keyName : child->name, written);
    if (!child->Export(written)) result = false;
    if (!child->RunValidationRules()) result = false;
  }
  return result;
}

bool Container::ExportFloat(Tag* tag, ACSChunkPtr& out) {
  const bool passed = tag->RunValidationRules();
  out.SetChildFloat(tag->name, static_cast<float>(std::atof(tag->value.c_str())));
  return passed;
}

bool Container::ExportString(Tag* tag, ACSChunkPtr& out) {
  bool passed = true;
  if (tag->value.Length() == 0) {
    if (tag->required) {
      Report::TagError(tag, Msg::kEmptyRequiredText, tag->name, name);
      passed = false;
    } else {
      Report::TagWarning(tag, Msg::kEmptyValue);
    }
  } else {
    passed = tag->RunValidationRules();
  }
  out.SetChildString(tag->name, tag->value.c_str());
  return passed;
}

bool Container::ExportInt(Tag* tag, ACSChunkPtr& out) {
  const bool passed = tag->RunValidationRules();
  out.SetChildInt(tag->name, static_cast<int32_t>(std::strtol(tag->value.c_str(), nullptr, 10)));
  return passed;
}

bool Container::ExportBool(Tag* tag, ACSChunkPtr& out) {
  const bool passed = tag->RunValidationRules();
  out.SetChildInt(tag->name, tag->value == Words::kOne ? 1 : 0);
  return passed;
}

bool Container::ExportVector(Tag* tag, ACSChunkPtr& out, int size) {
  bool passed = tag->RunValidationRules();
  if (!Rules::CheckArraySize(tag, size)) passed = false;
  const std::vector<float> values = ParseValueList(tag->value.c_str());
  out.SetChildFloatArray(tag->name, values.data(), static_cast<uint32_t>(values.size()));
  return passed;
}

bool Container::ExportVector2(Tag* tag, ACSChunkPtr& out) { return ExportVector(tag, out, 2); }
bool Container::ExportVector3(Tag* tag, ACSChunkPtr& out) { return ExportVector(tag, out, 3); }
bool Container::ExportVector4(Tag* tag, ACSChunkPtr& out) { return ExportVector(tag, out, 4); }
bool Container::ExportVector5(Tag* tag, ACSChunkPtr& out) { return ExportVector(tag, out, 5); }

bool Container::ExportFloatList(Tag* tag, ACSChunkPtr& out) {
  const bool passed = tag->RunValidationRules();
  const std::vector<float> values = ParseValueList(tag->value.c_str());
  out.SetChildFloatArray(tag->name, values.data(), static_cast<uint32_t>(values.size()));
  return passed;
}

bool Container::ReferenceCheck(Tag* tag, bool comboBox) {
  DataManager* manager = DataManager::Instance();
  if (manager->IsFileReferenced(tag->value, tag->source)) return true;
  if (tag->source == Words::kAttachment && typeName == Words::kMeshElement) {
    Tag* attParent = FindTag(Words::kAttParent);
    if (!attParent) {
      Report::TagError(tag, Msg::kNoAttachmentParent, name);
      return false;
    }
    if (!parent) return true;
    for (Container* sibling : parent->children) {
      if (!(sibling->name == attParent->value)) continue;
      MeshData* mesh = LoadedMeshFor(sibling);
      if (!mesh) return true;
      Report::TagError(tag, Msg::kAttachmentOnLoadedMesh, tag->value, name, mesh->GetMeshPath());
      return false;
    }
    return true;
  }
  if (comboBox && tag->source == Words::kAttachment &&
      (typeName == Words::kEffectCorona || typeName == Words::kEffectAttachment)) {
    MeshData* mesh = LoadedMeshFor(Grandparent());
    if (!mesh) return true;
    Report::TagError(tag, Msg::kAttachmentOnLoadedMesh, tag->value, name, mesh->GetMeshPath());
    return false;
  }
  if (manager->meshFailureReported || manager->meshAssetSeen) return true;
  Report::TagError(tag, Msg::kUnknownAttachment, tag->name, tag->value, PathFromRoot());
  return false;
}

bool Container::ExportChoiceText(Tag* tag, ACSChunkPtr& out, bool listBox) {
  bool passed = true;
  if (tag->value.Length() == 0) {
    if (listBox) {
      Report::TagError(tag, Msg::kEmptyListBox);
    } else {
      Report::TagError(tag, Msg::kEmptyComboBox, tag->name, name);
    }
    passed = false;
  } else if (tag->sourceBound && !ReferenceCheck(tag, !listBox)) {
    passed = false;
  }
  if (!tag->RunValidationRules()) passed = false;
  out.SetChildString(tag->name, tag->value.c_str());
  return passed;
}

bool Container::ExportComboBox(Tag* tag, ACSChunkPtr& out) { return ExportChoiceText(tag, out, false); }
bool Container::ExportListBox(Tag* tag, ACSChunkPtr& out) { return ExportChoiceText(tag, out, true); }

bool Container::ExportIntComboBox(Tag* tag, ACSChunkPtr& out) {
  bool passed = true;
  if (tag->value.Length() == 0) {
    Report::TagError(tag, Msg::kEmptyComboBox, tag->name, name);
    passed = false;
  }
  if (!tag->RunValidationRules()) passed = false;
  out.SetChildInt(tag->name, static_cast<int32_t>(std::strtol(tag->value.c_str(), nullptr, 10)));
  return passed;
}

bool Container::ExportDoubleString(Tag* tag, ACSChunkPtr& out) {
  bool passed = true;
  if (tag->name.Length() == 0) {
    Report::TagError(tag, Msg::kEmptyName, tag->name, name);
    passed = false;
  }
  if (tag->value.Length() == 0) Report::TagWarning(tag, Msg::kEmptyValue);
  if (!tag->RunValidationRules()) passed = false;
  out.SetChildString(Lower(tag->name), tag->value.c_str());
  return passed;
}

bool Container::ExportKuidValue(Tag* tag, ACSChunkPtr& out, bool emptyNameCheck, bool lowerName, bool kuidCheck) {
  bool passed = true;
  if (emptyNameCheck && tag->name.Length() == 0) {
    Report::TagError(tag, Msg::kEmptyName, tag->name, name);
    passed = false;
  }
  if (!tag->RunValidationRules()) passed = false;
  if (kuidCheck && !CheckKUIDTag(tag)) passed = false;
  out.SetChildKUID(lowerName ? Lower(tag->name) : tag->name, KUID::Parse(tag->value.c_str(), false));
  return passed;
}

bool Container::ExportKUID(Tag* tag, ACSChunkPtr& out) { return ExportKuidValue(tag, out, false, false, false); }
bool Container::ExportStringKUID(Tag* tag, ACSChunkPtr& out) { return ExportKuidValue(tag, out, true, true, false); }
bool Container::ExportKUIDBrowser(Tag* tag, ACSChunkPtr& out) { return ExportKuidValue(tag, out, false, false, true); }
bool Container::ExportStringKUIDBrowser(Tag* tag, ACSChunkPtr& out) {
  return ExportKuidValue(tag, out, true, false, true);
}

bool Container::ExportFile(Tag* tag, ACSChunkPtr& out) {
  bool passed = true;
  const char* value = tag->value.c_str();
  if (tag->value.Length() == 0) {
    Report::TagError(tag, Msg::kEmptyValue);
    passed = false;
  } else {
    for (const DataTypeExtensions& row : kFileExtensions) {
      if (!(tag->dataType == *row.dataType)) continue;
      bool allowed = false;
      for (const char* extension : row.extensions) allowed = allowed || IsExtension(value, extension);
      if (row.dataType == &Words::kMeshes)
        allowed = allowed || IsExtension(value, tag->fieldKind == kFieldFilePath ? "lm.txt" : "txt");
      if (!allowed) {
        Report::TagError(tag, row.failure, tag->name, name);
        passed = false;
      }
    }
  }
  if (!tag->RunValidationRules()) passed = false;
  std::string path = value;
  for (char& c : path)
    if (c == '/') c = '\\';
  if (IsExtension(path.c_str(), "txt")) path.resize(path.size() - 4);
  out.SetChildString(tag->name, path.c_str());
  return passed;
}

bool Container::ExportFilePath(Tag* tag, ACSChunkPtr& out) { return ExportFile(tag, out); }
bool Container::ExportFilePathEdit(Tag* tag, ACSChunkPtr& out) { return ExportFile(tag, out); }

bool Container::ExportOther(Tag* tag, ACSChunkPtr& out) {
  out.SetChildString(tag->name, tag->value.c_str());
  return true;
}

// ---------------------------------------------------------------- KUID check

bool CheckKUIDTag(Tag* tag) {
  if (tag->owner && tag->owner->name == Words::kObsoleteTable) return true;
  const KUID kuid = KUID::Parse(tag->value.c_str(), false);
  if (kuid.IsNull()) {
    Report::TagWarning(tag, Msg::kNullKuid, tag->name);
    return true;
  }
  AssetIndexQueries& queries = gQueries ? *gQueries : gIndexQueries;
  VADAssetStatus status;
  if (!queries.GetStatus(queries.Resolve(kuid), status)) {
    Report::TagWarning(tag, Msg::kUnknownAsset, kuid.ToConfigText());
    return true;
  }
  if (!(status.Flags() & VADAssetStatus::kInstalled)) {
    Report::TagWarning(tag, Msg::kAssetNotPresent, kuid.ToConfigText());
    return true;
  }
  if (tag->category.Length() == 0 || CategoryList::Match(tag->category.c_str(), status.text0)) return true;
  if (tag->name == Words::kMeshAsset) return true;
  Report::TagError(tag, Msg::kWrongCategory, tag->name);
  return false;
}

} // namespace RUZLib
