#include "Vak/Bexlorn/AllocPool.h"

#include <cstdio>
#include <cstdlib>
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

}  // namespace

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

void* AllocPool::New(unsigned int size) {
  const unsigned cls = Alloc::SizeClass(size);
  if (!Alloc::IsPooled(cls)) {
    heapAllocations_.fetch_add(1, std::memory_order_relaxed);
    return NewFromHeap(cls);
  }
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
  if (!Alloc::IsPooled(cls)) {
    ReleaseToHeap(block, cls);
    return;
  }
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
  stats.heapBytes = heapBytes_.load(std::memory_order_relaxed);
  stats.heapAllocations = heapAllocations_.load(std::memory_order_relaxed);
  stats.heapFallbacks = heapFallbacks_.load(std::memory_order_relaxed);
  for (const ClassList& list : lists_) stats.poolAllocations += list.poolAllocations.load(std::memory_order_relaxed);
  return stats;
}

unsigned AllocPool::FreeCount(unsigned cls) const {
  if (!Alloc::IsPooled(cls)) return 0;
  std::lock_guard<Lock> lock(locks_[Alloc::LockOf(cls)]);
  return lists_[cls].freeCount;
}

unsigned AllocPool::ClassOf(const void* block) {
  return static_cast<unsigned>(static_cast<const uintptr_t*>(block)[-1] & ~Alloc::kPageMark);
}

bool AllocPool::IsCarved(const void* block) {
  return (static_cast<const uintptr_t*>(block)[-1] & Alloc::kPageMark) != 0;
}

}  // namespace Vak
