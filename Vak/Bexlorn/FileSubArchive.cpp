#include "Vak/Bexlorn/FileSubArchive.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/CompressedFileFormat.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/Wildcard.h"
#include "platform/os/FileSystem.h"

namespace Vak {

namespace {

constexpr const char* kSource = "Vak/Bexlorn/FileSubArchive";
constexpr uint16_t kDirectoryFlags = 0x11;
// Input read from a temporary file at a time while storing.
constexpr uint32_t kStoreRead = 16 * Archive::kChunkBytes;
constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;
// Index records taken in at a time.
constexpr std::size_t kRecordBatch = 4096;
// Table slots fetched this many records ahead of their insertion.
constexpr std::size_t kPrefetchAhead = 16;

std::atomic<FileSubArchive::Progress> gProgress{nullptr};

bool IsSep(char c) { return c == '\\' || c == '/'; }

std::string_view DropLeadingSep(std::string_view name) {
  if (!name.empty() && IsSep(name.front())) name.remove_prefix(1);
  return name;
}

// Folding of a key's bytes: the kernel's code page, '\\' as '/'.
std::array<unsigned char, 256> MakeFold() {
  std::array<unsigned char, 256> fold{};
  for (unsigned c = 0; c < 256; ++c) fold[c] = c == '\\' ? '/' : CodePage::ToLower(static_cast<unsigned char>(c));
  return fold;
}
const std::array<unsigned char, 256> kFold = MakeFold();

// The name field of a stored header, up to its terminator.
std::string_view NameOf(const uint8_t* header) {
  const char* name = reinterpret_cast<const char*>(header);
  const void* end = std::memchr(name, 0, Archive::kNameBytes);
  return std::string_view(name, end ? static_cast<const char*>(end) - name : Archive::kNameBytes);
}

// The part of a name its key is made of: one leading separator dropped, up
// to a terminator, at most a name field.
std::string_view KeyPart(std::string_view name) {
  name = DropLeadingSep(name);
  const std::size_t n = std::min(name.size(), Archive::kNameBytes);
  const void* end = std::memchr(name.data(), 0, n);
  return name.substr(0, end ? static_cast<const char*>(end) - name.data() : n);
}

// An entry's key is its name folded by kFold; names are compared and hashed
// through it, never folded into a copy. `length`, when given, gets the
// name's length up to its terminator.
uint32_t KeyHash(std::string_view name, std::size_t* length = nullptr) {
  const std::size_t skip = !name.empty() && IsSep(name.front()) ? 1 : 0;
  const std::size_t n = std::min(name.size(), skip + Archive::kNameBytes);
  // Folded first, then mixed eight bytes at a time: a byte-serial hash
  // would be the longest chain of a mount.
  unsigned char folded[Archive::kNameBytes + 8];
  std::size_t k = 0;
  std::size_t i = skip;
  for (; i < n && name[i] != 0; ++i) folded[k++] = kFold[static_cast<unsigned char>(name[i])];
  if (length) *length = i;
  std::memset(folded + k, 0, 8);
  uint64_t h = 0x9E3779B97F4A7C15u ^ k;
  for (std::size_t j = 0; j < k; j += 8) {
    uint64_t word;
    std::memcpy(&word, folded + j, 8);
    h = (h ^ word) * 0xFF51AFD7ED558CCDu;
    h ^= h >> 32;
  }
  h ^= h >> 29;
  h *= 0xC4CEB9FE1A85EC53u;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

bool SameKey(std::string_view a, std::string_view b) {
  a = KeyPart(a);
  b = KeyPart(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (kFold[static_cast<unsigned char>(a[i])] != kFold[static_cast<unsigned char>(b[i])]) return false;
  return true;
}

using KeyText = char[Archive::kNameBytes + 1];

// A directory path: A to Z lowered, separators as '/'.
std::string_view DirectoryOf(std::string_view path, KeyText& text) {
  const std::size_t n = std::min(path.size(), Archive::kNameBytes);
  for (std::size_t i = 0; i < n; ++i) text[i] = path[i] == '\\' ? '/' : CodePage::AsciiLower(path[i]);
  text[n] = 0;
  return std::string_view(text, n);
}

void Fill(File::Entry& entry, const Archive::FileHeader& header, std::string_view name) {
  const std::size_t n = std::min(name.size(), sizeof entry.name - 1);
  std::memcpy(entry.name, name.data(), n);
  entry.name[n] = 0;
  entry.size = header.uncompressedSize;
  entry.size2 = header.storedSize;
  entry.reserved = header.checksum;
  entry.created = header.reserved1;
  entry.accessed = header.reserved2;
  entry.written = header.fileTime;
  entry.attributes = header.flags;
  entry.reserved2 = header.reserved3;
}

} // namespace

class FileSubArchive::Guard {
public:
  explicit Guard(FileSubArchive& archive) : lock_(archive.lock_) { lock_.Lock(); }
  ~Guard() { lock_.Unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

private:
  CriticalSection& lock_;
};

void* FileSubArchive::Pool::Take(std::size_t bytes) {
  constexpr std::size_t kBlockBytes = 64 * 1024;
  bytes = (bytes + 15) & ~std::size_t(15);
  if (left_ < bytes) {
    const std::size_t n = std::max(bytes, kBlockBytes);
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(n));
    next_ = blocks_.back().get();
    left_ = n;
  }
  void* p = next_;
  next_ += bytes;
  left_ -= bytes;
  return p;
}

void FileSubArchive::Pool::Clear() {
  blocks_.clear();
  next_ = nullptr;
  left_ = 0;
}

void FileSubArchive::SetProgress(Progress progress) { gProgress = progress; }

FileSubArchive::FileSubArchive(const char* path, bool writable) : writable_(writable), lock_("archive") {
  const uint8_t zero[Archive::kInfoBytes] = {};
  info_ = Archive::Info::Decode(zero, sizeof zero);
  if (!path || !path_.Set(path) || path_.Length() != std::strlen(path)) return;

  const unsigned long mode = writable ? (File::kReadStored | File::kWrite) : File::kReadStored;
  if (host_.Open(PString(), path, mode).Ok()) {
    uint8_t signature[Archive::kSignatureBytes];
    uint8_t info[Archive::kInfoBytes] = {};
    const bool hasSignature = host_.Read(signature, sizeof signature, 1) == sizeof signature &&
                              std::memcmp(signature, Archive::kSignature, sizeof signature) == 0;
    const uint32_t got = hasSignature ? host_.ReadInfoBlock(info) : 0;
    const Archive::Info read = Archive::Info::Decode(info, got);
    const int64_t size = Host().Size();
    if (!hasSignature || got == 0 || !read.Valid() || size < 0) {
      host_.Close();
      return;
    }
    info_ = read;
    end_ = static_cast<uint64_t>(size);
    open_ = true;
    const bool claimsIndex = info_.indexOffset != 0 && info_.entryCount != 0;
    indexed_ = ReadIndex();
    dirty_ = false;
    if (!indexed_) info_.indexOffset = 0;
    walk_ = Archive::kSignatureBytes;
    for (const Entry* e : list_) walk_ = std::max<uint64_t>(walk_, uint64_t(e->payloadOffset) + e->payloadSize);
    if (!writable_) return;

    // Writing lands behind what was read: over damage, a block or an index
    // written there would be lost at the next mount. Only an archive that
    // reads back cleanly is written to.
    uint8_t raw[Archive::kHeadBytes] = {};
    const bool infoFirst = ReadAt(Archive::kSignatureBytes, raw, sizeof raw) &&
                           Archive::BlockHead::Decode(raw).Is(Archive::kInfoTag);
    infoBytes_ = Archive::BlockHead::Decode(raw).length;
    const uint64_t indexEnd = uint64_t(info_.indexOffset) + indexBytes_;
    // A block the index lists never overlaps the index: the next block or
    // index goes there.
    const bool overlapsIndex =
        indexed_ && std::any_of(list_.begin(), list_.end(), [&](const Entry* e) {
          return e->payloadOffset - Archive::kFileLeadBytes < indexEnd &&
                 uint64_t(e->payloadOffset) + e->payloadSize > info_.indexOffset;
        });
    writable_ = infoFirst && (!claimsIndex || indexed_) && !overlapsIndex &&
                ChainIsWhole(indexed_ ? indexEnd : Archive::kSignatureBytes);
    return;
  }
  if (!writable) return;

  // Never over an existing file: one that exists but did not open is not
  // ours to empty.
  if (!host_.Open(PString(), path, File::kCreateNew | File::kReadStored | File::kWrite).Ok())
    throw FileEx(kSource, 207, "Substitute() Open new archive failed");
  info_ = Archive::Info{};
  if (!WriteInfo()) {
    host_.Close();
    platform::DeleteFile(path);
    throw FileEx(kSource, 207, "Substitute() Open new archive failed");
  }
  open_ = true;
  indexed_ = true;
  dirty_ = true;
  walk_ = Archive::kSignatureBytes;
}

FileSubArchive::~FileSubArchive() {
  if (open_ && writable_ && indexed_ && dirty_) WriteIndex();
  for (const auto& [file, temp] : pending_) platform::DeleteFile(temp.c_str());
  if (host_.IsOpen()) host_.Close();
}

bool FileSubArchive::IsReadOnly() const { return !writable_; }
bool FileSubArchive::IsReadable() const { return open_; }
uint32_t FileSubArchive::GetVersion() const { return info_.version; }
bool FileSubArchive::IsType(int kind) const { return kind == kArchive; }
bool FileSubArchive::IsPath(const char* path) const { return path && std::strcmp(path, path_) == 0; }
void FileSubArchive::AddToSearch(SearchList& list) { list.push_back(this); }
void FileSubArchive::Lock() { lock_.Lock(); }
void FileSubArchive::Unlock() { lock_.Unlock(); }

bool FileSubArchive::ReadAt(uint64_t offset, void* data, std::size_t length) {
  std::size_t got = 0;
  return offset + length <= end_ &&
         Host().ReadAt(static_cast<int64_t>(offset), data, length, got) == platform::Error::None && got == length;
}

bool FileSubArchive::WriteAt(uint64_t offset, const void* data, std::size_t length) {
  if (offset + length > kMaxOffset) return false;
  if (Host().WriteAt(static_cast<int64_t>(offset), data, length) != platform::Error::None) return false;
  end_ = std::max<uint64_t>(end_, offset + length);
  return true;
}

bool FileSubArchive::TruncateAt(uint64_t offset) {
  if (Host().Seek(static_cast<int64_t>(offset), platform::File::Origin::Begin) != platform::Error::None ||
      Host().SetEndOfFile() != platform::Error::None)
    return false;
  end_ = offset;
  return true;
}

bool FileSubArchive::ReadIndex() {
  if (info_.indexOffset == 0 || info_.entryCount == 0) return false;
  Guard guard(*this);
  uint8_t raw[Archive::kHeadBytes];
  if (!ReadAt(info_.indexOffset, raw, sizeof raw)) return false;
  const Archive::BlockHead head = Archive::BlockHead::Decode(raw);
  const uint64_t bytes = uint64_t(info_.entryCount) * Archive::kRecordBytes;
  // The count must fit both the block's length and what the file holds.
  if (!head.Is(Archive::kIndexTag) || head.length != bytes ||
      info_.indexOffset + Archive::kHeadBytes + bytes > end_)
    return false;

  // The records are kept: the entries' headers are theirs, so a mount
  // copies nothing per entry. Each batch is taken in while its bytes are
  // still in the cache; the table slots a batch needs are fetched ahead.
  const std::size_t count = info_.entryCount;
  auto* records = static_cast<uint8_t*>(pool_.Take(static_cast<std::size_t>(bytes)));
  auto* entries = static_cast<Entry*>(pool_.Take(count * sizeof(Entry)));
  Reserve(count);
  list_.reserve(count);
  uint32_t hashes[kRecordBatch];
  uint16_t lengths[kRecordBatch];
  bool ok = true;
  for (std::size_t done = 0; ok && done < count;) {
    const std::size_t n = std::min<std::size_t>(kRecordBatch, count - done);
    uint8_t* batch = records + done * Archive::kRecordBytes;
    if (!ReadAt(info_.indexOffset + Archive::kHeadBytes + done * Archive::kRecordBytes, batch,
                n * Archive::kRecordBytes)) {
      ok = false;
      break;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const char* name = reinterpret_cast<const char*>(batch + i * Archive::kRecordBytes + 8);
      std::size_t length = 0;
      hashes[i] = KeyHash(std::string_view(name, Archive::kNameBytes), &length);
      lengths[i] = static_cast<uint16_t>(length);
    }
    for (std::size_t i = 0; ok && i < n; ++i) {
      if (i + kPrefetchAhead < n) __builtin_prefetch(&slots_[Home(hashes[i + kPrefetchAhead])]);
      const uint8_t* r = batch + i * Archive::kRecordBytes;
      const uint32_t offset = GetLE32(r);
      const uint32_t size = GetLE32(r + 4);
      ok = offset >= Archive::kFileLeadBytes && uint64_t(offset) + size <= end_;
      const std::string_view name(reinterpret_cast<const char*>(r + 8), lengths[i]);
      if (ok) Add(offset, size, r + 8, name, hashes[i], entries + done + i);
    }
    done += n;
  }
  if (!ok) {
    list_.clear();
    slots_.clear();
    used_ = 0;
    directories_.clear();
    lastDirectory_.clear();
    pool_.Clear();
    return false;
  }
  indexBytes_ = static_cast<uint32_t>(Archive::kHeadBytes + bytes);
  return true;
}

bool FileSubArchive::ChainIsWhole(uint64_t from) {
  for (uint64_t at = from; at < end_;) {
    uint8_t raw[Archive::kHeadBytes];
    if (!ReadAt(at, raw, sizeof raw)) return false;
    const Archive::BlockHead head = Archive::BlockHead::Decode(raw);
    at += Archive::kHeadBytes + uint64_t(head.length);
    if (at > end_ || (head.Is(Archive::kFileTag) && head.length < Archive::kHeaderBytes)) return false;
  }
  return true;
}

void FileSubArchive::AddDirectories(std::string_view name) {
  name = DropLeadingSep(name);
  std::size_t cut = name.size();
  while (cut > 0 && !IsSep(name[cut - 1])) --cut;
  if (cut <= 1) return;
  const std::string_view raw = name.substr(0, cut - 1);
  // Files of one folder tend to come together.
  if (raw.size() == lastDirectory_.size() &&
      std::equal(raw.begin(), raw.end(), lastDirectory_.begin(),
                 [](char c, char last) { return (c == '\\' ? '/' : CodePage::AsciiLower(c)) == last; }))
    return;
  KeyText text;
  const std::string_view path = DirectoryOf(raw, text);
  lastDirectory_.assign(path);
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string_view prefix = path.substr(0, i);
    if (directories_.find(prefix) == directories_.end()) directories_.emplace(prefix);
  }
}

std::size_t FileSubArchive::Home(uint32_t hash) const { return hash & (slots_.size() - 1); }

FileSubArchive::Entry* FileSubArchive::Find(std::string_view name, uint32_t hash) const {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Home(hash);; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.entry) return nullptr;
    if (s.hash == hash && SameKey(name, NameOf(s.entry->header))) return s.entry;
  }
}

