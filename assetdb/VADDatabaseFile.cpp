#include "assetdb/VADDatabaseFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/Sync.h"
#include "platform/os/File.h"
#include "assetdb/KuidBaseFile.h"
#include "assetdb/PersistentRecordList.h"
#include "assetdb/VADAssetIndex.h"
#include "assetdb/VADDependencyTable.h"
#include "assetdb/VADLock.h"
#include "assetdb/VADLog.h"
#include "assetdb/VADServices.h"
#include "content/ACSFile.h"
#include "content/AppGlobals.h"
#include "content/DynamicBuffer.h"
#include "content/TStream.h"
#include "content/TStreamObfuscated.h"

using namespace vad_file;

namespace {

// ---- field helpers ----

void WriteBool(TStream& out, bool value) { out.WriteByte(value ? 1 : 0); }

void WriteFloat(TStream& out, float value) { out.WriteInt(std::bit_cast<uint32_t>(value)); }

// Reads of one stream that stop at its end: every length is checked against
// the bytes left before anything is taken from the stream, and a short read
// leaves the stream's error set.
class Reader {
public:
  Reader(TStream& stream, uint32_t end) : s(stream), end_(end) {}

  uint32_t Left() {
    const uint32_t at = s.Tell();
    return at < end_ ? end_ - at : 0;
  }
  bool Ok() const { return s.GetError() == 0 && !bad_; }
  void Fail() { bad_ = true; }

  bool Bool() { return s.ReadByte() != 0; }
  uint32_t U32() { return s.ReadInt(); }
  int64_t I64() { return static_cast<int64_t>(s.ReadInt64()); }
  float Float() { return std::bit_cast<float>(s.ReadInt()); }
  KUID Kuid() { return s.ReadKUID(); }
  // A length beyond the bytes left marks the read failed and takes nothing.
  template <typename Text, typename ReadFn> void TextOf(Text& out, ReadFn read) {
    const uint32_t n = s.ReadInt();
    if (s.GetError() != 0) return;
    if (n > Left()) {
      Fail();
      return;
    }
    s.SeekBuffered(-4, TStream::kCurrent);
    (s.*read)(out);
  }
  void String(Vak::String& out) { TextOf(out, &TStream::ReadString); }
  void PString(Vak::PString& out) { TextOf(out, &TStream::ReadPString); }
  void Skip(uint32_t n) {
    if (n > Left()) {
      Fail();
      return;
    }
    s.SeekBuffered(n, TStream::kCurrent);
  }
  // A chunk tree in the binary chunk form; null when it holds none.
  ACSChunkPtr Tree() {
    auto* file = new TDBBinaryFile;
    MPHandle keep(file);  // the root's nodes hold it from here on
    file->Read(s);
    ACSChunkPtr root = file->GetRoot();
    return root.IsNull() ? ACSChunkPtr() : ACSChunk::AsContainer(root.Get());
  }

  TStream& s;

private:
  uint32_t end_;
  bool bad_ = false;
};

// ---- the network blocks, when no network code is installed ----
// Their layouts belong to the download station; without it the file still
// carries empty blocks, and a stored block is read past.

void WriteEmptyUserNames(TStream& out) {
  out.WriteInt(0);  // version
  out.WriteInt(0);  // count
}

bool SkipUserNames(Reader& in) {
  if (in.U32() != 0) return false;
  const uint32_t count = in.U32();
  if (!in.Ok() || count > in.Left() / 12) return false;
  Vak::PString name;
  for (uint32_t i = 0; i < count && in.Ok(); ++i) {
    in.PString(name);
    in.Skip(8);
  }
  return in.Ok();
}

void WriteEmptyStation(TStream& out) {
  out.WriteInt(1);  // version
  out.WriteString(Vak::String());
  out.WriteInt64(0);
  out.WriteInt(0);
}

void SkipStation(Reader& in) {
  if (in.U32() != 1) return;
  Vak::String last;
  in.String(last);
  in.Skip(8);
  const uint32_t count = in.U32();
  if (!in.Ok() || count > in.Left() / 4) return;
  Vak::PString url;
  for (uint32_t i = 0; i < count && in.Ok(); ++i) in.PString(url);
}

// ---- records ----
// Records are most of the file: they are written to and read from plain
// memory, without a stream call per field.

// Appends fields to a byte block, in the forms of TStream's helpers. Room
// for a whole record is made before it is written.
class RecordWriter {
public:
  explicit RecordWriter(std::vector<uint8_t>& out) : out_(out) {}

  std::size_t Size() const { return at_; }
  // Cuts the block to what was written; the count. The next record starts
  // the block again.
  std::size_t Finish() {
    out_.resize(at_);
    const std::size_t n = at_;
    at_ = 0;
    return n;
  }
  void Room(std::size_t n) {
    if (out_.size() - at_ < n) out_.resize(std::max(out_.size() * 2, at_ + n));
  }

