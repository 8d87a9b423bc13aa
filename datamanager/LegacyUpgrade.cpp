#include "datamanager/LegacyUpgrade.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "assetdb/CategoryList.h"
#include "content/KUID.h"
#include "datamanager/BuildNumber.h"
#include "datamanager/DataManager.h"
#include "datamanager/MeshData.h"
#include "datamanager/Vocabulary.h"

namespace RUZLib {

namespace {

constexpr int kUpgradeBuild = 290;
constexpr float kUpgradedBuild = 2.9f;
constexpr int kThumbnailSize = 64;

CurrentConfigFunction gCurrentConfig = nullptr;

// Tag names only the upgrade reads, interned once on first use.
struct LegacyWords {
  const Vak::PString asset{"asset"};
  const Vak::PString auteur{"auteur"};
  const Vak::PString bendy{"bendy"};
  const Vak::PString descriptionColon{"description:"};
  const Vak::PString function{"function"};
  const Vak::PString organization{"organization"};
  const Vak::PString userName{"user-name"};
  std::vector<Vak::PString> removedTags;
  std::vector<Vak::PString> strayWords;

  LegacyWords() {
    // Junk a legacy config carries that nothing reads any more.
    for (const char* text : {";", "\"", "rem", "licence", "disclaimer:", "licence:", "licence:-", "name-ru", "name-es",
                             "name-fr", "name-pl", "name-de", "name-it", "name-cz", "name-cn", "name-nl", "origin",
                             "objremarks", "origregion", "orgname", "origname", "moxel", "company", "velmar",
                             "velmar_build", "train-build", "version", "obsolete"})
      removedTags.emplace_back(text);
    // Words of free licence text that the chunk reader took for tag names.
    for (const char* text : {"by", "you", "this", "the", "these", "-", "all", "copyright", "use", "have", "check",
                             "only", "keep", "for", "in", "alternate", "feel", "no", "contact", "created", "//", ";",
                             "*"})
      strayWords.emplace_back(text);
  }
};

const LegacyWords& Legacy() {
  static const LegacyWords words;
  return words;
}

Vak::PString Numbered(const char* format, int n) {
  Vak::PString name;
  name.Setf(format, n);
  return name;
}

ACSChunkPtr NewContainer() {
  ACSChunkPtr chunk;
  chunk.MakeContainer();
  return chunk;
}

bool EndsWith(const char* text, char last) {
  const std::size_t length = std::strlen(text);
  return length > 0 && text[length - 1] == last;
}

// A copy of the child that belongs to nobody yet, so that it can be stored
// under another name while the original is still in place.
ACSChunkPtr CopyChild(const ACSChunkPtr& parent, const Vak::PString& name) {
  ACSChunkPtr child = parent->FindChild(name);
  ACSChunkPtr copy;
  if (child->GetType() == kACSContainer) {
    copy.DeepCopy(child);
  } else {
    copy = parent->CreateChunk(child->GetType(), ACSRawDataCore::CreateCopy(child->GetDataSize(), child->GetData()));
  }
  return copy;
}

// The value moves to `to` (unless `onlyWhenMissing` and `to` exists); the
// old tag goes either way.
void MoveTag(ACSChunkPtr& config, const Vak::PString& from, const Vak::PString& to, bool onlyWhenMissing) {
  if (!config.HasChild(from)) return;
  const bool move = !onlyWhenMissing || !config.HasChild(to);
  const ACSChunkPtr copy = move ? CopyChild(config, from) : ACSChunkPtr();
  config.RemoveChild(from);
  if (move) config.SetChild(to, copy);
}

void RemoveAll(ACSChunkPtr& config, const std::vector<Vak::PString>& names) {
  for (const Vak::PString& name : names) config.RemoveChild(name);
}

// A name under "subpossibilities" of a schema entry whose "top-level" is set.
bool IsTopLevelTag(const ACSChunkPtr& schema, const Vak::PString& name) {
  const int count = schema.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const ACSChunkPtr entry = schema.GetChildContainerAt(i);
    if (!entry.Get() || entry.GetChildInt(Words::kTopLevel, 0) == 0) continue;
    if (entry.GetChildContainer(Words::kSubpossibilities).HasChild(name)) return true;
  }
  return false;
}

// Numbered category tags joined into one list; false when none was found.
bool CollectNumbered(ACSChunkPtr& config, const char* format, bool era, std::string& list) {
  bool found = false;
  for (int i = 0;; ++i) {
    const Vak::PString tag = Numbered(format, i);
    Vak::PString value = config.GetChildString(tag);
    if (value.Length() == 0) {
      if (i == 0) continue;
      break;
    }
    if (era) {
      if (!EndsWith(value.c_str(), 's')) value = value + "s";
    } else {
      value.ToUpper();
    }
    if (found) list += ';';
    list += value.c_str();
    config.RemoveChild(tag);
    found = true;
  }
  return found;
}

int ValueParts(const ACSChunkPtr& config, const Vak::PString& name) {
  const int type = config.GetChildType(name);
  if (type == kACSInt || type == kACSFloat) return static_cast<int>(config->FindChild(name)->GetDataSize() / 4);
  int parts = 1;
  for (const char* c = config.GetChildString(name).c_str(); *c; ++c) parts += *c == ',' ? 1 : 0;
  return parts;
}

void BuildThumbnails(ACSChunkPtr& config) {
  ACSChunkPtr entry = NewContainer();
  entry.SetChildString(Words::kImage, config.GetChildString(Words::kIconTexture).c_str());
  entry.SetChildInt(Words::kWidth, kThumbnailSize);
  entry.SetChildInt(Words::kHeight, kThumbnailSize);
  ACSChunkPtr thumbnails = NewContainer();
  thumbnails.SetChild(Words::kZero, entry);
  config.SetChild(Words::kThumbnails, thumbnails);
  config.RemoveChild(Words::kIconTexture);
}

std::string InFolder(const char* folder, const std::string& file) { return std::string(folder) + "/" + file; }

ACSChunkPtr MeshEntry(const std::string& mesh, int autoCreate) {
  ACSChunkPtr entry = NewContainer();
  entry.SetChildString(Words::kMesh, mesh.c_str());
  if (autoCreate >= 0) entry.SetChildInt(Words::kAutoCreate, autoCreate);
  return entry;
}

// A mesh of the current asset folder, loaded without an owner so that its
// problems are not the config's; null when it did not load.
std::unique_ptr<MeshData> LoadAssetMesh(const DataManager& manager, const std::string& file) {
  Vak::File::Path path(manager.GetCurrentAssetFolder().c_str());
  path.AddPath(file.c_str());
  path.ReplaceForwardSlashes();
  auto mesh = std::make_unique<MeshData>();
  if (!mesh->Load(Vak::PString(static_cast<const char*>(path)), nullptr)) return nullptr;
  return mesh;
}

bool HasAttachment(const MeshData& mesh, const Vak::PString& name) {
  for (const MeshAttachment& point : mesh.GetAttachments())
    if (point.name == name) return true;
  return false;
}

// Entries of "attached-track" for each pair of points `pointFormat` names
// (word, number, 'a' or 'b') that the mesh has, from number 0 on.
void AddAttachedTracks(ACSChunkPtr& attached, const MeshData& mesh, const char* word, const char* pointFormat,
                       const char* entryFormat, const KUID& track, int useAdjoining) {
  for (int n = 0;; ++n) {
    Vak::PString first;
    Vak::PString second;
    first.Setf(pointFormat, word, n, 'a');
    second.Setf(pointFormat, word, n, 'b');
    if (!HasAttachment(mesh, first) || !HasAttachment(mesh, second)) return;
    ACSChunkPtr vertices = NewContainer();
    vertices.SetChildString(Words::kZero, first.c_str());
    vertices.SetChildString(Words::kOne, second.c_str());
    ACSChunkPtr entry = NewContainer();
    entry.SetChild(Words::kVertices, vertices);
    entry.SetChildKUID(Words::kTrack, track);
    entry.SetChildInt(Words::kUseadjoiningtracktype, useAdjoining);
    Vak::PString name;
    name.Setf(entryFormat, word, n);
    attached.SetChild(name, entry);
  }
}

void BuildBogeyTable(ACSChunkPtr& config, const std::string& asset) {
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, MeshEntry(asset + ".pm", 1));
  table.SetChild(Words::kShadow, MeshEntry(InFolder((asset + "_shadow").c_str(), asset + "_shadow.pm"), 0));
  config.SetChild(Words::kMeshTable, table);
}

