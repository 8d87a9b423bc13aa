#include "datamanager/DataManager.h"

#include <algorithm>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Bexlorn/PStringCache.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/InterfaceTextDB.h"
#include "assetdb/VADRepair.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "content/ResultsLog.h"
#include "content/TextHelpers.h"
#include "content/VelmarEx.h"
#include "datamanager/Container.h"
#include "datamanager/FormTemplate.h"
#include "datamanager/MeshData.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/ParallelLight.h"
#include "engine/elthrac/Particle.h"
#include "engine/elthrac/UnsortedAlphaBlendCache.h"
#include "platform/os/ThreadLocale.h"

namespace RUZLib {

namespace {

DataManager* gInstance = nullptr;
DataManager::AlphaBlendCacheFactory gCacheFactory = nullptr;
DataManager::ContainerKindFunction gContainerKind = nullptr;

// What RegisterVelmarBumpVertexType holds for the life of the process.
struct DummyMaterials {
  static constexpr int kCaches = 3;
  static constexpr int kMaterials = 14;
  static constexpr int kChunks = 4;
  bool registered = false;
  Vak::RenderingCache* caches[kCaches] = {};
  Vak::Material* materials[kMaterials] = {};
  Vak::GeometryChunk* chunks[kChunks] = {};
  int chunkCount = 0;
};
DummyMaterials gDummy;

// The materials in load order; the first kLenient go on after a failure.
struct DummyMaterialName {
  const char* name;
  const char* logged;  // the kind named in the failure line
};
constexpr int kLenient = 9;
constexpr DummyMaterialName kDummyMaterials[DummyMaterials::kMaterials] = {
    {"VelmarDummyLoad.m.tbumptex", "m.tbumptex"},
    {"VelmarDummyLoad.m.tbumpcoltex", "m.tbumpcoltex"},
    {"VelmarDummyLoad.m.tbumpglosscol", "m.tbumpglosscol"},
    {"VelmarDummyLoad.m.tbumpenv", "m.tbumpenv"},
    {"VelmarDummyLoad.m.tgroundonetex", "m.tgroundonetex"},
    {"VelmarDummyLoad.m.tgroundonetexvs", "m.tgroundonetexvs"},
    {"VelmarDummyLoad.m.tonetexnoalpha", "m.tonetexnoalpha"},
    {"VelmarDummyLoad.m.tbumpgloss", "m.tbumpgloss"},
    {"VelmarDummyLoad.m.tglossrust", "m.tglossrust"},
    {"VelmarDummyLoad.m.notex", "m.notex"},
    {"VelmarDummyLoad.m.onetex", "m.onetex"},
    {"VelmarDummyLoad.m.nofogtex", "m.nofogtex"},
    {"VelmarDummyLoad.m.gloss", "m.glose"},
    {"VelmarDummyLoad.m.reflect", "m.reflect"},
};
enum DummyIndex { kNoTex = 9, kOneTex = 10, kGloss = 12, kReflect = 13 };
constexpr unsigned kGlossTextureSlot = 9;

struct LocaleEntry {
  const char* code;
  uint32_t id;
};
constexpr LocaleEntry kLocales[] = {
    {"UK", 2057}, {"DE", 1031}, {"FR", 1036}, {"IT", 1040}, {"RU", 1049}, {"CZ", 1029}, {"PL", 1045},
    {"ES", 3082}, {"CH", 4108}, {"SE", 1053}, {"CN", 1028}, {"NL", 1043}, {"KR", 1042}, {"HU", 1038},
};

Vak::PString Intern(const std::string& text) { return Vak::PString(text.c_str()); }

} // namespace

// ---------------------------------------------------------------- lifecycle

DataManager::DataManager(const char* dataFolder) : dataFolder_(dataFolder ? dataFolder : "") {}

DataManager::~DataManager() {
  // Teardown normally ran; whatever is left goes now.
  PurgeLoadedData();
  ReleaseResourceDatabase();
  delete light_;
  delete root_;
}

bool DataManager::Startup(const char* dataFolder) {
  if (gInstance) Shutdown();
  // Messages given as interface-text keys get their texts from here on; the
  // data manager starts before any command adds one.
  ResultsLog::SetTextResolver(&GetInterfaceString);
  gInstance = new DataManager(dataFolder);
  return gInstance->Initialise();
}

DataManager* DataManager::Instance() {
  if (!gInstance) VelmarLogThrow("DataManager::Instance> datamanger not initialised");
  return gInstance;
}

DataManager* DataManager::TryInstance() { return gInstance; }

void DataManager::Shutdown() {
  if (!gInstance) return;
  gInstance->Teardown();
  delete gInstance;
  gInstance = nullptr;
}

bool DataManager::Initialise() {
  ReadLanguageSetting();
  LoadStringTable("", dataFolder_.c_str());
  if (dataFolder_.Length() == 0 || Vak::File::Exists(dataFolder_.c_str()) != Vak::File::RES_OK) return false;
  ReadPersonalDetails();
  return LoadFormTemplates();
}

void DataManager::Teardown() {
  WritePersonalDetails();
  PurgeLoadedData();
  ReleaseResourceDatabase();
  uniqueItems_.clear();
  items_.clear();
  if (root_ && kernel_) kernel_->GetSceneGraph().Unlink(root_);
  view_ = nullptr;
  if (light_) {
    if (root_) root_->RemoveChild(light_);
    delete light_;
    light_ = nullptr;
  }
  delete root_;
  root_ = nullptr;
  formTemplates_.clear();
}

std::string DataManager::DataPath(const char* name) const { return Vak::JoinPath(dataFolder_.c_str(), name); }

// ------------------------------------------------------------------ seams

void DataManager::SetAlphaBlendCacheFactory(AlphaBlendCacheFactory factory) { gCacheFactory = factory; }

void DataManager::SetContainerKindFunction(ContainerKindFunction function) { gContainerKind = function; }

Vak::PString DataManager::ContainerKind(Container* container) {
  if (!container) return Vak::PString("");
  return gContainerKind ? gContainerKind(container) : container->ConfigKind();
}

// ---------------------------------------------------------------- language

uint32_t DataManager::LocaleForLanguage(const char* code) {
  if (!code) return kDefaultLocale;
  for (const LocaleEntry& entry : kLocales) {
    if (Vak::CodePage::CompareIgnoreCase(code, entry.code) == 0) return entry.id;
  }
  return kDefaultLocale;
}

void DataManager::ApplyLanguageLocale(const char* code) { platform::SetThreadLocale(LocaleForLanguage(code)); }

void DataManager::ReadLanguageSetting() {
  const Vak::PString language = VADTryLocked("internet", "language");
  ApplyLanguageLocale(language.c_str());
}

// ------------------------------------------------------------ string table

void DataManager::LoadStringTable(const char* languageCode, const char* dataFolder) {
  static const struct {
    const char* code;
    const char* suffix;
  } kSuffixes[] = {{"DE", "-DE"}, {"FR", "-FR"}, {"IT", "-IT"}, {"RU", "-RU"}, {"CZ", "-CZ"}, {"PL", "-PL"},
                   {"ES", "-ES"}, {"CH", "-CH"}, {"SE", "-SE"}, {"CN", "-CN"}, {"NL", "-NL"}, {"HU", "-HU"}};
  std::string name = kStringTableName;
  for (const auto& entry : kSuffixes) {
    if (languageCode && Vak::CodePage::CompareIgnoreCase(languageCode, entry.code) == 0) name += entry.suffix;
  }
  name += ".txt";
  const std::string path = Vak::JoinPath(dataFolder, name.c_str());

  strings_.clear();
  ACSChunkPtr table;
  if (!table.Load(nullptr, path.c_str()) || table.IsNull()) return;
  const int count = table.GetChildCount();
  strings_.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Vak::PString childName;
    childName.Setf("%d", i);
    strings_.push_back(table.GetChildType(childName) == 4 ? table.GetChildString(childName) : Vak::PString(""));
  }
}

