#include "platform/os/NativePath.h"

#include "platform/os/CaseFold.h"
#include "platform/os/ListingCache.h"

#include <cstring>
#include <dirent.h>
#include <string_view>
#include <sys/stat.h>

namespace platform {

namespace {

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The entry of `folder` that equals `name` without regard to case, the first
// in byte order when there are several; empty when none. `opened` tells
// whether the folder could be read.
std::string FindIgnoringCase(const std::string& folder, std::string_view name, bool* opened = nullptr) {
  if (std::optional<std::string> kept = listing::Find(folder, name)) {
    if (opened) *opened = true;
    return *kept;
  }
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (opened) *opened = dir != nullptr;
  if (dir == nullptr) return {};
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view candidate(entry->d_name);
    if (!EqualsIgnoreCase(candidate, name)) continue;
    if (best.empty() || candidate < std::string_view(best)) best.assign(candidate);
  }
  ::closedir(dir);
  return best;
}

} // namespace

std::string ResolvePath(const char* path) {
  bool absent = false;
  return ResolvePath(path, absent);
}

std::string ResolvePath(const char* path, bool& absent) {
  absent = false;
  if (path == nullptr) return {};
  std::string given(path);
  for (char& c : given) {
    if (c == '\\') c = '/';
  }
  listing::ForgetSeen();
  if (given.empty()) return given;
  const std::size_t slash = given.rfind('/');
  // In a folder whose listing is kept, as when an install fills the folders
  // it has just made, the listing answers without a look at the entry.
  if (slash != std::string::npos && slash > 0 && slash + 1 < given.size()) {
    std::string_view name(given.data() + slash + 1, given.size() - slash - 1);
    if (name != "." && name != "..") {
      if (std::optional<std::string> kept = listing::Lookup(given.substr(0, slash + 1), name)) {
        if (!kept->empty()) given.replace(slash + 1, std::string::npos, *kept);
        absent = kept->empty();
        return given;
      }
    }
  }
  if (EntryExists(given)) return given;

  // A new entry in a folder that exists as written, as when files are
  // extracted: every component before the last exists as written too, so only
  // the last needs looking for. A folder that can be listed exists.
  if (slash != std::string::npos && slash > 0) {
    std::string_view name(given.data() + slash + 1, given.size() - slash - 1);
    if (name.empty() || name == "." || name == "..") {
      if (EntryExists(given.substr(0, slash))) return given;
    } else {
      bool listed = false;
      std::string found = FindIgnoringCase(given.substr(0, slash + 1), name, &listed);
      if (listed) {
        if (!found.empty()) given.replace(slash + 1, std::string::npos, found);
        absent = found.empty();
        return given;
      }
    }
  }

  // Walk the components; `resolved` is always the path up to the one at hand.
  std::string resolved;
  std::size_t pos = 0;
  if (given[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  bool matching = true;
  while (pos <= given.size()) {
    std::size_t end = given.find('/', pos);
    if (end == std::string::npos) end = given.size();
    std::string_view name(given.data() + pos, end - pos);
    std::string found;
    if (matching && !name.empty() && name != "." && name != ".." &&
        !EntryExists(resolved + std::string(name))) {
      found = FindIgnoringCase(resolved, name);
      if (found.empty()) matching = false;  // nothing further down can exist either
    }
    if (found.empty()) {
      resolved.append(name);
    } else {
      resolved += found;
    }
    if (end < given.size()) resolved += '/';
    pos = end + 1;
  }
  return resolved;
}

bool ExistsAsWritten(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  std::string given(path);
  for (char& c : given) {
    if (c == '\\') c = '/';
  }
  return EntryExists(given);
}

} // namespace platform
