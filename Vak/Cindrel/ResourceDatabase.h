#pragma once
// A named group of resources over the files of one file substitute (the
// database's name is the substitute's). It finds resources by name, creates
// them on first request through the resource types, remembers missing names,
// answers whether a name exists and which file it maps to, and hands out
// search handles over its files. It registers with the resource system while
// it lives, and must not outlive it.
#include <atomic>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"

namespace Vak {

class Resource;

class ResourceDatabase {
public:
  static constexpr unsigned kBuckets = 401;
  // Get flags.
  static constexpr int kNoQueue = 2;     // do not queue a background load
  static constexpr int kNoRemember = 4;  // do not remember a missing name

  class SearchHandle {
  public:
    virtual ~SearchHandle();
    virtual bool Open(const char* pattern, ResourceDatabase* database);
    virtual void Close();
    virtual bool Next();
    virtual File::Entry* GetEntry();
  };
  class RDBSearchHandle;

  virtual ~ResourceDatabase();
  ResourceDatabase(const ResourceDatabase&) = delete;
  ResourceDatabase& operator=(const ResourceDatabase&) = delete;

  // The resource of a name (';' separates alternatives, tried in turn), with
  // one use taken; null when missing or failed.
  virtual Resource* Get(const PString& name, int flags = 0);
  virtual bool Exists(const PString& name);
  // "database:name" for a named database, else the name.
  virtual PString GetFileName(const PString& name) const;
  // A new handle, owned by the caller.
  virtual SearchHandle* GetSearchHandle();

  // Hands unused Ready resources to the bin and lowers `excess` by their
  // bytes, while it is above 0. Resources in use are never touched.
  void EvictUnused(int64_t& excess);
  // Takes a resource out of the table; true when it was there.
  bool RemoveResource(Resource* resource);

  const PString& GetName() const { return name_; }
  CriticalSection& GetLock() { return lock_; }
  unsigned Count();
  uint32_t Lookups() const { return lookups_; }
  uint32_t Misses() const { return misses_; }
  uint32_t Missing() const { return missing_; }

protected:
  explicit ResourceDatabase(const PString& name);

  // Folder prefixes searched for files, and databases searched for names
  // this one cannot serve; derived databases fill them.
  std::vector<PString> folders_;
  std::vector<ResourceDatabase*> fallbacks_;

private:
  friend class ResourceSystem;

  // Under the lock.
  Resource* Lookup(const PString& name) const;
  void Insert(Resource* resource);
  bool Erase(Resource* resource);
  // Finds or creates one name; the first of several alternatives that
  // answers with a resource that has not failed.
  Resource* Find(const PString& name);
  Resource* FindOne(const PString& name);
  Resource* Create(const PString& name);
  // Enters a failed resource for a name found nowhere.
  void RememberMissing(const PString& name);
  // Drops this database from the fallbacks and drops redirects that lead
  // into it or nowhere.
  void ForgetDatabase(ResourceDatabase* gone);

  PString name_;
  std::vector<std::vector<Resource*>> table_;
  unsigned count_ = 0;
  std::atomic<uint32_t> lookups_{0};
  std::atomic<uint32_t> misses_{0};
  std::atomic<uint32_t> missing_{0};
  uint32_t flags_ = 1;
  CriticalSection lock_;
};

class ResourceDatabase::RDBSearchHandle : public ResourceDatabase::SearchHandle, public File::Find {
public:
  ~RDBSearchHandle() override;
  // The pattern inside the database's substitute; false when nothing matches
  // or the substitute is not listed.
  bool Open(const char* pattern, ResourceDatabase* database) override;
  void Close() override;
  bool Next() override;
  File::Entry* GetEntry() override;

private:
  bool open_ = false;
};

} // namespace Vak
