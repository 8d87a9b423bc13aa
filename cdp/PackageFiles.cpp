#include "cdp/PackageFiles.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Bexlorn/ByteOrder.h"
#include "cdp/PackageKeys.h"
#include "content/FileHelpers.h"
#include "content/LZSSCompress.h"
#include "content/ResultsLog.h"
#include "content/TDBTags.h"
#include "platform/os/Atomic.h"
#include "platform/os/CrashFile.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Thread.h"
#include "platform/os/Waitable.h"

using namespace CDPKeys;

namespace {

constexpr const char* kFileReadError = "$vad_package_file_read_err";
constexpr const char* kFileTooLarge = "$vad_package_file_too_large";
constexpr const char* kUnknownCompression = "$vad_package_unknown_compression";
constexpr const char* kFolderReadError = "$vad_package_folder_read_err";
constexpr const char* kFolderError = "$vad_package_folder_err";
constexpr const char* kBadName = "$vad_package_file_bad_name";
constexpr const char* kBadExtension = "$vad_package_file_bad_ext";
constexpr const char* kLinkRefused = "$vad_package_file_link";

constexpr const char* kUnknownDataType = "Unknown data type encountered. Content package may be damaged";
constexpr const char* kWriteFailed = "Unable to write content files to disk";
constexpr const char* kDecompressFailed = "Failed to decompress data. Content package may be damaged";
constexpr const char* kUnknownCompressionType = "Unknown compression type encountered. Content package may be damaged";

constexpr int kLevel = 9;
constexpr uint32_t kSizeField = 4;
// Room beyond the file's size: the size field and the stored block's header.
constexpr uint64_t kBlockOverhead = kSizeField + 1;

const char* const kFileTypes[] = {"txt", "bmp", "tga", "chump", "pm",  "im",   "kin", "wav", "jpg", "jpeg",
                                  "gnd", "ref", "tso", "obs",   "trk", "texture", "bmk", "dat", "gs",  "gse",
                                  "html", "htm", "evt", "lm",   "mp3", "lst",  "pfx", "tfx", "avi", "wmv"};

void Report(ResultsLog& log, int32_t severity, const char* key, const Vak::PString& name, const char* value,
            const Vak::PString* name2 = nullptr, const char* value2 = nullptr) {
  ACSChunkPtr parameters;
  parameters.SetChildString(name, value);
  if (name2) parameters.SetChildString(*name2, value2);
  log.AddMessage(severity, nullptr, key, parameters);
}

bool IsLZSS(const Vak::PString& compression) { return compression == LZSS(); }

// Memory from the engine's allocator, handed to a value on success.
struct AllocBlock {
  explicit AllocBlock(uint64_t size)
      : bytes(size ? static_cast<uint8_t*>(Vak::Alloc::New(static_cast<std::size_t>(size))) : nullptr) {}
  ~AllocBlock() {
    if (bytes) Vak::Alloc::Delete(bytes);
  }
  uint8_t* Take() { return std::exchange(bytes, nullptr); }
  uint8_t* bytes;
};

// The walk shared by packing and checking. Folders on the path from the
// starting folder are remembered by identity, so a folder reached again
// through a mount (or any other way round) is not entered a second time.
class FolderWalk {
public:
  FolderWalk(ResultsLog& log, const Vak::PString& substitute, const Vak::PString& compression, bool packing)
      : log_(log), substitute_(substitute), compression_(compression), packing_(packing) {}

