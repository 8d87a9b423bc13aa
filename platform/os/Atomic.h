#pragma once
// Interlocked operations on plain 32-bit words, for counters that live inside
// raw memory blocks (string blocks, shared headers). Sequentially consistent,
// as the interlocked calls they stand in for.
#include <atomic>
#include <cstdint>

namespace platform {

inline int32_t AtomicIncrement(int32_t& v) { return std::atomic_ref<int32_t>(v).fetch_add(1) + 1; }
inline int32_t AtomicDecrement(int32_t& v) { return std::atomic_ref<int32_t>(v).fetch_sub(1) - 1; }
inline int32_t AtomicAdd(int32_t& v, int32_t d) { return std::atomic_ref<int32_t>(v).fetch_add(d) + d; }
inline int32_t AtomicExchange(int32_t& v, int32_t n) { return std::atomic_ref<int32_t>(v).exchange(n); }
// Stores `desired` when v == expected; returns the value v held before.
inline int32_t AtomicCompareExchange(int32_t& v, int32_t desired, int32_t expected) {
  std::atomic_ref<int32_t>(v).compare_exchange_strong(expected, desired);
  return expected;
}
inline int32_t AtomicLoad(const int32_t& v) { return std::atomic_ref<int32_t>(const_cast<int32_t&>(v)).load(); }
inline void AtomicStore(int32_t& v, int32_t n) { std::atomic_ref<int32_t>(v).store(n); }

} // namespace platform