  void Byte(uint8_t value) { out_[at_++] = value; }
  void Bool(bool value) { out_[at_++] = value ? 1 : 0; }
  void U32(uint32_t value) {
    Vak::PutLE32(out_.data() + at_, value);
    at_ += 4;
  }
  void I64(int64_t value) {
    Vak::PutLE64(out_.data() + at_, static_cast<uint64_t>(value));
    at_ += 8;
  }
  void Float(float value) { U32(std::bit_cast<uint32_t>(value)); }
  void Kuid(const KUID& kuid) {
    uint32_t packed, contentWord;
    kuid.Pack(packed, contentWord);
    U32(contentWord);
    U32(packed);
  }
  void Bytes(const void* data, std::size_t n) {
    if (n) std::memcpy(out_.data() + at_, data, n);
    at_ += n;
  }
  // Too long a text is stored as the length 0 alone, as TStream stores it.
  void String(const Vak::String& text) {
    const uint32_t length = text.Size();
    if (length >= kMaxStoredString) return U32(0);
    U32(length);
    Bytes(static_cast<const char*>(text), length);
  }
  void PString(const Vak::PString& text) {
    const uint32_t length = text.Length();
    if (length == 0 || length >= kMaxStoredPString) return U32(0);
    U32(length + 1);
    Bytes(text.c_str(), length + 1);
  }

private:
  static constexpr uint32_t kMaxStoredString = 0x10000;
  static constexpr uint32_t kMaxStoredPString = 0xFFFF;
  std::vector<uint8_t>& out_;
  std::size_t at_ = 0;
};

void WriteRecord(RecordWriter& out, const VADAssetInfo& r, uint32_t generation) {
  // The fixed-width items and the lengths, then the texts.
  constexpr std::size_t kFixedBytes = 128;
  out.Room(kFixedBytes + r.categoryClasses.Size() + r.name.Size() + r.regionList.Size() + r.eraList.Size() +
           r.keywords.Size() + r.editingPath.Size() + r.archivePath.Size() + r.archiveName.Length() + 1 +
           r.localPath.Size() + r.description.Size() + r.secondaryName.Size());
  out.Kuid(r.kuid);
  out.String(r.categoryClasses);
  out.String(r.name);
  out.String(r.regionList);
  out.String(r.eraList);
  out.String(r.keywords);
  out.String(r.editingPath);
  out.String(r.archivePath);
  out.PString(r.archiveName);
  out.String(r.localPath);
  out.Kuid(r.mapKuid);
  const uint8_t flags = r.Flags();
  const uint8_t state = r.StateFlags();
  for (int bit = 0; bit < 8; ++bit) out.Bool(flags & (1u << bit));
  for (int bit = 0; bit < 8; ++bit) out.Bool(state & (1u << bit));
  out.Bool(r.obsoleteStamp == generation);
  for (int bit : {2, 3, 4, 0, 1}) out.Bool(r.permissions & (1u << bit));
  out.Bool(r.hasScripts != 0);
  out.U32(static_cast<uint32_t>(r.sizeOnDisk));
  out.Float(r.build);
  out.Byte(r.localRating);
  out.I64(r.firstInstalled);
  out.I64(r.lastInstalled);
  out.String(r.description);
  out.String(r.secondaryName);
  out.U32(static_cast<uint32_t>(r.contentHash));
}

// Texts that many records share (class codes, regions, eras, keywords) are
// made once and shared: the strings copy on write.
class TextCache {
public:
  explicit TextCache(Vak::StringArena& arena) : arena_(arena) {}
  Vak::StringArena& Arena() { return arena_; }
  // A text of `n` stored bytes, as TStream::ReadString makes it (up to its
  // first zero byte).
  Vak::String Get(const uint8_t* p, uint32_t n) {
    const char* text = reinterpret_cast<const char*>(p);
    if (n > kLongest) return arena_.Make(text, n);
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 16777619u;
    Vak::String& slot = slots_[hash % kSlots];
    if (slot.Size() != n || std::memcmp(static_cast<const char*>(slot), text, n) != 0) slot = arena_.Make(text, n);
    return slot;
  }

private:
  Vak::StringArena& arena_;
  static constexpr uint32_t kLongest = 64;
  static constexpr uint32_t kSlots = 509;
  Vak::String slots_[kSlots];
};

// Reads records from memory. Any read past the end marks the cursor failed
// and takes nothing; the caller checks once per record.
class RecordReader {
public:
  RecordReader(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

  bool Ok() const { return !bad_; }
  std::size_t Left() const { return static_cast<std::size_t>(end_ - p_); }
  std::size_t Offset(const uint8_t* start) const { return static_cast<std::size_t>(p_ - start); }

  uint8_t Byte() { return Take(1) ? p_[-1] : 0; }
  // The next n bytes, taken; null past the end.
  const uint8_t* Raw(std::size_t n) { return Take(n) ? p_ - n : nullptr; }
  bool Bool() { return Byte() != 0; }
  uint32_t U32() { return Take(4) ? Vak::GetLE32(p_ - 4) : 0; }
  int64_t I64() { return Take(8) ? static_cast<int64_t>(Vak::GetLE64(p_ - 8)) : 0; }
  float Float() { return std::bit_cast<float>(U32()); }
  KUID Kuid() {
    if (!Take(8)) return KUID::Null();
    return KUID::Unpack(Vak::GetLE32(p_ - 4), Vak::GetLE32(p_ - 8));
  }
  // The forms of TStream::ReadString and ReadPString: a length of 0 or one
  // too long gives an empty text (the bytes are passed over).
  void String(Vak::String& out, TextCache& texts, bool shared = false) {
    const uint32_t n = U32();
    if (!Ok() || !Take(n)) return;
    if (n == 0 || n >= 0x10000) {
      out = Vak::String();
      return;
    }
    out = shared ? texts.Get(p_ - n, n) : texts.Arena().Make(reinterpret_cast<const char*>(p_ - n), n);
  }
  void PString(Vak::PString& out) {
    const uint32_t n = U32();
    if (!Ok() || !Take(n)) return;
    if (n == 0 || n > 0xFFFF) {
      out = Vak::PString();
      return;
    }
    const char* text = reinterpret_cast<const char*>(p_ - n);
    if (std::memchr(text, 0, n)) {
      out = Vak::PString(text);
      return;
    }
    std::string terminated(text, n);
    out = Vak::PString(terminated.c_str());
  }

private:
  bool Take(std::size_t n) {
    if (bad_ || n > Left()) {
      bad_ = true;
      return false;
    }
    p_ += n;
    return true;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  bool bad_ = false;
};

// Items absent from older versions keep a new record's values.
void ReadRecord(RecordReader& in, uint32_t v, uint32_t generation, TextCache& texts, VADAssetInfo& r) {
  r.kuid = in.Kuid();
  in.String(r.categoryClasses, texts, true);
  in.String(r.name, texts);
  in.String(r.regionList, texts, true);
  in.String(r.eraList, texts, true);
  in.String(r.keywords, texts, true);
  in.String(r.editingPath, texts);
  in.String(r.archivePath, texts);
  in.PString(r.archiveName);
  in.String(r.localPath, texts);
  r.mapKuid = in.Kuid();
  uint8_t flags = 0, state = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (in.Bool()) flags |= static_cast<uint8_t>(1u << bit);
  for (int bit = 0; bit < 8; ++bit) {
    if ((bit == 4 && v <= 27) || (bit == 7 && v <= 22)) continue;
    if (in.Bool()) state |= static_cast<uint8_t>(1u << bit);
  }
  if (!r.HasArchiveLocation()) {
    flags &= static_cast<uint8_t>(~VADAssetInfo::kArchiveHeld);
    state &= static_cast<uint8_t>(~VADAssetInfo::kBuiltIn);
  }
  r.flags = flags;
  r.stateFlags = state;
  if (v > 22) r.obsoleteStamp = in.Bool() ? generation : 0;
  uint8_t permissions = 0;
  for (int bit : {2, 3, 4, 0, 1}) {
    if (bit < 2 && v <= 28) continue;
    if (in.Bool()) permissions |= static_cast<uint8_t>(1u << bit);
  }
  r.permissions = permissions;
  if (v > 32) r.hasScripts = in.Bool() ? 1 : 0;
  r.sizeOnDisk = static_cast<int32_t>(in.U32());
  r.build = in.Float();
  r.localRating = in.Byte();
  r.firstInstalled = in.I64();
  r.lastInstalled = in.I64();
  in.String(r.description, texts, true);
  in.String(r.secondaryName, texts);
  if (v > 20) r.contentHash = static_cast<int32_t>(in.U32());
}

// ---- checking records without making them ----
// Each walks what ReadRecord reads and fails where it fails. With kSame it
// also clears `same` where writing the made record would not give the
// stored bytes back (a text that reads shorter or empty, a bool byte above 1,
// a KUID in a form the writer does not make).

template <bool kSame> bool CheckKuid(RecordReader& in, KUID& kuid, bool& same) {
  const uint8_t* p = in.Raw(8);
  if (!p) return false;
  const uint32_t contentWord = Vak::GetLE32(p);
  const uint32_t packed = Vak::GetLE32(p + 4);
  kuid = KUID::Unpack(packed, contentWord);
  if (kSame) {
    uint32_t packedAgain, contentAgain;
    kuid.Pack(packedAgain, contentAgain);
    if (packedAgain != packed || contentAgain != contentWord) same = false;
  }
  return true;
}

// `empty`, when given, tells whether the text reads as empty.
template <bool kSame> void CheckString(RecordReader& in, bool& same, bool* empty = nullptr) {
  const uint32_t n = in.U32();
  const uint8_t* p = in.Raw(n);
  if (!kSame || !in.Ok()) return;
  const bool cut = n >= 0x10000 || (n > 0 && std::memchr(p, 0, n) != nullptr);
  if (cut) same = false;
  if (empty) *empty = n == 0 || cut;
}

template <bool kSame> void CheckPString(RecordReader& in, bool& same) {
  const uint32_t n = in.U32();
  const uint8_t* p = in.Raw(n);
  if (!kSame || !in.Ok() || n == 0) return;
  if (n < 2 || n > 0xFFFF || std::memchr(p, 0, n) != p + n - 1) same = false;
}

template <bool kSame> bool CheckBool(RecordReader& in, bool& same) {
  const uint8_t b = in.Byte();
  if (kSame && b > 1) same = false;
  return b != 0;
}

// `notObsolete` counts the records stored with the obsolete answer unset.
template <bool kSame>
bool CheckRecord(RecordReader& in, uint32_t v, KUID& kuid, bool& same, uint32_t& notObsolete) {
  if (!kSame) {
    // The texts and flags only need their lengths.
    if (!CheckKuid<false>(in, kuid, same)) return false;
    for (int text = 0; text < 7; ++text) in.Raw(in.U32());
    in.Raw(in.U32());
    in.Raw(in.U32());
    const std::size_t bools = 8 + 8 - (v <= 27) - (v <= 22) + (v > 22) + 5 - 2 * (v <= 28) + (v > 32);
    in.Raw(8 + bools + 4 + 4 + 1 + 8 + 8);
    in.Raw(in.U32());
    in.Raw(in.U32());
    if (v > 20) in.Raw(4);
    return in.Ok() && !kuid.IsNull();
  }
  if (!CheckKuid<kSame>(in, kuid, same)) return false;
  bool noArchive = false;
  for (int text = 0; text < 7; ++text) CheckString<kSame>(in, same, text == 6 ? &noArchive : nullptr);
  CheckPString<kSame>(in, same);
  CheckString<kSame>(in, same);
  KUID map;
  if (!CheckKuid<kSame>(in, map, same)) return false;
  bool strayBits = false;
  for (int bit = 0; bit < 8; ++bit) {
    if (CheckBool<kSame>(in, same) && bit == 7) strayBits = noArchive;
  }
  for (int bit = 0; bit < 8; ++bit) {
    if ((bit == 4 && v <= 27) || (bit == 7 && v <= 22)) continue;
    if (CheckBool<kSame>(in, same) && bit == 0 && noArchive) strayBits = true;
  }
  if (strayBits) same = false;
  if (v > 22 && !CheckBool<kSame>(in, same)) ++notObsolete;
  for (int bit : {2, 3, 4, 0, 1}) {
    if (bit < 2 && v <= 28) continue;
    CheckBool<kSame>(in, same);
  }
  if (v > 32) CheckBool<kSame>(in, same);
  in.Raw(4 + 4 + 1 + 8 + 8);
  CheckString<kSame>(in, same);
  CheckString<kSame>(in, same);
  if (v > 20) in.Raw(4);
  return in.Ok() && !kuid.IsNull();
}

// Whether two of the KUIDs are equal: one pass through an open table of
// their positions.
bool HasDuplicate(const std::vector<KUID>& kuids) {
  std::size_t slots = 16;
  while (slots < kuids.size() * 2) slots <<= 1;
  constexpr uint32_t kFree = UINT32_MAX;
  std::vector<uint32_t> table(slots, kFree);
  for (uint32_t i = 0; i < kuids.size(); ++i) {
    const KUID& kuid = kuids[i];
    uint64_t h = KUIDHash{}(kuid);
    h = (h ^ (h >> 31)) * 0x9E3779B97F4A7C15ull;
    for (std::size_t at = (h >> 20) & (slots - 1);; at = (at + 1) & (slots - 1)) {
      if (table[at] == kFree) {
        table[at] = i;
        break;
      }
      if (kuids[table[at]] == kuid) return true;
    }
  }
  return false;
}

void StoreServerTime(int64_t time) {
  SetServerTime(time);
  if (ServerTimeHandler handler = GetServerTimeHandler()) handler(time);
}

// Where the blocks are written: small fields through a memory stream, long
// runs (the records) straight into the scrambled file after what the memory
// stream holds.
class BodyOut {
public:
  explicit BodyOut(TStream& file) : file_(file), bytes_(4096), stream_(&bytes_) {}

  TStream& Stream() { return stream_; }
  bool Put(const uint8_t* data, uint32_t n) { return Drain() && file_.WriteBytes(data, n) == n; }
  // Moves what the memory stream holds into the file once it holds enough.
  bool DrainIfFull() { return bytes_.Size() < kDrainBytes || Drain(); }
  bool Drain() {
    const uint32_t n = bytes_.Size();
    if (n == 0) return true;
    const bool ok = file_.WriteBytes(bytes_.Data(), n) == n;
    bytes_.SetSize(0);
    bytes_.SetPosition(0);
    return ok;
  }

private:
  static constexpr uint32_t kDrainBytes = 256 * 1024;
  TStream& file_;
  DynamicBuffer bytes_;
  TBuffer stream_;
};

} // namespace

// The body of the file is a fixed list of blocks, each read and written by
// its own pair of functions. A block absent from older versions is neither
// read nor written there; one that decides refuses the whole file when its
// read fails.
class VADIndexFileBlocks {
public:
  struct ReadContext {
    VADAssetIndex& index;
    uint32_t version;
    TView& stream;
    Reader& in;
    VADNetworkService* network;
    // The file's bytes, which the stream reads; a block may keep them.
    platform::LargeBuffer& file;
  };
  struct WriteContext {
    VADAssetIndex& index;
    BodyOut& out;
    VADNetworkService* network;
  };
  struct Codec {
    const char* name;
    uint32_t since;  // the first version that holds the block
    bool decides;
    bool (*write)(WriteContext&);
    bool (*read)(ReadContext&);
    // What an older file without the block stands for; may be null.
    void (*absent)(ReadContext&);
  };