  // `files` is the container to fill when packing, else unused.
  bool Walk(const std::string& folder, ACSChunkPtr& files) {
    platform::FileId id;
    const bool plain = substitute_.Length() == 0;
    if (plain && (platform::GetFileId(folder.c_str(), id) != platform::Error::None || OnPath(id))) {
      return Unreadable(folder);
    }
    Vak::File::Find find;
    bool found = false;
    try {
      const std::string pattern = Vak::JoinPath(folder.c_str(), "*");
      found = plain ? find.Open(pattern.c_str()) : find.Open(pattern.c_str(), substitute_);
    } catch (const Vak::Exception&) {
      return Unreadable(folder);
    }
    // A search without a first match is an empty folder or none at all.
    if (!found && !FolderExists(folder)) return Unreadable(folder);
    if (plain) path_.push_back(id);
    bool result = true;
    for (; found; found = find.Next()) {
      const char* name = find.name;
      if (IsDotName(name)) continue;
      if (!IsValidPackageName(name)) {
        Report(log_, ResultsLog::kError, kBadName, FileName(), name);
        result = false;
        continue;
      }
      // What a link reaches lies outside the asset: neither its bytes nor
      // its entries go in.
      if (find.attributes & Vak::File::Entry::kLink) {
        Report(log_, ResultsLog::kError, kLinkRefused, FileName(), name);
        result = false;
        continue;
      }
      const std::string path = Vak::JoinPath(folder.c_str(), name);
      if (find.attributes & Vak::File::Entry::kFolder) {
        ACSChunkPtr sub;
        sub.MakeContainer();
        if (!Walk(path, sub)) result = false;
        if (packing_) files.SetChild(Vak::PString(name), sub);
      } else if (IsIgnoredPackageFile(name)) {
        continue;
      } else if (IsPackageFileType(name)) {
        if (!packing_) continue;
        ACSChunkPtr data;
        if (ReadPackageFile(log_, substitute_, path.c_str(), compression_, data)) {
          files.SetChild(Vak::PString(name), data);
        } else {
          result = false;
        }
      } else {
        Report(log_, packing_ ? ResultsLog::kWarning : ResultsLog::kError, kBadExtension, FileName(), name);
        result = false;
      }
    }
    if (plain) path_.pop_back();
    return result;
  }

private:
  bool OnPath(const platform::FileId& id) const {
    for (const platform::FileId& entered : path_)
      if (entered == id) return true;
    return false;
  }

  bool FolderExists(const std::string& folder) {
    if (substitute_.Length()) {
      Vak::PString layer = substitute_;
      return Vak::File::Exists(layer, folder.c_str()).Ok();
    }
    platform::FileInfo info;
    return platform::Stat(folder.c_str(), info) == platform::Error::None && info.isFolder;
  }

  bool Unreadable(const std::string& folder) {
    Report(log_, ResultsLog::kError, packing_ ? kFolderReadError : kFolderError, FolderPath(), folder.c_str());
    return false;
  }

  ResultsLog& log_;
  const Vak::PString& substitute_;
  const Vak::PString& compression_;
  const bool packing_;
  std::vector<platform::FileId> path_;
};

// Decodes one stored LZSS value into `out`. The size field is believed only
// as far as the block really decodes: the room grows with what the block
// produces, never to the field's value up front, and reaches one byte past
// the field so that output overrunning it is seen.
bool DecodeStored(const uint8_t* stored, uint32_t storedSize, std::vector<uint8_t>& out) {
  if (!stored || storedSize < kSizeField) return false;
  const uint64_t size = Vak::GetLE32(stored);
  const uint8_t* block = stored + kSizeField;
  const uint32_t blockSize = storedSize - kSizeField;
  uint64_t room = std::min<uint64_t>(size + 1, uint64_t{blockSize} * 16 + 65536);
  Vak::LZSSCompress lz;
  for (;;) {
    try {
      out.resize(static_cast<std::size_t>(room));
    } catch (const std::bad_alloc&) {
      return false;
    }
    std::size_t written = 0;
    if (lz.DecompressBlock(block, blockSize, out.data(), out.size(), &written)) {
      out.resize(written);
      return written == size;
    }
    if (written < room || room > size) return false;
    room = std::min<uint64_t>(size + 1, room * 2);
  }
}

// Codes `length` bytes as a stored LZSS value: the 32-bit size, then the
// block. False when there is no memory for it.
bool EncodeStored(const uint8_t* bytes, uint32_t length, std::vector<uint8_t>& out) {
  if (uint64_t{length} + kBlockOverhead > std::numeric_limits<uint32_t>::max()) return false;
  try {
    out.resize(uint64_t{length} + kBlockOverhead);
  } catch (const std::bad_alloc&) {
    return false;
  }
  Vak::LZSSCompress lz;
  Vak::Compress::WriteCursor writer(out.data() + kSizeField, uint64_t{length} + 1);
  Vak::Compress::ReadCursor reader(bytes, length);
  if (!lz.Compress(writer, reader, length, kLevel)) return false;
  Vak::PutLE32(out.data(), length);
  out.resize(writer.Position() + kSizeField);
  return true;
}

// What extracting a tree does, in the order it does it: make a folder, write
// a file, or give up with a text. The files' values can so be decoded ahead,
// side by side, while the disk still sees every step in the walk's order.
struct ExtractStep {
  enum Kind { kFolder, kFile, kFail };

