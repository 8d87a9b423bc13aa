#pragma once
// Free functions the asset database and the chunk-file code share for paths,
// folder scans, temporary names and whole-file writes.
//
// Most take a data-folder name and a path relative to it, resolved against
// the database root path (AppGlobals.h); with an empty name they accept only
// absolute paths. Paths go to the engine's file functions with forward
// slashes turned into back-slashes.
#include <cstddef>
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"

// One leading '.' of ext is ignored; the path ends in "." + ext, compared
// without regard to ASCII case.
bool IsExtension(const char* path, const char* ext);
// Walks extensions: a null cursor moves behind the path's last '.' (false and
// a null cursor when there is none); a cursor at '.' steps over it. True
// while an extension is available at the cursor.
bool NextExtension(const char*& cursor, const char* path);
// "." or "..".
bool IsDotName(const char* name);
// "X:\", "X:/" (the letter itself is not checked), or a leading separator
// ('/' is the root here; "\\" starts a network path).
bool IsAbsolutePath(const char* text);
// Characters other than 0-9, A-Z, a-z, '_' and ' ' become '_'; trailing
// blanks go.
Vak::String SanitiseFileName(const char* text);

// The root path + name + ".va" exists (an engine archive).
bool ArchiveFileExists(const char* name);
// A hash of the folder tree under path + "*" that changes when a file in it
// changes; 1 when the search cannot start (never 0).
uint32_t FolderChangeHash(const Vak::PString& folderName, const char* path);
// Some entry under path + "*" (searched recursively) is not a folder.
bool FolderHasFiles(const Vak::PString& folderName, const char* path);
// Makes the folder (and its missing parents): root + folderName + path with a
// name, else path, which must then be absolute.
bool MakeFolderPath(const Vak::PString& folderName, const char* path);
// Each side resolved as for MakeFolderPath; both must come out absolute.
bool RenameInRoot(const Vak::PString& fromName, const char* from, const Vak::PString& toName, const char* to);
bool RenameFile(const char* from, const char* to);
// With a name: through the substitute of that name. Without: an absolute
// path is looked up; a relative one counts as existing.
bool FileExists(const Vak::PString& folderName, const char* path);
// Removes a folder tree, else a file. Only a path strictly inside the
// database root (which must be set), without "." or ".." parts, is touched.
bool DeleteInsideDatabaseRoot(const Vak::PString& folderName, const char* path);
// A free path in the folder: folder + the sanitised preferred name + extension
// when that is free (a leftover folder without files of that name is removed
// first), else folder + prefix + 8 random characters + a counter (+ "." +
// extension). A preferred name that sanitises to nothing counts as absent.
// False when the folder cannot be made or no free name turned up in 100 tries.
// A preferred path that `claimed` answers true for is neither removed nor
// taken: the caller knows it belongs to something, empty or not.
bool CreateTemporaryFilePath(const Vak::PString& folderName, const char* folder, const char* prefix,
                             const char* extension, const char* preferredName, Vak::File::Path& path,
                             bool (*claimed)(const char* path) = nullptr);
// Starts with "/cache/", letters compared without regard to case.
bool IsCachePath(const char* text);
// Writes `size` bytes as the whole content of `path`. A plain path is
// replaced through a synced temporary file beside it and a rename, so a crash
// leaves the old file or the new one, never a short one (inside a
// platform::SyncBatch the sync waits for the batch's end); a link is written
// through (it stays a link), and so is a path the temporary cannot be made
// beside ("name:path" through its substitute).
bool WriteWholeFile(const char* path, const void* data, std::size_t size);
// Copies a file through the substitutes (plain paths for empty names). The
// destination must not exist yet. False when either side cannot be opened or
// any piece is read or written short; a partial destination is removed.
bool CopyFileStream(const Vak::PString& fromName, const char* from, const Vak::PString& toName, const char* to);
