#pragma once
// The client state of the content server's download station: the last asset
// list received, when the server was last searched, the asset-list URLs still
// to fetch, and the membership state. The asset database stores it inside the
// asset index file. A worker thread steps the station every 500 ms; while no
// download manager exists a step does nothing.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "content/ACSChunkPtr.h"
#include "content/ChunkedList.h"
#include "content/KUID.h"
#include "net/UrlRecord.h"

class DownloadTask;
class VADLock;
class TStream;

// One line of an asset list: "<KUID> <kind> <number> <name...>"; the kind
// and the name point into the line.
struct AssetListLine {
  KUID kuid;
  std::string_view kind;
  int64_t number = 0;
  std::string_view name;
};
// False for a line to skip: empty, a KUID that parses to the null KUID, or
// no decimal number in third place. The name is the rest of the line
// without surrounding blanks.
bool ParseAssetListLine(const char* line, std::size_t length, AssetListLine& out);

// What a search reply says: the list the server last made and the URLs of
// the lists to fetch, in order; false (nothing taken) without "timestamp".
bool ReadSearchReply(const ACSChunkPtr& reply, Vak::String& timestamp, std::vector<UrlRecord>& urls);

using DownloadStationUrlList = ChunkedList<UrlRecord, 13>;

class VADDownloadStation {
public:
  static constexpr uint32_t kFormatVersion = 1;
  static constexpr unsigned long kStepPauseMs = 500;
  // The fewest bytes one queued URL takes in the block: its length word.
  static constexpr uint32_t kSmallestUrl = 4;

  // Seconds of the application clock before a failed transfer is tried
  // again; time-stamp units between two searches.
  static constexpr float kRetrySeconds = 120.0f;
  static constexpr uint64_t kSearchGap = 21600;
  // An asset list pauses this long after each run of lines.
  static constexpr unsigned kLinesPerPause = 256;
  static constexpr unsigned long kLinePauseMs = 10;
  static constexpr uint32_t kListPieceBytes = 512 * 1024;
  static constexpr int32_t kSecondsPerDay = 86400;
  static constexpr int32_t kInfiniteDays = 1000;

  enum MembershipState : int32_t { kMembershipNone = 0, kMembershipActive = 2, kMembershipSuspended = 3 };

  // Seams for tests and the bench: the time stamp searches are spaced by
  // and the pause between runs of list lines. Null restores the real one.
  using TimeStampFunction = uint64_t (*)();
  using PauseFunction = void (*)(unsigned long milliseconds);
  void SetTimeStampSource(TimeStampFunction source) { timeStamp_ = source ? source : DefaultTimeStamp; }
  void SetLinePause(PauseFunction pause) { pause_ = pause ? pause : DefaultPause; }

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
  // One step of the worker: polls the search, list and membership
  // requests, starts what is due, under the index lock (not taken, and
  // nothing done, without a download manager).
  void Idle();

  // The steps, each also run on its own by tests.
  void BeginAssetUpdateSearch();
  void ParseSearchResults(const char* replyFile, const char* contentType);
  void ParseStarfareResult(const char* replyFile, const char* contentType);
  // Merges a gzip-compressed asset list into the asset index; false when
  // the worker, told to stop, gave it up half-way.
  bool LoadAssetList(const char* path);

  int32_t GetMembershipState() const { return membershipState_; }
  float GetMembershipTimeLeft() const { return membershipTimeLeft_; }
  void SetMembership(int32_t state, float timeLeft);

  const Vak::String& LastReceivedFile() const { return lastReceivedFile_; }
  uint64_t LastSearchTime() const { return lastSearchTime_; }
  const DownloadStationUrlList& Queue() const { return queue_; }
  // Adds a URL at the end of the queue unless an equal one is queued.
  void Enqueue(const UrlRecord& url);
  bool IsRetryPending() const { return retryPending_; }
  float RetryTime() const { return retryTime_; }
  bool HasSearchTask() const { return searchTask_ != nullptr; }
  bool HasListTask() const { return listTask_ != nullptr; }
  bool HasMembershipTask() const { return membershipTask_ != nullptr; }
  // Steps the worker has finished since it last started.
  uint64_t WorkerSteps() const { return workerSteps_.load(std::memory_order_acquire); }

private:
  static unsigned WorkerMain(void* context);
  static uint64_t DefaultTimeStamp();
  static void DefaultPause(unsigned long milliseconds);
  void ReleaseTasks();
  // Idle's polls of the search and list requests; the list's returns true
  // when the step ends there.
  void PollSearch(float clock);
  bool PollList(VADLock& lock, float clock);
  void PollMembership();
  // The exclusive index lock; false when the worker gave up waiting for it
  // because it is told to stop.
  bool LockIndex(VADLock& lock);
  std::atomic<std::thread::id> workerThread_{};

  TimeStampFunction timeStamp_ = DefaultTimeStamp;
  PauseFunction pause_ = DefaultPause;

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