  void SetValue(const ACSChunkPtr& data) {
    kind = kFile;
    value = data;
    // Taken here, on the calling thread: a value may be read in on first use.
    stored = data.Get() ? data->GetData() : nullptr;
    storedSize = data.Get() ? data->GetDataSize() : 0;
  }

  Kind kind = kFolder;
  std::string path;
  // A folder's: the step of the folder it is made in, or kNoParent; whether
  // it stands as a folder once made.
  static constexpr std::size_t kNoParent = SIZE_MAX;
  std::size_t parent = kNoParent;
  bool made = false;
  const char* failure = nullptr;
  ACSChunkPtr value;
  const uint8_t* stored = nullptr;
  uint32_t storedSize = 0;
  // kPending, kTaken by a thread decoding it, or kDecoded; changed atomically
  // while helpers decode.
  int32_t state = kPending;
  bool decodedOk = false;
  std::vector<uint8_t> decoded;

  static constexpr int32_t kPending = 0;
  static constexpr int32_t kTaken = 1;
  static constexpr int32_t kDecoded = 2;
};

// The walk of extraction; nothing is collected past a step that fails.
bool CollectSteps(std::vector<ExtractStep>& steps, const ACSChunkPtr& files, const std::string& destination,
                  std::size_t parent = ExtractStep::kNoParent) {
  const std::size_t folder = steps.size();
  ExtractStep& self = steps.emplace_back();
  self.path = destination;
  self.parent = parent;
  const int count = files.GetChildCount();
  for (int i = 0; i < count; ++i) {
    const Vak::PString name = files.GetChildName(i);
    if (!IsValidPackageName(name.c_str())) continue;
    const ACSChunkPtr child = files->FindChild(name);
    const int type = child->GetType();
    const std::string path = Vak::JoinPath(destination.c_str(), name.c_str());
    if (type == kACSContainer) {
      if (IsSafePackagePath(name.c_str()) && !CollectSteps(steps, child, path, folder)) return false;
    } else if (type == kACSRaw) {
      if (IsPackageFileType(name.c_str())) {
        ExtractStep& step = steps.emplace_back();
        step.path = path;
        step.SetValue(child);
      }
    } else {
      ExtractStep& step = steps.emplace_back();
      step.kind = ExtractStep::kFail;
      step.failure = kUnknownDataType;
      return false;
    }
  }
  return true;
}

// Helper threads at most, beside the extracting (or packing) thread.
constexpr int kMaxPackageHelpers = 3;
// Decoded files wait in memory until their turn, so a large tree goes in
// parts of about this many stored bytes.
constexpr uint64_t kDecodeBatchBytes = uint64_t{16} << 20;
// Files read for a package go to the helpers in batches of about this many
// bytes: large enough to be worth waking them, small enough that they start
// while the reading goes on.
constexpr uint64_t kEncodeBatchBytes = uint64_t{256} << 10;

bool Take(ExtractStep& step) {
  return platform::AtomicCompareExchange(step.state, ExtractStep::kTaken, ExtractStep::kPending) ==
         ExtractStep::kPending;
}

void Decode(ExtractStep& step) {
  step.decodedOk = DecodeStored(step.stored, step.storedSize, step.decoded);
  platform::AtomicStore(step.state, ExtractStep::kDecoded);
}

// Work shared out to the helper threads: each helper set to it calls Run
// once, beside the thread that set it.
struct HelperWork {
  virtual ~HelperWork() = default;
  virtual void Run() = 0;
  int32_t stop = 0;
};

// The compressed files of one part of a tree, in the walk's order.
struct DecodeQueue : HelperWork {
  std::vector<ExtractStep*> files;
  // Decodes every file of the queue no thread has taken yet.
  void Run() override {
    for (ExtractStep* step : files) {
      if (platform::AtomicLoad(stop)) return;
      if (Take(*step)) Decode(*step);
    }
  }
};

// One file value of a tree being coded; the value is taken (and later
// replaced) on the calling thread, the coding done by any.
struct EncodeJob {
  ACSChunkPtr chunk;
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  bool ok = false;
  std::vector<uint8_t> stored;
};

void CollectEncodeJobs(const ACSChunkPtr& files, std::vector<EncodeJob>& jobs, uint64_t& bytes) {
  const int count = files.GetChildCount();
  for (int i = 0; i < count; ++i) {
    ACSChunkPtr child = files->FindChild(files.GetChildName(i));
    const int type = child->GetType();
    if (type == kACSContainer) {
      CollectEncodeJobs(child, jobs, bytes);
    } else if (type == kACSRaw) {
      EncodeJob& job = jobs.emplace_back();
      job.chunk = child;
      job.bytes = child->GetData();
      job.length = child->GetDataSize();
      bytes += job.length;
    }
  }
}

// Threads that decode ahead of an extraction or code a package's files,
// started on first need and kept for the rest of the process: starting
// threads for each asset would cost more than its files take to decode. One
// piece of work uses them at a time; another meanwhile runs on its own thread.
class PackageHelpers {
public:
  static PackageHelpers& Instance() {
    static PackageHelpers* helpers = new PackageHelpers;  // never ended: they wait until the process goes
    return *helpers;
  }

