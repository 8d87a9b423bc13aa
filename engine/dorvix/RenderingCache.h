#pragma once
// Rendering caches (sorting and batching stages the kernel draws through),
// the manager that holds them, and the engine's own caches that materials
// look up by identifier.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/plugins/ReferenceCount.h"
#include "engine/kernelx/Matrix4.h"

namespace Vak {

class Display;
class GeometryChunk;

// What draws an entry a cache collected (a material). The stand-in draws
// the chunk as it is, with its own indices or the ones given.
class AlphaBlendDrawer {
public:
  virtual ~AlphaBlendDrawer() = default;
  virtual void DrawCached(Display& display, GeometryChunk* chunk, void* value, const Matrix4& transform);
  virtual void DrawCachedPrimitives(Display& display, GeometryChunk* chunk, void* value, const Matrix4& transform,
                                    const uint16_t* indices, unsigned indexCount, unsigned primitiveCount,
                                    int primitiveType);
};

class RenderingCache : public ReferenceCount {
public:
  // `priority` orders the caches of a frame in the engine; kept, unused here.
  RenderingCache(const PString& id, float priority) : id_(id), priority_(priority) {}
  const PString& GetCacheID() const { return id_; }
  float GetPriority() const { return priority_; }

  virtual void Reset() {}
  virtual void Clear() {}
  virtual void Render(Display& display, int pass) { (void)display, (void)pass; }
  virtual void Enter(Display& display, void* viewPort, bool push) { (void)display, (void)viewPort, (void)push; }
  virtual void Leave(Display& display, void* viewPort, bool pop) { (void)display, (void)viewPort, (void)pop; }

  // Process-wide: set, no cache draws (a renderer that shows nothing).
  static bool IsRenderingDisabled();
  static void SetRenderingDisabled(bool disabled);

private:
  PString id_;
  float priority_;
};

// The engine's cache of blended geometry; the 3-D formats put their own
// (sorting) one in its place under the same identifier.
class AlphaBlendCache : public RenderingCache {
public:
  static const PString& AlphaBlendCacheID();
  explicit AlphaBlendCache(int passes) : AlphaBlendCache(AlphaBlendCacheID(), passes) {}

  // The stand-in collects nothing.
  virtual void Add(AlphaBlendDrawer* drawer, GeometryChunk* chunk, void* value, const Matrix4& transform) {
    (void)drawer, (void)chunk, (void)value, (void)transform;
  }
  virtual bool IsEmpty() const { return true; }
  virtual void SetSortRange(float range) { range_ = range; }
  float GetSortRange() const { return range_; }
  virtual void BeginBlendState(Display& display) { (void)display; }
  virtual void EndBlendState(Display& display) { (void)display; }

protected:
  AlphaBlendCache(const PString& id, int passes) : RenderingCache(id, float(passes)) {}

private:
  float range_ = 0.0f;
};

class AlphaMaskCache : public RenderingCache {
public:
  static const PString& AlphaMaskCacheID();
  explicit AlphaMaskCache(int passes) : RenderingCache(AlphaMaskCacheID(), float(passes)) {}
};

class MaterialChunkCache : public RenderingCache {
public:
  static const PString& MaterialChunkCacheID();
  explicit MaterialChunkCache(int passes) : RenderingCache(MaterialChunkCacheID(), float(passes)) {}
};

class RenderingCacheManager {
public:
  RenderingCacheManager() = default;
  RenderingCacheManager(const RenderingCacheManager&) = delete;
  RenderingCacheManager& operator=(const RenderingCacheManager&) = delete;
  // Drops its references.
  ~RenderingCacheManager();

  // Takes a reference of its own; nothing for null or a cache held already.
  void AddCache(RenderingCache* cache);
  bool Remove(RenderingCache* cache);
  // The first cache added with the identifier, or null; no reference taken.
  RenderingCache* FindCache(const PString& id) const;
  std::size_t Count() const { return caches_.size(); }
  RenderingCache* At(std::size_t index) const { return caches_[index]; }

private:
  std::vector<RenderingCache*> caches_;
};

} // namespace Vak
