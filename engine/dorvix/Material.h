#pragma once
// Materials and textures as the render kernel hands them out: counted
// objects found by name. The stand-in draws nothing; it keeps what callers
// bind and set so they can be checked, and makes geometry chunks.
#include <cstdint>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/PluginInstance.h"
#include "Vak/plugins/ReferenceCount.h"
#include "engine/dorvix/DisplayMaterial.h"
#include "engine/dorvix/GeometryChunk.h"
#include "engine/dorvix/StandardChunkHint.h"
#include "engine/dorvix/VertexType.h"

namespace Vak {

class Display;
class LightList;
class MaterialManager;
class View;
class VertexProgram;
class ResourceDatabase;
struct Matrix4;

class Resource;
class Bitmap;

// Pixel formats of the display's textures.
enum class DisplayFormat : int {
  kUnknown = 0,
  kARGB8888 = 1,
  kXRGB8888 = 3,
  kCompressed = 5,
  kRGB565 = 8,
};

class Texture : public ReferenceCount {
public:
  enum LoadState { kPending, kLoaded, kFailed };
  // Loaded unless a database is given: then it waits for Load.
  explicit Texture(const PString& name, ResourceDatabase* database = nullptr)
      : name_(name), database_(database), state_(database ? kPending : kLoaded) {}
  const PString& GetName() const { return name_; }
  // A texture whose chunk could not be made.
  virtual bool HasProblem() const { return false; }
  // Reads the image now: the stand-in finds it when its database holds a
  // file of the name. False when it failed.
  virtual bool Load();
  LoadState GetLoadState() const { return state_; }
  void SetLoadState(LoadState state) { state_ = state; }
  bool IsLoaded() const { return state_ == kLoaded; }
  bool HasFailed() const { return state_ == kFailed; }
  // The resource its image comes from (not owned; null when none).
  Resource* GetResource() const { return resource_; }
  void SetResource(Resource* resource) { resource_ = resource; }
  // 0 a plain image, 1 a cube map.
  int GetKind() const { return kind_; }
  void SetKind(int kind) { kind_ = kind; }
  float GetPriority() const { return priority_; }
  void SetPriority(float priority) { priority_ = priority; }
  // Replaces the image by a bitmap's pixels in `format`; the two values
  // say where (as the caller's texture interface defines them). False for
  // an empty bitmap. The stand-in keeps the format and counts the calls.
  virtual bool SetFromBitmap(int first, int second, const Bitmap& bitmap, DisplayFormat format);
  DisplayFormat GetBitmapFormat() const { return bitmapFormat_; }
  unsigned GetBitmapUpdates() const { return bitmapUpdates_; }
  // A new texture of the same name, kind and state, one reference.
  Texture* Duplicate() const {
    auto* copy = new Texture(name_, database_);
    copy->state_ = state_;
    copy->kind_ = kind_;
    copy->priority_ = priority_;
    return copy;
  }

private:
  DisplayFormat bitmapFormat_ = DisplayFormat::kUnknown;
  unsigned bitmapUpdates_ = 0;
  int kind_ = 0;
  float priority_ = 0;
  PString name_;
  ResourceDatabase* database_;
  LoadState state_;
  Resource* resource_ = nullptr;
};

class Material : public PluginInstance {
public:
  static constexpr unsigned kTextureSlots = 16;

  // How the indices of a chunk join into primitives.
  enum GeometryType : int {
    kTriangleList = 0,
    kTriangleStrip = 1,
    kTriangleFan = 2,
    kPointList = 3,
    kLineList = 4,
    kLineStrip = 5,
  };

  // Result codes of the operations below.
  enum Result : int { kResultOk = 0, kResultTextureMissing = 3, kResultNotLoaded = 4 };

  explicit Material(const PString& name);
  ~Material() override;

