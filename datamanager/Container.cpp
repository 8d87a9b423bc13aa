// Building the config model from a config: the kind's schema entry, what it
// inherits, and one container or tag per child of the config.
#include "datamanager/Container.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "content/TextHelpers.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/ConfigReports.h"
#include "datamanager/LegacyUpgrade.h"
#include "datamanager/ValidationRules.h"
#include "datamanager/Vocabulary.h"

namespace RUZLib {

namespace {

int gLiveContainers = 0;
int gLiveTags = 0;

// Builds are compared in whole hundredths; below this a config is upgraded.
constexpr int kUpgradeBuild = 290;
constexpr float kDefaultBuild = 1.3f;
constexpr float kUpgradedBuild = 2.9f;
constexpr float kBridgeLevel = 0.001f;

constexpr std::string_view kDescriptionPrefix = "description-";
constexpr std::string_view kUsernamePrefix = "username-";
constexpr std::string_view kStringTablePrefix = "string-table-";
constexpr std::string_view kSmokePrefix = "smoke";
// Smoke tags a smoke with its own "file" does not need.
const char* const kSmokeFileTagNames[] = {"lifetime", "maxsize", "minsize", "rate", "velocity"};
// Schema and config words outside the shared vocabulary.
const Vak::PString kSequence("sequence");
const Vak::PString kFile("file");

bool StartsWith(const Vak::PString& text, std::string_view prefix) {
  return std::string_view(text.c_str()).substr(0, prefix.size()) == prefix;
}

bool IsIdentityName(const Vak::PString& name) {
  return name.EqualsIgnoreCase(Words::kKuid.c_str()) || name.EqualsIgnoreCase(Words::kUsername.c_str());
}

// The child chunk of that name (a container or a value), or null.
ACSChunkPtr ChildChunk(const ACSChunkPtr& parent, const Vak::PString& name) {
  if (!parent.Get()) return ACSChunkPtr();
  ACSChunkPtr child = parent->FindChild(name);
  return child.IsNull() ? ACSChunkPtr() : child;
}

// Copies every child of `from` into `into`, one of the same name replaced.
void CopyChildren(const ACSChunkPtr& from, ACSChunkPtr& into) {
  const int count = from.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = from.GetChildName(i);
    ACSChunkPtr child = ChildChunk(from, name);
    if (child.Get()) into.SetChild(name, child);
  }
}

// The name with its last one or two digits made "0" ("light12" gives
// "light0"); empty when it does not end in digits.
Vak::PString SequenceBaseName(const Vak::PString& name) {
  const std::string text = name.c_str();
  const std::size_t length = text.size();
  auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])) != 0; };
  if (length > 3 && digit(length - 1) && digit(length - 2)) return Vak::PString((text.substr(0, length - 2) + "0").c_str());
  if (length >= 3 && digit(length - 1)) return Vak::PString((text.substr(0, length - 1) + "0").c_str());
  return Vak::PString();
}

ACSChunkPtr LookUpTagEntry(const Vak::PString& name, const ACSChunkPtr& entry,
                           const std::vector<ACSChunkPtr>& inherited) {
  ACSChunkPtr found = entry.GetChildContainer(Words::kSubpossibilities).GetChildContainer(name);
  if (found.Get()) return found;
  for (const ACSChunkPtr& other : inherited) {
    found = other.GetChildContainer(Words::kSubpossibilities).GetChildContainer(name);
    if (found.Get()) return found;
  }
  for (const ACSChunkPtr& other : inherited) {
    found = other.GetChildContainer(Words::kTagarray).GetChildContainer(name);
    if (found.Get()) return found;
  }
  return entry.GetChildContainer(Words::kTagarray).GetChildContainer(name);
}

// Every rule runs, even after one failed.
template <typename Subject, typename Rule>
bool RunRules(Subject* subject, const std::vector<Rule>& rules, const std::vector<ACSChunkPtr>& arguments) {
  bool passed = true;
  for (std::size_t i = 0; i < rules.size(); ++i)
    if (!rules[i](subject, arguments[i])) passed = false;
  return passed;
}

