#include "net/DownloadTask.h"

#include <cctype>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "net/DownloadManager.h"
#include "net/FTPConnection.h"
#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/TCPTransport.h"
#include "net/WebService.h"

namespace {

bool IsScheme(const char* scheme, const char* name) { return Vak::CodePage::CompareIgnoreCase(scheme, name) == 0; }

// An empty scheme counts as "http".
const char* SchemeOf(const UrlRecord& url) { return url.scheme[0] ? url.scheme : "http"; }

// How long a task waits for a transfer slot or a login between looks at its
// cancel flag.
constexpr unsigned long kWaitStepMs = 100;

// Reads a response header; cookies it sets go to the host's store, for the
// host's later connections.
bool ReadHeaderKeepingCookies(DownloadManager& manager, HTTPConnection& connection) {
  const HTTPCookieJar before = connection;
  const bool read = connection.ReadResponseHeader();
  if (std::memcmp(&before, static_cast<const HTTPCookieJar*>(&connection), sizeof before) != 0)
    manager.SaveCookies(connection);
  return read;
}

} // namespace

std::string ResultFileExtension(const char* path) {
  if (!path) return {};
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  const char* dot = std::strrchr(name, '.');
  if (!dot || !dot[1]) return {};
  for (const char* p = dot + 1; *p; ++p)
    if (!std::isalnum(static_cast<unsigned char>(*p))) return {};
  return dot + 1;
}

DownloadTask::DownloadTask(DownloadManager& manager, const UrlRecord& url, const ACSChunkPtr& form, int32_t flags)
    : Vak::Thread(&DownloadTask::Entry, this, false),
      manager_(manager),
      form_(form),
      flags_(flags),
      currentUrl_(url),
      requestedUrl_(url) {
  if (HasForm() || url.query[0]) flags_ |= kNoCache;
  if (IsScheme(url.scheme, "file")) {
    HandleFileUrl();
    satisfied_ = true;
  } else if (flags_ & (kNoCache | kNoShare)) {
    ChooseResultFile();
    state_.store(kToFetch);
  } else {
    Vak::File::Path cached;
    switch (manager_.CacheLookup(url, cached)) {
    case DownloadCache::Hit::kComplete:
      std::strcpy(resultFile_, cached);
      state_.store(kDone);
      satisfied_ = true;
      break;
    case DownloadCache::Hit::kIncomplete:
      std::strcpy(resultFile_, cached);
      state_.store(kToResume);
      satisfied_ = true;
      break;
    case DownloadCache::Hit::kMiss:
      ChooseResultFile();
      state_.store(kToFetch);
      manager_.CacheStore(url, resultFile_, false);
      break;
    }
  }
  Resume();
}

DownloadTask::~DownloadTask() {
  Cancel();
  Lock();
  Vak::SingleLock hold(&lock_, true);
  delete connection_;
  connection_ = nullptr;
}

unsigned DownloadTask::Entry(void* self) {
  static_cast<DownloadTask*>(self)->Run();
  return 0;
}

void DownloadTask::Release(DownloadTask* task) {
  if (!task) return;
  if (task->useCount_.fetch_sub(1, std::memory_order_acq_rel) == 1 &&
      IsScheme(task->requestedUrl_.scheme, "qnlogin"))
    task->Cancel();
}

void DownloadTask::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  Vak::SingleLock hold(&lock_, true);
  if (connection_) connection_->Close();
}

void DownloadTask::CancelAndDelete() {
  Cancel();
  Release(this);
}

bool DownloadTask::HasForm() const { return form_.Get() && form_.GetChildCount() > 0; }

int32_t DownloadTask::GetError() const {
  if (IsCancelled()) return kErrorCancelled;
  if (GetState() != kFailed) return 0;
  const int32_t error = error_.load();
  return error != 0 ? error : kErrorUnknown;
}

bool DownloadTask::IsFinished() const { return GetState() == kDone || IsDone(); }

bool DownloadTask::GetResult(Vak::File::Path& path, Vak::PString& contentType) const {
  if (GetState() != kDone) return false;
  path = resultFile_;
  contentType = contentType_;
  return true;
}

bool DownloadTask::ShouldStop() const { return IsCancelled() || manager_.IsShuttingDown(); }

void DownloadTask::Fail(int32_t error) {
  error_.store(error);
  state_.store(kFailed);
}

void DownloadTask::ChooseResultFile() {
  const std::string ext = ResultFileExtension(currentUrl_.path);
  Vak::File::Path path;
  resultFile_[0] = 0;
  if (CreateTemporaryFilePath(Vak::PString(), manager_.GetDownloadFolder(), "dl", ext.empty() ? nullptr : ext.c_str(),
                              nullptr, path))
    std::strcpy(resultFile_, path);
}

void DownloadTask::Run() {
  if (!satisfied_ || GetState() == kToResume) Dispatch();
  if (GetState() != kDone) state_.store(kFailed);
}

bool DownloadTask::TakeSlot(Vak::Semaphore& semaphore) {
  while (!semaphore.Lock(kWaitStepMs))
    if (ShouldStop()) return false;
  return true;
}

