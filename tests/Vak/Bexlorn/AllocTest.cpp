#include "Vak/Bexlorn/Alloc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <climits>
#include <latch>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/AllocPool.h"

namespace {

using Vak::Alloc;
using Vak::AllocPool;

// A heap that counts what the pool asks of it and can be made to fail.
struct HeapLog {
  std::atomic<int> allocs{0};
  std::atomic<int> frees{0};
  std::atomic<std::size_t> lastBytes{0};
  std::atomic<bool> fail{false};
};
HeapLog gHeap;

void* CountingAlloc(std::size_t bytes) {
  if (gHeap.fail) return nullptr;
  ++gHeap.allocs;
  gHeap.lastBytes = bytes;
  return std::malloc(bytes);
}
void CountingFree(void* block) {
  ++gHeap.frees;
  std::free(block);
}

class AllocPoolTest : public ::testing::Test {
protected:
  void SetUp() override {
    gHeap.allocs = 0;
    gHeap.frees = 0;
    gHeap.fail = false;
  }
};

bool Aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % Alloc::kAlign == 0; }

// Takes every block of a class's first page on the calling thread: none may be
// missing from the pool (held by a thread that has ended, say), so no second
// page is carved.
void TakeThePageAndGiveItBack(AllocPool& pool, unsigned request) {
  const int pagesBefore = gHeap.allocs;
  const unsigned cls = Alloc::SizeClass(request);
  EXPECT_EQ(pool.FreeCount(cls), Alloc::PageBlocks(cls));
  std::vector<void*> held;
  for (unsigned i = 0; i < Alloc::PageBlocks(cls); ++i) held.push_back(pool.New(request));
  EXPECT_EQ(gHeap.allocs, pagesBefore);
  EXPECT_EQ(pool.FreeCount(cls), 0u);
  for (void* p : held) pool.Delete(p);
}

TEST(AllocSizes, ClassOfRequest) {
  struct Case {
    unsigned request;
    unsigned cls;
    bool pooled;
  };
  const Case cases[] = {
      {0, 1, true},      {4, 1, true},      {5, 2, true},       {12, 2, true},
      {13, 3, true},     {1012, 127, true}, {1013, 128, false}, {4096, 513, false},
      // Near 4 GB the class must not wrap into a small one.
      {UINT_MAX, 536870913u, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(Alloc::SizeClass(c.request), c.cls);
    EXPECT_EQ(Alloc::IsPooled(Alloc::SizeClass(c.request)), c.pooled);
  }
  EXPECT_EQ(Alloc::ClassBytes(1), 8u);
  EXPECT_EQ(Alloc::ClassBytes(2), 16u);
  EXPECT_EQ(Alloc::ClassBytes(536870913u), 4294967304ull);
}

TEST(AllocSizes, PhysicalBlocksHoldEveryRequestAligned) {
  for (unsigned n = 0; n <= 1100; ++n) {
    const unsigned cls = Alloc::SizeClass(n);
    ASSERT_GE(Alloc::Capacity(cls), n) << n;
    ASSERT_EQ(Alloc::BlockStride(cls) % Alloc::kAlign, 0u) << n;
  }
  EXPECT_EQ(Alloc::BlockStride(1), 16u);
  EXPECT_EQ(Alloc::BlockStride(2), 32u);
  EXPECT_EQ(Alloc::BlockStride(127), 1024u);
  EXPECT_EQ(Alloc::HeapBytes(2, 2048), 8u + 2048u * 32u);
}

TEST(AllocSizes, LimitsPagesAndLocks) {
  struct Case {
    unsigned cls;
    unsigned retention;
    unsigned pageBlocks;
  };
  const Case cases[] = {
      {1, 1025, 4096}, {2, 8192, 2048}, {3, 5461, 1365}, {4, 4096, 1024},
      {5, 205, 819},   {64, 17, 64},    {127, 9, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cls);
    EXPECT_EQ(Alloc::RetentionLimit(c.cls), c.retention);
    EXPECT_EQ(Alloc::PageBlocks(c.cls), c.pageBlocks);
  }
  EXPECT_EQ(Alloc::RetentionLimit(0), 1u);
  EXPECT_EQ(Alloc::LockOf(1), 1u);
  EXPECT_EQ(Alloc::LockOf(17), 1u);
  EXPECT_EQ(Alloc::LockOf(127), 15u);
  EXPECT_LE(Alloc::ClassBytes(127), Alloc::kMaxCarvedBytes);  // every pooled class is carved
}

TEST_F(AllocPoolTest, SmallAndLargeRequestsFindTheirClass) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  struct Case {
    unsigned request;
    unsigned cls;
    bool carved;
  };
  const Case cases[] = {{0, 1, true}, {4, 1, true}, {5, 2, true}, {1012, 127, true}, {1013, 128, false}};
  std::vector<void*> blocks;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    void* p = pool.New(c.request);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(Aligned(p));
    EXPECT_EQ(AllocPool::ClassOf(p), c.cls);
    EXPECT_EQ(AllocPool::IsCarved(p), c.carved);
    std::memset(p, 0xAB, c.request);
    blocks.push_back(p);
  }
  AllocPool::Stats stats = pool.GetStats();
  EXPECT_EQ(stats.heapAllocations, 1u);
  EXPECT_EQ(stats.heapBytes, Alloc::ClassBytes(128));
  EXPECT_EQ(stats.poolAllocations, 4u);
  EXPECT_EQ(stats.heapFallbacks, 0u);
  EXPECT_EQ(gHeap.allocs, 4);  // pages for classes 1, 2, 127 and the heap block

  for (void* p : blocks) pool.Delete(p);
  EXPECT_EQ(pool.GetStats().heapBytes, 0u);
  EXPECT_EQ(gHeap.frees, 1);  // only the class-128 block; pages stay
  pool.Delete(nullptr);
}

