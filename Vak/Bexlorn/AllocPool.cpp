#include "Vak/Bexlorn/AllocPool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>

namespace Vak {

static_assert(alignof(std::max_align_t) >= Alloc::kAlign, "the heap must hand out 16-byte aligned memory");
static_assert(Alloc::kHeaderBytes == 8, "headers sit at 8 mod 16");

namespace {

// A block is known by its caller pointer; the header is the word before it.
uintptr_t& Header(void* block) { return static_cast<uintptr_t*>(block)[-1]; }
void*& Link(void* block) { return *static_cast<void**>(block); }
// A heap block starts one word before its header.
void* RawOf(void* block) { return static_cast<char*>(block) - 2 * Alloc::kHeaderBytes; }
// Cache slots for every pooled class together.
constexpr unsigned CacheSlots() {
  unsigned slots = 0;
  for (unsigned cls = 0; cls < Alloc::kPooledClasses; ++cls) slots += AllocPool::CacheLimit(cls);
  return slots;
}

}  // namespace

// One thread's cache of one pool: per class a stack of block pointers, newest
// on top. The stacks live in the cache rather than threading through the
// blocks, so a release writes nothing into the block and a request reads
// nothing from it; a block can share a cache line with another thread's.
// Only the owning thread touches the stacks; the counts are atomic so that
// statistics can read them from other threads.
class AllocThreadCache {
public:
  struct Bin {
    void** slots = nullptr;  // `limit` entries, oldest first
    std::atomic<unsigned> count{0};
    unsigned limit = 0;
  };

  AllocThreadCache() {
    void** next = slots_;
    for (unsigned cls = 0; cls < Alloc::kPooledClasses; ++cls) {
      bins[cls].slots = next;
      bins[cls].limit = AllocPool::CacheLimit(cls);
      next += bins[cls].limit;
    }
  }

  // The newest block of a class, or null when there is none.
  void* Take(unsigned cls) {
    Bin& bin = bins[cls];
    const unsigned count = bin.count.load(std::memory_order_relaxed);
    if (count == 0) return nullptr;
    bin.count.store(count - 1, std::memory_order_relaxed);
    Add(allocations, uint64_t{1});
    return bin.slots[count - 1];
  }
  // False when the class's stack is full.
  bool Put(unsigned cls, void* block) {
    Bin& bin = bins[cls];
    const unsigned count = bin.count.load(std::memory_order_relaxed);
    if (count == bin.limit) return false;
    bin.slots[count] = block;
    bin.count.store(count + 1, std::memory_order_relaxed);
    return true;
  }

  // Null once the pool has been destroyed. Set and cleared under
  // gCachesLock; read without it by the owning thread.
  std::atomic<AllocPool*> pool{nullptr};
  // The pool's list of caches, under gCachesLock.
  AllocThreadCache* prevInPool = nullptr;
  AllocThreadCache* nextInPool = nullptr;
  // The thread's list of caches, its own.
  AllocThreadCache* nextInThread = nullptr;
  std::atomic<uint64_t> allocations{0};
  Bin bins[Alloc::kPooledClasses];
  void* slots_[CacheSlots()];

  // Gives a thread's caches back to their pools and frees them.
  static void ReleaseAll(AllocThreadCache* first);