  // A new material of the same type and settings, one reference for the
  // caller; null when the type cannot be made.
  virtual Material* Duplicate() const { return nullptr; }
  // Same class and same look.
  virtual bool Equals(const Material& other) const { return IsEqual(other); }
  // The plug-in name the material was made by.
  virtual PString GetTypeName() const { return name_; }
  // Binds a counted texture to a slot: 3 for null (the old one stays).
  virtual int SetTexture(unsigned slot, Texture* texture, float strength);
  // Gives a slot its own copy of its texture; 3 when the slot is empty.
  virtual int DuplicateTexture(unsigned slot);
  virtual unsigned GetNumPasses() const { return 1; }
  // Readies the textures for drawing at a mip level (-1: the finest); the
  // stand-in keeps the last level asked for.
  virtual void Activate(int mipLevel) {
    activeMip_ = mipLevel;
    ++activations_;
  }
  int GetActiveMipLevel() const { return activeMip_; }
  unsigned GetActivationCount() const { return activations_; }
  // Sets or clears the display states while `flag` is 0.
  virtual void Bind(Display& display, View* view, int flag);
  virtual void Unbind(Display& display, View* view, int flag);
  virtual void RenderChunk(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                           const Matrix4& transform);
  virtual void RenderNumChunks(Display& display, View* view, GeometryChunk* const* chunks,
                               const LightList* const* lights, const Matrix4* transforms, unsigned count);
  virtual void RenderPrimitives(Display& display, View* view, GeometryChunk& chunk, const LightList& lights,
                                const Matrix4& transform, unsigned first, unsigned count);
  // The alpha hint the caches sort by; -1 while unknown.
  virtual void CacheAlphaHint(int& hint) { hint = alphaHint_; }
  int GetAlphaHint() const { return alphaHint_; }
  void SetAlphaHint(int hint) { alphaHint_ = hint; }
  virtual void SetDisplayState(Display&) {}
  virtual void ClearDisplayState(Display&) {}

  // Hands the lights and transforms to the display; recorded there with
  // whether there is a view, the lighting factor and the specular colour.
  void SetLightingState(Display& display, const Matrix4* view, VertexProgram* program, const LightList& lights,
                        const Matrix4& transform, float factor);
  // The texture name a slot was last given.
  void SetTextureDefinition(unsigned slot, const PString& name) {
    if (slot < kTextureSlots) definitions_[slot] = name;
  }
  const PString& GetTextureDefinition(unsigned slot) const { return definitions_[slot < kTextureSlots ? slot : 0]; }
  // The hint flags a chunk is made with; its own flags keep those above
  // the low five bits, which are its geometry type's.
  static uint32_t MakeGeometryChunkFlags(const StandardChunkHint& hint) { return hint.flags; }
  // A new material of a plug-in type, through the manager; null when none.
  static Material* CreateInstance(const PString& type, MaterialManager* manager);
  MaterialManager* GetManager() const { return manager_; }
  void SetManager(MaterialManager* manager) { manager_ = manager; }
  float GetLightingFactor() const { return lightingFactor_; }
  void SetLightingFactor(float factor) { lightingFactor_ = factor; }

  const PString& GetName() const { return name_; }
  // Takes a reference on the texture, releasing the one bound before; false
  // for a slot out of range.
  bool BindTexture(unsigned slot, Texture* texture);
  Texture* GetTexture(unsigned slot) const { return slot < kTextureSlots ? textures_[slot] : nullptr; }
  // Loading states; with kLoadingTextures it waits for its texture list.
  enum LoadingState : int { kReady = 0, kLoadingTextures = 4 };
  // Hands a texture file to a slot: a pending texture of the file is bound
  // and listed, and the material waits for it. 0 on success, 2 for an empty
  // file name, 1 for a slot out of range.
  virtual int SetTexture(unsigned slot, ResourceDatabase* database, const PString& file, float value);
  int GetState() const { return state_; }
  void SetState(int state) { state_ = state; }
  // Ready with every listed texture loaded.
  virtual bool IsLoaded() const;
  // The textures handed over by SetTexture, in order (each one reference).
  const std::vector<Texture*>& GetTextureList() const { return textureList_; }
  // Whether `other` draws the same: name, lighting, flags, value, properties
  // and the texture of each slot (by name). The type is the caller's to
  // compare.
  virtual bool IsEqual(const Material& other) const;

