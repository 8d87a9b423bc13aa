#pragma once
// The database repair steps, each under its own exclusive lock so a running
// simulator can interleave, and two small services of the same kind: setting
// a value of the index's settings tree and the readiness test.
//
// The repair task calls them in this order: purge; reload over every record;
// scan; damaged over every record; obsolete over every record; dependencies
// over every record; reset; set flag. The per-record steps take a number in
// the index's record order and answer false past the last record. `patcher`
// is the task's patcher mode: only built-in records and archives are touched.
#include <atomic>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"

class ResultsLog;

// Deletes "cache/libraries" and makes it again, runs the download queue once,
// releases the global data tree and moves the obsolete generation on.
void VADRepairPurge();
// The number of records, taken under an exclusive lock.
uint32_t VADRecordCount();
// Drops the record's locations whose config is gone: an archive folder
// without "config.chump" or "config.txt", a local folder without
// "config.chump", an editing folder that is gone or holds no config.
bool VADRepairReloadConfig(uint32_t n, bool patcher);
// Scans the archives, and unless `patcher` the local and editing folders, for
// assets the index lacks. Stops when `cancel` becomes non-zero; null never
// cancels.
void VADRepairScanFolders(const std::atomic<uint8_t>* cancel, bool patcher);
// Re-reads a record whose content stamp changed since it was read, reporting
// each such record (and each that no longer reads) to `log`.
bool VADRepairDamaged(uint32_t n, ResultsLog* log, bool patcher);
// Record 0 empties both KUID replacement tables first; each record then
// enters its obsolete links again.
bool VADRepairObsolete(uint32_t n);
// Recomputes the record's missing- and faulty-dependency answers.
bool VADRepairDependencies(uint32_t n);
// Clears every record's download-station flag and resets the station.
void VADRepairResetState();
// Clears the index's rebuilt flag.
void VADRepairSetFlag();

// Takes the exclusive lock with `lockFlags` (VADLock::Flags); false when it
// could not be taken, and then nothing changes.
bool VADSetSetting(const char* section, const char* key, const char* value, uint32_t lockFlags);
// The index is loaded, or a shared lock can be taken now; false before the
// database is open.
bool VADIsIndexReady();
// The settings tree's value when the index is ready, else empty.
Vak::PString VADTryLocked(const char* section, const char* key);
