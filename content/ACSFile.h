#pragma once
// The binary chunk file "ACS$": a 16-byte header and a body of records.
// Reading loads and checks the body once; nodes are made on demand from the
// records in place, and edits are kept beside the body as an overlay.
//
//   header  "ACS$", int32 version (0 or 1), int32 reserved, int32 body length
//   record  uint32 size (bytes after this field), uint8 name length n (name
//           and NUL, 0 for none), n name bytes, uint8 file type, payload
#include <cstdint>
#include <string>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunk.h"
#include "content/ACSChunkPtr.h"
#include "content/ReferenceCountMP.h"

class TStream;

namespace ChunkFile {

constexpr uint32_t kMagic = 0x24534341;  // "ACS$" little-endian
constexpr int32_t kVersion = 1;
constexpr uint32_t kHeaderBytes = 16;
// Names of this many characters or more are not written.
constexpr uint32_t kMaxNameLength = 255;
// Deeper nesting is refused by both readers, so no walk of a tree read from
// a file can run out of stack.
constexpr int kMaxDepth = 512;

// File types of the records.
enum FileType : uint8_t {
  kFileContainer = 0,
  kFileInt = 1,
  kFileFloat = 2,
  kFileText = 3,
  kFileRaw = 4,
  kFileEmpty = 5,
  kFileRawAligned = 12,
  kFileKUID = 13,
};

// The file type a value type is written as.
uint8_t FileTypeOf(int valueType);

// One record of a list, as parsed from [start, end).
struct Record {
  const uint8_t* start = nullptr;
  const uint8_t* next = nullptr;     // the record after it
  const char* name = nullptr;        // the name's characters
  uint32_t nameLength = 0;           // up to its NUL, within its n bytes
  uint8_t fileType = 0;
  const uint8_t* payload = nullptr;  // its identity within the file
  uint32_t payloadSize = 0;
};

// False when fewer than 6 bytes remain (the end of the list) or the record
// does not fit. Without `withName` the name's length is left 0 (walks that
// only count or check records).
bool ParseRecord(const uint8_t* start, const uint8_t* end, Record& out, bool withName = true);

}  // namespace ChunkFile

// Windows-1252 to UTF-8 in place. False when the text cannot be converted (it
// is then emptied).
bool AnsiToUtf8InPlace(std::string& text);

// True when the list's records, and those of every container record in it,
// fit their bytes. Nesting deeper than ChunkFile::kMaxDepth is refused.
bool ValidateChunkRecords(const uint8_t* list, uint32_t count);

// A whole file from any tree; the root's own value is not stored. A null
// root gives a file with an empty body.
void WriteChunkFileBinary(ACSChunk* root, TStream& stream);
void WriteChunkFileBinary(const ACSChunkPtr& root, TStream& stream);
// The same file's bytes, for a caller that writes them itself.
std::vector<uint8_t> ChunkFileBinaryBytes(ACSChunk* root);
// The records of the container's children, in order.
void WriteChunkChildrenBinary(ACSChunk* container, TStream& stream);
// One record; a name of 255 characters or more drops the child.
void WriteChunkRecordBinary(ACSChunk* chunk, const Vak::PString& name, TStream& stream);

// The base of chunk-file readers.
class ACSFile : public ReferenceCountMP {
public:
  virtual void Read(TStream& stream) = 0;
  virtual ACSChunkPtr GetRoot() = 0;
};

class TDBBinarySoup;

class TDBBinaryFile : public ACSFile {
public:
  TDBBinaryFile();
  ~TDBBinaryFile() override;

  // Loads and checks the body; any fault leaves the file without one.
  void Read(TStream& stream) override;
  // A container over the whole body; the null chunk when there is no body or
  // the version is neither 0 nor 1.
  ACSChunkPtr GetRoot() override;

  int32_t Version() const { return version_; }
  uint32_t BodyLength() const { return length_; }
  const uint8_t* Body() const { return body_; }
  bool HasEdits() const { return hasEdits_; }

private:
  friend class TDBBinarySoup;

