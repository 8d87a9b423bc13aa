#include "content/ACSFile.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/CodePage.h"
#include "content/TDBTags.h"
#include "content/TStream.h"

namespace {

using Vak::GetLE32;

// Bytes a record needs before its size says anything: the size and n.
constexpr std::ptrdiff_t kRecordHead = 5;

bool Validate(const uint8_t* p, const uint8_t* end, int depth) {
  if (depth > ChunkFile::kMaxDepth) return false;
  while (end - p > kRecordHead) {
    ChunkFile::Record record;
    if (!ChunkFile::ParseRecord(p, end, record, false)) return false;
    if (record.fileType == ChunkFile::kFileContainer &&
        !Validate(record.payload, record.payload + record.payloadSize, depth + 1))
      return false;
    p = record.next;
  }
  return true;
}

bool NameEquals(const ChunkFile::Record& record, const Vak::PString& name) {
  return record.nameLength == name.Length() && std::memcmp(record.name, name.c_str(), record.nameLength) == 0;
}

}  // namespace

// ---- format ------------------------------------------------------------------

uint8_t ChunkFile::FileTypeOf(int valueType) {
  switch (valueType) {
  case kACSContainer: return kFileContainer;
  case kACSInt: return kFileInt;
  case kACSFloat: return kFileFloat;
  case kACSText:
  case kACSText5: return kFileText;
  case kACSRaw: return kFileRaw;
  case kACSKUID: return kFileKUID;
  default: return kFileEmpty;
  }
}

bool ChunkFile::ParseRecord(const uint8_t* start, const uint8_t* end, Record& out, bool withName) {
  if (end - start <= kRecordHead) return false;
  const uint64_t size = GetLE32(start);
  const uint64_t room = static_cast<uint64_t>(end - start) - 4;
  const uint32_t n = start[4];
  // The name length byte, the name and the type byte must fit the record,
  // and the record the list.
  if (size > room || n + 2 > size) return false;
  out.start = start;
  out.next = start + 4 + size;
  out.name = reinterpret_cast<const char*>(start + 5);
  out.nameLength = withName ? static_cast<uint32_t>(strnlen(out.name, n)) : 0;
  out.fileType = start[5 + n];
  out.payload = start + 6 + n;
  out.payloadSize = static_cast<uint32_t>(size - n - 2);
  return true;
}

bool AnsiToUtf8InPlace(std::string& text) {
  text = Vak::CodePage::AnsiToUtf8(text.data(), text.size());
  return true;
}

bool ValidateChunkRecords(const uint8_t* list, uint32_t count) {
  if (!list) return count == 0;
  return Validate(list, list + count, 0);
}

// ---- writing -----------------------------------------------------------------

