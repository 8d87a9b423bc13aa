#pragma once
// The process's service for named, loadable resources: it owns the bin, the
// loader thread and the task that steps it, knows the registered databases,
// completes what the loader has read, serialises loading work per resource
// through keyed access slots, watches the memory budget and creates resources
// through the resource types (plug-ins named by file extension).
//
// One per process: constructed, then Init, deleted at shutdown after every
// database. It holds the plug-in system for its whole life, since the
// resources it makes keep references on plug-in types.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "Vak/Bexlorn/OS.h"
#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Cindrel/Resource.h"
#include "Vak/plugins/PluginSystem.h"
#include "Vak/plugins/PluginType.h"

namespace Vak {

class ResourceBin;
class ResourceDatabase;
class ResourceLoader;
class ResourceSystem;

// A resource type: a plug-in of the resource-type group named by a lower-case
// file extension without its dot ("im", "lm.txt" for a text form).
class ResourceTypeBase : public PluginType {
public:
  static constexpr const char* kGroup = "4C414E80-BBDA-11d4-9AD7-0001025364B8";

  ResourceTypeBase(const PString& extension, const UId& id);
  ~ResourceTypeBase() override;

  // A new resource of the name, or null.
  virtual Resource* Create(const PString& name, ResourceDatabase* database) = 0;
  // For a name no file answers; the base makes none.
  virtual Resource* CreateOnTheFly(const PString& name, ResourceDatabase* database);
};

// The type of one resource class: creates that class by name.
template <class T>
class ResourceType : public ResourceTypeBase {
public:
  using ResourceTypeBase::ResourceTypeBase;
  Resource* Create(const PString& name, ResourceDatabase* database) override { return new T(name, database); }
};

// Steps the resource system once a frame.
class ResourceSystemTask : public Task {
public:
  explicit ResourceSystemTask(ResourceSystem& system);
  PString GetName() const override;
  void Done() override;
  int Step(float dt) override;

private:
  ResourceSystem& system_;
};

// Process-wide counts, for diagnostics.
struct ResourceStatistics {
  std::atomic<uint32_t> alive{0};
  std::atomic<uint32_t> ready{0};
  std::atomic<uint32_t> loaded{0};
  std::atomic<uint32_t> readyLocks{0};
  std::atomic<uint32_t> lockLoads{0};
  std::atomic<uint32_t> boosts{0};
};

class ResourceSystem {
public:
  static constexpr unsigned kAccessSlots = 8;
  static constexpr float kMemoryCheckInterval = 0.1f;
  static constexpr unsigned kDefaultMemoryMb = 30;
  static constexpr unsigned kMinimumMemoryMb = 10;
  // The profiling category of Update.
  static constexpr uint32_t kProfileCategory = 1;

  ResourceSystem();
  ~ResourceSystem();
  ResourceSystem(const ResourceSystem&) = delete;
  ResourceSystem& operator=(const ResourceSystem&) = delete;

  // The published system (set by Init, cleared by the destructor), or null.
  static ResourceSystem* Current();
  static ResourceStatistics& Stats();

  // Publishes the system and reads its options: "ResourceCaching" (boolean,
  // on), "ResourceMemory" (the budget in millions of bytes, 30 by default,
  // never below 10), "ResourceInstantBin" (present: the instant bin). Without
  // options caching is on, the budget 0 and the bin the cache bin.
  void Init(const Options* options);
  // The per-frame step: completion, bin, clock, memory check, dump.
  void Update(float dt);
  void DumpUnusedResourcesFromCache() { dumpRequested_.store(true); }

  // Serialises loading work on one resource between threads; at most
  // kAccessSlots resources are worked on at once.
  void LockAccess(Resource* resource);
  void UnlockAccess(Resource* resource);

