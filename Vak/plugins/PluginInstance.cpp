#include "Vak/plugins/PluginInstance.h"

namespace Vak {

PluginInstance::~PluginInstance() { Assign(nullptr); }

void PluginInstance::Assign(PluginType* type) {
  if (type == type_) return;
  if (type) type->AddReference();
  PluginType* previous = type_;
  type_ = type;
  if (previous) previous->ReleaseReference();
}

} // namespace Vak
