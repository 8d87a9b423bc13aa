#include "Vak/Cindrel/Resource.h"

#include <algorithm>
#include <string>

#include "Vak/Bexlorn/Time.h"
#include "Vak/Cindrel/ResourceBin.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceLoader.h"
#include "Vak/Cindrel/ResourceSystem.h"

namespace Vak {

namespace {

const ResultTable kResults[] = {
    {"RES_FAILED_TO_LOAD", "Failed to load resource"},
    {"RES_NOT_AVAILABLE", "Resource not available"},
    {"RES_LOCK_TIMEOUT", "Lock timed out"},
    {"RES_LOCK_FAILED", "Failed to lock resource"},
    {"RES_PARTIAL_LOAD", "Resource is partially loaded"},
    {"RES_NO_LOAD_METHOD", "No load method provided for resource"},
    {"RES_INVALID", "Unable to load resource or is missing"},
};

const char* const kStateNames[Resource::kStateCount] = {
    "None", "Ready", "Cached", "Loading", "Loaded", "Locking", "Available", "Inactive", "Invalid", "Delete",
};

// Redirect chains are short; a longer one is a cycle.
constexpr int kMaxRedirections = 64;

// Raises a lock count for a scope; Keep leaves it raised.
class LockCountHold {
public:
  explicit LockCountHold(std::atomic<int32_t>& count) : count_(count) { count_.fetch_add(1); }
  ~LockCountHold() {
    if (!kept_) count_.fetch_sub(1);
  }
  LockCountHold(const LockCountHold&) = delete;
  LockCountHold& operator=(const LockCountHold&) = delete;
  void Keep() { kept_ = true; }

private:
  std::atomic<int32_t>& count_;
  bool kept_ = false;
};

float SystemClock() {
  ResourceSystem* system = ResourceSystem::Current();
  return system ? system->GetClock() : 0.0f;
}

} // namespace

const ResultTableSpan Resource::results = {kResults, sizeof(kResults) / sizeof(kResults[0])};

ResourceObserver::~ResourceObserver() = default;

const char* Resource::StateName(int state) {
  return state >= 0 && state < kStateCount ? kStateNames[state] : "";
}

Resource::Resource(const PString& name, const ResourceDatabase* database)
    : name_(name),
      database_(const_cast<ResourceDatabase*>(database)),
      created_(static_cast<float>(Time::GetSeconds())),
      lastUse_(SystemClock()),
      state_(database ? kConstructed : kIdle),
      fileName_(name) {
  ResourceSystem::Stats().alive.fetch_add(1);
}

Resource::~Resource() {
  ResourceStatistics& stats = ResourceSystem::Stats();
  stats.alive.fetch_sub(1);
  const int state = state_.load();
  if (state == kReady) {
    stats.loaded.fetch_sub(1);
    stats.ready.fetch_sub(1);
  } else if (state == kCached) {
    stats.loaded.fetch_sub(1);
  }
}

// --- Locking ---------------------------------------------------------------------

Resource::Result Resource::Lock() {
  ResourceSystem* system = ResourceSystem::Current();
  if (system == nullptr) return RES_LOCK_FAILED;
  lastUse_.store(system->GetClock());
  for (;;) {
    int state = state_.load();
    ResourceLoader* loader = system->IsCaching() ? system->GetLoader() : nullptr;
    if ((state == kQueued || state == kReading) && loader) {
      loader->Release(this);
      state = state_.load();
    }
    if (state == kReady) {
      lockCount_.fetch_add(1);
      readyLocks_.fetch_add(1);
      ResourceSystem::Stats().readyLocks.fetch_add(1);
      return RES_OK;
    }
    if (state == kCached) {
      // Locked without a Get: take it out of the bin before anyone evicts it.
      ResourceDatabase* database = database_.load();
      ResourceBin* bin = system->GetBin();
      if (database == nullptr || bin == nullptr) return RES_LOCK_FAILED;
      SingleLock lock(&database->GetLock(), true);
      if (state_.load() == kCached) bin->Reclaim(this);
      continue;
    }
    Result result;
    if (LockSlow(*system, result)) return result;
  }
}

bool Resource::LockSlow(ResourceSystem& system, Result& result) {
  ResourceSystem::AccessLock access(system, this);
  int state = state_.load();
  if (state == kRead) {
    // Read by the loader: complete it here rather than on the stepping thread.
    system.RemoveFromCompletion(this);
    LockCountHold locked(lockCount_);  // keeps it out of the bin while it completes
    Complete();
    state = state_.load();
  }
  if (state == kReady) {
    readyLocks_.fetch_add(1);
    ResourceSystem::Stats().readyLocks.fetch_add(1);
    lockCount_.fetch_add(1);
    result = RES_OK;
    return true;
  }
  if (state == kInvalid) {
    result = RES_INVALID;
    return true;
  }
  // Queued again, being read, or binned meanwhile: start over. Otherwise
  // claim it, so the loader cannot take it while it is read here.
  if (state == kQueued || state == kReading || state == kCached || !CompareExchangeState(state, kTaken)) return false;
  syncLoads_.fetch_add(1);
  ResourceSystem::Stats().lockLoads.fetch_add(1);
  if (!ReadData()) {
    state_.store(kInvalid);
    result = RES_FAILED_TO_LOAD;
    return true;
  }
  ResourceSystem::Stats().loaded.fetch_add(1);
  state_.store(kRead);
  LockCountHold locked(lockCount_);
  if (!Complete()) {
    result = RES_FAILED_TO_LOAD;
    return true;
  }
  locked.Keep();
  result = RES_OK;
  return true;
}

void Resource::Unlock() {
  int32_t count = lockCount_.load();
  while (count > 0 && !lockCount_.compare_exchange_weak(count, count - 1)) {
  }
}

bool Resource::LoadAll() {
  if (!Lock().Ok()) return false;
  Unlock();
  return true;
}

Resource::Result Resource::IsAllLoaded() {
  const int state = state_.load();
  if (state == kReady) return RES_OK;
  if (state == kInvalid) return RES_FAILED_TO_LOAD;
  return RES_PARTIAL_LOAD;
}

void Resource::SetPriority(float priority) {
  priority_.store(priority);
  if (state_.load() != kQueued) return;
  ResourceSystem* system = ResourceSystem::Current();
  if (ResourceLoader* loader = system && system->IsCaching() ? system->GetLoader() : nullptr) loader->PriorityChanged();
}

// --- Observers -------------------------------------------------------------------

void Resource::AddObserver(const ResourceObserver* observer) {
  if (observer == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(listsMutex_);
    if (!notified_.load()) {
      observers_.push_back(observer);
      return;
    }
  }
  const_cast<ResourceObserver*>(observer)->OnLoad(this);
}

void Resource::RemoveObserver(const ResourceObserver* observer) {
  std::lock_guard<std::mutex> lock(listsMutex_);
  auto found = std::find(observers_.begin(), observers_.end(), observer);
  if (found != observers_.end()) observers_.erase(found);
}

void Resource::OnLoadNotify() {
  std::vector<const ResourceObserver*> observers;
  {
    // Marked before the calls, so an observer added meanwhile is called at
    // once rather than missed.
    std::lock_guard<std::mutex> lock(listsMutex_);
    observers = observers_;
    notified_.store(true);
  }
  for (const ResourceObserver* observer : observers) const_cast<ResourceObserver*>(observer)->OnLoad(this);
}

std::size_t Resource::ObserverCount() const {
  std::lock_guard<std::mutex> lock(listsMutex_);
  return observers_.size();
}

// --- Virtual defaults ------------------------------------------------------------

Resource* Resource::CreateInstance(const PString& name) {
  if (type_ == nullptr) return nullptr;
  Resource* instance = type_->Create(name, database_.load());
  if (instance == nullptr) return nullptr;
  instance->fileName_ = fileName_;
  type_->AddReference();
  instance->SetType(type_);
  instance->SetTextForm(IsTextForm());
  return instance;
}

Resource::Result Resource::Load(const char*) { return RES_NO_LOAD_METHOD; }
Resource::Result Resource::LoadTxt(const char*) { return RES_NO_LOAD_METHOD; }
Resource::Result Resource::LoadComplete() { return RES_OK; }
bool Resource::Unload() { return false; }
uint32_t Resource::CalculateSize() { return kUnknownSize; }
uint32_t Resource::CalculateDataSize() { return 0; }
Resource* Resource::GetRedirection() const { return nullptr; }

uint32_t Resource::KnownSize() {
  std::call_once(sizeOnce_, [this] { size_ = CalculateSize(); });
  return size_ == kUnknownSize ? 0 : size_;
}

uint32_t Resource::KnownDataSize() {
  std::call_once(dataSizeOnce_, [this] { dataSize_ = CalculateDataSize(); });
  return dataSize_ == kUnknownSize ? 0 : dataSize_;
}

PString Resource::GetOwnerName() const {
  ResourceDatabase* database = database_.load();
  return database ? database->GetName() : PString();
}

// --- Counts ----------------------------------------------------------------------

bool Resource::ReleaseReference() { return Release(false); }

bool Resource::ReleaseAndDrop() { return Release(true); }

bool Resource::Release(bool drop) {
  // Under the database's lock, which is also where a database lets an evicted
  // resource go: the one that sees the last use drops the table's hold.
  if (ResourceDatabase* database = database_.load()) {
    {
      SingleLock lock(&database->GetLock(), true);
      if (database_.load() == database) {
        uint32_t use = useCount_.load();
        if (use == 0) return false;  // nothing to give back
        useCount_.store(use - 1);
        if (use != 1) return false;
        lastUse_.store(SystemClock());
        if (!drop || state_.load() != kReady || lockCount_.load() != 0 || !database->RemoveResource(this))
          return true;
        database_.store(nullptr);
      } else {
        database = nullptr;
      }
    }
    if (database != nullptr) {
      ReleaseHold();  // the table's
      return true;
    }
  }
  uint32_t use = useCount_.load();
  do {
    if (use == 0) return false;
  } while (!useCount_.compare_exchange_weak(use, use - 1));
  if (use != 1) return false;
  ReleaseHold();
  return true;
}

void Resource::AddHold() { refCount_.fetch_add(1); }

bool Resource::ReleaseHold() {
  if (refCount_.fetch_sub(1) != 1) return false;
  Destroy();
  return true;
}

Resource* Resource::Resolve(Resource* resource) {
  for (int i = 0; resource && resource->IsRedirect(); ++i) {
    if (i == kMaxRedirections) return nullptr;
    resource = resource->GetRedirection();
  }
  return resource;
}

// --- Life cycle ------------------------------------------------------------------

void Resource::SetType(ResourceTypeBase* type) {
  ResourceTypeBase* old = type_;
  type_ = type;
  if (old) old->ReleaseReference();
}

void Resource::SetTextForm(bool text) {
  if (text)
    flags_.fetch_or(kFlagText);
  else
    flags_.fetch_and(~kFlagText);
}

// A resource type that throws leaves the resource failed, as a failed result
// would; the exception goes on to the caller.
bool Resource::ReadData() {
  try {
    if (IsTextForm()) {
      const std::string file = std::string(fileName_.c_str()) + ".txt";
      return LoadTxt(file.c_str()).Ok();
    }
    return Load(fileName_.c_str()).Ok();
  } catch (...) {
    state_.store(kInvalid);
    throw;
  }
}

bool Resource::Complete() {
  Result result = RES_OK;
  try {
    result = LoadComplete();
  } catch (...) {
    state_.store(kInvalid);
    throw;
  }
  if (result.Ok()) {
    FinishLoad();
    OnLoadNotify();
    return true;
  }
  state_.store(kInvalid);
  return false;
}

void Resource::FinishLoad() {
  ResourceSystem* system = ResourceSystem::Current();
  if (!(flags_.fetch_or(kFlagLoaded) & kFlagLoaded) && system) {
    system->GetCounters().loaded.fetch_add(1);
    system->GetCounters().loadedBytes.fetch_add(KnownDataSize());
  }
  if (CompareExchangeState(kRead, kReady)) {
    ResourceSystem::Stats().ready.fetch_add(1);
    if (useCount_.load() == 0) ReleaseToBin();
  }
}

void Resource::ReleaseToBin() {
  if (state_.load() != kReady) return;
  ResourceSystem* system = ResourceSystem::Current();
  ResourceDatabase* database = database_.load();
  if (system == nullptr || system->GetBin() == nullptr || database == nullptr) return;
  SingleLock lock(&database->GetLock(), true);
  // A locked resource stays out of the bin: eviction would free it under its user.
  if (useCount_.load() != 0 || lockCount_.load() != 0 || state_.load() != kReady) return;
  system->GetBin()->Add(this);
  if (state_.load() == kCached) ResourceSystem::Stats().ready.fetch_sub(1);
}

void Resource::AddDependent(Resource* redirect) {
  redirect->AddHold();
  std::lock_guard<std::mutex> lock(listsMutex_);
  dependents_.push_back(redirect);
}

void Resource::RemoveDependent(Resource* redirect) {
  std::lock_guard<std::mutex> lock(listsMutex_);
  auto found = std::find(dependents_.begin(), dependents_.end(), redirect);
  if (found != dependents_.end()) dependents_.erase(found);
}

void Resource::ReleaseDependents() {
  std::vector<Resource*> dependents;
  {
    std::lock_guard<std::mutex> lock(listsMutex_);
    dependents.swap(dependents_);
  }
  for (Resource* dependent : dependents) {
    static_cast<RedirResource*>(dependent)->target_.store(nullptr);
    dependent->ReleaseHold();
  }
}

std::size_t Resource::DependentCount() const {
  std::lock_guard<std::mutex> lock(listsMutex_);
  return dependents_.size();
}

void Resource::Destroy() {
  ReleaseDependents();
  ResourceSystem* system = ResourceSystem::Current();
  if (system) {
    system->RemoveFromCompletion(this);
    if (ResourceBin* bin = system->GetBin()) bin->Remove(this);
    if (flags_.load() & kFlagLoaded) {
      system->GetCounters().loaded.fetch_sub(1);
      system->GetCounters().loadedBytes.fetch_sub(KnownDataSize());
    }
  }
  if (ResourceDatabase* database = database_.load()) database->RemoveResource(this);
  if (system && (flags_.load() & kFlagCounted)) {
    system->GetCounters().resources.fetch_sub(1);
    system->GetCounters().bytes.fetch_sub(KnownSize());
  }
  ResourceTypeBase* type = type_;
  type_ = nullptr;
  delete this;
  // After the object: its code may live in the type's module.
  if (type) type->ReleaseReference();
}

// --- Redirects -------------------------------------------------------------------

RedirResource::RedirResource(const PString& name, const ResourceDatabase* database, Resource* target)
    : Resource(name, database), target_(target) {
  flags_.fetch_or(kFlagRedirect);
}

RedirResource::~RedirResource() {
  if (Resource* target = target_.exchange(nullptr)) target->RemoveDependent(this);
}

} // namespace Vak
