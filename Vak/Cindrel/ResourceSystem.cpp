#include "Vak/Cindrel/ResourceSystem.h"

#include <algorithm>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Cindrel/Profile.h"
#include "Vak/Cindrel/ResourceBin.h"
#include "Vak/Cindrel/ResourceDatabase.h"
#include "Vak/Cindrel/ResourceLoader.h"

namespace Vak {

namespace {
std::atomic<ResourceSystem*> gCurrent{nullptr};

constexpr uint32_t kBytesPerMb = 1000000;

// One found type of a name, with the reference the look-up took; null when no
// plug-in of the resource-type group serves the name.
ResourceTypeBase* FindType(const PString& typeName) {
  PluginType* plugin = nullptr;
  PluginSystem::Result result = PluginSystem::FindPlugin(UId(ResourceTypeBase::kGroup), typeName, plugin);
  if (!result.Ok() || plugin == nullptr) return nullptr;
  auto* type = dynamic_cast<ResourceTypeBase*>(plugin);
  if (type == nullptr) plugin->ReleaseReference();
  return type;
}

} // namespace

// Stores the type (taking over the look-up's reference) in what it made.
Resource* ResourceSystem::Adopt(ResourceTypeBase* type, Resource* made, bool textForm) {
  if (made == nullptr) {
    type->ReleaseReference();
    return nullptr;
  }
  made->SetType(type);
  made->SetTextForm(textForm);
  return made;
}

// --- Resource types and the task -------------------------------------------------

ResourceTypeBase::ResourceTypeBase(const PString& extension, const UId& id)
    : PluginType(extension, id, UId(kGroup)) {}

ResourceTypeBase::~ResourceTypeBase() = default;

Resource* ResourceTypeBase::CreateOnTheFly(const PString&, ResourceDatabase*) { return nullptr; }

ResourceSystemTask::ResourceSystemTask(ResourceSystem& system)
    : Task(PString("ResourceSystem"), 5.0f, true), system_(system) {}

PString ResourceSystemTask::GetName() const { return PString("ResourceSystem"); }

void ResourceSystemTask::Done() {}

int ResourceSystemTask::Step(float dt) {
  system_.Update(dt);
  return 0;
}

// --- The system ------------------------------------------------------------------

ResourceSystem::ResourceSystem() : plugins_(PluginSystem::Acquire()) {}

ResourceSystem::~ResourceSystem() {
  task_.reset();
  loader_.reset();
  bin_.reset();
  ResourceSystem* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
  SingleLock lock(&completionLock_, true);
  completion_.clear();
}

ResourceSystem* ResourceSystem::Current() { return gCurrent.load(); }

ResourceStatistics& ResourceSystem::Stats() {
  static ResourceStatistics stats;
  return stats;
}

void ResourceSystem::Init(const Options* options) {
  caching_ = true;
  gCurrent.store(this);
  counters_.resources = 0;
  counters_.loaded = 0;
  counters_.inBin = 0;
  counters_.bytes = 0;
  counters_.loadedBytes = 0;
  counters_.binBytes = 0;
  options_ = options;

  bool instant = false;
  if (options) {
    caching_ = options->GetBool("ResourceCaching", true);
    unsigned megabytes = kDefaultMemoryMb;
    options->Get("ResourceMemory", megabytes, kDefaultMemoryMb);
    if (megabytes <= kMinimumMemoryMb) megabytes = kMinimumMemoryMb;
    const uint64_t bytes = static_cast<uint64_t>(megabytes) * kBytesPerMb;
    counters_.budget = bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
    instant = options->Find("ResourceInstantBin") != nullptr;
  }

  bin_.reset();
  if (instant)
    bin_ = std::make_unique<ResourceBinInstant>();
  else
    bin_ = std::make_unique<ResourceBinCache>();
  bin_->Init(options);

  loader_.reset();
  if (caching_) loader_ = std::make_unique<ResourceLoader>(*this);

  // Without a task manager (no OS::Init) there is no task; Update is then
  // the caller's.
  task_.reset();
  try {
    task_ = std::make_unique<ResourceSystemTask>(*this);
  } catch (const Exception&) {
  }
}

void ResourceSystem::Update(float dt) {
  static ProfileRecord record("ResourceSystem::Update", __FILE__, kProfileCategory);
  ProfileScope scope(record);
  if (caching_) {
    std::vector<Resource*> taken;
    {
      SingleLock lock(&completionLock_, true);
      const std::size_t n = completion_.size();
      const std::size_t k = std::min(std::max<std::size_t>(n / 4, 5), n);
      taken.reserve(k);
      for (std::size_t i = 0; i < k; ++i) {
        Resource* resource = completion_.front();
        completion_.pop_front();
        resource->AddHold();  // kept alive until it is completed
        taken.push_back(resource);
      }
    }
    for (std::size_t i = 0; i < taken.size(); ++i) {
      try {
        CompleteTaken(taken[i]);
      } catch (...) {
        // The rest wait for the next step, in their order.
        ReturnToCompletion(taken.data() + i + 1, taken.size() - i - 1);
        throw;
      }
    }
  }

  if (bin_) bin_->Process(dt);

  const float clock = clock_.load() + dt;
  clock_.store(clock);
  if (clock > nextMemoryCheck_) {
    CheckMemory();
    nextMemoryCheck_ = clock + kMemoryCheckInterval;
  }

  if (dumpRequested_.load() && bin_) {
    for (ResourceDatabase* database : Databases()) {
      (void)database;
      bin_->Dump();
    }
  }
}

void ResourceSystem::CompleteTaken(Resource* resource) {
  // Declared first: the hold goes after the access lock.
  struct Hold {
    Resource* resource;
    ~Hold() { resource->ReleaseHold(); }
  } hold{resource};
  // A Lock on another thread may complete it first: only one does, under the
  // access lock, and only from the read state.
  AccessLock access(*this, resource);
  if (resource->GetState() == Resource::kRead) resource->Complete();
}

void ResourceSystem::ReturnToCompletion(Resource* const* resources, std::size_t count) {
  {
    SingleLock lock(&completionLock_, true);
    completion_.insert(completion_.begin(), resources, resources + count);
  }
  for (std::size_t i = 0; i < count; ++i) resources[i]->ReleaseHold();
}

int64_t ResourceSystem::InUse() const {
  return static_cast<int64_t>(counters_.bytes.load()) + counters_.loadedBytes.load() - counters_.binBytes.load();
}

void ResourceSystem::CheckMemory() {
  const int64_t budget = counters_.budget.load();
  if (InUse() <= budget) return;
  int64_t excess = static_cast<int64_t>(counters_.bytes.load()) - budget + counters_.loadedBytes.load();
  for (ResourceDatabase* database : Databases()) {
    if (excess <= 0) break;
    database->EvictUnused(excess);
  }
}

// --- Access slots ----------------------------------------------------------------

ResourceSystem::Slot* ResourceSystem::FindSlot(Resource* resource) {
  for (Slot& slot : slots_)
    if (slot.holders != 0 && slot.resource == resource) return &slot;
  return nullptr;
}

// A slot stays bound to its resource while any thread holds or waits for it,
// and nobody waits for a slot count while holding the slot lock.
void ResourceSystem::LockAccess(Resource* resource) {
  bool haveCount = false;
  for (;;) {
    slotLock_.Lock();
    if (Slot* slot = FindSlot(resource)) {
      ++slot->holders;
      slotLock_.Unlock();
      if (haveCount) slotSemaphore_.Unlock(1);
      slot->section.Lock();
      slot->inUse = true;
      return;
    }
    if (haveCount || slotSemaphore_.Lock(0)) {
      // Holding a count, fewer than kAccessSlots slots are bound.
      Slot* slot = nullptr;
      for (Slot& candidate : slots_)
        if (candidate.holders == 0) {
          slot = &candidate;
          break;
        }
      slot->resource = resource;
      slot->holders = 1;
      slotLock_.Unlock();
      slot->section.Lock();
      slot->inUse = true;
      return;
    }
    slotLock_.Unlock();
    slotSemaphore_.Lock();
    haveCount = true;
  }
}

void ResourceSystem::UnlockAccess(Resource* resource) {
  SingleLock lock(&slotLock_, true);
  Slot* slot = FindSlot(resource);
  if (slot == nullptr) return;
  slot->inUse = false;
  slot->section.Unlock();
  if (--slot->holders == 0) {
    slot->resource = nullptr;
    slotSemaphore_.Unlock(1);
  }
}

// --- Completion queue ------------------------------------------------------------

bool ResourceSystem::QueueCompletion(Resource* resource) {
  SingleLock lock(&completionLock_, true);
  // The state changes before the resource is visible in the queue, so
  // whoever takes it from there sees it read.
  if (!resource->CompareExchangeState(Resource::kReading, Resource::kRead)) return false;
  completion_.push_back(resource);
  return true;
}

bool ResourceSystem::RemoveFromCompletion(Resource* resource) {
  SingleLock lock(&completionLock_, true);
  auto found = std::find(completion_.begin(), completion_.end(), resource);
  if (found == completion_.end()) return false;
  completion_.erase(found);
  return true;
}

std::size_t ResourceSystem::CompletionCount() {
  SingleLock lock(&completionLock_, true);
  return completion_.size();
}

// --- Resource types --------------------------------------------------------------

PString ResourceSystem::ExtensionOf(const PString& name) {
  FilePath path(name.c_str());
  const char* ext = path.GetExt();
  PString extension(ext ? ext : "");
  extension.ToLower();
  return extension;
}

Resource* ResourceSystem::CreateByExtension(const PString& name, ResourceDatabase* database, bool textForm) {
  PString typeName = ExtensionOf(name);
  if (textForm) typeName = typeName + ".txt";
  ResourceTypeBase* type = FindType(typeName);
  if (type == nullptr) return nullptr;
  return Adopt(type, type->Create(name, database), textForm);
}

Resource* ResourceSystem::CreateOnTheFly(const PString& name, ResourceDatabase* database) {
  const PString extension = ExtensionOf(name);
  bool textForm = false;
  ResourceTypeBase* type = FindType(extension);
  if (type == nullptr) {
    textForm = true;
    type = FindType(extension + ".txt");
  }
  if (type == nullptr) return nullptr;
  return Adopt(type, type->CreateOnTheFly(name, database), textForm);
}

// --- Databases -------------------------------------------------------------------

void ResourceSystem::RegisterDatabase(ResourceDatabase* database) {
  std::lock_guard<std::mutex> lock(databasesMutex_);
  databases_.push_back(database);
  counters_.databases = static_cast<uint32_t>(databases_.size());
}

void ResourceSystem::UnregisterDatabase(ResourceDatabase* database) {
  std::lock_guard<std::mutex> lock(databasesMutex_);
  std::erase(databases_, database);
  counters_.databases = static_cast<uint32_t>(databases_.size());
}

std::vector<ResourceDatabase*> ResourceSystem::Databases() {
  std::lock_guard<std::mutex> lock(databasesMutex_);
  return databases_;
}

} // namespace Vak
