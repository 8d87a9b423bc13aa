#include "Vak/Bexlorn/Alloc.h"

#include <cstdlib>

#include "Vak/Bexlorn/AllocPool.h"

namespace Vak {

#if VAK_ALLOC_PASSTHROUGH

void* Alloc::New(unsigned int size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) AllocPool::OutOfMemory();
  return block;
}

void Alloc::Delete(void* block) { std::free(block); }

void Alloc::Init() {}

#else

namespace {

// Constant-initialised, so usable from any static initialiser whatever the
// order, and never destroyed, so usable from any static destructor too.
union GlobalPool {
  constexpr GlobalPool() : pool() {}
  ~GlobalPool() {}
  AllocPool pool;
};
constinit GlobalPool gPool;

}  // namespace

void* Alloc::New(unsigned int size) { return gPool.pool.New(size); }

void Alloc::Delete(void* block) { gPool.pool.Delete(block); }

void Alloc::Init() {}

#endif

}  // namespace Vak