  // Sets up to `wanted` helpers to work through `queue`; the number set.
  int Start(HelperWork& queue, int wanted) {
    // A forked copy has none of the threads.
    if (platform::CurrentProcessId() != owner_ || !busy_.WaitOne(0)) return 0;
    // The lock is recursive: the thread that set them to work may not set
    // them again before it finishes (coding ahead while it extracts, say).
    if (queue_) {
      busy_.Release();
      return 0;
    }
    while (static_cast<int>(threads_.size()) < std::min(wanted, kMaxPackageHelpers)) {
      auto thread = std::make_unique<platform::Thread>(&PackageHelpers::Loop, this, true);
      if (!thread->Valid()) break;
      threads_.push_back(std::move(thread));
    }
    const int helpers = std::min(wanted, static_cast<int>(threads_.size()));
    if (helpers == 0) {
      busy_.Release();
      return 0;
    }
    queue_ = &queue;
    work_.Release(helpers);
    return helpers;
  }

  // Back once the helpers set by Start have left `queue`.
  void Finish(HelperWork& queue, int helpers) {
    platform::AtomicStore(queue.stop, 1);
    for (int i = 0; i < helpers; ++i) done_.WaitOne(platform::kInfinite);
    queue_ = nullptr;
    busy_.Release();
  }

private:
  PackageHelpers() : owner_(platform::CurrentProcessId()) {}

  static unsigned Loop(void* context) {
    auto& self = *static_cast<PackageHelpers*>(context);
    for (;;) {
      self.work_.WaitOne(platform::kInfinite);
      self.queue_->Run();
      self.done_.Release();
    }
  }

  platform::Mutex busy_;
  platform::Semaphore work_{0, kMaxPackageHelpers};
  platform::Semaphore done_{0, kMaxPackageHelpers};
  HelperWork* queue_ = nullptr;
  const uint32_t owner_;
  std::vector<std::unique_ptr<platform::Thread>> threads_;
};

// The compressed files of steps[first, end) decoded by helpers while the
// calling thread writes them in turn, when there is enough to share out.
class DecodeAhead {
public:
  DecodeAhead(std::vector<ExtractStep>& steps, std::size_t first, std::size_t end) {
    uint64_t stored = 0;
    for (std::size_t i = first; i < end; ++i) {
      if (steps[i].kind != ExtractStep::kFile) continue;
      queue_.files.push_back(&steps[i]);
      stored += steps[i].storedSize;
    }
    static const int processors = platform::ProcessorCount();
    const int wanted = std::min(processors - 1, static_cast<int>(queue_.files.size()) - 1);
    if (stored >= kParallelDecodeBytes && wanted > 0) helpers_ = PackageHelpers::Instance().Start(queue_, wanted);
  }
  ~DecodeAhead() {
    if (helpers_ > 0) PackageHelpers::Instance().Finish(queue_, helpers_);
  }
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // Until `step` is decoded: by this thread when no helper took it, else
  // helping with the files after it.
  void Await(ExtractStep& step) {
    if (helpers_ == 0 || Take(step)) return Decode(step);
    while (platform::AtomicLoad(step.state) != ExtractStep::kDecoded) {
      if (!DecodeOneMore()) platform::YieldThread();
    }
  }

private:
  bool DecodeOneMore() {
    for (ExtractStep* other : queue_.files) {
      if (Take(*other)) {
        Decode(*other);
        return true;
      }
    }
    return false;
  }