void FileSubArchive::Reserve(std::size_t count) {
  std::size_t capacity = 16;
  while (capacity < 2 * count) capacity *= 2;
  if (capacity <= slots_.size()) return;
  std::vector<Slot> old(capacity);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.entry) continue;
    std::size_t i = Home(s.hash);
    while (slots_[i].entry) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

void FileSubArchive::Insert(Entry* entry) {
  if (2 * (used_ + 1) > slots_.size()) Reserve(used_ + 1);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = Home(entry->hash);
  while (slots_[i].entry) i = (i + 1) & mask;
  slots_[i] = Slot{entry, entry->hash};
  ++used_;
}

void FileSubArchive::Erase(Entry* entry) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = Home(entry->hash);
  while (slots_[i].entry != entry) {
    if (!slots_[i].entry) return;
    i = (i + 1) & mask;
  }
  // Moves back each later slot of the run whose home does not lie between
  // the hole and itself, so every probe still finds its entry.
  for (std::size_t j = (i + 1) & mask; slots_[j].entry; j = (j + 1) & mask) {
    const std::size_t home = Home(slots_[j].hash);
    if (((j - home) & mask) >= ((j - i) & mask)) {
      slots_[i] = slots_[j];
      i = j;
    }
  }
  slots_[i] = Slot{};
  --used_;
}

