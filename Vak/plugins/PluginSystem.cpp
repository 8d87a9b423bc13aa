#include "Vak/plugins/PluginSystem.h"

#include <mutex>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Wildcard.h"
#include "platform/os/Program.h"

namespace Vak {

namespace {

const ResultTable kPluginResults[] = {
    {"RES_PLUGINIDNOTFOUND", "Plugin id not found"},
    {"RES_PLUGINGROUPIDNOTFOUND", "Plugin group id not found"},
    {"RES_PLUGINNAMENOTFOUND", "Plugin name not found"},
    {"RES_PLUGINLIBRARYNOTFOUND", "Plugin has no library associated or library was not found"},
};

// Never destroyed: plug-ins may be released by exit-time code.
std::recursive_mutex& Lock() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

PluginSystem* gSystem = nullptr;
std::string* gKernelFolder = nullptr;
std::string* gProgramFolder = nullptr;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t colon = line.find(':', start);
    fields.push_back(line.substr(start, colon - start));
    if (colon == std::string::npos) return fields;
    start = colon + 1;
  }
}

// Each value of a repeated option, in order.
template <typename Read>
void ForEachValue(Options& options, const char* key, Read read) {
  options.SetSeparators(key, ",");
  String value;
  while (options.GetNext(key, value)) read(std::string(static_cast<const char*>(value)));
}

} // namespace

const ResultTableSpan PluginSystem::results = {kPluginResults, sizeof kPluginResults / sizeof kPluginResults[0]};

struct PluginSystem::Record {
  PString name;
  UId id;
  Record* group = nullptr;
  std::vector<Record*> members;
  PluginLibrary* library = nullptr;
  bool isGroup = false;
  bool loadFailed = false;

  UId GroupId() const { return group ? group->id : UId(); }
};

// --- Life ------------------------------------------------------------------------

PluginSystem::PluginSystem() = default;

PluginSystem::~PluginSystem() {
  // Libraries first: their plug-ins' code lives in the modules.
  for (auto& library : libraries_) library.reset();
  libraries_.clear();
  librariesByName_.clear();
  // What registered outside a module load.
  std::vector<PluginType*> rest;
  registered_.ForEach([&](PluginType* p) { rest.push_back(p); });
  for (PluginType* plugin : rest) {
    Remove(*plugin);
    plugin->ReleaseReference();
  }
}

PluginSystem* PluginSystem::Get() {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (gSystem) {
    gSystem->AddReference();
    return gSystem;
  }
  gSystem = new PluginSystem;
  gSystem->Startup();
  return gSystem;
}

void PluginSystem::Release() {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  ReleaseReference();
}

void PluginSystem::DeleteThis() {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (gSystem == this) gSystem = nullptr;
  delete this;
}

PluginSystem::Holder PluginSystem::Acquire() { return Holder(Get()); }

PluginSystem::Holder& PluginSystem::Holder::operator=(Holder&& other) noexcept {
  if (this != &other) {
    Reset();
    system_ = other.system_;
    other.system_ = nullptr;
  }
  return *this;
}

void PluginSystem::Holder::Reset() {
  if (system_) system_->Release();
  system_ = nullptr;
}

void PluginSystem::SetFolders(const char* kernelFolder, const char* programFolder) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  delete gKernelFolder;
  delete gProgramFolder;
  gKernelFolder = kernelFolder ? new std::string(kernelFolder) : nullptr;
  gProgramFolder = programFolder ? new std::string(programFolder) : nullptr;
}

// --- Start-up --------------------------------------------------------------------

void PluginSystem::Startup() {
  const std::string program = platform::ProgramFolder();
  std::vector<std::string> read;
  ReadIni(gKernelFolder ? gKernelFolder->c_str() : program.c_str(), read);
  ReadIni(gProgramFolder ? gProgramFolder->c_str() : program.c_str(), read);
  FilePath cwd;
  if (File::GetCwd(cwd)) ReadIni(cwd, read);
  options_.ProcessRaw("\n\n");

  if (OS* os = OS::Current(); os && os->GetOptions()) {
    Options& options = *os->GetOptions();
    if (options.Find("AutoPlugin")) ScanModules("");
    ForEachValue(options, "PluginDir", [&](const std::string& folder) { ScanModules(folder.c_str()); });
  }

  ForEachValue(options_, "PluginGroup", [&](const std::string& line) { ReadGroup(line); });
  ForEachValue(options_, "Plugin", [&](const std::string& line) { ReadPlugin(line); });
  ForEachValue(options_, "PluginRemap", [&](const std::string& line) { ReadRemap(line); });
}

