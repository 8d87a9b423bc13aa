#include "assetdb/SharedLock.h"

#include "platform/os/Thread.h"

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/PStringCache.h"
#include "Vak/Bexlorn/Thread.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/BlockingScreen.h"
#include "assetdb/JobScheduler.h"
#include "content/AppGlobals.h"

namespace {

uint32_t CurrentThread() { return static_cast<uint32_t>(Vak::Thread::GetCurrentId()); }

void Pause(unsigned long ms) {
  if (ms == 0) {
    platform::YieldThread();
  } else {
    Vak::Time::Delay(ms);
  }
}

} // namespace

std::atomic<SharedLock::DropUnusedResourcesHook> SharedLock::dropUnusedResources_{nullptr};

SharedLock::SharedLock() = default;
SharedLock::~SharedLock() = default;

void SharedLock::SetDropUnusedResourcesHook(DropUnusedResourcesHook hook) { dropUnusedResources_.store(hook); }

SharedLock::Take SharedLock::TryTake(bool exclusive) {
  const uint32_t self = CurrentThread();
  Vak::SingleLock guard(&section_, true);
  bool granted;
  if (holdCount_ == 0) {
    granted = exclusive || waitingWriters_ == 0;
  } else {
    bool mine = false;
    bool onlyMine = true;
    for (uint32_t id : holders_) {
      if (id == self) {
        mine = true;
      } else {
        onlyMine = false;
      }
    }
    if (!mine) {
      granted = !exclusive && !exclusive_ && waitingWriters_ == 0;
    } else if (!exclusive) {
      granted = true;
    } else if (onlyMine && exclusive_) {
      granted = true;
    } else {
      return exclusive_ ? Take::kRefused : Take::kUpgrade;
    }
  }
  if (!granted) return Take::kRefused;
  ++holdCount_;
  if (exclusive) exclusive_ = true;
  holders_.Append(self);
  event_.Reset();
  return Take::kTaken;
}

bool SharedLock::TryAcquire(bool exclusive) { return TryTake(exclusive) == Take::kTaken; }

bool SharedLock::Release() {
  const uint32_t self = CurrentThread();
  bool last;
  {
    Vak::SingleLock guard(&section_, true);
    if (!holders_.Remove(self)) return false;
    --holdCount_;
    last = holdCount_ == 0;
    if (last) exclusive_ = false;
  }
  event_.Set();
  return last;
}

void SharedLock::MarkActions(bool firstMark) {
  if (firstMark) {
    BlockingScreen::Instance().Show();
  } else {
    BlockingScreen::Instance().Refresh();
  }
  DropUnusedCaches();
}

void SharedLock::DropUnusedCaches() {
  if (DropUnusedResourcesHook hook = dropUnusedResources_.load()) hook();
  Vak::PString::cache()->CollectGarbage();
}

bool SharedLock::Acquire(bool exclusive, long timeoutMs) {
  Take take = TryTake(exclusive);
  if (take == Take::kTaken) return true;
  if (timeoutMs == 0 || take == Take::kUpgrade) return false;

  const bool mainThread = IsMainThread();
  const unsigned long start = Vak::Time::Ms();
  // The time-out counts from the start; the marks from the previous mark.
  unsigned long markReference = start;
  bool screenShown = false;

  if (exclusive) {
    Vak::SingleLock guard(&section_, true);
    ++waitingWriters_;
  }
  bool taken = false;
  for (int round = kBackOffStart;; ++round) {
    take = TryTake(exclusive);
    if (take != Take::kRefused) {
      taken = take == Take::kTaken;
      break;
    }
    Pause(BackOffMs(round));
    const unsigned long now = Vak::Time::Ms();
    if (timeoutMs > 0 && now - start > static_cast<unsigned long>(timeoutMs)) break;
    if (!mainThread) continue;
    if (now - markReference > kMainThreadMarkMs) {
      MarkActions(!screenShown);
      screenShown = true;
      markReference = now;
    }
    JobScheduler::Instance().RunPending(JobScheduler::kNotInLockWait);
  }
  if (screenShown) BlockingScreen::Instance().Hide();
  if (exclusive) {
    Vak::SingleLock guard(&section_, true);
    --waitingWriters_;
  }
  return taken;
}

uint32_t SharedLock::HoldCount() {
  Vak::SingleLock guard(&section_, true);
  return holdCount_;
}

bool SharedLock::IsExclusive() {
  Vak::SingleLock guard(&section_, true);
  return exclusive_;
}

uint32_t SharedLock::WaitingWriters() {
  Vak::SingleLock guard(&section_, true);
  return waitingWriters_;
}

uint32_t SharedLock::ThreadHolds() {
  const uint32_t self = CurrentThread();
  Vak::SingleLock guard(&section_, true);
  uint32_t n = 0;
  for (uint32_t id : holders_)
    if (id == self) ++n;
  return n;
}

// ---- CountedLock

void CountedLock::Lock() {
  section_.Lock();
  owner_.store(CurrentThread());
  ++depth_;
}

bool CountedLock::Unlock() {
  if (depth_.load() == 0 || owner_.load() != CurrentThread()) return false;
  if (--depth_ == 0) owner_.store(0);
  section_.Unlock();
  return true;
}

// ---- BusyGate

bool BusyGate::TryEnter() {
  Vak::SingleLock guard(&section_, true);
  if (busy_ != 0) return false;
  busy_ = 1;
  entered_ = true;
  event_.Reset();
  return true;
}

void BusyGate::Enter() {
  if (TryEnter()) return;
  {
    Vak::SingleLock guard(&section_, true);
    ++waiting_;
  }
  do {
    event_.Lock();
  } while (!TryEnter());
  Vak::SingleLock guard(&section_, true);
  --waiting_;
}

void BusyGate::Leave() {
  Vak::SingleLock guard(&section_, true);
  busy_ = 0;
  entered_ = false;
  event_.Set();
}

bool BusyGate::IsBusy() {
  Vak::SingleLock guard(&section_, true);
  return busy_ != 0;
}

bool BusyGate::IsEntered() {
  Vak::SingleLock guard(&section_, true);
  return entered_;
}

int32_t BusyGate::WaitingCount() {
  Vak::SingleLock guard(&section_, true);
  return waiting_;
}