  DecodeQueue queue_;
  int helpers_ = 0;
};

// One file step: the value decoded (unless that was done ahead), then
// written. A value that does not decode leaves no file.
bool WriteStoredFile(Vak::String& error, ExtractStep& step, const Vak::PString& compression) {
  const uint8_t* bytes = step.stored;
  uint32_t size = step.storedSize;
  if (compression.Length() > 0) {
    if (!IsLZSS(compression)) {
      error = kUnknownCompressionType;
      return false;
    }
    if (platform::AtomicLoad(step.state) != ExtractStep::kDecoded) Decode(step);
    if (!step.decodedOk) {
      error = kDecompressFailed;
      return false;
    }
    bytes = step.decoded.data();
    size = static_cast<uint32_t>(step.decoded.size());
  }
  const char* path = step.path.c_str();
  Vak::File file;
  bool ok = false;
  try {
    if (file.Open(path, Vak::File::kWrite | Vak::File::kCreate).Ok()) {
      ok = size == 0 || file.Write(bytes, size, 1) == size;
      ok = file.Flush() && ok;
      ok = file.Close() == 0 && ok;
      if (!ok) Vak::File::Unlink(path);
    }
  } catch (const Vak::Exception&) {
    ok = false;
  }
  if (!ok) error = kWriteFailed;
  std::vector<uint8_t>().swap(step.decoded);
  return ok;
}

// Makes a folder step's folder as Vak::File::Md does. When the folder can be
// made in one step its parent is there, so Md would find every component
// before the last and make just the last; inside a folder this extraction
// made (or found) as a plain path, the same holds when it is there already.
bool MakeStepFolder(const ExtractStep& step, const std::vector<ExtractStep>& steps) {
  const char* path = step.path.c_str();
  const bool inMade = step.parent != ExtractStep::kNoParent && steps[step.parent].made;
  if ((step.parent != ExtractStep::kNoParent && !inMade) || std::strchr(path, ':')) return Vak::File::Md(path);
  platform::FileInfo info;
  // The target folder is mostly there already (made for the asset before
  // its files come): looked at before any attempt to make it.
  if (step.parent == ExtractStep::kNoParent && platform::Stat(path, info) == platform::Error::None &&
      info.isFolder)
    return true;
  if (platform::MakeFolder(path) == platform::Error::None) return true;
  // No walk down from the root.
  if (platform::Stat(path, info) == platform::Error::None && info.isFolder) return true;
  return !inMade && Vak::File::Md(path);
}

} // namespace

bool IsPackageFileType(const char* name) {
  if (!name) return false;
  for (const char* type : kFileTypes)
    if (IsExtension(name, type)) return true;
  return false;
}

bool IsIgnoredPackageFile(const char* name) {
  if (!name) return false;
  const Vak::AnsiString text(name);
  if (text.EqualsIgnoreCase("thumbs.db") || text.EqualsIgnoreCase("pspbrwse.jbf")) return true;
  const std::size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* end = name + length - 4;
  return std::strcmp(end, ".imw") == 0 || std::strcmp(end, ".gmw") == 0;
}

bool IsValidPackageName(const char* name) {
  if (!name || !*name) return false;
  if (*name == ' ' || *name == '.' || *name == '~') return false;
  const char* p = name;
  for (; *p; ++p) {
    const char c = *p;
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && !std::strchr(" $&'()+,-._~", c)) return false;
  }
  return p[-1] != ' ';
}

