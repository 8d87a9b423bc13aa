#pragma once
// Folder listings kept for case-insensitive path resolution while a
// ListingCacheScope (NativePath.h) is alive. A listing is keyed by the
// folder's device and inode and used while the folder's status is unchanged;
// the changes this layer makes itself are applied to the kept listings, so a
// run of new entries in one large folder does not list it again each time.
// Only the layer's own files use this header.
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform::listing {

// The entry of `folder` ("" for the current folder) that equals `name`
// without regard to case, the first in byte order; "" when none. Nothing
// when no scope is alive or the folder cannot be listed.
std::optional<std::string> Find(const std::string& folder, std::string_view name);

// The entry of a folder kept under this path (by an earlier Find or Made)
// that is `name` as written, else the first equal to it without regard to
// case, else "", after one look at the folder's status and without listing
// it. Nothing when no scope is alive, no listing is kept for that path, or
// the folder changed since.
std::optional<std::string> Lookup(const std::string& folder, std::string_view name);

// Forgets the status that Find or Lookup saw last on this thread, which the
// next Change in that folder otherwise takes instead of looking again.
void ForgetSeen();

// Around one change of the entry `path` (a native path) in its folder: made
// before the change, then told whether an entry of that name now exists.
class Change {
public:
  explicit Change(const std::string& path);
  void Added() { Apply(true); }
  void Removed() { Apply(false); }
  // A rename: `leaving`'s entry is gone and `arriving`'s there, with one
  // look at the folder when both are in the same one.
  static void Moved(Change& leaving, Change& arriving);

private:
  void Apply(bool added);
  bool active_ = false;
  std::string folder_;
  std::string name_;
};

// A folder this layer has just made: kept as listed and empty, so that the
// entries made in it next need no listing of it.
void Made(const std::string& folder);

// A folder that is going away: its listing must not be found for a new folder
// that gets the same inode.
void Forget(const std::string& folder);
void Forget(dev_t device, ino_t inode);

} // namespace platform::listing