void BuildTraincarTable(ACSChunkPtr& config, const std::string& asset) {
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, MeshEntry(InFolder((asset + "_body").c_str(), asset + "_body.pm"), 1));
  table.SetChild(Words::kShadow, MeshEntry(InFolder((asset + "_shadow").c_str(), asset + "_shadow.pm"), 0));
  config.SetChild(Words::kMeshTable, table);
}

void BuildBogeyList(ACSChunkPtr& config) {
  ACSChunkPtr bogeys = NewContainer();
  int entries = 0;
  auto take = [&](const Vak::PString& tag, int reversed) {
    ACSChunkPtr entry = NewContainer();
    entry.SetChildKUID(Words::kBogey, config.GetChildKUID(tag, KUID::Null()));
    entry.SetChildInt(Words::kReversed, reversed);
    bogeys.SetChild(Numbered("%d", entries++), entry);
    config.RemoveChild(tag);
  };
  bool single = false;
  if (config.HasChild(Words::kBogey)) {
    take(Words::kBogey, 0);
    single = true;
  }
  if (config.HasChild(Words::kBogeyR)) {
    take(Words::kBogeyR, 1);
    single = true;
  }
  for (int n = single ? 1 : 0;; ++n) {
    const Vak::PString forward = Numbered("bogey-%d", n);
    const Vak::PString reversed = Numbered("bogey-%d-r", n);
    const bool hasForward = config.HasChild(forward);
    const bool hasReversed = config.HasChild(reversed);
    if (!hasForward && !hasReversed) break;
    if (hasForward) take(forward, 0);
    if (hasReversed) take(reversed, 1);
  }
  config.SetChild(Words::kBogeys, bogeys);
}