namespace {

// The records are laid out in memory and go to the stream in one write: the
// same bytes as writing field by field, without a device call per field.
class RecordWriter {
public:
  // Room for what a walk of the tree says it will take, so that a large tree
  // is laid out without moving it as it grows.
  void ReserveFor(ACSChunk* container) { bytes_.reserve(bytes_.size() + MeasureChildren(container)); }
  std::vector<uint8_t> Take() { return std::move(bytes_); }
  void Put32(uint32_t v) { Vak::AppendLE32(bytes_, v); }
  void Put8(uint8_t v) { bytes_.push_back(v); }
  void Put(const void* data, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
  }
  std::size_t Size() const { return bytes_.size(); }
  void Patch32(std::size_t at, uint32_t v) { Vak::PatchLE32(bytes_, at, v); }
  void Children(ACSChunk* container) {
    const int count = container->GetChildCount();
    for (int i = 0; i < count; ++i) {
      const Vak::PString name = container->GetChildName(i);
      const ACSChunkPtr child = container->FindChild(name);
      Record(child.Get(), name);
    }
  }
  void Record(ACSChunk* chunk, const Vak::PString& name) {
    const uint32_t length = name.Length();
    if (length >= ChunkFile::kMaxNameLength || !chunk) return;
    const std::size_t start = Size();
    Put32(0xFFFFFFFFu);
    if (name.IsNull()) {
      Put8(0);
    } else {
      Put8(static_cast<uint8_t>(length + 1));
      Put(name.c_str(), length + 1);
    }
    const int type = chunk->GetType();
    Put8(ChunkFile::FileTypeOf(type));
    if (type == kACSContainer) {
      Children(chunk);
    } else if (type != kACSEmpty) {
      const uint8_t* data = chunk->GetData();
      const uint32_t size = chunk->GetDataSize();
      if (data && size) Put(data, size);
    }
    Patch32(start, static_cast<uint32_t>(Size() - start - 4));
  }
  void Flush(TStream& stream) {
    if (!bytes_.empty()) stream.WriteBytes(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
  }

private:
  static std::size_t MeasureChildren(ACSChunk* container) {
    std::size_t total = 0;
    const int count = container ? container->GetChildCount() : 0;
    for (int i = 0; i < count; ++i) {
      const Vak::PString name = container->GetChildName(i);
      const ACSChunkPtr child = container->FindChild(name);
      ACSChunk* chunk = child.Get();
      if (name.Length() >= ChunkFile::kMaxNameLength || !chunk) continue;
      total += 6 + (name.IsNull() ? 0 : name.Length() + 1);
      const int type = chunk->GetType();
      if (type == kACSContainer) {
        total += MeasureChildren(chunk);
      } else if (type != kACSEmpty) {
        total += chunk->GetDataSize();
      }
    }
    return total;
  }

  std::vector<uint8_t> bytes_;
};

}  // namespace

void WriteChunkFileBinary(const ACSChunkPtr& root, TStream& stream) { WriteChunkFileBinary(root.Get(), stream); }

void WriteChunkFileBinary(ACSChunk* root, TStream& stream) {
  const std::vector<uint8_t> bytes = ChunkFileBinaryBytes(root);
  stream.DropReadAhead();
  stream.WriteBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

std::vector<uint8_t> ChunkFileBinaryBytes(ACSChunk* root) {
  RecordWriter out;
  out.Put32(ChunkFile::kMagic);
  out.Put32(static_cast<uint32_t>(ChunkFile::kVersion));
  out.Put32(0);
  out.Put32(0xFFFFFFFFu);
  if (root) {
    out.ReserveFor(root);
    out.Children(root);
  }
  out.Patch32(12, static_cast<uint32_t>(out.Size() - ChunkFile::kHeaderBytes));
  return out.Take();
}

void WriteChunkChildrenBinary(ACSChunk* container, TStream& stream) {
  RecordWriter out;
  out.Children(container);
  out.Flush(stream);
}

void WriteChunkRecordBinary(ACSChunk* chunk, const Vak::PString& name, TStream& stream) {
  RecordWriter out;
  out.Record(chunk, name);
  out.Flush(stream);
}

// ---- the file ----------------------------------------------------------------

TDBBinaryFile::TDBBinaryFile() = default;

TDBBinaryFile::~TDBBinaryFile() {
  overlay_.clear();
  FreeBody();
}

void TDBBinaryFile::FreeBody() {
  Vak::Alloc::Delete(body_);
  body_ = nullptr;
  length_ = 0;
}

void TDBBinaryFile::Read(TStream& stream) {
  FreeBody();
  const uint32_t magic = stream.ReadInt();
  version_ = static_cast<int32_t>(stream.ReadInt());
  stream.ReadInt();  // reserved
  const int32_t length = static_cast<int32_t>(stream.ReadInt());
  if (magic != ChunkFile::kMagic || length <= 0 || stream.GetError()) return;
  const uint32_t start = stream.Tell();
  if (uint64_t{start} + static_cast<uint32_t>(length) > stream.GetSize()) return;
  // Allocated with its 16-byte alignment, so aligned records count from the
  // body's first byte.
  body_ = static_cast<uint8_t*>(Vak::Alloc::New(static_cast<unsigned>(length)));
  length_ = static_cast<uint32_t>(length);
  stream.ReadBytes(body_, length_);
  if (stream.Tell() - start != length_ || !ValidateChunkRecords(body_, length_)) FreeBody();
}

ACSChunkPtr TDBBinaryFile::GetRoot() {
  if (!body_ || (version_ != 0 && version_ != 1)) return ACSChunk::GetNull();
  return ACSChunkPtr(new TDBBinarySoup(this, body_, length_));
}

bool TDBBinaryFile::IsMasked(const uint8_t* payload, const uint8_t* parent) const {
  return !masked_.empty() && masked_.count({payload, parent}) != 0;
}

const TDBBinaryFile::Edits* TDBBinaryFile::EditsOf(const uint8_t* parent) const {
  if (edits_.empty()) return nullptr;
  auto it = edits_.find(parent);
  return it == edits_.end() ? nullptr : &it->second;
}

uint32_t TDBBinaryFile::AddOverlay(Overlay entry) {
  hasEdits_ = true;
  ++generation_;
  if (emptySlots_.empty()) {
    overlay_.push_back(std::move(entry));
    return static_cast<uint32_t>(overlay_.size() - 1);
  }
  const uint32_t slot = *emptySlots_.begin();
  emptySlots_.erase(emptySlots_.begin());
  overlay_[slot] = std::move(entry);
  return slot;
}

namespace {

// Slot lists are kept in slot order; a reused slot goes to its place.
void InsertSlot(std::vector<uint32_t>& slots, uint32_t slot) {
  slots.insert(std::lower_bound(slots.begin(), slots.end(), slot), slot);
}

void EraseSlot(std::vector<uint32_t>& slots, uint32_t slot) {
  auto it = std::lower_bound(slots.begin(), slots.end(), slot);
  if (it != slots.end() && *it == slot) slots.erase(it);
}

}  // namespace

std::size_t TDBBinaryFile::SlotList::BlockOf(uint32_t slot) const {
  auto it = std::lower_bound(blocks_.begin(), blocks_.end(), slot,
                             [](const std::vector<uint32_t>& block, uint32_t s) { return block.back() < s; });
  return it == blocks_.end() ? blocks_.size() - 1 : static_cast<std::size_t>(it - blocks_.begin());
}

void TDBBinaryFile::SlotList::Insert(uint32_t slot) {
  cursorBlock_ = cursorFirst_ = 0;
  ++size_;
  if (blocks_.empty()) {
    blocks_.push_back({slot});
    return;
  }
  const std::size_t b = BlockOf(slot);
  InsertSlot(blocks_[b], slot);
  if (blocks_[b].size() > 2 * kBlock) {
    std::vector<uint32_t> upper(blocks_[b].begin() + kBlock, blocks_[b].end());
    blocks_[b].resize(kBlock);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
  }
}

void TDBBinaryFile::SlotList::Erase(uint32_t slot) {
  if (blocks_.empty()) return;
  cursorBlock_ = cursorFirst_ = 0;
  const std::size_t b = BlockOf(slot);
  const std::size_t before = blocks_[b].size();
  EraseSlot(blocks_[b], slot);
  size_ -= before - blocks_[b].size();
  if (blocks_[b].empty()) blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
}

uint32_t TDBBinaryFile::SlotList::At(std::size_t k) const {
  if (k < cursorFirst_) cursorBlock_ = cursorFirst_ = 0;
  while (k - cursorFirst_ >= blocks_[cursorBlock_].size()) {
    cursorFirst_ += blocks_[cursorBlock_].size();
    ++cursorBlock_;
  }
  return blocks_[cursorBlock_][k - cursorFirst_];
}

void TDBBinaryFile::AddChunk(const uint8_t* parent, const Vak::PString& name, ACSChunkPtr chunk) {
  const Key key{parent, chunk.Get()};
  if (chunkSlots_.count(key)) return;
  Overlay entry;
  entry.parent = parent;
  entry.chunk = std::move(chunk);
  entry.name = name;
  const uint32_t slot = AddOverlay(std::move(entry));
  chunkSlots_.emplace(key, slot);
  edits_[parent].added.Insert(slot);
  InsertSlot(namedSlots_[Key{parent, name.GetNode()}], slot);
}

bool TDBBinaryFile::RemoveChunk(const uint8_t* parent, ACSChunk* chunk) {
  auto found = chunkSlots_.find(Key{parent, chunk});
  if (found == chunkSlots_.end()) return false;
  const uint32_t slot = found->second;
  chunkSlots_.erase(found);
  edits_[parent].added.Erase(slot);
  auto named = namedSlots_.find(Key{parent, overlay_[slot].name.GetNode()});
  if (named != namedSlots_.end()) {
    EraseSlot(named->second, slot);
    if (named->second.empty()) namedSlots_.erase(named);
  }
  overlay_[slot] = Overlay();
  hasEdits_ = true;
  ++generation_;
  // Empty slots at the end go; those in the middle stay for reuse.
  emptySlots_.insert(slot);
  while (!overlay_.empty() && overlay_.back().IsEmpty()) {
    emptySlots_.erase(static_cast<uint32_t>(overlay_.size() - 1));
    overlay_.pop_back();
  }
  return true;
}

void TDBBinaryFile::Mask(const uint8_t* payload, const uint8_t* parent) {
  if (!masked_.insert({payload, parent}).second) return;
  ++edits_[parent].masked;
  Overlay entry;
  entry.record = payload;
  entry.parent = parent;
  AddOverlay(std::move(entry));
}

ACSChunkPtr TDBBinaryFile::MakeNode(const ChunkFile::Record& record) {
  const uint8_t* payload = record.payload;
  const uint32_t size = record.payloadSize;
  switch (record.fileType) {
  case ChunkFile::kFileContainer: return ACSChunkPtr(new TDBBinarySoup(this, payload, size));
  case ChunkFile::kFileInt: return ACSChunkPtr(new TDBDataChunk(this, kACSInt, payload, payload, size));
  case ChunkFile::kFileFloat: return ACSChunkPtr(new TDBDataChunk(this, kACSFloat, payload, payload, size));
  case ChunkFile::kFileRaw: return ACSChunkPtr(new TDBDataChunk(this, kACSRaw, payload, payload, size));
  case ChunkFile::kFileKUID: return ACSChunkPtr(new TDBDataChunk(this, kACSKUID, payload, payload, size));
  case ChunkFile::kFileRawAligned: {
    const uint32_t skip = static_cast<uint32_t>((16 - (payload - body_) % 16) % 16);
    if (skip >= size) return ACSChunkPtr(new TDBDataChunk(this, kACSRaw, payload, nullptr, 0));
    return ACSChunkPtr(new TDBDataChunk(this, kACSRaw, payload, payload + skip, size - skip));
  }
  case ChunkFile::kFileText: {
    if (version_ == 0 && size) {
      const char* text = reinterpret_cast<const char*>(payload);
      const std::size_t length = strnlen(text, size);
      bool ansi = false;
      for (std::size_t i = 0; i < length && !ansi; ++i) ansi = static_cast<uint8_t>(text[i]) >= 0x80;
      if (ansi) {
        std::string converted(text, length);
        if (!AnsiToUtf8InPlace(converted)) converted.clear();
        ACSRawDataPtr copy;
        if (!converted.empty())
          copy = ACSRawDataCore::CreateCopy(static_cast<uint32_t>(converted.size() + 1), converted.c_str());
        return ACSChunkPtr(new TDBDataChunk(this, kACSText, payload, copy.Data(), copy.Size(), copy));
      }
    }
    return ACSChunkPtr(new TDBDataChunk(this, kACSText, payload, payload, size));
  }
  default: return ACSChunkPtr(new TDBDataChunk(this, kACSEmpty, payload, nullptr, 0));
  }
}

// ---- containers read from the body -------------------------------------------

// The records of one list in file order, with an open-addressing table from
// a name to its first record and a chain on to the next record of that name.
struct TDBBinaryFile::ListIndex {
  static uint32_t Hash(const char* p, std::size_t n) {
    uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<uint8_t>(p[i])) * 16777619u;
    // Names that differ in their last digits differ little in the low bits,
    // which pick the slot: mix them in.
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    return h;
  }

  struct Slot {
    uint32_t hash;
    int32_t first;  // -1 marks an empty slot
    int32_t last;
  };

  ListIndex(const uint8_t* list, uint32_t count) {
    const uint8_t* end = list + count;
    ChunkFile::Record record;
    for (const uint8_t* p = list; ChunkFile::ParseRecord(p, end, record, false); p = record.next) {
      starts.push_back(static_cast<uint32_t>(p - list));
      payloads.push_back(static_cast<uint32_t>(record.payload - list));
    }
    std::size_t capacity = 16;
    while (capacity < starts.size() * 2) capacity *= 2;
    slots.assign(capacity, Slot{0, -1, -1});
    mask = capacity - 1;
    sameName.assign(starts.size(), -1);
    for (std::size_t i = 0; i < starts.size(); ++i) {
      ChunkFile::ParseRecord(list + starts[i], end, record);
      Slot& slot = Place(list, count, record.name, record.nameLength);
      if (slot.first < 0) slot.first = static_cast<int32_t>(i);
      else sameName[static_cast<std::size_t>(slot.last)] = static_cast<int32_t>(i);
      slot.last = static_cast<int32_t>(i);
    }
  }

  // The slot of a name: its own, or the empty one where it would go.
  Slot& Place(const uint8_t* list, uint32_t count, const char* name, uint32_t length) {
    const uint32_t h = Hash(name, length);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& slot = slots[i];
      if (slot.first < 0) {
        slot.hash = h;
        return slot;
      }
      if (slot.hash == h && NameAt(list, count, slot.first, name, length)) return slot;
    }
  }

