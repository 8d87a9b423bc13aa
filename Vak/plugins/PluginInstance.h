#pragma once
// Base of objects made by a plug-in (materials, compressors): it keeps a
// counted reference on the plug-in that made it, so the plug-in outlives it.
#include "Vak/plugins/PluginType.h"
#include "Vak/plugins/ReferenceCount.h"

namespace Vak {

class PluginInstance : public virtual ReferenceCount {
public:
  PluginInstance() = default;
  ~PluginInstance() override;

  // Binds the instance to `type` (null unbinds), releasing the one held before.
  void Assign(PluginType* type);
  PluginType* GetType() const { return type_; }

private:
  PluginType* type_ = nullptr;
};

} // namespace Vak
