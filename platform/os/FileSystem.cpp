#include "platform/os/FileSystem.h"

#include "platform/os/ListingCache.h"
#include "platform/os/NativePath.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr FileTime kNanosecondsPerSecond = 1'000'000'000;

FileTime ToFileTime(const struct statx_timestamp& t) {
  return static_cast<FileTime>(t.tv_sec) * kNanosecondsPerSecond + t.tv_nsec;
}

FileTime ToFileTime(const struct timespec& t) {
  return static_cast<FileTime>(t.tv_sec) * kNanosecondsPerSecond + t.tv_nsec;
}

// Status of `path` relative to the folder `dirfd`; the errno on failure.
// `flags` may add AT_SYMLINK_NOFOLLOW.
int StatAt(int dirfd, const char* path, FileInfo& info, int flags = 0) {
  struct statx stx;
  const unsigned mask = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_ATIME | STATX_BTIME;
  info.isLink = false;
  if (::statx(dirfd, path, AT_STATX_SYNC_AS_STAT | flags, mask, &stx) == 0) {
    info.isLink = S_ISLNK(stx.stx_mode);
    info.isFolder = S_ISDIR(stx.stx_mode);
    info.size = info.isFolder ? 0 : stx.stx_size;
    info.modified = ToFileTime(stx.stx_mtime);
    info.accessed = ToFileTime(stx.stx_atime);
    info.created = (stx.stx_mask & STATX_BTIME) ? ToFileTime(stx.stx_btime) : info.modified;
    return 0;
  }
  if (errno != ENOSYS) return errno;
  // Kernels (or sandboxes) without statx.
  struct stat st;
  if (::fstatat(dirfd, path, &st, flags) != 0) return errno;
  info.isLink = S_ISLNK(st.st_mode);
  info.isFolder = S_ISDIR(st.st_mode);
  info.size = info.isFolder ? 0 : static_cast<uint64_t>(st.st_size);
  info.modified = ToFileTime(st.st_mtim);
  info.accessed = ToFileTime(st.st_atim);
  info.created = info.modified;
  return 0;
}

bool IsFolderAt(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The path up to its last component, and that component as written.
std::string FolderOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string LastComponent(const char* path) {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

} // namespace

Error Stat(const char* path, FileInfo& info) {
  if (path == nullptr) return Error::InvalidArgument;
  bool absent = false;
  std::string native = ResolvePath(path, absent);
  if (absent) return Error::NotFound;
  int err = StatAt(AT_FDCWD, native.c_str(), info);
  return err == 0 ? Error::None : ErrorFromErrno(err, native.c_str());
}

bool Exists(const char* path) {
  FileInfo info;
  return Stat(path, info) == Error::None;
}

Error GetFileId(const char* path, FileId& id) {
  if (path == nullptr) return Error::InvalidArgument;
  bool absent = false;
  std::string native = ResolvePath(path, absent);
  if (absent) return Error::NotFound;
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return ErrorFromErrno(errno, native.c_str());
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  return Error::None;
}

Error Rename(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return Error::InvalidArgument;
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  if (target == source) {
    // The new name found the entry itself: a change of case only.
    target = FolderOf(target) + LastComponent(to);
  }
  listing::Change leaving(source), arriving(target);
  FileInfo replaced;
  if (source != target && StatAt(AT_FDCWD, target.c_str(), replaced, AT_SYMLINK_NOFOLLOW) == 0 && replaced.isFolder)
    listing::Forget(target);
  if (::rename(source.c_str(), target.c_str()) == 0) {
    listing::Change::Moved(leaving, arriving);
    return Error::None;
  }
  int err = errno;
  // A missing source is the error to report, whatever happened to the target.
  if (err == ENOENT || err == ENOTDIR) {
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) return ErrorFromErrno(errno, source.c_str());
    return ErrorFromErrno(err, target.c_str());
  }
  return ErrorFromErrno(err);
}

Error DeleteFile(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  listing::Change change(native);
  if (::unlink(native.c_str()) == 0) {
    change.Removed();
    return Error::None;
  }
  int err = errno;
  if (err == EPERM && IsFolderAt(native)) return Error::IsFolder;  // what POSIX allows unlink to say
  return ErrorFromErrno(err, native.c_str());
}

