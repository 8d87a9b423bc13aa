#pragma once
// Moving the asset index between memory and disk: "assets.tdx" in the
// database root, the freshly written "cache/assets.tdx" and the backup
// "cache/assets.bku". The index loads lazily through the index lock (a
// refresh thread takes that first lock right after start-up), falls back to
// the cache copy, then the backup, then a rebuild from the asset folders, and
// is written at shutdown.
#include <cstdint>
#include <string>

#include "Vak/Bexlorn/File.h"

// What the front end hands the database's start.
struct VADStartBlock {
  static constexpr unsigned kRootChars = 260;
  char root[kRootChars] = {};
  int32_t count = 0;
  uint8_t rebuildWhenMissing = 1;
  uint8_t secondFlag = 1;
};

// Resets the block: empty root, count 0, both flags 1.
void VADStartParams(VADStartBlock& block);
// Opens the database on block.root (nothing when open already): the
// cross-process controller on its "assets.tdx", the handlers, the spec
// registry and the refresh thread. False when the controller does not open,
// or when an index file there is newer than this build reads.
bool VADInit(const VADStartBlock& block);
// The first of "assets.tdx", "cache/assets.tdx" and "cache/assets.bku" in the
// database root whose version is newer than this build reads; empty when
// none is. Such a file is never read, restored over or moved.
Vak::File::Path VADNewerIndexFile();
// True once a load met a newer index: the index is then never written.
bool VADIndexRefused();
// Where this process moved an index file it could not read (the backup then
// took its place); empty when it moved none.
std::string VADUnreadableIndexMovedTo();
// Stops the threads, writes the index when it changed, and closes. True when
// the index is on the disk: written now, or unchanged since it was. When the
// process ends right after, the index's memory is left to the end of the
// process (except under the sanitizers, which look at what is left).
enum class VADShutdownMode { kFreeIndex, kProcessEnds };
bool VADShutdown(VADShutdownMode mode = VADShutdownMode::kFreeIndex);
bool VADIsDatabaseOpen();

bool VADLoad();
// Clears the index and loads it again (under an exclusive lock).
void VADReload();
bool VADRestoreFromCache();
void VADRebuildFromFolders();
// Writes the index through "cache/assets.tdx" to "assets.tdx"; true when the
// new file is in place.
bool VADThread_WriteDatabaseLocal();
void VADStartRefreshThread();
void VADStopThreads();
void VADGiveUpOwnership();
// At least 50 MiB free for the caller on the disk of `folder`.
bool HasFreeDiskSpace(const char* folder);
bool VADIsRebuilding();
// Set once this process has loaded (or rebuilt) the index; cleared at shutdown.
bool VADIsIndexLoaded();

// Handlers of values that arrive from the content server.
void VADOnLatestBuild(uint32_t build);
void VADOnServerTime(int64_t time);
void VADOnTimeMarker();

// The message the main thread gets when a write failed for want of space.
constexpr uint32_t kVADLowDiskMessage = 3532;
constexpr uint64_t kVADMinFreeBytes = 0x3200000;
// A stored time marker further ahead than this is not believed.
constexpr int64_t kVADMarkerSlackSeconds = 86400;
constexpr int64_t kVADMarkerDistrusted = 0xFFFFFFFFLL;

// Seconds since 1970; tests replace it.
using VADWallClock = int64_t (*)();
void VADSetWallClock(VADWallClock clock);
