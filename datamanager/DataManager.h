#pragma once
// The config model's process-wide singleton over the data folder ("RUZData"
// beside the program): the string table whose entries are the formats of
// every validation and mesh message, the kind schema, the form templates, the
// user's personal details, the folder of the asset being checked and the
// meshes loaded while a config is checked. It also owns the small scene the
// meshes hang under and registers the product's vertex types once.
//
// Main thread only; nothing here takes a lock.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunkPtr.h"
#include "datamanager/CheckedFormat.h"
#include "datamanager/Messages.h"

namespace Vak {
class GeometryChunk;
class Material;
class ParallelLight;
class Particle;
class RenderingCache;
class RenderKernel;
class ResourceDatabase;
class View;
} // namespace Vak

namespace RUZLib {

class Container;
class Tag;
class MeshData;
class MeshSource;

struct PersonalDetails {
  Vak::PString author;
  Vak::PString license;
  Vak::PString organisation;
  Vak::PString email;
  Vak::PString website;
  bool isinputboxon = true;
};

struct FormTemplateLine {
  Vak::PString key;
  Vak::PString value;  // null for a line of one word
};

class DataManager {
public:
  using TagList = std::vector<Tag*>;
  using FormTemplate = std::vector<FormTemplateLine>;

  static constexpr const char* kStringTableName = "stringtable";
  static constexpr const char* kPersonalDetailsName = "personalDetails.txt";
  static constexpr const char* kNewFormTemplateName = "newFormTemplate.txt";
  static constexpr const char* kSchemaFiles[3] = {"inheritance.txt", "kind.txt", "container.txt"};
  // Characters of a form-template line, line end included, read at once.
  static constexpr unsigned kFormTemplateLineLength = 256;
  static constexpr float kInitialBuild = 3.1f;
  // The thread locale of an empty or unknown language code.
  static constexpr uint32_t kDefaultLocale = 3081;

  // Makes the singleton on `dataFolder` and initialises it: false when the
  // folder is missing or a file in it cannot be read as a form template. The
  // singleton exists afterwards either way.
  static bool Startup(const char* dataFolder);
  // The singleton; throws VelmarEx when there is none.
  static DataManager* Instance();
  // The singleton or null.
  static DataManager* TryInstance();
  // Tears down and deletes the singleton; nothing when there is none.
  static void Shutdown();

  // The two alpha-blend caches of the 3-D formats, made through this seam
  // (index 0 the sorted cache, 1 the unsorted one); none while unset.
  using AlphaBlendCacheFactory = Vak::RenderingCache* (*)(int index);
  static void SetAlphaBlendCacheFactory(AlphaBlendCacheFactory factory);
  // The kind ("kind" of the config) of the config a container belongs to.
  // Unset, the config model answers.
  using ContainerKindFunction = Vak::PString (*)(Container* container);
  static void SetContainerKindFunction(ContainerKindFunction function);
  static Vak::PString ContainerKind(Container* container);
  // The file name a tag of a reference list names; filled by the config
  // model. Unset, no tag names a file.
  using TagFileNameFunction = Vak::PString (*)(Tag* tag);
  static void SetTagFileNameFunction(TagFileNameFunction function);

  // The thread locale a two-letter language code selects (any case).
  static uint32_t LocaleForLanguage(const char* code);
  // Sets the calling thread's locale id from the code.
  static void ApplyLanguageLocale(const char* code);

  virtual ~DataManager();

  // Keeps the kernel, makes the scene root and adds it to the scene graph;
  // with a view also the light and the fog. True.
  virtual bool SetupScene(Vak::RenderKernel* kernel, Vak::View* view = nullptr);
  virtual void Reserved(Container* container);
  virtual void AddToNamedList(const Vak::PString& name, Tag* tag);
  virtual void AddReference(const Vak::PString& name, Tag* tag);
  // A child container of the config model, listed under its parent's name;
  // a choice field whose source is that name may name it.
  void AddReference(const Vak::PString& name, Container* child);
  // Takes the container out of every reference list.
  void RemoveContainerFromLists(Container* container);
  virtual void NotifyNamedListsChanged();
  virtual void NotifyUniqueItemsChanged();
  virtual void NotifyItemsChanged();
  virtual void AddUniqueItem(Tag* tag);
  virtual void AddItem(Tag* tag);
  // A tag of the reference list names the file, or a loaded mesh lists it
  // among its textures.
  virtual bool IsFileReferenced(const Vak::PString& fileName, const Vak::PString& listName);

  // Entry `index` of the string table; the empty string past its end.
  Vak::PString GetString(int index) const;
  Vak::PString GetString(Msg id) const { return GetString(Number(id)); }
  std::size_t StringCount() const { return strings_.size(); }
  // The entry formatted with its declared arguments. An entry whose
  // conversions do not fit them is logged (once per entry) and comes back as
  // written.
  template <typename... Args>
  Vak::PString Format(Msg id, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatEntry(id, std::span<const FormatArg>(list, sizeof...(Args)));
  }
  Vak::PString FormatEntry(Msg id, std::span<const FormatArg> args);

