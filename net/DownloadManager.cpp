#include "net/DownloadManager.h"

#include <algorithm>
#include <atomic>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Time.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "net/DownloadTask.h"
#include "net/FTPConnection.h"
#include "net/TCPTransport.h"
#include "platform/os/FileSystem.h"

namespace {

std::atomic<DownloadManager*> gManager{nullptr};

void RealSleep(unsigned long milliseconds) { Vak::Time::Delay(milliseconds); }
std::atomic<DownloadSleepFunction> gSleep{&RealSleep};

bool IsScheme(const UrlRecord& url, const char* scheme) {
  return Vak::CodePage::CompareIgnoreCase(url.scheme, scheme) == 0;
}

// Lets tasks finish without the download lock, which their threads may
// need. Every thread ends before any task goes: at shutdown a task may still
// be reading another it holds (a request waiting for the login).
void RetireTasks(std::vector<DownloadTask*>& tasks) {
  for (DownloadTask* task : tasks) task->Cancel();
  for (DownloadTask* task : tasks)
    while (!task->IsDone()) DownloadSleep(DownloadManager::kRetireStepMs);
  for (DownloadTask* task : tasks) delete task;
  tasks.clear();
}

} // namespace

void SetDownloadSleep(DownloadSleepFunction sleep) { gSleep.store(sleep ? sleep : &RealSleep); }
void DownloadSleep(unsigned long milliseconds) { gSleep.load()(milliseconds); }

DownloadManager* DownloadManager::Instance() { return gManager.load(std::memory_order_acquire); }

DownloadManager* DownloadManager::Create(const char* downloadFolder) {
  if (Instance() || !downloadFolder || !*downloadFolder) return nullptr;
  Vak::File::Path folder;
  if (!folder.Set(downloadFolder)) return nullptr;
  if (folder.Length() > 1) folder.DelSlash();
  if (!MakeFolderPath(Vak::PString(), folder)) return nullptr;
  auto* manager = new DownloadManager(folder);
  DownloadManager* expected = nullptr;
  if (!gManager.compare_exchange_strong(expected, manager)) {
    delete manager;
    return nullptr;
  }
  return manager;
}

void DownloadManager::Destroy() {
  DownloadManager* manager = gManager.exchange(nullptr);
  delete manager;
}

DownloadManager::DownloadManager(const char* folder) : folder_(folder) {
  purgeQueue_.MakeContainer();
  cache_.Load(folder_);
  // Two rewrites a download, each synced, cost more than a small download:
  // changes are saved by Pump at most once per interval, and at the end.
  cache_.DeferSaves(true);
  lastCacheSave_ = Vak::Time::Ms();
}

DownloadManager::~DownloadManager() {
  std::vector<DownloadTask*> tasks;
  {
    Vak::SingleLock hold(&lock_, true);
    shuttingDown_ = true;
    tasks.swap(active_);
    tasks.insert(tasks.end(), finished_.begin(), finished_.end());
    tasks.insert(tasks.end(), stale_.begin(), stale_.end());
    finished_.clear();
    stale_.clear();
  }
  RetireTasks(tasks);
  Vak::SingleLock hold(&lock_, true);
  cache_.Flush();
  for (HTTPConnection* connection : idleHTTP_) delete connection;
  idleHTTP_.clear();
  for (IdleFTP& idle : idleFTP_) delete idle.connection;
  idleFTP_.clear();
}

void DownloadManager::SetHTTPProxy(const char* host, uint16_t port) {
  Vak::SingleLock hold(&lock_, true);
  httpProxyHost_ = host ? host : "";
  httpProxyPort_ = port;
}

void DownloadManager::SetFTPProxy(const char* host, uint16_t port) {
  Vak::SingleLock hold(&lock_, true);
  ftpProxyHost_ = host ? host : "";
  ftpProxyPort_ = port;
}

void DownloadManager::ProxyOf(bool ftp, Vak::PString& host, uint16_t& port) {
  Vak::SingleLock hold(&lock_, true);
  host = ftp ? ftpProxyHost_ : httpProxyHost_;
  port = ftp ? ftpProxyPort_ : httpProxyPort_;
}

bool DownloadManager::IsShuttingDown() const {
  Vak::SingleLock hold(const_cast<Vak::CriticalSection*>(&lock_), true);
  return shuttingDown_;
}