void WalkFrom(const ACSChunkPtr& schema, const ACSChunkPtr& entry, std::vector<ACSChunk*>& path,
              InheritanceVisitor& visitor) {
  const ACSChunkPtr inherit = entry.GetChildContainer(Words::kInherit);
  const int count = inherit.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = inherit.GetChildName(i);
    ACSChunkPtr inherited = schema.GetChildContainer(name);
    if (inherited.Get() && std::find(path.begin(), path.end(), inherited.Get()) != path.end()) continue;
    visitor.Enter(name, inherited);
    if (inherited.Get()) {
      path.push_back(inherited.Get());
      WalkFrom(schema, inherited, path, visitor);
      path.pop_back();
    }
    visitor.Leave(name, inherited);
  }
}

} // namespace

// ------------------------------------------------------------------- tags

Tag::Tag(int32_t tagIndex, Container* tagOwner, const Vak::PString& tagName)
    : name(tagName), index(tagIndex), owner(tagOwner) {
  ++gLiveTags;
}

Tag::~Tag() {
  if (ErrorHandler* handler = ErrorHandler::Instance()) handler->RemoveTagMessage(this);
  if (DataManager* manager = DataManager::TryInstance()) manager->RemoveTagFromLists(this);
  --gLiveTags;
}

int Tag::LiveCount() { return gLiveTags; }

void Tag::ReadValidation(const ACSChunkPtr& subEntry) {
  const ACSChunkPtr validation = subEntry.GetChildContainer(Words::kValidation);
  const int count = validation.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString ruleName = validation.GetChildName(i);
    for (const ValidationRule<TagRule>& row : TagRules())
      if (row.name == ruleName) AddRule(row.function, ChildChunk(validation, ruleName));
  }
}

void Tag::AddRule(TagRule rule, const ACSChunkPtr& arguments) {
  rules.push_back(rule);
  ruleArguments.push_back(arguments);
}

bool Tag::RunValidationRules() { return RunRules(this, rules, ruleArguments); }

// ------------------------------------------------------------- containers

Container::Container() { ++gLiveContainers; }

Container::~Container() {
  if (ErrorHandler* handler = ErrorHandler::Instance()) handler->RemoveContainerMessage(this);
  if (DataManager* manager = DataManager::TryInstance()) {
    manager->RemoveLoadedObject(this);
    manager->ClearReferenceList(Words::kAttachedTrack);
    manager->ClearReferenceList(Words::kQueues);
    manager->ClearReferenceList(Words::kMeshTable);
    manager->RemoveContainerFromLists(this);
  }
  --gLiveContainers;
  for (Tag* tag : tags) delete tag;
  for (Tag* tag : identityTags) delete tag;
  for (Tag* tag : optionalTags) delete tag;
  for (Container* child : children) delete child;
}

int Container::LiveCount() { return gLiveContainers; }

void Container::AddTag(Tag* tag) {
  if (IsIdentityName(tag->name)) {
    identityTags.push_back(tag);
  } else {
    tags.push_back(tag);
  }
}

void Container::AddChild(Container* child) { children.push_back(child); }

void Container::AddContainerRule(ContainerRule rule, const ACSChunkPtr& arguments) {
  rules.push_back(rule);
  ruleArguments.push_back(arguments);
}

bool Container::RunValidationRules() { return RunRules(this, rules, ruleArguments); }

void Container::AddElementType(const Vak::PString& elementName, const ACSChunkPtr& type) {
  if (std::find(elementNames.begin(), elementNames.end(), elementName) != elementNames.end()) return;
  elementNames.push_back(elementName);
  elementTypes.push_back(type);
}

void Container::AttachRawChunk(const ACSChunkPtr& chunk) { extensions.DeepCopy(chunk); }

void Container::RemoveOptionalTag(const Vak::PString& tagName) {
  auto it = std::find_if(optionalTags.begin(), optionalTags.end(), [&](Tag* tag) { return tag->name == tagName; });
  if (it == optionalTags.end()) return;
  Tag* tag = *it;
  optionalTags.erase(it);
  delete tag;
}

Tag* Container::FindTag(const Vak::PString& tagName) const {
  for (const std::vector<Tag*>* list : {&tags, &identityTags})
    for (Tag* tag : *list)
      if (tag->name == tagName) return tag;
  return nullptr;
}

Vak::PString Container::ConfigKind() const {
  const Container* root = this;
  while (root->parent) root = root->parent;
  return root->config.GetChildString(Words::kKind);
}

Vak::PString Container::PathFromRoot() const {
  std::vector<const Container*> chain;
  for (const Container* node = this; node && node->parent; node = node->parent) chain.push_back(node);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += (*it)->name.c_str();
  }
  return Vak::PString(path.c_str());
}

