#include "platform/os/FileSystem.h"

#include "platform/os/NativePath.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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
int StatAt(int dirfd, const char* path, FileInfo& info) {
  struct statx stx;
  const unsigned mask = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_ATIME | STATX_BTIME;
  if (::statx(dirfd, path, AT_STATX_SYNC_AS_STAT, mask, &stx) == 0) {
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
  if (::fstatat(dirfd, path, &st, 0) != 0) return errno;
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
  std::string native = ResolvePath(path);
  int err = StatAt(AT_FDCWD, native.c_str(), info);
  return err == 0 ? Error::None : ErrorFromErrno(err, native.c_str());
}

bool Exists(const char* path) {
  FileInfo info;
  return Stat(path, info) == Error::None;
}

Error Rename(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return Error::InvalidArgument;
  std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  if (target == source) {
    // The new name found the entry itself: a change of case only.
    target = FolderOf(target) + LastComponent(to);
  }
  if (::rename(source.c_str(), target.c_str()) == 0) return Error::None;
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
  if (::unlink(native.c_str()) == 0) return Error::None;
  int err = errno;
  if (err == EPERM && IsFolderAt(native)) return Error::IsFolder;  // what POSIX allows unlink to say
  return ErrorFromErrno(err, native.c_str());
}

Error MakeFolder(const char* path) {
  if (path == nullptr) return Error::InvalidArgument;
  std::string native = ResolvePath(path);
  if (::mkdir(native.c_str(), 0777) == 0) return Error::None;
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
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
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
  if (::rmdir(native.c_str()) == 0) return Error::None;
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
    if (StatAt(fd, entry->d_name, item.info) != 0) continue;
    item.name = entry->d_name;
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return Error::None;
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

} // namespace platform
