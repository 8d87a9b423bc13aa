#include "platform/os/Error.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace platform {

const char* ErrorName(Error error) {
  switch (error) {
    case Error::None: return "None";
    case Error::NotFound: return "NotFound";
    case Error::PathNotFound: return "PathNotFound";
    case Error::AccessDenied: return "AccessDenied";
    case Error::AlreadyExists: return "AlreadyExists";
    case Error::NotEmpty: return "NotEmpty";
    case Error::DiskFull: return "DiskFull";
    case Error::IsFolder: return "IsFolder";
    case Error::NotFolder: return "NotFolder";
    case Error::InvalidArgument: return "InvalidArgument";
    case Error::Other: return "Other";
  }
  return "Other";
}

Error ErrorFromErrno(int err) {
  switch (err) {
    case 0: return Error::None;
    case ENOENT: return Error::NotFound;
    case ENOTDIR: return Error::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBADF:  // a handle without the access asked for
    case ETXTBSY: return Error::AccessDenied;
    case EEXIST: return Error::AlreadyExists;
    case ENOTEMPTY: return Error::NotEmpty;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return Error::DiskFull;
    case EISDIR: return Error::IsFolder;
    case EINVAL:
    case ENAMETOOLONG:
    case ESPIPE: return Error::InvalidArgument;
    default: return Error::Other;
  }
}

namespace {

// The folder part of a path: "." for a bare name, "/" for a name in the root.
std::string ParentOf(const char* path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

bool IsFolderPath(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

Error ErrorFromErrno(int err, const char* path) {
  if (path == nullptr) return ErrorFromErrno(err);
  if (err == ENOENT) return IsFolderPath(ParentOf(path)) ? Error::NotFound : Error::PathNotFound;
  if (err == ENOTDIR) {
    struct stat st;
    if (::stat(path, &st) == 0 && !S_ISDIR(st.st_mode)) return Error::NotFolder;
    return Error::PathNotFound;
  }
  return ErrorFromErrno(err);
}

} // namespace platform
