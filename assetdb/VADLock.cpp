#include "assetdb/VADLock.h"

#include <atomic>

#include "Vak/Bexlorn/Time.h"
#include "assetdb/SharedLock.h"
#include "assetdb/VADIPC.h"
#include "content/AppGlobals.h"

namespace {

std::atomic<VADLoadCycle*> gLoadCycle{nullptr};
std::atomic<uint32_t> gPendingFlags{0};
std::atomic<uint32_t> gExtraFlags{0};
std::atomic<VADLock::ChangeCallback> gChangeCallback{nullptr};
std::atomic<bool> gChangeNotified{false};
std::atomic<int32_t> gMainThreadWaits{0};

bool DatabaseOpen() {
  VADLoadCycle* cycle = gLoadCycle.load();
  return cycle != nullptr && cycle->IsDatabaseOpen();
}

} // namespace

void VADLock::SetLoadCycle(VADLoadCycle* cycle) { gLoadCycle.store(cycle); }

SharedLock& VADLock::IndexLock() {
  static SharedLock* const lock = new SharedLock;  // threads may still release it at exit
  return *lock;
}

void VADLock::AddChangeFlags(uint32_t bits) { gPendingFlags.fetch_or(bits); }
void VADLock::AddExtraChangeFlags(uint32_t bits) { gExtraFlags.fetch_or(bits); }
uint32_t VADLock::PendingChangeFlags() { return gPendingFlags.load(); }
uint32_t VADLock::ExtraChangeFlags() { return gExtraFlags.load(); }
void VADLock::SetChangeCallback(ChangeCallback callback) { gChangeCallback.store(callback); }
VADLock::ChangeCallback VADLock::GetChangeCallback() { return gChangeCallback.load(); }
bool VADLock::ChangeNotified() { return gChangeNotified.load(); }
void VADLock::SetChangeNotified(bool notified) { gChangeNotified.store(notified); }
int32_t VADLock::MainThreadWaits() { return gMainThreadWaits.load(); }

void VADLock::Drop() {
  state_ &= static_cast<uint8_t>(~kHeld);
  IndexLock().Release();
}

VADLock& VADLock::Acquire(bool exclusive, uint32_t flags) {
  if (!DatabaseOpen()) {
    state_ = 0;
    return *this;
  }
  state_ = exclusive ? kExclusive : 0;
  SharedLock& lock = IndexLock();
  const bool mainThread = IsMainThread();
  if (mainThread) ++gMainThreadWaits;
  bool taken;
  if (flags & kTry) {
    taken = lock.TryAcquire(exclusive);
  } else {
    taken = lock.Acquire(exclusive, (flags & kTimed) ? kTimedWaitMs : -1);
  }
  if (mainThread) --gMainThreadWaits;
  if (!taken) return *this;
  state_ |= kHeld;

  const bool mayNotWait = (flags & (kTry | kTimed)) != 0;
  if (!IPCIsOwner() && !IPCTryTakeOwnership((flags & kNoRequest) == 0)) {
    if (mayNotWait) {
      Drop();
      return *this;
    }
    IPCWaitForOwnership();
  }
  if (!IPCChangeCounterDiffers()) return *this;

  // Another process wrote the index.
  if (mayNotWait) {
    Drop();
    gLoadCycle.load()->StartRefreshThread();
    return *this;
  }
  if (!IsExclusive()) {
    Drop();
    // A thread that still holds the lock shared (a nested hold) cannot make
    // it exclusive; the refresh thread reloads once every hold is gone.
    if (!lock.Acquire(true, -1)) {
      gLoadCycle.load()->StartRefreshThread();
      return *this;
    }
    state_ |= kHeld | kExclusive;
  }
  if (IPCChangeCounterDiffers()) {
    IPCTakeChangeCounter();
    gLoadCycle.load()->Reload();
  }
  return *this;
}

void VADLock::Release() {
  if (!IsHeld()) return;
  const uint32_t taken = IsExclusive() ? gPendingFlags.exchange(0) : 0;
  const bool last = IndexLock().Release();
  state_ &= static_cast<uint8_t>(~kHeld);
  if (taken == 0) return;
  if (!last) {
    // The outermost release delivers them.
    gPendingFlags.fetch_or(taken);
    return;
  }
  gChangeNotified.store(true);
  const uint32_t delivered = taken | gExtraFlags.exchange(0);
  if (ChangeCallback callback = gChangeCallback.load()) callback(static_cast<int>(delivered));
  if (gMainThreadWaits.load() != 0) Vak::Time::Delay(kReleaseDelayMs);
}
