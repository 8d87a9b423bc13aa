#include "platform/os/Waitable.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace platform {

struct Waiter {
  Waitable* const* objects;
  std::size_t count;
  bool all;
  std::thread::id thread;
  int result = kWaitTimeout;
  bool done = false;
  std::condition_variable wake;
};

struct WaitSupport {
  // Under the shared lock: takes what the waiter waits for when it can.
  static bool TrySatisfy(Waiter& w) {
    if (w.all) {
      for (std::size_t i = 0; i < w.count; ++i)
        if (!w.objects[i]->SignalledFor(w.thread)) return false;
      for (std::size_t i = 0; i < w.count; ++i) w.objects[i]->Acquire(w.thread);
      w.result = 0;
      return true;
    }
    for (std::size_t i = 0; i < w.count; ++i) {
      if (w.objects[i]->SignalledFor(w.thread)) {
        w.objects[i]->Acquire(w.thread);
        w.result = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }

  static void Enqueue(Waiter& w) {
    for (std::size_t i = 0; i < w.count; ++i) {
      auto& list = w.objects[i]->waiters_;
      if (std::find(list.begin(), list.end(), &w) == list.end()) list.push_back(&w);
    }
  }

  static void Dequeue(Waiter& w) {
    for (std::size_t i = 0; i < w.count; ++i) {
      auto& list = w.objects[i]->waiters_;
      list.erase(std::remove(list.begin(), list.end(), &w), list.end());
    }
  }
};

Waitable::~Waitable() = default;

std::mutex& Waitable::SharedLock() {
  static std::mutex lock;
  return lock;
}

std::size_t Waitable::WakeWaiters() {
  std::size_t woken = 0;
  // Satisfied waiters leave the list, so walk a copy in arrival order.
  std::vector<Waiter*> queued = waiters_;
  for (Waiter* w : queued) {
    if (w->done || !WaitSupport::TrySatisfy(*w)) continue;
    w->done = true;
    WaitSupport::Dequeue(*w);
    w->wake.notify_one();
    ++woken;
  }
  return woken;
}

std::size_t Waitable::WaiterCount() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return waiters_.size();
}

bool Waitable::WaitOne(uint32_t timeoutMs) {
  Waitable* self = this;
  return WaitMultiple(&self, 1, false, timeoutMs) == 0;
}

int Waitable::WaitMultiple(Waitable* const* objects, std::size_t count, bool waitAll,
                           uint32_t timeoutMs) {
  if (count == 0) return kWaitTimeout;
  for (std::size_t i = 0; i < count; ++i) {
    if (objects[i] == nullptr) return kWaitFailed;
    if (waitAll && std::find(objects, objects + i, objects[i]) != objects + i) return kWaitFailed;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

  Waiter w;
  w.objects = objects;
  w.count = count;
  w.all = waitAll;
  w.thread = std::this_thread::get_id();

  std::unique_lock<std::mutex> lock(SharedLock());
  if (WaitSupport::TrySatisfy(w)) return w.result;
  if (timeoutMs == 0) return kWaitTimeout;
  WaitSupport::Enqueue(w);
  while (!w.done) {
    if (timeoutMs == kInfinite) {
      w.wake.wait(lock);
    } else if (w.wake.wait_until(lock, deadline) == std::cv_status::timeout && !w.done) {
      WaitSupport::Dequeue(w);
      return kWaitTimeout;
    }
  }
  return w.result;
}

// Semaphore

Semaphore::Semaphore(long initial, long maximum)
    : count_(initial), maximum_(maximum), valid_(maximum > 0 && initial >= 0 && initial <= maximum) {
  if (!valid_) count_ = 0;
}

bool Semaphore::Release(long count, long* previous) {
  std::lock_guard<std::mutex> guard(SharedLock());
  if (!valid_ || count < 1 || count > maximum_ - count_) return false;
  if (previous != nullptr) *previous = count_;
  count_ += count;
  WakeWaiters();
  return true;
}

long Semaphore::Count() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return count_;
}

bool Semaphore::SignalledFor(std::thread::id) const { return count_ > 0; }
void Semaphore::Acquire(std::thread::id) { --count_; }

// Event

Event::Event(bool manualReset, bool initialState) : manual_(manualReset), state_(initialState) {}

void Event::Set() {
  std::lock_guard<std::mutex> guard(SharedLock());
  state_ = true;
  WakeWaiters();
}

void Event::Reset() {
  std::lock_guard<std::mutex> guard(SharedLock());
  state_ = false;
}

void Event::Pulse() {
  std::lock_guard<std::mutex> guard(SharedLock());
  state_ = true;
  WakeWaiters();
  state_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return state_;
}

bool Event::SignalledFor(std::thread::id) const { return state_; }
void Event::Acquire(std::thread::id) {
  if (!manual_) state_ = false;
}

// Mutex

Mutex::Mutex(bool initiallyOwned) {
  if (initiallyOwned) {
    owner_ = std::this_thread::get_id();
    depth_ = 1;
  }
}

bool Mutex::Release() {
  std::lock_guard<std::mutex> guard(SharedLock());
  if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    WakeWaiters();
  }
  return true;
}

bool Mutex::SignalledFor(std::thread::id thread) const { return depth_ == 0 || owner_ == thread; }
void Mutex::Acquire(std::thread::id thread) {
  owner_ = thread;
  ++depth_;
}

} // namespace platform