void DownloadTask::Dispatch() {
  for (;;) {
    if (ShouldStop()) return Fail(kErrorCancelled);
    const char* scheme = SchemeOf(currentUrl_);
    Vak::PString ftpProxy;
    uint16_t ftpProxyPort = 0;
    manager_.ProxyOf(true, ftpProxy, ftpProxyPort);
    Outcome outcome = Outcome::kFailed;
    if (IsScheme(scheme, "ftp") && ftpProxy.Length() == 0) {
      if (!TakeSlot(manager_.ftpSlots_)) return Fail(kErrorCancelled);
      outcome = FetchFTP();
      manager_.ftpSlots_.Unlock();
    } else if (IsScheme(scheme, "http") || IsScheme(scheme, "https") || IsScheme(scheme, "ftp")) {
      if (!TakeSlot(manager_.httpSlots_)) return Fail(kErrorCancelled);
      outcome = FetchHTTP(IsScheme(scheme, "https"));
      manager_.httpSlots_.Unlock();
    } else if (IsScheme(scheme, "qnlogin")) {
      DoQuillnetLogin();
      return;
    } else {
      return;
    }
    if (outcome != Outcome::kRetarget) return;
    if (!(flags_ & (kNoCache | kNoShare))) {
      Vak::File::Path cached;
      if (manager_.CacheLookup(currentUrl_, cached) == DownloadCache::Hit::kComplete) {
        std::strcpy(resultFile_, cached);
        state_.store(kDone);
        return;
      }
    }
  }
}

bool DownloadTask::CountRedirect() {
  if (++redirects_ <= kMaxRedirects) return true;
  Fail(kErrorUnknown);
  return false;
}

bool DownloadTask::Retarget(const UrlRecord& location) {
  if (!CountRedirect()) return false;
  const char* scheme = SchemeOf(location);
  if (!IsScheme(scheme, "http") && !IsScheme(scheme, "https") && !IsScheme(scheme, "ftp")) {
    Fail(kErrorUnknown);
    return false;
  }
  {
    Vak::SingleLock hold(&manager_.lock_, true);
    currentUrl_ = location;
  }
  form_.Release();
  ChooseResultFile();
  state_.store(kCreated);
  return true;
}

void DownloadTask::SetConnection(NetConnection* connection) {
  Vak::SingleLock hold(&lock_, true);
  connection_ = connection;
  // A cancel that came before the connection was known still ends it.
  if (connection_ && IsCancelled()) connection_->Close();
}

void DownloadTask::ReleaseConnection(int mode) {
  NetConnection* connection;
  {
    Vak::SingleLock hold(&lock_, true);
    connection = connection_;
    connection_ = nullptr;
  }
  if (!connection) return;
  const int32_t size = connection->GetExpectedLength();
  if (size != 0) totalSize_.store(size);
  if (!IsCancelled() && (mode == 1 || mode == 2)) {
    manager_.PoolConnection(connection, mode, currentUrl_);
  } else {
    delete connection;
  }
}

