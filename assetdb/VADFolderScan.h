#pragma once
// Finding assets the index does not know yet: the asset folders of the
// archives, of "local" (in its 256 hash folders) and of "editing", each read
// into a record from its config. A folder that yields no record goes to
// "trash", so later scans do not meet it again; so does a second local copy
// of an asset the index already has one of.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"

class VADLocationSet;

enum VADScanMode : int { kScanArchive = 0, kScanLocal = 1, kScanEditing = 2 };

// Takes the folder (inside the archive `substitute` when named) out of its
// place in one rename, into "trash" under a fresh name that prefers its own,
// so that a kill leaves it whole in one place or the other; an empty folder
// is deleted instead. `moved` is where it went, empty when deleted. False
// when it stayed where it was.
bool MoveFolderToTrash(const Vak::PString& substitute, const char* path, Vak::File::Path& moved);
// The names of the sub-folders of `folder` inside `source`, as ScanFolder
// lists them.
std::vector<std::string> ListSubFolders(const char* source, const char* folder, int mode);

// `folder` is the asset's folder inside `source`: the archive's name
// (archive mode) or the root folder "local" or "editing". False when the mode
// is unknown or the folder holds no config with a KUID.
bool AddAssetFromFolder(const char* folder, const char* source, int mode);
// Adds each sub-folder of `folder` (inside `source`) that `known` lacks.
// Stops when `cancel` becomes non-zero; null never cancels.
void ScanFolder(const char* source, const char* folder, int mode, const VADLocationSet& known,
                const std::atomic<uint8_t>* cancel);
void ScanLocalFolders(const std::atomic<uint8_t>* cancel);
void ScanArchive(const char* name, const std::atomic<uint8_t>* cancel);

// The settings tree's value (empty when absent).
Vak::PString GetSettingValue(const char* section, const char* key);
// Stores a changed value and marks the index dirty.
void SetSettingValue(const char* section, const char* key, const char* value);
