#include "engine/elthrac/OneTextureMaterial.h"

#include <typeinfo>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "engine/dorvix/RenderingCache.h"

namespace Vak {

OneTextureMaterial::OneTextureMaterial(const PString& type, MaterialManager* manager, RenderingCache* blend,
                                       RenderingCache* mask, RenderingCache* chunks)
    : Material(type), caches_{blend, mask, chunks} {
  SetManager(manager);
  for (RenderingCache* cache : caches_)
    if (cache) cache->AddReference();
}

OneTextureMaterial::~OneTextureMaterial() {
  for (int i = 2; i >= 0; --i)
    if (caches_[i]) caches_[i]->ReleaseReference();
}

bool OneTextureMaterial::SameClass(const Material& a, const Material& b) { return typeid(a) == typeid(b); }

bool OneTextureMaterial::Equals(const Material& other) const { return SameClass(*this, other) && IsEqual(other); }

void OneTextureMaterial::SetDisplayState(Display& display) { display.SetStageTexture(0, GetTexture(0)); }

void OneTextureMaterial::ClearDisplayState(Display& display) { display.SetStageTexture(0, nullptr); }

int OneTextureMaterial::SetTextureByName(unsigned slot, ResourceDatabase* database, const PString& name,
                                         float strength) {
  TextureCollection* textures = GetManager() ? GetManager()->GetTextureCollection() : nullptr;
  Texture* texture = textures ? textures->Find(name, database) : nullptr;
  if (!texture) return kResultTextureMissing;
  const int result = SetTexture(slot, texture, strength);
  texture->ReleaseReference();
  SetAlphaHint(-1);
  return result;
}

void OneTextureMaterial::CopyInstanceTo(Material& copy) const {
  copy.SetDisplayMaterialProperties(GetDisplayMaterialProperties());
  copy.SetFlags(GetFlags());
  copy.SetValue(GetValue());
  copy.SetResourcePriority(GetResourcePriority());
  copy.SetLightingFactor(GetLightingFactor());
  for (unsigned slot = 0; slot < kTextureSlots; ++slot)
    if (GetTexture(slot)) copy.BindTexture(slot, GetTexture(slot));
}

bool ReflectiveMaterial::Equals(const Material& other) const {
  if (!OneTextureMaterial::Equals(other)) return false;
  const auto& theirs = static_cast<const ReflectiveMaterial&>(other);
  return first_ == theirs.first_ && second_ == theirs.second_ && matrix_ == theirs.matrix_;
}

void ReflectiveMaterial::ChangeTexGen(Display& display, bool on) { display.SetTextureCoordGen(1, on ? 1 : 0, 2); }

void ReflectiveMaterial::SetSphericalTexureCoordinates(Display& display, GeometryChunk&, const Matrix4&) {
  display.Record("SetSphericalTexureCoordinates");
}

} // namespace Vak
