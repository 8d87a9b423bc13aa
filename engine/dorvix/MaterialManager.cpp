#include "engine/dorvix/MaterialManager.h"

#include <cstring>
#include <string>

#include "Vak/plugins/PluginSystem.h"
#include "engine/dorvix/Material.h"
#include "engine/dorvix/RenderKernel.h"

namespace Vak {

MaterialManager::Result MaterialManager::Load(const PString& name, Material*& out) {
  out = nullptr;
  requested_.push_back(name);
  if (name.Length() == 0) return kNotFound;
  auto it = answers_.find(name);
  Result result = it != answers_.end() ? it->second : defaultAnswer_;
  if (result != kOk) return result;
  out = CreateOfType(TypeOfName(name));
  if (!out) out = new Material(name);
  return result;
}

const UId& MaterialManager::PluginGroup() {
  static const UId group("5A7E0C31-2D4B-4F0A-9C1E-6B3D8F2A4C10");
  return group;
}

PString MaterialManager::TypeOfName(const PString& name) {
  PString decoration, part;
  SplitDecoratedMaterialName(name.c_str(), decoration, part);
  std::string text = part.c_str();
  const std::size_t prefix = text.rfind("m.");
  if (prefix != std::string::npos && (prefix == 0 || text[prefix - 1] == '.')) text.erase(0, prefix + 2);
  return PString(text.c_str());
}

Material* MaterialManager::CreateOfType(const PString& type) {
  if (!kernel_) return nullptr;
  PString wanted = type;
  // Fall-back names never lead back far: a chain longer than the plug-ins
  // can make is a loop.
  for (int hop = 0; hop < 8 && wanted.Length() != 0; ++hop) {
    PluginType* plugin = nullptr;
    if (!PluginSystem::FindPlugin(PluginGroup(), wanted, plugin).Ok() || !plugin) return nullptr;
    auto* source = dynamic_cast<MaterialSource*>(plugin);
    PString fallback;
    Material* material = nullptr;
    bool supported = source && source->IsSupported(kernel_->GetDisplay(), fallback);
    if (supported) material = source->CreateMaterial(this, kernel_);
    plugin->ReleaseReference();
    if (supported) return material;
    wanted = fallback;
  }
  return nullptr;
}

TextureCollection* MaterialManager::GetTextureCollection() const {
  return kernel_ ? &kernel_->GetTextureCollection() : nullptr;
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
