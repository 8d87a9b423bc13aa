#include "engine/dorvix/Material.h"

#include <new>

#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/MaterialManager.h"
#include "engine/kernelx/Bitmap.h"

namespace Vak {

namespace {

// Whether the database's files hold one of the name; no resource type is
// needed for that, unlike the database's Exists.
bool HoldsFile(ResourceDatabase* database, const PString& name) {
  if (database == nullptr || name.Length() == 0) return false;
  return File::Exists(database->GetFileName(name).c_str()).Ok();
}

} // namespace

Material::Material(const PString& name) : name_(name) {}

NullMaterial::NullMaterial(const PString& name) : Material(name) {}

NullMaterial::~NullMaterial() = default;

Material::~Material() {
  for (Texture* texture : textureList_) texture->ReleaseReference();
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

int Material::SetTexture(unsigned slot, ResourceDatabase* database, const PString& file, float) {
  if (slot >= kTextureSlots) return 1;
  if (file.Length() == 0) return 2;
  Texture* texture = new Texture(file, database);
  BindTexture(slot, texture);
  textureList_.push_back(texture);  // the creation's reference
  state_ = kLoadingTextures;
  return 0;
}

bool Material::IsLoaded() const {
  if (state_ != kReady && state_ != kLoadingTextures) return false;
  for (const Texture* texture : textureList_)
    if (!texture->IsLoaded()) return false;
  return true;
}

bool Material::IsEqual(const Material& other) const {
  if (name_ != other.name_ || !(display_ == other.display_) || flags_ != other.flags_ || value_ != other.value_ ||
      properties_ != other.properties_)
    return false;
  for (unsigned slot = 0; slot < kTextureSlots; ++slot) {
    const Texture* mine = textures_[slot];
    const Texture* theirs = other.textures_[slot];
    if ((mine == nullptr) != (theirs == nullptr)) return false;
    if (mine && mine->GetName() != theirs->GetName()) return false;
  }
  return true;
}

int Material::SetTexture(unsigned slot, Texture* texture, float) {
  if (!texture || slot >= kTextureSlots) return kResultTextureMissing;
  BindTexture(slot, texture);
  texture->SetPriority(priority_);
  SetTextureDefinition(slot, texture->GetName());
  return kResultOk;
}

int Material::DuplicateTexture(unsigned slot) {
  Texture* texture = GetTexture(slot);
  if (!texture) return kResultTextureMissing;
  Texture* copy = texture->Duplicate();
  BindTexture(slot, copy);
  copy->ReleaseReference();
  return kResultOk;
}

void Material::Bind(Display& display, View*, int flag) {
  if (flag == 0) SetDisplayState(display);
}

void Material::Unbind(Display& display, View*, int flag) {
  if (flag == 0) ClearDisplayState(display);
}

void Material::RenderChunk(Display&, View*, GeometryChunk&, const LightList&, const Matrix4&) {}

void Material::RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                               const LightList* const* lights, const Matrix4* transforms, unsigned count) {
  for (unsigned i = 0; i < count; ++i) RenderChunk(display, view, *chunks[i], *lights[i], transforms[i]);
}

void Material::RenderPrimitives(Display&, View*, GeometryChunk&, const LightList&, const Matrix4&, unsigned,
                                unsigned) {}

void Material::SetLightingState(Display& display, const Matrix4* view, VertexProgram*, const LightList&,
                                const Matrix4&, float factor) {
  const Colour& specular = display_.specular;
  display.Record("SetLightingState", {double(view != nullptr), factor, specular.r, specular.g, specular.b, specular.a});
}

Material* Material::CreateInstance(const PString& type, MaterialManager* manager) {
  return manager ? manager->CreateOfType(type) : nullptr;
}

bool Texture::SetFromBitmap(int, int, const Bitmap& bitmap, DisplayFormat format) {
  if (bitmap.IsEmpty()) return false;
  bitmapFormat_ = format;
  ++bitmapUpdates_;
  return true;
}

bool Texture::Load() {
  if (state_ == kPending) state_ = HoldsFile(database_, name_) ? kLoaded : kFailed;
  return state_ == kLoaded;
}

VertexType Material::VertexTypeForHint(const StandardChunkHint& hint) {
  VertexType type;
  type.Add(kItemPosition);
  type.Add(kItemColour);
  type.Add(kItemNormal);
  const uint32_t flags = hint.flags;
  if ((flags & StandardChunkHint::kSkinned) && !(flags & StandardChunkHint::kSoftwareSkinning)) {
    if (flags & StandardChunkHint::kFloatWeights) {
      unsigned weights = hint.weightsPerVertex < 1 ? 1 : hint.weightsPerVertex > 4 ? 4 : hint.weightsPerVertex;
      type.Add(VertexType::WeightItem(weights));
    } else {
      type.Add(kItemPackedWeights);
    }
    type.Add(kItemBlendIndices);
  }
  unsigned sets = hint.textureSets > unsigned(VertexType::kMaxTexCoordSets) ? VertexType::kMaxTexCoordSets
                                                                            : hint.textureSets;
  for (unsigned j = 0; j < sets; ++j) type.Add(kItemTexCoord0 + int(j));
  if (hint.tangents) type.Add(kItemTangent);
  return type;
}

GeometryChunk* Material::CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                             int geometryType, const StandardChunkHint& hint) {
  GeometryChunk* chunk = nullptr;
  try {
    chunk = new GeometryChunk(VertexTypeForHint(hint), vertices, secondSize, indices, faces, geometryType, hint);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  const uint32_t skinned = StandardChunkHint::kSkinned | StandardChunkHint::kSoftwareSkinning;
  chunk->SetSoftwareSkinned((hint.flags & skinned) == skinned);
  return chunk;
}

bool Material::VerifyDecoratedName(const char* decorated, unsigned textureCount, const char* const* textureNames) {
  PString decoration, material;
  if (!MaterialManager::SplitDecoratedMaterialName(decorated, decoration, material) || material.Length() == 0)
    return false;
  for (unsigned i = 0; i < textureCount; ++i)
    if (!textureNames || !textureNames[i] || !*textureNames[i]) return false;
  return true;
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
  if (!HoldsFile(database, name)) return nullptr;
  return new Texture(name);
}

} // namespace Vak
