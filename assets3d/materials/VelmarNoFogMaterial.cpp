#include "assets3d/materials/VelmarNoFogMaterial.h"

#include "engine/dorvix/Display.h"

namespace Vak {

namespace {
constexpr int kCullNone = 0;
constexpr int kCullBack = 1;
} // namespace

VelmarNoFogMaterial::VelmarNoFogMaterial(const PString& type, MaterialManager* manager, RenderingCache* mask,
                                         RenderingCache* chunks, TextureStageSetting* setting)
    : OneTextureMaterial(type, manager, nullptr, mask, chunks), setting_(setting) {
  if (setting_) setting_->AddReference();
}

VelmarNoFogMaterial::~VelmarNoFogMaterial() {
  if (setting_) setting_->ReleaseReference();
}

Material* VelmarNoFogMaterial::Duplicate() const {
  Material* copy = CreateInstance(GetTypeName(), GetManager());
  if (auto* same = dynamic_cast<VelmarNoFogMaterial*>(copy)) {
    CopyInstanceTo(*same);
    same->first_ = first_;
    same->second_ = second_;
    same->SetBlendFunction(source_, destination_);
  }
  return copy;
}

void VelmarNoFogMaterial::SetDisplayState(Display& display) {
  savedFog_ = display.FogMode();
  display.SetFogMode(0);
  display.SetCullMode(first_ ? kCullNone : kCullBack);
  display.SetStageTexture(0, GetTexture(0));
  if (!second_) {
    savedBlend_ = display.GetAlphaBlendMode();
    display.GetAlphaBlendFunction(savedSource_, savedDestination_);
    display.SetAlphaBlendFunction(source_, destination_);
    display.SetAlphaBlendMode(true);
  }
  if (setting_) display.ApplyTextureStageSetting(*setting_);
}

void VelmarNoFogMaterial::ClearDisplayState(Display& display) {
  display.SetFogMode(savedFog_);
  display.SetCullMode(kCullBack);
  if (!second_) {
    display.SetAlphaBlendMode(savedBlend_);
    display.SetAlphaBlendFunction(savedSource_, savedDestination_);
  }
  if (setting_) display.ClearTextureStageSetting(*setting_);
}

} // namespace Vak
