#pragma once
// What a program that links both the asset database and the package
// resource databases installs at start-up: the factory the archive cache
// makes its databases with, and the pool OpenResourceDatabase draws from.
#include "assetdb/AssetArchiveCache.h"
#include "assetdb/VADServices.h"
#include "assets3d/VelmarResourceDatabase.h"
#include "content/AppGlobals.h"

class VelmarResourceDatabaseFactory final : public VADResourceDatabaseFactory {
public:
  Vak::ResourceDatabase* Create(const char* name, const char* root, bool archiveExists) override {
    return new VelmarResourceDatabase(archiveExists, Vak::PString(name), root);
  }
};

class ArchiveCachePool final : public ResourceDatabasePool {
public:
  Vak::ResourceDatabase* Acquire(const Vak::PString& name) override {
    return AssetArchiveCache::Acquire(name, GetDatabaseRootPath());
  }
  void Release(Vak::ResourceDatabase* database) override { AssetArchiveCache::Release(database); }
};

// Installs both for the life of the object; the previous ones come back.
class VelmarResourceDatabaseServices {
public:
  VelmarResourceDatabaseServices() : previous_(GetVADServices().resourceDatabases) {
    GetVADServices().resourceDatabases = &factory_;
    SetResourceDatabasePool(&pool_);
  }
  ~VelmarResourceDatabaseServices() {
    SetResourceDatabasePool(nullptr);
    GetVADServices().resourceDatabases = previous_;
  }
  VelmarResourceDatabaseServices(const VelmarResourceDatabaseServices&) = delete;
  VelmarResourceDatabaseServices& operator=(const VelmarResourceDatabaseServices&) = delete;

private:
  VADResourceDatabaseFactory* previous_;
  VelmarResourceDatabaseFactory factory_;
  ArchiveCachePool pool_;
};