TEST_F(AllocPoolTest, FirstRequestCarvesAPageAndTheNextPageWhenItRunsOut) {
  {
    AllocPool pool(&CountingAlloc, &CountingFree);
    std::vector<void*> blocks;
    void* first = pool.New(16 - 4);
    blocks.push_back(first);
    EXPECT_EQ(gHeap.allocs, 1);
    EXPECT_EQ(gHeap.lastBytes, Alloc::HeapBytes(2, 2048));
    EXPECT_EQ(pool.FreeCount(2), 2047u);
    for (int i = 1; i < 2048; ++i) blocks.push_back(pool.New(5));
    EXPECT_EQ(gHeap.allocs, 1);
    EXPECT_EQ(pool.FreeCount(2), 0u);

    blocks.push_back(pool.New(9));  // the 2049th
    EXPECT_EQ(gHeap.allocs, 2);
    EXPECT_EQ(pool.FreeCount(2), 2047u);

    // No block handed out twice, none overlapping another.
    std::vector<uintptr_t> sorted;
    for (void* p : blocks) sorted.push_back(reinterpret_cast<uintptr_t>(p));
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 1; i < sorted.size(); ++i) ASSERT_GE(sorted[i] - sorted[i - 1], Alloc::BlockStride(2));

    for (void* p : blocks) pool.Delete(p);
    EXPECT_EQ(pool.FreeCount(2), 4096u);
    EXPECT_EQ(gHeap.frees, 0);
  }
  EXPECT_EQ(gHeap.frees, 2);  // the pool's pages go back when it is destroyed
}

TEST_F(AllocPoolTest, FreedBlocksComeBackLastInFirstOut) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  void* a = pool.New(20);
  void* b = pool.New(20);
  void* other = pool.New(100);
  pool.Delete(a);
  pool.Delete(other);
  pool.Delete(b);
  EXPECT_EQ(pool.New(20), b);
  EXPECT_EQ(pool.New(20), a);
  EXPECT_EQ(pool.New(100), other);
}

TEST_F(AllocPoolTest, PageBlocksStayPooledBeyondTheRetentionLimit) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  std::vector<void*> blocks;
  for (int i = 0; i < 40; ++i) blocks.push_back(pool.New(1012));  // class 127: 32 per page, limit 9
  EXPECT_EQ(gHeap.allocs, 2);
  for (void* p : blocks) pool.Delete(p);
  EXPECT_EQ(pool.FreeCount(127), 64u);
  EXPECT_EQ(gHeap.frees, 0);
}