bool IsSafePackagePath(const char* path) {
  if (!path) return false;
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      // Empty, ".", ".." and any other run of dots alone.
      bool dotsOnly = true;
      for (const char* q = component; q < p; ++q) dotsOnly = dotsOnly && *q == '.';
      if (dotsOnly) return false;
      if (*p == 0) return true;
      component = p + 1;
    }
  }
}

bool ReadPackageFile(ResultsLog& log, const Vak::PString& substitute, const char* fileName,
                     const Vak::PString& compression, ACSChunkPtr& out) {
  out.Release();
  const bool throughSubstitute = substitute.Length() > 0;
  const unsigned long mode = !IsExtension(fileName, "gse") && throughSubstitute && ArchiveFileExists(substitute.c_str())
                                 ? Vak::File::kRead
                                 : Vak::File::kReadStored;
  Vak::File file;
  platform::File* direct = nullptr;
  uint64_t size = 0;
  try {
    const bool opened = throughSubstitute ? file.Open(substitute, fileName, mode).Ok() : file.Open(fileName, mode).Ok();
    if (!opened) {
      Report(log, ResultsLog::kError, kFileReadError, FilePath(), fileName);
      return false;
    }
    // A plain file opened by its own path is read straight from its handle,
    // at the length its open saw: no second look at its size.
    if (!throughSubstitute && Vak::FilePath::SubstNameLength(fileName) < 2 && file.OwnHandle().IsOpen() &&
        file.OwnHandle().OpenedSize() >= 0) {
      direct = &file.OwnHandle();
      size = static_cast<uint64_t>(direct->OpenedSize());
    } else {
      size = file.Size();
      // The kernel's size is 32 bits wide; the stored length of a file with a
      // handle of its own tells whether it wrapped (a packed file's stored
      // length is below its unpacked one).
      const platform::File& handle = file.OwnHandle();
      const int64_t stored = handle.IsOpen() ? handle.Size() : 0;
      if (stored > int64_t{std::numeric_limits<uint32_t>::max()}) size = static_cast<uint64_t>(stored);
    }
  } catch (const Vak::Exception&) {
    Report(log, ResultsLog::kError, kFileReadError, FilePath(), fileName);
    return false;
  }
  const bool compressed = compression.Length() > 0;
  if (compressed && !IsLZSS(compression)) {
    Report(log, ResultsLog::kError, kUnknownCompression, FilePath(), fileName, &CompType(), compression.c_str());
    return false;
  }
  // The stored size is a 32-bit field and so is a value's length.
  if (size + (compressed ? kBlockOverhead : 0) > std::numeric_limits<uint32_t>::max()) {
    Report(log, ResultsLog::kError, kFileTooLarge, FilePath(), fileName);
    return false;
  }
  const auto length = static_cast<uint32_t>(size);
  AllocBlock content(length);
  if (length && !content.bytes) {
    Report(log, ResultsLog::kError, kFileTooLarge, FilePath(), fileName);
    return false;
  }
  bool read = true;
  try {
    if (length == 0) {
      read = true;
    } else if (direct) {
      std::size_t got = 0;
      read = direct->ReadAt(0, content.bytes, length, got) == platform::Error::None && got == length;
    } else {
      read = file.Read(content.bytes, length, 1) == length;
    }
  } catch (const Vak::Exception&) {
    read = false;
  }
  if (!read) {
    Report(log, ResultsLog::kError, kFileReadError, FilePath(), fileName);
    return false;
  }
  ACSRawDataPtr value;
  if (!compressed) {
    value = ACSRawDataCore::Create(length, content.Take());
  } else {
    std::vector<uint8_t> stored;
    if (!EncodeStored(content.bytes, length, stored)) {
      Report(log, ResultsLog::kError, kFileTooLarge, FilePath(), fileName);
      return false;
    }
    value = ACSRawDataCore::CreateCopy(static_cast<uint32_t>(stored.size()), stored.data());
  }
  out = ACSChunkPtr(new TDBDataTag(kACSRaw, value));
  return true;
}

bool PackFolderFiles(ACSChunkPtr& files, const char* folder, const Vak::PString& substitute, ResultsLog& log,
                     const Vak::PString& compression) {
  files.MakeContainer();
  FolderWalk walk(log, substitute, compression, true);
  return walk.Walk(folder ? folder : "", files);
}

