#pragma once
// The list files of a patch set: "addedFiles.txt" and "deletedFiles.txt" hold
// records of a path and a digest, "patchedFiles.txt" records of a path, the
// old and the new digest; every line ends in a line feed and the records
// follow in byte-wise order of their paths.
#include <cstddef>
#include <map>
#include <string>

inline constexpr const char* kAddedFilesList = "addedFiles.txt";
inline constexpr const char* kDeletedFilesList = "deletedFiles.txt";
inline constexpr const char* kPatchedFilesList = "patchedFiles.txt";

// Path to digest (added, deleted) or to the two digests (patched). std::string
// compares as unsigned bytes, so upper case sorts before lower case.
using PatchMap = std::map<std::string, std::string>;

// The bytes of a list: "%s\n%s\n" of each key and value, in map order.
std::string FormatPatchList(const PatchMap& map);

// Reads a list's bytes into `map`: lines end at each line feed (a carriage
// return stays in its line), records are groups of two lines, or three for
// the patched list, whose value becomes "old\nnew\n". A record with an empty
// line is skipped, an incomplete last record ignored.
void ParsePatchList(const char* data, std::size_t size, bool patched, PatchMap& map);

// The old digest of a patched value (up to its first line feed) and the new
// one (the second line); empty when missing.
std::string PatchedOldDigest(const std::string& value);
std::string PatchedNewDigest(const std::string& value);