const uint8_t* FileSubArchive::KeepHeader(const Archive::FileHeader& header) {
  auto* raw = static_cast<uint8_t*>(pool_.Take(Archive::kHeaderBytes));
  header.Encode(raw);
  return raw;
}

FileSubArchive::Entry* FileSubArchive::Add(uint32_t payloadOffset, uint32_t payloadSize, const uint8_t* header) {
  const std::string_view name = NameOf(header);
  return Add(payloadOffset, payloadSize, header, name, KeyHash(name), nullptr);
}

FileSubArchive::Entry* FileSubArchive::Add(uint32_t payloadOffset, uint32_t payloadSize, const uint8_t* header,
                                           std::string_view name, uint32_t hash, Entry* fresh) {
  if (Entry* known = Find(name, hash)) {
    // Of two live blocks of one name the later one was stored last.
    if (known->payloadOffset < payloadOffset) {
      known->payloadOffset = payloadOffset;
      known->payloadSize = payloadSize;
      known->header = header;
    }
    return known;
  }
  Entry* entry = fresh ? fresh : static_cast<Entry*>(pool_.Take(sizeof(Entry)));
  *entry = Entry{payloadOffset, payloadSize, hash, header};
  Insert(entry);
  list_.push_back(entry);
  AddDirectories(name);
  return entry;
}