Vak::PString DataManager::GetString(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= strings_.size()) return Vak::PString("");
  return strings_[static_cast<std::size_t>(index)];
}

Vak::PString DataManager::FormatEntry(Msg id, std::span<const FormatArg> args) {
  const MessageSpec* spec = FindMessage(Number(id));
  const Vak::PString text = GetString(id);
  std::string out;
  if (!FormatChecked(text.c_str(), spec ? spec->kinds : "", args, out)) {
    if (misfitEntriesLogged_.insert(Number(id)).second)
      VelmarLogError("DataManager::Format> String table entry %d does not fit its arguments: '%s'", Number(id),
                     text.c_str());
  }
  return Intern(out);
}

// -------------------------------------------------------- personal details

void DataManager::ReadPersonalDetails() {
  const std::string path = DataPath(kPersonalDetailsName);
  if (Vak::File::Exists(path.c_str()) != Vak::File::RES_OK) return;
  ACSChunkPtr details;
  if (!details.Load(nullptr, path.c_str()) || details.IsNull()) {
    personalDetailsUnreadable_ = true;
    return;
  }
  personalDetails_.author = details.GetChildString("author");
  personalDetails_.organisation = details.GetChildString("organisation");
  personalDetails_.email = details.GetChildString("email");
  personalDetails_.website = details.GetChildString("website");
  personalDetails_.license = details.GetChildString("license");
  personalDetails_.isinputboxon = details.GetChildInt("isinputboxon", 0) != 0;
}

