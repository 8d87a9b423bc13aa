#pragma once
// The plug-in system: which plug-ins exist, in which modules they live and how
// identifiers are redirected. One per process, held in a global pointer and
// counted: the first Get creates it and reads the configuration, the last
// Release destroys it and unloads every module.
//
// Configuration: the option files "plugins.ini" in the kernel's folder, the
// program's folder and the current folder (each once), modules found through
// the program's "AutoPlugin" and "PluginDir" options that export
// "PluginList", and their repeated options
//   PluginGroup=name:group id[:parent group id]
//   Plugin=name:library:plug-in id[:group id]
//   PluginRemap=id:replacement id
// (several values of one key joined with ",", as "+Key=" appends them).
//
// Keeping modules loaded. A look-up made while nobody else holds the system
// creates it, loads the module and destroys the system again, which unloads
// the module. Whoever keeps plug-ins (the resource system keeps resource
// types) must therefore hold the system for as long as it keeps them: take a
// Holder with Acquire before the first look-up and drop it only after the
// last plug-in reference has been given back. The resource system takes one in
// its constructor and drops it as the last step of its destructor.
//
// Every operation runs under one process-wide recursive lock, so look-ups from
// several threads and look-ups made inside `VakGetPlugins` are safe.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/ResultClass.h"
#include "Vak/plugins/PluginLibrary.h"
#include "Vak/plugins/PluginTable.h"
#include "Vak/plugins/PluginType.h"
#include "Vak/plugins/ReferenceCount.h"
#include "Vak/plugins/UId.h"

namespace Vak {

class PluginSystem : public ReferenceCount {
public:
  enum Results : unsigned {
    RES_OK = 0,
    RES_PLUGINIDNOTFOUND,
    RES_PLUGINGROUPIDNOTFOUND,
    RES_PLUGINNAMENOTFOUND,
    RES_PLUGINLIBRARYNOTFOUND,
  };
  static const ResultTableSpan results;
  using Result = ResultClass<&results, Results>;

  class Holder;

  // The system with one reference added; created (and configured) on first
  // use. Give the reference back with Release, never ReleaseReference.
  static PluginSystem* Get();
  void Release();
  // A counted hold on the system (see the top of this file).
  static Holder Acquire();

  // The plug-in of a group (remapped) and a name, loading its module on first
  // demand; one reference added to it. Takes and releases the system.
  static Result FindPlugin(const UId& group, const PString& name, PluginType*& plugin);

  // The plug-in of an identifier (remapped), loading its module on first
  // demand; one reference added to it. `plugin` is null on failure.
  Result CreatePlugin(const UId& id, PluginType*& plugin);
  Result Find(const UId& group, const PString& name, PluginType*& plugin);
  // Loads the library's module and lets it register its plug-ins.
  PluginLibrary::Result LoadModule(PluginLibrary& library);

  // The configured library of a name, or null.
  PluginLibrary* FindLibrary(const PString& name) const;

  // Where start-up looks for "plugins.ini" besides the current folder. The
  // kernel is linked into the program, so both default to the program's
  // folder; tests point them elsewhere (null restores the default).
  static void SetFolders(const char* kernelFolder, const char* programFolder);

private:
  friend class PluginLibrary;
  friend class PluginType;
  struct Record;
  struct Named {
    PluginType* type;  // a registered plug-in, or
    Record* record;    // a configured one
  };

  PluginSystem();
  ~PluginSystem() override;
  // Clears the global pointer on the way out.
  void DeleteThis() override;

  static void Register(PluginType& plugin);
  static void Unregister(PluginType& plugin);
  static void Remove(PluginType& plugin);

  void Startup();
  void ReadIni(const char* folder, std::vector<std::string>& read);
  void ScanModules(const char* folder);
  void ReadGroup(const std::string& line);
  void ReadPlugin(const std::string& line);
  void ReadRemap(const std::string& line);
  Record* FindGroup(const UId& id);
  Record* FindConfigured(const UId& id);

  UId Remap(const UId& id) const;
  Result Serve(PluginType& type, PluginType*& plugin);
  Result SearchName(const UId& group, const PString& name, PluginType*& plugin, Record** configured);

  Options options_;
  PluginTable<UId, UId> remaps_;
  PluginTable<UId, PluginType*> registered_;
  PluginTable<PString, Named> names_;
  PluginTable<UId, Record*> configuration_;
  std::vector<std::unique_ptr<Record>> records_;
  std::vector<std::unique_ptr<PluginLibrary>> libraries_;
  std::unordered_map<const void*, PluginLibrary*> librariesByName_;  // by interned node
  PluginLibrary* loading_ = nullptr;  // whose VakGetPlugins is running
};

class PluginSystem::Holder {
public:
  Holder() = default;
  ~Holder() { Reset(); }
  Holder(Holder&& other) noexcept : system_(other.system_) { other.system_ = nullptr; }
  Holder& operator=(Holder&& other) noexcept;
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  PluginSystem* Get() const { return system_; }
  PluginSystem* operator->() const { return system_; }
  explicit operator bool() const { return system_ != nullptr; }
  // Gives the hold back.
  void Reset();

private:
  friend class PluginSystem;
  explicit Holder(PluginSystem* system) : system_(system) {}
  PluginSystem* system_ = nullptr;
};

} // namespace Vak
