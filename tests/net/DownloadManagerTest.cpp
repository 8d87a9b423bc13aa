#include "net/DownloadManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>

#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Time.h"
#include "content/AppGlobals.h"
#include "net/DownloadTask.h"
#include "net/DownloadUpdateSource.h"
#include "net/FTPConnection.h"
#include "net/HTTPConnection.h"
#include "net/SSLTransport.h"
#include "net/WebService.h"
#include "net/WebServiceLogin.h"
#include "tests/content/LogCapture.h"
#include "tests/net/DownloadPeers.h"

using nettest::Count;
using platform::test::TempFolder;

namespace {

std::atomic<int> gSleeps{0};
void CountingSleep(unsigned long ms) {
  gSleeps.fetch_add(1);
  Vak::Time::Delay(ms < 5 ? ms : 5);
}

// Waits for the task's end; the task keeps the caller's hold.
void Finish(DownloadTask* task) {
  while (!task->IsFinished()) Vak::Time::Delay(2);
}

std::string ResultText(DownloadTask* task) {
  Vak::File::Path path;
  Vak::PString type;
  if (!task->GetResult(path, type)) return "<none>";
  return nettest::ReadText(static_cast<const char*>(path));
}


class DownloadManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetDownloadSleep(&CountingSleep);
    SetMainThread();
    manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override {
    DownloadManager::Destroy();
    SetDownloadSleep(nullptr);
    SetFileUrlResolver(nullptr);
  }
  void StartNginx() {
    NET_REQUIRE_PROGRAM(nettest::kNginx);
    ASSERT_TRUE(nettest::MakeCertificate(dir_, "server", "/CN=127.0.0.1", "IP:127.0.0.1,DNS:localhost"));
    ASSERT_TRUE(SSLTransport::TrustCAFile((dir_ / "server.pem").c_str()));
    ASSERT_TRUE(nginx_.Start(dir_));
    nginx_.Write("a.txt", "alpha");
    nginx_.Write("moved.txt", "moved here");
  }
  DownloadTask* Get(const std::string& url, int32_t flags = 0) {
    DownloadTask* task = manager_->Request(url.c_str(), flags, -1);
    EXPECT_NE(task, nullptr) << url;
    if (task) Finish(task);
    return task;
  }

  TempFolder dir_;
  DownloadManager* manager_ = nullptr;
  nettest::DownloadNginx nginx_;
};

} // namespace

TEST_F(DownloadManagerTest, OnlyOneManagerExistsAndItIsNullOtherwise) {
  EXPECT_EQ(DownloadManager::Instance(), manager_);
  EXPECT_EQ(DownloadManager::Create((dir_ / "other").c_str()), nullptr);
  DownloadManager::Destroy();
  EXPECT_EQ(DownloadManager::Instance(), nullptr);
  manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
  EXPECT_NE(manager_, nullptr);
}

TEST_F(DownloadManagerTest, FileUrlsReadTheFileOrAskTheResolver) {
  dir_.WriteFile("local.txt", "local");
  dir_.WriteFile("resolved.txt", "resolved");
  dir_.WriteFile("empty.txt", "");
  static std::string resolvedPath;
  resolvedPath = dir_ / "resolved.txt";
  struct Case {
    const char* what;
    std::string url;
    bool resolver;
    int32_t error;
    std::string text;
  } cases[] = {
      {"direct", "file://velmar" + dir_ / "local.txt", false, 0, "local"},
      {"other host", "file://elsewhere" + dir_ / "local.txt", false, DownloadTask::kErrorNoFile, "<none>"},
      {"no resolver", "file://velmar/asset/thing", false, DownloadTask::kErrorNoFile, "<none>"},
      {"resolver", "file://velmar/asset/thing", true, 0, "resolved"},
      {"empty", "file://velmar" + dir_ / "empty.txt", false, DownloadTask::kErrorNoFile, "<none>"},
  };
  for (const Case& c : cases) {
    SetFileUrlResolver(c.resolver ? +[](const char*, const char* path, Vak::File::Path& out) {
      if (std::string(path) != "/asset/thing") return false;
      out = resolvedPath.c_str();
      return true;
    }
                                  : nullptr);
    DownloadTask* task = Get(c.url, DownloadTask::kNoShare);
    EXPECT_EQ(task->GetError(), c.error) << c.what;
    EXPECT_EQ(ResultText(task), c.text) << c.what;
    DownloadTask::Release(task);
  }
}