  static bool WriteRecords(WriteContext& c);
  static bool SameWhenWritten(const VADAssetIndex::KeptRecords& kept);
  static bool ReadRecords(ReadContext& c);

  static bool WriteTableA(WriteContext& c) {
    c.index.tableA_.Write(c.out.Stream());
    return true;
  }
  static bool ReadTableA(ReadContext& c) { return c.index.tableA_.Read(c.stream); }
  static bool WriteTableB(WriteContext& c) {
    c.index.tableB_.Write(c.out.Stream());
    return true;
  }
  static bool ReadTableB(ReadContext& c) { return c.index.tableB_.Read(c.stream); }

  static bool WriteDependencies(WriteContext& c) { return VADDependencyTable::Instance().Write(c.out.Stream()); }
  static bool ReadDependencies(ReadContext& c) { return VADDependencyTable::Instance().Read(c.stream); }

  static bool WriteUserNames(WriteContext& c) {
    if (c.network) c.network->WriteUserNames(c.out.Stream());
    else WriteEmptyUserNames(c.out.Stream());
    return true;
  }
  static bool ReadUserNames(ReadContext& c) {
    return c.network ? c.network->ReadUserNames(c.stream) : SkipUserNames(c.in);
  }

  static bool WriteLog(WriteContext& c) {
    VADLog::Instance().Write(c.out.Stream());
    return true;
  }
  static bool ReadLog(ReadContext& c) { return VADLog::Instance().Read(c.stream); }

