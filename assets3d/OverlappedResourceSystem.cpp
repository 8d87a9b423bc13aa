#include "assets3d/OverlappedResourceSystem.h"

#include <algorithm>

#include "Vak/Bexlorn/Time.h"

namespace {

std::atomic<OverlappedResourceSystem*> gSystem{nullptr};

} // namespace

OverlappedResourceSystem::OverlappedResourceSystem(bool startWorker) {
  heap_.reserve(kMaxQueued);
  OverlappedResourceSystem* none = nullptr;
  gSystem.compare_exchange_strong(none, this);
  if (startWorker) worker_ = std::make_unique<Vak::Thread>(&OverlappedResourceSystem::WorkerMain, this, true);
}

OverlappedResourceSystem::~OverlappedResourceSystem() {
  stopping_.store(true);
  pending_.Unlock();
  worker_.reset();
  {
    Vak::SingleLock lock(&lock_, true);
    for (OverlappedResource* request : heap_) {
      request->state_.store(OverlappedResource::kIdle);
      SignalWaiters(request);
    }
    heap_.clear();
  }
  Vak::SingleLock lock(&doneLock_, true);
  for (OverlappedResource* request : done_) request->state_.store(OverlappedResource::kIdle);
  done_.clear();
  OverlappedResourceSystem* self = this;
  gSystem.compare_exchange_strong(self, nullptr);
}

OverlappedResourceSystem* OverlappedResourceSystem::Get() { return gSystem.load(); }

bool OverlappedResourceSystem::Submit(OverlappedResource* request) {
  Vak::SingleLock lock(&lock_, true);
  const int state = request->state_.load();
  // A done request is still on the done list: queuing it again would list it twice.
  if (heap_.size() >= kMaxQueued || state == OverlappedResource::kQueued || state == OverlappedResource::kDone)
    return false;
  request->state_.store(OverlappedResource::kQueued);
  heap_.push_back(request);
  SiftUp(heap_.size() - 1);
  pending_.Unlock();
  return true;
}

void OverlappedResourceSystem::CancelOrWait(OverlappedResource* request) {
  {
    Vak::SingleLock lock(&lock_, true);
    auto found = std::find(heap_.begin(), heap_.end(), request);
    if (found != heap_.end()) {
      RemoveAt(static_cast<size_t>(found - heap_.begin()));
      // The worker may already hold this unit; it then finds the queue short and waits again.
      pending_.Lock(0);
      request->state_.store(OverlappedResource::kCancelled);
      SignalWaiters(request);
      return;
    }
    if (running_ != request) return;
  }
  const bool raise = worker_ != nullptr;
  if (raise) worker_->SetPriority(Vak::Thread::PriorityHighest);
  Wait(request);
  if (raise) worker_->SetPriority(Vak::Thread::PriorityNormal);
}

void OverlappedResourceSystem::Wait(OverlappedResource* request) {
  waiting_.fetch_add(1);
  WaitForSlotSignal(request);
  waiting_.fetch_sub(1);
}

void OverlappedResourceSystem::WaitForSlotSignal(OverlappedResource* request) {
  freeSlots_.Lock();
  WaiterSlot* slot = nullptr;
  {
    Vak::SingleLock lock(&lock_, true);
    const int state = request->state_.load();
    // A Load that waits for its own request would wait for ever.
    const bool ownRun = running_ == request && runningThread_ == Vak::Thread::GetCurrentId();
    if ((state == OverlappedResource::kQueued || state == OverlappedResource::kRunning) && !ownRun) {
      for (WaiterSlot& candidate : slots_) {
        if (!candidate.inUse) {
          slot = &candidate;
          break;
        }
      }
      slot->inUse = true;
      slot->request = request;
    }
  }
  if (slot == nullptr) {
    freeSlots_.Unlock();
    return;
  }
  slot->signal.Lock();
  // Freed only now, so that no later waiter can take the signal meant for this one.
  {
    Vak::SingleLock lock(&lock_, true);
    slot->inUse = false;
  }
  freeSlots_.Unlock();
}

bool OverlappedResourceSystem::RunOneNow() {
  Vak::SingleLock run(&runLock_, true);
  return RunNext();
}

