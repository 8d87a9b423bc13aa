#pragma once
// The engine's file handle: one file at a time, by plain path or through a
// substitute ("name:path"), buffered in 16384 bytes, with 8-bit and UTF-16
// text lines, and the static file operations.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Path.h"
#include "Vak/Bexlorn/ResultClass.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"

namespace Vak {

class File;
class FileSub;

// How files named "name:path" reach the substitution list. Until one is
// installed with File::SetSubstRouter no substitute is listed, and such names
// are plain paths.
class FileSubstRouter {
public:
  enum class Route { Write, Read };
  enum class Outcome { Opened, NotOpened, NotListed };

  virtual ~FileSubstRouter();

  // Opens `name` inside `substitute` by the route; on success the layer has
  // attached a handle to the file (File::AttachHandle / OwnHandle).
  virtual Outcome Open(const PString& substitute, Route route, File& file, const char* name,
                       platform::File::Access access, platform::File::Disposition disposition) = 0;
  // Closes a file this router opened; false when what was written could not
  // be stored.
  virtual bool Close(File& file) = 0;
  // The compressed-header version of the layer that opened the file.
  virtual uint32_t Version(const File& file) = 0;
  // Whether the layer that opened the file may be written through.
  virtual bool Writable(const File& file) = 0;
  // Around each raw read of a file whose handle the layer shares.
  virtual void Lock(const File&) {}
  virtual void Unlock(const File&) {}

  // Static operations; `name` is the text after the colon with one leading
  // separator dropped. NotListed-like answers are false.
  virtual bool Listed(const PString& substitute) = 0;
  virtual bool Exists(PString& substitute, const char* name) = 0;
  virtual bool Unlink(const PString& substitute, const char* name) = 0;
  virtual bool Rename(const PString& substitute, const char* oldName, const char* newName) = 0;
  virtual bool Md(const PString& substitute, const char* path) = 0;
  virtual bool GetFileTime(const PString& substitute, uint32_t& time, const char* name) = 0;
};

class File {
public:
  using Path = FilePath;

  enum Results : unsigned {
    RES_OK = 0,
    RES_UNKNOWN,
    RES_FILENOTFOUND,
    RES_ALREADYOPEN,
    RES_MODENOTSUPPORTED,
    RES_CANTWRITECOMPRESSED,
    RES_NOTCOMPRESSED,
    RES_SUBSTNOTFOUND,
    RES_FILEALREADYEXISTS,
    RES_READONLY,
  };
  static const ResultTableSpan results;
  using Result = ResultClass<&results, Results>;

  // Fields of the open mode word.
  enum : unsigned long {
    kWriteMask = 0x000F,
    kWrite = 0x0001,
    kWriteCompressed = 0x0002,
    kReadMask = 0x00F0,
    kRead = 0x0010,
    kReadStored = 0x0020,
    kReadCompressed = 0x0030,
    kCreateMask = 0x0F00,
    kCreate = 0x0100,
    kOpenAlways = 0x0200,
    kCreateNew = 0x0300,
    kRejectedMask = 0xF000,
    kRejected = 0x1000,
  };

  enum Encoding { kEncodingOwn = 0, kEncoding8Bit = 1, kEncodingUtf16 = 2 };
  enum FileSeek { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

  static constexpr uint32_t kBufferSize = 16384;
  static constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

  File();
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // "name:path" with at least two characters before the colon goes through
  // the substitute `name`; anything else is a plain path.
  Result Open(const char* name, unsigned long mode, int encoding = kEncoding8Bit);
  Result Open(const PString& substitute, const char* name, unsigned long mode,
              int encoding = kEncoding8Bit);
  // 0, or RES_UNKNOWN when packing failed (the plain file then stays).
  int Close();
  bool IsOpen() const { return handle_ != nullptr; }