  bool NameAt(const uint8_t* list, uint32_t count, int32_t i, const char* name, uint32_t length) const {
    ChunkFile::Record record;
    return ChunkFile::ParseRecord(list + starts[static_cast<std::size_t>(i)], list + count, record) &&
           record.nameLength == length && std::memcmp(record.name, name, length) == 0;
  }

  // The first record of a name, or -1.
  int32_t First(const uint8_t* list, uint32_t count, const char* name, uint32_t length) const {
    const uint32_t h = Hash(name, length);
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots[i];
      if (slot.first < 0) return -1;
      if (slot.hash == h && NameAt(list, count, slot.first, name, length)) return slot.first;
    }
  }

  // The record whose payload starts at `offset`, or -1.
  int32_t OfPayload(uint32_t offset) const {
    auto it = std::lower_bound(payloads.begin(), payloads.end(), offset);
    return it != payloads.end() && *it == offset ? static_cast<int32_t>(it - payloads.begin()) : -1;
  }

  std::vector<uint32_t> starts;    // offsets in the list, file order
  std::vector<uint32_t> payloads;  // the same records' payloads
  std::vector<int32_t> sameName;   // the next record of the name, or -1
  std::vector<Slot> slots;
  std::size_t mask = 0;
};

const TDBBinaryFile::ListIndex& TDBBinaryFile::IndexOf(const uint8_t* list, uint32_t count) {
  std::unique_ptr<ListIndex>& index = indexes_[list];
  if (!index) index = std::make_unique<ListIndex>(list, count);
  return *index;
}