bool OverlappedResourceSystem::Collect(OverlappedResource* request) {
  if (!TakeOffDoneList(request)) return false;
  request->state_.store(OverlappedResource::kIdle);
  return request->Complete();
}

int OverlappedResourceSystem::GetQueuedCount() {
  Vak::SingleLock lock(&lock_, true);
  return static_cast<int>(heap_.size());
}

unsigned OverlappedResourceSystem::WorkerMain(void* context) {
  auto* self = static_cast<OverlappedResourceSystem*>(context);
  self->working_.Set();
  while (!self->stopping_.load()) {
    // The unit is kept: handing it back with the run lock would leave the
    // worker spinning over an empty queue.
    if (!self->pending_.Lock(1000)) continue;
    if (self->stopping_.load()) break;
    Vak::SingleLock run(&self->runLock_, true);
    self->RunNext();
  }
  return 0;
}

bool OverlappedResourceSystem::RunNext() {
  OverlappedResource* request;
  {
    Vak::SingleLock lock(&lock_, true);
    request = TakeNext();
    if (request == nullptr) return false;
    running_ = request;
    runningThread_ = Vak::Thread::GetCurrentId();
  }
  const bool loaded = request->Load();
  Vak::SingleLock lock(&lock_, true);
  int running = OverlappedResource::kRunning;
  if (loaded) {
    Vak::SingleLock done(&doneLock_, true);
    if (request->state_.compare_exchange_strong(running, OverlappedResource::kDone)) done_.push_back(request);
  } else {
    request->state_.compare_exchange_strong(running, OverlappedResource::kIdle);
  }
  running_ = nullptr;
  runningThread_ = 0;
  SignalWaiters(request);
  return true;
}

OverlappedResource* OverlappedResourceSystem::TakeNext() {
  if (heap_.empty()) return nullptr;
  const double now = Vak::Time::GetSeconds();
  for (OverlappedResource* queued : heap_) queued->age_.store(static_cast<float>(now - queued->stamp_));
  for (size_t i = 1; i < heap_.size(); ++i) SiftUp(i);
  OverlappedResource* oldest = heap_.front();
  RemoveAt(0);
  oldest->state_.store(OverlappedResource::kRunning);
  return oldest;
}

void OverlappedResourceSystem::RemoveAt(size_t index) {
  const float removedAge = heap_[index]->age_.load();
  heap_[index] = heap_.back();
  heap_.pop_back();
  if (index >= heap_.size()) return;
  if (heap_[index]->age_.load() < removedAge)
    SiftDown(index);
  else
    SiftUp(index);
}

void OverlappedResourceSystem::SiftUp(size_t index) {
  while (index > 0) {
    const size_t parent = (index - 1) / 2;
    if (heap_[parent]->age_.load() >= heap_[index]->age_.load()) return;
    std::swap(heap_[parent], heap_[index]);
    index = parent;
  }
}

void OverlappedResourceSystem::SiftDown(size_t index) {
  for (;;) {
    const size_t left = index * 2 + 1;
    if (left >= heap_.size()) return;
    size_t child = left;
    if (left + 1 < heap_.size() && heap_[left + 1]->age_.load() > heap_[left]->age_.load()) child = left + 1;
    if (heap_[child]->age_.load() <= heap_[index]->age_.load()) return;
    std::swap(heap_[child], heap_[index]);
    index = child;
  }
}

void OverlappedResourceSystem::SignalWaiters(OverlappedResource* request) {
  for (WaiterSlot& slot : slots_) {
    if (slot.inUse && slot.request == request) {
      slot.request = nullptr;
      slot.signal.Unlock();
    }
  }
}

void OverlappedResourceSystem::Withdraw(OverlappedResource* request) {
  CancelOrWait(request);
  TakeOffDoneList(request);
}

bool OverlappedResourceSystem::TakeOffDoneList(OverlappedResource* request) {
  Vak::SingleLock lock(&doneLock_, true);
  auto found = std::find(done_.begin(), done_.end(), request);
  if (found == done_.end()) return false;
  done_.erase(found);
  return true;
}