  // Two texts and two bytes kept as read, the build numbers and the server
  // time.
  static bool WriteValues(WriteContext& c) {
    TStream& out = c.out.Stream();
    VADAssetIndex& x = c.index;
    out.WritePString(x.storedText[0]);
    out.WritePString(x.storedText[1]);
    WriteBool(out, x.storedByte[0]);
    WriteBool(out, x.storedByte[1]);  // the texture option
    out.WriteInt(x.latestBuild);
    out.WriteInt(x.indexBuild);
    out.WriteInt64(static_cast<uint64_t>(x.serverTime));
    return true;
  }
  static bool ReadValues(ReadContext& c);

  static bool WriteSettings(WriteContext& c) {
    c.index.settingsLock.Lock();
    WriteChunkFileBinary(c.index.settings, c.out.Stream());
    c.index.settingsLock.Unlock();
    return true;
  }
  static bool ReadSettings(ReadContext& c) {
    ACSChunkPtr tree = c.in.Tree();
    c.index.settingsLock.Lock();
    c.index.settings = tree;
    c.index.settingsLock.Unlock();
    c.index.settingsPresent = 1;
    VADLock::AddExtraChangeFlags(VADAssetIndex::kDirtySetting);
    return true;
  }
  static void NoSettings(ReadContext& c) { c.index.settingsPresent = 1; }

