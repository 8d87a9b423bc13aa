#pragma once
// The asset index file "assets.tdx": a plain 12-byte head (magic, version,
// total size), then, from version 34, a seed and a scrambled body; older
// files have a plain body. The body is a fixed list of blocks (records,
// replacement tables, dependency table, user names, log, stored values,
// settings, global data, persistent records, time marker, station, closing
// values), each read and written by its own codec in VADDatabaseFile.cpp.
// VADAssetIndex::ReadDatabase and WriteDatabase run them; these open the
// file around them.
#include <cstdint>

class TStream;

namespace vad_file {
constexpr uint32_t kMagic = 0xCEEBA2DB;
constexpr uint32_t kVersion = 36;
constexpr uint32_t kOldestVersion = 20;
// The first version with a seed and a scrambled body.
constexpr uint32_t kFirstScrambled = 34;
constexpr uint32_t kHeaderBytes = 12;
// Bytes after the timestamp that the index does not use: read past, written
// as zeros.
constexpr uint32_t kTrailerBytes = 12;
// The fewest bytes a record takes in any version, so a count can be checked
// against what is left before anything is read.
constexpr uint32_t kMinRecordBytes = 102;
} // namespace vad_file

// Creates (or empties) the file and writes the index to it; false when it does
// not open or the write fails. What was written is on the disk (flushed and
// synced) before this returns true.
bool WriteDatabaseFile(const char* path);
// False when the file does not open or the read fails (the index is then
// empty).
bool ReadDatabaseFile(const char* path);
// The version in the file's header; 0 when the file does not open or does
// not start with the index's magic.
uint32_t DatabaseFileVersion(const char* path);
