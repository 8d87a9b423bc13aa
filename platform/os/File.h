#pragma once
// An open operating-system file: unbuffered reads and writes at a 64-bit
// position. Paths go through ResolvePath, so back-slashes and any case work.
#include "platform/os/Error.h"

#include <cstddef>
#include <cstdint>

namespace platform {

class File {
public:
  enum class Access { Read, Write, ReadWrite };

  // What to do about the file being there or not, as the dispositions of the
  // Win32 open.
  enum class Disposition {
    OpenExisting,      // open; missing is NotFound
    OpenAlways,        // open, or create when missing
    CreateNew,         // create; existing is AlreadyExists
    CreateAlways,      // create, or empty an existing file
    TruncateExisting,  // open and empty; missing is NotFound; needs write access
  };

  enum class Origin { Begin, Current, End };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path` positioned at 0. A new file gets read and write permission
  // (less the umask). A folder gives IsFolder; an open object gives
  // InvalidArgument and stays as it is.
  Error Open(const char* path, Access access, Disposition disposition);
  // Closes; reports what the system said about the last writes. Closing a
  // closed file does nothing.
  Error Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Reads until `size` bytes came or the end of the file; `read` gets the count.
  Error Read(void* buffer, std::size_t size, std::size_t& read);
  // Writes all `size` bytes or fails.
  Error Write(const void* data, std::size_t size);

  // Moves the position; a position before 0 is refused, one after the end is
  // allowed (a write there fills the gap with zeros). `position` gets the new one.
  Error Seek(int64_t offset, Origin origin, int64_t* position = nullptr);
  // Current position, -1 when closed or on failure.
  int64_t Tell() const;
  // Length in bytes, -1 when closed or on failure.
  int64_t Size() const;
  // The length seen when it was opened for reading (the look that tells a
  // folder from a file), for a reader that takes it up at once; -1 when
  // closed or opened for writing.
  int64_t OpenedSize() const { return openedSize_; }
  // The file ends at the current position (shorter or longer).
  Error SetEndOfFile();
  // Reads or writes at `offset` without moving the position, in one call, so
  // several users of one handle need no seek between them. ReadAt stops at
  // the end of the file; WriteAt writes all or fails.
  Error ReadAt(int64_t offset, void* buffer, std::size_t size, std::size_t& read);
  Error WriteAt(int64_t offset, const void* data, std::size_t size);
  // Commits what was written to the disk (fsync).
  Error Sync();
  // Sync, except inside a SyncBatch on this thread: then the file's file
  // system is noted and synced once, by FlushDeferredSyncs.
  Error SyncOrDefer();

private:
  int fd_ = -1;
  int64_t openedSize_ = -1;
};

// While alive, SyncOrDefer on this thread defers. The outermost batch ends
// with FlushDeferredSyncs. Many small files written in one batch then cost
// one sync of their file system instead of one fsync each.
class SyncBatch {
public:
  SyncBatch();
  ~SyncBatch();
  SyncBatch(const SyncBatch&) = delete;
  SyncBatch& operator=(const SyncBatch&) = delete;
};

// Syncs the file systems of every deferred file (any thread's). Call before
// writing anything that points at those files. What fails stays pending.
Error FlushDeferredSyncs();
// True while some deferred sync has not been flushed.
bool HasDeferredSyncs();

} // namespace platform
