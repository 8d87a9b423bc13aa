#include "assets3d/OverlappedResource.h"

#include "Vak/Bexlorn/Time.h"
#include "assets3d/OverlappedResourceSystem.h"

OverlappedResource::OverlappedResource(OverlappedResourceSystem* system, OverlappedResourceLink* owner)
    : owner_(owner), system_(system), stamp_(Vak::Time::GetSeconds()) {
  if (owner_ != nullptr) owner_->resource = this;
}

OverlappedResource::~OverlappedResource() {
  const int state = state_.load();
  if (system_ != nullptr && (state == kQueued || state == kRunning || state == kDone)) system_->Withdraw(this);
  if (owner_ != nullptr && owner_->resource == this) owner_->resource = nullptr;
}

OverlappedResourceCallback::OverlappedResourceCallback(OverlappedResourceSystem* system,
                                                       OverlappedResourceLink* owner, void* userData,
                                                       Callback load, Callback complete)
    : OverlappedResource(system, owner), userData_(userData), load_(load), complete_(complete) {}

OverlappedResourceCallback* OverlappedResourceCallback::Make(OverlappedResourceLink* owner, const char* name,
                                                             OverlappedResourceSystem* system, void* userData,
                                                             Callback load, Callback complete) {
  auto* request = new OverlappedResourceCallback(system, owner, userData, load, complete);
  if (name != nullptr) request->SetName(name);
  if (system != nullptr) system->Submit(request);
  return request;
}

bool OverlappedResourceCallback::Load() { return load_ == nullptr || load_(userData_); }

bool OverlappedResourceCallback::Complete() { return complete_ == nullptr || complete_(userData_); }