bool DownloadManager::IsLoggedIn() const {
  Vak::SingleLock hold(const_cast<Vak::CriticalSection*>(&lock_), true);
  return loggedIn_;
}

void DownloadManager::SetLoggedIn(bool loggedIn) {
  Vak::SingleLock hold(&lock_, true);
  loggedIn_ = loggedIn;
}

DownloadTask* DownloadManager::Request(const UrlRecord& url, int32_t flags, int32_t maxRounds, const ACSChunkPtr& form) {
  Vak::SingleLock hold(&lock_, true);
  if (shuttingDown_) return nullptr;
  const bool post = form.Get() && form.GetChildCount() > 0;
  for (int32_t rounds = 0; maxRounds < 0 || rounds <= maxRounds;) {
    if (!(flags & DownloadTask::kNoShare) && !post) {
      for (auto it = finished_.begin(); it != finished_.end(); ++it) {
        DownloadTask* task = *it;
        if (!task->HasForm() && task->GetRequestedUrl().Equals(url)) {
          finished_.erase(it);
          // A purge may have taken its file: such a task is retired by the
          // next Pump and the URL fetched afresh.
          if (!platform::Exists(task->GetResultFile())) {
            stale_.push_back(task);
            break;
          }
          active_.push_back(task);
          task->Hold();
          return task;
        }
      }
    }
    DownloadTask* found = nullptr;
    if (!post) {
      for (DownloadTask* task : active_)
        if (!task->HasForm() && task->GetRequestedUrl().Equals(url)) found = task;
    }
    if (!found) {
      auto* task = new DownloadTask(*this, url, form, flags);
      active_.push_back(task);
      return task;
    }
    if (!found->IsCancelled() && found->GetState() != DownloadTask::kFailed) {
      found->Hold();
      return found;
    }
    // The task found is being retired: wait for it to go.
    hold.Unlock();
    if (IsMainThread()) {
      Pump();
    } else {
      DownloadSleep(kRoundPauseMs);
    }
    ++rounds;
    DownloadSleep(kRoundSettleMs);
    hold.Lock();
    if (shuttingDown_) break;
  }
  return nullptr;
}

void DownloadManager::Pump() {
  std::vector<DownloadTask*> retired;
  {
    Vak::SingleLock hold(&lock_, true);
    retired.swap(stale_);
    for (size_t i = active_.size(); i-- > 0;) {
      DownloadTask* task = active_[i];
      if (task->UseCount() > 0 || !task->IsFinished()) continue;
      active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
      if (task->GetState() != DownloadTask::kDone || task->IsCancelled() || (task->GetFlags() & DownloadTask::kNoShare)) {
        if (!IsScheme(task->GetRequestedUrl(), "ftp")) cache_.Remove(task->GetRequestedUrl(), task->GetResultFile());
        retired.push_back(task);
      } else {
        finished_.push_back(task);
      }
    }
    if (Vak::Time::Ms() - lastCacheSave_ >= kCacheSaveIntervalMs) {
      cache_.Flush();
      lastCacheSave_ = Vak::Time::Ms();
    }
  }
  RetireTasks(retired);
}

void DownloadManager::QueuePurge(const UrlRecord& url) {
  std::string key;
  if (!DownloadCache::Key(url, key)) return;
  Vak::SingleLock hold(&lock_, true);
  purgeQueue_.SetChildNull(Vak::PString(key.c_str()));
}

void DownloadManager::ProcessQueue() {
  Vak::SingleLock hold(&lock_, true);
  for (int i = 0; i < purgeQueue_.GetChildCount(); ++i) cache_.Remove(UrlRecord(purgeQueue_.GetChildName(i).c_str()));
  cache_.Flush();
  purgeQueue_.Release();
  purgeQueue_.MakeContainer();
}

void DownloadManager::SaveCookies(const HTTPConnection& connection) {
  Vak::SingleLock hold(&lock_, true);
  const UrlRecord key = UrlRecord::HostKey(connection.GetPeer());
  for (CookieRecord& record : cookies_) {
    if (Vak::CodePage::CompareIgnoreCase(record.host.host, key.host) == 0) {
      record.host = key;
      record.jar = connection;
      return;
    }
  }
  cookies_.push_back({key, connection});
}