TEST_F(AllocPoolTest, HeapBlocksOfPooledClassesAreKeptUpToTheRetentionLimit) {
  // With 4 KB pages, blocks above 256 bytes are not carved: class 100 falls
  // back to the heap.
  AllocPool pool(&CountingAlloc, &CountingFree, 4096);
  const unsigned request = 790;
  ASSERT_EQ(Alloc::SizeClass(request), 100u);
  const unsigned limit = Alloc::RetentionLimit(100);
  ASSERT_EQ(limit, 11u);

  std::vector<void*> blocks;
  for (unsigned i = 0; i < limit + 1; ++i) {
    blocks.push_back(pool.New(request));
    EXPECT_FALSE(AllocPool::IsCarved(blocks.back()));
    EXPECT_TRUE(Aligned(blocks.back()));
  }
  EXPECT_EQ(pool.GetStats().heapFallbacks, limit + 1);
  EXPECT_EQ(gHeap.allocs, static_cast<int>(limit + 1));

  for (void* p : blocks) pool.Delete(p);
  EXPECT_EQ(pool.FreeCount(100), limit);
  EXPECT_EQ(gHeap.frees, 1);  // the one beyond the limit
  EXPECT_EQ(pool.GetStats().heapBytes, limit * Alloc::ClassBytes(100));

  // A kept block is handed out again before the heap is asked.
  void* again = pool.New(request);
  EXPECT_EQ(again, blocks[limit - 1]);
  EXPECT_EQ(gHeap.allocs, static_cast<int>(limit + 1));
  EXPECT_EQ(pool.GetStats().poolAllocations, 1u);
  pool.Delete(again);
  // Small classes are still carved from the small pages.
  void* small = pool.New(8);
  EXPECT_TRUE(AllocPool::IsCarved(small));
  pool.Delete(small);
}

TEST_F(AllocPoolTest, HeapExhaustionReportsAndThrows) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  void* kept = pool.New(24);
  gHeap.fail = true;
  for (unsigned request : {8u, 4000u}) {  // a new page, a heap block
    SCOPED_TRACE(request);
    testing::internal::CaptureStderr();
    EXPECT_THROW(pool.New(request), std::bad_alloc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Alloc::New> out of memory!\n");
  }
  // A class with free blocks does not need the heap; the class whose page
  // failed works once memory is back.
  void* same = pool.New(24);
  EXPECT_NE(same, nullptr);
  gHeap.fail = false;
  void* later = pool.New(8);
  EXPECT_TRUE(AllocPool::IsCarved(later));
  pool.Delete(later);
  pool.Delete(same);
  pool.Delete(kept);
  EXPECT_EQ(pool.GetStats().heapBytes, 0u);
}

TEST_F(AllocPoolTest, ThreadsSharingClassesAndLocksNeverShareABlock) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  constexpr int kThreads = 8;
  constexpr int kRounds = 4000;
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Sizes of classes 16 apart share a lock; 1100 is a heap block.
      const unsigned sizes[] = {4, 12, 124, 132, 1012, 1100};
      std::vector<std::pair<unsigned char*, unsigned>> live;
      for (int i = 0; i < kRounds; ++i) {
        const unsigned size = sizes[(i + t) % 6];
        auto* p = static_cast<unsigned char*>(pool.New(size));
        const unsigned char mark = static_cast<unsigned char>(t * 31 + i);
        std::memset(p, mark, size);
        live.emplace_back(p, size);
        if (live.size() > 16) {
          auto [q, n] = live[(i * 7) % live.size()];
          const unsigned char expect = q[0];
          for (unsigned k = 0; k < n; ++k)
            if (q[k] != expect) ++faults;
          pool.Delete(q);
          live.erase(live.begin() + (i * 7) % live.size());
        }
      }
      for (auto [q, n] : live) pool.Delete(q);
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(pool.GetStats().heapBytes, 0u);
}

TEST_F(AllocPoolTest, ABlockFreedOnAnotherThreadIsReusedThere) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  void* block = pool.New(40);
  void* again = nullptr;
  std::thread([&] {
    pool.Delete(block);
    again = pool.New(40);
    pool.Delete(again);
  }).join();
  EXPECT_EQ(again, block);
  EXPECT_EQ(pool.GetStats().poolAllocations, 2u);
  TakeThePageAndGiveItBack(pool, 40);
}

