#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/ByteOrder.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/CompressedFileFormat.h"
#include "Vak/Bexlorn/Exception.h"
#include "platform/os/FileSystem.h"
#include "platform/os/NativePath.h"
#include "platform/os/Thread.h"

namespace Vak {

namespace {

constexpr const char* kSource = "Vak/Bexlorn/File";

const ResultTable kFileResults[] = {
    {"RES_UNKNOWN", "Unknown file error"},
    {"RES_FILENOTFOUND", "File not found"},
    {"RES_ALREADYOPEN", "File is already open"},
    {"RES_MODENOTSUPPORTED", "Open mode not supported"},
    {"RES_CANTWRITECOMPRESSED", "Can't write to a compressed file"},
    {"RES_NOTCOMPRESSED", "Can't open non-compressed as read compressed file"},
    {"RES_SUBSTNOTFOUND", "Subst not found"},
    {"RES_FILEALREADYEXISTS", "File already exists"},
    {"RES_READONLY", "File is read-only"},
};

constexpr uint8_t kOwnsBuffer = 1;
constexpr uint8_t kSharedHandle = 2;

// Changed and read from any thread: files open and close everywhere, and
// the substitution list installs itself whenever a substitute is made.
std::atomic<FileSubstRouter*> gRouter{nullptr};
std::atomic<unsigned> gOpenFiles{0};
std::atomic<uint32_t> gTempCounter{0};

[[noreturn]] void Throw(const char* reason) { throw FileEx(kSource, 0, reason); }

// The substitute named by "name:rest" (two characters at least), else -1.
int SubstLength(const char* name) {
  int n = FilePath::SubstNameLength(name);
  return n >= 2 ? n : -1;
}

// The name inside a substitute: after the colon, one leading separator dropped.
const char* Inner(const char* name, int substLength) {
  const char* p = name + substLength + 1;
  return (*p == '\\' || *p == '/') ? p + 1 : p;
}

bool IsSep(char c) { return c == '\\' || c == '/'; }

// A static operation through the router; false without one.
template <class Operation> bool Routed(Operation operation) {
  FileSubstRouter* const router = gRouter.load();
  return router && operation(*router);
}

} // namespace

const ResultTableSpan File::results = {kFileResults, sizeof kFileResults / sizeof kFileResults[0]};

FileSubstRouter::~FileSubstRouter() = default;

void File::SetSubstRouter(FileSubstRouter* router) { gRouter.store(router); }
unsigned File::OpenFiles() { return gOpenFiles.load(); }

File::File() : buffer_(new uint8_t[kBufferSize]), flags_(kOwnsBuffer) {}

File::~File() {
  try {
    Close();
  } catch (...) {
  }
  if (flags_ & kOwnsBuffer) delete[] buffer_;
}

void File::AttachHandle(platform::File* shared) {
  handle_ = shared;
  flags_ |= kSharedHandle;
}

void File::UseOwnHandle() {
  handle_ = &ownHandle_;
  flags_ &= ~kSharedHandle;
}

void File::ReleaseHandle() {
  if (!(flags_ & kSharedHandle)) ownHandle_.Close();
  handle_ = nullptr;
}

File::Result File::Open(const char* name, unsigned long mode, int encoding) {
  int n = name ? SubstLength(name) : -1;
  if (n < 0) return Open(PString(), name, mode, encoding);
  std::string substitute(name, n);
  return Open(PString(substitute.c_str()), name + n + 1, mode, encoding);
}

File::Result File::Open(const PString& substitute, const char* name, unsigned long mode,
                        int encoding) {
  encoding_ = encoding == kEncodingOwn ? kEncoding8Bit : encoding;
  if (IsOpen()) return RES_ALREADYOPEN;

  handle_ = nullptr;
  cursor_ = valid_ = bufferPos_ = 0;
  position_ = dataStart_ = dataEnd_ = rawPosition_ = dirty_ = 0;
  size_ = kUnknownSize;
  layer_ = nullptr;
  router_ = nullptr;
  writeFailed_ = false;
  readFailed_ = false;
  flags_ &= ~kSharedHandle;
  mode_ = mode;

  if ((mode & kRejectedMask) == kRejected) return RES_MODENOTSUPPORTED;
  const unsigned long create = mode & kCreateMask;
  const bool writing = (mode & kWriteMask) != 0;
  if (create == kCreate || create == kCreateNew) size_ = 0;

  platform::File::Access access = writing ? platform::File::Access::ReadWrite : platform::File::Access::Read;
  platform::File::Disposition disposition = platform::File::Disposition::OpenExisting;
  if (create == kCreate) disposition = platform::File::Disposition::CreateAlways;
  else if (create == kOpenAlways) disposition = platform::File::Disposition::OpenAlways;
  else if (create == kCreateNew) disposition = platform::File::Disposition::CreateNew;
  const Result openFailed = create == kCreateNew ? RES_FILEALREADYEXISTS : RES_FILENOTFOUND;

  if (!name) return RES_FILENOTFOUND;
  try {
    return Opening(substitute, name, access, disposition, openFailed);
  } catch (...) {
    // A layer that failed by throwing: what it opened goes, and the caller
    // gets a result as for any other failure.
    try {
      Abandon(RES_UNKNOWN);
    } catch (...) {
      ReleaseHandle();
      router_ = nullptr;
      layer_ = nullptr;
    }
    return RES_UNKNOWN;
  }
}

File::Result File::Opening(const PString& substitute, const char* name, platform::File::Access access,
                           platform::File::Disposition disposition, Result openFailed) {
  const unsigned long mode = mode_;
  const unsigned long create = mode & kCreateMask;
  const bool writing = (mode & kWriteMask) != 0;
  // Without a router nothing is listed, and the name is a plain path.
  if (substitute.Length() > 0) router_ = gRouter.load();
  if (router_) {
    const bool readRoute = (mode & kReadMask) != 0;
    const FileSubstRouter::Outcome outcome =
        router_->Open(substitute, readRoute ? FileSubstRouter::Route::Read : FileSubstRouter::Route::Write, *this,
                      name, access, disposition);
    if (outcome == FileSubstRouter::Outcome::Opened) {
      // A read-write open takes the read route; never write through a layer
      // that is not writable (an archive's host file).
      if (!handle_) return Abandon(readRoute ? Result(RES_FILENOTFOUND) : openFailed);
      if (readRoute && writing && !router_->Writable(*this)) return Abandon(RES_READONLY);
    } else {
      router_ = nullptr;
      handle_ = nullptr;
      if (outcome == FileSubstRouter::Outcome::NotOpened) return readRoute ? Result(RES_FILENOTFOUND) : openFailed;
    }
  }
  if (!router_) {
    if (!path_.Set(name) || path_.Length() != std::strlen(name)) return openFailed;
    if (ownHandle_.Open(name, access, disposition) != platform::Error::None) return openFailed;
    UseOwnHandle();
  }
  rawPosition_ = dataStart_;

  const unsigned long read = mode & kReadMask;
  if (create == kCreate || create == kCreateNew) {
    if (read == kRead) mode_ = (mode_ & ~kReadMask) | kReadStored;
  } else if (read == kRead || read == kReadCompressed) {
    const Result probed = Probe();
    if (!probed.Ok()) return Abandon(probed);
  }
  if (create == kOpenAlways) {
    int64_t length = handle_->Size();
    if (length < 0) return Abandon(RES_UNKNOWN);
    if (size_ == kUnknownSize) size_ = length - dataStart_ > 0 ? static_cast<uint32_t>(length - dataStart_) : 0;
    // Written compressed, the content is packed from the start at close:
    // there is no end to add to, so an existing file is refused untouched.
    if ((mode & kWriteMask) == kWriteCompressed && size_ != 0) return Abandon(RES_MODENOTSUPPORTED);
    if (size_ != 0) Seek(0, kSeekEnd);
  }
  ++gOpenFiles;
  return RES_OK;
}

// Undoes a half-done open: the handle goes without anything written, packed
// or stored, and the object is closed.
File::Result File::Abandon(Result result) {
  mode_ &= ~kWriteMask;
  dirty_ = 0;
  if (router_) router_->Close(*this);
  ReleaseHandle();
  router_ = nullptr;
  layer_ = nullptr;
  valid_ = cursor_ = 0;
  return result;
}

File::Result File::Probe() {
  const uint32_t layerVersion = router_ ? router_->Version(*this) : CompressedFile::kFolderVersion;
  const uint32_t headerLength = router_ ? CompressedFile::HeadBytes(layerVersion) : CompressedFile::kHeadBytes;
  uint32_t got = 0;
  if (!RawRead(buffer_, headerLength, got)) return RES_UNKNOWN;
  const unsigned long read = mode_ & kReadMask;
  CompressedFile::Head head;
  if (got < headerLength || !CompressedFile::ParseHead(buffer_, headerLength, layerVersion, head)) {
    if (got >= headerLength && read == kReadCompressed) return RES_NOTCOMPRESSED;
    // Plain content: what was read stays as the buffer's first bytes, no
    // more than the size a layer gave (the bytes behind are another file's).
    valid_ = size_ != kUnknownSize && got > size_ ? size_ : got;
    cursor_ = 0;
    bufferPos_ = 0;
    mode_ = (mode_ & ~kReadMask) | kReadStored;
    return RES_OK;
  }
  dataStart_ += headerLength;
  rawPosition_ = dataStart_;
  valid_ = cursor_ = 0;
  mode_ = (mode_ & ~kReadMask) | kReadCompressed;
  if (head.lengthKnown) size_ = head.length;
  if (mode_ & kWriteMask) return RES_CANTWRITECOMPRESSED;
  return RES_OK;
}

int File::Close() {
  if (!IsOpen()) return 0;
  int result = 0;
  // A write that failed earlier (in a seek's flush, say) fails the close too.
  const bool flushed = Flush() && !writeFailed_;
  if (router_) {
    if (!router_->Close(*this) || !flushed) result = RES_UNKNOWN;
    router_ = nullptr;
    handle_ = nullptr;
  } else if ((mode_ & kWriteMask) == kWriteCompressed) {
    const int64_t length = handle_->Tell();
    ReleaseHandle();
    if (!flushed || length < 0 || !Pack(path_, static_cast<uint32_t>(length))) result = RES_UNKNOWN;
  } else {
    ReleaseHandle();
    if (!flushed) result = RES_UNKNOWN;
  }
  layer_ = nullptr;
  valid_ = cursor_ = dirty_ = 0;
  --gOpenFiles;
  return result;
}

// Raw bytes at the raw position (plain content: dataStart + buffer start).
bool File::RawRead(void* out, uint32_t length, uint32_t& got) {
  got = 0;
  if (dataEnd_ != 0) length = rawPosition_ < dataEnd_ ? std::min(length, dataEnd_ - rawPosition_) : 0;
  if (router_) router_->Lock(*this);
  std::size_t n = 0;
  // One positioned read: other files of an archive share the handle.
  const bool ok = handle_->ReadAt(rawPosition_, out, length, n) == platform::Error::None;
  if (router_) router_->Unlock(*this);
  got = static_cast<uint32_t>(n);
  rawPosition_ += got;
  return ok;
}

// One block of content at position_ into `out` (room for kBufferSize bytes).
uint32_t File::ReadBlock(uint8_t* out, uint32_t room) {
  if (size_ == kUnknownSize) Size();
  if (position_ >= size_) return 0;
  uint32_t got = 0;
  if (!Compressed()) {
    rawPosition_ = dataStart_ + position_;
    uint32_t want = size_ - position_ < room ? size_ - position_ : room;
    if (!RawRead(out, want, got)) return Damaged();
    return got;
  }
  uint8_t word[CompressedFile::kBlockWordBytes];
  blockRaw_ = rawPosition_;
  CompressedFile::Block block;
  if (!RawRead(word, sizeof word, got) || got != sizeof word) return Damaged();
  // A payload longer than a block is damage, never a read past the buffer.
  if (!CompressedFile::ParseBlockWord(word, block)) return Damaged();
  uint8_t* into = out;
  if (!block.stored) {
    if (!scratch_) scratch_.reset(new uint8_t[kBufferSize]);
    into = scratch_.get();
  }
  if (!RawRead(into, block.payload, got) || got != block.payload) return Damaged();
  const uint32_t length = CompressedFile::ExpandBlock(block, into, out);
  return length ? length : Damaged();
}

// The content ends where it could not be read, and the reader is told.
uint32_t File::Damaged() {
  size_ = 0;
  readFailed_ = true;
  return 0;
}

void File::DropBuffer() {
  valid_ = cursor_ = 0;
  bufferPos_ = position_;
}

bool File::Flush() {
  if (!dirty_) return true;
  bool ok = handle_->Seek(dataStart_ + bufferPos_, platform::File::Origin::Begin) == platform::Error::None &&
            handle_->Write(buffer_, dirty_) == platform::Error::None;
  dirty_ = 0;
  DropBuffer();
  if (!ok) {
    size_ = 0;
    writeFailed_ = true;
  }
  return ok;
}

unsigned long File::Read(void* out, unsigned long size, unsigned long count) {
  if (!IsOpen()) Throw("Read() File is not open");
  if (!(mode_ & kReadMask)) Throw("Read() File not open for reading");
  const unsigned long total = size * count;
  if (total == 0 || count == 0) return 0;
  if (dirty_) Flush();
  uint8_t* dst = static_cast<uint8_t*>(out);
  unsigned long done = 0;
  while (done < total) {
    if (cursor_ < valid_) {
      uint32_t n = valid_ - cursor_;
      if (n > total - done) n = static_cast<uint32_t>(total - done);
      std::memcpy(dst + done, buffer_ + cursor_, n);
      cursor_ += n;
      position_ += n;
      done += n;
      continue;
    }
    DropBuffer();
    if (total - done < kBufferSize) {
      valid_ = ReadBlock(buffer_);
      if (!valid_) break;
    } else {
      // Plain content goes to the caller in one read, however large.
      const unsigned long left = total - done;
      uint32_t n = ReadBlock(dst + done, left > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(left));
      if (!n) break;
      position_ += n;
      done += n;
      bufferPos_ = position_;
    }
  }
  return done / count;
}

unsigned long File::Write(const void* data, unsigned long size, unsigned long count) {
  if (!IsOpen()) Throw("Write() File not open");
  if (!(mode_ & kWriteMask)) Throw("Write() File not open for writing");
  const unsigned long total = size * count;
  if (total == 0 || count == 0) return 0;
  // Bytes read ahead are not written back.
  if (!dirty_ && valid_) DropBuffer();
  if (!dirty_) bufferPos_ = position_;
  const uint8_t* src = static_cast<const uint8_t*>(data);
  unsigned long done = 0;
  if (total < kBufferSize) {
    while (done < total) {
      uint32_t n = kBufferSize - dirty_;
      if (n > total - done) n = static_cast<uint32_t>(total - done);
      std::memcpy(buffer_ + dirty_, src + done, n);
      dirty_ += n;
      valid_ = cursor_ = dirty_;
      done += n;
      position_ += n;
      if (dirty_ == kBufferSize && !Flush()) return 0;
    }
  } else {
    if (!Flush()) return 0;
    if (handle_->Seek(dataStart_ + position_, platform::File::Origin::Begin) != platform::Error::None ||
        handle_->Write(src, total) != platform::Error::None) {
      size_ = 0;
      writeFailed_ = true;
      return 0;
    }
    done = total;
    position_ += static_cast<uint32_t>(total);
    bufferPos_ = position_;
  }
  if (size_ == kUnknownSize) Size();
  if (position_ > size_) size_ = position_;
  return done / count;
}

bool File::Write(uint32_t value) {
  uint8_t b[4];
  PutLE32(b, value);
  return Write(b, 4, 1) == 4;
}

bool File::Write(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return Write(bits);
}

uint32_t File::Size() {
  if (size_ != kUnknownSize) return size_;
  int64_t length = IsOpen() ? handle_->Size() : -1;
  if (length < 0) Throw("Size() failed to get file length");
  length -= dataStart_;
  size_ = length < 0 ? 0 : static_cast<uint32_t>(length);
  return size_;
}

bool File::Eof() { return !IsOpen() || position_ >= Size(); }

uint32_t File::Seek(long offset, int origin) {
  if (!IsOpen()) return position_;
  if ((mode_ & kWriteMask) == kWriteCompressed) Throw("Seek() Can't seek writing compressed file");
  int64_t target;
  if (origin == kSeekBegin) target = offset;
  else if (origin == kSeekCurrent) target = int64_t(position_) + offset;
  else if (origin == kSeekEnd) target = int64_t(Size()) - offset;
  else return position_;
  if (target < 0) target = 0;
  if (target > 0xFFFFFFFE) target = 0xFFFFFFFE;
  Flush();
  const uint32_t to = static_cast<uint32_t>(target);
  if (!Compressed()) {
    position_ = to;
    DropBuffer();
    return position_;
  }
  if (to >= Size()) {
    position_ = to;
    DropBuffer();
    return position_;
  }
  if (valid_ && to >= bufferPos_ && to < bufferPos_ + valid_) {
    cursor_ = to - bufferPos_;
    position_ = to;
    return position_;
  }
  // Walk the block headers, from the buffered block when the target is after it.
  uint32_t blockPos = 0;
  uint32_t raw = dataStart_;
  if (valid_ && to >= bufferPos_) {
    blockPos = bufferPos_;
    raw = blockRaw_;
  }
  for (;;) {
    uint8_t word[CompressedFile::kBlockWordBytes];
    uint32_t got = 0;
    rawPosition_ = raw;
    CompressedFile::Block block;
    if (!RawRead(word, sizeof word, got) || got != sizeof word || !CompressedFile::ParseBlockWord(word, block)) {
      Damaged();
      break;
    }
    if (to < blockPos + block.span) {
      rawPosition_ = raw;
      position_ = blockPos;
      DropBuffer();
      valid_ = ReadBlock(buffer_);
      cursor_ = to - blockPos < valid_ ? to - blockPos : valid_;
      position_ = blockPos + cursor_;
      return position_;
    }
    blockPos += block.span;
    raw += sizeof word + block.payload;
  }
  position_ = to;
  DropBuffer();
  return position_;
}

unsigned long File::ReadLine(void* out, unsigned long bufferSize, int encoding) {
  if (bufferSize < 2) return 0;
  if (encoding == kEncodingOwn) encoding = encoding_;
  char* dst = static_cast<char*>(out);
  if (encoding != kEncodingUtf16) {
    unsigned long n = 0;
    uint8_t c;
    bool ended = false;
    while (n < bufferSize - 2 && Read(&c, 1, 1) == 1) {
      dst[n++] = static_cast<char>(c);
      if (c == '\n') {
        ended = true;
        break;
      }
    }
    if (!ended && n == bufferSize - 2)
      while (Read(&c, 1, 1) == 1 && c != '\n') {
      }
    dst[n] = 0;
    return n;
  }
  const unsigned long room = bufferSize - 2;
  std::u16string line;
  uint8_t unit[2];
  bool ended = false;
  while (line.size() < room && Read(unit, 2, 1) == 2) {
    const char16_t u = GetLE16(unit);
    line.push_back(u);
    if (u == u'\n') {
      ended = true;
      break;
    }
  }
  if (!ended && line.size() == room)
    while (Read(unit, 2, 1) == 2 && GetLE16(unit) != u'\n') {
    }
  std::string text;
  CodePage::Utf16ToAnsi(line.data(), line.size(), text, '?');
  unsigned long n = text.size() < room ? text.size() : room;
  std::memcpy(dst, text.data(), n);
  dst[n] = 0;
  return n;
}

void File::ProbeEncoding() {
  uint8_t bom[2];
  if (Read(bom, 2, 1) == 2 && bom[0] == 0xFF && bom[1] == 0xFE) {
    encoding_ = kEncodingUtf16;
    return;
  }
  Seek(0, kSeekBegin);
  encoding_ = kEncoding8Bit;
}

void File::WriteText(const char* text) {
  if (!text || !*text) return;
  const std::size_t length = std::strlen(text);
  if (encoding_ != kEncodingUtf16) {
    Write(text, length, 1);
    return;
  }
  std::u16string wide = CodePage::AnsiToUtf16(text, length);
  std::vector<uint8_t> bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t u : wide) AppendLE16(bytes, u);
  Write(bytes.data(), bytes.size(), 1);
}

