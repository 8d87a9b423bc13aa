#include "engine/dorvix/RenderKernel.h"

namespace Vak {

RenderKernel::RenderKernel(SceneGraph* sceneGraph, float version) : sceneGraph_(sceneGraph), version_(version) {
  if (!sceneGraph_) {
    ownSceneGraph_ = std::make_unique<SceneGraph>();
    sceneGraph_ = ownSceneGraph_.get();
  }
  ownManager_.SetKernel(this);
}

RenderKernel::~RenderKernel() { sharedTextures_.Release(); }

bool RenderKernel::Init(OS* os, int selector) {
  (void)selector;  // every renderer is the null renderer here
  os_ = os;
  sharedTextures_.Create();
  initialised_ = true;
  return true;
}

} // namespace Vak