TEST_F(AllocPoolTest, BlocksPassedBetweenThreadsMoveThroughTheSharedListsIntact) {
  // Each thread frees what its neighbour allocated, so caches overflow on one
  // side and run dry on the other every round.
  AllocPool pool(&CountingAlloc, &CountingFree);
  constexpr unsigned kThreads = 4, kRounds = 30, kBlocks = 400;
  const unsigned sizes[] = {4, 20, 120, 1012};
  std::vector<std::vector<unsigned char*>> made(kThreads);
  std::barrier sync(kThreads);
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned round = 0; round < kRounds; ++round) {
        const unsigned char mark = static_cast<unsigned char>(t * kRounds + round);
        for (unsigned i = 0; i < kBlocks; ++i) {
          const unsigned size = sizes[i % 4];
          auto* p = static_cast<unsigned char*>(pool.New(size));
          std::memset(p, mark, size);
          made[t].push_back(p);
        }
        sync.arrive_and_wait();
        const unsigned from = (t + 1) % kThreads;
        const unsigned char expect = static_cast<unsigned char>(from * kRounds + round);
        for (std::size_t i = 0; i < made[from].size(); ++i) {
          const unsigned size = sizes[i % 4];
          for (unsigned k = 0; k < size; ++k)
            if (made[from][i][k] != expect) ++faults;
          pool.Delete(made[from][i]);
        }
        sync.arrive_and_wait();
        made[from].clear();
        sync.arrive_and_wait();
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(faults, 0);
  // Every block is free again and none counted twice: whole pages.
  for (unsigned size : sizes) {
    const unsigned cls = Alloc::SizeClass(size);
    SCOPED_TRACE(size);
    EXPECT_GT(pool.FreeCount(cls), 0u);
    EXPECT_EQ(pool.FreeCount(cls) % Alloc::PageBlocks(cls), 0u);
  }
  EXPECT_EQ(pool.GetStats().poolAllocations, uint64_t{kThreads} * kRounds * kBlocks);
}

TEST_F(AllocPoolTest, AnEndingThreadGivesItsCachedBlocksBack) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  const unsigned request = 100;
  const unsigned cls = Alloc::SizeClass(request);
  const unsigned blocks = Alloc::PageBlocks(cls);
  std::latch freed(1), done(1);
  std::thread thread([&] {
    std::vector<void*> held;
    for (unsigned i = 0; i < blocks; ++i) held.push_back(pool.New(request));
    for (void* p : held) pool.Delete(p);
    freed.count_down();
    done.wait();
  });
  freed.wait();
  // Blocks in a living thread's cache are free blocks of the pool.
  EXPECT_EQ(pool.FreeCount(cls), blocks);
  done.count_down();
  thread.join();
  EXPECT_EQ(pool.GetStats().poolAllocations, blocks);
  TakeThePageAndGiveItBack(pool, request);
  EXPECT_EQ(gHeap.allocs, 1);
}

TEST_F(AllocPoolTest, AThreadOutlivingItsPoolLetsGoOfItsCache) {
  alignas(AllocPool) unsigned char storage[sizeof(AllocPool)];
  auto* pool = new (storage) AllocPool(&CountingAlloc, &CountingFree);
  std::latch used(1), replaced(1);
  void* fromNewPool = nullptr;
  std::thread thread([&] {
    pool->Delete(pool->New(24));
    used.count_down();
    replaced.wait();
    // A new pool in the same place must not find the old pool's cache.
    fromNewPool = pool->New(24);
    pool->Delete(fromNewPool);
  });
  used.wait();
  pool->~AllocPool();
  EXPECT_EQ(gHeap.frees, 1);
  pool = new (storage) AllocPool(&CountingAlloc, &CountingFree);
  replaced.count_down();
  thread.join();
  EXPECT_EQ(gHeap.allocs, 2);
  TakeThePageAndGiveItBack(*pool, 24);
  pool->~AllocPool();
  EXPECT_EQ(gHeap.frees, 2);
}

// Runs the pool at thread exit, after the pool's own exit handler when it is
// made before the thread's first request.
struct LateUser {
  AllocPool* pool = nullptr;
  ~LateUser() {
    if (pool != nullptr) pool->Delete(pool->New(200));
  }
};
thread_local LateUser tLateUser;

TEST_F(AllocPoolTest, ThreadExitCodeRunningAfterTheCacheIsGoneStillAllocates) {
  AllocPool pool(&CountingAlloc, &CountingFree);
  std::thread([&] {
    tLateUser.pool = &pool;
    pool.Delete(pool.New(200));
  }).join();
  EXPECT_EQ(pool.GetStats().poolAllocations, 2u);
  TakeThePageAndGiveItBack(pool, 200);
  EXPECT_EQ(gHeap.allocs, 1);
}

// The global allocator is usable from static initialisers of other files.
struct EarlyUser {
  void* block = Alloc::New(40);
};
EarlyUser gEarly;

TEST(Alloc, GlobalNewAndDelete) {
  ASSERT_NE(gEarly.block, nullptr);
  Alloc::Delete(gEarly.block);
  Alloc::Init();
  for (unsigned request : {0u, 4u, 5u, 100u, 1012u, 1013u, 70000u}) {
    SCOPED_TRACE(request);
    void* p = Alloc::New(request);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(Aligned(p));
    std::memset(p, 0x5A, request);
    Alloc::Delete(p);
  }
  Alloc::Delete(nullptr);
}

}  // namespace