// Reads the folder's "plugins.ini" unless that file was read already.
void PluginSystem::ReadIni(const char* folder, std::vector<std::string>& read) {
  FilePath path(folder);
  if (path.Length() == 0 || !path.AddPath("plugins.ini")) return;
  for (const std::string& done : read)
    if (MatchWildcard(path, done.c_str(), nullptr)) return;
  read.emplace_back(path);
  options_.ProcessFile(path);
}

// Lets each module of the folder that exports "PluginList" add option text.
void PluginSystem::ScanModules(const char* folder) {
  FilePath pattern;
  FilePath base;
  if (*folder) {
    base = folder;
    base.AddSlash();
  } else {
    base = "./";
  }
  pattern = base;
  if (!pattern.Add("*.so")) return;
  File::Find find;
  for (bool more = find.Open(pattern); more; more = find.Next()) {
    if (find.attributes & File::Entry::kFolder) continue;
    FilePath file(base);
    if (!file.Add(find.name)) continue;
    DynamicLibrary module;
    void* entry = nullptr;
    if (!module.Load(file) || !module.Symbol("PluginList", &entry)) continue;
    const char* const* list = reinterpret_cast<const char* const* (*)()>(entry)();
    for (; list && *list; ++list) options_.ProcessRaw(*list);
  }
}

PluginSystem::Record* PluginSystem::FindGroup(const UId& id) {
  Record** found = configuration_.Find(id, [](Record* r) { return r->isGroup; });
  return found ? *found : nullptr;
}

PluginSystem::Record* PluginSystem::FindConfigured(const UId& id) {
  Record** found = configuration_.Find(id, [](Record* r) { return !r->isGroup; });
  return found ? *found : nullptr;
}

void PluginSystem::ReadGroup(const std::string& line) {
  std::vector<std::string> f = Fields(line);
  if (f.size() < 2) return;
  Record* parent = nullptr;
  // A parent must be known already, so its line comes first.
  if (f.size() > 2 && !(parent = FindGroup(UId(f[2].c_str())))) return;
  auto record = std::make_unique<Record>();
  record->name = f[0].c_str();
  record->id = UId(f[1].c_str());
  record->group = parent;
  record->isGroup = true;
  if (parent) parent->members.push_back(record.get());
  configuration_.Add(record->id, record.get());
  records_.push_back(std::move(record));
}

void PluginSystem::ReadPlugin(const std::string& line) {
  std::vector<std::string> f = Fields(line);
  if (f.size() < 3) return;
  Record* group = nullptr;
  if (f.size() > 3 && !(group = FindGroup(UId(f[3].c_str())))) return;
  const PString libraryName(f[1].c_str());
  PluginLibrary* library = FindLibrary(libraryName);
  if (!library) {
    libraries_.push_back(std::make_unique<PluginLibrary>(libraryName));
    library = libraries_.back().get();
    librariesByName_.emplace(libraryName.GetNode(), library);
  }
  auto record = std::make_unique<Record>();
  record->name = f[0].c_str();
  record->id = UId(f[2].c_str());
  record->group = group;
  record->library = library;
  if (group) group->members.push_back(record.get());
  configuration_.Add(record->id, record.get());
  names_.Add(record->name, Named{nullptr, record.get()});
  records_.push_back(std::move(record));
}

void PluginSystem::ReadRemap(const std::string& line) {
  std::vector<std::string> f = Fields(line);
  if (f.size() < 2) return;
  remaps_.Add(UId(f[0].c_str()), UId(f[1].c_str()));
}

PluginLibrary* PluginSystem::FindLibrary(const PString& name) const {
  auto it = librariesByName_.find(name.GetNode());
  return it == librariesByName_.end() ? nullptr : it->second;
}

// --- Registration ----------------------------------------------------------------

void PluginSystem::Register(PluginType& plugin) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  PluginSystem* system = gSystem;
  if (!system) return;
  plugin.system_ = system;
  system->registered_.Add(plugin.id_, &plugin);
  system->names_.Add(plugin.name_, Named{&plugin, nullptr});
  if (PluginLibrary* library = system->loading_) {
    plugin.library_ = library;
    library->plugins_.push_back(&plugin);
  }
}

