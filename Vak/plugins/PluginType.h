#pragma once
// A plug-in as the plug-in system knows it: an identifier, a name and the
// identifier of its group. Building one registers it with the running plug-in
// system, which then owns the reference the object starts with; a module's
// `VakGetPlugins` builds its plug-ins this way, and they belong to that module's
// library. Callers that get a plug-in from a look-up own one reference and give
// it back with ReleaseReference.
#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/ReferenceCount.h"
#include "Vak/plugins/UId.h"

namespace Vak {

class PluginLibrary;
class PluginSystem;

class PluginType : public ReferenceCount {
public:
  // Without a running plug-in system nothing registers it and the caller
  // keeps the reference.
  PluginType(const PString& name, const UId& id, const UId& group);
  ~PluginType() override;

  const PString& GetName() const { return name_; }
  const UId& GetId() const { return id_; }
  const UId& GetGroupId() const { return group_; }
  // The library whose module registered it; null for one registered outside
  // a module load, or once that library was unloaded.
  PluginLibrary* GetLibrary() const { return library_; }

private:
  friend class PluginSystem;

  PString name_;
  UId id_;
  UId group_;
  PluginLibrary* library_ = nullptr;
  PluginSystem* system_ = nullptr;  // the system it is registered with
};

} // namespace Vak