ACSChunkPtr Container::FindSchemaEntry(const Vak::PString& entryName) const {
  return schema.GetChildContainer(entryName);
}

// ------------------------------------------------------------------ schema

ACSChunkPtr FindKindSchemaEntry(const Vak::PString& kind) {
  DataManager* manager = DataManager::Instance();
  Vak::PString lower = kind;
  LowerCasePString(lower);
  auto topLevel = [&]() {
    ACSChunkPtr entry = manager->GetSchema().GetChildContainer(lower);
    return entry.Get() && entry.GetChildInt(Words::kTopLevel, 0) != 0 ? entry : ACSChunkPtr();
  };
  ACSChunkPtr entry = topLevel();
  if (entry.Get()) return entry;
  manager->LoadSchema();
  return topLevel();
}

ACSChunkPtr FindTagSchemaEntry(const Vak::PString& tagName, const ACSChunkPtr& entry,
                               const std::vector<ACSChunkPtr>& inherited) {
  ACSChunkPtr found = LookUpTagEntry(tagName, entry, inherited);
  if (found.Get()) return found;
  const Vak::PString base = SequenceBaseName(tagName);
  if (base.Length() == 0) return ACSChunkPtr();
  found = LookUpTagEntry(base, entry, inherited);
  return found.Get() && found.GetChildInt(kSequence, 0) != 0 ? found : ACSChunkPtr();
}

void WalkInheritance(const ACSChunkPtr& schema, const ACSChunkPtr& entry, InheritanceVisitor& visitor) {
  std::vector<ACSChunk*> path{entry.Get()};
  WalkFrom(schema, entry, path, visitor);
}

std::vector<ACSChunkPtr> InheritedEntries(const ACSChunkPtr& schema, const ACSChunkPtr& entry) {
  struct Collector : InheritanceVisitor {
    std::vector<ACSChunkPtr> entries;
    void Enter(const Vak::PString&, const ACSChunkPtr& inherited) override {
      if (inherited.Get()) entries.push_back(inherited);
    }
    void Leave(const Vak::PString&, const ACSChunkPtr&) override {}
  } collector;
  WalkInheritance(schema, entry, collector);
  return std::move(collector.entries);
}

MergedSchema MergeInheritedSchema(const ACSChunkPtr& schema, const ACSChunkPtr& entry) {
  struct Merger : InheritanceVisitor {
    MergedSchema merged;
    void Enter(const Vak::PString& name, const ACSChunkPtr&) override { merged.inheritedNames.push_back(name); }
    void Leave(const Vak::PString&, const ACSChunkPtr& inherited) override { Take(inherited); }
    void Take(const ACSChunkPtr& from) {
      CopyChildren(from.GetChildContainer(Words::kSubpossibilities), merged.subpossibilities);
      CopyChildren(from.GetChildContainer(Words::kTagarray), merged.tagArray);
      CopyChildren(from.GetChildContainer(Words::kArrayElement), merged.arrayElements);
    }
  } merger;
  merger.merged.subpossibilities.MakeContainer();
  merger.merged.tagArray.MakeContainer();
  merger.merged.arrayElements.MakeContainer();
  WalkInheritance(schema, entry, merger);
  merger.Take(entry);
  return std::move(merger.merged);
}

ACSChunkPtr CollectInheritedValidation(const ACSChunkPtr& schema, const ACSChunkPtr& entry) {
  struct Collector : InheritanceVisitor {
    ACSChunkPtr validation;
    void Leave(const Vak::PString&, const ACSChunkPtr& inherited) override {
      CopyChildren(inherited.GetChildContainer(Words::kValidation), validation);
    }
  } collector;
  collector.validation.MakeContainer();
  CopyChildren(entry.GetChildContainer(Words::kValidation), collector.validation);
  WalkInheritance(schema, entry, collector);
  return collector.validation;
}

void MoveIdentityTagsFirst(Container* container) {
  container->tags.insert(container->tags.begin(), container->identityTags.begin(), container->identityTags.end());
  container->identityTags.clear();
}