  // Holds a resource's access lock until Unlock or the end of the scope, so a
  // resource type that throws does not leave the slot taken.
  class AccessLock {
  public:
    AccessLock(ResourceSystem& system, Resource* resource) : system_(system), resource_(resource) {
      system_.LockAccess(resource_);
    }
    ~AccessLock() { Unlock(); }
    AccessLock(const AccessLock&) = delete;
    AccessLock& operator=(const AccessLock&) = delete;
    void Unlock() {
      if (held_) system_.UnlockAccess(resource_);
      held_ = false;
    }

  private:
    ResourceSystem& system_;
    Resource* resource_;
    bool held_ = true;
  };

  // Hands a resource the loader has read (state 3) to the completion queue
  // as state 4; false when its state was no longer 3.
  bool QueueCompletion(Resource* resource);
  // True when the resource was queued for completion.
  bool RemoveFromCompletion(Resource* resource);
  std::size_t CompletionCount();

  // A resource of `name` made by the type of its extension (".txt" added for
  // the text form); null when no type serves it or the type makes none.
  Resource* CreateByExtension(const PString& name, ResourceDatabase* database, bool textForm);
  // For a name without a file: the type of the extension, else of the
  // extension + ".txt" as text form; null without a type.
  Resource* CreateOnTheFly(const PString& name, ResourceDatabase* database);
  // The lower-cased extension of a name without its dot ("" for none).
  static PString ExtensionOf(const PString& name);

  void RegisterDatabase(ResourceDatabase* database);
  void UnregisterDatabase(ResourceDatabase* database);
  std::vector<ResourceDatabase*> Databases();

  bool IsCaching() const { return caching_; }
  ResourceLoader* GetLoader() const { return loader_.get(); }
  ResourceBin* GetBin() const { return bin_.get(); }
  ResourceSystemTask* GetTask() const { return task_.get(); }
  const Options* GetOptions() const { return options_; }
  float GetClock() const { return clock_.load(); }

  // The accounting (bytes leave out unknown sizes).
  struct Counters {
    std::atomic<uint32_t> resources{0};
    std::atomic<uint32_t> loaded{0};
    std::atomic<uint32_t> inBin{0};
    std::atomic<uint32_t> bytes{0};
    std::atomic<uint32_t> loadedBytes{0};
    std::atomic<uint32_t> binBytes{0};
    std::atomic<uint32_t> budget{0};
    std::atomic<uint32_t> databases{0};
  };
  Counters& GetCounters() { return counters_; }
  // Bytes in use: all resources plus loaded data less what the bin holds.
  int64_t InUse() const;
  // Asks the databases, in registration order, to give up resources while
  // more than the budget is in use.
  void CheckMemory();

private:
  struct Slot {
    Resource* resource = nullptr;
    CriticalSection section;
    bool inUse = false;    // a thread holds the section
    unsigned holders = 0;  // threads holding or waiting for the slot
  };
  Slot* FindSlot(Resource* resource);
  // Completes one resource taken from the completion queue with a hold, and
  // gives the hold back.
  void CompleteTaken(Resource* resource);
  // Puts taken resources back at the front of the queue and gives back their
  // holds.
  void ReturnToCompletion(Resource* const* resources, std::size_t count);
  static Resource* Adopt(ResourceTypeBase* type, Resource* made, bool textForm);

  // Declared first: given back last, after every member that may hold
  // plug-in references is gone.
  PluginSystem::Holder plugins_;
  std::vector<ResourceDatabase*> databases_;
  std::mutex databasesMutex_;
  const Options* options_ = nullptr;
  std::unique_ptr<ResourceBin> bin_;
  std::unique_ptr<ResourceSystemTask> task_;
  bool caching_ = false;
  std::unique_ptr<ResourceLoader> loader_;
  std::deque<Resource*> completion_;
  CriticalSection completionLock_{"LoadComplete"};
  Slot slots_[kAccessSlots];
  CriticalSection slotLock_;
  Semaphore slotSemaphore_{kAccessSlots, kAccessSlots};
  std::atomic<float> clock_{0.0f};
  float nextMemoryCheck_ = 0.0f;
  std::atomic<bool> dumpRequested_{false};
  Counters counters_;
};

} // namespace Vak
