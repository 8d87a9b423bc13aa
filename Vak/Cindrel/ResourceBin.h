#pragma once
// What happens to a loaded resource nobody uses any more. The cache bin keeps
// it loaded until its time is up, so a later Get takes it back without
// loading; the instant bin keeps nothing. The bin totals are the resource
// system's count of resources in the bin and the bytes they hold; only what a
// bin added to them is ever taken off them.
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/Options.h"
#include "Vak/Bexlorn/Sync.h"

namespace Vak {

class Resource;

class ResourceBin {
public:
  ResourceBin() = default;
  virtual ~ResourceBin();
  ResourceBin(const ResourceBin&) = delete;
  ResourceBin& operator=(const ResourceBin&) = delete;

  virtual void Init(const Options* options);
  // Gives a binned resource back as Ready; false when it cannot.
  virtual bool Reclaim(Resource* resource);
  virtual void Remove(Resource* resource);
  // Called with the resource's database lock held.
  virtual void Add(Resource* resource);
  virtual void Process(float dt);
  virtual void Dump();

protected:
  static void AddToTotals(Resource* resource);
  static void TakeFromTotals(Resource* resource);
};

class ResourceBinCache : public ResourceBin {
public:
  static constexpr float kProcessTime = 0.5f;
  static constexpr float kOldest = 10.0f;
  static constexpr float kSpread = 2.0f;
  static constexpr float kFraction = 0.1f;
  static constexpr unsigned kMaxDeleted = 5;

  // The random state is seeded from the kernel clock's milliseconds + 10.
  ResourceBinCache();
  ~ResourceBinCache() override;

  void Init(const Options* options) override;
  bool Reclaim(Resource* resource) override;
  void Remove(Resource* resource) override;
  void Add(Resource* resource) override;
  void Process(float dt) override;
  void Dump() override;

  // The multiplicative generator: (16807 x state) mod (2^32 - 1).
  static uint32_t NextRandom(uint32_t state);
  // A value in [0, range).
  float Random(float range);
  void Seed(uint32_t state);

  std::size_t Count();
  bool Holds(const Resource* resource);
  float Now() const { return now_; }
  float ProcessTime() const { return processTime_; }
  float Oldest() const { return oldest_; }
  unsigned MaxDeleted() const { return maxDeleted_; }

private:
  // Under the lock; false when the array does not hold it.
  bool Take(Resource* resource);

  CriticalSection lock_;
  std::vector<Resource*> resources_;
  float now_ = 0.0f;
  float lastProcessed_ = 0.0f;
  float processTime_ = kProcessTime;
  float oldest_ = kOldest;
  float spread_ = kSpread;
  float fraction_ = kFraction;
  unsigned maxDeleted_ = kMaxDeleted;
  uint32_t random_ = 1;
};

class ResourceBinInstant : public ResourceBin {
public:
  bool Reclaim(Resource* resource) override;
  // Keeps nothing and leaves the resource as it is.
  void Add(Resource* resource) override;
};

} // namespace Vak
