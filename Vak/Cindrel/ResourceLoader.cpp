#include "Vak/Cindrel/ResourceLoader.h"

#include <algorithm>
#include <exception>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Time.h"
#include "Vak/Cindrel/Resource.h"
#include "Vak/Cindrel/ResourceSystem.h"
#include "platform/os/Waitable.h"

namespace Vak {

namespace {
platform::Waitable* WaitableOf(SyncObject& object) { return static_cast<platform::Waitable*>(object.operator void*()); }

void DelayNap(ResourceLoader&) { Time::Delay(ResourceLoader::kNapMs); }
std::atomic<ResourceLoader::Nap> gNap{&DelayNap};

void LogFailedRead(const Resource* resource, const char* reason) {
  // Looked up per line: the log deletes its clients when it shuts down.
  Log::GetClient("ResourceLoader")
      ->Output(kLogErr, "Reading resource %s (%s) threw: %s", resource->GetName().c_str(),
               resource->GetFileName().c_str(), reason);
}
} // namespace

ResourceLoader::ResourceLoader(ResourceSystem& system) : system_(system) {
  queue_.reserve(kCapacity);
  thread_ = std::make_unique<Thread>(&ResourceLoader::Run, this, false);
  // Taken before the thread runs: the thread never reads thread_ itself.
  stop_ = WaitableOf(*thread_);
  thread_->Resume();
  thread_->SetPriority(Thread::PriorityNormal);
}

ResourceLoader::~ResourceLoader() {
  stopping_.store(true);
  if (thread_) {
    // Wakes the thread at once rather than after its wait times out.
    thread_->Signal();
    requests_.Unlock(1);
    thread_.reset();
  }
  // A thread that never ran leaves its queue behind.
  access_.Lock();
  for (const Request& request : queue_) {
    request.resource->CompareExchangeState(Resource::kQueued, Resource::kIdle);
    request.resource->ReleaseHold();
  }
  queue_.clear();
  access_.Unlock();
}

void ResourceLoader::SetNap(Nap nap) { gNap.store(nap ? nap : &DelayNap); }

unsigned ResourceLoader::Count() {
  SingleLock lock(&access_, true);
  return static_cast<unsigned>(queue_.size());
}

// --- The heap --------------------------------------------------------------------

// The load score less the `now` that every score of one pick shares: the
// order of the queue depends on nothing else.
double ResourceLoader::Urgency(const Resource& resource) {
  return static_cast<double>(resource.priority_.load()) - static_cast<double>(resource.created_);
}

// The more urgent first; of equal urgency, the one queued first.
bool ResourceLoader::Before(const Request& a, const Request& b) {
  return a.urgency > b.urgency || (a.urgency == b.urgency && a.order < b.order);
}

void ResourceLoader::SiftUp(std::size_t index) {
  while (index > 0) {
    const std::size_t parent = (index - 1) / 2;
    if (!Before(queue_[index], queue_[parent])) break;
    std::swap(queue_[index], queue_[parent]);
    index = parent;
  }
}

void ResourceLoader::SiftDown(std::size_t index) {
  const std::size_t count = queue_.size();
  for (;;) {
    std::size_t largest = index;
    const std::size_t left = 2 * index + 1;
    const std::size_t right = left + 1;
    if (left < count && Before(queue_[left], queue_[largest])) largest = left;
    if (right < count && Before(queue_[right], queue_[largest])) largest = right;
    if (largest == index) return;
    std::swap(queue_[index], queue_[largest]);
    index = largest;
  }
}

void ResourceLoader::PriorityChanged() { rescore_.store(true); }

// Under the access mutex: takes the most urgent request. Ages grow alike, so
// the requests are scored afresh only when a queued priority has changed.
Resource* ResourceLoader::PickNext() {
  if (queue_.empty()) return nullptr;
  if (rescore_.exchange(false)) {
    for (Request& request : queue_) request.urgency = Urgency(*request.resource);
    for (std::size_t i = queue_.size() / 2; i-- > 0;) SiftDown(i);
  }
  Resource* top = queue_.front().resource;
  queue_.front() = queue_.back();
  queue_.pop_back();
  if (!queue_.empty()) SiftDown(0);
  return top;
}

void ResourceLoader::Enqueue(Resource* resource) {
  SingleLock lock(&access_, true);
  if (queue_.size() >= kCapacity) return;  // it loads when it is locked
  // Only an idle resource: one being loaded by Lock is not read twice.
  if (!resource->CompareExchangeState(Resource::kIdle, Resource::kQueued)) return;
  resource->AddHold();
  queue_.push_back(Request{Urgency(*resource), nextOrder_++, resource});
  SiftUp(queue_.size() - 1);
  // Under the mutex, so a request count always stands for a queued resource.
  requests_.Unlock(1);
}

bool ResourceLoader::Cancel(Resource* resource) {
  SingleLock lock(&access_, true);
  auto found = std::find_if(queue_.begin(), queue_.end(),
                            [resource](const Request& request) { return request.resource == resource; });
  if (found == queue_.end()) return false;
  const std::size_t index = static_cast<std::size_t>(found - queue_.begin());
  const Request removed = *found;
  queue_[index] = queue_.back();
  queue_.pop_back();
  if (index < queue_.size()) {
    if (Before(removed, queue_[index]))
      SiftDown(index);
    else
      SiftUp(index);
  }
  resource->CompareExchangeState(Resource::kQueued, Resource::kIdle);
  // The thread takes counts only together with the mutex we hold, so one is there.
  requests_.Lock(0);
  lock.Unlock();
  resource->ReleaseHold();
  return true;
}

void ResourceLoader::Release(Resource* resource) {
  access_.Lock();
  if (resource->GetState() == Resource::kQueued) {
    // Cancel under the same hold, so the thread cannot pick it in between;
    // our own hold keeps it alive past the queue's.
    resource->AddHold();
    const bool cancelled = Cancel(resource);
    if (cancelled) resource->CompareExchangeState(Resource::kIdle, Resource::kTaken);
    access_.Unlock();
    resource->ReleaseHold();
    if (cancelled) return;
    access_.Lock();
  }
  if (current_.load() == resource) {
    access_.Unlock();
    ResourceSystem::Stats().boosts.fetch_add(1);
    thread_->SetPriority(Thread::PriorityHighest);
    // The thread holds the items mutex for the whole read of its current
    // resource: once it is ours, the read has finished.
    items_.Lock();
    items_.Unlock();
    thread_->SetPriority(Thread::PriorityNormal);
    return;
  }
  access_.Unlock();
}

// --- The thread ------------------------------------------------------------------

void ResourceLoader::Read(Resource* resource) {
  bool read = false;
  // Nobody on this thread could handle what a resource type throws: the
  // resource fails (ReadData has marked it) and the log says why.
  try {
    read = resource->ReadData();
  } catch (const Exception& e) {
    LogFailedRead(resource, e.Reason());
  } catch (const std::exception& e) {
    LogFailedRead(resource, e.what());
  } catch (...) {
    LogFailedRead(resource, "an exception of unknown type");
  }
  if (!read) {
    resource->SetState(Resource::kInvalid);
  } else if (system_.QueueCompletion(resource)) {
    ResourceSystem::Stats().loaded.fetch_add(1);
  }
  current_.store(nullptr);
  resource->ReleaseHold();
}

unsigned ResourceLoader::Run(void* self) { return static_cast<ResourceLoader*>(self)->Loop(); }

unsigned ResourceLoader::Loop() {
  platform::Waitable* const objects[] = {WaitableOf(requests_), WaitableOf(items_), WaitableOf(access_)};
  const auto* const requests = static_cast<const platform::Semaphore*>(objects[0]);
  platform::Waitable* const stop = stop_;
  idle_.Set();
  for (;;) {
    if (stopping_.load() || (stop && stop->WaitOne(0))) break;
    // One request count and both mutexes at once, taken straight away when a
    // request waits; the thread naps only when none does.
    idle_.Set();
    const bool ready = platform::Waitable::WaitMultiple(objects, 3, true, 0) == 0;
    if (!ready && requests->Count() == 0) gNap.load()(*this);
    idle_.Reset();
    if (!ready && platform::Waitable::WaitMultiple(objects, 3, true, static_cast<uint32_t>(kWaitMs)) != 0) continue;
    Resource* resource = stopping_.load() ? nullptr : PickNext();
    if (resource) {
      resource->SetState(Resource::kReading);
      current_.store(resource);
    }
    access_.Unlock();
    if (resource) Read(resource);
    items_.Unlock();
  }
  idle_.Set();
  return 0;
}

} // namespace Vak
