#pragma once
// Cross-process ownership of one asset database. The processes that open the
// same database take turns through a named mutex and a 32-byte shared record,
// both named after the database folder: the record holds the creator, the
// owner (who may write the index), the requester next in line and the change
// counter that every write raises. Opened once per process.
//
// Here the mutex is a lock file and the record a mapped file, both in the
// machine-wide folder of the platform layer. The record's file is new when no
// other process holds its attach lock; the last process to detach removes it.
#include <cstdint>

#include "Vak/Bexlorn/File.h"

// The record's fields, read at one moment (for tests and diagnostics).
struct IPCRecordFields {
  int32_t creator = -1;
  int32_t owner = -1;
  int32_t requester = -1;
  int32_t changeCounter = 0;
  uint32_t version = 0;
  uint8_t attachCount = 0;
  uint32_t exclusive = 0;
  uint8_t sharedAttachAllowed = 0;
};

// The record's layout: little-endian fields at fixed offsets.
namespace ipc_record {
constexpr uint32_t kSize = 32;
constexpr uint32_t kCreator = 0;
constexpr uint32_t kOwner = 4;
constexpr uint32_t kRequester = 8;
constexpr uint32_t kChangeCounter = 12;
constexpr uint32_t kVersion = 16;
constexpr uint32_t kAttachCount = 20;
constexpr uint32_t kExclusive = 24;
constexpr uint32_t kSharedAttachAllowed = 28;
constexpr uint32_t kCurrentVersion = 2;
} // namespace ipc_record

// The names of a database's mutex and record, from the path of its
// "assets.tdx" (any case; the file name is compared in lower case). The folder
// is made absolute and given the case it has on disk, then lower-cased, so two
// spellings of one folder give one name. False when the path does not end in
// "assets.tdx", when the folder does not exist, or when a name does not fit.
bool IPCFormNames(const char* indexPath, Vak::File::Path& mutexName, Vak::File::Path& sharedName);

// Opens the mutex and attaches the record of the database of `indexPath`.
// True at once when open. False, leaving nothing open, for a path that
// IPCFormNames refuses, when the mutex cannot be made, or when the record
// refuses the attach (another process set it exclusive; `allowShared` lets a
// patcher in where that process allows it).
bool IPCOpen(const char* indexPath, bool allowShared);
// Gives up ownership, and creatorship, and detaches.
void IPCClose();
bool IPCIsOpen();

// True when this process owns the database or now takes it (it is free and
// nobody else is next). Otherwise false, and with `request` this process
// becomes the requester when there is none. False when not open.
bool IPCTryTakeOwnership(bool request);
// Waits, as the requester, until this process owns the database; the main
// thread shows the blocking screen meanwhile. Returns at once when not open.
void IPCWaitForOwnership();
// One housekeeping step, run by every waiting round: a process takes over as
// creator when the creator is gone; the creator clears a dead owner and a
// dead requester, and a requester that already owns.
void IPCIdle();
bool IPCIsOwner();
void IPCReleaseOwnership();

// This process's copy of the change counter (-1 until first taken).
int32_t IPCLocalChangeCounter();
// Takes the shared counter as the local copy.
void IPCTakeChangeCounter();
// The local copy differs from the shared counter (false when not open).
bool IPCChangeCounterDiffers();
// After a write: raises the shared counter and takes it as the local copy.
// The caller holds the index lock exclusively.
void IPCRaiseChangeCounter();

// False when not open.
bool IPCReadRecord(IPCRecordFields& fields);

// Waiting rounds sleep this long between looks at the record.
constexpr unsigned long kIPCWaitStepMs = 50;