void BuildJunctionTable(ACSChunkPtr& config) {
  ACSChunkPtr table = NewContainer();
  const Vak::PString* modes[] = {&Words::kMode0, &Words::kMode1};
  for (int i = 0; i < 2; ++i) {
    const Vak::PString value = config.GetChildString(*modes[i]);
    Vak::PString name = value;
    name.ToLower();
    ACSChunkPtr entry = NewContainer();
    entry.SetChildString(Words::kMesh, InFolder(value.c_str(), std::string(value.c_str()) + ".im").c_str());
    entry.SetChildString(Words::kAutoCreate, i == 0 ? "1" : "0");
    table.SetChild(name, entry);
  }
  config.SetChild(Words::kMeshTable, table);
  config.RemoveChild(Words::kMode0);
  config.RemoveChild(Words::kMode1);
}

void BuildInteriorTable(ACSChunkPtr& config) {
  const ACSChunkPtr attachments = config.GetChildContainer(Words::kAttachment);
  const int count = attachments.GetChildCount();
  for (int i = 0; i < count; ++i) {
    ACSChunkPtr point = attachments.GetChildContainerAt(i);
    if (point.Get() && point.HasChild(Words::kAtt) && !point.HasChild(Words::kAttParent))
      point.SetChildString(Words::kAttParent, Words::kDefault.c_str());
  }
  const Vak::PString mesh = config.GetChildString(Words::kMesh);
  if (mesh.Length() == 0) return;
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, MeshEntry(mesh.c_str(), 1));
  config.SetChild(Words::kMeshTable, table);
  config.RemoveChild(Words::kMesh);
}

// Counts the mesh's name points "a.name0", "a.name1", ... up to the first
// one missing. They are attachment points like the track ends of turntables
// and crossings; see docs/decisions.md.
int CountNamePoints(const DataManager& manager, const std::string& asset) {
  const std::unique_ptr<MeshData> mesh = LoadAssetMesh(manager, asset + ".im");
  if (!mesh) return 0;
  int count = 0;
  while (HasAttachment(*mesh, Numbered("a.name%d", count))) ++count;
  return count;
}

