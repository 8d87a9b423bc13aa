#pragma once
// One named, loadable resource of a resource database. Resource types derive
// from it and supply the reading (Load / LoadTxt) and completion; the base
// carries the life cycle every type shares: the load state, the lock that
// loads on demand (or takes a request over from the loader thread), observers
// told when loading has finished, the use and reference counts, the sizes that
// feed the memory accounting, and membership of the resource bin.
//
// Two counts: the use count says how many callers of Get hold the resource
// (ReleaseReference gives one back); the reference count says who keeps the
// object alive (its database's table, the loader queue while queued, the
// dependents list of a redirect target) and destroys it at 0.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/ResultClass.h"

namespace Vak {

class Resource;
class ResourceDatabase;
class ResourceSystem;
class ResourceTypeBase;

// Told when a resource it watches has finished loading.
class ResourceObserver {
public:
  virtual ~ResourceObserver();
  virtual void OnLoad(const Resource* resource) = 0;
};

class Resource {
public:
  enum Results : unsigned {
    RES_OK = 0,
    RES_FAILED_TO_LOAD,
    RES_NOT_AVAILABLE,
    RES_LOCK_TIMEOUT,
    RES_LOCK_FAILED,
    RES_PARTIAL_LOAD,
    RES_NO_LOAD_METHOD,
    RES_INVALID,
  };
  static const ResultTableSpan results;
  using Result = ResultClass<&results, Results>;

  enum State : int32_t {
    kConstructed = 0,  // made with a database, not yet entered
    kIdle = 1,         // known, not loaded, not queued
    kQueued = 2,       // waiting for the loader
    kReading = 3,      // being read by the loader
    kRead = 4,         // read; completion pending
    kTaken = 5,        // taken out of the loader queue by Lock
    kReady = 6,        // loaded and completed
    kCached = 7,       // in the bin: loaded, unused
    kInvalid = 8,      // failed or missing
    kDelete = 9,       // evicted from the bin, being released
  };
  static constexpr int kStateCount = 10;
  // The diagnostic name of a state value ("None", "Ready", ... in value
  // order); "" outside 0..9.
  static const char* StateName(int state);

  static constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;

  Resource(const PString& name, const ResourceDatabase* database);
  Resource(const Resource&) = delete;
  Resource& operator=(const Resource&) = delete;

  virtual Result Lock();
  virtual void Unlock();
  // Lock then Unlock; whether the lock succeeded.
  virtual bool LoadAll();
  // RES_OK when Ready, RES_FAILED_TO_LOAD when failed, else RES_PARTIAL_LOAD.
  virtual Result IsAllLoaded();
  virtual void SetPriority(float priority);
  virtual void AddObserver(const ResourceObserver* observer);
  virtual void RemoveObserver(const ResourceObserver* observer);
  virtual ~Resource();
  // A resource of `name` made by this one's type in the same database, with
  // this one's file name, type and text form. Only for resources with a type.
  virtual Resource* CreateInstance(const PString& name);
  virtual Result Load(const char* file);
  virtual Result LoadTxt(const char* file);
  // After a good read, on the thread that completes it.
  virtual Result LoadComplete();
  virtual void OnLoadNotify();
  virtual bool Unload();
  // Bytes, kUnknownSize when unknown; each asked once and cached.
  virtual uint32_t CalculateSize();
  virtual uint32_t CalculateDataSize();
  virtual Resource* GetRedirection() const;

  // The owning database's name (empty without one).
  PString GetOwnerName() const;
  // Gives back one use. True when that was the last one: a resource with a
  // database stays loaded; one without is released (and destroyed at 0).
  bool ReleaseReference();
  // ReleaseReference for a caller that is done with the resource: when that
  // was the last use and the resource is Ready and unlocked in its database,
  // the database lets it go now (as the bin's eviction would) instead of
  // keeping it for a later Get, which reads it anew.
  bool ReleaseAndDrop();

  // The reference count (see the top of this file).
  void AddHold();
  // True when this release destroyed the resource.
  bool ReleaseHold();

