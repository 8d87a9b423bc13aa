#pragma once
// The folders around the index that the asset operations need: new records,
// fresh local and editing folders, the copy of one asset folder over another,
// and the small clean-ups of file trees on their way into a package.
//
// Functions that change records expect the caller to hold the index lock
// exclusively.
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "cdp/ContentPackage.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

class ResultsLog;
class VADAssetInfo;

// A record for a KUID the index does not hold yet (the null KUID asks for a
// new one), named "New Asset" when the name is empty; null when the KUID is
// taken or none could be had. Marks the index dirty either way.
VADAssetInfo* NewAssetRecord(const KUID& kuid, const char* name);

// The bucket of a KUID among the local folder's "hash-%02X" folders, from
// its first two stored words.
uint8_t LocalHashBucket(const KUID& kuid);
// Makes root/local/hash-XX and gives it; empty when it cannot be made.
Vak::File::Path MakeLocalHashFolder(const KUID& kuid);
// A fresh "content..." folder in the record's hash folder, stored as its
// local folder; false when it already has one or none could be made.
bool AllocateLocalFolder(VADAssetInfo& record);
// A fresh "temp" folder in the KUID's hash folder, where files meant for
// its local folder are put together; empty when none could be made. A kill
// leaves it as the local-folder scan's "temp" leftover.
Vak::File::Path MakeLocalStagingFolder(const KUID& kuid);
// The staged folder, complete, becomes the record's local folder under a
// fresh "content..." name beside it; false when the record already has one
// or the rename fails (the staged folder is then left as it is).
bool PlaceStagedLocalFolder(VADAssetInfo& record, const char* staged);
// The staged folder becomes the record's editing folder instead; false when
// that fails (the staged folder is then deleted).
bool PlaceStagedEditingFolder(VADAssetInfo& record, const char* staged);
// While one is alive, the free-name check of new editing folders looks the
// folders records hold up in a table made at its first use, instead of
// asking every record each time; the folders given out meanwhile go into
// it. For a batch of installs under one exclusive hold of the index lock.
class VADFolderClaimsBatch {
public:
  VADFolderClaimsBatch();
  ~VADFolderClaimsBatch();
  VADFolderClaimsBatch(const VADFolderClaimsBatch&) = delete;
  VADFolderClaimsBatch& operator=(const VADFolderClaimsBatch&) = delete;
};

// A fresh folder in root/editing named after the display name (else
// "edit ..."), stored as its editing folder; false when it already has one
// or none could be made. A name that a record holds as its editing or local
// folder is never taken, however empty that folder is.
bool AllocateEditingFolder(VADAssetInfo& record);

// The file, or for a ".texture" path its ".texture.txt" description.
bool FileOrTextureSourceExists(const char* path);
// Below the folder, every ".gse" whose ".gs" source lies beside it goes;
// true when every such file went.
bool DeleteCompiledScripts(const char* folder);
// A package files tree without its config files.
void RemoveConfigFiles(ACSChunkPtr& files);
// A package files tree without the descriptions of textures it holds
// compiled ("x.texture.txt" beside "x.texture"), recursively.
void RemoveTextureSources(ACSChunkPtr& files);
// Drops the KUID's entry from the index's global data tree, and its author's
// container when that is left empty.
void RemoveGlobalDataEntry(const KUID& kuid);
// "%d:%d" of the KUID's second stored word, then its first.
Vak::AnsiString FormatKuidPair(const KUID& kuid);

// Flags of RewriteAssetFolder.
enum : uint32_t {
  kRewriteCopyOnly = 0x02,  // without kRewriteConvert: no texture or script passes
  kRewriteConvert = 0x04,
};

// Replaces the destination folder by a copy of the source folder (inside
// the archive `sourceArchive` when not null). The copy is made complete in a
// temporary folder beside the destination and takes the destination's place
// in one step where the file system can, else by renames that are undone
// when one fails. The destination is unchanged by every failure.
bool RewriteAssetFolder(const Vak::PString& sourceArchive, const char* sourceFolder, const char* destinationFolder,
                        ResultsLog& results, uint32_t flags);
// Where RewriteAssetFolder's renames go through; tests replace it to play a
// failing file system. Returns true on success.
using VADRenameFunction = bool (*)(const char* from, const char* to);
extern VADRenameFunction gVadRewriteRename;
// Whether RewriteAssetFolder may swap folders in one step; tests turn it off
// to exercise the renames.
extern bool gVadRewriteExchange;
