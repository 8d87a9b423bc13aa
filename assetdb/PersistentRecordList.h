#pragma once
// Records that mark assets as archived: each names a file path, a text, a
// random id and the KUIDs it covers. The index only reads them with
// "assets.tdx", writes them back and asks whether a KUID is covered.
//
// Not locked: the index's load and save hold the index lock exclusively
// around Read and Write.
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/String.h"
#include "content/ChunkedList.h"
#include "content/KUID.h"

class TStream;

class PersistentRecord {
public:
  // Draws the id from the kernel's random generator (0 to 0x7fffffff).
  PersistentRecord();
  PersistentRecord(const PersistentRecord&) = delete;
  PersistentRecord& operator=(const PersistentRecord&) = delete;

  static constexpr uint32_t kVersion = 1;
  static constexpr uint32_t kEndMarker = 0x41494E65;  // "eNIA"

  // False on a wrong version or end marker, a path that does not fit the
  // path field, or a length or count past the end of the stream (`size` is
  // the stream's size).
  bool Read(TStream& stream, uint32_t size);
  void Write(TStream& stream) const;

  // Their OR is what is stored; a read sets flagB.
  bool flagA = false;
  bool flagB = false;
  // Written back with the list; set for every record read.
  bool stored = false;
  ChunkedList<KUID, 128> kuids;
  uint32_t value = 0;
  Vak::File::Path path;
  Vak::String text;
  int32_t id;
  uint32_t reserved[3] = {};
};

class PersistentRecordList {
public:
  static constexpr uint32_t kVersion = 0;

  PersistentRecordList() = default;
  ~PersistentRecordList() { Clear(); }
  PersistentRecordList(const PersistentRecordList&) = delete;
  PersistentRecordList& operator=(const PersistentRecordList&) = delete;

  // The process's list, made on first use.
  static PersistentRecordList& Global();

  // Replaces the list by the stored block; false (the list empty) on any
  // malformed or truncated input.
  bool Read(TStream& stream);
  // Only records with the stored flag.
  void Write(TStream& stream) const;
  // Deletes every record and frees the list.
  void Clear();
  // Frees the list's blocks but not the records (at exit).
  void FreeBlocks() { records_.Clear(); }
  // The KUID, all three parts, is in some record's list.
  bool Contains(const KUID& kuid) const;

  // A new record (fresh id, not stored) owned by the list.
  PersistentRecord* Add();
  const ChunkedList<PersistentRecord*, 13>& Records() const { return records_; }

private:
  ChunkedList<PersistentRecord*, 13> records_;
};
