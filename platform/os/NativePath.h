#pragma once
// Paths as the rest of the program writes them (back-slashes, any case) turned
// into paths of this file system (slashes, case as stored).
#include <string>

namespace platform {

// Every '\' becomes '/'. When the path then exists as written it is returned
// as it is; otherwise each component that does not exist as written is
// replaced by the folder's entry that equals it without regard to case
// (Windows-1252 letters), the exact spelling first, else the first such entry
// in byte order. From the first component with no match on, the rest is kept
// as given, so a new file or folder gets the name it was given. Trailing
// separators, ".", ".." and empty components are kept. Null gives "".
std::string ResolvePath(const char* path);
// The same; `absent` tells that the folder of the path's last component was
// read and holds no entry of that name in any case, so nothing is there.
std::string ResolvePath(const char* path, bool& absent);

// True when an entry has exactly this name, separators turned but no case
// folded: a path a person typed that needs no resolving.
bool ExistsAsWritten(const char* path);

// While one is alive (in any thread), the folder listings that resolution
// makes are kept and used again as long as the folder is unchanged, so that
// work making many new entries in one large folder does not list it for each.
// Changes made through this layer keep the listings up to date; a folder
// changed otherwise is listed again, unless that change falls in the same
// clock tick as one of this layer's own in that folder. A kept listing also
// answers whether an entry is there at all. For work on folders that only
// this process changes meanwhile.
class ListingCacheScope {
public:
  ListingCacheScope();
  ~ListingCacheScope();
  ListingCacheScope(const ListingCacheScope&) = delete;
  ListingCacheScope& operator=(const ListingCacheScope&) = delete;
};

} // namespace platform