bool DataManager::WritePersonalDetails() {
  if (personalDetailsUnreadable_) return false;
  ACSChunkPtr details;
  details.MakeContainer();
  details.SetChildString("author", personalDetails_.author.c_str());
  details.SetChildString("organisation", personalDetails_.organisation.c_str());
  details.SetChildString("email", personalDetails_.email.c_str());
  details.SetChildString("website", personalDetails_.website.c_str());
  details.SetChildString("license", personalDetails_.license.c_str());
  details.SetChildInt("isinputboxon", personalDetails_.isinputboxon ? 1 : 0);
  return details.Save(nullptr, DataPath(kPersonalDetailsName).c_str());
}

// ---------------------------------------------------------- form templates

bool DataManager::LoadFormTemplates() {
  Vak::File::Path pattern(DataPath("*.*").c_str());
  pattern.ReplaceForwardSlashes();
  Vak::File::Find find;
  if (!find.Open(pattern)) {
    // An empty folder has no first match: the search still started.
    if (Vak::File::Exists(dataFolder_.c_str()) != Vak::File::RES_OK) return false;
  } else {
    do {
      if (IsDotName(find.name)) continue;
      // A folder is no form template.
      if (find.attributes & Vak::File::Entry::kFolder) continue;
      std::string bytes;
      if (!ReadFileBytes(DataPath(find.name).c_str(), bytes)) {
        // Another run replaces its files here through a temporary: one gone
        // since the listing was never a template.
        if (Vak::File::Exists(DataPath(find.name).c_str()) != Vak::File::RES_OK) continue;
        return false;
      }
      FormTemplate lines;
      for (std::string_view piece : FormTemplatePieces(bytes, kFormTemplateLineLength)) {
        SplitLine split = SplitFormTemplateLine(piece);
        lines.push_back({Intern(split.key), split.hasValue ? Intern(split.value) : Vak::PString()});
      }
      formTemplates_[Vak::PString(find.name)] = std::move(lines);
    } while (find.Next());
  }

  std::string bytes;
  if (ReadFileBytes(DataPath(kNewFormTemplateName).c_str(), bytes)) {
    for (std::string_view piece : FormTemplatePieces(bytes, kFormTemplateLineLength)) {
      std::string line(piece);
      TrimLineEnd(line);
      Vak::PString word = Intern(line);
      LowerCasePString(word);
      newFormTemplateLines_.push_back(word);
    }
  }
  newFormTemplateLines_.push_back("bridge");
  return true;
}

// ------------------------------------------------------------------ schema