void PluginSystem::Unregister(PluginType& plugin) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (plugin.system_) Remove(plugin);
}

void PluginSystem::Remove(PluginType& plugin) {
  PluginSystem* system = plugin.system_;
  system->registered_.Remove(plugin.id_, [&](PluginType* p) { return p == &plugin; });
  system->names_.Remove(plugin.name_, [&](const Named& n) { return n.type == &plugin; });
  if (PluginLibrary* library = plugin.library_) {
    std::erase(library->plugins_, &plugin);
  }
  plugin.library_ = nullptr;
  plugin.system_ = nullptr;
}

// --- Look-ups --------------------------------------------------------------------

UId PluginSystem::Remap(const UId& id) const {
  const UId* replacement = remaps_.Find(id);
  return replacement ? *replacement : id;
}

PluginSystem::Result PluginSystem::Serve(PluginType& type, PluginType*& plugin) {
  if (!type.library_) return RES_PLUGINLIBRARYNOTFOUND;
  type.AddReference();
  plugin = &type;
  return RES_OK;
}

PluginSystem::Result PluginSystem::CreatePlugin(const UId& id, PluginType*& plugin) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  plugin = nullptr;
  const UId wanted = Remap(id);
  if (PluginType** registered = registered_.Find(wanted)) return Serve(**registered, plugin);
  Record* record = FindConfigured(wanted);
  if (record && !record->loadFailed && record->library && !record->library->IsLoaded() &&
      !record->library->IsNotFound() && LoadModule(*record->library) == PluginLibrary::RES_OK) {
    Result again = CreatePlugin(id, plugin);
    if (!again.Ok()) {
      record->loadFailed = true;
      record->library->Unload();
    }
    return again;
  }
  return RES_PLUGINIDNOTFOUND;
}

PluginSystem::Result PluginSystem::SearchName(const UId& group, const PString& name, PluginType*& plugin,
                                              Record** configured) {
  if (Named* named = names_.Find(name, [&](const Named& n) { return n.type && n.type->group_ == group; }))
    return Serve(*named->type, plugin);
  if (configured) {
    Named* named = names_.Find(name, [&](const Named& n) { return n.record && n.record->GroupId() == group; });
    *configured = named ? named->record : nullptr;
  }
  return RES_PLUGINNAMENOTFOUND;
}

PluginSystem::Result PluginSystem::Find(const UId& group, const PString& name, PluginType*& plugin) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  plugin = nullptr;
  const UId wanted = Remap(group);
  Record* configured = nullptr;
  Result result = SearchName(wanted, name, plugin, &configured);
  if (result != RES_PLUGINNAMENOTFOUND || !configured) return result;
  PluginLibrary* library = configured->library;
  if (!library || library->IsLoaded() || library->IsNotFound()) return RES_PLUGINNAMENOTFOUND;
  if (LoadModule(*library) != PluginLibrary::RES_OK) return RES_PLUGINLIBRARYNOTFOUND;
  result = SearchName(wanted, name, plugin, nullptr);
  if (!result.Ok()) library->Unload();
  return result;
}

PluginSystem::Result PluginSystem::FindPlugin(const UId& group, const PString& name, PluginType*& plugin) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  PluginSystem* system = Get();
  Result result = system->Find(group, name, plugin);
  system->Release();
  return result;
}

PluginLibrary::Result PluginSystem::LoadModule(PluginLibrary& library) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (library.notFound_) return PluginLibrary::RES_LIBRARYNOTFOUND;
  if (library.IsLoaded()) return PluginLibrary::RES_OK;
  auto module = std::make_unique<DynamicLibrary>();
  const FilePath file = library.IsProgram() ? FilePath("*") : PluginLibrary::ModuleFileName(library.name_.c_str());
  if (!module->Load(file)) {
    library.notFound_ = true;
    return PluginLibrary::RES_LIBRARYNOTFOUND;
  }
  void* entry = nullptr;
  if (!module->Symbol("VakGetPlugins", &entry)) {
    library.notFound_ = true;
    return PluginLibrary::RES_ENTRYPOINTNOTFOUND;
  }
  library.module_ = std::move(module);
  PluginLibrary* outer = loading_;
  loading_ = &library;
  reinterpret_cast<void (*)()>(entry)();
  loading_ = outer;
  return PluginLibrary::RES_OK;
}

} // namespace Vak