void FileSubArchive::Remove(Entry* entry) {
  auto it = std::find(list_.begin(), list_.end(), entry);
  if (it == list_.end()) return;
  const std::size_t at = static_cast<std::size_t>(it - list_.begin());
  for (Cursor& c : cursors_)
    if (c.used && c.position > at) --c.position;
  Erase(entry);
  list_.erase(it);
}

bool FileSubArchive::WalkOne() {
  if (walk_ + Archive::kHeadBytes > end_) return false;
  uint8_t raw[Archive::kHeaderBytes];
  if (!ReadAt(walk_, raw, Archive::kHeadBytes)) return false;
  const Archive::BlockHead head = Archive::BlockHead::Decode(raw);
  const uint64_t next = walk_ + Archive::kHeadBytes + head.length;
  const bool file = head.Is(Archive::kFileTag);
  // A block that runs past the end, or a file block too short for its
  // header, is damage: nothing behind it can be trusted.
  if (next > end_ || next > kMaxOffset || (file && head.length < Archive::kHeaderBytes)) {
    walk_ = end_;
    return false;
  }
  if (file) {
    if (!ReadAt(walk_ + Archive::kHeadBytes, raw, Archive::kHeaderBytes)) return false;
    Add(static_cast<uint32_t>(walk_ + Archive::kFileLeadBytes),
        static_cast<uint32_t>(head.length - Archive::kHeaderBytes), KeepHeader(Archive::FileHeader::Decode(raw)));
  }
  walk_ = next;
  return true;
}

