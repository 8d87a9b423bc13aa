#pragma once
// The open resource databases of the installation's engine archives (and of
// folders of the same names), by name, with a use count each: at most 256,
// guarded by one critical section. A database stays open after its last
// use until a purge needs the room. The databases are made through the
// resource-database factory the program installs (VADServices.h); without
// one nothing opens.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"

namespace Vak {
class ResourceDatabase;
}

class AssetArchiveCache {
public:
  static constexpr unsigned kMaxEntries = 256;

  // The database of `name` with one use more; opened over root + name +
  // ".va" (or the folder root + name) when it is not cached. Null for a
  // null name, without a factory, or when all entries are in use.
  static Vak::ResourceDatabase* Acquire(const Vak::PString& name, const char* root);
  // One use less; the database stays cached.
  static void Release(Vak::ResourceDatabase* database);
  // Deletes every database without uses; the last entry fills each gap.
  static void Purge();

  // For diagnostics and tests: the entries and the uses of a name (-1 when
  // not cached).
  static unsigned Count();
  static int32_t UseCount(const Vak::PString& name);

private:
  struct Entry {
    Vak::PString name;
    Vak::ResourceDatabase* database = nullptr;
    int32_t count = 0;
  };
  struct Storage;
  static Storage& Get();
  static void PurgeLocked(Storage& storage);
};

// Holds one use of an archive's database for a scope; nothing for a null
// name.
class AssetArchiveHold {
public:
  explicit AssetArchiveHold(const Vak::PString& name);
  ~AssetArchiveHold();
  AssetArchiveHold(const AssetArchiveHold&) = delete;
  AssetArchiveHold& operator=(const AssetArchiveHold&) = delete;
  Vak::ResourceDatabase* Database() const { return database_; }

private:
  Vak::ResourceDatabase* database_ = nullptr;
};