Error MakeFolder(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  listing::Change change(native);
  if (::mkdir(native.c_str(), 0777) == 0) {
    change.Added();
    listing::Made(native);
    return Error::None;
  }
  return ErrorFromErrno(errno, native.c_str());
}

Error MakeFolderPath(const char* path) {
  if (path == nullptr || *path == 0) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  std::size_t end = 0;
  while (end < native.size()) {
    std::size_t slash = native.find('/', end + 1);
    end = slash == std::string::npos ? native.size() : slash;
    std::string prefix = native.substr(0, end);
    if (prefix.empty() || prefix.back() == '/') continue;  // root, or "//"
    listing::Change change(prefix);
    if (::mkdir(prefix.c_str(), 0777) == 0) {
      change.Added();
      listing::Made(prefix);
      continue;
    }
    int err = errno;
    if (err == EEXIST) {
      if (IsFolderAt(prefix)) continue;
      return end == native.size() || native.find_first_not_of('/', end) == std::string::npos
                 ? Error::AlreadyExists
                 : Error::PathNotFound;
    }
    return ErrorFromErrno(err, prefix.c_str());
  }
  return Error::None;
}

Error RemoveFolder(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  listing::Change change(native);
  listing::Forget(native);
  if (::rmdir(native.c_str()) == 0) {
    change.Removed();
    return Error::None;
  }
  int err = errno;
  if (err == EEXIST) err = ENOTEMPTY;  // POSIX lets rmdir say either
  return ErrorFromErrno(err, native.c_str());
}

Error ListFolder(const char* path, std::vector<FolderEntry>& entries, const std::function<bool(const char*)>& keep) {
  entries.clear();
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return ErrorFromErrno(errno, native.c_str());
  int fd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (keep && !keep(entry->d_name)) continue;
    FolderEntry item;
    if (StatAt(fd, entry->d_name, item.info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (item.info.isLink) {
      if (StatAt(fd, entry->d_name, item.info) != 0) continue;  // a link to nothing
      item.info.isLink = true;
      item.info.isFolder = false;
    }
    item.name = entry->d_name;
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return Error::None;
}

namespace {

// Empties the folder open as `fd` (which it takes over), entry by entry
// relative to it, so that no path is looked up again and no link is followed
// on the way down. The errno of the first failure, else 0.
int EmptyFolderAt(int fd) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    int err = errno;
    ::close(fd);
    return err;
  }
  int err = 0;
  while (err == 0) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) err = errno;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      int sub = ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        err = errno;
        break;
      }
      listing::Forget(st.st_dev, st.st_ino);
      err = EmptyFolderAt(sub);
      if (err == 0 && ::unlinkat(fd, entry->d_name, AT_REMOVEDIR) != 0) err = errno;
    } else if (::unlinkat(fd, entry->d_name, 0) != 0 && errno != ENOENT) {
      err = errno;
    }
  }
  ::closedir(dir);
  return err;
}

} // namespace

Error DeleteTree(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    // A link (ELOOP or ENOTDIR under O_NOFOLLOW) is not the folder to delete.
    struct stat st;
    if ((err == ELOOP || err == ENOTDIR) && ::lstat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
      return Error::NotFolder;
    return ErrorFromErrno(err, native.c_str());
  }
  listing::Change change(native);
  listing::Forget(native);
  if (int err = EmptyFolderAt(fd); err != 0) return ErrorFromErrno(err);
  if (::rmdir(native.c_str()) != 0) return ErrorFromErrno(errno, native.c_str());
  change.Removed();
  return Error::None;
}

Error SetReadOnly(const char* path, bool readOnly) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return ErrorFromErrno(errno, native.c_str());
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IRUSR | S_IWUSR;
  if (::chmod(native.c_str(), mode) != 0) return ErrorFromErrno(errno, native.c_str());
  return Error::None;
}

Error FreeDiskSpace(const char* path, uint64_t& bytes) {
  bytes = 0;
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  struct statvfs st;
  if (::statvfs(native.c_str(), &st) != 0) return ErrorFromErrno(errno, native.c_str());
  bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return Error::None;
}

Error CurrentFolder(std::string& out) {
  out.clear();
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      out.assign(buffer.c_str());
      return Error::None;
    }
    if (errno != ERANGE) return ErrorFromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
}

Error ChangeFolder(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  if (::chdir(native.c_str()) != 0) return ErrorFromErrno(errno, native.c_str());
  return Error::None;
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

} // namespace platform