void File::Commit() {
  if (!IsOpen() || !dirty_) return;
  const uint32_t at = position_;
  Flush();
  handle_->Sync();
  Seek(at, kSeekBegin);
}

platform::Error File::CreateTemporary(const std::string& folder, platform::File& out, std::string& path,
                                      platform::File::Access access) {
  platform::Error opened = platform::Error::AlreadyExists;
  // A name left behind by an earlier process is skipped, not overwritten.
  for (int tries = 0; tries < 16 && opened == platform::Error::AlreadyExists; ++tries) {
    char name[32];
    std::snprintf(name, sizeof name, "%08X.T%08X", platform::CurrentProcessId(), gTempCounter++);
    path = folder + name;
    opened = out.Open(path.c_str(), access, platform::File::Disposition::CreateNew);
  }
  return opened;
}

// Packs the plain file just written into the compressed form: a temporary
// file beside it, renamed over it only once complete. On failure the plain
// file stays.
bool File::Pack(const char* path, uint32_t length) {
  if (!path) return false;
  platform::File in;
  if (in.Open(path, platform::File::Access::Read, platform::File::Disposition::OpenExisting) !=
      platform::Error::None)
    return false;
  std::string folder(path);
  std::size_t cut = folder.find_last_of("\\/:");
  folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
  std::string temp;
  platform::File out;
  if (CreateTemporary(folder, out, temp, platform::File::Access::Write) != platform::Error::None) return false;

  std::vector<uint8_t> bytes;
  CompressedFile::AppendHead(bytes, length);
  bool ok = out.Write(bytes.data(), bytes.size()) == platform::Error::None;
  std::unique_ptr<uint8_t[]> plain(new uint8_t[kBufferSize]);
  std::unique_ptr<uint8_t[]> scratch(new uint8_t[kBufferSize]);
  for (uint32_t done = 0; ok && done < length;) {
    const uint32_t want = length - done < kBufferSize ? length - done : kBufferSize;
    std::size_t got = 0;
    ok = in.Read(plain.get(), want, got) == platform::Error::None && got == want;
    if (!ok) break;
    bytes.clear();
    CompressedFile::AppendBlock(bytes, plain.get(), want, scratch.get());
    ok = out.Write(bytes.data(), bytes.size()) == platform::Error::None;
    done += want;
  }
  in.Close();
  if (out.Close() != platform::Error::None) ok = false;
  if (ok) ok = platform::Rename(temp.c_str(), path) == platform::Error::None;
  if (!ok) platform::DeleteFile(temp.c_str());
  return ok;
}

