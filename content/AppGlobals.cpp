#include "content/AppGlobals.h"

#include <atomic>

#include "Vak/Bexlorn/Rand.h"
#include "Vak/Bexlorn/Sync.h"
#include "Vak/Bexlorn/Thread.h"

namespace {

struct Globals {
  Vak::CriticalSection lock{"AppGlobals"};
  Vak::String programName;              // under the lock
  std::atomic<uint32_t> mainThread{0};
  uint32_t buildNumber = 0;             // under the lock
  Vak::WEvent startupEvent{true, false};
  std::atomic<bool> startupSignalled{false};
  const Vak::PString emptyPString{};
  const Vak::String emptyString{};
  Vak::Rand rand;                       // under the lock
  Vak::File::Path databaseRoot;         // under the lock
  int64_t serverTime = 0;               // under the lock
  ServerTimeHandler serverTimeHandler = nullptr;  // under the lock
  TimeMarkerHandler timeMarkerHandler = nullptr;  // under the lock
  bool timeMarkerPending = false;       // under the lock
  LatestBuildHandler latestBuildHandler = nullptr;  // under the lock
  FileUrlResolver fileUrlResolver = nullptr;  // under the lock
  float appClock = 0;                   // under the lock
  Vak::String loginUserName;            // under the lock
  Vak::String loginPassword;            // under the lock
  int32_t screenWidth = 0;              // under the lock
  uint8_t betaPatch = 0;                // under the lock
  Vak::WEvent loginReadyEvent{true, false};
  std::atomic<bool> loginReady{false};
};

// Never destroyed: objects destroyed at exit in an order no one controls may
// still reach for these.
Globals& G() {
  static Globals* const globals = new Globals;
  return *globals;
}

uint32_t CurrentThread() { return static_cast<uint32_t>(Vak::Thread::GetCurrentId()); }

} // namespace

void SetProgramName(const char* name) {
  Globals& g = G();
  {
    Vak::SingleLock guard(&g.lock, true);
    g.programName = name;
  }
  SetMainThread();
}

Vak::String GetProgramName() {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  return g.programName;
}

void SetMainThread() { G().mainThread.store(CurrentThread()); }

bool IsMainThread() { return G().mainThread.load() == CurrentThread(); }

uint32_t GetMainThreadId() { return G().mainThread.load(); }

Vak::CriticalSection& AppGlobalsLock() { return G().lock; }

uint32_t GetBuildNumber() {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  return g.buildNumber;
}

void SetBuildNumber(uint32_t build) {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  g.buildNumber = build;
}

namespace {

template <typename T> T LockedGet(const T& field) {
  Vak::SingleLock guard(&G().lock, true);
  return field;
}

template <typename T> void LockedSet(T& field, T value) {
  Vak::SingleLock guard(&G().lock, true);
  field = value;
}

} // namespace

int64_t GetServerTime() { return LockedGet(G().serverTime); }
void SetServerTime(int64_t time) { LockedSet(G().serverTime, time); }
ServerTimeHandler GetServerTimeHandler() { return LockedGet(G().serverTimeHandler); }
void SetServerTimeHandler(ServerTimeHandler handler) { LockedSet(G().serverTimeHandler, handler); }
TimeMarkerHandler GetTimeMarkerHandler() { return LockedGet(G().timeMarkerHandler); }
void SetTimeMarkerHandler(TimeMarkerHandler handler) { LockedSet(G().timeMarkerHandler, handler); }
bool IsTimeMarkerPending() { return LockedGet(G().timeMarkerPending); }
void SetTimeMarkerPending(bool pending) { LockedSet(G().timeMarkerPending, pending); }

LatestBuildHandler GetLatestBuildHandler() { return LockedGet(G().latestBuildHandler); }
void SetLatestBuildHandler(LatestBuildHandler handler) { LockedSet(G().latestBuildHandler, handler); }
FileUrlResolver GetFileUrlResolver() { return LockedGet(G().fileUrlResolver); }
void SetFileUrlResolver(FileUrlResolver resolver) { LockedSet(G().fileUrlResolver, resolver); }
float GetAppClock() { return LockedGet(G().appClock); }
void SetAppClock(float seconds) { LockedSet(G().appClock, seconds); }
Vak::String GetLoginUserName() { return LockedGet(G().loginUserName); }
void SetLoginUserName(const char* name) { LockedSet(G().loginUserName, Vak::String(name ? name : "")); }
Vak::String GetLoginPassword() { return LockedGet(G().loginPassword); }
void SetLoginPassword(const char* password) { LockedSet(G().loginPassword, Vak::String(password ? password : "")); }
int32_t GetScreenWidth() { return LockedGet(G().screenWidth); }
void SetScreenWidth(int32_t width) { LockedSet(G().screenWidth, width); }
uint8_t GetBetaPatch() { return LockedGet(G().betaPatch); }
void SetBetaPatch(uint8_t beta) { LockedSet(G().betaPatch, beta); }

void SignalLoginReady() {
  Globals& g = G();
  g.loginReady.store(true);
  g.loginReadyEvent.Set();
}

bool IsLoginReady() { return G().loginReady.load(); }

Vak::WEvent& LoginReadyEvent() { return G().loginReadyEvent; }

void SignalStartupEvent() {
  Globals& g = G();
  g.startupSignalled.store(true);
  g.startupEvent.Set();
}

bool IsStartupSignalled() { return G().startupSignalled.load(); }

Vak::WEvent& StartupEvent() { return G().startupEvent; }

const Vak::PString& EmptyPString() { return G().emptyPString; }

const Vak::String& EmptyString() { return G().emptyString; }

int SharedRandNextInt() {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  return g.rand.NextInt();
}

int SharedRandNextInt(int lo, int hi) {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  return g.rand.NextInt(lo, hi);
}

Vak::File::Path GetDatabaseRootPath() {
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  return g.databaseRoot;
}

bool SetDatabaseRootPath(const char* path) {
  Vak::File::Path root;
  if (!root.Set(path)) return false;
  // "/" alone stays: without it the root would become the empty (unset) path.
  if (root.Length() > 1) root.DelSlash();
  Globals& g = G();
  Vak::SingleLock guard(&g.lock, true);
  g.databaseRoot = root;
  return true;
}

Vak::File::Path InDatabaseRoot(const char* relative) {
  Vak::File::Path path = GetDatabaseRootPath();
  if (path.Length() == 0 || !path.AddPath(relative)) return Vak::File::Path();
  return path;
}