  // A chunk added to a container (chunk set, record null), a record masked
  // (record set, chunk null), or an empty slot left by a removal.
  struct Overlay {
    const uint8_t* record = nullptr;
    const uint8_t* parent = nullptr;
    ACSChunkPtr chunk;
    Vak::PString name;
    bool IsEmpty() const { return !record && !parent && !chunk.Get(); }
  };
  using Key = std::pair<const void*, const void*>;
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return std::hash<const void*>()(key.first) * 31 + std::hash<const void*>()(key.second);
    }
  };
  // Overlay slots in rising order, in blocks, so that adding or removing one
  // and finding the k-th cost about a block's length, not the whole list's.
  class SlotList {
  public:
    void Insert(uint32_t slot);
    void Erase(uint32_t slot);
    std::size_t Size() const { return size_; }
    // The k-th slot, k < Size(); walks on from the block of the last one.
    uint32_t At(std::size_t k) const;

  private:
    static constexpr std::size_t kBlock = 256;
    // The first block whose last slot is at least `slot`, else the last one.
    std::size_t BlockOf(uint32_t slot) const;
    std::vector<std::vector<uint32_t>> blocks_;
    std::size_t size_ = 0;
    mutable std::size_t cursorBlock_ = 0;
    mutable std::size_t cursorFirst_ = 0;  // the index of that block's first slot
  };
  // What the overlay holds for one container, by its list start.
  struct Edits {
    uint32_t masked = 0;  // its records hidden
    SlotList added;       // overlay slots holding its chunks
  };
  struct ListIndex;

  void FreeBody();
  // Into the first empty slot, else at the end; returns the slot.
  uint32_t AddOverlay(Overlay entry);
  void AddChunk(const uint8_t* parent, const Vak::PString& name, ACSChunkPtr chunk);
  // False when no overlay entry of the container holds the chunk.
  bool RemoveChunk(const uint8_t* parent, ACSChunk* chunk);
  void Mask(const uint8_t* payload, const uint8_t* parent);
  bool IsMasked(const uint8_t* payload, const uint8_t* parent) const;
  const Edits* EditsOf(const uint8_t* parent) const;
  // The name index of a long list, made on first use and shared by every
  // soup over that list.
  const ListIndex& IndexOf(const uint8_t* list, uint32_t count);
  // The node a record reads as.
  ACSChunkPtr MakeNode(const ChunkFile::Record& record);

  int32_t version_ = 0;
  uint32_t length_ = 0;
  uint8_t* body_ = nullptr;
  std::vector<Overlay> overlay_;
  std::set<uint32_t> emptySlots_;  // emptied slots before the last one
  std::unordered_set<Key, KeyHash> masked_;
  std::unordered_map<const uint8_t*, Edits> edits_;
  std::unordered_map<Key, uint32_t, KeyHash> chunkSlots_;                 // {parent, chunk}
  std::unordered_map<Key, std::vector<uint32_t>, KeyHash> namedSlots_;    // {parent, name node}, in slot order
  std::unordered_map<const uint8_t*, std::unique_ptr<ListIndex>> indexes_;
  bool hasEdits_ = false;
  // Moves on with every edit, so soups know their cached walks are stale.
  uint32_t generation_ = 0;
};

// A container read from the body: its record list in place.
class TDBBinarySoup : public ACSChunk {
public:
  TDBBinarySoup(TDBBinaryFile* file, const uint8_t* list, uint32_t count);
  ~TDBBinarySoup() override;

  ACSChunkPtr FindChild(const Vak::PString& name) override;
  ACSChunkPtr GetChild(const Vak::PString& name) override;
  int GetChildCount() override;
  Vak::PString GetChildName(int index) override;
  void SetChild(const Vak::PString& name, ACSChunkPtr chunk) override;
  void RemoveChild(ACSChunkPtr chunk) override;
  ACSChunkPtr CreateChunk(int type, const ACSRawDataPtr& data) override;
  int GetType() override { return kACSContainer; }

  const uint8_t* ListStart() const { return list_; }

private:
  TDBBinaryFile* File() const { return static_cast<TDBBinaryFile*>(file_.Get()); }
  // The unmasked record at `index`, walking on from the last one found.
  bool RecordAt(int index, ChunkFile::Record& out);
  // Records in the list, masked or not.
  int AllRecords();
  int RecordCount();
  bool FindRecord(const Vak::PString& name, ChunkFile::Record& out);
  // The index of a long list, null for a short one (walked instead).
  const TDBBinaryFile::ListIndex* Index();
  void Refresh();

  MPHandle file_;
  const uint8_t* list_;
  uint32_t count_;

  int all_ = -1;
  const TDBBinaryFile::ListIndex* index_ = nullptr;
  // The walk's cursor, valid for one generation of the file's edits.
  uint32_t generation_ = ~0u;
  int cursorIndex_ = -1;
  const uint8_t* cursor_ = nullptr;
};

// A value read from the body. Its payload is its identity within the file,
// even when the value is a converted copy.
class TDBDataChunk : public ACSChunk {
public:
  // Views `size` bytes at `bytes` in place, or holds `copy` when given.
  TDBDataChunk(TDBBinaryFile* file, int type, const uint8_t* payload, const uint8_t* bytes, uint32_t size,
               ACSRawDataPtr copy = ACSRawDataPtr());
  ~TDBDataChunk() override;

  const uint8_t* GetData() override { return bytes_; }
  uint32_t GetDataSize() override { return size_; }
  int GetType() override { return type_; }

  const uint8_t* Payload() const { return payload_; }
  const TDBBinaryFile* File() const { return static_cast<const TDBBinaryFile*>(file_.Get()); }

private:
  MPHandle file_;
  ACSRawDataPtr copy_;
  const uint8_t* bytes_;
  uint32_t size_;
  int32_t type_;
  const uint8_t* payload_;
};
