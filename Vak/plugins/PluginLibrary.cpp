#include "Vak/plugins/PluginLibrary.h"

#include <cstring>
#include <mutex>

#include "Vak/plugins/PluginSystem.h"
#include "Vak/plugins/PluginType.h"

namespace Vak {

namespace {

const ResultTable kLibraryResults[] = {
    {"RES_LIBRARYNOTFOUND", "Plugin library not found"},
    {"RES_ENTRYPOINTNOTFOUND", "Plugin library has no entry point"},
    {"RES_NOTSUPPORTED", "Dynamic loading not supported"},
};

// Modules whose plug-ins outlived their library: never freed, and reachable
// so that leak checkers see them as kept on purpose.
void Retain(std::unique_ptr<DynamicLibrary> module) {
  static std::mutex* mutex = new std::mutex;
  static auto* retained = new std::vector<std::unique_ptr<DynamicLibrary>>;
  std::lock_guard<std::mutex> lock(*mutex);
  retained->push_back(std::move(module));
}

} // namespace

const ResultTableSpan PluginLibrary::results = {kLibraryResults, sizeof kLibraryResults / sizeof kLibraryResults[0]};

PluginLibrary::PluginLibrary(const PString& name) : name_(name) {}

PluginLibrary::~PluginLibrary() { Unload(); }

bool PluginLibrary::IsProgram() const { return std::strcmp(name_.c_str(), "*") == 0; }

void PluginLibrary::Unload() {
  std::unique_ptr<DynamicLibrary> module = std::move(module_);
  std::vector<PluginType*> plugins;
  plugins.swap(plugins_);
  bool survivors = false;
  for (PluginType* plugin : plugins) {
    PluginSystem::Unregister(*plugin);
    if (!plugin->ReleaseReference()) survivors = true;
  }
  // Freeing the running program's handle only balances its opening.
  if (module && survivors && !IsProgram()) Retain(std::move(module));
}

FilePath PluginLibrary::ModuleFileName(const char* name) {
  FilePath file(name);
  if (file.IsExt("exe")) {
    file.SetExt(nullptr);
    file.Add("_7s.exe");
    return file;
  }
  if (file.IsExt("dll")) file.SetExt(nullptr);
  file.Add("_7s.so");
  return file;
}

} // namespace Vak