bool DownloadManager::LoadCookies(HTTPConnection& connection) {
  Vak::SingleLock hold(&lock_, true);
  for (const CookieRecord& record : cookies_) {
    if (Vak::CodePage::CompareIgnoreCase(record.host.host, connection.GetPeer().host) == 0) {
      static_cast<HTTPCookieJar&>(connection) = record.jar;
      return true;
    }
  }
  return false;
}

// An idle connection is taken out of its pool under the download lock and
// probed after it: a probe waits on the peer, and every task needs the lock.
HTTPConnection* DownloadManager::AcquireHTTPConnection(const UrlRecord& url) {
  const UrlRecord key = UrlRecord::HostKey(url);
  HTTPConnection* idle = nullptr;
  {
    Vak::SingleLock hold(&lock_, true);
    const auto it = std::find_if(idleHTTP_.begin(), idleHTTP_.end(),
                                 [&key](HTTPConnection* c) { return c->GetPeer().Equals(key); });
    if (it != idleHTTP_.end()) {
      idle = *it;
      idleHTTP_.erase(it);
    }
  }
  if (idle) {
    // A connection the server has dropped shows when its probe fails;
    // servers skip empty lines before a request.
    if (!idle->IsClosed() && idle->SendFormatted("\r\n") && idle->SendFormatted("\r\n")) return idle;
    delete idle;
  }
  {
    Vak::SingleLock hold(&lock_, true);
    if (idleHTTP_.size() >= static_cast<size_t>(kMaxIdleHTTP)) {
      delete idleHTTP_.front();
      idleHTTP_.erase(idleHTTP_.begin());
    }
  }
  auto* connection = new HTTPConnection(key);
  LoadCookies(*connection);
  return connection;
}

FTPConnection* DownloadManager::AcquireFTPConnection(const UrlRecord& url, int32_t& status) {
  const UrlRecord key = UrlRecord::HostKey(url);
  FTPConnection* idle = nullptr;
  {
    Vak::SingleLock hold(&lock_, true);
    const auto it =
        std::find_if(idleFTP_.begin(), idleFTP_.end(), [&key](const IdleFTP& i) { return i.key.Equals(key); });
    if (it != idleFTP_.end()) {
      idle = it->connection;
      idleFTP_.erase(it);
    }
  }
  if (idle) {
    if (idle->CheckAlive()) return idle;
    delete idle;
  }
  Vak::PString proxyHost;
  uint16_t proxyPort = 0;
  ProxyOf(true, proxyHost, proxyPort);
  auto* connection = new FTPConnection(new TCPTransport(url.host, url.GetPort(), proxyHost.c_str(), proxyPort));
  if (connection->GetStatus() == 0 && connection->Login(url.user, url.password)) return connection;
  status = connection->GetStatus();
  delete connection;
  return nullptr;
}

void DownloadManager::PoolConnection(NetConnection* connection, int mode, const UrlRecord& url) {
  Vak::SingleLock hold(&lock_, true);
  if (mode == 1 && !shuttingDown_) {
    idleFTP_.push_back({UrlRecord::HostKey(url), static_cast<FTPConnection*>(connection)});
  } else if (mode == 2 && !shuttingDown_) {
    idleHTTP_.push_back(static_cast<HTTPConnection*>(connection));
  } else {
    delete connection;
  }
}

DownloadCache::Hit DownloadManager::CacheLookup(const UrlRecord& url, Vak::File::Path& file) {
  Vak::SingleLock hold(&lock_, true);
  return cache_.Lookup(url, file);
}

void DownloadManager::CacheStore(const UrlRecord& url, const char* file, bool complete) {
  Vak::SingleLock hold(&lock_, true);
  cache_.Store(url, file, complete);
}

int DownloadManager::IdleHTTPCount() {
  Vak::SingleLock hold(&lock_, true);
  return static_cast<int>(idleHTTP_.size());
}

bool DownloadManager::HasIdleHTTP(const UrlRecord& url) {
  const UrlRecord key = UrlRecord::HostKey(url);
  Vak::SingleLock hold(&lock_, true);
  for (HTTPConnection* connection : idleHTTP_)
    if (connection->GetPeer().Equals(key)) return true;
  return false;
}

int DownloadManager::IdleFTPCount() {
  Vak::SingleLock hold(&lock_, true);
  return static_cast<int>(idleFTP_.size());
}
