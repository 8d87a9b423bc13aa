#pragma once
// A download manager, nginx playing the web service (logged in over TLS),
// and an open asset database over a folder of its own whose network seam is
// a NetworkService over this test's station and look-ups.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "Vak/Bexlorn/Time.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDatabase.h"
#include "assetdb/VADServices.h"
#include "content/AppGlobals.h"
#include "net/AssetWebLookups.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/NetworkService.h"
#include "net/SSLTransport.h"
#include "net/UserNameLookup.h"
#include "net/VADDownloadStation.h"
#include "net/WebService.h"
#include "net/WebServiceLogin.h"
#include "assetdb/VADLock.h"
#include "platform/os/FileSystem.h"
#include "tests/net/support/ServicePeer.h"

namespace nettest {

inline void ShortSleep(unsigned long ms) { Vak::Time::Delay(ms < 2 ? ms : 2); }

class ServiceFixture : public ::testing::Test {
protected:
  static constexpr float kClock = 1000.0f;

  void SetUp() override {
    SetDownloadSleep(&ShortSleep);
    SetMainThread();
    SetAppClock(kClock);
    manager_ = DownloadManager::Create((dir_ / "downloads").c_str());
    ASSERT_NE(manager_, nullptr);
    NET_REQUIRE_PROGRAM(kNginx);
    ASSERT_TRUE(MakeCertificate(dir_, "server", "/CN=127.0.0.1", "IP:127.0.0.1"));
    ASSERT_TRUE(SSLTransport::TrustCAFile((dir_ / "server.pem").c_str()));
    ASSERT_TRUE(nginx_.Start(dir_));
    SetWebServiceHost(("127.0.0.1:" + std::to_string(nginx_.sslPort)).c_str());
    ResetLoginState();
    SetLoginUserName("good");
    SetLoginPassword("x");
    SignalLoginReady();

    savedNetwork_ = GetVADServices().network;
    GetVADServices().network = &service_;
    savedRoot_ = GetDatabaseRootPath();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    VADStartBlock block;
    VADStartParams(block);
    ASSERT_EQ(platform::MakeFolder(DatabaseRoot().c_str()), platform::Error::None);
    std::strncpy(block.root, DatabaseRoot().c_str(), sizeof block.root - 1);
    ASSERT_TRUE(VADInit(block));
    VADLock lock;
    lock.Acquire(true);
    ASSERT_TRUE(lock.IsHeld());
  }
  void TearDown() override {
    VADShutdown();
    gVadAssetIndex.Clear();
    gVadAssetIndex.ClearDirtyFlags();
    SetDatabaseRootPath(savedRoot_);
    GetVADServices().network = savedNetwork_;
    station_.Clear();
    userNames_.Reset();
    thumbnails_.Reset();
    descriptions_.Reset();
    DownloadManager::Destroy();
    SetDownloadSleep(nullptr);
    SetWebServiceHost("localhost");
    SetAppClock(0);
  }

  // Steps the station until `done` holds (true) or 10 s pass (false).
  bool StepUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000; ++i) {
      station_.Idle();
      if (done()) return true;
      Vak::Time::Delay(2);
    }
    return false;
  }
  // Waits until `done` holds or 10 s pass.
  static bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000; ++i) {
      if (done()) return true;
      Vak::Time::Delay(2);
    }
    return done();
  }
  void LogIn() {
    DownloadTask* login = manager_->Request("qnlogin://", DownloadTask::kNoShare, -1);
    ASSERT_NE(login, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return login->IsFinished(); }));
    DownloadTask::Release(login);
    ASSERT_TRUE(IsListDownloadAllowed());
  }

  std::string DatabaseRoot() const { return dir_ / "db"; }

  TempFolder dir_;
  DownloadManager* manager_ = nullptr;
  ServiceNginx nginx_;
  VADDownloadStation station_{false};
  UserNameLookup userNames_;
  AssetThumbnailLookup thumbnails_;
  AssetDescriptionLookup descriptions_;
  NetworkService service_{station_, userNames_, thumbnails_, descriptions_};
  VADNetworkService* savedNetwork_ = nullptr;
  Vak::File::Path savedRoot_;
};

} // namespace nettest