FileSubArchive::Entry* FileSubArchive::Lookup(const char* name) {
  if (!open_ || !name) return nullptr;
  Guard guard(*this);
  const uint32_t hash = KeyHash(name);
  for (;;) {
    if (Entry* e = Find(name, hash)) return e;
    if (!WalkOne()) return nullptr;
  }
}

bool FileSubArchive::GetHeader(const char* name, Archive::FileHeader& out) {
  Guard guard(*this);
  Entry* e = Lookup(name);
  if (e) out = Archive::FileHeader::Decode(e->header);
  return e != nullptr;
}

bool FileSubArchive::PayloadIsPacked(const Entry& entry) {
  const uint32_t headBytes = CompressedFile::HeadBytes(info_.version);
  uint8_t raw[CompressedFile::kHeadBytes];
  CompressedFile::Head head;
  return entry.payloadSize >= headBytes && ReadAt(entry.payloadOffset, raw, headBytes) &&
         CompressedFile::ParseHead(raw, headBytes, info_.version, head);
}

bool FileSubArchive::OpenRead(File& file, const char* name, platform::File::Access access,
                              platform::File::Disposition) {
  // Entries are never changed in place: writing would run into the next
  // block. A read-only archive lets the open through for the file layer to
  // refuse as read-only.
  if (access != platform::File::Access::Read && writable_) return false;
  Guard guard(*this);
  Entry* e = Lookup(name);
  if (!e) return false;
  const Archive::FileHeader header = Archive::FileHeader::Decode(e->header);
  file.AttachHandle(&Host());
  file.EditPath().Set(name);
  file.SetDataStart(e->payloadOffset);
  file.SetDataEnd(e->payloadOffset + e->payloadSize);
  // Stored bytes never reach past the payload; compressed content takes its
  // length from its own head.
  const bool raw = (file.Mode() & File::kReadMask) == File::kReadStored;
  uint32_t size = header.uncompressedSize;
  if (raw) size = e->payloadSize;
  else if (!header.Compressed() || !PayloadIsPacked(*e)) size = std::min(size, e->payloadSize);
  file.SetSize(size);
  Attach(file);
  return true;
}

