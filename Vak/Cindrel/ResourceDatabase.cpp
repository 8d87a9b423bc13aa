#include "Vak/Cindrel/ResourceDatabase.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Cindrel/Resource.h"
#include "Vak/Cindrel/ResourceBin.h"
#include "Vak/Cindrel/ResourceLoader.h"
#include "Vak/Cindrel/ResourceSystem.h"

namespace Vak {

namespace {
constexpr unsigned kMaxEvictedPerCall = 5;

std::vector<PString> SplitAlternatives(const PString& name) {
  std::vector<PString> parts;
  const char* text = name.c_str();
  for (;;) {
    const char* end = std::strchr(text, ';');
    if (end == nullptr) {
      parts.emplace_back(text);
      return parts;
    }
    parts.emplace_back(text, static_cast<unsigned>(end - text));
    text = end + 1;
  }
}

bool FileExists(const std::string& name) { return File::Exists(name.c_str()).Ok(); }
} // namespace

// --- Search handles --------------------------------------------------------------

ResourceDatabase::SearchHandle::~SearchHandle() = default;
bool ResourceDatabase::SearchHandle::Open(const char*, ResourceDatabase*) { return false; }
void ResourceDatabase::SearchHandle::Close() {}
bool ResourceDatabase::SearchHandle::Next() { return false; }
File::Entry* ResourceDatabase::SearchHandle::GetEntry() { return nullptr; }

ResourceDatabase::RDBSearchHandle::~RDBSearchHandle() = default;

bool ResourceDatabase::RDBSearchHandle::Open(const char* pattern, ResourceDatabase* database) {
  Close();
  if (pattern == nullptr || database == nullptr) return false;
  try {
    const PString& name = database->GetName();
    open_ = name.Length() > 0 ? File::Find::Open(pattern, name) : File::Find::Open(pattern);
  } catch (const Exception&) {
    open_ = false;  // the substitute is not listed
  }
  return open_;
}

void ResourceDatabase::RDBSearchHandle::Close() {
  File::Find::Close();
  open_ = false;
}

bool ResourceDatabase::RDBSearchHandle::Next() {
  if (!open_) return false;
  open_ = File::Find::Next();
  return open_;
}

File::Entry* ResourceDatabase::RDBSearchHandle::GetEntry() { return open_ ? static_cast<File::Entry*>(this) : nullptr; }

// --- Construction ----------------------------------------------------------------

ResourceDatabase::ResourceDatabase(const PString& name) : name_(name), table_(kBuckets) {
  if (ResourceSystem* system = ResourceSystem::Current()) system->RegisterDatabase(this);
}

ResourceDatabase::~ResourceDatabase() {
  ResourceSystem* system = ResourceSystem::Current();
  ResourceLoader* loader = system && system->IsCaching() ? system->GetLoader() : nullptr;
  // Keeps the loader idle while the resources go.
  if (loader) loader->ItemsMutex().Lock();
  std::vector<Resource*> resources;
  {
    SingleLock lock(&lock_, true);
    for (std::vector<Resource*>& bucket : table_) {
      resources.insert(resources.end(), bucket.begin(), bucket.end());
      bucket.clear();
    }
    count_ = 0;
  }
  for (Resource* resource : resources) {
    resource->SetDatabase(nullptr);
    resource->ReleaseHold();
  }
  if (loader) loader->ItemsMutex().Unlock();

  if (name_.Length() > 0) FileSubstList::Get().Remove(name_, false);

  if (system) {
    for (ResourceDatabase* other : system->Databases())
      if (other != this) other->ForgetDatabase(this);
    system->UnregisterDatabase(this);
  }
}

// --- The table -------------------------------------------------------------------

Resource* ResourceDatabase::Lookup(const PString& name) const {
  const auto& bucket = table_[reinterpret_cast<uintptr_t>(name.GetNode()) % kBuckets];
  for (Resource* resource : bucket)
    if (resource->GetName() == name) return resource;
  return nullptr;
}

void ResourceDatabase::Insert(Resource* resource) {
  table_[reinterpret_cast<uintptr_t>(resource->GetName().GetNode()) % kBuckets].push_back(resource);
  ++count_;
}

bool ResourceDatabase::Erase(Resource* resource) {
  auto& bucket = table_[reinterpret_cast<uintptr_t>(resource->GetName().GetNode()) % kBuckets];
  auto found = std::find(bucket.begin(), bucket.end(), resource);
  if (found == bucket.end()) return false;
  bucket.erase(found);
  --count_;
  return true;
}

bool ResourceDatabase::RemoveResource(Resource* resource) {
  SingleLock lock(&lock_, true);
  return Erase(resource);
}

unsigned ResourceDatabase::Count() {
  SingleLock lock(&lock_, true);
  return count_;
}

// --- Look-ups --------------------------------------------------------------------

PString ResourceDatabase::GetFileName(const PString& name) const {
  if (name_.Length() == 0) return name;
  return name_ + ":" + name;
}

ResourceDatabase::SearchHandle* ResourceDatabase::GetSearchHandle() { return new RDBSearchHandle; }

Resource* ResourceDatabase::Get(const PString& name, int flags) {
  if (name.Length() == 0) return nullptr;
  ResourceSystem* system = ResourceSystem::Current();
  Resource* found = nullptr;
  {
    SingleLock lock(&lock_, true);
    std::vector<PString> notFound;
    PString matched;
    if (std::strchr(name.c_str(), ';') == nullptr) {
      found = FindOne(name);
      if (found == nullptr) notFound.push_back(name);
      matched = name;
    } else {
      for (const PString& part : SplitAlternatives(name)) {
        Resource* candidate = FindOne(part);
        if (candidate && candidate->GetState() != Resource::kInvalid) {
          found = candidate;
          matched = part;
          break;
        }
        if (candidate == nullptr && part.Length() > 0) notFound.push_back(part);
      }
    }
    if (found == nullptr || found->GetState() == Resource::kInvalid) {
      // Answered only by remembered failures: not a miss.
      if (!notFound.empty()) {
        misses_.fetch_add(1);
        missing_.fetch_add(1);
        // Each alternative found nowhere is remembered under its own name, so
        // a later look-up of it (alone or among others) answers at once.
        if (!(flags & kNoRemember))
          for (const PString& part : notFound) RememberMissing(part);
      }
      return nullptr;
    }
    // Served by another database (a fallback): stand for it here.
    ResourceDatabase* owner = found->GetDatabase();
    if (owner && owner != this && !(owner->GetName() == name_) && Lookup(matched) == nullptr) {
      auto* redirect = new RedirResource(matched, this, found);
      redirect->SetState(Resource::kIdle);
      found->AddDependent(redirect);
      Insert(redirect);
    }
    found->SetLastDatabase(this);
  }
  if (!(flags & kNoQueue) && system && system->IsCaching() && system->GetLoader() &&
      found->GetState() == Resource::kIdle)
    system->GetLoader()->Enqueue(found);
  if (system) found->SetLastUse(system->GetClock());
  return found;
}

Resource* ResourceDatabase::Find(const PString& name) {
  SingleLock lock(&lock_, true);
  if (std::strchr(name.c_str(), ';') == nullptr) return FindOne(name);
  for (const PString& part : SplitAlternatives(name)) {
    Resource* candidate = FindOne(part);
    if (candidate && candidate->GetState() != Resource::kInvalid) return candidate;
  }
  return nullptr;
}

// Under the lock. The use count of what it returns is raised, unless it failed.
Resource* ResourceDatabase::FindOne(const PString& name) {
  if (name.Length() == 0) return nullptr;
  lookups_.fetch_add(1);
  if (Resource* entry = Lookup(name)) {
    Resource* resource = Resource::Resolve(entry);
    if (resource == nullptr) {
      // A redirect whose target has gone: make the name anew.
      Erase(entry);
      entry->SetDatabase(nullptr);
      entry->ReleaseHold();
    } else {
      if (resource->GetState() == Resource::kInvalid) return resource;
      if (resource->GetState() == Resource::kCached) {
        ResourceSystem* system = ResourceSystem::Current();
        ResourceBin* bin = system ? system->GetBin() : nullptr;
        if (bin && bin->Reclaim(resource)) {
          resource->RaiseUse();
          return resource;
        }
      }
      if (resource->GetState() != Resource::kDelete) {
        resource->RaiseUse();
        return resource;
      }
      // Evicted: the entry leaves the table (the last holder of an evicted
      // resource frees it) and the name is made anew.
      Erase(entry);
      entry->SetDatabase(nullptr);
      if (entry != resource || entry->GetUseCount() == 0) entry->ReleaseHold();
    }
  }

  if (Resource* created = Create(name)) {
    created->SetState(Resource::kIdle);
    Insert(created);
    created->flags_.fetch_or(Resource::kFlagCounted);
    if (ResourceSystem* system = ResourceSystem::Current()) {
      system->GetCounters().resources.fetch_add(1);
      system->GetCounters().bytes.fetch_add(created->KnownSize());
    }
    if (!created->IsRedirect()) created->RaiseUse();
    return created;
  }

  for (ResourceDatabase* fallback : fallbacks_) {
    Resource* resource = fallback->Find(name);
    if (resource && resource->GetState() != Resource::kInvalid) return resource;
  }
  return nullptr;
}

Resource* ResourceDatabase::Create(const PString& name) {
  ResourceSystem* system = ResourceSystem::Current();
  if (system == nullptr) return nullptr;
  std::vector<PString> candidates;
  for (const PString& folder : folders_) candidates.push_back(folder + "\\" + name);
  candidates.push_back(name);
  for (const PString& candidate : candidates) {
    const PString file = GetFileName(candidate);
    if (FileExists(file.c_str())) {
      if (Resource* resource = system->CreateByExtension(name, this, false)) {
        resource->SetFileName(file);
        return resource;
      }
    } else if (FileExists(std::string(file.c_str()) + ".txt")) {
      if (Resource* resource = system->CreateByExtension(name, this, true)) {
        resource->SetFileName(file);
        return resource;
      }
    }
  }
  return system->CreateOnTheFly(name, this);
}

void ResourceDatabase::RememberMissing(const PString& name) {
  if (Lookup(name)) return;
  auto* missing = new Resource(name, this);
  missing->SetState(Resource::kInvalid);
  Insert(missing);
}

bool ResourceDatabase::Exists(const PString& name) {
  if (name.Length() == 0) return false;
  Resource* resource = Find(name);
  if (resource == nullptr || resource->GetState() == Resource::kInvalid) return false;
  resource->ReleaseReference();
  return true;
}

// --- Memory ----------------------------------------------------------------------

void ResourceDatabase::EvictUnused(int64_t& excess) {
  ResourceSystem* system = ResourceSystem::Current();
  ResourceBin* bin = system ? system->GetBin() : nullptr;
  if (bin == nullptr) return;
  SingleLock lock(&lock_, true);
  std::vector<Resource*> unused;
  for (const std::vector<Resource*>& bucket : table_)
    for (Resource* resource : bucket)
      if (!resource->IsRedirect() && resource->GetUseCount() == 0 && resource->GetState() == Resource::kReady &&
          resource->GetLockCount() == 0)
        unused.push_back(resource);
  std::stable_sort(unused.begin(), unused.end(),
                   [](const Resource* a, const Resource* b) { return a->GetLastUse() < b->GetLastUse(); });
  for (unsigned taken = 0; excess > 0 && !unused.empty() && taken < kMaxEvictedPerCall; ++taken) {
    Resource* resource = unused.back();
    unused.pop_back();
    // A resource in use is never unloaded under its user.
    if (resource->GetUseCount() != 0 || resource->GetLockCount() != 0 || resource->GetState() != Resource::kReady)
      continue;
    excess -= static_cast<int64_t>(resource->KnownSize()) + resource->KnownDataSize();
    bin->Add(resource);
    if (resource->GetState() == Resource::kCached) ResourceSystem::Stats().ready.fetch_sub(1);
  }
}

void ResourceDatabase::ForgetDatabase(ResourceDatabase* gone) {
  SingleLock lock(&lock_, true);
  std::erase(fallbacks_, gone);
  std::vector<Resource*> stale;
  for (const std::vector<Resource*>& bucket : table_)
    for (Resource* resource : bucket)
      if (resource->IsRedirect()) {
        Resource* target = resource->GetRedirection();
        if (target == nullptr || target->GetDatabase() == gone) stale.push_back(resource);
      }
  for (Resource* resource : stale) {
    Erase(resource);
    resource->SetDatabase(nullptr);
    resource->ReleaseHold();
  }
}

} // namespace Vak
