#include "platform/os/ListingCache.h"

#include "platform/os/CaseFold.h"
#include "platform/os/NativePath.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace listing {

namespace {

// What tells a folder and its state: any entry made or removed changes the
// modification time (or, within one clock tick, the link count or size when
// a folder or a block came or went).
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && links == o.links && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

bool StampOf(const std::string& folder, Stamp& stamp) {
  struct stat st;
  if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.links = st.st_nlink;
  stamp.size = st.st_size;
  stamp.modified = st.st_mtim;
  stamp.changed = st.st_ctim;
  return true;
}

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  return folded;
}

struct Listing {
  Stamp stamp;
  // Folded name: the entries of that name, in byte order.
  std::unordered_map<std::string, std::vector<std::string>> names;

  void Add(const std::string& name) {
    std::vector<std::string>& spellings = names[Folded(name)];
    auto at = std::lower_bound(spellings.begin(), spellings.end(), name);
    if (at == spellings.end() || *at != name) spellings.insert(at, name);
  }
  void Remove(const std::string& name) {
    auto found = names.find(Folded(name));
    if (found == names.end()) return;
    std::vector<std::string>& spellings = found->second;
    spellings.erase(std::remove(spellings.begin(), spellings.end(), name), spellings.end());
    if (spellings.empty()) names.erase(found);
  }
};

using Key = std::pair<dev_t, ino_t>;

std::atomic<int> gScopes{0};
std::mutex gMutex;
std::map<Key, Listing> gListings;
// The folder each listing was last found under, as a path ending in '/' (or
// ""): only a hint of where to look, checked against the folder's status.
std::unordered_map<std::string, Key> gPaths;

// The folder status the last Find or Lookup on this thread checked, which the
// Change that follows it at once need not look at again.
struct Seen {
  bool valid = false;
  std::string folder;
  Stamp stamp;
};
thread_local Seen tSeen;

void See(const std::string& folder, const Stamp& stamp) {
  tSeen.valid = true;
  tSeen.folder = folder;
  tSeen.stamp = stamp;
}

// `folder` as the paths above are kept: ending in one '/', "" as it is.
std::string FolderKey(const std::string& folder) {
  std::string key = folder;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  if (!key.empty() && key != "/") key += '/';
  return key;
}

bool Active() { return gScopes.load(std::memory_order_acquire) > 0; }

// The folder's entries, or false when it cannot be read.
bool ListInto(const std::string& folder, Listing& listing) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    listing.Add(std::string(name));
  }
  ::closedir(dir);
  return true;
}

// The folder part of a native path, and its last component.
void Split(const std::string& path, std::string& folder, std::string& name) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t slash = p.rfind('/');
  if (slash == std::string::npos) {
    folder.clear();
    name = p;
  } else {
    folder = p.substr(0, slash + 1);
    name = p.substr(slash + 1);
  }
}

} // namespace

std::optional<std::string> Find(const std::string& folder, std::string_view name) {
  if (!Active()) return std::nullopt;
  Stamp stamp;
  if (!StampOf(folder, stamp)) return std::nullopt;
  std::lock_guard<std::mutex> hold(gMutex);
  const Key key{stamp.device, stamp.inode};
  auto found = gListings.find(key);
  if (found == gListings.end() || !(found->second.stamp == stamp)) {
    // Stamped before it is read: a change while it is read shows next time.
    Listing fresh;
    fresh.stamp = stamp;
    if (!ListInto(folder, fresh)) {
      gListings.erase(key);
      return std::nullopt;
    }
    found = gListings.insert_or_assign(key, std::move(fresh)).first;
  }
  gPaths.insert_or_assign(FolderKey(folder), key);
  See(folder, stamp);
  const auto spellings = found->second.names.find(Folded(name));
  if (spellings == found->second.names.end()) return std::string();
  return spellings->second.front();
}

