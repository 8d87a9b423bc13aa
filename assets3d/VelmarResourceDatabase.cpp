#include "assets3d/VelmarResourceDatabase.h"

#include <atomic>

#include "Vak/Bexlorn/File.h"

namespace {

std::atomic<ResourceDatabasePool*> gPool{nullptr};

} // namespace

VelmarResourceDatabase::VelmarResourceDatabase(bool archive, const Vak::PString& name, const char* rootFolder)
    : Vak::ResourceDatabase(name), archive_(archive), substituteName_(name) {
  Vak::File::Path path(rootFolder ? rootFolder : "");
  path.AddPath(name.c_str());
  // The extension or the trailing separator tells the kernel which layer.
  if (archive) {
    path.Add(".va");
  } else {
    path.AddSlash();
  }
  Vak::File::Subst(substituteName_, path, !archive);
}

VelmarResourceDatabase::~VelmarResourceDatabase() { Vak::File::Subst(substituteName_, nullptr, false); }

void SetResourceDatabasePool(ResourceDatabasePool* pool) { gPool.store(pool); }

Vak::ResourceDatabase* OpenResourceDatabase(const char* name) {
  if (!name || !*name) return nullptr;
  ResourceDatabasePool* pool = gPool.load();
  return pool ? pool->Acquire(Vak::PString(name)) : nullptr;
}

void ReleaseResourceDatabase(Vak::ResourceDatabase* database) {
  ResourceDatabasePool* pool = gPool.load();
  if (pool && database) pool->Release(database);
}