  // Reads the three schema files once per process life of the singleton.
  void LoadSchema();
  ACSChunkPtr GetSchema() const { return schema_; }
  bool SchemaLoaded() const { return schemaLoaded_; }

  // The asset being checked: its folder, and the top content folder (the
  // first folder below the database root when `topFolder` is empty).
  void SetCurrentAsset(const char* assetFolder, const char* topFolder);
  // The top content folder, else the database root.
  Vak::PString GetContentFolder() const;
  const Vak::PString& GetCurrentAssetFolder() const { return currentAssetFolder_; }
  Vak::ResourceDatabase* GetResourceDatabase() const { return resourceDatabase_; }

  void PurgeLoadedData();
  void RemoveLoadedObject(Container* container);
  void RemoveTagFromLists(Tag* tag);
  void ClearReferenceList(const Vak::PString& name);

  // Loads the product's dummy materials once per process so that their
  // vertex types exist before any mesh; failures are logged.
  void RegisterVelmarBumpVertexType();
  void ReleaseDummyMaterials();
  static bool DummyMaterialsRegistered();

  // The mesh object of a config field (".im", ".lm", ".lm.txt"), registered
  // under the container; null for other names and failures, which are
  // reported to the error handler.
  MeshData* LoadMeshForField(const Vak::PString& fileName, Container* container);
  // Where meshes come from (not owned); null restores the built-in source,
  // which finds none.
  static void SetMeshSource(MeshSource* source);
  static MeshSource& GetMeshSource();

  // Start-up steps, public for the front end's language command and tests.
  void ReadLanguageSetting();
  void LoadStringTable(const char* languageCode, const char* dataFolder);
  void ReadPersonalDetails();
  bool WritePersonalDetails();
  bool LoadFormTemplates();

  const Vak::PString& DataFolder() const { return dataFolder_; }
  const PersonalDetails& GetPersonalDetails() const { return personalDetails_; }
  PersonalDetails& EditPersonalDetails() { return personalDetails_; }
  const std::map<Vak::PString, FormTemplate>& FormTemplates() const { return formTemplates_; }
  const std::vector<Vak::PString>& NewFormTemplateLines() const { return newFormTemplateLines_; }
  const std::map<Container*, MeshData*>& LoadedObjects() const { return loadedObjects_; }
  MeshData* CurrentObject() const { return currentObject_; }
  const std::map<Vak::PString, TagList>& ReferenceLists() const { return referenceLists_; }
  const std::map<Vak::PString, std::vector<Container*>>& ContainerReferences() const { return containerReferences_; }
  const std::map<Vak::PString, TagList>& NamedLists() const { return namedLists_; }
  const TagList& UniqueItems() const { return uniqueItems_; }
  const TagList& Items() const { return items_; }
  Vak::RenderKernel* GetRenderKernel() const { return kernel_; }
  Vak::Particle* GetRootParticle() const { return root_; }
  Vak::ParallelLight* GetLight() const { return light_; }

  bool archivePresent = false;
  bool meshFailureReported = false;
  bool meshAssetSeen = false;
  float currentBuild = kInitialBuild;

protected:
  explicit DataManager(const char* dataFolder);
  bool Initialise();
  void Teardown();

private:
  friend class MeshData;
  // The data folder's path of a file in it.
  std::string DataPath(const char* name) const;
  void ReleaseResourceDatabase();
  // Makes `object` current under `container`, deleting what was loaded for
  // it before.
  void Register(MeshData* object, Container* container);
  void LevelOfDetailChecks(MeshData* object, Container* container, const Vak::PString& path);

  Vak::PString dataFolder_;
  Vak::PString currentAssetFolder_;
  ACSChunkPtr schema_;
  Vak::RenderKernel* kernel_ = nullptr;
  Vak::Particle* root_ = nullptr;  // owned
  bool schemaLoaded_ = false;
  std::map<Container*, MeshData*> loadedObjects_;  // owned objects
  MeshData* currentObject_ = nullptr;
  PersonalDetails personalDetails_;
  // An existing details file that could not be read is never overwritten.
  bool personalDetailsUnreadable_ = false;
  Vak::ParallelLight* light_ = nullptr;  // owned
  Vak::View* view_ = nullptr;
  std::map<Vak::PString, TagList> referenceLists_;
  std::map<Vak::PString, std::vector<Container*>> containerReferences_;
  std::map<Vak::PString, TagList> namedLists_;
  TagList uniqueItems_;
  TagList items_;
  std::map<Vak::PString, FormTemplate> formTemplates_;
  std::vector<Vak::PString> newFormTemplateLines_;
  Vak::ResourceDatabase* resourceDatabase_ = nullptr;  // one use of the archive cache
  Vak::PString topContentFolder_;
  std::vector<Vak::PString> strings_;
  std::set<int> misfitEntriesLogged_;
};

} // namespace RUZLib