void DataManager::LoadSchema() {
  if (schemaLoaded_) return;
  schema_.Release();
  schema_.MakeContainer();
  for (const char* name : kSchemaFiles) {
    ACSChunkPtr file;
    if (!file.Load(nullptr, DataPath(name).c_str()) || file.IsNull()) continue;
    const int count = file.GetChildCount();
    for (int i = 0; i < count; ++i) {
      ACSChunkPtr entry = file.GetChildContainerAt(i);
      if (entry.IsNull()) entry.MakeContainer();
      schema_.SetChild(file.GetChildName(i), entry);
    }
  }
  schemaLoaded_ = true;
}

// ------------------------------------------------------------ current asset

void DataManager::ReleaseResourceDatabase() {
  if (resourceDatabase_) AssetArchiveCache::Release(resourceDatabase_);
  resourceDatabase_ = nullptr;
}

void DataManager::SetCurrentAsset(const char* assetFolder, const char* topFolder) {
  ReleaseResourceDatabase();
  const Vak::File::Path root = GetDatabaseRootPath();
  if (topFolder && *topFolder) {
    topContentFolder_ = topFolder;
    resourceDatabase_ = AssetArchiveCache::Acquire(topContentFolder_, root);
    currentAssetFolder_ = assetFolder ? assetFolder : "";
    return;
  }
  Vak::File::Path relative(assetFolder ? assetFolder : "");
  relative.ReplaceForwardSlashes();
  Vak::File::Path base(root);
  base.ReplaceForwardSlashes();
  relative.MakeRelativeTo(base);
  const Vak::File::Path first = relative.ExtractFirstPath();
  topContentFolder_ = static_cast<const char*>(first);
  resourceDatabase_ = AssetArchiveCache::Acquire(topContentFolder_, root);
  currentAssetFolder_ = static_cast<const char*>(relative);
}

Vak::PString DataManager::GetContentFolder() const {
  if (topContentFolder_.Length() > 0) return topContentFolder_;
  return Vak::PString(static_cast<const char*>(GetDatabaseRootPath()));
}

// ------------------------------------------------------------------- lists

void DataManager::Reserved(Container*) {}
void DataManager::NotifyNamedListsChanged() {}
void DataManager::NotifyUniqueItemsChanged() {}
void DataManager::NotifyItemsChanged() {}

void DataManager::AddToNamedList(const Vak::PString& name, Tag* tag) {
  namedLists_[name].push_back(tag);
  NotifyNamedListsChanged();
}

void DataManager::AddReference(const Vak::PString& name, Tag* tag) {
  referenceLists_[name].push_back(tag);
  NotifyNamedListsChanged();
}

void DataManager::AddReference(const Vak::PString& name, Container* child) {
  containerReferences_[name].push_back(child);
  NotifyNamedListsChanged();
}

void DataManager::RemoveContainerFromLists(Container* container) {
  for (auto& [name, list] : containerReferences_) std::erase(list, container);
}

void DataManager::AddUniqueItem(Tag* tag) {
  if (std::find(uniqueItems_.begin(), uniqueItems_.end(), tag) != uniqueItems_.end()) return;
  uniqueItems_.push_back(tag);
  NotifyUniqueItemsChanged();
}

void DataManager::AddItem(Tag* tag) {
  items_.push_back(tag);
  NotifyItemsChanged();
}

void DataManager::RemoveTagFromLists(Tag* tag) {
  for (auto& [name, list] : namedLists_) std::erase(list, tag);
  std::erase(uniqueItems_, tag);
  std::erase(items_, tag);
}

void DataManager::ClearReferenceList(const Vak::PString& name) {
  auto it = referenceLists_.find(name);
  if (it != referenceLists_.end()) it->second.clear();
  auto children = containerReferences_.find(name);
  if (children != containerReferences_.end()) children->second.clear();
}

// ------------------------------------------------------------ loaded data

void DataManager::RemoveLoadedObject(Container* container) {
  auto it = loadedObjects_.find(container);
  if (it == loadedObjects_.end()) return;
  if (currentObject_ == it->second) currentObject_ = nullptr;
  delete it->second;
  loadedObjects_.erase(it);
  NotifyUniqueItemsChanged();
  NotifyItemsChanged();
}