void BuildSceneryTable(ACSChunkPtr& config, const DataManager& manager, const std::string& asset) {
  ACSChunkPtr entry = NewContainer();
  entry.SetChildInt(Words::kAutoCreate, 1);
  entry.SetChildString(Words::kMesh, (asset + ".im").c_str());
  if (config.GetChildInt(Words::kAutoAnimation, 0) != 0) {
    entry.SetChildString(Words::kAnim, Words::kAnimKin.c_str());
    entry.SetChildFloat(Words::kAnimationLoopSpeed, 1.0f);
  }
  config.RemoveChild(Words::kAutoAnimation);
  const int points = CountNamePoints(manager, asset);
  if (points > 0) {
    ACSChunkPtr effects = NewContainer();
    for (int i = 0; i < points; ++i) {
      ACSChunkPtr effect = NewContainer();
      effect.SetChildString(Words::kKind, Words::kName.c_str());
      effect.SetChildString(Words::kAtt, Numbered("a.name%d", i).c_str());
      for (const Vak::PString* copied : {&Words::kFontcolor, &Words::kFontsize})
        if (config.GetChildString(*copied).Length() > 0) effect.SetChild(*copied, CopyChild(config, *copied));
      effect.SetChildString(Words::kName, Words::kName.c_str());
      effects.SetChild(Numbered("%d", i), effect);
    }
    entry.SetChild(Words::kEffects, effects);
  }
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, entry);
  if (config.HasChild(Words::kNight)) {
    const std::string night = config.GetChildString(Words::kNight).c_str();
    config.RemoveChild(Words::kNight);
    ACSChunkPtr nightEntry = MeshEntry(InFolder(night.c_str(), night + ".im"), -1);
    nightEntry.SetChildString(Words::kNightMeshBase, Words::kDefault.c_str());
    table.SetChild(Words::kNight, nightEntry);
  }
  config.SetChild(Words::kMeshTable, table);
}

void BuildTurntableTable(ACSChunkPtr& config, const DataManager& manager) {
  const std::string inner = config.GetChildString(Words::kMode0).c_str();
  const std::string outer = config.GetChildString(Words::kMode1).c_str();
  const std::string defaultMesh = InFolder(inner.c_str(), inner + ".im");
  const std::string turntableMesh = InFolder(outer.c_str(), outer + ".im");
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, MeshEntry(defaultMesh, 1));
  table.SetChild(Words::kTurntable, MeshEntry(turntableMesh, -1));
  config.SetChild(Words::kMeshTable, table);
  const std::unique_ptr<MeshData> base = LoadAssetMesh(manager, defaultMesh);
  const std::unique_ptr<MeshData> turning = LoadAssetMesh(manager, turntableMesh);
  config.RemoveChild(Words::kMode0);
  config.RemoveChild(Words::kMode1);
  if (config.HasChild(Words::kAttachedTrack) || !base || !turning) return;
  ACSChunkPtr attached = NewContainer();
  const KUID track = config.GetChildKUID(Words::kTrack, KUID::Null());
  AddAttachedTracks(attached, *base, "o", "a.%strack%d%c", "track%s%d", track, 0);
  AddAttachedTracks(attached, *turning, "i", "a.%strack%d%c", "track%s%d", track, 0);
  config.SetChild(Words::kAttachedTrack, attached);
  config.RemoveChild(Words::kTrack);
}

void BuildCrossingTable(ACSChunkPtr& config, const DataManager& manager) {
  std::string mode = config.GetChildString(Words::kMode0).c_str();
  if (mode.empty()) mode = Words::kMode0.c_str();
  const std::string mesh = InFolder(mode.c_str(), mode + ".im");
  ACSChunkPtr entry = MeshEntry(mesh, -1);
  entry.SetChildString(Words::kAnim, InFolder(mode.c_str(), Words::kAnimKin.c_str()).c_str());
  entry.SetChildInt(Words::kAutoCreate, 1);
  ACSChunkPtr table = NewContainer();
  table.SetChild(Words::kDefault, entry);
  config.SetChild(Words::kMeshTable, table);
  const std::unique_ptr<MeshData> loaded = LoadAssetMesh(manager, mesh);
  if (!loaded) return;
  config.RemoveChild(Words::kMode0);
  config.RemoveChild(Words::kMode1);
  if (config.HasChild(Words::kAttachedTrack)) return;
  ACSChunkPtr attached = NewContainer();
  AddAttachedTracks(attached, *loaded, Words::kRoad.c_str(), "a.%s%d%c", "%s%d",
                    config.GetChildKUID(Words::kRoad, KUID::Null()), 1);
  AddAttachedTracks(attached, *loaded, Words::kTrack.c_str(), "a.%s%d%c", "%s%d",
                    config.GetChildKUID(Words::kTrack, KUID::Null()), 1);
  config.SetChild(Words::kAttachedTrack, attached);
}

