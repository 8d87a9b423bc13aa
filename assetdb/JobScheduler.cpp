#include "assetdb/JobScheduler.h"

#include <exception>

#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Log.h"
#include "Vak/Bexlorn/Time.h"
#include "assetdb/SharedLock.h"
#include "content/AppGlobals.h"

namespace {

// Idle workers look at the clock this often, so a test clock ends them soon.
constexpr unsigned long kIdleSliceMs = 10;

void LogFailedJob(const JobScheduler::Origin& origin, const char* reason) {
  // Looked up per line: the log deletes its clients when it shuts down.
  Vak::Log::GetClient("JobScheduler")
      ->Output(Vak::kLogErr, "Job posted by %s (%s:%u) threw: %s", origin.function, origin.file, origin.line,
               reason);
}

} // namespace

// ---- MainThreadQueue

MainThreadQueue& MainThreadQueue::Instance() {
  static MainThreadQueue* const queue = new MainThreadQueue;  // outlives late posters
  return *queue;
}

void MainThreadQueue::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> guard(mutex_);
  messages_.push_back(Message{message, wParam, lParam});
  posted_.Set();
}

bool MainThreadQueue::Get(Message* message, long timeoutMs) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!messages_.empty()) {
        *message = messages_.front();
        messages_.pop_front();
        if (messages_.empty()) posted_.Reset();
        return true;
      }
    }
    if (timeoutMs == 0 || !posted_.Wait(timeoutMs)) return false;
  }
}

size_t MainThreadQueue::Count() {
  std::lock_guard<std::mutex> guard(mutex_);
  return messages_.size();
}

// ---- JobScheduler

JobScheduler& JobScheduler::Instance() {
  static JobScheduler singleton;
  return singleton;
}

JobScheduler::JobScheduler() = default;

JobScheduler::~JobScheduler() {
  {
    // Stopping is set under the same lock, so no job is queued after the
    // cancelled ones.
    Vak::SingleLock guard(&lock_, true);
    for (const Job& job : jobs_) Cancel(job);
    jobs_.Clear();
    stopping_.store(true);
  }
  // The worker lock is not held across the sleep: a job still running may
  // post, and posting takes it. A poster that queued its job before the stop
  // may still be starting a worker, so it is waited for too.
  for (;;) {
    {
      Vak::SingleLock guard(&workerLock_, true);
      ReapWorkers();
      if (workers_.empty() && postsInFlight_.load() == 0) break;
    }
    workAvailable_.Set();
    Vak::Time::Delay(10);
  }
}

uint32_t JobScheduler::ThreadBit() { return IsMainThread() ? kNotOnMainThread : kMainThreadOnly; }

intptr_t JobScheduler::RunJob(const Job& job) {
  // A failed job still completes, so its poster is released; the failure is
  // logged and its result is 0.
  intptr_t result = 0;
  try {
    result = job.callback->Run(job.argument);
  } catch (const Vak::Exception& e) {
    LogFailedJob(job.origin, e.Reason());
  } catch (const std::exception& e) {
    LogFailedJob(job.origin, e.what());
  } catch (...) {
    LogFailedJob(job.origin, "an exception of unknown type");
  }
  delete job.callback;
  if (job.status) {
    job.status->result = result;
    // Last: the poster's status goes away once it sees `done`.
    job.status->done.store(true);
  }
  return result;
}

void JobScheduler::Cancel(const Job& job) {
  delete job.callback;
  if (job.gate) job.gate->Leave();
  if (job.status) {
    job.status->cancelled.store(true);
    job.status->done.store(true);
  }
}