TEST_F(DownloadManagerTest, RequestsShareTasksAndTheCacheAnswersWithoutARequest) {
  StartNginx();
  const std::string url = nginx_.Url("/a.txt");
  DownloadTask* first = manager_->Request(url.c_str(), 0, -1);
  DownloadTask* second = manager_->Request(url.c_str(), 0, -1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->UseCount(), 2);
  Finish(first);
  EXPECT_EQ(ResultText(first), "alpha");
  DownloadTask::Release(first);
  DownloadTask::Release(second);
  manager_->Pump();

  // The finished task is handed out again, unless flag bit 1 is set.
  DownloadTask* again = manager_->Request(url.c_str(), 0, -1);
  EXPECT_EQ(again, first);
  DownloadTask::Release(again);
  manager_->Pump();
  DownloadTask* fresh = Get(url, DownloadTask::kNoShare);
  EXPECT_NE(fresh, first);
  DownloadTask::Release(fresh);
  manager_->Pump();

  // A new manager over the same folder answers from the cache file alone.
  DownloadManager::Destroy();
  const std::string before = nginx_.AccessLog();
  manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
  DownloadTask* cached = Get(url);
  EXPECT_TRUE(cached->IsSatisfied());
  EXPECT_EQ(ResultText(cached), "alpha");
  DownloadTask::Release(cached);
  EXPECT_EQ(nginx_.AccessLog(), before);

  // Queries and posts always go to the server, even for a manager that
  // has seen them before.
  const std::string query = nginx_.Url("/a.txt?x=1");
  ACSChunkPtr form;
  form.MakeContainer();
  form.SetChildString(Vak::PString("field"), "value");
  for (int round = 0; round < 2; ++round) {
    DownloadTask* q = Get(query);
    EXPECT_FALSE(q->IsSatisfied());
    DownloadTask::Release(q);
    manager_->Pump();
    DownloadTask* post = manager_->Request(UrlRecord(nginx_.Url("/form").c_str()), 0, -1, form);
    Finish(post);
    EXPECT_EQ(ResultText(post), "posted");
    DownloadTask::Release(post);
    DownloadManager::Destroy();
    manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
  }
  const std::string log = nginx_.AccessLogWith("POST /form", 2);
  EXPECT_EQ(Count(log, "GET /a.txt?x=1 "), 2);
  EXPECT_EQ(Count(log, "POST /form "), 2);
}

TEST_F(DownloadManagerTest, RedirectsAreBoundedAndStayOnNetworkSchemes) {
  StartNginx();
  struct Case {
    const char* what;
    std::string path;
    int32_t error;
    std::string text;
  } cases[] = {
      {"same host", "/chain/" + std::to_string(nettest::DownloadNginx::kChainEnd - 3), 0, "end of chain"},
      {"twenty hops", "/chain/" + std::to_string(nettest::DownloadNginx::kChainEnd - 20), 0, "end of chain"},
      {"twenty-one hops", "/chain/" + std::to_string(nettest::DownloadNginx::kChainEnd - 21), 8, "<none>"},
      {"other host", "/away", 0, "moved here"},
      {"loop", "/loop", 8, "<none>"},
      {"loop across hosts", "/pingpong", 8, "<none>"},
      {"to a file", "/tofile", 8, "<none>"},
      {"to a login", "/toqnlogin", 8, "<none>"},
  };
  for (const Case& c : cases) {
    DownloadTask* task = Get(nginx_.Url(c.path), DownloadTask::kNoShare);
    EXPECT_EQ(task->GetError(), c.error) << c.what;
    EXPECT_EQ(ResultText(task), c.text) << c.what;
    if (c.path == "/away") {
      EXPECT_STREQ(task->GetCurrentUrl().host, "localhost");
    }
    DownloadTask::Release(task);
  }
}