void UpgradeCameras(ACSChunkPtr& config) {
  if (config.HasChild(Words::kCamera)) {
    ACSChunkPtr list = config.GetChildContainer(Words::kCameralist);
    const bool created = !list.Get();
    if (created) list = NewContainer();
    std::vector<float> values;
    config.GetChildFloatArray(Words::kCamera, values);
    values.push_back(0.0f);
    values.push_back(0.0f);
    list.SetChildFloatArray(Numbered("camera%d", list.GetChildCount()), values.data(),
                            static_cast<uint32_t>(values.size()));
    if (created) config.SetChild(Words::kCameralist, list);
    config.RemoveChild(Words::kCamera);
  }
  if (!config.HasChild(Words::kCameradefault)) config.SetChildInt(Words::kCameradefault, 0);
}

void UpgradeByKind(ACSChunkPtr& config, const Vak::PString& kind, const DataManager& manager,
                   const std::string& asset) {
  const bool named = !asset.empty();
  const bool needsTable = named && !config.HasChild(Words::kMeshTable);
  auto is = [&](const Vak::PString& word) { return kind.EqualsIgnoreCase(word); };
  if (is(Words::kBogey)) {
    if (needsTable) BuildBogeyTable(config, asset);
    config.RemoveChild(Words::kLight);
  } else if (is(Words::kBehavior)) {
    if (config.HasChild(Words::kIconTexture) && !config.HasChild(Words::kThumbnails)) BuildThumbnails(config);
  } else if (is(Words::kGroundtexture) || is(Words::kTexture)) {
    config.RemoveChild(Words::kRgb);
    if (named && !config.HasChild(Words::kTexture)) config.SetChildString(Words::kTexture, (asset + ".texture").c_str());
    config.RemoveChild(Words::kLight);
  } else if (is(Words::kMesh)) {
    config.RemoveChild(Words::kLight);
  } else if (is(Words::kMojunction)) {
    if (needsTable) BuildJunctionTable(config);
  } else if (is(Words::kMocrossing)) {
    if (needsTable) BuildCrossingTable(config, manager);
    config.RemoveChild(Words::kTrack);
    config.RemoveChild(Words::kRoad);
  } else if (is(Words::kTurntable)) {
    if (needsTable) BuildTurntableTable(config, manager);
  } else if (is(Words::kTraincar)) {
    if (needsTable) BuildTraincarTable(config, asset);
    if (!config.HasChild(Words::kBogeys)) BuildBogeyList(config);
    if (config.GetChildType(Words::kRunningNumbers) == kACSContainer) config.RemoveChild(Words::kRunningNumbers);
  } else if (is(Words::kTrack) || is(Words::kBridge)) {
    if (named && is(Words::kTrack)) config.RemoveChild(Words::kHeight);
    if (named) config.RemoveChild(Words::kMini);
  } else if (is(Words::kScenery)) {
    if (needsTable) BuildSceneryTable(config, manager, asset);
    config.RemoveChild(Legacy().bendy);
  } else if (is(Words::kInterior)) {
    if (needsTable) BuildInteriorTable(config);
    UpgradeCameras(config);
  }
}

void NameEffects(ACSChunkPtr& config) {
  if (!config.HasChild(Words::kMeshTable)) return;
  config.RemoveChild(Words::kNight);
  const ACSChunkPtr table = config.GetChildContainer(Words::kMeshTable);
  for (int i = 0; i < table.GetChildCount(); ++i) {
    const ACSChunkPtr effects = table.GetChildContainerAt(i).GetChildContainer(Words::kEffects);
    for (int e = 0; e < effects.GetChildCount(); ++e) {
      ACSChunkPtr effect = effects.GetChildContainerAt(e);
      if (effect.Get() && effect.GetChildString(Words::kKind) == Words::kName &&
          effect.GetChildString(Words::kName).Length() == 0)
        effect.SetChildString(Words::kName, effects.GetChildName(e).c_str());
    }
  }
}