void DataManager::PurgeLoadedData() {
  for (auto& [container, object] : loadedObjects_) delete object;
  loadedObjects_.clear();
  currentObject_ = nullptr;
  if (Vak::ResourceSystem* system = Vak::ResourceSystem::Current()) system->DumpUnusedResourcesFromCache();
  Vak::PString::cache()->CollectGarbage();
  if (kernel_) kernel_->GetSceneGraph().PurgeDeleted();
}

// ------------------------------------------------------------------- scene

bool DataManager::SetupScene(Vak::RenderKernel* kernel, Vak::View* view) {
  kernel_ = kernel;
  if (!root_) root_ = new Vak::Particle(Vak::PString("DataManager"));
  if (kernel_) kernel_->GetSceneGraph().AddScene(root_);
  if (view && !light_) {
    view_ = view;
    view->SetScene(root_);
    light_ = new Vak::ParallelLight(view->GetDisplay(), 100000.0f);
    light_->Mark(Vak::Particle::kMarkCurrent);
    light_->SetAmbient({0.1f, 0.1f, 0.1f, 1.0f});
    light_->SetDiffuse({0.7f, 0.7f, 0.7f, 1.0f});
    light_->SetSpecular({0.6f, 0.6f, 0.6f, 1.0f});
    if (view->GetDisplay()) view->GetDisplay()->SetFog(1e-18f, 3);
    root_->AddChild(light_);
  }
  return true;
}

bool DataManager::DummyMaterialsRegistered() { return gDummy.registered; }

void DataManager::RegisterVelmarBumpVertexType() {
  if (gDummy.registered || !kernel_) return;
  Vak::RenderingCacheManager& manager = kernel_->GetRenderingCacheManager();
  for (int i = 0; i < 2; ++i) gDummy.caches[i] = gCacheFactory ? gCacheFactory(i) : nullptr;
  gDummy.caches[2] = new Vak::UnsortedAlphaBlendCache(1);
  for (Vak::RenderingCache* cache : gDummy.caches) manager.AddCache(cache);
  gDummy.chunkCount = 0;
  gDummy.registered = true;

  Vak::MaterialManager& materials = kernel_->GetMaterialManager();
  for (int i = 0; i < DummyMaterials::kMaterials; ++i) {
    Vak::Material* material = nullptr;
    if (materials.Load(kDummyMaterials[i].name, material) == Vak::MaterialManager::kOk && material) {
      gDummy.materials[i] = material;
      continue;
    }
    VelmarLogError("DataManager::RegisterVelmarBumpVertexType> Unable to load '%s'", kDummyMaterials[i].logged);
    if (i >= kLenient) return;
  }

  Vak::Texture* texture = kernel_->GetSharedTextureCollection().Get(0);
  if (!texture) {
    VelmarLogError("DataManager::RegisterVelmarBumpVertexType> SharedTextureCollection failed");
    return;
  }
  gDummy.materials[kGloss]->BindTexture(kGlossTextureSlot, texture);
  gDummy.materials[kReflect]->BindTexture(kGlossTextureSlot, texture);
  for (int index : {kNoTex, kOneTex, kGloss, kReflect}) {
    Vak::GeometryChunk* chunk = gDummy.materials[index]->CreateGeometryChunk(3, 1, 3, 0, Vak::Material::kTriangleList,
                                                                             Vak::StandardChunkHint());
    if (chunk && gDummy.chunkCount < DummyMaterials::kChunks) gDummy.chunks[gDummy.chunkCount++] = chunk;
  }
  texture->ReleaseReference();
}

void DataManager::ReleaseDummyMaterials() {
  if (!gDummy.registered) return;
  gDummy.registered = false;
  for (int i = 0; i < gDummy.chunkCount; ++i) {
    gDummy.chunks[i]->ReleaseReference();
    gDummy.chunks[i] = nullptr;
  }
  gDummy.chunkCount = 0;
  for (Vak::Material*& material : gDummy.materials) {
    if (material) material->ReleaseReference();
    material = nullptr;
  }
  for (Vak::RenderingCache*& cache : gDummy.caches) {
    if (cache) {
      if (kernel_) kernel_->GetRenderingCacheManager().Remove(cache);
      cache->ReleaseReference();
    }
    cache = nullptr;
  }
}

} // namespace RUZLib
