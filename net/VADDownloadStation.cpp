#include "net/VADDownloadStation.h"

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Time.h"
#include "content/TStream.h"
#include "content/VelmarEx.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/StoredBlock.h"

VADDownloadStation& VADDownloadStation::Global() {
  static VADDownloadStation station;
  return station;
}

namespace {
// Built before the program's entry, so its worker runs from the start.
[[maybe_unused]] VADDownloadStation& gStationAtStart = VADDownloadStation::Global();
} // namespace

VADDownloadStation::VADDownloadStation(bool startWorker, unsigned long pauseMs) : pauseMs_(pauseMs) {
  if (startWorker && enabled_) StartWorker();
}

VADDownloadStation::~VADDownloadStation() {
  StopWorker();
  ReleaseTasks();
}

bool VADDownloadStation::Read(TStream& stream) {
  queue_.Clear();
  const uint32_t size = stream.GetSize();
  const uint32_t version = stream.ReadInt();
  if (stream.GetError()) return false;
  if (version != kFormatVersion) {
    VelmarLogError("VADDownloadStation::Read> unknown file format version %d", static_cast<int>(version));
    return false;
  }
  Vak::String lastFile;
  stream.ReadString(lastFile);
  uint64_t searchTime = stream.ReadInt64();
  const uint32_t count = stream.ReadInt();
  if (!net::CountFits(stream, size, count, kSmallestUrl)) return false;
  if (searchTime > Vak::Time::TimeStamp()) {
    VelmarLogError("VADDownloadStation::Read> future-dated timestamp, resetting");
    searchTime = 0;
  }

  DownloadStationUrlList queue;
  for (uint32_t i = 0; i < count; ++i) {
    Vak::PString text;
    if (!net::ReadPStringWithin(stream, size, text)) return false;
    UrlRecord url(text.c_str());
    // A text that names no server (or was refused) could never be fetched,
    // and the list at the queue's head would block those behind it.
    if (!url.host[0]) continue;
    queue.AddFirstFree(url);
    VelmarLogError("VADDownloadStation::Read> queued url: %s", text.c_str());
  }
  lastReceivedFile_ = lastFile;
  lastSearchTime_ = searchTime;
  queue_.Swap(queue);
  return true;
}

void VADDownloadStation::Write(TStream& stream) const {
  stream.WriteInt(kFormatVersion);
  stream.WriteString(lastReceivedFile_);
  stream.WriteInt64(lastSearchTime_);
  stream.WriteInt(static_cast<uint32_t>(queue_.Count()));
  for (const UrlRecord& url : queue_) stream.WritePString(url.Format());
}

void VADDownloadStation::Reset() {
  Clear();
  lastReceivedFile_ = "0";
  retryTime_ = 0;
  lastSearchTime_ = 0;
  retryPending_ = false;
  if (enabled_) StartWorker();
}

void VADDownloadStation::Clear() {
  StopWorker();
  ReleaseTasks();
  queue_.Clear();
}

void VADDownloadStation::ReleaseTasks() {
  ReleaseTask(searchTask_);
  ReleaseTask(listTask_);
  ReleaseTask(membershipTask_);
}

void VADDownloadStation::StartWorker() {
  Vak::SingleLock hold(&stationLock_, true);
  workerRunning_.store(true, std::memory_order_release);
  if (worker_ && !worker_->IsDone()) return;
  worker_.reset();
  stopEvent_.Reset();
  workerSteps_.store(0, std::memory_order_release);
  worker_ = std::make_unique<Vak::Thread>(&WorkerMain, this, true);
}

void VADDownloadStation::StopWorker() {
  Vak::SingleLock hold(&stationLock_, true);
  workerRunning_.store(false, std::memory_order_release);
  stopEvent_.Set();
  // The thread's destructor waits for its function to return.
  worker_.reset();
}

bool VADDownloadStation::IsWorkerRunning() {
  Vak::SingleLock hold(&stationLock_, true);
  return worker_ && !worker_->IsDone();
}

unsigned VADDownloadStation::WorkerMain(void* context) {
  auto* self = static_cast<VADDownloadStation*>(context);
  while (self->workerRunning_.load(std::memory_order_acquire)) {
    self->Idle();
    self->workerSteps_.fetch_add(1, std::memory_order_acq_rel);
    // A timed wait rather than a sleep: StopWorker ends the pause at once.
    self->stopEvent_.Lock(self->pauseMs_);
  }
  return 0;
}

bool VADDownloadStation::RequestUpdate() {
  if (searchTask_) return true;
  retryPending_ = true;
  retryTime_ = 0;
  return false;
}

void VADDownloadStation::Idle() {
  // Without a download manager nothing can be fetched: no index lock is
  // taken. The steps that poll and start transfers come with the manager.
  if (!DownloadManager::Instance()) return;
}

void VADDownloadStation::SetMembership(int32_t state, float timeLeft) {
  membershipState_ = state;
  membershipTimeLeft_ = timeLeft;
}

void VADDownloadStation::Enqueue(const UrlRecord& url) {
  for (const UrlRecord& queued : queue_)
    if (queued.Equals(url)) return;
  queue_.Append(url);
}