  static bool WriteGlobalData(WriteContext& c) {
    WriteChunkFileBinary(c.index.globalData, c.out.Stream());
    return true;
  }
  // A damaged tree reads as empty; only a short read fails.
  static bool ReadGlobalData(ReadContext& c) {
    c.index.globalData = c.in.Tree();
    return c.in.Ok();
  }

  static bool WritePersistent(WriteContext& c) {
    PersistentRecordList::Global().Write(c.out.Stream());
    return true;
  }
  static bool ReadPersistent(ReadContext& c) { return PersistentRecordList::Global().Read(c.stream); }

  // Older versions hold a word in its place.
  static bool WriteTimeMarker(WriteContext& c) {
    c.out.Stream().WriteInt64(static_cast<uint64_t>(c.index.timeMarker_));
    return true;
  }
  static bool ReadTimeMarker(ReadContext& c) {
    if (c.version <= 31) {
      c.in.Skip(4);
      return true;
    }
    const int64_t marker = c.in.I64();
    if (c.in.Ok()) c.index.timeMarker_ = marker;
    return true;
  }

  static bool WriteStation(WriteContext& c) {
    if (c.network) c.network->WriteStation(c.out.Stream());
    else WriteEmptyStation(c.out.Stream());
    return true;
  }
  static bool ReadStation(ReadContext& c) {
    if (c.network) c.network->ReadStation(c.stream);
    else SkipStation(c.in);
    return true;
  }