bool JobScheduler::Post(CXCallbackBase* callback, uint32_t flags, uintptr_t argument, BusyGate* gate, intptr_t* result,
                        Origin origin) {
  if (result) *result = 0;
  if (!callback) return false;
  const bool waits = (flags & kNoWait) == 0;
  if (waits && (flags & ThreadBit()) == 0) {
    const intptr_t ran = RunJob(Job{callback, argument, gate, flags, nullptr, origin});
    if (result) *result = ran;
    return true;
  }
  Status status;
  {
    Vak::SingleLock guard(&lock_, true);
    // Nothing would ever run it.
    if (stopping_.load()) {
      Cancel(Job{callback, argument, gate, flags, nullptr, origin});
      return false;
    }
    jobs_.Append(Job{callback, argument, gate, flags, waits ? &status : nullptr, origin});
    // Counted in the same hold that saw the scheduler running.
    postsInFlight_.fetch_add(1);
  }
  if ((flags & kMainThreadOnly) != 0) {
    if (!mainThreadWoken_.exchange(true)) MainThreadQueue::Instance().Post(kWakeMainThreadMessage, 0, 0);
  } else {
    EnsureWorkers();
  }
  // The last use of the scheduler: from here on the poster touches only its
  // own status, and the scheduler may be gone.
  postsInFlight_.fetch_sub(1);
  if (!waits) return true;
  while (!status.done.load()) Vak::Time::Delay(1);
  if (status.cancelled.load()) return false;
  if (result) *result = status.result;
  return true;
}

int JobScheduler::RunPending(uint32_t mask) {
  if (stopping_.load()) return 0;
  mask |= ThreadBit();
  Job job;
  bool found = false;
  bool passedOver = false;
  uint64_t queued;
  {
    Vak::SingleLock guard(&lock_, true);
    queued = jobs_.Count();
    if (queued == 0) workAvailable_.Reset();
    for (auto it = jobs_.Begin(); !it.IsEnd(); it.Next()) {
      if ((it->flags & mask) == 0) {
        job = *it;
        jobs_.EraseOrdered(it);
        running_.Append(job);
        found = true;
        break;
      }
      passedOver = true;
    }
  }
  if (passedOver && IsMainThread()) EnsureWorkers();
  if (!found) return 0;
  // The status may be gone once `done` is set: keep what the running set needs.
  Job key = job;
  RunJob(job);
  {
    Vak::SingleLock guard(&lock_, true);
    running_.Remove(key);
  }
  jobFinished_.Pulse();
  return static_cast<int>(queued - 1);
}

void JobScheduler::ReapWorkers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->IsDone()) {
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void JobScheduler::EnsureWorkers() {
  {
    Vak::SingleLock guard(&workerLock_, true);
    ReapWorkers();
    if (workers_.size() < kMaxWorkers && !stopping_.load()) {
      auto worker = std::make_unique<Vak::Thread>(&JobScheduler::WorkerMain, this, false);
      worker->SetPriority(priority_);
      if (worker->Resume()) {
        workers_.push_back(std::move(worker));
        ++workersStarted_;
      }
    }
  }
  workAvailable_.Set();
}

unsigned JobScheduler::WorkerMain(void* self) {
  static_cast<JobScheduler*>(self)->WorkerBody();
  return 0;
}

void JobScheduler::WorkerBody() {
  jobFinished_.Reset();
  for (;;) {
    while (RunPending(0) > 0) {
    }
    if (stopping_.load()) return;
    // Up to kWorkerIdleMs for more work.
    const unsigned long start = Vak::Time::Ms();
    bool signalled = false;
    while (!signalled) {
      signalled = workAvailable_.Lock(kIdleSliceMs);
      if (stopping_.load()) return;
      if (!signalled && Vak::Time::Ms() - start > kWorkerIdleMs) return;
    }
  }
}

size_t JobScheduler::QueuedCount() {
  Vak::SingleLock guard(&lock_, true);
  return static_cast<size_t>(jobs_.Count());
}

size_t JobScheduler::RunningCount() {
  Vak::SingleLock guard(&lock_, true);
  return static_cast<size_t>(running_.Count());
}

unsigned JobScheduler::LiveWorkers() {
  Vak::SingleLock guard(&workerLock_, true);
  unsigned n = 0;
  for (const auto& worker : workers_)
    if (!worker->IsDone()) ++n;
  return n;
}
