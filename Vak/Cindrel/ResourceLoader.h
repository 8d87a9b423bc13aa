#pragma once
// The loader thread: reads the data of resources that Get asked for in the
// background, the most urgent first. Urgency (the load score) is the age of
// the resource plus its priority, in seconds, as of each pick. What
// it has read goes to the resource system's completion queue; a Lock on a
// resource that is still queued takes it out, one being read is waited for.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"

namespace platform {
class Waitable;
}

namespace Vak {

class Resource;
class ResourceSystem;

class ResourceLoader {
public:
  static constexpr unsigned kCapacity = 5000;
  static constexpr unsigned long kWaitMs = 1000;

  // Starts the thread at normal priority.
  explicit ResourceLoader(ResourceSystem& system);
  // Stops the thread and releases what is still queued.
  ~ResourceLoader();
  ResourceLoader(const ResourceLoader&) = delete;
  ResourceLoader& operator=(const ResourceLoader&) = delete;

  // Queues an idle resource; nothing when the queue is full or the resource
  // is not idle.
  void Enqueue(Resource* resource);
  // Takes a queued resource out (idle again); true when it was queued.
  bool Cancel(Resource* resource);
  // For Lock: a queued resource is cancelled (state 5); for the one being
  // read, waits until the read has finished.
  void Release(Resource* resource);

  unsigned Count();
  // A queued resource's priority has changed: the queue is re-sorted before
  // the next pick.
  void PriorityChanged();

  // How the thread gives the processor away when no request is ready
  // (Time::Delay of kNapMs); tests watch it through this seam. Null restores it.
  using Nap = void (*)(ResourceLoader& loader);
  static constexpr unsigned long kNapMs = 1;
  static void SetNap(Nap nap);
  // Held by the thread for the whole of one load; a database being destroyed
  // takes it to keep the loader idle.
  Mutex& ItemsMutex() { return items_; }
  // Set once destruction has begun.
  const std::atomic<bool>& Stopping() const { return stopping_; }

private:
  static unsigned Run(void* self);
  unsigned Loop();
  struct Request {
    double urgency;  // priority less creation time: the load score less `now`
    uint64_t order;  // of queuing
    Resource* resource;
  };
  static double Urgency(const Resource& resource);
  static bool Before(const Request& a, const Request& b);
  void SiftUp(std::size_t index);
  void SiftDown(std::size_t index);
  Resource* PickNext();
  // Reads the current resource and hands it on; what its type throws is
  // logged and fails it.
  void Read(Resource* resource);

  ResourceSystem& system_;
  std::vector<Request> queue_;  // a heap, the most urgent at the front
  uint64_t nextOrder_ = 0;
  std::atomic<bool> rescore_{false};
  Mutex items_;
  Mutex access_;  // guards the queue and current_
  Semaphore requests_{0, 0x7FFFFFFF};
  WEvent idle_{true, false};
  std::atomic<Resource*> current_{nullptr};
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Thread> thread_;
  platform::Waitable* stop_ = nullptr;  // the thread's stop signal
};

} // namespace Vak