uint32_t File::ReadInfoBlock(void* out) {
  uint8_t header[8];
  for (;;) {
    if (Read(header, 8, 1) != 8) return 0;
    if (std::memcmp(header, "INFO", 4) == 0) break;
  }
  const uint32_t length = GetLE32(header + 4);
  const uint32_t take = length < 32 ? length : 32;
  const uint32_t got = static_cast<uint32_t>(Read(out, take, 1));
  if (length > take) Seek(static_cast<long>(length - take), kSeekCurrent);
  return got;
}

bool File::WriteInfoBlock(const void* data) {
  uint8_t header[8] = {'I', 'N', 'F', 'O'};
  PutLE32(header + 4, 32);
  return Write(header, 8, 1) == 8 && Write(data, 32, 1) == 32;
}

// Static operations.

File::Result File::Exists(const char* name) {
  PString none;
  return Exists(none, name);
}

File::Result File::Exists(PString& substitute, const char* name) {
  if (!name) return RES_FILENOTFOUND;
  FileSubstRouter* const router = gRouter.load();
  if (router && substitute.Length() > 0 && router->Listed(substitute))
    return router->Exists(substitute, name) ? RES_OK : RES_FILENOTFOUND;
  int n = SubstLength(name);
  if (n >= 0) {
    PString sub(std::string(name, n).c_str());
    if (!router || !router->Listed(sub)) return RES_FILENOTFOUND;
    return router->Exists(sub, Inner(name, n)) ? RES_OK : RES_FILENOTFOUND;
  }
  return platform::Exists(name) ? RES_OK : RES_FILENOTFOUND;
}

