#pragma once
// The resource database of one package: an engine archive (name + ".va") or
// a folder (name + "/") in a root folder, mounted as a file substitute under
// the database's name for as long as the database lives, so that resource
// names starting with the name and "/" resolve inside it.
//
// The asset database keeps these in its archive cache; OpenResourceDatabase
// and ReleaseResourceDatabase reach that cache through the pool the program
// installs (this library links only the kernel).
#include "Vak/Bexlorn/PString.h"
#include "Vak/Cindrel/ResourceDatabase.h"

class VelmarResourceDatabase : public Vak::ResourceDatabase {
public:
  VelmarResourceDatabase(bool archive, const Vak::PString& name, const char* rootFolder);
  // Removes the substitution.
  ~VelmarResourceDatabase() override;

  bool IsArchive() const { return archive_; }
  const Vak::PString& SubstituteName() const { return substituteName_; }

private:
  bool archive_;
  Vak::PString substituteName_;
};

// Where OpenResourceDatabase takes databases from: the asset database's
// archive cache over the installation's root.
class ResourceDatabasePool {
public:
  virtual ~ResourceDatabasePool() = default;
  virtual Vak::ResourceDatabase* Acquire(const Vak::PString& name) = 0;
  virtual void Release(Vak::ResourceDatabase* database) = 0;
};

// Null removes the pool; nothing opens then.
void SetResourceDatabasePool(ResourceDatabasePool* pool);

// One use of the pooled database of the name; null for an empty or null
// name, without touching the pool.
Vak::ResourceDatabase* OpenResourceDatabase(const char* name);
void ReleaseResourceDatabase(Vak::ResourceDatabase* database);
