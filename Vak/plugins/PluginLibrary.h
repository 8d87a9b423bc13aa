#pragma once
// One plug-in module named by the plug-in configuration: unloaded until a
// plug-in it serves is first asked for, then loaded and holding the plug-ins
// its `VakGetPlugins` registered. The name "*" is the running program.
#include <memory>
#include <vector>

#include "Vak/Bexlorn/DynamicLibrary.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Bexlorn/ResultClass.h"

namespace Vak {

class PluginType;

class PluginLibrary {
public:
  enum Results : unsigned {
    RES_OK = 0,
    RES_LIBRARYNOTFOUND,
    RES_ENTRYPOINTNOTFOUND,
    RES_NOTSUPPORTED,
  };
  static const ResultTableSpan results;
  using Result = ResultClass<&results, Results>;

  explicit PluginLibrary(const PString& name);
  // Unloads.
  virtual ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Forgets the module, drops the registry's reference on each plug-in it
  // registered (removing them from the system), then frees the module. The
  // running program is never freed, nor a module whose plug-ins somebody
  // still holds: their code must stay mapped, so such a module stays loaded
  // for the rest of the process.
  virtual void Unload();

  const PString& GetName() const { return name_; }
  bool IsProgram() const;
  bool IsLoaded() const { return module_ != nullptr; }
  // Set when loading failed; permanent for the plug-in system's life.
  bool IsNotFound() const { return notFound_; }
  const std::vector<PluginType*>& GetPlugins() const { return plugins_; }

  // The file a library name loads: "x.exe" (any case) gives "x_7s.exe";
  // "x.dll" and "x" give "x_7s.so".
  static FilePath ModuleFileName(const char* name);

private:
  friend class PluginSystem;

  PString name_;
  std::vector<PluginType*> plugins_;
  std::unique_ptr<DynamicLibrary> module_;  // null until loaded
  bool notFound_ = false;
};

} // namespace Vak