bool File::Unlink(const char* name) {
  if (!name) return false;
  int n = SubstLength(name);
  if (n >= 0) return Routed([&](FileSubstRouter& r) { return r.Unlink(PString(std::string(name, n).c_str()), Inner(name, n)); });
  return platform::DeleteFile(name) == platform::Error::None;
}

bool File::Rename(const char* oldName, const char* newName) {
  if (!oldName || !newName) return false;
  int n = SubstLength(oldName);
  if (n >= 0) {
    // The new name stays inside the old name's substitute.
    const char* colon = std::strchr(newName, ':');
    const char* inner = colon ? colon + 1 : newName;
    if (IsSep(*inner)) ++inner;
    return Routed([&](FileSubstRouter& r) { return r.Rename(PString(std::string(oldName, n).c_str()), Inner(oldName, n), inner); });
  }
  return platform::Rename(oldName, newName) == platform::Error::None;
}

bool File::Rename(const char* folder, const char* oldName, const char* newName) {
  if (!folder || !oldName || !newName) return false;
  Path from(folder), to(folder);
  if (!from.AddSlash() || !from.Add(oldName) || !to.AddSlash() || !to.Add(newName)) return false;
  return Rename(from, to);
}

bool File::ChDir(const char* path) { return platform::ChangeFolder(path) == platform::Error::None; }