namespace {

// A resolver that keeps the manager's lock: Request asks it while it makes
// the task, under that lock.
std::promise<void> gResolverEntered;
std::promise<void> gResolverRelease;
bool HoldingResolver(const char*, const char*, Vak::File::Path&) {
  gResolverEntered.set_value();
  gResolverRelease.get_future().wait();
  return false;
}

} // namespace

// A redirect to another server is not the task's end: not while the task
// drops the redirect's connection and waits to re-target (the manager's
// lock held from outside), nor while the new server holds its reply.
TEST_F(DownloadManagerTest, ARedirectToAnotherServerFinishesOnlyWithItsTarget) {
  NET_REQUIRE_PROGRAM(nettest::kPython);
  nettest::RawPeer peer;
  ASSERT_TRUE(peer.Start(dir_));
  const std::string port = std::to_string(peer.port);
  DownloadTask* task = manager_->Request(("http://127.0.0.1:" + port + "/hop").c_str(), DownloadTask::kNoShare, -1);
  ASSERT_NE(task, nullptr);
  ASSERT_EQ(peer.WaitForConnections(1), 1);

  SetFileUrlResolver(&HoldingResolver);
  auto lockHolder = std::async(std::launch::async, [this] {
    return manager_->Request("file://velmar/held/by/the/resolver", DownloadTask::kNoShare, -1);
  });
  gResolverEntered.get_future().wait();
  peer.Reply("hop", "HTTP/1.1 302 Found\r\nLocation: http://localhost:" + port +
                        "/held\r\nConnection: close\r\nContent-Length: 5\r\n\r\nmoved");
  EXPECT_EQ(peer.WaitForCloses(1), 1);  // the redirect read and its connection dropped
  EXPECT_FALSE(task->IsFinished());
  EXPECT_EQ(ResultText(task), "<none>");
  gResolverRelease.set_value();
  DownloadTask::Release(lockHolder.get());

  ASSERT_EQ(peer.WaitForConnections(2), 2);  // the new server's, held
  EXPECT_FALSE(task->IsFinished());
  EXPECT_EQ(ResultText(task), "<none>");
  peer.Reply("held", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ntarget");
  Finish(task);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), "target");
  EXPECT_STREQ(task->GetCurrentUrl().host, "localhost");
  DownloadTask::Release(task);
}

// Many servers send a redirect with no body at all.
TEST_F(DownloadManagerTest, ARedirectWithoutABodyIsFollowed) {
  NET_REQUIRE_PROGRAM(nettest::kPython);
  nettest::RawPeer peer;
  ASSERT_TRUE(peer.Start(dir_));
  const std::string port = std::to_string(peer.port);
  peer.Reply("bare", "HTTP/1.1 302 Found\r\nLocation: http://localhost:" + port +
                         "/there\r\nContent-Length: 0\r\n\r\n");
  peer.Reply("there", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ntarget");
  DownloadTask* task = Get("http://127.0.0.1:" + port + "/bare", DownloadTask::kNoShare);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), "target");
  DownloadTask::Release(task);
}

TEST_F(DownloadManagerTest, IdleConnectionsAreReusedAndTheEleventhEvictsTheOldest) {
  StartNginx();
  auto url = [&](int i) { return "http://u" + std::to_string(i) + "@127.0.0.1:" + std::to_string(nginx_.port) + "/a.txt"; };
  for (int i = 1; i <= 10; ++i) DownloadTask::Release(Get(url(i), DownloadTask::kNoShare));
  EXPECT_EQ(manager_->IdleHTTPCount(), 10);
  DownloadTask::Release(Get(url(11), DownloadTask::kNoShare));
  EXPECT_EQ(manager_->IdleHTTPCount(), 10);
  EXPECT_FALSE(manager_->HasIdleHTTP(UrlRecord(url(1).c_str())));
  EXPECT_TRUE(manager_->HasIdleHTTP(UrlRecord(url(2).c_str())));
  EXPECT_TRUE(manager_->HasIdleHTTP(UrlRecord(url(11).c_str())));

  // Reuse: one more request on u2's connection (nginx numbers connections).
  DownloadTask::Release(Get(url(2), DownloadTask::kNoShare));
  const std::string log = nginx_.AccessLog();
  std::set<std::string> connections;
  for (size_t at = 0; at < log.size();) {
    const size_t end = log.find('\n', at);
    connections.insert(log.substr(at, log.find(' ', at) - at));
    at = end == std::string::npos ? log.size() : end + 1;
  }
  EXPECT_EQ(connections.size(), 11u);
}