bool FileSubArchive::OpenWrite(File& file, const char* name, platform::File::Access, platform::File::Disposition) {
  if (!open_ || !writable_ || !name || !*name) return false;
  Archive::FileHeader header;
  if (!header.SetName(name)) return false;
  std::string temp;
  if (File::CreateTemporary("", file.OwnHandle(), temp, platform::File::Access::ReadWrite) != platform::Error::None)
    return false;
  file.UseOwnHandle();
  file.EditPath().Set(name);
  Guard guard(*this);
  pending_[&file] = temp;
  Attach(file);
  return true;
}

bool FileSubArchive::CloseFile(File& file) {
  Guard guard(*this);
  Detach(file);
  auto it = pending_.find(&file);
  if (it == pending_.end()) return true;
  const std::string temp = it->second;
  pending_.erase(it);
  const unsigned long write = file.Mode() & File::kWriteMask;
  bool ok = true;
  if (write == File::kWrite || write == File::kWriteCompressed) ok = Store(file);
  file.OwnHandle().Close();
  platform::DeleteFile(temp.c_str());
  return ok;
}

uint32_t FileSubArchive::AppendOffset() const {
  return indexed_ && info_.indexOffset != 0 && IndexIsLast() ? info_.indexOffset : static_cast<uint32_t>(end_);
}

bool FileSubArchive::IndexIsLast() const { return uint64_t(info_.indexOffset) + indexBytes_ == end_; }

bool FileSubArchive::Store(File& file) {
  platform::File& in = file.OwnHandle();
  const int64_t length = in.Size();
  if (length < 0 || uint64_t(length) > kMaxOffset ||
      in.Seek(0, platform::File::Origin::Begin) != platform::Error::None)
    return false;
  // The handle drops its size to 0 when a write to the temporary file
  // failed: what is there is not what was written.
  if (file.Size() != uint64_t(length) || file.Tell() > uint64_t(length)) return false;
  const bool compressed = (file.Mode() & File::kWriteMask) == File::kWriteCompressed;
  Archive::FileHeader header;
  if (!header.SetName(file.GetPath())) return false;
  header.uncompressedSize = static_cast<uint32_t>(length);

  // Storing happens behind the lock only (a read of this archive's files
  // waits for it), so the old block is looked up before the new one exists.
  Guard guard(*this);
  Entry* old = Lookup(file.GetPath());
  // Blocks behind an index that is not the last block are taken in before
  // the new block goes to the end, so the next index lists them.
  if (indexed_ && info_.indexOffset != 0 && !IndexIsLast())
    while (WalkOne()) {
    }
  const uint64_t at = AppendOffset();
  const bool overIndex = indexed_ && info_.indexOffset != 0 && at == info_.indexOffset;

  // Until complete the block reads as deleted with length 0.
  uint8_t block[Archive::kFileLeadBytes];
  Archive::BlockHead head;
  std::memcpy(head.tag, Archive::kDeletedTag, 4);
  head.Encode(block);
  header.Encode(block + Archive::kHeadBytes);
  uint64_t pos = at + Archive::kFileLeadBytes;
  uint64_t stored = 0;
  bool ok = WriteAt(at, block, sizeof block);
  if (overIndex) {
    indexBytes_ = 0;
    dirty_ = true;
  }

  std::vector<uint8_t> out;
  if (compressed) {
    // A version-257 archive's readers expect the bare magic.
    CompressedFile::AppendHead(out, header.uncompressedSize, CompressedFile::HeadBytes(info_.version));
    stored += out.size();
    header.flags |= Archive::kFlagCompressed;
  }
  std::vector<uint8_t> input(kStoreRead);
  std::vector<uint8_t> coded(compressed ? Archive::kChunkBytes : 0);
  uint32_t crc = Archive::Crc::kInitial;
  const Progress progress = gProgress;
  for (uint64_t done = 0; ok && done < uint64_t(length);) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(kStoreRead, uint64_t(length) - done));
    std::size_t got = 0;
    if (in.Read(input.data(), want, got) != platform::Error::None || got != want) {
      ok = false;
      break;
    }
    for (std::size_t off = 0; off < want; off += Archive::kChunkBytes) {
      const unsigned n = static_cast<unsigned>(std::min<std::size_t>(Archive::kChunkBytes, want - off));
      const uint8_t* chunk = input.data() + off;
      crc = Archive::Crc::Update(crc, chunk, n);
      if (compressed) {
        stored += CompressedFile::kBlockWordBytes + CompressedFile::AppendBlock(out, chunk, n, coded.data());
      } else {
        stored += n;
      }
      if (progress) progress(static_cast<unsigned long>(done + off + n), compressed ? static_cast<unsigned long>(stored) : 0);
    }
    done += want;
    if (compressed) {
      ok = WriteAt(pos, out.data(), out.size());
      pos += out.size();
      out.clear();
    } else {
      ok = WriteAt(pos, input.data(), want);
      pos += want;
    }
  }
  if (ok && !out.empty()) {
    ok = WriteAt(pos, out.data(), out.size());
    pos += out.size();
  }
  ok = ok && stored + Archive::kHeaderBytes <= kMaxOffset && pos <= kMaxOffset;
  if (ok) {
    header.storedSize = static_cast<uint32_t>(stored);
    header.checksum = Archive::Crc::Final(crc);
    std::memcpy(head.tag, Archive::kFileTag, 4);
    head.length = static_cast<uint32_t>(Archive::kHeaderBytes + stored);
    head.Encode(block);
    header.Encode(block + Archive::kHeadBytes);
    ok = WriteAt(at, block, sizeof block);
  }
  if (!ok) {
    // What was written goes: the block was the last one in the file.
    TruncateAt(at);
    if (walk_ > at) walk_ = at;
    return false;
  }
  // What is left of an index written over is stale: it was the last block.
  if (overIndex && end_ > pos) TruncateAt(pos);
  if (walk_ > at) walk_ = pos;
  if (old) {
    // A later block of a name wins anyway: a block that cannot be marked
    // is left as it is.
    MarkDeleted(*old);
    Remove(old);
  }
  Add(static_cast<uint32_t>(at + Archive::kFileLeadBytes), header.storedSize, KeepHeader(header));
  if (indexed_) {
    dirty_ = true;
    info_.indexOffset = static_cast<uint32_t>(pos);
    indexBytes_ = 0;
  }
  return true;
}

