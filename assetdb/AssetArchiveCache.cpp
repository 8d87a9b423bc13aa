#include "assetdb/AssetArchiveCache.h"

#include "assetdb/VADServices.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "content/AppGlobals.h"

struct AssetArchiveCache::Storage {
  Entry entries[kMaxEntries];
  unsigned count = 0;
  Vak::CriticalSection lock{"AssetArchiveCache"};
};

AssetArchiveCache::Storage& AssetArchiveCache::Get() {
  // Never destroyed: databases released by late static destructors still
  // find their entries.
  static Storage* storage = new Storage;
  return *storage;
}

Vak::ResourceDatabase* AssetArchiveCache::Acquire(const Vak::PString& name, const char* root) {
  if (name.IsNull() || name.Length() == 0) return nullptr;
  Storage& storage = Get();
  Vak::SingleLock guard(&storage.lock, true);
  for (unsigned i = 0; i < storage.count; ++i) {
    Entry& entry = storage.entries[i];
    if (entry.name == name) {
      ++entry.count;
      return entry.database;
    }
  }
  if (storage.count == kMaxEntries) {
    PurgeLocked(storage);
    if (storage.count == kMaxEntries) return nullptr;
  }
  VADResourceDatabaseFactory* factory = GetVADServices().resourceDatabases;
  if (!factory) return nullptr;
  Vak::File::Path path(root ? root : "");
  if (!path.AddPath(name.c_str()) || !path.SetExt("va")) return nullptr;
  const bool archiveExists = Vak::File::Exists(path).Ok();
  Vak::ResourceDatabase* database = factory->Create(name.c_str(), root ? root : "", archiveExists);
  if (!database) return nullptr;
  Entry& entry = storage.entries[storage.count++];
  entry.name = name;
  entry.database = database;
  entry.count = 1;
  return database;
}

void AssetArchiveCache::Release(Vak::ResourceDatabase* database) {
  if (!database) return;
  Storage& storage = Get();
  Vak::SingleLock guard(&storage.lock, true);
  for (unsigned i = 0; i < storage.count; ++i) {
    Entry& entry = storage.entries[i];
    if (entry.database == database) {
      if (entry.count > 0) --entry.count;
      return;
    }
  }
}

void AssetArchiveCache::Purge() {
  Storage& storage = Get();
  Vak::SingleLock guard(&storage.lock, true);
  PurgeLocked(storage);
}

void AssetArchiveCache::PurgeLocked(Storage& storage) {
  for (unsigned i = 0; i < storage.count;) {
    Entry& entry = storage.entries[i];
    if (entry.count > 0) {
      ++i;
      continue;
    }
    delete entry.database;
    Entry& last = storage.entries[--storage.count];
    if (&last != &entry) entry = last;
    last = Entry();
  }
}

unsigned AssetArchiveCache::Count() {
  Storage& storage = Get();
  Vak::SingleLock guard(&storage.lock, true);
  return storage.count;
}

int32_t AssetArchiveCache::UseCount(const Vak::PString& name) {
  Storage& storage = Get();
  Vak::SingleLock guard(&storage.lock, true);
  for (unsigned i = 0; i < storage.count; ++i)
    if (storage.entries[i].name == name) return storage.entries[i].count;
  return -1;
}

AssetArchiveHold::AssetArchiveHold(const Vak::PString& name) {
  if (name.Length() > 0) database_ = AssetArchiveCache::Acquire(name, GetDatabaseRootPath());
}

AssetArchiveHold::~AssetArchiveHold() { AssetArchiveCache::Release(database_); }
