#include "Vak/Bexlorn/DynamicLibrary.h"

#include "platform/os/Module.h"

namespace Vak {

DynamicLibrary::DynamicLibrary() : module_(std::make_unique<platform::Module>()) {}
DynamicLibrary::~DynamicLibrary() = default;

bool DynamicLibrary::Load(const char* path) { return module_->Load(path); }

void DynamicLibrary::Free() { module_->Free(); }

bool DynamicLibrary::Symbol(const char* name, void** address) {
  void* found = module_->IsLoaded() && name != nullptr ? module_->Symbol(name) : nullptr;
  if (address != nullptr) *address = found;
  return found != nullptr;
}

} // namespace Vak