void RenumberSoundScripts(ACSChunkPtr& config) {
  const ACSChunkPtr scripts = config.GetChildContainer(Words::kSoundscript);
  for (int i = 0; i < scripts.GetChildCount(); ++i) {
    ACSChunkPtr script = scripts.GetChildContainerAt(i);
    const ACSChunkPtr sound = script.GetChildContainer(Words::kSound);
    if (!sound.Get()) continue;
    ACSChunkPtr rebuilt = NewContainer();
    for (int c = 0; c < sound.GetChildCount(); ++c) {
      const Vak::PString name = sound.GetChildName(c);
      if (sound.GetChildString(name).Length() == 0) {
        rebuilt.SetChildString(Numbered("%d", c), name.c_str());
      } else {
        rebuilt.SetChild(name, CopyChild(sound, name));
      }
    }
    script.SetChild(Words::kSound, rebuilt);
  }
}

void ApplyCategoryDefaults(ACSChunkPtr& config, const Vak::PString& kind) {
  if (config.GetChildString(Words::kCategoryEra).Length() == 0)
    config.SetChildString(Words::kCategoryEra, Words::k1800s.c_str());
  const Vak::PString classValue = config.GetChildString(Words::kCategoryClass);
  if (*CategoryList::CodesForKind(kind.c_str(), classValue.c_str()) == '\0')
    config.SetChildString(Words::kCategoryClass, Words::kZX.c_str());
  const Vak::PString region = config.GetChildString(Words::kCategoryRegion);
  bool world = region.Length() == 0;
  for (const char* any : {"EU", "any region in the world", "World Trees", "ALL"})
    world = world || region.EqualsIgnoreCase(any);
  if (world) config.SetChildString(Words::kCategoryRegion, Words::kZeroZero.c_str());
}

// Text that spilled out of "description" into tags of its own, up to the
// next tag the schema knows at the top or a container.
void RemoveDescriptionOverflow(ACSChunkPtr& config, const ACSChunkPtr& schema) {
  const int count = config.GetChildCount();
  int at = 0;
  while (at < count && !(config.GetChildName(at) == Words::kDescription)) ++at;
  std::vector<Vak::PString> overflow;
  for (int i = at + 1; i < count; ++i) {
    const Vak::PString name = config.GetChildName(i);
    if (IsTopLevelTag(schema, name) || config.GetChildType(name) == kACSContainer) break;
    overflow.push_back(name);
  }
  RemoveAll(config, overflow);
}

void RemoveAssetTags(ACSChunkPtr& config, const ACSChunkPtr& schema) {
  config.RemoveChild(Legacy().asset);
  for (int i = config.GetChildCount() - 1; i >= 0; --i) {
    const Vak::PString name = config.GetChildName(i);
    if (std::strncmp(name.c_str(), "asset-", 6) == 0 && !IsTopLevelTag(schema, name)) config.RemoveChild(name);
  }
}

void RemoveNumberedLeftovers(ACSChunkPtr& config) {
  for (int n = 0;; ++n) {
    const Vak::PString name = Numbered("%d", n);
    if (!config.HasChild(name)) return;
    config.RemoveChild(name);
  }
}

void RemoveStrayCharacters(ACSChunkPtr& config) {
  for (int i = config.GetChildCount() - 1; i >= 0; --i) {
    const Vak::PString name = config.GetChildName(i);
    if (name.Length() == 0) continue;
    if (std::strpbrk(name.c_str(), "\"'{}")) config.RemoveChild(name);
  }
}

void CutUsername(ACSChunkPtr& config) {
  if (!config.HasChild(Words::kUsername)) return;
  std::string name = config.GetChildString(Words::kUsername).c_str();
  name = name.substr(0, name.find('\r'));
  name = name.substr(0, name.find('\n'));
  config.SetChildString(Words::kUsername, name.c_str());
}

} // namespace

void SetCurrentConfigFunction(CurrentConfigFunction function) { gCurrentConfig = function; }

