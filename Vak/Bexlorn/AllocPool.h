#pragma once
// The pool behind Vak::Alloc: per-class free lists, 16 locks, page carving and
// statistics. Vak::Alloc uses one constant-initialised instance; tests make
// their own, with an injected heap and, to reach the heap fall-back of pooled
// classes, smaller pages.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/Alloc.h"

namespace Vak {

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
  // handed out must not be used afterwards. The global pool is never destroyed.
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
  // Free blocks on a pooled class's list.
  unsigned FreeCount(unsigned cls) const;
  // Class and page mark of a block handed out by any pool.
  static unsigned ClassOf(const void* block);
  static bool IsCarved(const void* block);

private:
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
};

} // namespace Vak