// Lists this long are looked up through an index; shorter ones are walked.
constexpr int kIndexedRecords = 32;

TDBBinarySoup::TDBBinarySoup(TDBBinaryFile* file, const uint8_t* list, uint32_t count)
    : file_(file), list_(list), count_(count) {}

TDBBinarySoup::~TDBBinarySoup() = default;

void TDBBinarySoup::Refresh() {
  if (generation_ == File()->generation_) return;
  generation_ = File()->generation_;
  cursorIndex_ = -1;
  cursor_ = nullptr;
}

int TDBBinarySoup::AllRecords() {
  if (all_ < 0) {
    int n = 0;
    ChunkFile::Record record;
    for (const uint8_t* p = list_; ChunkFile::ParseRecord(p, list_ + count_, record, false); p = record.next) ++n;
    all_ = n;
  }
  return all_;
}

const TDBBinaryFile::ListIndex* TDBBinarySoup::Index() {
  if (!index_ && AllRecords() >= kIndexedRecords) index_ = &File()->IndexOf(list_, count_);
  return index_;
}

int TDBBinarySoup::RecordCount() {
  // A new soup over a long list need not walk it again (every record's
  // header, spread over the whole list) when the list's shared index holds
  // the records already.
  if (all_ < 0) {
    const auto found = File()->indexes_.find(list_);
    if (found != File()->indexes_.end() && found->second) all_ = static_cast<int>(found->second->starts.size());
  }
  const TDBBinaryFile::Edits* edits = File()->EditsOf(list_);
  return AllRecords() - static_cast<int>(edits ? edits->masked : 0);
}