  // Only the owning thread adds, so a load and a store do.
  template <class T>
  static void Add(std::atomic<T>& counter, T delta) {
    counter.store(counter.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
  }
};

namespace {

// The calling thread's caches, most recently used pool first. Trivially
// destructible, so code running after the thread's exit handler (later
// thread_local destructors, static destructors on the main thread) still
// reads it safely and finds `ended` set.
struct ThreadCaches {
  AllocThreadCache* first = nullptr;
  bool ended = false;
};
constinit thread_local ThreadCaches tCaches;

// Registered for a thread when it makes its first cache: gives its caches
// back to their pools when the thread ends.
struct ThreadExit {
  ~ThreadExit();
};
thread_local ThreadExit tExit;

}  // namespace

constinit AllocPool::Lock AllocPool::gCachesLock;

inline AllocThreadCache* AllocPool::ThreadCache() {
  AllocThreadCache* first = tCaches.first;
  if (first != nullptr && first->pool.load(std::memory_order_relaxed) == this) return first;
  return FindThreadCache();
}

AllocThreadCache* AllocPool::FindThreadCache() {
  if (tCaches.ended) return nullptr;
  for (AllocThreadCache** link = &tCaches.first; *link != nullptr; link = &(*link)->nextInThread) {
    AllocThreadCache* cache = *link;
    if (cache->pool.load(std::memory_order_relaxed) == this) {
      *link = cache->nextInThread;
      cache->nextInThread = tCaches.first;
      tCaches.first = cache;
      return cache;
    }
  }
  auto* cache = new (std::nothrow) AllocThreadCache;
  if (cache == nullptr) return nullptr;
  (void)&tExit;  // the first use registers its destructor for this thread
  std::lock_guard<Lock> lock(gCachesLock);
  // Caches of pools destroyed since are dropped here.
  for (AllocThreadCache** link = &tCaches.first; *link != nullptr;) {
    AllocThreadCache* old = *link;
    if (old->pool.load(std::memory_order_relaxed) == nullptr) {
      *link = old->nextInThread;
      delete old;
    } else {
      link = &old->nextInThread;
    }
  }
  cache->pool.store(this, std::memory_order_relaxed);
  cache->nextInPool = caches_;
  if (caches_ != nullptr) caches_->prevInPool = cache;
  caches_ = cache;
  cache->nextInThread = tCaches.first;
  tCaches.first = cache;
  return cache;
}

ThreadExit::~ThreadExit() {
  AllocThreadCache* first = tCaches.first;
  tCaches.first = nullptr;
  tCaches.ended = true;
  AllocThreadCache::ReleaseAll(first);
}

void AllocThreadCache::ReleaseAll(AllocThreadCache* cache) {
  std::lock_guard<AllocPool::Lock> lock(AllocPool::gCachesLock);
  while (cache != nullptr) {
    AllocThreadCache* next = cache->nextInThread;
    if (AllocPool* pool = cache->pool.load(std::memory_order_relaxed)) {
      for (unsigned cls = 0; cls < Alloc::kPooledClasses; ++cls) {
        const unsigned count = cache->bins[cls].count.load(std::memory_order_relaxed);
        if (count != 0) pool->Spill(*cache, cls, count);
      }
      pool->endedCacheAllocations_.fetch_add(cache->allocations.load(std::memory_order_relaxed),
                                             std::memory_order_relaxed);
      if (cache->prevInPool != nullptr) cache->prevInPool->nextInPool = cache->nextInPool;
      else pool->caches_ = cache->nextInPool;
      if (cache->nextInPool != nullptr) cache->nextInPool->prevInPool = cache->prevInPool;
    }
    delete cache;
    cache = next;
  }
}

void AllocPool::Lock::LockSlow() {
  for (int spin = 0; spin < 100; ++spin) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    int expected = 0;
    if (state.load(std::memory_order_relaxed) == 0 &&
        state.compare_exchange_weak(expected, 1, std::memory_order_acquire))
      return;
  }
  while (state.exchange(2, std::memory_order_acquire) != 0) state.wait(2, std::memory_order_relaxed);
}

void* AllocPool::CHeapAlloc(std::size_t bytes) { return std::malloc(bytes); }
void AllocPool::CHeapFree(void* block) { std::free(block); }

void AllocPool::OutOfMemory() {
  std::fputs("Alloc::New> out of memory!\n", stderr);
  throw std::bad_alloc();
}

AllocPool::~AllocPool() {
  {
    // The caches hold page blocks only, which go back with the pages.
    std::lock_guard<Lock> lock(gCachesLock);
    for (AllocThreadCache* cache = caches_; cache != nullptr; cache = cache->nextInPool)
      cache->pool.store(nullptr, std::memory_order_relaxed);
    caches_ = nullptr;
  }
  for (unsigned cls = 0; cls < Alloc::kPooledClasses; ++cls) {
    ClassList& list = lists_[cls];
    for (void* block = list.head; block != nullptr;) {
      void* next = Link(block);
      if ((Header(block) & Alloc::kPageMark) == 0) heapFree_(RawOf(block));
      block = next;
    }
    for (void* page = list.pages; page != nullptr;) {
      void* next = *static_cast<void**>(page);
      heapFree_(page);
      page = next;
    }
  }
}

void* AllocPool::NewFromHeap(unsigned cls) {
  void* raw = heapAlloc_(Alloc::HeapBytes(cls, 1));
  if (raw == nullptr) OutOfMemory();
  heapBytes_.fetch_add(Alloc::ClassBytes(cls), std::memory_order_relaxed);
  void* block = static_cast<char*>(raw) + 2 * Alloc::kHeaderBytes;
  Header(block) = cls;
  return block;
}

void AllocPool::ReleaseToHeap(void* block, unsigned cls) {
  heapBytes_.fetch_sub(Alloc::ClassBytes(cls), std::memory_order_relaxed);
  heapFree_(RawOf(block));
}

// Called with the class's lock held and its list empty.
void AllocPool::CarvePage(unsigned cls, ClassList& list) {
  const unsigned blocks = static_cast<unsigned>(pageBytes_ / Alloc::ClassBytes(cls));
  const std::size_t stride = Alloc::BlockStride(cls);
  char* page = static_cast<char*>(heapAlloc_(Alloc::HeapBytes(cls, blocks)));
  if (page == nullptr) OutOfMemory();
  *reinterpret_cast<void**>(page) = list.pages;
  list.pages = page;
  // Pushed from the end so the page is handed out in address order.
  char* first = page + 2 * Alloc::kHeaderBytes;
  for (unsigned i = blocks; i-- > 0;) {
    void* block = first + i * stride;
    Header(block) = cls | Alloc::kPageMark;
    Link(block) = list.head;
    list.head = block;
  }
  list.freeCount += blocks;
}

bool AllocPool::Refill(AllocThreadCache& cache, unsigned cls) {
  if (Alloc::ClassBytes(cls) > pageBytes_ / 16) return false;
  AllocThreadCache::Bin& bin = cache.bins[cls];
  ClassList& list = lists_[cls];
  std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
  if (list.head == nullptr) CarvePage(cls, list);
  // The list's first block goes on top.
  const unsigned count = std::min(CacheBatch(cls), list.freeCount);
  void* block = list.head;
  for (unsigned i = count; i-- > 0;) {
    bin.slots[i] = block;
    block = Link(block);
  }
  list.head = block;
  list.freeCount -= count;
  bin.count.store(count, std::memory_order_relaxed);
  return true;
}

void AllocPool::Spill(AllocThreadCache& cache, unsigned cls, unsigned count) {
  AllocThreadCache::Bin& bin = cache.bins[cls];
  // The oldest go, chained in address order: whoever takes them next gets
  // neighbouring blocks, not a scatter over every page a thread once used.
  void** slots = bin.slots;
  std::sort(slots, slots + count, std::greater<void*>());
  for (unsigned i = 1; i < count; ++i) Link(slots[i]) = slots[i - 1];
  const unsigned left = bin.count.load(std::memory_order_relaxed) - count;
  {
    ClassList& list = lists_[cls];
    std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
    Link(slots[0]) = list.head;
    list.head = slots[count - 1];
    list.freeCount += count;
  }
  std::copy(slots + count, slots + count + left, slots);
  bin.count.store(left, std::memory_order_relaxed);
}

// The fast paths: a block from or to the calling thread's cache, no lock.
void* AllocPool::New(unsigned int size) {
  const unsigned cls = Alloc::SizeClass(size);
  AllocThreadCache* cache = tCaches.first;
  if (Alloc::IsPooled(cls) && cache != nullptr && cache->pool.load(std::memory_order_relaxed) == this) [[likely]] {
    if (void* block = cache->Take(cls)) [[likely]]
      return block;
  }
  return NewSlow(cls);
}

void* AllocPool::NewSlow(unsigned cls) {
  if (!Alloc::IsPooled(cls)) {
    heapAllocations_.fetch_add(1, std::memory_order_relaxed);
    return NewFromHeap(cls);
  }
  if (AllocThreadCache* cache = ThreadCache()) {
    if (void* block = cache->Take(cls)) return block;
    if (Refill(*cache, cls)) return cache->Take(cls);
  }
  return NewShared(cls);
}

void* AllocPool::NewShared(unsigned cls) {
  ClassList& list = lists_[cls];
  {
    std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
    if (list.head == nullptr && Alloc::ClassBytes(cls) <= pageBytes_ / 16) CarvePage(cls, list);
    if (void* block = list.head) {
      list.head = Link(block);
      --list.freeCount;
      list.poolAllocations.fetch_add(1, std::memory_order_relaxed);
      return block;
    }
  }
  heapFallbacks_.fetch_add(1, std::memory_order_relaxed);
  return NewFromHeap(cls);
}

void AllocPool::Delete(void* block) {
  if (block == nullptr) return;
  const uintptr_t header = Header(block);
  const unsigned cls = static_cast<unsigned>(header & ~Alloc::kPageMark);
  AllocThreadCache* cache = tCaches.first;
  if ((header & Alloc::kPageMark) != 0 && Alloc::IsPooled(cls) && cache != nullptr &&
      cache->pool.load(std::memory_order_relaxed) == this) [[likely]] {
    if (cache->Put(cls, block)) [[likely]]
      return;
  }
  DeleteSlow(block, header, cls);
}

void AllocPool::DeleteSlow(void* block, uintptr_t header, unsigned cls) {
  if (!Alloc::IsPooled(cls)) {
    ReleaseToHeap(block, cls);
    return;
  }
  // Heap blocks of pooled classes bypass the caches, so that the retention
  // limit holds for them.
  if ((header & Alloc::kPageMark) != 0) {
    if (AllocThreadCache* cache = ThreadCache()) {
      if (!cache->Put(cls, block)) {
        Spill(*cache, cls, CacheBatch(cls));
        cache->Put(cls, block);
      }
      return;
    }
  }
  DeleteShared(block, header, cls);
}

void AllocPool::DeleteShared(void* block, uintptr_t header, unsigned cls) {
  ClassList& list = lists_[cls];
  {
    std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
    if ((header & Alloc::kPageMark) != 0 || list.freeCount < Alloc::RetentionLimit(cls)) {
      Link(block) = list.head;
      list.head = block;
      ++list.freeCount;
      return;
    }
  }
  ReleaseToHeap(block, cls);
}

AllocPool::Stats AllocPool::GetStats() const {
  Stats stats;
  {
    std::lock_guard<Lock> lock(gCachesLock);
    for (const AllocThreadCache* cache = caches_; cache != nullptr; cache = cache->nextInPool)
      stats.poolAllocations += cache->allocations.load(std::memory_order_relaxed);
  }
  stats.poolAllocations += endedCacheAllocations_.load(std::memory_order_relaxed);
  stats.heapBytes = heapBytes_.load(std::memory_order_relaxed);
  stats.heapAllocations = heapAllocations_.load(std::memory_order_relaxed);
  stats.heapFallbacks = heapFallbacks_.load(std::memory_order_relaxed);
  for (const ClassList& list : lists_) stats.poolAllocations += list.poolAllocations.load(std::memory_order_relaxed);
  return stats;
}

unsigned AllocPool::FreeCount(unsigned cls) const {
  if (!Alloc::IsPooled(cls)) return 0;
  std::lock_guard<Lock> cachesLock(gCachesLock);
  unsigned count = 0;
  for (const AllocThreadCache* cache = caches_; cache != nullptr; cache = cache->nextInPool)
    count += cache->bins[cls].count.load(std::memory_order_relaxed);
  std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
  return count + lists_[cls].freeCount;
}

unsigned AllocPool::ClassOf(const void* block) {
  return static_cast<unsigned>(static_cast<const uintptr_t*>(block)[-1] & ~Alloc::kPageMark);
}

bool AllocPool::IsCarved(const void* block) {
  return (static_cast<const uintptr_t*>(block)[-1] & Alloc::kPageMark) != 0;
}

}  // namespace Vak