bool File::GetCwd(Path& out) {
  std::string cwd;
  return platform::CurrentFolder(cwd) == platform::Error::None && out.Set(cwd.c_str()) && out.Length() == cwd.size();
}

bool File::Md(const char* path) {
  if (!path) return false;
  int n = SubstLength(path);
  if (n >= 0) return Routed([&](FileSubstRouter& r) { return r.Md(PString(std::string(path, n).c_str()), Inner(path, n)); });
  std::string prefix;
  const char* p = path;
  if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') {
    prefix = {p[0], p[1]};
    p += 2;
  }
  if (IsSep(*p)) prefix += *p++;
  while (*p) {
    const char* end = p;
    while (*end && !IsSep(*end)) ++end;
    if (end != p) {
      prefix.append(p, end);
      if (!platform::Exists(prefix.c_str())) {
        if (platform::MakeFolder(prefix.c_str()) != platform::Error::None) return false;
      } else {
        platform::FileInfo info;
        if (platform::Stat(prefix.c_str(), info) != platform::Error::None || !info.isFolder) return false;
      }
    }
    p = end;
    if (IsSep(*p)) prefix += *p++;
  }
  return true;
}

// Links in the tree go themselves; what they point to stays.
bool File::Prune(const char* path) { return path && platform::DeleteTree(path) == platform::Error::None; }

bool File::GetFileTime(const char* name, uint32_t& time) {
  if (!name) return false;
  int n = SubstLength(name);
  if (n >= 0) return Routed([&](FileSubstRouter& r) { return r.GetFileTime(PString(std::string(name, n).c_str()), time, Inner(name, n)); });
  platform::FileInfo info;
  if (platform::Stat(name, info) != platform::Error::None) return false;
  int64_t seconds = info.modified / 1000000000;
  if (info.modified < 0 && info.modified % 1000000000) --seconds;
  time = static_cast<uint32_t>(seconds);
  return true;
}

} // namespace Vak
