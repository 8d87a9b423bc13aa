#include "Vak/Bexlorn/Sync.h"

#include "platform/os/FileSystem.h"
#include "platform/os/NamedMutex.h"
#include "platform/os/RecursiveMutex.h"
#include "platform/os/Waitable.h"

#include <climits>
#include <string>

namespace Vak {

namespace {
unsigned PlatformTimeout(unsigned long timeout) {
  return timeout >= SyncObject::kInfinite ? platform::kInfinite : static_cast<unsigned>(timeout);
}
} // namespace

// ---- SyncObject

SyncObject::SyncObject() = default;
SyncObject::~SyncObject() = default;

SyncObject::operator void*() { return static_cast<void*>(handle_.get()); }

bool SyncObject::Lock(unsigned long timeout) {
  return handle_ != nullptr && handle_->WaitOne(PlatformTimeout(timeout));
}

bool SyncObject::Unlock(unsigned long) { return false; }
bool SyncObject::Unlock() { return false; }

bool SyncObject::Wait(long timeout) {
  return Lock(timeout < 0 ? kInfinite : static_cast<unsigned long>(timeout));
}

bool SyncObject::Signal() {
  auto* event = dynamic_cast<platform::Event*>(static_cast<platform::Waitable*>(operator void*()));
  if (event == nullptr) return false;
  event->Set();
  return true;
}

// ---- CriticalSection

CriticalSection::CriticalSection(const char*) : section_(std::make_unique<platform::RecursiveMutex>()) {}
CriticalSection::~CriticalSection() = default;

bool CriticalSection::Lock(unsigned long) {
  section_->Lock();
  return true;
}

bool CriticalSection::Unlock() {
  section_->Unlock();
  return true;
}

// ---- Mutex

Mutex::Mutex(bool initiallyOwned, const char* name) {
  if (name == nullptr || *name == '\0') {
    handle_ = std::make_unique<platform::Mutex>(initiallyOwned);
    return;
  }
  auto named = std::make_unique<platform::NamedMutex>();
  // Named mutexes keep their lock files in the temporary folder.
  if (named->Open(platform::TemporaryFolder().c_str(), name) != platform::Error::None) return;
  named_ = std::move(named);
  if (initiallyOwned) named_->Lock(0);
}

Mutex::~Mutex() = default;

bool Mutex::Lock(unsigned long timeout) {
  if (named_ != nullptr) return named_->Lock(PlatformTimeout(timeout));
  return SyncObject::Lock(timeout);
}

bool Mutex::Unlock(unsigned long) { return Unlock(); }

bool Mutex::Unlock() {
  if (named_ != nullptr) return named_->Unlock();
  return handle_ != nullptr && static_cast<platform::Mutex*>(handle_.get())->Release();
}

// ---- Semaphore

Semaphore::Semaphore(long initialCount, long maximumCount, const char*) {
  auto semaphore = std::make_unique<platform::Semaphore>(initialCount, maximumCount);
  if (semaphore->Valid()) handle_ = std::move(semaphore);
}

bool Semaphore::Unlock(unsigned long count) {
  if (handle_ == nullptr || count > static_cast<unsigned long>(LONG_MAX)) return false;
  return static_cast<platform::Semaphore*>(handle_.get())->Release(static_cast<long>(count));
}

bool Semaphore::Unlock() { return Unlock(1); }

// ---- WEvent

WEvent::WEvent(bool manualReset, bool initialState, const char*) {
  handle_ = std::make_unique<platform::Event>(manualReset, initialState);
}

void WEvent::Set() { static_cast<platform::Event*>(handle_.get())->Set(); }
void WEvent::Pulse() { static_cast<platform::Event*>(handle_.get())->Pulse(); }
void WEvent::Reset() { static_cast<platform::Event*>(handle_.get())->Reset(); }

// ---- SingleLock

SingleLock::SingleLock(SyncObject* object, bool initialLock) : object_(object) {
  if (initialLock) Lock();
}

SingleLock::~SingleLock() { Unlock(); }

bool SingleLock::Lock(unsigned long timeout) {
  if (!locked_) locked_ = object_->Lock(timeout);
  return locked_;
}

bool SingleLock::Unlock() {
  if (locked_) locked_ = !object_->Unlock();
  return !locked_;
}

// ---- MultiLock

MultiLock::MultiLock(SyncObject* const* objects, unsigned long count, bool initialLock)
    : objects_(objects, objects + count), locked_(count, false) {
  handles_.reserve(count);
  for (SyncObject* object : objects_) handles_.push_back(static_cast<platform::Waitable*>(object->operator void*()));
  if (initialLock) Lock();
}

MultiLock::~MultiLock() { Unlock(); }

unsigned long MultiLock::Lock(unsigned long timeout, bool waitForAll) {
  if (handles_.empty()) return kWaitFailed;
  int answer = platform::Waitable::WaitMultiple(handles_, waitForAll, PlatformTimeout(timeout));
  if (answer == platform::kWaitTimeout) return kWaitTimeout;
  if (answer < 0) return kWaitFailed;
  if (waitForAll)
    locked_.assign(locked_.size(), true);
  else
    locked_[static_cast<std::size_t>(answer)] = true;
  return kWaitObject0 + static_cast<unsigned long>(answer);
}

bool MultiLock::Unlock() {
  for (std::size_t i = 0; i < objects_.size(); ++i)
    if (locked_[i]) locked_[i] = !objects_[i]->Unlock();
  return true;
}

bool MultiLock::IsLocked(unsigned long index) const { return index < locked_.size() && locked_[index]; }

} // namespace Vak
