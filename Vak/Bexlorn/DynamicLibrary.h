#pragma once
// A shared object loaded at run time; "*" (or null) is the running program.
#include <memory>

namespace platform {
class Module;
}

namespace Vak {

class DynamicLibrary {
public:
  DynamicLibrary();
  // Frees a module still held.
  virtual ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Frees what was loaded before, then loads `path` through the system's
  // library search; true when loaded.
  virtual bool Load(const char* path);
  virtual void Free();
  // The exported address of `name` in `address` (null when missing); true when found.
  virtual bool Symbol(const char* name, void** address);

private:
  std::unique_ptr<platform::Module> module_;
};

} // namespace Vak