void UpgradeLegacyConfig(ACSChunkPtr& config) {
  DataManager* manager = DataManager::Instance();
  if (!config.Get() || config->GetType() != kACSContainer) return;
  const LegacyWords& legacy = Legacy();
  const Vak::PString kind = config.GetChildString(Words::kKind);

  // 1: the user name, from the old name or the file name.
  if (config.GetChildString(Words::kUsername).Length() == 0) {
    const Vak::PString name = config.GetChildString(Words::kName);
    const Vak::PString file = config.GetChildString(Words::kAssetFilename);
    if (name.Length() > 0) {
      config.SetChildString(Words::kUsername, name.c_str());
      config.RemoveChild(Words::kName);
    } else if (file.Length() > 0) {
      config.SetChildString(Words::kUsername, file.c_str());
    }
  }
  // 2, 3
  if (kind.EqualsIgnoreCase(Words::kMap) && config.GetChildKUID(Words::kRegion, KUID::Null()).IsNull())
    config.RemoveChild(Words::kRegion);
  for (const Vak::PString* name : {&Words::kThumbnail, &Words::kDotCache, &Words::kUnderFilename, &Words::kUnderDir})
    config.RemoveChild(*name);
  // 4, 5: numbered categories.
  std::string list;
  if (CollectNumbered(config, "category-region-%d", false, list))
    config.SetChildString(Words::kCategoryRegion, list.c_str());
  list.clear();
  if (CollectNumbered(config, "category-era-%d", true, list)) config.SetChildString(Words::kCategoryEra, list.c_str());
  // 6, 7
  if (config.GetChildString(Words::kLicense).Length() == 0) config.RemoveChild(Words::kLicense);
  if (config.HasChild(Words::kRgb) && ValueParts(config, Words::kRgb) < 3) config.RemoveChild(Words::kRgb);
  // 8: libraries, the script's extension and the asset name.
  MoveTag(config, Words::kScriptlibrary, Words::kScript, false);
  MoveTag(config, Words::kClasslibrary, Words::kClass, false);
  const Vak::PString script = config.GetChildString(Words::kScript);
  if (script.Length() > 0) {
    Vak::File::Path path(script.c_str());
    if (!path.GetExt()) {
      path.SetExt(Words::kGs.c_str());
      config.SetChildString(Words::kScript, static_cast<const char*>(path));
    }
  }
  const std::string asset = config.GetChildString(Words::kAssetFilename).c_str();
  config.RemoveChild(Words::kAssetFilename);
  // 9, 10
  UpgradeByKind(config, kind, *manager, asset);
  // 11, 12, 13
  config.RemoveChild(Words::kFontsize);
  config.RemoveChild(Words::kFontcolor);
  NameEffects(config);
  config.RemoveChild(Words::kType);
  if (!kind.EqualsIgnoreCase(Words::kMap)) config.RemoveChild(Words::kRegion);
  // 14, 15
  RenumberSoundScripts(config);
  if (kind.EqualsIgnoreCase(Words::kMospeedboard) ||
      (config.HasChild(Words::kTrackside) && !kind.EqualsIgnoreCase(Words::kMosignal)))
    config.RemoveChild(legacy.function);
  // 16, 17, 18
  ApplyCategoryDefaults(config, kind);
  if (config.HasChild(Words::kIconTexture) && !config.HasChild(Words::kThumbnails)) BuildThumbnails(config);
  RemoveAll(config, legacy.removedTags);
  // 19: moved tags.
  MoveTag(config, legacy.auteur, Words::kAuthor, false);
  MoveTag(config, legacy.organization, Words::kOrganisation, true);
  MoveTag(config, legacy.userName, Words::kUsername, true);
  MoveTag(config, Words::kName, Words::kUsername, true);
  MoveTag(config, legacy.descriptionColon, Words::kDescription, true);
  // 20 to 25: what is left of free text.
  manager->LoadSchema();
  const ACSChunkPtr schema = manager->GetSchema();
  RemoveDescriptionOverflow(config, schema);
  RemoveAssetTags(config, schema);
  RemoveAll(config, legacy.strayWords);
  RemoveNumberedLeftovers(config);
  RemoveStrayCharacters(config);
  CutUsername(config);
}

void UpgradeLegacyAsset() {
  DataManager* manager = DataManager::Instance();
  if (BuildHundredths(manager->currentBuild, kBuildBiasNone) >= kUpgradeBuild) return;
  ACSChunkPtr config = gCurrentConfig ? gCurrentConfig() : ACSChunkPtr();
  if (!config.Get() || config->GetType() != kACSContainer) return;
  UpgradeLegacyConfig(config);
  config.SetChildFloat(Words::kVelmarBuild, kUpgradedBuild);
}

} // namespace RUZLib