  // Transfer size x count bytes; the result is the bytes moved divided by count.
  unsigned long Read(void* buffer, unsigned long size, unsigned long count);
  unsigned long Write(const void* data, unsigned long size, unsigned long count);
  // The value's 4 bytes, little-endian.
  bool Write(uint32_t value);
  bool Write(float value);

  // Origin 2 counts back from the end. Returns the new position.
  uint32_t Seek(long offset, int origin);
  uint32_t Tell() const { return position_; }
  uint32_t Size();
  bool Eof();

  // One line into `buffer`, zero-terminated; the bytes stored without the zero.
  unsigned long ReadLine(void* buffer, unsigned long bufferSize, int encoding = kEncodingOwn);
  // Reads a UTF-16 byte-order mark, else goes back to the start.
  void ProbeEncoding();

  // For the log: writes `text` in the file's encoding, and commits to disk.
  void WriteText(const char* text);
  void Commit();
  // Hands the written bytes to the system in one write, without a disk sync.
  bool Flush();
  // A read since the open found the content damaged or could not be done;
  // the content then ends there.
  bool ReadFailed() const { return readFailed_; }

  unsigned long Mode() const { return mode_; }
  int GetEncoding() const { return encoding_; }
  const Path& GetPath() const { return path_; }

  // Static operations; "name:path" goes through the substitute.
  static Result Exists(const char* name);
  static Result Exists(PString& substitute, const char* name);
  static bool Unlink(const char* name);
  static bool Rename(const char* oldName, const char* newName);
  // Renames `oldName` to `newName`, both inside `folder`.
  static bool Rename(const char* folder, const char* oldName, const char* newName);
  static bool Md(const char* path);
  static bool Prune(const char* path);
  static bool GetFileTime(const char* name, uint32_t& time);
  static bool ChDir(const char* path);
  static bool GetCwd(Path& out);

  // Packs the plain file at `path`, `length` bytes long, into the compressed
  // form in place. False (the plain file unchanged) on any failure.
  static bool Pack(const char* path, uint32_t length);
  // Creates a new temporary file "%08X.T%08X" (process id, counter) in
  // `folder` ("" or ending in a separator); `path` receives its name.
  static platform::Error CreateTemporary(const std::string& folder, platform::File& out, std::string& path,
                                         platform::File::Access access);

  // Archive "INFO" block: reads up to 32 bytes of its data into `out` and
  // returns their number (0 when there is none); writes one of 32 bytes.
  uint32_t ReadInfoBlock(void* out);
  bool WriteInfoBlock(const void* data);

  // With a path, pushes a layer on top of the substitute `name` (made on
  // first use): a path ending in a separator is a folder layer, any other an
  // archive layer. Without a path, removes the substitute when it exists
  // (true). False when no layer was made.
  static bool Subst(const PString& name, const char* path, bool writable);

  // One match of a wildcard search, laid out as an archive's file header.
  struct Entry {
    static constexpr uint16_t kFolder = 0x10;
    // A symbolic link, listed with its target's size and times, never as a
    // folder.
    static constexpr uint16_t kLink = 0x400;
    char name[260];      // without folder
    uint32_t size;
    uint32_t size2;
    uint32_t reserved;
    uint32_t created;    // seconds since 1970, low 32 bits
    uint32_t accessed;
    uint32_t written;
    uint16_t attributes;
    uint16_t reserved2;
  };
  class Find;
  // While one is alive on a thread, the plain folders that thread's searches
  // list are kept and served again: for a pass that reads one folder tree
  // several ways and changes nothing in it meanwhile.
  class ListingMemo;

  static void SetSubstRouter(FileSubstRouter* router);
  static unsigned OpenFiles();