TEST_F(DownloadManagerTest, CookiesAreKeptPerHost) {
  HTTPConnection a(UrlRecord("http://one.example/x"));
  a.SetCookie("k", 1, "v1", 2);
  manager_->SaveCookies(a);
  HTTPConnection sameHost(UrlRecord("http://ONE.example:8080/y"));
  EXPECT_TRUE(manager_->LoadCookies(sameHost));
  ASSERT_EQ(sameHost.count, 1);
  EXPECT_STREQ(sameHost.values[0], "v1");
  HTTPConnection other(UrlRecord("http://two.example/"));
  EXPECT_FALSE(manager_->LoadCookies(other));
  EXPECT_EQ(other.count, 0);
  a.SetCookie("k", 1, "v2", 2);
  manager_->SaveCookies(a);
  EXPECT_TRUE(manager_->LoadCookies(sameHost));
  EXPECT_STREQ(sameHost.values[0], "v2");

  // A cookie set on a plain fetch is stored for its host and sent on that
  // host's new connections (another user name keeps off the pooled one).
  StartNginx();
  DownloadTask::Release(Get(nginx_.Url("/cookie"), DownloadTask::kNoShare));
  HTTPConnection stored(UrlRecord(nginx_.Url("/").c_str()));
  ASSERT_TRUE(manager_->LoadCookies(stored));
  EXPECT_STREQ(stored.names[0], "flavour");
  HTTPConnection elsewhere(UrlRecord(("http://localhost:" + std::to_string(nginx_.port) + "/").c_str()));
  EXPECT_FALSE(manager_->LoadCookies(elsewhere));
  DownloadTask* sent =
      Get("http://other@127.0.0.1:" + std::to_string(nginx_.port) + "/sent-cookie", DownloadTask::kNoShare);
  EXPECT_EQ(ResultText(sent), "flavour=oat");
  DownloadTask::Release(sent);
}

TEST_F(DownloadManagerTest, RequestsGoThroughTheHttpProxy) {
  StartNginx();
  NET_REQUIRE_PROGRAM(nettest::kTinyproxy);
  nettest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start(dir_));
  nettest::Tinyproxy narrow;  // tunnels to nginx's TLS port only
  ASSERT_TRUE(narrow.Start(dir_, nginx_.sslPort));
  struct Case {
    const char* what;
    int proxyPort;
    int32_t error;
    std::string text;
  } cases[] = {
      {"through the proxy", proxy.port, 0, "alpha"},
      {"a port the proxy forbids", narrow.port, DownloadTask::kErrorProxy, "<none>"},
      {"no proxy listening", nettest::FreePort(), DownloadTask::kErrorProxy, "<none>"},
  };
  int user = 0;
  for (const Case& c : cases) {
    manager_->SetHTTPProxy("127.0.0.1", static_cast<uint16_t>(c.proxyPort));
    // A user name of its own keeps each case off the pooled connections.
    DownloadTask* task = Get("http://p" + std::to_string(++user) + "@127.0.0.1:" + std::to_string(nginx_.port) +
                                 "/a.txt",
                             DownloadTask::kNoShare);
    EXPECT_EQ(task->GetError(), c.error) << c.what;
    EXPECT_EQ(ResultText(task), c.text) << c.what;
    DownloadTask::Release(task);
  }
}

