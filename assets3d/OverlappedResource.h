#pragma once
// A request for the background loader: loaded on the loader's worker, then
// completed when its owner collects it.
#include <atomic>

#include "Vak/Bexlorn/String.h"

class OverlappedResource;
class OverlappedResourceSystem;

// The owner's side of a request; the request points back at it.
struct OverlappedResourceLink {
  OverlappedResource* resource = nullptr;
};

class OverlappedResource {
public:
  enum State : int { kIdle = 0, kQueued = 1, kRunning = 2, kDone = 3, kCancelled = 5 };

  // Stamped now; linked both ways with `owner` when there is one.
  OverlappedResource(OverlappedResourceSystem* system, OverlappedResourceLink* owner);
  // A request still queued, running or waiting to be collected is withdrawn
  // first (waiting for a running Load), so the loader never holds it freed.
  virtual ~OverlappedResource();
  OverlappedResource(const OverlappedResource&) = delete;
  OverlappedResource& operator=(const OverlappedResource&) = delete;

  // On the worker; true when done.
  virtual bool Load() = 0;
  // When the owner collects it.
  virtual bool Complete() { return true; }

  const Vak::String& GetName() const { return name_; }
  void SetName(const char* name) { name_ = name; }
  int GetState() const { return state_.load(); }
  // Seconds since the stamp, as of the last time the worker picked a request.
  float GetAge() const { return age_.load(); }
  double GetStamp() const { return stamp_; }
  OverlappedResourceSystem* GetSystem() const { return system_; }
  OverlappedResourceLink* GetOwner() const { return owner_; }

private:
  friend class OverlappedResourceSystem;

  OverlappedResourceLink* owner_;
  OverlappedResourceSystem* system_;
  Vak::String name_{"unknown"};
  std::atomic<float> age_{0};
  std::atomic<int> state_{kIdle};
  double stamp_;
};

// Runs two plain callbacks with the user data; a missing one counts as success.
class OverlappedResourceCallback : public OverlappedResource {
public:
  using Callback = bool (*)(void* userData);

  OverlappedResourceCallback(OverlappedResourceSystem* system, OverlappedResourceLink* owner, void* userData,
                             Callback load, Callback complete);

  // Makes the request, names it when `name` is given and submits it; the
  // owner holds it through `owner` (state 0 when the queue refused it).
  static OverlappedResourceCallback* Make(OverlappedResourceLink* owner, const char* name,
                                          OverlappedResourceSystem* system, void* userData, Callback load,
                                          Callback complete);

  bool Load() override;
  bool Complete() override;

private:
  void* userData_;
  Callback load_;
  Callback complete_;
};