bool FileSubArchive::MarkDeleted(const Entry& entry) {
  if (entry.payloadOffset < Archive::kFileLeadBytes) return false;
  const uint64_t at = entry.payloadOffset - Archive::kFileLeadBytes;
  uint8_t raw[Archive::kHeadBytes];
  if (!ReadAt(at, raw, sizeof raw)) return false;
  const Archive::BlockHead head = Archive::BlockHead::Decode(raw);
  return head.Is(Archive::kFileTag) && head.length == Archive::kHeaderBytes + uint64_t(entry.payloadSize) &&
         WriteAt(at, Archive::kDeletedTag, 4);
}

bool FileSubArchive::Exists(PString&, const char* name) {
  if (!name) return false;
  if (Lookup(name)) return true;
  std::string_view path = DropLeadingSep(name);
  while (!path.empty() && IsSep(path.back())) path.remove_suffix(1);
  std::string_view last = path;
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsSep(path[i - 1])) {
      last = path.substr(i);
      break;
    }
  if (path.empty() || last.find_first_of(".*?") != std::string_view::npos) return false;
  KeyText text;
  const std::string_view directory = DirectoryOf(path, text);
  Guard guard(*this);
  return directories_.find(directory) != directories_.end();
}

bool FileSubArchive::Unlink(const char* name) {
  if (!open_ || !writable_) return false;
  Guard guard(*this);
  Entry* e = Lookup(name);
  if (!e || !MarkDeleted(*e)) return false;
  Remove(e);
  if (indexed_) dirty_ = true;
  return true;
}

bool FileSubArchive::GetFileTime(uint32_t& time, const char* name) {
  Guard guard(*this);
  Entry* e = Lookup(name);
  if (e) time = Archive::FileHeader::Decode(e->header).fileTime;
  return e != nullptr;
}

long FileSubArchive::FindStart() {
  if (!open_) return -1;
  Guard guard(*this);
  std::size_t i = 0;
  while (i < cursors_.size() && cursors_[i].used) ++i;
  if (i == cursors_.size()) cursors_.emplace_back();
  cursors_[i].used = true;
  cursors_[i].position = 0;
  return static_cast<long>(i);
}