  // The vertex type this material draws a hint's geometry with: position,
  // colour and normal; for skinned geometry not skinned in software, float
  // weights (kFloatWeights, one to four) or packed weights, then blend
  // indices; the hint's texture sets (at most 8); item 27 when asked for.
  static VertexType VertexTypeForHint(const StandardChunkHint& hint);
  // A new chunk with one reference for the caller; null when its memory
  // cannot be had. A software-skinning hint gives a software-skinned chunk.
  virtual GeometryChunk* CreateGeometryChunk(unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                                             int geometryType, const StandardChunkHint& hint);

  void SetDisplayMaterialProperties(const DisplayMaterial& properties) { display_ = properties; }
  const DisplayMaterial& GetDisplayMaterialProperties() const { return display_; }
  uint32_t GetFlags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }
  float GetValue() const { return value_; }
  void SetValue(float value) { value_ = value; }

  // Name and value pairs in the order added.
  void AddProperty(const PString& name, const PString& value) { properties_.emplace_back(name, value); }
  unsigned GetNumProperties() const { return static_cast<unsigned>(properties_.size()); }
  const PString& GetPropertyName(unsigned i) const { return properties_[i].first; }
  const PString& GetPropertyValue(unsigned i) const { return properties_[i].second; }

  // The name first asked for when a fall-back supplied this material.
  const PString& GetRequestName() const { return requestName_; }
  void SetRequestName(const PString& name) { requestName_ = name; }
  float GetResourcePriority() const { return priority_; }
  void SetResourcePriority(float priority) { priority_ = priority; }
  // The type a material made without a manager stands for.
  const PString& GetCreationType() const { return creationType_; }
  void SetCreationType(const PString& type) { creationType_ = type; }

  // Separates the parts of a decorated material name ("owner*folder*name").
  static const char* DecoratedTypeToken() { return "*"; }
  // True when the name carries the token with a material part behind it and
  // each of the `textureCount` texture names is non-empty.
  static bool VerifyDecoratedName(const char* decorated, unsigned textureCount, const char* const* textureNames);

private:
  PString name_;
  Texture* textures_[kTextureSlots] = {};
  DisplayMaterial display_;
  uint32_t flags_ = 0;
  float value_ = 1.0f;
  std::vector<std::pair<PString, PString>> properties_;
  PString requestName_;
  float priority_ = 0.0f;
  PString creationType_;
  int state_ = kReady;
  std::vector<Texture*> textureList_;
  PString definitions_[kTextureSlots];
  int alphaHint_ = -1;
  MaterialManager* manager_ = nullptr;
  float lightingFactor_ = 1.0f;
  int activeMip_ = 0;
  unsigned activations_ = 0;
};

// What stands in for a material when no manager supplies one: it keeps its
// type and draws nothing.
class NullMaterial : public Material {
public:
  // Out of line: its tables then live in one object.
  explicit NullMaterial(const PString& name);
  ~NullMaterial() override;
};

// The textures the kernel shares between materials, by index.
class SharedTextureCollection {
public:
  static constexpr unsigned kCount = 4;

  SharedTextureCollection() = default;
  SharedTextureCollection(const SharedTextureCollection&) = delete;
  SharedTextureCollection& operator=(const SharedTextureCollection&) = delete;
  ~SharedTextureCollection();

  // Made by the kernel's Init.
  void Create();
  void Release();
  // With one reference for the caller; null before Create or past the end.
  Texture* Get(unsigned index);

private:
  std::vector<Texture*> textures_;
};

// Textures by name in a resource database: one exists when the database
// holds a file of that name (whether or not a resource type reads it).
class TextureCollection {
public:
  virtual ~TextureCollection() = default;
  // A new texture with one reference for the caller, or null.
  virtual Texture* Find(const PString& name, ResourceDatabase* database);
};

} // namespace Vak
