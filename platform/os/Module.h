#pragma once
// Shared objects loaded at run time, and the running program itself.
#include <string>

namespace platform {

class Module {
public:
  Module() = default;
  ~Module() { Free(); }
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads `path` (null or "*": the running program), freeing what was loaded
  // before. False on failure, with the reason in LastError.
  bool Load(const char* path);
  void Free();
  bool IsLoaded() const { return handle_ != nullptr; }
  // The exported address of `name`; null when missing (reason in LastError).
  void* Symbol(const char* name);
  // The loader's text for the last failure of this object; empty after success.
  const std::string& LastError() const { return error_; }

private:
  void* handle_ = nullptr;
  std::string error_;
};

} // namespace platform
