#pragma once
// One URL fetched on its own thread into a temporary file of the download
// folder, shared by the callers that hold it. The download manager creates
// tasks (DownloadManager::Request) and retires the ones nobody holds.
#include <atomic>
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"
#include "content/ACSChunkPtr.h"
#include "net/UrlRecord.h"

class DownloadManager;
class HTTPConnection;
class NetConnection;

class DownloadTask : public Vak::Thread {
public:
  enum State : int32_t { kCreated = 0, kToFetch = 1, kToResume = 2, kDone = 3, kFailed = 4 };
  // Flag bits.
  static constexpr int32_t kNoCache = 1;  // neither answered from nor kept in the cache
  static constexpr int32_t kNoShare = 2;  // never handed out again once finished
  enum Error : int32_t {
    kErrorProxy = 1,
    kErrorRefused = 3,
    kErrorNoFile = 4,
    kErrorCancelled = 5,
    kErrorUnknown = 8,
  };
  // Redirects followed before a task fails.
  static constexpr int kMaxRedirects = 20;
  // Attempts of a GET whose response could not be read at all.
  static constexpr int kMaxGetAttempts = 3;

  // Holds one hold (the requester's); the thread starts at once unless the
  // result is already there.
  DownloadTask(DownloadManager& manager, const UrlRecord& url, const ACSChunkPtr& form, int32_t flags);
  // Cancels and waits for the thread.
  ~DownloadTask() override;

  void Hold() { useCount_.fetch_add(1, std::memory_order_acq_rel); }
  // Drops one hold; a null task is ignored. The last release of a login task
  // cancels it. The manager retires a task nobody holds.
  static void Release(DownloadTask* task);
  int32_t UseCount() const { return useCount_.load(std::memory_order_acquire); }

  // Marks the task cancelled and closes its connection, which wakes a
  // transfer waiting on it.
  void Cancel();
  // Cancels and drops the caller's hold: the manager deletes the task and
  // its cache entry.
  void CancelAndDelete();
  bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }

  // 5 when cancelled; 0 unless failed; else the error, 8 when it is 0.
  int32_t GetError() const;
  // Done, or the thread no longer runs.
  bool IsFinished() const;
  // False unless done; else the result file and content type.
  bool GetResult(Vak::File::Path& path, Vak::PString& contentType) const;
  int32_t GetState() const { return state_.load(std::memory_order_acquire); }
  int32_t GetFlags() const { return flags_; }
  int32_t GetTotalSize() const { return totalSize_.load(std::memory_order_acquire); }
  bool IsSatisfied() const { return satisfied_; }
  const UrlRecord& GetRequestedUrl() const { return requestedUrl_; }
  // Changes on redirects; read it on the task's thread or once finished.
  const UrlRecord& GetCurrentUrl() const { return currentUrl_; }
  const char* GetResultFile() const { return resultFile_; }
  bool HasForm() const;

private:
  friend class DownloadManager;
  static unsigned Entry(void* self);
  void Run();
  // Picks the fetch by scheme; repeats after a re-targeting redirect.
  void Dispatch();
  enum class Outcome { kDone, kFailed, kRetarget };
  Outcome FetchHTTP(bool secure);
  Outcome FetchFTP();
  void DoQuillnetLogin();
  // The web-service session an HTTPS request needs; false (error set) when
  // it cannot be had.
  bool NeedLogin(HTTPConnection& connection);
  void HandleFileUrl();
  // Follows a redirect to `location` elsewhere: false (error 8) past the
  // hop limit or for a scheme other than http, https and ftp.
  bool Retarget(const UrlRecord& location);
  bool CountRedirect();
  void ChooseResultFile();
  void SetConnection(NetConnection* connection);
  // mode 0 drops the connection, 1 pools it as FTP, 2 as HTTP (callers
  // pool only a connection whose exchange ended cleanly).
  void ReleaseConnection(int mode);
  void Fail(int32_t error);
  // Holds a transfer semaphore, waiting in steps that end on cancel or
  // shutdown; false when it ended so.
  bool TakeSlot(Vak::Semaphore& semaphore);
  bool ShouldStop() const;

  DownloadManager& manager_;
  std::atomic<int32_t> state_{kCreated};
  std::atomic<int32_t> error_{2};
  char resultFile_[260] = {};
  Vak::PString contentType_;
  std::atomic<int32_t> useCount_{1};
  std::atomic<bool> cancelled_{false};
  Vak::CriticalSection lock_{"DownloadTask"};
  NetConnection* connection_ = nullptr;  // under lock_
  std::atomic<int32_t> totalSize_{0};
  ACSChunkPtr form_;
  bool satisfied_ = false;
  int32_t flags_;
  UrlRecord currentUrl_;
  UrlRecord requestedUrl_;
  int redirects_ = 0;
};

// Releases the task a slot holds and empties the slot.
inline void ReleaseTask(DownloadTask*& slot) {
  DownloadTask::Release(slot);
  slot = nullptr;
}

// The extension of a result file for a URL path: the text after the last
// '.' of the last path component, when it is letters and digits only;
// otherwise none ("").
std::string ResultFileExtension(const char* path);
