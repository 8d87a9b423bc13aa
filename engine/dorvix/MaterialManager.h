#pragma once
// Supplies materials by (decorated) name. The stand-in knows no material
// files: a name is found, and gives a plain material, unless an answer was
// set for it; programs and tests set answers and the fall-back part.
#include <unordered_map>
#include <vector>

#include "Vak/Bexlorn/PString.h"

namespace Vak {

class Material;

class MaterialManager {
public:
  enum Result { kOk = 0, kFailed = 2, kNotFound = 3 };

  virtual ~MaterialManager() = default;

  // On kOk `out` holds one reference for the caller; else it is null. An
  // empty name is not found.
  virtual Result Load(const PString& name, Material*& out);

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
};

} // namespace Vak