  const PString& GetName() const { return name_; }
  const PString& GetFileName() const { return fileName_; }
  void SetFileName(const PString& file) { fileName_ = file; }
  ResourceDatabase* GetDatabase() const { return database_.load(); }
  ResourceDatabase* GetLastDatabase() const { return lastDatabase_.load(); }
  ResourceTypeBase* GetType() const { return type_; }
  int GetState() const { return state_.load(); }
  float GetPriority() const { return priority_.load(); }
  float GetCreated() const { return created_; }
  float GetLastUse() const { return lastUse_.load(); }
  uint32_t GetUseCount() const { return useCount_.load(); }
  int32_t GetLockCount() const { return lockCount_.load(); }
  uint32_t GetReferenceCount() const { return refCount_.load(); }
  uint32_t GetReadyLocks() const { return readyLocks_.load(); }
  uint32_t GetSynchronousLoads() const { return syncLoads_.load(); }
  bool IsTextForm() const { return (flags_.load() & kFlagText) != 0; }
  bool IsRedirect() const { return (flags_.load() & kFlagRedirect) != 0; }
  bool IsLoadedCounted() const { return (flags_.load() & kFlagLoaded) != 0; }
  bool HasNotified() const { return notified_.load(); }
  std::size_t ObserverCount() const;
  std::size_t DependentCount() const;
  // The cached sizes, 0 when unknown (what the totals take).
  uint32_t KnownSize();
  uint32_t KnownDataSize();

  // Follows redirections to a resource without the redirect flag; null when
  // a redirect has lost its target.
  static Resource* Resolve(Resource* resource);

protected:
  void SetState(int state) { state_.store(state); }

  static constexpr uint32_t kFlagLoaded = 1;      // loaded data counted in the totals
  static constexpr uint32_t kFlagCounted = 2;     // counted among the system's resources
  static constexpr uint32_t kFlagText = 4;        // loads through LoadTxt
  static constexpr uint32_t kFlagRedirect = 8;
  static constexpr uint32_t kFlagBinTotals = 16;  // counted in the bin totals

  std::atomic<uint32_t> flags_{0};

private:
  friend class ResourceSystem;
  friend class ResourceLoader;
  friend class ResourceDatabase;
  friend class ResourceBin;
  friend class ResourceBinCache;
  friend class RedirResource;

  bool CompareExchangeState(int expected, int desired) { return state_.compare_exchange_strong(expected, desired); }
  void SetType(ResourceTypeBase* type);
  void SetTextForm(bool text);
  void SetLastUse(float clock) { lastUse_.store(clock); }
  void SetLastDatabase(ResourceDatabase* database) { lastDatabase_.store(database); }
  void SetDatabase(ResourceDatabase* database) { database_.store(database); }
  void RaiseUse() { useCount_.fetch_add(1); }

  // Reads the data (LoadTxt of file name + ".txt" for the text form). A
  // throwing type leaves the resource failed; the exception goes on.
  bool ReadData();
  // LoadComplete; on success finish-load and OnLoadNotify. A throwing
  // LoadComplete leaves the resource failed; the exception goes on.
  bool Complete();
  void FinishLoad();
  void ReleaseToBin();
  // Lock's work under the access lock; false when the state moved on and the
  // lock must start again.
  bool LockSlow(ResourceSystem& system, Result& result);
  void AddDependent(Resource* redirect);
  void RemoveDependent(Resource* redirect);
  void ReleaseDependents();
  // Run when the reference count reaches 0.
  void Destroy();
  bool Release(bool drop);

  PString name_;
  std::atomic<ResourceDatabase*> database_;
  std::atomic<ResourceDatabase*> lastDatabase_{nullptr};
  float created_;
  std::atomic<float> priority_{0.0f};
  std::atomic<uint32_t> useCount_{0};
  std::atomic<float> lastUse_{0.0f};
  std::atomic<uint32_t> refCount_{1};
  std::atomic<int32_t> state_;
  mutable std::mutex listsMutex_;  // observers and dependents
  std::vector<const ResourceObserver*> observers_;
  std::atomic<bool> notified_{false};
  ResourceTypeBase* type_ = nullptr;
  PString fileName_;
  std::atomic<uint32_t> readyLocks_{0};
  std::atomic<uint32_t> syncLoads_{0};
  std::atomic<int32_t> lockCount_{0};
  std::vector<Resource*> dependents_;
  uint32_t size_ = kUnknownSize;
  uint32_t dataSize_ = kUnknownSize;
  std::once_flag sizeOnce_;
  std::once_flag dataSizeOnce_;
};

// Stands for a resource of another database.
class RedirResource : public Resource {
public:
  RedirResource(const PString& name, const ResourceDatabase* database, Resource* target);
  ~RedirResource() override;
  Resource* GetRedirection() const override { return target_.load(); }

private:
  friend class Resource;
  std::atomic<Resource*> target_;
};

} // namespace Vak
