#include "engine/dorvix/Material.h"

#include "Vak/Cindrel/ResourceDatabase.h"

namespace Vak {

Material::Material(const PString& name) : name_(name) {}

Material::~Material() {
  for (Texture*& texture : textures_) {
    if (texture) texture->ReleaseReference();
    texture = nullptr;
  }
}

bool Material::BindTexture(unsigned slot, Texture* texture) {
  if (slot >= kTextureSlots) return false;
  if (texture) texture->AddReference();
  if (textures_[slot]) textures_[slot]->ReleaseReference();
  textures_[slot] = texture;
  return true;
}

GeometryChunk* Material::GetGeometryChunk(int hint, int a, int b, int c) { return new GeometryChunk(hint, a, b, c); }

MaterialLoader::Result MaterialLoader::Load(const PString& name, Material*& out) {
  out = nullptr;
  if (name.Length() == 0) return kNotFound;
  out = new Material(name);
  return kOk;
}

SharedTextureCollection::~SharedTextureCollection() { Release(); }

void SharedTextureCollection::Create() {
  if (!textures_.empty()) return;
  for (unsigned i = 0; i < kCount; ++i) {
    PString name;
    name.Setf("shared%u", i);
    textures_.push_back(new Texture(name));
  }
}

void SharedTextureCollection::Release() {
  for (Texture* texture : textures_) texture->ReleaseReference();
  textures_.clear();
}

Texture* SharedTextureCollection::Get(unsigned index) {
  if (index >= textures_.size()) return nullptr;
  textures_[index]->AddReference();
  return textures_[index];
}

Texture* TextureCollection::Find(const PString& name, ResourceDatabase* database) {
  if (!database || name.Length() == 0) return nullptr;
  if (!database->Exists(name)) return nullptr;
  return new Texture(name);
}

} // namespace Vak
