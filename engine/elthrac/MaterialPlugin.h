#pragma once
// Material plug-ins: factories the material manager finds by type name.
// Building one registers it with the running plug-in system.
#include "Vak/plugins/PluginType.h"
#include "engine/dorvix/MaterialManager.h"

namespace Vak {

class RenderingCache;
class RenderingCacheManager;
class TextureStageSetting;

class MaterialPlugin : public PluginType, public MaterialSource {
public:
  MaterialPlugin(const PString& name, const UId& id);
  ~MaterialPlugin() override;
  // Material plug-ins alive in the process.
  static int Live();

  bool IsSupported(Display&, PString&) override { return true; }
  Material* CreateMaterial(MaterialManager*, RenderKernel*) override { return nullptr; }

  // A counted cache of the manager's of this identifier; made with one pass
  // and added when the manager has none. The caller owns the reference.
  template <typename Cache>
  static RenderingCache* GatherCache(RenderingCacheManager& manager, const PString& id);
};

// The engine's one-texture plug-in base: the three caches and one stage-0
// setting, made by CreatePluginResources.
class OneTextureMaterialPlugin : public MaterialPlugin {
public:
  using MaterialPlugin::MaterialPlugin;
  ~OneTextureMaterialPlugin() override;

  // False without a kernel or when a cache or the setting cannot be had.
  virtual bool CreatePluginResources(RenderKernel* kernel);
  Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) override;

  RenderingCache* GetMaterialChunkCache() const { return chunks_; }
  RenderingCache* GetAlphaMaskCache() const { return mask_; }
  RenderingCache* GetAlphaBlendCache() const { return blend_; }
  TextureStageSetting* GetBaseSetting() const { return setting_; }

private:
  RenderingCache* chunks_ = nullptr;
  RenderingCache* mask_ = nullptr;
  RenderingCache* blend_ = nullptr;
  TextureStageSetting* setting_ = nullptr;
  Display* display_ = nullptr;
};

} // namespace Vak
