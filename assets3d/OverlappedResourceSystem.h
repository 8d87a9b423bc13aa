#pragma once
// The background loader: one worker thread runs queued requests oldest first;
// owners wait for a request, cancel it, or collect it once done. The process
// has at most one, reached through Get().
#include <atomic>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "assets3d/OverlappedResource.h"

class OverlappedResourceSystem {
public:
  static constexpr int kMaxQueued = 5000;
  static constexpr int kWaiterSlots = 8;

  // Without `startWorker` requests run only through RunOneNow. The first
  // system alive becomes the process-wide one.
  explicit OverlappedResourceSystem(bool startWorker = true);
  // Stops the worker, returns every queued request and every uncollected one
  // to state 0, and clears the process-wide pointer.
  virtual ~OverlappedResourceSystem();
  OverlappedResourceSystem(const OverlappedResourceSystem&) = delete;
  OverlappedResourceSystem& operator=(const OverlappedResourceSystem&) = delete;

  static OverlappedResourceSystem* Get();

  // Queues the request (state 1). False when the queue is full, or the
  // request is already queued or waiting to be collected.
  bool Submit(OverlappedResource* request);
  // A queued request is taken out (state 5) and never runs; for a running
  // one the caller waits until its Load has returned.
  void CancelOrWait(OverlappedResource* request);
  // Waits until the request is neither queued nor running.
  void Wait(OverlappedResource* request);
  // Runs the oldest queued request on the calling thread; false when none.
  bool RunOneNow();
  // Takes a done request off the done list and runs its completion: the
  // completion's answer, false when the request was not done.
  bool Collect(OverlappedResource* request);

  int GetQueuedCount();
  // Callers in Wait or CancelOrWait now, with those still waiting for a slot.
  int GetWaitingCount() const { return waiting_.load(); }
  // Set once the worker has started.
  Vak::WEvent& GetWorkingEvent() { return working_; }

private:
  friend class OverlappedResource;

  struct WaiterSlot {
    OverlappedResource* request = nullptr;  // null once signalled
    Vak::Semaphore signal{0, 1};
    bool inUse = false;
  };

  static unsigned WorkerMain(void* self);
  // Called with the run lock held.
  bool RunNext();
  // Under the queue lock.
  OverlappedResource* TakeNext();
  void RemoveAt(size_t index);
  void SiftUp(size_t index);
  void SiftDown(size_t index);
  void SignalWaiters(OverlappedResource* request);
  void WaitForSlotSignal(OverlappedResource* request);
  // From a request's destructor.
  void Withdraw(OverlappedResource* request);
  bool TakeOffDoneList(OverlappedResource* request);

  // Queue lock: the heap, the running request and the waiter slots.
  Vak::CriticalSection lock_{"OverlappedResourceSystem"};
  // One unit per submitted request.
  Vak::Semaphore pending_{0, 0x7FFFFFFF};
  // Serialises runs between the worker and RunOneNow.
  Vak::Mutex runLock_;
  Vak::WEvent working_{true, false};
  Vak::CriticalSection doneLock_{"OverlappedResourceSystem done"};
  std::vector<OverlappedResource*> heap_;
  std::vector<OverlappedResource*> done_;
  OverlappedResource* running_ = nullptr;
  unsigned long runningThread_ = 0;
  WaiterSlot slots_[kWaiterSlots];
  // One unit per free waiter slot.
  Vak::Semaphore freeSlots_{kWaiterSlots, kWaiterSlots};
  std::atomic<int> waiting_{0};
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Vak::Thread> worker_;
};