bool TDBBinarySoup::RecordAt(int index, ChunkFile::Record& out) {
  if (index < 0) return false;
  const uint8_t* end = list_ + count_;
  const TDBBinaryFile::Edits* edits = File()->EditsOf(list_);
  if (!edits || edits->masked == 0) {
    if (const TDBBinaryFile::ListIndex* names = Index()) {
      return static_cast<std::size_t>(index) < names->starts.size() &&
             ChunkFile::ParseRecord(list_ + names->starts[static_cast<std::size_t>(index)], end, out);
    }
  }
  Refresh();
  int at = 0;
  const uint8_t* p = list_;
  if (cursor_ && cursorIndex_ <= index) {
    at = cursorIndex_;
    p = cursor_;
  }
  for (ChunkFile::Record record; ChunkFile::ParseRecord(p, end, record, false); p = record.next) {
    if (File()->IsMasked(record.payload, list_)) continue;
    if (at == index) {
      cursorIndex_ = index;
      cursor_ = record.start;
      return ChunkFile::ParseRecord(p, end, out);
    }
    ++at;
  }
  return false;
}

bool TDBBinarySoup::FindRecord(const Vak::PString& name, ChunkFile::Record& out) {
  const uint8_t* end = list_ + count_;
  TDBBinaryFile* file = File();
  if (const TDBBinaryFile::ListIndex* names = Index()) {
    // The first record of the name that no edit has hidden.
    for (int32_t i = names->First(list_, count_, name.c_str(), name.Length()); i >= 0;
         i = names->sameName[static_cast<std::size_t>(i)]) {
      if (!file->IsMasked(list_ + names->payloads[static_cast<std::size_t>(i)], list_))
        return ChunkFile::ParseRecord(list_ + names->starts[static_cast<std::size_t>(i)], end, out);
    }
    return false;
  }
  ChunkFile::Record record;
  for (const uint8_t* p = list_; ChunkFile::ParseRecord(p, end, record); p = record.next) {
    if (NameEquals(record, name) && !file->IsMasked(record.payload, list_)) {
      out = record;
      return true;
    }
  }
  return false;
}

