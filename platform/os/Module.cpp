#include "platform/os/Module.h"

#include "platform/os/NativePath.h"

#include <cstring>
#include <dlfcn.h>
#include <utility>

namespace platform {

namespace {
std::string TakeLoaderError(const char* fallback) {
  const char* text = ::dlerror();
  return text != nullptr ? text : fallback;
}
} // namespace

Module::Module(Module&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool Module::Load(const char* path) {
  Free();
  ::dlerror();
  if (path == nullptr || std::strcmp(path, "*") == 0) {
    handle_ = ::dlopen(nullptr, RTLD_NOW);
  } else {
    std::string resolved = ResolvePath(path);
    handle_ = ::dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  error_ = handle_ != nullptr ? std::string() : TakeLoaderError("cannot load module");
  return handle_ != nullptr;
}

void Module::Free() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

void* Module::Symbol(const char* name) {
  if (handle_ == nullptr || name == nullptr) {
    error_ = "no module loaded";
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  const char* text = ::dlerror();
  error_ = text != nullptr ? text : std::string();
  // A symbol may legitimately be at null only when no error was reported.
  return text != nullptr ? nullptr : address;
}

} // namespace platform