// An FTP proxy makes ftp URLs HTTP requests, sent as plain ones are: to the
// URL's server here, no HTTP proxy being set.
TEST_F(DownloadManagerTest, WithAnFtpProxyFtpUrlsTakeTheHttpPath) {
  StartNginx();
  manager_->SetFTPProxy("127.0.0.1", static_cast<uint16_t>(nettest::FreePort()));
  DownloadTask* task = Get("ftp://127.0.0.1:" + std::to_string(nginx_.port) + "/a.txt", DownloadTask::kNoShare);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), "alpha");
  DownloadTask::Release(task);
}

TEST_F(DownloadManagerTest, AGetIsTriedAtMostThreeTimesAndNotAfterACancel) {
  NET_REQUIRE_PROGRAM(nettest::kPython);
  nettest::RawPeer peer;
  ASSERT_TRUE(peer.Start(dir_));
  peer.Reply("closes", "");  // closes before answering
  const std::string base = "http://127.0.0.1:" + std::to_string(peer.port);
  DownloadTask* closes = Get(base + "/closes", DownloadTask::kNoShare);
  EXPECT_NE(closes->GetError(), 0);
  EXPECT_NE(closes->GetError(), DownloadTask::kErrorCancelled);
  EXPECT_EQ(peer.Connections(), 3);
  DownloadTask::Release(closes);

  // The cancel closes the connection the task waits on: no new attempt.
  DownloadTask* silent = manager_->Request((base + "/silent").c_str(), DownloadTask::kNoShare, -1);
  ASSERT_EQ(peer.WaitForConnections(4), 4);
  silent->Cancel();
  Finish(silent);
  EXPECT_EQ(silent->GetError(), DownloadTask::kErrorCancelled);
  DownloadTask::Release(silent);
  // Three more attempts that end in order show any stray one before them.
  DownloadTask::Release(Get(base + "/closes", DownloadTask::kNoShare));
  EXPECT_EQ(peer.Connections(), 7);
}

TEST_F(DownloadManagerTest, FtpUrlsDownloadResumeAndReuseTheSession) {
  if (::access("/usr/lib/python3/dist-packages/pyftpdlib", F_OK) != 0) GTEST_SKIP() << "python3-pyftpdlib is missing";
  nettest::FtpServer ftp;
  ASSERT_TRUE(ftp.Start(dir_));
  std::string content(70000, 'x');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  std::ofstream(ftp.root + "/f.bin", std::ios::binary) << content;
  DownloadTask* task = Get(ftp.Url("/f.bin"), DownloadTask::kNoShare);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), content);
  EXPECT_EQ(task->GetTotalSize(), 70000);
  DownloadTask::Release(task);
  EXPECT_EQ(manager_->IdleFTPCount(), 1);

  // An incomplete cache entry resumes where its file ends.
  DownloadCache seed;
  seed.Load((dir_ / "downloads").c_str());
  // Its bytes differ from the server's: only a resumed download keeps them.
  const std::string partial(1000, '#');
  std::ofstream(dir_ / "downloads/partial.bin", std::ios::binary) << partial;
  seed.Store(UrlRecord(ftp.Url("/f.bin").c_str()), (dir_ / "downloads/partial.bin").c_str(), false);
  DownloadManager::Destroy();
  manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
  DownloadTask* resumed = Get(ftp.Url("/f.bin"));
  EXPECT_EQ(resumed->GetError(), 0);
  const std::string text = ResultText(resumed);
  EXPECT_EQ(text.find_first_not_of('#'), partial.size());
  EXPECT_TRUE(text == partial + content.substr(1000));
  DownloadTask::Release(resumed);
  EXPECT_EQ(manager_->IdleFTPCount(), 1);
}