  // A word read past, the membership, unused bytes and the rebuilt flag.
  static bool WriteClosing(WriteContext& c) {
    TStream& out = c.out.Stream();
    out.WriteInt(0);
    out.WriteInt(static_cast<uint32_t>(c.network ? c.network->GetMembershipStatus() : 0));
    WriteFloat(out, c.network ? c.network->GetMembershipValue() : 0.0f);
    const uint8_t trailer[kTrailerBytes] = {};
    out.WriteBytes(trailer, kTrailerBytes);
    WriteBool(out, c.index.rebuilt_ != 0);
    return true;
  }
  static bool ReadClosing(ReadContext& c) {
    Reader& in = c.in;
    in.U32();
    const auto status = static_cast<int32_t>(in.U32());
    const float value = in.Float();
    if (in.Ok() && c.network) c.network->SetMembership(status, value);
    in.Skip(kTrailerBytes);
    const uint8_t rebuilt = in.Bool() ? 1 : 0;
    if (in.Ok() && rebuilt != c.index.rebuilt_) {
      c.index.rebuilt_ = rebuilt;
      VADLock::AddExtraChangeFlags(VADAssetIndex::kDirtyRebuilt);
    }
    return true;
  }

  // In file order.
  static constexpr Codec kBlocks[] = {
      {"records", kOldestVersion, true, WriteRecords, ReadRecords, nullptr},
      {"replacement table A", kOldestVersion, true, WriteTableA, ReadTableA, nullptr},
      {"replacement table B", 26, true, WriteTableB, ReadTableB, nullptr},
      {"dependency table", kOldestVersion, true, WriteDependencies, ReadDependencies, nullptr},
      {"user names", kOldestVersion, true, WriteUserNames, ReadUserNames, nullptr},
      {"log", 35, true, WriteLog, ReadLog, nullptr},
      {"stored values", kOldestVersion, true, WriteValues, ReadValues, nullptr},
      {"settings", 27, true, WriteSettings, ReadSettings, NoSettings},
      {"global data", kOldestVersion, true, WriteGlobalData, ReadGlobalData, nullptr},
      {"persistent records", kOldestVersion, true, WritePersistent, ReadPersistent, nullptr},
      {"time marker", kOldestVersion, false, WriteTimeMarker, ReadTimeMarker, nullptr},
      {"station", kOldestVersion, false, WriteStation, ReadStation, nullptr},
      {"closing values", kOldestVersion, false, WriteClosing, ReadClosing, nullptr},
  };
};

// Whether writing the kept records, once made, gives their bytes back.
bool VADIndexFileBlocks::SameWhenWritten(const VADAssetIndex::KeptRecords& kept) {
  if (kept.version != kVersion) return false;
  RecordReader in(kept.at + 4, kept.size - 4);
  bool same = true;
  uint32_t notObsolete = 0;
  KUID kuid;
  for (uint32_t i = 0; i < kept.count && same; ++i) CheckRecord<true>(in, kept.version, kuid, same, notObsolete);
  // A record read with the answer unset gets the stamp 0, which the writer
  // takes for set while the generation is 0.
  return same && (kept.generation != 0 || notObsolete == 0);
}

bool VADIndexFileBlocks::WriteRecords(WriteContext& c) {
  VADAssetIndex& index = c.index;
  {
    std::lock_guard<std::mutex> guard(index.keptMutex_);
    VADAssetIndex::KeptRecords& kept = index.kept_;
    if (index.recordsKept_.load() && kept.generation == index.ObsoleteGeneration()) {
      using Same = VADAssetIndex::KeptRecords::Same;
      if (kept.same == Same::kUnknown) kept.same = SameWhenWritten(kept) ? Same::kYes : Same::kNo;
      if (kept.same == Same::kYes) return c.out.Put(kept.at, static_cast<uint32_t>(kept.size));
    }
  }
  index.MakeRecordsIfKept();
  // Batches of plain bytes, scrambled a batch at a time.
  constexpr std::size_t kBatchBytes = 256 * 1024;
  bool ok = true;
  std::vector<uint8_t> batch;
  batch.reserve(kBatchBytes + 4096);
  RecordWriter records(batch);
  auto flush = [&] {
    const auto n = static_cast<uint32_t>(records.Finish());
    ok = c.out.Put(batch.data(), n) && ok;
  };
  records.Room(4);
  records.U32(c.index.RecordCount());
  const uint32_t generation = c.index.ObsoleteGeneration();
  for (const VADAssetInfo* record : c.index.records_) {
    WriteRecord(records, *record, generation);
    if (records.Size() >= kBatchBytes) flush();
  }
  flush();
  return ok;
}

bool VADIndexFileBlocks::ReadRecords(ReadContext& c) {
  // Straight from the bytes in memory. Every record is checked here, as a
  // read that makes it would; it is made at the first question.
  uint32_t left = 0;
  const uint8_t* bytes = c.stream.InPlace(left);
  RecordReader records(bytes, left);
  const uint32_t count = records.U32();
  if (!records.Ok() || count > records.Left() / kMinRecordBytes) return false;
  bool same = false;
  uint32_t notObsolete = 0;
  std::vector<KUID> kuids(count);
  for (uint32_t i = 0; i < count; ++i)
    if (!CheckRecord<false>(records, c.version, kuids[i], same, notObsolete)) return false;
  // Find, Remove and Merge rely on one record per KUID.
  if (HasDuplicate(kuids)) return false;
  const std::size_t length = records.Offset(bytes);
  c.stream.SeekBuffered(static_cast<int64_t>(length), TStream::kCurrent);
  if (count == 0) return true;
  VADAssetIndex& index = c.index;
  VADAssetIndex::KeptRecords& kept = index.kept_;
  kept.file = std::move(c.file);
  kept.at = bytes;
  kept.size = length;
  kept.count = count;
  kept.version = c.version;
  kept.generation = index.ObsoleteGeneration();
  kept.same = VADAssetIndex::KeptRecords::Same::kUnknown;
  index.recordsKept_.store(true, std::memory_order_release);
  return true;
}

void VADAssetIndex::MakeKeptRecords() const {
  std::lock_guard<std::mutex> guard(keptMutex_);
  if (!recordsKept_.load(std::memory_order_relaxed)) return;
  auto& self = const_cast<VADAssetIndex&>(*this);
  KeptRecords& kept = self.kept_;
  // The records in one block and their texts in a few: a load makes a
  // handful of allocations, not one per field. The bytes were checked.
  RecordReader in(kept.at + 4, kept.size - 4);
  VADAssetInfo* loaded = VADAssetInfo::MakeBlock(kept.count);
  Vak::StringArena texts;
  TextCache shared(texts);
  for (uint32_t i = 0; i < kept.count; ++i) {
    ReadRecord(in, kept.version, kept.generation, shared, loaded[i]);
    loaded[i].DeferKeywords();
  }
  self.AdoptLoaded(loaded, kept.count);
  recordsKept_.store(false, std::memory_order_release);
  // The count stays: a RecordCount may still be reading it.
  kept.file.Release();
  kept.at = nullptr;
  kept.size = 0;
}

void VADAssetIndex::DropKeptRecords() {
  std::lock_guard<std::mutex> guard(keptMutex_);
  recordsKept_.store(false);
  kept_ = KeptRecords();
}

bool VADIndexFileBlocks::ReadValues(ReadContext& c) {
  Reader& in = c.in;
  VADAssetIndex& x = c.index;
  const uint32_t v = c.version;
  if (v > 23) in.PString(x.storedText[0]);
  if (v > 35) {
    in.PString(x.storedText[1]);
    x.storedByte[0] = in.Bool() ? 1 : 0;
  }
  if (v > 24) x.storedByte[1] = in.Bool() ? 1 : 0;
  if (v > 29) {
    uint32_t latest = in.U32();
    const uint32_t index = in.U32();
    if (!in.Ok()) return false;
    {
      Vak::SingleLock guard(&AppGlobalsLock(), true);
      if (GetBuildNumber() > latest) latest = GetBuildNumber();
      SetBuildNumber(latest);
    }
    x.latestBuild = latest;
    x.indexBuild = index;
    if (x.indexBuild < VADAssetIndex::kInitialBuild) {
      x.indexBuild = VADAssetIndex::kInitialBuild;
      x.MarkDirty(VADAssetIndex::kDirtyRecords);
    }
    if (x.indexBuild < x.latestBuild) VADLock::AddExtraChangeFlags(VADAssetIndex::kDirtyLatestBuild);
  }
  if (v > 30) {
    x.serverTime = in.I64();
    if (!in.Ok()) return false;
    StoreServerTime(x.serverTime);
  }
  return true;
}

bool VADAssetIndex::WriteDatabase(TStream& file) {
  KuidBaseFile::GetUserId();
  file.WriteInt(kMagic);
  file.WriteInt(kVersion);
  const uint32_t sizeAt = file.WriteSizeMarker();
  TStreamObfuscated scrambled;
  scrambled.Open(true, &file, TStreamObfuscated::kScrambled);
  BodyOut out(scrambled);
  VADIndexFileBlocks::WriteContext context{*this, out, GetVADServices().network};
  bool ok = true;
  for (const auto& block : VADIndexFileBlocks::kBlocks) {
    ok = block.write(context) && ok;
    ok = out.DrainIfFull() && ok;
  }
  ok = ok && out.Stream().GetError() == 0;
  ok = out.Drain() && ok;
  ok = ok && scrambled.GetError() == 0;
  scrambled.Open(false, nullptr, TStreamObfuscated::kPlain);
  file.DropReadAhead();
  file.WriteIntAt(file.Tell(), sizeAt);
  return ok && file.GetError() == 0;
}

bool VADAssetIndex::ReadDatabase(TStream& file) {
  Clear();
  storedText[0] = storedText[1] = Vak::PString();
  storedByte[0] = storedByte[1] = 0;
  latestBuild = indexBuild = kInitialBuild;
  serverTime = 0;
  timeMarker_ = kTimeMarkerUnset;
  settingsPresent = 0;

  // The whole file in memory, unscrambled where it lies and read from there.
  const uint32_t fileSize = file.GetSize();
  const uint32_t at = file.Tell();
  const uint32_t length = at < fileSize ? fileSize - at : 0;
  platform::LargeBuffer buffer(length);
  uint8_t* const bytes = buffer.Data();
  const uint32_t headRead = std::min<uint32_t>(length, 16);
  if (file.ReadBuffered(headRead, bytes) != headRead) return false;
  RecordReader head(bytes, headRead);
  const uint32_t magic = head.U32();
  const uint32_t v = head.U32();
  const uint32_t size = head.U32();
  if (!head.Ok() || magic != kMagic || size != fileSize || v < kOldestVersion || v > kVersion) return false;
  const bool scrambled = v >= kFirstScrambled;
  const uint32_t seed = scrambled ? head.U32() : 0;
  if (!head.Ok()) return false;
  const auto headBytes = static_cast<uint32_t>(head.Offset(bytes));
  // The rest a piece at a time, each unscrambled while it is in the cache
  // (a scrambled body starts right after the seed).
  constexpr uint32_t kPiece = 256 * 1024;
  for (uint32_t done = headRead; done < length;) {
    const uint32_t n = std::min(kPiece, length - done);
    if (file.ReadBuffered(n, bytes + done) != n) return false;
    if (scrambled) TStreamObfuscated::UnscrambleBlock(at + done, bytes + done, n, seed);
    done += n;
  }

  TView stream(bytes + headBytes, length - headBytes);
  Reader in(stream, stream.GetSize());
  VADIndexFileBlocks::ReadContext context{*this, v, stream, in, GetVADServices().network, buffer};
  for (const auto& block : VADIndexFileBlocks::kBlocks) {
    if (v < block.since) {
      if (block.absent) block.absent(context);
      continue;
    }
    if (!block.decides) {
      block.read(context);
      continue;
    }
    if (!in.Ok() || !block.read(context)) {
      Clear();
      return false;
    }
  }

  // The name order is made when first asked for.
  if (sortHolds_ > 0) SortByName();
  else sortPending_.store(true, std::memory_order_release);
  SignalStartupEvent();
  return true;
}

bool WriteDatabaseFile(const char* path) {
  // No entry may point at asset files still waiting for their sync.
  if (platform::FlushDeferredSyncs() != platform::Error::None) return false;
  Vak::File file;
  if (!file.Open(path, Vak::File::kWrite | Vak::File::kCreate).Ok()) return false;
  bool ok;
  {
    TFile stream(&file);
    ok = gVadAssetIndex.WriteDatabase(stream);
  }
  ok = file.Flush() && ok;
  ok = ok && file.OwnHandle().Sync() == platform::Error::None;
  return file.Close() == 0 && ok;
}

bool ReadDatabaseFile(const char* path) {
  Vak::File file;
  if (!file.Open(path, Vak::File::kReadStored).Ok()) {
    gVadAssetIndex.Clear();
    return false;
  }
  TFile stream(&file);
  return gVadAssetIndex.ReadDatabase(stream);
}

uint32_t DatabaseFileVersion(const char* path) {
  Vak::File file;
  if (!file.Open(path, Vak::File::kReadStored).Ok()) return 0;
  TFile stream(&file);
  const uint32_t magic = stream.ReadInt();
  const uint32_t version = stream.ReadInt();
  return stream.GetError() == 0 && magic == kMagic ? version : 0;
}
