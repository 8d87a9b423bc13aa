#pragma once
// The status, validate and download-station commands, and the small helpers
// the download station's package processing shares with them.
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

class ResultsLog;

// The size asked of the thumbnail extraction.
constexpr int kThumbnailSize = 240;

// Prints "+ KUID : letters : category : name"; false, with "Unknown
// AssetID.", for an asset the index does not know.
bool CommandStatus(const KUID& kuid, ResultsLog& log);
// Validates the asset's config into the log, each message naming the asset.
// False only when the asset is unknown or has no folder; what the
// validation finds does not fail the command.
bool CommandValidate(const KUID& kuid, ResultsLog& log);
// Installs every asset of the package, commits them, reports on each and
// writes each alone, with its thumbnail, beside the package. False when the
// package is unreadable or an install added errors; the installs are then
// undone.
bool CommandDLSParse(const char* path, ResultsLog& log);
// Deletes every local asset.
bool CommandDLSDeleteAll(ResultsLog& log);

// Line breaks as the two characters '\' 'n' (CR LF and LF CR count as one),
// back-slashes doubled.
Vak::AnsiString EscapeResultText(const char* text);
// The KUIDs' config texts joined with ", ".
Vak::AnsiString FormatKUIDList(const KUIDList& list);
// The installed asset alone in a new package at `path`; a failed write adds
// "Unable to write asset to CDP: %s".
void WriteAssetToCDP(const KUID& kuid, const char* path, ResultsLog& log);
// Writes the data chunk's bytes to `path` as they are, replacing a file
// there only once the new one is whole. False at once when `error` already
// holds a text; else true when the write left none.
bool SaveThumbnailFile(Vak::String& error, const ACSChunkPtr& data, const char* path);
