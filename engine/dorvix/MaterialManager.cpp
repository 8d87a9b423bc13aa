#include "engine/dorvix/MaterialManager.h"

#include <cstring>
#include <string>

#include "engine/dorvix/Material.h"

namespace Vak {

MaterialManager::Result MaterialManager::Load(const PString& name, Material*& out) {
  out = nullptr;
  requested_.push_back(name);
  if (name.Length() == 0) return kNotFound;
  auto it = answers_.find(name);
  Result result = it != answers_.end() ? it->second : defaultAnswer_;
  if (result == kOk) out = new Material(name);
  return result;
}

bool MaterialManager::SplitDecoratedMaterialName(const char* decorated, PString& decoration, PString& material) {
  std::string text = decorated ? decorated : "";
  const char token = *Material::DecoratedTypeToken();
  if (!text.empty() && text.back() == token) text.pop_back();
  std::size_t last = text.rfind(token);
  if (last == std::string::npos) {
    decoration = "";
    material = text.c_str();
    return false;
  }
  decoration = PString(text.c_str(), static_cast<unsigned>(last + 1));
  material = text.c_str() + last + 1;
  return true;
}

} // namespace Vak
