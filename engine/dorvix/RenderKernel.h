#pragma once
// The render kernel: the scene graph, the display, the rendering caches, the
// material manager and the texture collections. This stand-in renders
// nothing; a program starts it as the engine would.
#include <memory>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/Material.h"
#include "engine/dorvix/MaterialManager.h"
#include "engine/dorvix/RenderingCache.h"
#include "engine/dorvix/SceneGraph.h"

namespace Vak {

class OS;

class RenderKernel {
public:
  // Without a scene graph the kernel makes its own. `version` is the render
  // interface the caller was built for.
  RenderKernel(SceneGraph* sceneGraph, float version);
  ~RenderKernel();
  RenderKernel(const RenderKernel&) = delete;
  RenderKernel& operator=(const RenderKernel&) = delete;

  // Attaches the kernel to the started OS object; `selector` picks the
  // renderer (0 the null renderer). Makes the shared textures.
  bool Init(OS* os, int selector);
  bool IsInitialised() const { return initialised_; }
  float Version() const { return version_; }
  OS* GetOS() const { return os_; }

  SceneGraph& GetSceneGraph() { return *sceneGraph_; }
  Display& GetDisplay() { return display_; }
  RenderingCacheManager& GetRenderingCacheManager() { return caches_; }
  // The kernel's own manager unless one was set (not owned; null restores).
  MaterialManager& GetMaterialManager() { return manager_ ? *manager_ : ownManager_; }
  void SetMaterialManager(MaterialManager* manager) { manager_ = manager; }
  // A kernel can run without any material manager (GetMaterialManager is
  // then not to be called).
  bool HasMaterialManager() const { return !withoutManager_; }
  void SetWithoutMaterialManager(bool without) { withoutManager_ = without; }
  SharedTextureCollection& GetSharedTextureCollection() { return sharedTextures_; }
  TextureCollection& GetTextureCollection() { return textures_ ? *textures_ : ownTextures_; }
  void SetTextureCollection(TextureCollection* textures) { textures_ = textures; }

private:
  std::unique_ptr<SceneGraph> ownSceneGraph_;
  SceneGraph* sceneGraph_;
  float version_;
  OS* os_ = nullptr;
  bool initialised_ = false;
  Display display_;
  RenderingCacheManager caches_;
  MaterialManager ownManager_;
  MaterialManager* manager_ = nullptr;
  bool withoutManager_ = false;
  SharedTextureCollection sharedTextures_;
  TextureCollection ownTextures_;
  TextureCollection* textures_ = nullptr;
};

} // namespace Vak
