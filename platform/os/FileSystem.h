#pragma once
// Files and folders by path. Paths go through ResolvePath, so back-slashes and
// any case work; new entries get the name as given.
//
// Times are FileTime: signed 64-bit nanoseconds since 1970-01-01 00:00 UTC.
#include "platform/os/Error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

using FileTime = int64_t;

struct FileInfo {
  // A symbolic link; a listing gives it as a plain entry (never a folder)
  // with its target's size and times.
  bool isLink = false;
  bool isFolder = false;
  uint64_t size = 0;      // 0 for a folder
  FileTime modified = 0;
  FileTime accessed = 0;
  FileTime created = 0;   // birth time where the file system keeps it, else `modified`
};

struct FolderEntry {
  std::string name;       // without the folder
  FileInfo info;
};

// What is at `path` (links followed). NotFound / PathNotFound when nothing is.
Error Stat(const char* path, FileInfo& info);
// True when a file or folder is at `path`.
bool Exists(const char* path);

// What makes a file or folder itself: two paths (links followed) that reach
// the same one give equal ids.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};
Error GetFileId(const char* path, FileId& id);

// Renames a file or folder, atomically replacing a file (or empty folder) of
// the new name. A new name that only differs in case renames the entry to it.
Error Rename(const char* from, const char* to);
// Deletes a file; a folder gives IsFolder.
Error DeleteFile(const char* path);
// Makes one folder; its parent must exist (else PathNotFound).
Error MakeFolder(const char* path);
// Makes a folder and every missing folder above it. An existing folder is
// success; an existing file gives AlreadyExists, a file on the way PathNotFound.
Error MakeFolderPath(const char* path);
// Removes an empty folder: NotEmpty when it has entries, NotFolder for a file.
Error RemoveFolder(const char* path);
// The entries of a folder without "." and "..", sorted by name (bytes).
// Entries that vanish while listed, or are links to nothing, are left out.
// A link is listed as a link (isLink), never as a folder, so nothing that
// walks a listing strays through it.
// With `keep`, only the names it accepts are examined and listed.
Error ListFolder(const char* path, std::vector<FolderEntry>& entries,
                 const std::function<bool(const char* name)>& keep = {});

// Deletes the folder at `path` with everything in it. Links inside are
// removed themselves, never followed; `path` itself must be a folder, not a
// link to one (NotFolder). Stops at the first entry that cannot go, leaving
// the rest.
Error DeleteTree(const char* path);

// Makes a file read-only for everyone, or readable and writable by its owner
// again (other permission bits as they are).
Error SetReadOnly(const char* path, bool readOnly);

// The bytes an unprivileged process may still write on the file system that
// holds `path`.
Error FreeDiskSpace(const char* path, uint64_t& bytes);

// The process's current folder, and a change of it.
Error CurrentFolder(std::string& out);
Error ChangeFolder(const char* path);

// The folder for temporary files: TMPDIR when set and not empty, else "/tmp";
// without a trailing separator (except for "/" itself).
std::string TemporaryFolder();

} // namespace platform
