#pragma once
// The process-wide owner of download tasks, pooled connections, cookies per
// host and the download cache. The programs never create it: the pointer
// stays null, every caller tests it, and no transfer starts. Tests and the
// bench create one through the owner interface (Create, the proxies, the
// download folder) and destroy it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/ACSChunkPtr.h"
#include "net/DownloadCache.h"
#include "net/HTTPConnection.h"
#include "net/UrlRecord.h"

class DownloadTask;
class FTPConnection;

// The pauses of the manager and its tasks (100 and 50 ms between rounds of
// a request, 20 ms steps while a task is retired) go through this; tests
// replace it. Null restores the real sleep.
using DownloadSleepFunction = void (*)(unsigned long milliseconds);
void SetDownloadSleep(DownloadSleepFunction sleep);
void DownloadSleep(unsigned long milliseconds);

class DownloadManager {
public:
  static constexpr int kHTTPSlots = 10;
  static constexpr int kFTPSlots = 5;
  static constexpr int kMaxIdleHTTP = 10;
  static constexpr unsigned long kRoundPauseMs = 100;
  static constexpr unsigned long kRoundSettleMs = 50;
  static constexpr unsigned long kRetireStepMs = 20;
  // Cache changes wait at most this long for Pump to save them.
  static constexpr unsigned long kCacheSaveIntervalMs = 1000;

  // Null while no download manager exists.
  static DownloadManager* Instance();

  // Owner interface. Create makes the process-wide manager over the
  // download folder (made when missing) and loads its cache; null when one
  // exists already or the folder is unusable. Destroy shuts it down: it
  // cancels every task, waits for their threads and frees everything.
  static DownloadManager* Create(const char* downloadFolder);
  static void Destroy();
  // An empty host means none.
  void SetHTTPProxy(const char* host, uint16_t port);
  void SetFTPProxy(const char* host, uint16_t port);
  const char* GetDownloadFolder() const { return folder_; }

  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // The task for the URL with one more hold; null when the manager shuts
  // down or `maxRounds` rounds (-1: no limit) found only a task being
  // retired. A form makes a POST, which is never shared.
  DownloadTask* Request(const UrlRecord& url, int32_t flags, int32_t maxRounds,
                        const ACSChunkPtr& form = ACSChunkPtr());
  DownloadTask* Request(const char* url, int32_t flags, int32_t maxRounds) {
    return Request(UrlRecord(url), flags, maxRounds);
  }
  // Retires finished tasks nobody holds; saves the cache's changes when the
  // last save is a save interval old.
  void Pump();
  // Removes the cache entries of the URLs queued for purging.
  void ProcessQueue();
  void QueuePurge(const UrlRecord& url);

  // The per-host cookie store.
  void SaveCookies(const HTTPConnection& connection);
  bool LoadCookies(HTTPConnection& connection);

  bool IsShuttingDown() const;
  bool IsLoggedIn() const;
  void SetLoggedIn(bool loggedIn);

  // For tests: the idle connections kept.
  int IdleHTTPCount();
  bool HasIdleHTTP(const UrlRecord& url);
  int IdleFTPCount();

private:
  friend class DownloadTask;
  explicit DownloadManager(const char* folder);
  ~DownloadManager();

  // Under the download lock.
  HTTPConnection* AcquireHTTPConnection(const UrlRecord& url);
  FTPConnection* AcquireFTPConnection(const UrlRecord& url, int32_t& status);
  void PoolConnection(NetConnection* connection, int mode, const UrlRecord& url);
  // Cache access for the tasks, under the download lock.
  DownloadCache::Hit CacheLookup(const UrlRecord& url, Vak::File::Path& file);
  void CacheStore(const UrlRecord& url, const char* file, bool complete);
  void ProxyOf(bool ftp, Vak::PString& host, uint16_t& port);

  struct CookieRecord {
    UrlRecord host;
    HTTPCookieJar jar;
  };
  struct IdleFTP {
    UrlRecord key;
    FTPConnection* connection;
  };

  Vak::File::Path folder_;
  Vak::CriticalSection lock_{"DownloadManager"};
  Vak::Semaphore httpSlots_{kHTTPSlots, kHTTPSlots};
  Vak::Semaphore ftpSlots_{kFTPSlots, kFTPSlots};
  std::vector<DownloadTask*> active_;
  std::vector<DownloadTask*> finished_;
  std::vector<DownloadTask*> stale_;  // finished, their file gone: for Pump to retire
  std::vector<CookieRecord> cookies_;
  std::vector<HTTPConnection*> idleHTTP_;
  std::vector<IdleFTP> idleFTP_;
  Vak::PString httpProxyHost_;
  uint16_t httpProxyPort_ = 0;
  Vak::PString ftpProxyHost_;
  uint16_t ftpProxyPort_ = 0;
  bool shuttingDown_ = false;
  bool loggedIn_ = false;
  ACSChunkPtr purgeQueue_;
  DownloadCache cache_;
  unsigned long lastCacheSave_ = 0;
};
