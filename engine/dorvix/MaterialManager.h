#pragma once
// Supplies materials by (decorated) name. The stand-in knows no material
// files: a name is found, and gives a plain material, unless an answer was
// set for it; programs and tests set answers and the fall-back part.
#include <unordered_map>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/UId.h"

namespace Vak {

class Display;
class Material;
class MaterialManager;
class RenderKernel;
class TextureCollection;

// What the manager asks of a material plug-in (the engine's plug-in classes
// implement it; the manager sits below them).
class MaterialSource {
public:
  virtual ~MaterialSource() = default;
  // False, naming the type to try instead, when the display cannot show it.
  virtual bool IsSupported(Display& display, PString& fallback) = 0;
  // A new material with one reference, or null.
  virtual Material* CreateMaterial(MaterialManager* manager, RenderKernel* kernel) = 0;
};

class MaterialManager {
public:
  enum Result { kOk = 0, kFailed = 2, kNotFound = 3 };

  virtual ~MaterialManager() = default;

  // On kOk `out` holds one reference for the caller; else it is null. An
  // empty name is not found.
  virtual Result Load(const PString& name, Material*& out);

  // Material plug-ins register in this group.
  static const UId& PluginGroup();
  // The plug-in type a material name asks for: the part behind the last
  // decoration token, then behind its last "m." ("pack.m.tbumptex" gives
  // "tbumptex"); the whole part when it has no "m.".
  static PString TypeOfName(const PString& name);
  // A new material of a registered plug-in type, following the plug-ins'
  // fall-back names while the display cannot show one; null when no
  // registered plug-in makes it.
  Material* CreateOfType(const PString& type);
  // The kernel whose display plug-ins make materials for (not owned).
  RenderKernel* GetKernel() const { return kernel_; }
  void SetKernel(RenderKernel* kernel) { kernel_ = kernel; }
  // Textures looked up by name for materials (not owned; null: the kernel's).
  TextureCollection* GetTextureCollection() const;

  // The answer for one name, and for the names without one (kOk at first).
  void SetAnswer(const PString& name, Result result) { answers_[name] = result; }
  void SetDefaultAnswer(Result result) { defaultAnswer_ = result; }
  // The names asked for, in order.
  const std::vector<PString>& Requested() const { return requested_; }

  // What replaces the material part of a name that could not be supplied.
  const PString& GetFallbackPart() const { return fallbackPart_; }
  void SetFallbackPart(const PString& part) { fallbackPart_ = part; }

  // "owner*folder*name" gives "owner*folder*" and "name"; a trailing token
  // is dropped first ("*a*b*" gives "*a*" and "b"). False, with the whole
  // name as the material part, when the name carries no token.
  static bool SplitDecoratedMaterialName(const char* decorated, PString& decoration, PString& material);

private:
  std::unordered_map<PString, Result> answers_;
  Result defaultAnswer_ = kOk;
  std::vector<PString> requested_;
  PString fallbackPart_ = "default.m.notex";
  RenderKernel* kernel_ = nullptr;
};

} // namespace Vak