ACSChunkPtr TDBBinarySoup::FindChild(const Vak::PString& name) { return GetChild(name); }

ACSChunkPtr TDBBinarySoup::GetChild(const Vak::PString& name) {
  ChunkFile::Record record;
  TDBBinaryFile* file = File();
  if (FindRecord(name, record)) return file->MakeNode(record);
  if (!file->namedSlots_.empty()) {
    auto named = file->namedSlots_.find(TDBBinaryFile::Key{list_, name.GetNode()});
    if (named != file->namedSlots_.end() && !named->second.empty()) return file->overlay_[named->second.front()].chunk;
  }
  return ACSChunk::GetNull();
}

int TDBBinarySoup::GetChildCount() {
  const TDBBinaryFile::Edits* edits = File()->EditsOf(list_);
  return RecordCount() + static_cast<int>(edits ? edits->added.Size() : 0);
}

Vak::PString TDBBinarySoup::GetChildName(int index) {
  if (index < 0) return Vak::PString("");
  ChunkFile::Record record;
  const int records = RecordCount();
  if (index < records && RecordAt(index, record)) return Vak::PString(record.name, record.nameLength);
  const std::size_t rest = static_cast<std::size_t>(index - records);
  const TDBBinaryFile::Edits* edits = File()->EditsOf(list_);
  if (edits && rest < edits->added.Size()) return File()->overlay_[edits->added.At(rest)].name;
  return Vak::PString("");
}

void TDBBinarySoup::SetChild(const Vak::PString& name, ACSChunkPtr chunk) {
  if (!chunk.Get() || ACSChunk::IsNullChunk(chunk.Get())) return;
  File()->AddChunk(list_, name, std::move(chunk));
}

void TDBBinarySoup::RemoveChild(ACSChunkPtr chunk) {
  if (!chunk.Get() || ACSChunk::IsNullChunk(chunk.Get())) return;
  TDBBinaryFile* file = File();
  if (file->RemoveChunk(list_, chunk.Get())) return;
  const uint8_t* payload = nullptr;
  if (auto* soup = dynamic_cast<TDBBinarySoup*>(chunk.Get())) payload = soup->list_;
  else if (auto* data = dynamic_cast<TDBDataChunk*>(chunk.Get())) payload = data->Payload();
  if (!payload || payload < list_ || payload >= list_ + count_) return;
  if (const TDBBinaryFile::ListIndex* names = Index()) {
    if (names->OfPayload(static_cast<uint32_t>(payload - list_)) >= 0) file->Mask(payload, list_);
    return;
  }
  ChunkFile::Record record;
  const uint8_t* end = list_ + count_;
  for (const uint8_t* p = list_; ChunkFile::ParseRecord(p, end, record, false); p = record.next) {
    if (record.payload == payload) {
      file->Mask(payload, list_);
      return;
    }
  }
}

ACSChunkPtr TDBBinarySoup::CreateChunk(int type, const ACSRawDataPtr& data) {
  if (type == kACSContainer) return ACSChunkPtr(new TDBContainerTag);
  ACSChunkPtr node(new TDBDataTag);
  node->SetValue(type, data);
  return node;
}

// ---- values read from the body -----------------------------------------------

TDBDataChunk::TDBDataChunk(TDBBinaryFile* file, int type, const uint8_t* payload, const uint8_t* bytes, uint32_t size,
                           ACSRawDataPtr copy)
    : file_(file), copy_(std::move(copy)), bytes_(size ? bytes : nullptr), size_(bytes ? size : 0), type_(type),
      payload_(payload) {}

TDBDataChunk::~TDBDataChunk() = default;