void Container::ApplySchema(const ACSChunkPtr& entry, int flag) {
  MergedSchema merged = MergeInheritedSchema(schema, entry);
  for (const Vak::PString& inheritedName : merged.inheritedNames) inheritedNames.push_back(inheritedName);
  const int count = merged.subpossibilities.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString subName = merged.subpossibilities.GetChildName(i);
    const ACSChunkPtr sub = merged.subpossibilities.GetChildContainer(subName);
    if (!sub.Get()) continue;
    const Vak::PString kind = sub.GetChildString(Words::kKind);
    const bool compulsory = sub.GetChildInt(Words::kCompulsory, 0) != 0;
    if (kind == Words::kElement) {
      const ACSChunkPtr type = FindSchemaEntry(sub.GetChildString(Words::kElementType));
      if (compulsory) compulsoryElementTypes.push_back(type);
      AddElementType(subName, type);
    } else if (kind == Words::kValue && (!compulsory || flag == 0)) {
      Tag* tag = CreateTag(this, subName, sub, ACSChunkPtr());
      if (!tag) continue;
      tag->ReadValidation(sub);
      if (compulsory) {
        AddTag(tag);
      } else {
        optionalTags.push_back(tag);
      }
    }
  }
  tagArray = merged.tagArray;
  const int elements = merged.arrayElements.GetChildCount();
  for (int i = 0; i < elements; ++i) {
    const Vak::PString typeName = merged.arrayElements.GetChildString(merged.arrayElements.GetChildName(i));
    if (typeName.Length() > 0) AddElementType(typeName, FindSchemaEntry(typeName));
  }
}

void Container::ReadValidation(const ACSChunkPtr& entry, Container* target) {
  const ACSChunkPtr validation = CollectInheritedValidation(schema, entry);
  const int count = validation.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString ruleName = validation.GetChildName(i);
    for (const ValidationRule<ContainerRule>& row : ContainerRules())
      if (row.name == ruleName) target->AddContainerRule(row.function, ChildChunk(validation, ruleName));
  }
}

std::vector<Vak::PString> Container::GetCompulsoryNames(const ACSChunkPtr& entry) {
  std::vector<Vak::PString> names;
  const ACSChunkPtr subs = entry.GetChildContainer(Words::kSubpossibilities);
  const int count = subs.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString subName = subs.GetChildName(i);
    const ACSChunkPtr sub = subs.GetChildContainer(subName);
    if (sub.GetChildInt(Words::kCompulsory, 0) != 0 && sub.GetChildString(Words::kElement).Length() == 0)
      names.push_back(subName);
  }
  return names;
}

void Container::ReadObsoleteTags(const ACSChunkPtr& entry) {
  const ACSChunkPtr obsolete = entry.GetChildContainer(Words::kObsoleteTag);
  const int count = obsolete.GetChildCount();
  for (int i = 0; i < count; ++i) obsoleteNames.push_back(obsolete.GetChildName(i));
}

ACSChunkPtr Container::FindChildEntry(const ACSChunkPtr& entry, const Vak::PString& childName) {
  const ACSChunkPtr subs = entry.GetChildContainer(Words::kSubpossibilities);
  ACSChunkPtr found = subs.GetChildContainer(childName);
  if (found.Get()) return found;
  found = entry.GetChildContainer(Words::kArrayElement);
  if (found.Get()) return found;
  if (childName == Words::kZero || std::atoi(childName.c_str()) != 0) {
    const int count = subs.GetChildCount();
    for (int i = 0; i < count; ++i) {
      const ACSChunkPtr sub = subs.GetChildContainer(subs.GetChildName(i));
      if (sub.GetChildInt(Words::kNumarray, 0) != 0) return sub;
    }
  }
  return ACSChunkPtr();
}

bool Container::CheckChildName(const ACSChunkPtr& entry, const Vak::PString& childName, Container* owner,
                               ACSChunkPtr& subEntry) {
  const Vak::PString lookedUp = StartsWith(childName, kStringTablePrefix) ? Words::kStringTable : childName;
  subEntry = FindChildEntry(entry, lookedUp);
  if (subEntry.Get()) return true;
  if (!StartsWith(childName, kSmokePrefix)) return false;
  subEntry = FindSchemaEntry(Words::kSmoke);
  if (subEntry.Get()) return true;
  Report::ContainerError(owner, Msg::kNoSmokeEntry);
  return false;
}

Vak::PString Container::ChooseContainerType(const ACSChunkPtr& subEntry, const Vak::PString& childName) {
  for (int i = 0;; ++i) {
    Vak::PString key;
    key.Setf("container-type%i", i);
    if (!subEntry.HasChild(key)) break;
    const Vak::PString type = subEntry.GetChildString(key);
    if (std::strstr(type.c_str(), childName.c_str())) return type;
  }
  return subEntry.GetChildString(Words::kContainerType0);
}

