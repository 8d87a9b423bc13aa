#pragma once
// Process-wide state the content code shares: the program's name and main
// thread, the latest build number known to the process and its lock, the
// start-up event, the application clock, what the web-service login reads
// (user name, password, screen width, beta byte, readiness), shared empty
// strings, the shared random generator and the database root path.
//
// Everything is made on first use (safe from static initialisers and from
// any thread) and lives until the process ends.
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"

namespace Vak {
class CriticalSection;
class WEvent;
} // namespace Vak

// Stores the name and records the calling thread as the main thread.
void SetProgramName(const char* name);
// Empty until set.
Vak::String GetProgramName();
// Start-up calls this before any worker thread starts.
void SetMainThread();
bool IsMainThread();
uint32_t GetMainThreadId();

// Guards the latest build number. Taken last and briefly: no other lock is
// taken while it is held.
Vak::CriticalSection& AppGlobalsLock();
uint32_t GetBuildNumber();
void SetBuildNumber(uint32_t build);

// The content server's time (seconds) as last reported, under the lock.
int64_t GetServerTime();
void SetServerTime(int64_t time);

// The application clock in seconds; these programs never advance it.
float GetAppClock();
void SetAppClock(float seconds);

// What the web-service login sends, filled by the application before it
// signals readiness. Each is read and set under the lock.
Vak::String GetLoginUserName();
void SetLoginUserName(const char* name);
Vak::String GetLoginPassword();
void SetLoginPassword(const char* password);
int32_t GetScreenWidth();
void SetScreenWidth(int32_t width);
uint8_t GetBetaPatch();
void SetBetaPatch(uint8_t beta);
// Set once the login values are filled; the event is manual-reset, so it
// stays signalled. Nothing in these programs signals it.
void SignalLoginReady();
bool IsLoginReady();
Vak::WEvent& LoginReadyEvent();

// Handlers the asset database installs while it is open; null when none.
// The server-time slot is read and set under the lock; the time-marker slot
// is guarded by the lock too, which its users hold around the call.
using ServerTimeHandler = void (*)(int64_t time);
using TimeMarkerHandler = void (*)();
// Called with a latest build number a server reported; read and set under
// the lock.
using LatestBuildHandler = void (*)(uint32_t build);
LatestBuildHandler GetLatestBuildHandler();
void SetLatestBuildHandler(LatestBuildHandler handler);
ServerTimeHandler GetServerTimeHandler();
void SetServerTimeHandler(ServerTimeHandler handler);
TimeMarkerHandler GetTimeMarkerHandler();
void SetTimeMarkerHandler(TimeMarkerHandler handler);
// Set when a time marker arrived before the database could take it; the
// database's start runs the handler for it at once.
bool IsTimeMarkerPending();
void SetTimeMarkerPending(bool pending);

// Finds the file a "file" URL names when the path alone does not:
// (content type, path) to the file, false when there is none. The asset
// database may install one; null when none is.
using FileUrlResolver = bool (*)(const char* contentType, const char* path, Vak::File::Path& result);
FileUrlResolver GetFileUrlResolver();
void SetFileUrlResolver(FileUrlResolver resolver);

// Set once the asset index has been read and sorted; the event is
// manual-reset, so it stays signalled.
void SignalStartupEvent();
bool IsStartupSignalled();
Vak::WEvent& StartupEvent();

// Results that hold no text.
const Vak::PString& EmptyPString();
const Vak::String& EmptyString();

// Draws from the shared generator under the application-globals lock (the
// generator itself is not safe to share between threads).
int SharedRandNextInt();
int SharedRandNextInt(int lo, int hi);

// Empty until the asset database opens; kept without a trailing separator.
Vak::File::Path GetDatabaseRootPath();
// False (the root unchanged) when the path does not fit.
bool SetDatabaseRootPath(const char* path);
// `relative` under the database root, joined as AddPath joins; "" while no
// root is set or when the result does not fit. An empty `relative` gives the
// root with a trailing separator.
Vak::File::Path InDatabaseRoot(const char* relative);
