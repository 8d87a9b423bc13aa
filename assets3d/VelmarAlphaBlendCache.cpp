#include "assets3d/VelmarAlphaBlendCache.h"

#include <algorithm>
#include <bit>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/GeometryChunk.h"

namespace Vak {

struct VelmarAlphaBlendCache::Entry {
  AlphaBlendDrawer* drawer = nullptr;
  GeometryChunk* chunk = nullptr;
  void* value = nullptr;
  Matrix4 transform;
  // Kept with its capacity while the entry is pooled.
  std::vector<uint16_t> sorted;
  bool hasSorted = false;
  unsigned primitiveCount = 0;
  int primitiveType = -1;
  float distance = 0.0f;
};

namespace {

constexpr int kSourceFactor = 4;
constexpr int kDestinationFactor = 5;

} // namespace

VelmarAlphaBlendCache::VelmarAlphaBlendCache() : AlphaBlendCache(AlphaBlendCacheID(), 1) {
  buckets_.resize(kBucketsPerSet);
  SetSortRange(range_);
}

VelmarAlphaBlendCache::~VelmarAlphaBlendCache() = default;

float VelmarAlphaBlendCache::Distance(const Vector3& translation) {
  const float squared = translation.Dot(translation);
  const float r0 = std::bit_cast<float>(0x5F3759DFu - (std::bit_cast<uint32_t>(squared) >> 1));
  const float r = r0 * (1.5f - 0.5f * squared * r0 * r0);
  return squared * r;
}

int VelmarAlphaBlendCache::BucketOf(float distance) {
  const float bucket = distance * float(kBucketsPerSet) / kFarDistance;
  if (!(bucket < float(kBucketsPerSet - 1))) return kBucketsPerSet - 1;  // NaN too
  return bucket > 0.0f ? int(bucket) : 0;
}

unsigned VelmarAlphaBlendCache::BucketCount(int bucket) const {
  return static_cast<unsigned>(buckets_[current_ + unsigned(bucket)].size());
}

bool VelmarAlphaBlendCache::IsEmpty() const {
  for (int b = 0; b < kBucketsPerSet; ++b)
    if (!buckets_[current_ + unsigned(b)].empty()) return false;
  return true;
}

void VelmarAlphaBlendCache::SetSortRange(float range) {
  range_ = range;
  rangeDerived_ = int(range * kRangeFraction);
  AlphaBlendCache::SetSortRange(range);
}

void VelmarAlphaBlendCache::ReleaseBucket(std::vector<Slot>& bucket) {
  for (const Slot& slot : bucket) {
    Entry* entry = slot.entry;
    entry->sorted.clear();
    entry->hasSorted = false;
    pool_.push_back(entry);
  }
  bucket.clear();
}

void VelmarAlphaBlendCache::Reset() {
  for (int b = 0; b < kBucketsPerSet; ++b) ReleaseBucket(buckets_[current_ + unsigned(b)]);
}

void VelmarAlphaBlendCache::Add(AlphaBlendDrawer* drawer, GeometryChunk* chunk, void* value,
                                const Matrix4& transform) {
  if (!chunk) return;
  const float distance = Distance(transform.Translation());
  const int bucket = BucketOf(distance);
  Entry* entry;
  if (pool_.empty()) {
    entry = &entries_.emplace_back();
  } else {
    entry = pool_.back();
    pool_.pop_back();
  }
  entry->drawer = drawer;
  entry->chunk = chunk;
  entry->value = value;
  entry->transform = transform;
  entry->distance = distance;
  entry->primitiveCount = chunk->GetPrimitiveCount();
  entry->primitiveType = GeometryChunk::PrimitiveTypeForTypeBits(chunk->GetTypeBits());
  if (bucket < kSortBucketLimit) SortPrimitives(*entry);
  std::vector<Slot>& slots = buckets_[current_ + unsigned(bucket)];
  slots.push_back({entry->distance, uint32_t(slots.size()), entry});
}

void VelmarAlphaBlendCache::SortPrimitives(Entry& entry) {
  GeometryChunk& chunk = *entry.chunk;
  const unsigned indices = chunk.GetIndexCount();
  unsigned per, step, count;
  const uint32_t bits = chunk.GetTypeBits();
  switch (bits) {
  case GeometryChunk::kTypePoints: per = 1, step = 1, count = indices; break;
  case GeometryChunk::kTypeLineList: per = 2, step = 2, count = indices / 2; break;
  case GeometryChunk::kTypeLineStrip: per = 2, step = 1, count = indices > 1 ? indices - 1 : 0; break;
  // The chunk's own count may claim more triangles than its indices hold.
  case GeometryChunk::kTypeTriangleList: per = 3, step = 3, count = std::min(entry.primitiveCount, indices / 3); break;
  case GeometryChunk::kTypeTriangleStrip:
  case GeometryChunk::kTypeTriangleFan: per = 3, step = 1, count = indices > 2 ? indices - 2 : 0; break;
  default: return;
  }
  const VertexItem<Vector3> positions = chunk.GetItem<Vector3>(kItemPosition);
  if (count == 0 || !positions) return;
  const bool fan = bits == GeometryChunk::kTypeTriangleFan;
  const bool strip = bits == GeometryChunk::kTypeTriangleStrip;
  const uint16_t* source = chunk.GetIndices();
  const unsigned vertices = chunk.GetVertexCount();

  const Vector3 eye = -(entry.transform.Rotation().Transposed() * entry.transform.Translation());

  if (scratch_.size() < count) scratch_.resize(count);
  // The indices of primitive i, in the order they are drawn.
  auto corners = [&](unsigned i, uint16_t out[3]) {
    if (fan) {
      out[0] = source[0], out[1] = source[i + 1], out[2] = source[i + 2];
    } else if (strip && (i & 1u)) {  // keeps the strip's winding
      out[0] = source[i + 1], out[1] = source[i], out[2] = source[i + 2];
    } else {
      for (unsigned k = 0; k < per; ++k) out[k] = source[i * step + k];
    }
  };
  for (unsigned i = 0; i < count; ++i) {
    uint16_t corner[3];
    corners(i, corner);
    // An index past the vertices has no position to add.
    Vector3 centre;
    unsigned used = 0;
    for (unsigned k = 0; k < per; ++k) {
      if (corner[k] >= vertices) continue;
      centre += positions[corner[k]];
      ++used;
    }
    if (used > 1) centre = centre * (1.0f / float(used));
    const Vector3 d = centre - eye;
    scratch_[i] = {int32_t(i), d.Dot(d)};
  }
  std::sort(scratch_.begin(), scratch_.begin() + count, [](const SortItem& a, const SortItem& b) {
    return a.distance > b.distance || (a.distance == b.distance && a.primitive < b.primitive);
  });
  entry.distance = (scratch_[0].distance + scratch_[count - 1].distance) / 2.0f;

  entry.sorted.resize(std::size_t(count) * per);
  uint16_t* out = entry.sorted.data();
  for (unsigned n = 0; n < count; ++n, out += per) {
    uint16_t corner[3];
    corners(unsigned(scratch_[n].primitive), corner);
    std::copy_n(corner, per, out);
  }
  entry.primitiveCount = count;
  entry.hasSorted = true;
}

void VelmarAlphaBlendCache::BeginBlendState(Display& display) {
  display.SetAlphaTestMode(false);
  display.SetAlphaBlendMode(true);
  display.SetDepthWriteMode(false);
}

void VelmarAlphaBlendCache::EndBlendState(Display& display) {
  display.SetAlphaBlendFunction(1, 0);
  display.SetAlphaBlendMode(false);
  display.SetAlphaTestMode(false);
  display.SetDepthWriteMode(true);
}

void VelmarAlphaBlendCache::Render(Display& display, int) {
  if (IsRenderingDisabled()) return;
  BeginBlendState(display);
  for (int b = kBucketsPerSet - 1; b >= 0; --b) {
    std::vector<Slot>& bucket = buckets_[current_ + unsigned(b)];
    if (bucket.empty()) continue;
    // Farthest first; equal distances in the order they came.
    std::sort(bucket.begin(), bucket.end(), [](const Slot& x, const Slot& y) {
      return x.distance > y.distance || (x.distance == y.distance && x.order < y.order);
    });
    // Entries lie in the pool's order, not the drawing order: fetch ahead.
    constexpr std::size_t kAhead = 4;
    for (std::size_t i = 0; i < bucket.size(); ++i) {
      if (i + kAhead < bucket.size()) __builtin_prefetch(bucket[i + kAhead].entry);
      Entry* entry = bucket[i].entry;
      display.SetAlphaBlendFunction(kSourceFactor, kDestinationFactor);
      if (entry->drawer && entry->hasSorted)
        entry->drawer->DrawCachedPrimitives(display, entry->chunk, entry->value, entry->transform,
                                            entry->sorted.data(), unsigned(entry->sorted.size()),
                                            entry->primitiveCount, entry->primitiveType);
      else if (entry->drawer)
        entry->drawer->DrawCached(display, entry->chunk, entry->value, entry->transform);
      entry->sorted.clear();
      entry->hasSorted = false;
      pool_.push_back(entry);
    }
    bucket.clear();
  }
  EndBlendState(display);
}

void VelmarAlphaBlendCache::Enter(Display&, void*, bool push) {
  if (!push) return;
  current_ += kBucketsPerSet;
  if (buckets_.size() <= current_) buckets_.resize(current_ + kBucketsPerSet);
  Reset();
}

void VelmarAlphaBlendCache::Leave(Display& display, void*, bool pop) {
  if (!pop) return;
  Render(display, 0);
  if (current_ >= unsigned(kBucketsPerSet)) current_ -= kBucketsPerSet;
}

} // namespace Vak
