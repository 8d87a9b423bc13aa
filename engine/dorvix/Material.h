#pragma once
// Materials, textures and geometry chunks as the render kernel hands them
// out: counted objects found by name. The stand-in draws nothing; it keeps
// what callers bind and ask for so they can be checked.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/ReferenceCount.h"

namespace Vak {

class ResourceDatabase;

class Texture : public ReferenceCount {
public:
  explicit Texture(const PString& name) : name_(name) {}
  const PString& GetName() const { return name_; }
  // A texture whose chunk could not be made.
  virtual bool HasProblem() const { return false; }

private:
  PString name_;
};

// The vertex layout a material draws with for a hint.
class GeometryChunk : public ReferenceCount {
public:
  GeometryChunk(int hint, int a, int b, int c) : hint_(hint), a_(a), b_(b), c_(c) {}
  int Hint() const { return hint_; }
  int A() const { return a_; }
  int B() const { return b_; }
  int C() const { return c_; }

private:
  int hint_, a_, b_, c_;
};

class Material : public ReferenceCount {
public:
  static constexpr unsigned kTextureSlots = 16;
  static constexpr int kStandardChunkHint = 0;

  explicit Material(const PString& name);
  ~Material() override;

  const PString& GetName() const { return name_; }
  // Takes a reference on the texture, releasing the one bound before; false
  // for a slot out of range.
  bool BindTexture(unsigned slot, Texture* texture);
  Texture* GetTexture(unsigned slot) const { return slot < kTextureSlots ? textures_[slot] : nullptr; }
  // A new chunk with one reference for the caller.
  virtual GeometryChunk* GetGeometryChunk(int hint, int a, int b, int c);

private:
  PString name_;
  Texture* textures_[kTextureSlots] = {};
};

// Loads materials by name ("Library.kind"). The stand-in has no material
// files: every name gives a plain material. Replaced by a loader that knows
// the product's materials, or by tests.
class MaterialLoader {
public:
  enum Result { kOk = 0, kNotFound = 1, kFailed = 2 };

  virtual ~MaterialLoader() = default;
  // On kOk `out` holds one reference for the caller; else it is null.
  virtual Result Load(const PString& name, Material*& out);
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
// holds a file of that name.
class TextureCollection {
public:
  virtual ~TextureCollection() = default;
  // A new texture with one reference for the caller, or null.
  virtual Texture* Find(const PString& name, ResourceDatabase* database);
};

} // namespace Vak