bool CheckFolderFiles(const char* folder, ResultsLog& log) {
  const Vak::PString none;
  ACSChunkPtr unused;
  FolderWalk walk(log, none, none, false);
  return walk.Walk(folder ? folder : "", unused);
}

bool WritePackageFiles(Vak::String& error, const ACSChunkPtr& files, const char* folder,
                       const Vak::PString& compression) {
  error = "";
  std::vector<ExtractStep> steps;
  CollectSteps(steps, files, folder ? folder : "");
  const bool lzss = IsLZSS(compression);
  for (std::size_t first = 0; first < steps.size();) {
    std::size_t end = first;
    uint64_t stored = 0;
    while (end < steps.size() && (end == first || stored < kDecodeBatchBytes)) {
      if (steps[end].kind == ExtractStep::kFile) stored += steps[end].storedSize;
      ++end;
    }
    std::optional<DecodeAhead> ahead;
    if (lzss) ahead.emplace(steps, first, end);
    for (; first < end; ++first) {
      ExtractStep& step = steps[first];
      switch (step.kind) {
      case ExtractStep::kFolder:
        step.made = MakeStepFolder(step, steps);
        break;
      case ExtractStep::kFile:
        if (ahead) ahead->Await(step);
        if (!WriteStoredFile(error, step, compression)) return false;
        break;
      case ExtractStep::kFail:
        error = step.failure;
        return false;
      }
    }
  }
  return true;
}

// ---- coding ahead ----

struct PackageEncoder::Queue : HelperWork {
  std::vector<EncodeJob> jobs;
  uint64_t bytes = 0;
  int32_t next = 0;
  int32_t finished = 0;
  void Run() override {
    for (;;) {
      const int32_t i = platform::AtomicIncrement(next) - 1;
      if (i >= static_cast<int32_t>(jobs.size())) return;
      EncodeJob& job = jobs[static_cast<std::size_t>(i)];
      job.ok = EncodeStored(job.bytes, job.length, job.stored);
      platform::AtomicIncrement(finished);
    }
  }
  bool Done() const { return platform::AtomicLoad(finished) == static_cast<int32_t>(jobs.size()); }
};

PackageEncoder::PackageEncoder() : pending_(std::make_unique<Queue>()) {}

PackageEncoder::~PackageEncoder() { Complete(); }

void PackageEncoder::Add(const ACSChunkPtr& files) {
  CollectEncodeJobs(files, pending_->jobs, pending_->bytes);
  if (running_ && running_->Done()) Complete();
  if (!running_ && pending_->bytes >= kEncodeBatchBytes) Launch(false);
}

bool PackageEncoder::Finish() {
  if (running_) running_->Run();
  Complete();
  if (!pending_->jobs.empty()) Launch(true);
  Complete();
  return ok_;
}

void PackageEncoder::Launch(bool help) {
  Queue& queue = *pending_;
  static const int processors = platform::ProcessorCount();
  const int wanted = std::min(processors - 1, static_cast<int>(queue.jobs.size()) - (help ? 1 : 0));
  helpers_ = queue.bytes >= kParallelDecodeBytes && wanted > 0 ? PackageHelpers::Instance().Start(queue, wanted) : 0;
  running_ = std::move(pending_);
  pending_ = std::make_unique<Queue>();
  if (help || helpers_ == 0) running_->Run();
}

void PackageEncoder::Complete() {
  if (!running_) return;
  if (helpers_ > 0) PackageHelpers::Instance().Finish(*running_, helpers_);
  helpers_ = 0;
  for (EncodeJob& job : running_->jobs) {
    if (!job.ok) {
      ok_ = false;
      continue;
    }
    job.chunk->SetValue(kACSRaw, ACSRawDataCore::CreateCopy(static_cast<uint32_t>(job.stored.size()), job.stored.data()));
  }
  running_.reset();
}

bool WritePackageFile(Vak::String& error, const ACSChunkPtr& data, const char* path,
                      const Vak::PString& compression) {
  error = "";
  ExtractStep step;
  step.path = path ? path : "";
  step.SetValue(data);
  return WriteStoredFile(error, step, compression);
}
