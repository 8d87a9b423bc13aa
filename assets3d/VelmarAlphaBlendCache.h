#pragma once
// Blended geometry drawn back to front: entries go into 200 distance
// buckets, each drawn farthest first; the primitives of near entries are
// sorted one by one. Sets of buckets stack for nested views.
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/dorvix/RenderingCache.h"

namespace Vak {

class VelmarAlphaBlendCache : public AlphaBlendCache {
public:
  static constexpr int kBucketsPerSet = 200;
  static constexpr float kFarDistance = 1000.0f;
  // Entries in buckets below this have their primitives sorted.
  static constexpr int kSortBucketLimit = 70;
  static constexpr float kSortDistance = 350.0f;
  static constexpr float kRangeFraction = 0.2f;

  VelmarAlphaBlendCache();
  ~VelmarAlphaBlendCache() override;

  void Reset() override;
  void Clear() override {}
  void Render(Display& display, int pass) override;
  void Enter(Display& display, void* viewPort, bool push) override;
  void Leave(Display& display, void* viewPort, bool pop) override;

  bool IsEmpty() const override;
  void Add(AlphaBlendDrawer* drawer, GeometryChunk* chunk, void* value, const Matrix4& transform) override;
  void SetSortRange(float range) override;
  int GetSortRangeDerived() const { return rangeDerived_; }
  void BeginBlendState(Display& display) override;
  void EndBlendState(Display& display) override;

  // The bucket of a distance from the eye: trunc(distance / 5), at most 199.
  static int BucketOf(float distance);
  // The length of a translation as the cache measures it (one Newton step
  // of the fast inverse square root).
  static float Distance(const Vector3& translation);
  // The entries of a bucket of the current set.
  unsigned BucketCount(int bucket) const;
  // The first bucket of the current set.
  unsigned CurrentSet() const { return current_; }

private:
  struct Entry;
  struct SortItem {
    int32_t primitive;
    float distance;  // squared, from the eye in the object's space
  };

  // A bucket's place of an entry: its distance beside it, so sorting a
  // bucket reads no entry.
  struct Slot {
    float distance;
    uint32_t order;  // arrival in the bucket
    Entry* entry;
  };

  void SortPrimitives(Entry& entry);
  void ReleaseBucket(std::vector<Slot>& bucket);

  std::vector<std::vector<Slot>> buckets_;
  unsigned current_ = 0;
  float range_ = 250.0f;
  int rangeDerived_ = 50;
  std::deque<Entry> entries_;  // every entry made, never moved
  std::vector<Entry*> pool_;   // the free ones
  std::vector<SortItem> scratch_;
};

} // namespace Vak