// The update check's downloads are the manager's tasks, held until the
// check drops them.
TEST_F(DownloadManagerTest, TheUpdateSourceHoldsATaskUntilItsDownloadGoes) {
  StartNginx();
  DownloadUpdateSource source;
  struct Case {
    const char* what;
    std::string path;
    int32_t state;
    bool error;
    std::string text;
  } cases[] = {
      {"a file", "/a.txt", VADUpdateDownload::kDone, false, "alpha"},
      {"missing", "/missing.txt", VADUpdateDownload::kFailed, true, ""},
  };
  for (const Case& c : cases) {
    const std::string url = nginx_.Url(c.path);
    std::unique_ptr<VADUpdateDownload> download(source.Request(url.c_str(), VADUpdateCheckThread::kRequestMode, 0));
    ASSERT_NE(download, nullptr) << c.what;
    while (download->IsActive()) Vak::Time::Delay(2);
    EXPECT_EQ(download->GetState(), c.state) << c.what;
    EXPECT_EQ(download->HasError(), c.error) << c.what;
    // The download's task, still active: a request shares it, or finds it
    // failed and waits no round for it.
    DownloadTask* task = manager_->Request(url.c_str(), 0, 0);
    if (c.error) {
      EXPECT_EQ(task, nullptr) << c.what;
    } else {
      ASSERT_NE(task, nullptr) << c.what;
      EXPECT_EQ(task->UseCount(), 2) << c.what;
      EXPECT_EQ(ResultText(task), c.text) << c.what;
      DownloadTask::Release(task);
    }
    download.reset();
    manager_->Pump();
    // Retired: the next request goes to the server again. A task still held
    // would be handed out, or (failed) waited for in vain.
    DownloadTask* next = manager_->Request(url.c_str(), DownloadTask::kNoShare, 0);
    ASSERT_NE(next, nullptr) << c.what;
    Finish(next);
    DownloadTask::Release(next);
    const std::string line = "GET " + c.path + " ";
    EXPECT_EQ(Count(nginx_.AccessLogWith(line, 2), line), 2) << c.what;
  }

  DownloadManager::Destroy();
  EXPECT_EQ(source.Request(nginx_.Url("/a.txt").c_str(), VADUpdateCheckThread::kRequestMode, 0), nullptr);
  manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
}

// A failed task that someone still holds stays active: a request for its URL
// waits for it in rounds (pumping on the main thread, sleeping elsewhere)
// and gives up after the rounds allowed.
TEST_F(DownloadManagerTest, ARequestWaitsInRoundsForATaskBeingRetired) {
  StartNginx();
  const std::string url = nginx_.Url("/missing.txt");
  DownloadTask* failed = Get(url);
  ASSERT_EQ(failed->GetState(), DownloadTask::kFailed);
  DownloadUpdateSource source;
  struct Case {
    const char* what;
    std::function<bool()> request;  // true when it gave something
    int sleeps;
  } cases[] = {
      {"no further round", [&] { return manager_->Request(url.c_str(), 0, 0) != nullptr; }, 1},
      {"three rounds", [&] { return manager_->Request(url.c_str(), 0, 3) != nullptr; }, 4},
      {"off the main thread",
       [&] { return std::async(std::launch::async, [&] { return manager_->Request(url.c_str(), 0, 2); }).get() != nullptr; },
       6},
      // 150 ms a round: 450 ms are three more.
      {"the update source's time limit",
       [&] {
         std::unique_ptr<VADUpdateDownload> download(source.Request(url.c_str(), VADUpdateCheckThread::kRequestMode, 450));
         return download != nullptr;
       },
       4},
  };
  for (const Case& c : cases) {
    gSleeps = 0;
    EXPECT_FALSE(c.request()) << c.what;
    EXPECT_EQ(gSleeps.load(), c.sleeps) << c.what;
  }

  // Without a limit it waits until the task is gone, then makes a new one.
  gSleeps = 0;
  auto waiting = std::async(std::launch::async, [&] { return manager_->Request(url.c_str(), 0, -1); });
  while (gSleeps.load() < 4) Vak::Time::Delay(1);
  DownloadTask::Release(failed);
  manager_->Pump();
  DownloadTask* fresh = waiting.get();
  ASSERT_NE(fresh, nullptr);
  Finish(fresh);
  EXPECT_EQ(fresh->GetState(), DownloadTask::kFailed);
  DownloadTask::Release(fresh);
}

