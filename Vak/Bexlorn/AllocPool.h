#pragma once
// The pool behind Vak::Alloc: per-class free lists, 16 locks, page carving and
// statistics. Vak::Alloc uses one constant-initialised instance; tests make
// their own, with an injected heap and, to reach the heap fall-back of pooled
// classes, smaller pages.
//
// In front of the shared lists each thread keeps a small cache of page blocks
// per class, so most requests take no lock: a thread takes blocks from its
// cache newest first, refills it with a batch from the shared list (carving a
// page only when that list is empty) and hands a batch back when the cache is
// full. A thread's caches go back to the shared lists when the thread ends.
// Heap blocks of pooled classes (pages too small to carve them) bypass the
// caches, so the retention limits still apply to them.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/Alloc.h"

namespace Vak {

class AllocThreadCache;

class AllocPool {
public:
  using HeapAllocFn = void* (*)(std::size_t bytes);
  using HeapFreeFn = void (*)(void* block);

  // The C heap. Must return memory aligned for std::max_align_t (16 bytes).
  static void* CHeapAlloc(std::size_t bytes);
  static void CHeapFree(void* block);

  // pageBytes: size of a page before carving; classes whose blocks exceed
  // pageBytes / 16 are served from the heap.
  constexpr AllocPool(HeapAllocFn heapAlloc = &CHeapAlloc, HeapFreeFn heapFree = &CHeapFree,
                      unsigned pageBytes = Alloc::kPageBytes)
      : heapAlloc_(heapAlloc), heapFree_(heapFree), pageBytes_(pageBytes) {}
  // Gives back the pages and the blocks held on the free lists; blocks still
  // handed out must not be used afterwards, and no other thread may be using
  // the pool. Threads that still hold a cache of it let go of the cache. The
  // global pool is never destroyed.
  ~AllocPool();
  AllocPool(const AllocPool&) = delete;
  AllocPool& operator=(const AllocPool&) = delete;

  void* New(unsigned int size);
  void Delete(void* block);

  // Writes the out-of-memory message to stderr and throws std::bad_alloc.
  [[noreturn]] static void OutOfMemory();

  // Diagnostics.
  struct Stats {
    uint64_t heapBytes = 0;         // bytes (by class arithmetic) held in heap blocks
    uint64_t poolAllocations = 0;   // requests served from a free list
    uint64_t heapAllocations = 0;   // requests of class 128 and above
    uint64_t heapFallbacks = 0;     // pooled requests served from the heap
  };
  Stats GetStats() const;
  // Free blocks of a pooled class: on its shared list and in the threads' caches.
  unsigned FreeCount(unsigned cls) const;
  // Page blocks a thread keeps of a class; a full cache hands half of them
  // back to the shared list, an empty one takes up to half from it.
  static constexpr unsigned CacheLimit(unsigned cls) {
    const uint64_t blocks = kCacheBytes / Alloc::ClassBytes(cls == 0 ? 1 : cls);
    return blocks < kCacheMin ? kCacheMin : blocks > kCacheMax ? kCacheMax : static_cast<unsigned>(blocks);
  }
  static constexpr unsigned CacheBatch(unsigned cls) { return CacheLimit(cls) / 2; }
  // Class and page mark of a block handed out by any pool.
  static unsigned ClassOf(const void* block);
  static bool IsCarved(const void* block);

private:
  friend class AllocThreadCache;
  static constexpr uint64_t kCacheBytes = 16384;
  static constexpr unsigned kCacheMin = 16;
  static constexpr unsigned kCacheMax = 256;

  // Each on its own cache line: threads working on different classes must not
  // bounce each other's lines.
  struct alignas(64) ClassList {
    void* head = nullptr;  // caller pointer of the newest free block
    unsigned freeCount = 0;
    void* pages = nullptr;  // pages carved for the class, linked through their first word
    std::atomic<uint64_t> poolAllocations{0};
  };
  // Held for a list operation only, so it is cheaper than std::mutex: one
  // compare-exchange when free, a short spin, then a sleep on the word (as a
  // critical section with a spin count does).
  struct alignas(64) Lock {
    std::atomic<int> state{0};  // 0 free, 1 held, 2 held and someone may sleep
    void lock() {
      int expected = 0;
      if (!state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) LockSlow();
    }
    void unlock() {
      if (state.exchange(0, std::memory_order_release) == 2) state.notify_one();
    }
    void LockSlow();
  };

  // The calling thread's cache of this pool; null when the thread has ended
  // (late thread-exit code) or the cache could not be made.
  AllocThreadCache* ThreadCache();
  AllocThreadCache* FindThreadCache();
  // Fills an empty cache stack of a carved class from the shared list; false
  // for a class that is not carved.
  bool Refill(AllocThreadCache& cache, unsigned cls);
  // Moves the `count` oldest blocks of a cache stack to the shared list.
  void Spill(AllocThreadCache& cache, unsigned cls, unsigned count);
  void* NewSlow(unsigned cls);
  void DeleteSlow(void* block, uintptr_t header, unsigned cls);
  void* NewShared(unsigned cls);
  void DeleteShared(void* block, uintptr_t header, unsigned cls);
  void* NewFromHeap(unsigned cls);
  void ReleaseToHeap(void* block, unsigned cls);
  void CarvePage(unsigned cls, ClassList& list);

  HeapAllocFn heapAlloc_;
  HeapFreeFn heapFree_;
  unsigned pageBytes_;
  ClassList lists_[Alloc::kPooledClasses];
  mutable Lock locks_[Alloc::kLocks];
  std::atomic<uint64_t> heapBytes_{0};
  std::atomic<uint64_t> heapAllocations_{0};
  std::atomic<uint64_t> heapFallbacks_{0};
  // Requests served by caches of threads that have ended.
  std::atomic<uint64_t> endedCacheAllocations_{0};
  // The threads' caches of this pool, under gCachesLock.
  AllocThreadCache* caches_ = nullptr;

  // Guards every pool's cache list and the caches' pool links; taken before a
  // class lock, never after.
  static Lock gCachesLock;
};

} // namespace Vak
