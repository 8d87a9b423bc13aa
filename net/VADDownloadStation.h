#pragma once
// The client state of the content server's download station: the last asset
// list received, when the server was last searched, the asset-list URLs still
// to fetch, and the membership state. The asset database stores it inside the
// asset index file. A worker thread steps the station every 500 ms; while no
// download manager exists a step does nothing.
#include <atomic>
#include <cstdint>
#include <memory>

#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "content/ChunkedList.h"
#include "net/UrlRecord.h"

class DownloadTask;
class TStream;

using DownloadStationUrlList = ChunkedList<UrlRecord, 13>;

class VADDownloadStation {
public:
  static constexpr uint32_t kFormatVersion = 1;
  static constexpr unsigned long kStepPauseMs = 500;
  // The fewest bytes one queued URL takes in the block: its length word.
  static constexpr uint32_t kSmallestUrl = 4;

  enum MembershipState : int32_t { kMembershipNone = 0, kMembershipActive = 2, kMembershipSuspended = 3 };

  // The process-wide station, built with the program and destroyed at its
  // exit (which stops the worker). Its worker runs from the start.
  static VADDownloadStation& Global();

  // `pauseMs`: the worker's pause between steps.
  explicit VADDownloadStation(bool startWorker = true, unsigned long pauseMs = kStepPauseMs);
  // Stops the worker, so no thread outlives the station.
  ~VADDownloadStation();
  VADDownloadStation(const VADDownloadStation&) = delete;
  VADDownloadStation& operator=(const VADDownloadStation&) = delete;

  // The stored block. Read refuses (false) another version, a truncated
  // block and a URL count the rest of the stream cannot hold; a refused read
  // leaves the queue empty and the other fields as they were.
  bool Read(TStream& stream);
  void Write(TStream& stream) const;

  // Clear, then the state of a station that never searched; the worker runs
  // again.
  void Reset();
  // Stops the worker, releases the pending tasks and empties the queue.
  void Clear();

  // Both take the station lock. StopWorker wakes the worker from its pause
  // and waits for it to end.
  void StartWorker();
  void StopWorker();
  bool IsWorkerRunning();

  // True when a search is pending; otherwise a search is asked for at the
  // next step and the answer is false.
  bool RequestUpdate();
  // One step of the worker.
  void Idle();

  int32_t GetMembershipState() const { return membershipState_; }
  float GetMembershipTimeLeft() const { return membershipTimeLeft_; }
  void SetMembership(int32_t state, float timeLeft);

  const Vak::String& LastReceivedFile() const { return lastReceivedFile_; }
  uint64_t LastSearchTime() const { return lastSearchTime_; }
  const DownloadStationUrlList& Queue() const { return queue_; }
  // Adds a URL at the end of the queue unless an equal one is queued.
  void Enqueue(const UrlRecord& url);
  bool IsRetryPending() const { return retryPending_; }
  // Steps the worker has finished since it last started.
  uint64_t WorkerSteps() const { return workerSteps_.load(std::memory_order_acquire); }

private:
  static unsigned WorkerMain(void* context);
  void ReleaseTasks();

  // Start and stop of the worker.
  Vak::CriticalSection stationLock_{"VADDownloadStation"};
  std::unique_ptr<Vak::Thread> worker_;
  std::atomic<bool> workerRunning_{false};
  // Set to end the worker's pause early.
  Vak::WEvent stopEvent_{true, false};
  const unsigned long pauseMs_;
  std::atomic<uint64_t> workerSteps_{0};
  bool enabled_ = true;

  DownloadTask* searchTask_ = nullptr;
  DownloadTask* listTask_ = nullptr;
  DownloadTask* membershipTask_ = nullptr;

  Vak::String lastReceivedFile_{"0"};
  uint64_t lastSearchTime_ = 0;
  bool retryPending_ = false;
  // On the application clock.
  float retryTime_ = 0;
  DownloadStationUrlList queue_;
  int32_t membershipState_ = kMembershipNone;
  float membershipTimeLeft_ = 0;
};