TEST_F(DownloadManagerTest, ACancelledTaskOnASilentPeerIsRetiredPromptly) {
  NET_REQUIRE_PROGRAM(nettest::kPython);
  nettest::RawPeer peer;
  ASSERT_TRUE(peer.Start(dir_));
  DownloadTask* task = manager_->Request(("http://127.0.0.1:" + std::to_string(peer.port) + "/silent").c_str(), 0, -1);
  ASSERT_NE(task, nullptr);
  Vak::Time::Delay(100);
  EXPECT_FALSE(task->IsFinished());
  task->CancelAndDelete();
  Finish(task);
  EXPECT_EQ(task->GetError(), DownloadTask::kErrorCancelled);
  manager_->Pump();
  // Retired: a new request makes a new task.
  DownloadTask* next = manager_->Request(("http://127.0.0.1:" + std::to_string(peer.port) + "/silent").c_str(), 0, 0);
  ASSERT_NE(next, nullptr);
  next->CancelAndDelete();
}

TEST_F(DownloadManagerTest, ReleasingTheLastHoldOfAWaitingLoginCancelsIt) {
  ASSERT_FALSE(IsLoginReady());
  DownloadTask* login = manager_->Request("qnlogin://", DownloadTask::kNoShare, -1);
  ASSERT_NE(login, nullptr);
  login->Hold();
  DownloadTask::Release(login);
  Vak::Time::Delay(50);
  EXPECT_FALSE(login->IsFinished());
  DownloadTask::Release(login);
  Finish(login);
  EXPECT_EQ(login->GetError(), DownloadTask::kErrorCancelled);
}

// Nothing sets the login's readiness: a login and a secure request behind it
// wait until the manager goes, and end without a result.
TEST_F(DownloadManagerTest, DestroyingTheManagerEndsWaitsForTheLogin) {
  ASSERT_FALSE(IsLoginReady());
  const std::string service = "127.0.0.1:" + std::to_string(nettest::FreePort());
  SetWebServiceHost(service.c_str());
  DownloadTask* login = manager_->Request("qnlogin://", DownloadTask::kNoShare, -1);
  ASSERT_NE(login, nullptr);
  const std::string url = "https://" + service + "/secure.txt";
  DownloadTask* secure = manager_->Request(url.c_str(), 0, -1);
  ASSERT_NE(secure, nullptr);
  // The secure request holds the same login while it waits for it.
  while (login->UseCount() < 2 && !secure->IsFinished()) Vak::Time::Delay(2);
  EXPECT_EQ(login->UseCount(), 2);
  EXPECT_FALSE(login->IsFinished());
  EXPECT_FALSE(secure->IsFinished());

  DownloadManager::Destroy();  // a wait that never ends runs into the test's time-out
  manager_ = nullptr;
  SetWebServiceHost("localhost");
  DownloadCache cache;
  cache.Load((dir_ / "downloads").c_str());
  Vak::File::Path file;
  EXPECT_EQ(cache.Lookup(UrlRecord(url.c_str()), file), DownloadCache::Hit::kIncomplete);
}

namespace {

std::atomic<uint32_t> gLatestBuild{0};
std::atomic<int64_t> gLoginTime{0};
std::atomic<int> gLoginCalls{0};

class LoginTest : public DownloadManagerTest {
protected:
  void SetUp() override {
    DownloadManagerTest::SetUp();
    StartNginx();
    SetWebServiceHost(("127.0.0.1:" + std::to_string(nginx_.sslPort)).c_str());
    ResetLoginState();
    SignalLoginReady();
    SetScreenWidth(1280);
    SetBetaPatch(1);
    gLatestBuild = 0;
    gLoginCalls = 0;
    SetLatestBuildHandler(+[](uint32_t build) { gLatestBuild = build; });
    SetServerTimeHandler(+[](int64_t time) {
      gLoginTime = time;
      ++gLoginCalls;
    });
  }
  void TearDown() override {
    SetLatestBuildHandler(nullptr);
    SetServerTimeHandler(nullptr);
    SetWebServiceHost("localhost");
    SetWebServiceTestHost("");
    DownloadManagerTest::TearDown();
  }
  DownloadTask* Login(const char* user, const char* password) {
    SetLoginUserName(user);
    SetLoginPassword(password);
    return Get("qnlogin://", DownloadTask::kNoShare);
  }
};

} // namespace

