#pragma once
// Moving an asset between the installation's folders: commit (the editing
// copy becomes the local folder), revert (the editing copy goes), delete
// (every copy goes, and usually the record) and create (a new record with an
// editing folder). Each holds the index lock exclusively and reports through
// the caller's log.
//
// A folder that cannot be deleted stops the operation and stays in the
// record, so the index never loses track of files on disk.
#include <cstdint>

#include "assetdb/VADAssetHandle.h"
#include "content/KUID.h"

class ResultsLog;
class VADAssetInfo;

// Commit flags.
enum : uint32_t {
  kCommitKeepEditing = 0x01,
  kCommitLegacyPath = 0x02,
  kCommitSkipFileCheck = 0x04,
  kCommitConvert = 0x08,
};

// True on success; the handle is then in read mode. `kept` is set when the
// editing folder could not be deleted (the record forgets it either way).
bool VADCommitAssetEdits(VADAssetHandle& handle, uint32_t flags, ResultsLog* log, bool& kept);
// Commits the files of a record that has neither an editing nor a local
// folder, put together in `staged` (MakeLocalStagingFolder): the staged
// folder becomes its local folder as a commit's copy would. A commit that
// fails leaves it as the record's editing folder. The caller holds the
// record under the exclusive index lock.
bool VADCommitStagedFolder(VADAssetInfo& record, const char* staged, uint32_t flags, ResultsLog* log);
// True when an editing copy was discarded. Drops the handle's reference.
bool VADRevertAsset(VADAssetHandle handle, ResultsLog* log);
// True when the asset was found, not archived, and every folder of it went.
bool VADDeleteAsset(const KUID& kuid, bool removeRecord, ResultsLog* log);
// A new record (the null KUID asks for a new KUID) opened for edit, with a
// minimal "config.txt" when asked; an invalid handle when the KUID is taken.
VADAssetHandle VADCreateAsset(const KUID& kuid, bool writeConfig, const char* name);
// The record alone, logged as created, with no folder yet; null when the
// KUID is taken.
VADAssetInfo* VADCreateAssetRecord(const KUID& kuid, const char* name);

// How these operations delete a folder (an absolute path); true when it is
// gone. Tests replace it to play a folder that will not go.
using VADDeleteFolderFunction = bool (*)(const char* path);
extern VADDeleteFolderFunction gVadDeleteFolder;
bool VADDeleteFolder(const char* path);
