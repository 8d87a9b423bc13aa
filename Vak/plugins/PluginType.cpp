#include "Vak/plugins/PluginType.h"

#include "Vak/plugins/PluginSystem.h"

namespace Vak {

PluginType::PluginType(const PString& name, const UId& id, const UId& group) : name_(name), id_(id), group_(group) {
  PluginSystem::Register(*this);
}

// The last reference may go while the system still lists the plug-in.
PluginType::~PluginType() { PluginSystem::Unregister(*this); }

} // namespace Vak
