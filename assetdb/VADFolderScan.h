#pragma once
// Finding assets the index does not know yet: the asset folders of the
// archives, of "local" (in its 256 hash folders) and of "editing", each read
// into a record from its config. A folder that yields no record goes to
// "trash", so later scans do not meet it again.
#include <atomic>
#include <cstdint>

#include "Vak/Bexlorn/PString.h"

class VADLocationSet;

enum VADScanMode : int { kScanArchive = 0, kScanLocal = 1, kScanEditing = 2 };

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