TEST_F(LoginTest, ASuccessfulLoginKeepsTheSessionAndPublishesItsValues) {
  DownloadTask* login = Login("good", "p&ss w=rd%");
  EXPECT_EQ(login->GetError(), 0);
  DownloadTask::Release(login);
  EXPECT_STREQ(static_cast<const char*>(GetSessionCookie()), "s3ss10n");
  EXPECT_TRUE(IsListDownloadAllowed());
  EXPECT_EQ(gLatestBuild.load(), 4242u);
  EXPECT_EQ(gLoginTime.load(), 1700000000);
  EXPECT_EQ(GetServerTime(), 1700000000);
  HTTPConnection probe(UrlRecord(("https://127.0.0.1:" + std::to_string(nginx_.sslPort) + "/").c_str()));
  ASSERT_TRUE(manager_->LoadCookies(probe));
  EXPECT_STREQ(probe.names[0], "sess");

  const std::string log = nginx_.AccessLogWith("remote_login");
  EXPECT_NE(log.find(" GET /quillnet/dezezez/remote_login.php?username=good&password=p%26ss%20w%3Drd%25"
                     "&screenwidth=1280&language=english&version=3.10&betapatch=1 HTTP/1.1"),
            std::string::npos)
      << log;
}

TEST_F(LoginTest, ARefusedLoginIsErrorThreeWithNoTime) {
  content::test::LogCapture capture;
  DownloadTask* login = Login("nobody", "x");
  EXPECT_EQ(login->GetError(), DownloadTask::kErrorRefused);
  DownloadTask::Release(login);
  EXPECT_FALSE(IsListDownloadAllowed());
  EXPECT_EQ(gLoginTime.load(), -1);
  EXPECT_EQ(gLoginCalls.load(), 1);
  EXPECT_EQ(GetSessionCookie().Size(), 0u);
  EXPECT_EQ(capture.Count("DownloadTask::DoQuillnetLogin> invalid username/password specified"), 1);
}

TEST_F(LoginTest, WithoutADateTheLocalTimeCountsAndBuildZeroCallsNothing) {
  const int64_t before = static_cast<int64_t>(Vak::Time::TimeStamp());
  DownloadTask* login = Login("nodate", "x");
  EXPECT_EQ(login->GetError(), 0);
  DownloadTask::Release(login);
  EXPECT_GE(gLoginTime.load(), before);
  EXPECT_EQ(gLatestBuild.load(), 0u);
}

TEST_F(LoginTest, HttpsGoesOnlyToTheServiceAndLogsInFirst) {
  nginx_.Write("secure.txt", "secret");
  manager_->SetFTPProxy("127.0.0.1", static_cast<uint16_t>(nettest::FreePort()));  // for ftp alone
  SetLoginUserName("good");
  SetLoginPassword("x");
  DownloadTask* task = Get("https://127.0.0.1:" + std::to_string(nginx_.sslPort) + "/secure.txt", DownloadTask::kNoShare);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), "secret");
  DownloadTask::Release(task);
  EXPECT_TRUE(manager_->IsLoggedIn());

  DownloadTask* stranger = Get("https://localhost:" + std::to_string(nginx_.sslPort) + "/secure.txt", DownloadTask::kNoShare);
  EXPECT_EQ(stranger->GetError(), DownloadTask::kErrorUnknown);
  DownloadTask::Release(stranger);
}

TEST_F(LoginTest, TheTestHostIsTheServiceToo) {
  nginx_.Write("secure.txt", "secret");
  SetLoginUserName("good");
  SetLoginPassword("x");
  const std::string testHost = "localhost:" + std::to_string(nginx_.sslPort);
  SetWebServiceTestHost(testHost.c_str());
  DownloadTask* task = Get("https://" + testHost + "/secure.txt", DownloadTask::kNoShare);
  EXPECT_EQ(task->GetError(), 0);
  EXPECT_EQ(ResultText(task), "secret");
  DownloadTask::Release(task);
  EXPECT_TRUE(manager_->IsLoggedIn());
  EXPECT_EQ(Count(nginx_.AccessLogWith("remote_login"), "remote_login"), 1);
}