Tag* Container::NewTag(int32_t tagIndex, Container* owner, const Vak::PString& tagName) {
  return new Tag(tagIndex, owner, tagName);
}

Tag* Container::CreateTag(Container* owner, const Vak::PString& tagName, const ACSChunkPtr& subEntry,
                          const ACSChunkPtr& fromConfig) {
  if (owner->FindTag(tagName)) return nullptr;
  Tag* tag = NewTag(static_cast<int32_t>(owner->tags.size()), owner, tagName);
  Vak::PString value = fromConfig.GetChildString(tagName);
  if (value.Length() == 0) {
    value = subEntry.GetChildString(Words::kDefault);
    if (value == Words::kParent) value = owner->name;
  }
  tag->value = value;
  if (subEntry.GetChildInt(Words::kCompulsory, 0) == 0 && fromConfig.Get()) owner->RemoveOptionalTag(tagName);
  // The hook records nothing, so it gets the entry's format and the name
  // rather than a text formatted for every tag.
  if (ErrorHandler* handler = ErrorHandler::Instance())
    handler->TraceDetail(DataManager::Instance()->GetString(Msg::kTraceTag).c_str(), tagName.c_str());
  SetupTagFromSchema(tag, subEntry, fromConfig, owner);
  return tag;
}

Container* Container::NewChild(const Vak::PString& childName, Container* owner, const Vak::PString& type,
                               int32_t childIndex, const ACSChunkPtr& childConfig) {
  const ACSChunkPtr typeEntry = FindSchemaEntry(type);
  if (!typeEntry.Get()) {
    Report::ContainerError(owner, Msg::kUnknownContainerType, type);
    return nullptr;
  }
  Container* child = new Container();
  child->name = childName;
  child->parent = owner;
  child->typeName = type;
  child->index = childIndex;
  child->schema = schema;
  child->config = childConfig;
  child->keyName = typeEntry.GetChildString(Words::kSavingname);
  return child;
}

// ------------------------------------------------------------------- load

bool Container::Load(ACSChunkPtr fromConfig) {
  DataManager* manager = DataManager::Instance();
  // The sum is a double (the float read plus 0.001) and is compared as one;
  // only the data manager's copy is narrowed.
  const double build = fromConfig.GetChildFloat(Words::kVelmarBuild, kDefaultBuild) + 0.001;
  manager->currentBuild = static_cast<float>(build);
  const int hundredths = BuildHundredths(build, kBuildBiasNone);
  if (hundredths < kUpgradeBuild) {
    UpgradeLegacyConfig(fromConfig);
    fromConfig.SetChildFloat(Words::kVelmarBuild, kUpgradedBuild);
  }

  Vak::PString kind = fromConfig.GetChildString(Words::kKind);
  if (kind == Words::kBridge) {
    const float height = fromConfig.GetChildFloat(Words::kHeight, 0.0f);
    if (height > kBridgeLevel) {
      kind = Words::kTunnel;
    } else if (height >= -kBridgeLevel) {
      kind = Words::kDoubleTrack;
    }
  } else if (kind == Words::kTrack && hundredths < kUpgradeBuild) {
    if (fromConfig.HasChild(Words::kChunkyMesh)) {
      kind = Words::kChunkyTrack;
    } else if (fromConfig.HasChild(Words::kUnitMesh)) {
      kind = Words::kMeshReducingTrack;
    } else {
      kind = Words::kObsoleteTrack;
    }
  } else if (kind == Words::kScenery && fromConfig.HasChild(Words::kTrackside)) {
    kind = Words::kSceneryTrackside;
  }

  if (kind.Length() == 0) {
    Report::Error(Msg::kNoKind);
    return false;
  }
  const ACSChunkPtr entry = FindKindSchemaEntry(kind);
  if (!entry.Get()) {
    Report::Error(Msg::kKindNotTopLevel);
    return false;
  }

  config = fromConfig;
  schema = manager->GetSchema();
  parent = nullptr;
  index = 0;
  name = kind;
  typeName = kind;
  loaded = 1;
  ApplySchema(entry, 1);
  ReadValidation(entry, this);
  if (fromConfig.HasChild(Words::kAlias)) {
    manager->meshAssetSeen = true;
    Report::Warning(Msg::kAliasUsed);
  }
  return BuildFromConfig(fromConfig, entry, this);
}