bool FileSubArchive::FindNext(long handle, const char* pattern, File::Entry& entry) {
  Guard guard(*this);
  if (handle < 0 || static_cast<std::size_t>(handle) >= cursors_.size() || !cursors_[handle].used || !pattern)
    return false;
  Cursor& cursor = cursors_[handle];
  for (;;) {
    if (cursor.position >= list_.size()) {
      // Known entries are done; take in the blocks the index did not list.
      const std::size_t known = list_.size();
      while (list_.size() == known && WalkOne()) {
      }
      if (list_.size() == known) return false;
      continue;
    }
    const Entry& e = *list_[cursor.position++];
    const std::string name(DropLeadingSep(NameOf(e.header)).substr(0, sizeof entry.name - 1));
    const char* directoryEnd = nullptr;
    if (MatchWildcard(name.c_str(), pattern, &directoryEnd)) {
      Fill(entry, Archive::FileHeader::Decode(e.header), name);
      return true;
    }
    if (directoryEnd) {
      Fill(entry, Archive::FileHeader::Decode(e.header),
           std::string_view(name.c_str(), static_cast<std::size_t>(directoryEnd - name.c_str())));
      entry.attributes = kDirectoryFlags;
      return true;
    }
  }
}

void FileSubArchive::FindEnd(long handle) {
  Guard guard(*this);
  if (handle >= 0 && static_cast<std::size_t>(handle) < cursors_.size()) cursors_[handle].used = false;
}

bool FileSubArchive::WriteIndex() {
  Guard guard(*this);
  if (!open_ || !writable_) return false;
  const bool last = info_.indexOffset != 0 && IndexIsLast();
  // Moving the index to the end: blocks behind the old one are listed too.
  if (!last)
    while (WalkOne()) {
    }
  const uint64_t at = last ? info_.indexOffset : end_;
  const uint64_t bytes = uint64_t(list_.size()) * Archive::kRecordBytes;
  if (at + Archive::kHeadBytes + bytes > kMaxOffset) return false;

  std::vector<uint8_t> buffer(Archive::kHeadBytes + bytes);
  Archive::BlockHead head;
  std::memcpy(head.tag, Archive::kIndexTag, 4);
  head.Encode(buffer.data());
  uint8_t* p = buffer.data() + Archive::kHeadBytes;
  for (const Entry* e : list_) {
    PutLE32(p, e->payloadOffset);
    PutLE32(p + 4, e->payloadSize);
    std::memcpy(p + 8, e->header, Archive::kHeaderBytes);
    p += Archive::kRecordBytes;
  }
  const uint64_t oldEnd = end_;
  if (!WriteAt(at, buffer.data(), buffer.size())) return false;
  uint8_t length[4];
  PutLE32(length, static_cast<uint32_t>(bytes));
  if (!WriteAt(at + 4, length, sizeof length)) return false;
  const uint64_t indexEnd = at + buffer.size();
  // A shorter index over a longer one leaves no stale records behind it.
  if (indexEnd < oldEnd) TruncateAt(indexEnd);
  if (walk_ > at) walk_ = indexEnd;
  info_.indexOffset = static_cast<uint32_t>(at);
  info_.entryCount = static_cast<uint32_t>(list_.size());
  indexBytes_ = static_cast<uint32_t>(buffer.size());

  if (!WriteInfo()) return false;
  dirty_ = false;
  return true;
}

bool FileSubArchive::WriteInfo() {
  uint8_t lead[Archive::kNewArchiveBytes];
  std::memcpy(lead, Archive::kSignature, Archive::kSignatureBytes);
  Archive::BlockHead head;
  std::memcpy(head.tag, Archive::kInfoTag, 4);
  head.length = infoBytes_;
  head.Encode(lead + Archive::kSignatureBytes);
  info_.Encode(lead + Archive::kSignatureBytes + Archive::kHeadBytes);
  // An info block shorter than the 32 bytes of info gets what fits: the
  // block behind it is not ours.
  const std::size_t n = Archive::kSignatureBytes + Archive::kHeadBytes + std::min<std::size_t>(infoBytes_, Archive::kInfoBytes);
  return WriteAt(0, lead, n);
}

} // namespace Vak