std::optional<std::string> Lookup(const std::string& folder, std::string_view name) {
  if (!Active()) return std::nullopt;
  Key key;
  {
    std::lock_guard<std::mutex> hold(gMutex);
    const auto path = gPaths.find(folder);
    if (path == gPaths.end()) return std::nullopt;
    key = path->second;
  }
  Stamp stamp;
  if (!StampOf(folder, stamp)) return std::nullopt;
  std::lock_guard<std::mutex> hold(gMutex);
  const auto found = gListings.find(key);
  if (found == gListings.end() || !(found->second.stamp == stamp)) return std::nullopt;
  See(folder, stamp);
  const auto spellings = found->second.names.find(Folded(name));
  if (spellings == found->second.names.end()) return std::string();
  for (const std::string& spelling : spellings->second)
    if (spelling == name) return spelling;
  return spellings->second.front();
}

void ForgetSeen() { tSeen.valid = false; }

Change::Change(const std::string& path) {
  if (!Active()) return;
  Split(path, folder_, name_);
  // Still the same status for a second change checked in that folder (a
  // rename's both ends); none once a change is made.
  const bool seen = tSeen.valid && tSeen.folder == folder_;
  if (name_.empty() || name_ == "." || name_ == "..") return;
  Stamp stamp;
  if (seen) stamp = tSeen.stamp;
  else if (!StampOf(folder_, stamp)) return;
  std::lock_guard<std::mutex> hold(gMutex);
  auto found = gListings.find(Key{stamp.device, stamp.inode});
  if (found == gListings.end()) return;
  // Changed by someone else since it was listed: it is listed again when
  // next asked.
  if (!(found->second.stamp == stamp)) {
    gListings.erase(found);
    return;
  }
  active_ = true;
}

void Change::Apply(bool added) {
  tSeen.valid = false;
  if (!active_) return;
  active_ = false;
  Stamp stamp;
  if (!StampOf(folder_, stamp)) return;
  std::lock_guard<std::mutex> hold(gMutex);
  auto found = gListings.find(Key{stamp.device, stamp.inode});
  if (found == gListings.end()) return;
  if (added) found->second.Add(name_);
  else found->second.Remove(name_);
  found->second.stamp = stamp;
}

void Change::Moved(Change& leaving, Change& arriving) {
  if (!leaving.active_ || !arriving.active_ || leaving.folder_ != arriving.folder_) {
    leaving.Removed();
    arriving.Added();
    return;
  }
  tSeen.valid = false;
  leaving.active_ = arriving.active_ = false;
  Stamp stamp;
  if (!StampOf(leaving.folder_, stamp)) return;
  std::lock_guard<std::mutex> hold(gMutex);
  auto found = gListings.find(Key{stamp.device, stamp.inode});
  if (found == gListings.end()) return;
  found->second.Remove(leaving.name_);
  found->second.Add(arriving.name_);
  found->second.stamp = stamp;
}

void Made(const std::string& folder) {
  if (!Active()) return;
  Listing empty;
  if (!StampOf(folder, empty.stamp)) return;
  const Key key{empty.stamp.device, empty.stamp.inode};
  std::lock_guard<std::mutex> hold(gMutex);
  gListings.insert_or_assign(key, std::move(empty));
  gPaths.insert_or_assign(FolderKey(folder), key);
}

void Forget(const std::string& folder) {
  if (!Active()) return;
  Stamp stamp;
  if (StampOf(folder, stamp)) Forget(stamp.device, stamp.inode);
}

void Forget(dev_t device, ino_t inode) {
  if (!Active()) return;
  std::lock_guard<std::mutex> hold(gMutex);
  gListings.erase(Key{device, inode});
}

} // namespace listing

ListingCacheScope::ListingCacheScope() { listing::gScopes.fetch_add(1, std::memory_order_acq_rel); }

ListingCacheScope::~ListingCacheScope() {
  std::lock_guard<std::mutex> hold(listing::gMutex);
  if (listing::gScopes.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    listing::gListings.clear();
    listing::gPaths.clear();
  }
}

} // namespace platform
