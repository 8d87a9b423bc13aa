#pragma once
// From an asset's config to its record: the fields a config decides, the
// config of a record's first location with its one-entry cache, the check
// of a record against its folders, and the validation of a config through
// the data manager.
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"

class ResultsLog;
class VADAssetInfo;

// Fills the record from the config; with `readKuid` the KUID too. False for
// a config that is not a container, or (with `readKuid`) without a KUID.
bool FillFromConfig(const ACSChunkPtr& config, VADAssetInfo& record, bool readKuid);
// Surrounding blanks, tabs and line ends go, then one quote at each end; an
// empty result is the interface text of "$cm_general_untitled".
Vak::String VADCleanAssetName(const char* text);
// The pieces FillFromConfig derives, for the record and for tests.
void VADConfigClassCodes(const ACSChunkPtr& config, Vak::AnsiString& codes);
void VADConfigEraList(const ACSChunkPtr& config, Vak::AnsiString& eras);
void VADConfigRegionList(const ACSChunkPtr& config, Vak::AnsiString& regions);
float VADConfigBuild(const ACSChunkPtr& config);

// "config.chump", else "config.txt", in the folder (inside the archive of
// that name when one is given; it is held open meanwhile).
bool FindConfig(const char* folder, const Vak::PString& archiveName, ACSChunkPtr& config);
// The config of the record's first location: local, archive, editing.
bool ReadRecordConfig(const VADAssetInfo& record, ACSChunkPtr& config);
// ReadRecordConfig through a one-entry cache; a null tree when none.
ACSChunkPtr GetRecordConfig(const VADAssetInfo& record);
// Drops the cache entry when it is the record's.
void DropRecordConfig(const VADAssetInfo& record);
// Makes a config just read from the record's folder its cache entry.
void KeepRecordConfig(const VADAssetInfo& record, const ACSChunkPtr& config);
// Drops the cache entry whatever record it belongs to: records are freed.
void ClearRecordConfigCache();

// The repair check of one record against its folders; true when nothing
// needed re-reading.
bool VerifyRecord(VADAssetInfo& record);

// Validates the config in the folder (inside the archive of that name when
// one is given) through the data manager into `results`. False when the
// folder has no config or the config's kind did not survive.
bool VADValidateAsset(const Vak::PString& archiveName, const char* folder, ResultsLog& results);
