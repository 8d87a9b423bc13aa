#pragma once
// One URL fetched on its own thread, shared by the callers that hold it. The
// fetching itself comes with the download manager; what is here is the hold
// count that the station, the look-ups and the asset index give back.
#include <atomic>
#include <cstdint>

class DownloadTask {
public:
  // Created with one hold, the requester's.
  DownloadTask() = default;
  virtual ~DownloadTask() = default;
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  void Hold() { useCount_.fetch_add(1, std::memory_order_relaxed); }
  // Drops one hold; a null task is ignored. The download manager retires a
  // task nobody holds, so the task outlives its last release.
  static void Release(DownloadTask* task);
  // The callers holding the task.
  int32_t UseCount() const { return useCount_.load(std::memory_order_relaxed); }

private:
  std::atomic<int32_t> useCount_{1};
};

// Releases the task a slot holds and empties the slot.
inline void ReleaseTask(DownloadTask*& slot) {
  DownloadTask::Release(slot);
  slot = nullptr;
}