DownloadTask::Outcome DownloadTask::FetchHTTP(bool secure) {
  if (secure && !IsWebServiceHost(currentUrl_)) {
    Fail(kErrorUnknown);
    return Outcome::kFailed;
  }
  Vak::PString proxyHost;
  uint16_t proxyPort = 0;
  manager_.ProxyOf(false, proxyHost, proxyPort);
  for (int attempt = 1;; ++attempt) {
    HTTPConnection* connection = manager_.AcquireHTTPConnection(currentUrl_);
    if (!connection->GetTransport()) {
      if (secure) {
        connection->SetTransport(new SSLTransport(currentUrl_.host, currentUrl_.GetPort(), proxyHost.c_str(), proxyPort));
      } else {
        connection->SetTransport(new TCPTransport(currentUrl_.host, currentUrl_.GetPort(), proxyHost.c_str(), proxyPort));
      }
      if (proxyHost.Length() != 0 && connection->GetStatus() != 0) {
        delete connection;
        Fail(kErrorProxy);
        return Outcome::kFailed;
      }
    }
    SetConnection(connection);
    if (secure && !NeedLogin(*connection)) {
      ReleaseConnection(0);
      return Outcome::kFailed;
    }
    const bool post = HasForm();
    if (post) {
      if (connection->GetStatus() == 0) connection->SendPostMultipart(currentUrl_.PathAndQuery().c_str(), form_);
    } else {
      connection->SendGet("%s", currentUrl_.PathAndQuery().c_str());
    }
    bool headerRead = ReadHeaderKeepingCookies(manager_, *connection);
    if (!headerRead && !post && !secure && connection->GetResponseState() == HTTPConnection::kUnreadable &&
        attempt < kMaxGetAttempts && !ShouldStop()) {
      // A pooled connection the server closed meanwhile: once more on a new one.
      ReleaseConnection(0);
      continue;
    }
    // A redirect's body is not the result: one of no bytes does not fail it.
    auto readBody = [&] {
      return connection->ReadBody(resultFile_) ||
             (connection->GetResponseState() == HTTPConnection::kRedirect && connection->GetStatus() == 0);
    };
    bool ok = headerRead && (readBody() || post);
    // Redirects to the same server are followed on this connection.
    while (ok && connection->GetResponseState() == HTTPConnection::kRedirect) {
      UrlRecord location(static_cast<const char*>(connection->GetLocation()));
      location.Merge(currentUrl_);
      const bool sameServer = IsScheme(SchemeOf(location), secure ? "https" : "http") &&
                              Vak::CodePage::CompareIgnoreCase(location.host, currentUrl_.host) == 0 &&
                              location.GetPort() == currentUrl_.GetPort();
      if (!sameServer) {
        if (secure && !IsScheme(SchemeOf(location), "https") && IsWebServiceHost(currentUrl_))
          manager_.SetLoggedIn(true);
        // Its response was read whole, so it can serve another request.
        ReleaseConnection(connection->IsClosed() ? 0 : 2);
        return Retarget(location) ? Outcome::kRetarget : Outcome::kFailed;
      }
      if (!CountRedirect()) {
        ReleaseConnection(0);
        return Outcome::kFailed;
      }
      {
        Vak::SingleLock hold(&manager_.lock_, true);
        currentUrl_ = location;
      }
      if (ShouldStop()) break;
      connection->SendGet("%s", location.PathAndQuery().c_str());
      ok = ReadHeaderKeepingCookies(manager_, *connection) && readBody();
    }
    if (ok && !ShouldStop()) {
      if (!(flags_ & (kNoCache | kNoShare))) manager_.CacheStore(requestedUrl_, resultFile_, true);
      state_.store(kDone);
      ReleaseConnection(connection->IsClosed() ? 0 : 2);
      return Outcome::kDone;
    }
    Fail(IsCancelled() ? kErrorCancelled : connection->GetStatus());
    ReleaseConnection(0);
    return Outcome::kFailed;
  }
}

DownloadTask::Outcome DownloadTask::FetchFTP() {
  int32_t status = 0;
  FTPConnection* connection = manager_.AcquireFTPConnection(currentUrl_, status);
  if (!connection) {
    Fail(IsCancelled() ? kErrorCancelled : status);
    return Outcome::kFailed;
  }
  SetConnection(connection);
  // A resumed download's result file is the incomplete one the cache names.
  int32_t offset = 0;
  Vak::File partial;
  if (GetState() == kToResume && partial.Open(resultFile_, Vak::File::kReadStored).Ok())
    offset = static_cast<int32_t>(partial.Size());
  partial.Close();
  if (connection->Download(offset, currentUrl_.path, resultFile_) && !ShouldStop()) {
    state_.store(kDone);
    ReleaseConnection(1);
    return Outcome::kDone;
  }
  Fail(IsCancelled() ? kErrorCancelled : connection->GetStatus());
  ReleaseConnection(0);
  return Outcome::kFailed;
}

void DownloadTask::HandleFileUrl() {
  if (!IsScheme(currentUrl_.host, "velmar")) return Fail(kErrorNoFile);
  const char* path = currentUrl_.path;
  Vak::File::Path resolved;
  // The path names a file as written, or (a leading '/' being a root here)
  // as an absolute path.
  if (path[0] == '/' && path[1] && Vak::File::Exists(path + 1).Ok()) {
    resolved = path + 1;
  } else if (path[0] == '/' && path[1] && Vak::File::Exists(path).Ok()) {
    resolved = path;
  } else {
    FileUrlResolver resolver = GetFileUrlResolver();
    if (!resolver || !resolver(contentType_.c_str(), path, resolved)) return Fail(kErrorNoFile);
  }
  std::strcpy(resultFile_, resolved);
  Vak::File file;
  const bool opened = contentType_.Length() != 0
                          ? file.Open(contentType_, resultFile_, Vak::File::kRead).Ok()
                          : file.Open(resultFile_, Vak::File::kReadStored).Ok();
  if (!opened || file.Size() == 0) return Fail(kErrorNoFile);
  state_.store(kDone);
}

bool DownloadTask::NeedLogin(HTTPConnection& connection) {
  if (manager_.IsLoggedIn()) {
    if (manager_.LoadCookies(connection)) return true;
    manager_.SetLoggedIn(false);
  }
  DownloadTask* login = manager_.Request("qnlogin://", kNoShare, -1);
  if (!login) {
    Fail(kErrorUnknown);
    return false;
  }
  // Each step ends early when the login's thread does.
  while (!ShouldStop() && !login->IsFinished()) login->Lock(kWaitStepMs);
  const int32_t state = login->GetState();
  const int32_t error = login->GetError();
  Release(login);
  if (ShouldStop()) {
    Fail(kErrorCancelled);
    return false;
  }
  if (state != kDone) {
    Fail(error != 0 ? error : kErrorUnknown);
    return false;
  }
  manager_.SetLoggedIn(true);
  manager_.LoadCookies(connection);
  return true;
}