bool Container::BuildChild(Container* child, const ACSChunkPtr& typeEntry, const ACSChunkPtr& childConfig,
                           Container* owner) {
  child->ApplySchema(typeEntry, 1);
  owner->ReadValidation(typeEntry, child);
  owner->AddChild(child);
  if (child->BuildFromConfig(childConfig, typeEntry, child)) return true;
  std::erase(owner->children, child);
  delete child;
  return false;
}

bool Container::BuildFromConfig(const ACSChunkPtr& fromConfig, const ACSChunkPtr& entry, Container* owner) {
  DataManager* manager = DataManager::Instance();
  const std::vector<ACSChunkPtr> inherited = InheritedEntries(schema, entry);
  std::vector<Vak::PString> compulsory = GetCompulsoryNames(entry);
  owner->ReadObsoleteTags(entry);
  for (const ACSChunkPtr& other : inherited) {
    for (const Vak::PString& more : GetCompulsoryNames(other)) compulsory.push_back(more);
    owner->ReadObsoleteTags(other);
  }

  bool built = true;
  const int count = fromConfig.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString childName = fromConfig.GetChildName(i);
    Report::Trace("we're now doing the tag: %s", childName);
    const ACSChunkPtr childConfig = fromConfig.GetChildContainer(childName);
    if (childConfig.Get()) {
      ACSChunkPtr sub;
      bool known = CheckChildName(entry, childName, owner, sub);
      for (std::size_t k = 0; !known && k < inherited.size(); ++k)
        known = CheckChildName(inherited[k], childName, owner, sub);
      if (!known) {
        if (std::find(owner->obsoleteNames.begin(), owner->obsoleteNames.end(), childName) !=
            owner->obsoleteNames.end()) {
          Report::Warning(Msg::kObsoleteName, childName, owner->name);
        } else {
          Report::ContainerError(owner, Msg::kUnknownName, childName, owner->name);
        }
        if (childName == Words::kDotCache) Report::Error(Msg::kCacheFolder);
        continue;
      }
      const auto childIndex = static_cast<int32_t>(owner->children.size());
      Vak::PString type;
      if (sub.HasChild(Words::kContainerType0)) {
        type = ChooseContainerType(sub, childName);
        Report::Trace("we're now up to %s", type);
      } else if (sub.GetChildString(Words::kKind) == Words::kElement) {
        type = sub.GetChildString(Words::kElementType);
      } else if (sub.GetChildString(Words::kIcon) == Words::kSmoke || sub == FindSchemaEntry(Words::kSmoke)) {
        type = Words::kSmoke;
      } else {
        Report::ContainerError(owner, Msg::kUnknownChildKind, childName);
        continue;
      }
      Container* child = NewChild(childName, owner, type, childIndex, childConfig);
      if (!child) return false;
      manager->AddReference(owner->name, child);
      if (!BuildChild(child, FindSchemaEntry(type), childConfig, owner)) built = false;
      continue;
    }

    std::erase(compulsory, childName);
    Vak::PString lookedUp = childName;
    if (StartsWith(childName, kDescriptionPrefix)) lookedUp = Words::kDescription;
    if (StartsWith(childName, kUsernamePrefix)) lookedUp = Words::kUsername;
    const ACSChunkPtr sub = FindTagSchemaEntry(lookedUp, entry, inherited);
    if (Tag* tag = CreateTag(owner, childName, sub, fromConfig)) {
      tag->ReadValidation(sub);
      owner->AddTag(tag);
    }
  }

  const bool hasFile = owner->FindTag(kFile) != nullptr;
  for (const Vak::PString& missing : compulsory) {
    const bool smokeTag = std::any_of(std::begin(kSmokeFileTagNames), std::end(kSmokeFileTagNames),
                                      [&](const char* word) { return std::strcmp(missing.c_str(), word) == 0; });
    if (smokeTag && hasFile) continue;
    const ACSChunkPtr sub = FindTagSchemaEntry(missing, entry, inherited);
    Tag* tag = CreateTag(owner, missing, sub, ACSChunkPtr());
    if (!tag) continue;
    Report::TagWarning(tag, Msg::kMissingCompulsoryTag, missing);
    owner->AddTag(tag);
  }
  MoveIdentityTagsFirst(owner);
  return built;
}

} // namespace RUZLib
