#include "net/WebServiceLogin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Time.h"
#include "content/AppGlobals.h"
#include "content/VelmarEx.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/TextReply.h"
#include "net/WebService.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

struct LoginState {
  Vak::CriticalSection lock{"WebServiceLogin"};
  Vak::String sessionCookie;  // under the lock
  bool listDownloads = false; // under the lock
};

LoginState& TheLoginState() {
  static LoginState* const state = new LoginState;
  return *state;
}

constexpr float kClientVersion = 3.1f;
constexpr unsigned long kReadyStepMs = 100;

void PublishLoginTime(int64_t time) {
  SetServerTime(time);
  if (ServerTimeHandler handler = GetServerTimeHandler()) handler(time);
}

} // namespace

Vak::String GetSessionCookie() {
  LoginState& s = TheLoginState();
  Vak::SingleLock hold(&s.lock, true);
  return s.sessionCookie;
}

bool IsListDownloadAllowed() {
  LoginState& s = TheLoginState();
  Vak::SingleLock hold(&s.lock, true);
  return s.listDownloads;
}

void ResetLoginState() {
  LoginState& s = TheLoginState();
  Vak::SingleLock hold(&s.lock, true);
  s.sessionCookie = "";
  s.listDownloads = false;
}

Vak::String PercentEncode(const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return Vak::String(out.c_str());
}

Vak::String LoginQuery(const char* user, const char* password, int screenWidth, int betaPatch) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "&screenwidth=%d&language=english&version=%.2f&betapatch=%d", screenWidth,
                static_cast<double>(kClientVersion), betaPatch);
  std::string query = kLoginPath;
  query += "?username=";
  query += static_cast<const char*>(PercentEncode(user));
  query += "&password=";
  query += static_cast<const char*>(PercentEncode(password));
  query += numbers;
  return Vak::String(query.c_str());
}

void DownloadTask::DoQuillnetLogin() {
  VelmarLogError("DownloadTask::DoQuillnetLogin> logging in to quillnet");
  // Nothing in these programs may ever signal readiness: wait only while
  // someone still wants the login.
  while (!IsLoginReady()) {
    if (ShouldStop()) return Fail(kErrorCancelled);
    LoginReadyEvent().Lock(kReadyStepMs);
  }
  auto* connection = new HTTPConnection(UrlRecord(WebServiceUrl("https", kLoginPath).c_str()));
  SetConnection(connection);

  Vak::PString proxyHost;
  uint16_t proxyPort = 0;
  manager_.ProxyOf(false, proxyHost, proxyPort);
  connection->SetTransport(
      new SSLTransport(WebServiceHostName().c_str(), WebServicePort(), proxyHost.c_str(), proxyPort));
  if (connection->GetStatus() == 1) Fail(kErrorProxy);

  const Vak::String query = LoginQuery(GetLoginUserName(), GetLoginPassword(), GetScreenWidth(),
                                       GetBetaPatch());
  connection->SendGet("%s", static_cast<const char*>(query));
  if (!connection->ReadResponseHeader()) {
    Fail(IsCancelled() ? kErrorCancelled : connection->GetStatus());
  } else {
    connection->ReadBody(resultFile_);
    manager_.SaveCookies(*connection);
    ACSChunkPtr reply = LoadTextReply(resultFile_);
    reply.MakeContainer();
    int64_t serverTime = 0;
    bool haveTime = false;
    const Vak::PString date = reply.GetChildString(Vak::PString("date"));
    if (date.Length() != 0) {
      serverTime = std::strtoll(date.c_str(), nullptr, 10);
      haveTime = true;
    }
    const int32_t latestBuild = reply.GetChildInt(Vak::PString("latestbuild"), 0);
    if (latestBuild != 0) {
      SetBuildNumber(static_cast<uint32_t>(latestBuild));
      if (LatestBuildHandler handler = GetLatestBuildHandler()) handler(static_cast<uint32_t>(latestBuild));
    }
    LoginState& s = TheLoginState();
    if (!reply.HasChild(Vak::PString("cookie"))) {
      VelmarLogError("DownloadTask::DoQuillnetLogin> invalid username/password specified");
      Fail(kErrorRefused);
      {
        Vak::SingleLock hold(&s.lock, true);
        s.listDownloads = false;
      }
      PublishLoginTime(-1);
    } else {
      {
        Vak::SingleLock hold(&s.lock, true);
        s.sessionCookie = reply.GetChildString(Vak::PString("cookie")).c_str();
        s.listDownloads = true;
      }
      PublishLoginTime(haveTime ? serverTime : static_cast<int64_t>(Vak::Time::TimeStamp()));
      state_.store(kDone);
    }
  }
  ReleaseConnection(0);
}
