#include "engine/elthrac/MaterialPlugin.h"

#include <atomic>

#include "engine/dorvix/RenderingCache.h"
#include "engine/dorvix/RenderKernel.h"
#include "engine/elthrac/OneTextureMaterial.h"

namespace Vak {

namespace {
std::atomic<int> gLive{0};
} // namespace

MaterialPlugin::MaterialPlugin(const PString& name, const UId& id)
    : PluginType(name, id, MaterialManager::PluginGroup()) {
  ++gLive;
}

MaterialPlugin::~MaterialPlugin() { --gLive; }

int MaterialPlugin::Live() { return gLive.load(); }

template <typename Cache>
RenderingCache* MaterialPlugin::GatherCache(RenderingCacheManager& manager, const PString& id) {
  if (RenderingCache* found = manager.FindCache(id)) {
    found->AddReference();
    return found;
  }
  RenderingCache* made = new Cache(1);
  manager.AddCache(made);
  return made;
}

template RenderingCache* MaterialPlugin::GatherCache<AlphaBlendCache>(RenderingCacheManager&, const PString&);
template RenderingCache* MaterialPlugin::GatherCache<AlphaMaskCache>(RenderingCacheManager&, const PString&);
template RenderingCache* MaterialPlugin::GatherCache<MaterialChunkCache>(RenderingCacheManager&, const PString&);

OneTextureMaterialPlugin::~OneTextureMaterialPlugin() {
  // The display may be gone by now: the setting is let go on its own.
  if (setting_) setting_->ReleaseReference();
  for (RenderingCache* cache : {blend_, mask_, chunks_})
    if (cache) cache->ReleaseReference();
}

bool OneTextureMaterialPlugin::CreatePluginResources(RenderKernel* kernel) {
  if (!kernel) return false;
  RenderingCacheManager& caches = kernel->GetRenderingCacheManager();
  if (!chunks_) chunks_ = GatherCache<MaterialChunkCache>(caches, MaterialChunkCache::MaterialChunkCacheID());
  if (!mask_) mask_ = GatherCache<AlphaMaskCache>(caches, AlphaMaskCache::AlphaMaskCacheID());
  if (!blend_) blend_ = GatherCache<AlphaBlendCache>(caches, AlphaBlendCache::AlphaBlendCacheID());
  if (!setting_) {
    display_ = &kernel->GetDisplay();
    // Base texture times the lit colour, alpha from the texture.
    const TexArg none{0, 3, 3};
    const TextureArgs colour(0, 1, ModeType(0), DTexFuncType(1), {0, 0, 0}, {0, 1, 0}, none, none);
    const TextureArgs alpha(0, 1, ModeType(1), DTexFuncType(0), {0, 0, 0}, none, none, none);
    setting_ = display_->CreateTextureStageSetting(0, colour, alpha);
  }
  return setting_ != nullptr;
}

Material* OneTextureMaterialPlugin::CreateMaterial(MaterialManager* manager, RenderKernel* kernel) {
  if (!CreatePluginResources(kernel)) return nullptr;
  auto* material = new OneTextureMaterial(GetName(), manager, blend_, mask_, chunks_);
  material->Assign(this);
  return material;
}

} // namespace Vak
