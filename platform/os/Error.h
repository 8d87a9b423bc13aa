#pragma once
// Failures of the platform layer, reduced to the few kinds the callers act on.
// Operations return the kind by value; None is success.

namespace platform {

enum class Error {
  None,
  NotFound,         // the file or folder itself is missing
  PathNotFound,     // a folder on the way to it is missing (or is not a folder)
  AccessDenied,     // permissions, a read-only file system, or a handle opened without that access
  AlreadyExists,
  NotEmpty,         // removing a folder that still has entries
  DiskFull,         // no space or quota left
  IsFolder,         // a file operation on a folder
  NotFolder,        // a folder operation on a file
  InvalidArgument,  // a null path, a closed handle, a bad seek, a mode that makes no sense
  Other,
};

// Short English name of the kind ("NotFound"), for messages and test output.
const char* ErrorName(Error error);

// Kind of an errno value.
Error ErrorFromErrno(int err);
// The same for a failure on `path` (already resolved): ENOENT becomes NotFound
// when the path's folder exists and PathNotFound otherwise; ENOTDIR becomes
// NotFolder when the path itself is a non-folder and PathNotFound otherwise.
Error ErrorFromErrno(int err, const char* path);

} // namespace platform