  // For the layer that opens a file: the file's own handle, or a handle the
  // layer shares between its files; the path; the raw offset of the content.
  platform::File& OwnHandle() { return ownHandle_; }
  void AttachHandle(platform::File* shared);
  void UseOwnHandle();
  Path& EditPath() { return path_; }
  void SetDataStart(uint32_t offset) { dataStart_ = offset; }
  // Raw reads stop at `offset` (the end of a layer's payload); 0: no end.
  void SetDataEnd(uint32_t offset) { dataEnd_ = offset; }
  void SetSize(uint32_t size) { size_ = size; }
  void SetLayer(void* layer) { layer_ = layer; }
  void* Layer() const { return layer_; }

private:
  bool Compressed() const { return (mode_ & kReadMask) == kReadCompressed; }
  void ReleaseHandle();
  // The open after the state is reset; may throw from a layer.
  Result Opening(const PString& substitute, const char* name, platform::File::Access access,
                 platform::File::Disposition disposition, Result openFailed);
  Result Abandon(Result result);
  uint32_t Damaged();
  bool RawRead(void* out, uint32_t length, uint32_t& got);
  // One block into `out`: plain content up to `room` bytes, a compressed
  // block whole (at most kBufferSize).
  uint32_t ReadBlock(uint8_t* out, uint32_t room = kBufferSize);
  void DropBuffer();
  Result Probe();

  platform::File ownHandle_;
  platform::File* handle_ = nullptr;  // null while closed
  uint8_t* buffer_;
  std::unique_ptr<uint8_t[]> scratch_;  // a coded block before expansion
  uint32_t cursor_ = 0;    // next byte in the buffer
  uint32_t valid_ = 0;     // bytes in the buffer
  uint32_t bufferPos_ = 0; // logical position of the buffer's first byte
  unsigned long mode_ = 0;
  uint32_t size_ = kUnknownSize;
  uint32_t dataStart_ = 0;
  uint32_t dataEnd_ = 0;
  uint32_t position_ = 0;
  uint32_t rawPosition_ = 0;  // next block header of compressed content
  uint32_t blockRaw_ = 0;     // header of the buffered compressed block
  uint32_t dirty_ = 0;        // written bytes in the buffer
  uint8_t flags_ = 0;
  bool writeFailed_ = false;  // a raw write failed since the open
  bool readFailed_ = false;
  FileSubstRouter* router_ = nullptr;  // the router that opened the file
  void* layer_ = nullptr;
  int encoding_ = kEncoding8Bit;
  Path path_;
};

static_assert(sizeof(File::Entry) == 288, "an entry is an archive's file header");

// Wildcard search over a plain folder, or over every readable layer of a
// substitute with each name (without regard to case) listed once, from the
// layer added first.
class File::ListingMemo {
public:
  ListingMemo();
  ~ListingMemo();
  ListingMemo(const ListingMemo&) = delete;
  ListingMemo& operator=(const ListingMemo&) = delete;

private:
  friend class File::Find;
  std::map<std::string, std::vector<platform::FolderEntry>> listings_;  // every entry, by folder
  ListingMemo* outer_;
};

class File::Find : public File::Entry {
public:
  Find();
  ~Find();
  Find(const Find&) = delete;
  Find& operator=(const Find&) = delete;

  // "folder/mask" or "name:folder/mask"; true when a first match is current.
  bool Open(const char* pattern);
  // The pattern inside the substitute `substitute`; throws FileEx when it is
  // not listed.
  bool Open(const char* pattern, const PString& substitute);
  bool Next();
  // The pattern's folder (without a substitute prefix) and the current name.
  Path GetNameAndPath() const;
  void Close();

private:
  bool Split(const char* pattern);
  bool Advance();
  bool Step();
  bool StartLayer();
  void EndLayer();
  bool ListFolder(const char* folder);
  bool ReadFolder();

  long handle_ = -1;  // the archive layer's search, -1 when none
  char directory_[260];
  char mask_[260];
  std::vector<FileSub*> layers_;  // still to search, taken from the end
  std::set<std::string> seen_;    // lower-case names already returned
  FileSub* current_ = nullptr;    // the archive layer being searched
  bool substituted_ = false;
  std::vector<platform::FolderEntry> folder_;  // the folder being searched
  std::size_t folderNext_ = 0;
};

} // namespace Vak
