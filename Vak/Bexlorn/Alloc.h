#pragma once
// The kernel's pooled allocator: small blocks from per-class free lists carved
// out of 32 KB pages, larger ones from the C heap. A one-word header in front
// of every block records its class, so Delete needs no size.
//
// Classes count 8-byte units: a request of n bytes is class (n + 11) / 8 (the
// n bytes plus a 4-byte header, rounded up to a unit), n == 0 is class 1.
// Classes 0..127 are pooled, the rest come from the heap. Retention limits and
// the number of blocks per page follow from that arithmetic.
//
// Memory on x86_64: the header is a pointer-sized word and every caller
// pointer is 16-byte aligned, so a block really takes BlockStride(cls) bytes:
// the 8-byte header plus room for the largest request of the class (8*cls - 4),
// rounded up to 16. Blocks of a page sit back to back at that stride; the first
// header starts 8 bytes into the page (the page's first word links the pool's
// pages), so headers sit at 8 mod 16 and caller pointers at 0 mod 16. A heap
// block has the same shape with one block. The header holds the class in its
// low bits and kPageMark for a block carved from a page.
//
// Each thread keeps a small cache of page blocks per class in front of the
// shared lists, so most requests and releases take no lock (AllocPool.h).
//
// With VAK_ALLOC_PASSTHROUGH the global New/Delete go straight to malloc/free
// (the sanitizer build); the pool itself (AllocPool.h) is always built.
#include <cstddef>
#include <cstdint>

namespace Vak {

class Alloc {
public:
  // Never returns null: out of memory writes "Alloc::New> out of memory!\n" to
  // stderr and throws std::bad_alloc.
  static void* New(unsigned int size);
  // Takes back a block New handed out; null does nothing.
  static void Delete(void* block);
  // The pool is constant-initialised, so it is ready before any static
  // initialiser runs; Init is kept for the start-up sequence and does nothing.
  static void Init();

  static constexpr unsigned kUnit = 8;
  static constexpr unsigned kPooledClasses = 128;  // classes 0..127
  static constexpr unsigned kPageBytes = 32768;
  static constexpr unsigned kLocks = 16;
  // Largest block a page is carved into (a page holds at least 16 blocks).
  static constexpr unsigned kMaxCarvedBytes = kPageBytes / 16;

  // Class of a request: (n + 11) / 8, and 1 for n == 0. Computed wide so that
  // requests near 4 GB do not wrap into a small class.
  static constexpr unsigned SizeClass(unsigned n) {
    return n == 0 ? 1u : static_cast<unsigned>((uint64_t{n} + 11u) / kUnit);
  }
  // Block bytes of a class by the unit arithmetic (4-byte header included).
  static constexpr uint64_t ClassBytes(unsigned cls) { return uint64_t{cls} * kUnit; }
  static constexpr bool IsPooled(unsigned cls) { return cls < kPooledClasses; }
  // Free blocks a class keeps before heap blocks go back to the heap.
  static constexpr unsigned RetentionLimit(unsigned cls) {
    return cls == 0 ? 1u
         : cls == 2 ? 8192u
         : cls == 3 ? 5461u
         : cls == 4 ? 4096u
         : 8192u / (kUnit * cls) + 1u;
  }
  // Blocks carved from one page of a pooled class.
  static constexpr unsigned PageBlocks(unsigned cls) {
    return static_cast<unsigned>(kPageBytes / ClassBytes(cls));
  }
  static constexpr unsigned LockOf(unsigned cls) { return cls % kLocks; }

  // Physical layout (see the comment at the top).
  static constexpr std::size_t kHeaderBytes = sizeof(void*);
  static constexpr std::size_t kAlign = 16;
  static constexpr uintptr_t kPageMark = uintptr_t{1} << (sizeof(uintptr_t) * 8 - 1);
  static constexpr std::size_t BlockStride(unsigned cls) {
    return static_cast<std::size_t>((ClassBytes(cls) + 4 + kAlign - 1) & ~uint64_t{kAlign - 1});
  }
  // Bytes a caller may use in a block of the class.
  static constexpr std::size_t Capacity(unsigned cls) { return BlockStride(cls) - kHeaderBytes; }
  // Bytes asked of the heap for `blocks` blocks of a class (a page, or 1 for a
  // heap block): one leading word, then the blocks.
  static constexpr std::size_t HeapBytes(unsigned cls, std::size_t blocks) {
    return kHeaderBytes + blocks * BlockStride(cls);
  }
};

} // namespace Vak
