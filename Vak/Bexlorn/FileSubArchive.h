#pragma once
// The substitution layer that serves the files of one engine archive. Files
// are read through the archive's host handle, listed, stored when a handle
// opened for writing closes (written first to a temporary file), and deleted
// by marking their block. Look-ups ignore case (Windows-1252) and one leading
// separator; blocks the index does not list are found by walking the file.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Vak/Bexlorn/Archive.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/Sync.h"

namespace Vak {

class FileSubArchive : public FileSub {
public:
  // Called while a file is stored, after each chunk: the input bytes stored
  // so far and, for a compressed file, the stored bytes written (else 0).
  using Progress = int (*)(unsigned long input, unsigned long stored);
  static void SetProgress(Progress progress);

  // Opens the archive at `path`; a writable archive that does not exist is
  // created (FileEx when that fails). A missing or invalid archive otherwise
  // leaves the layer not readable.
  FileSubArchive(const char* path, bool writable);
  // Writes the index when it changed.
  ~FileSubArchive() override;

  bool IsReadOnly() const override;
  bool IsReadable() const override;
  uint32_t GetVersion() const override;
  bool IsType(int kind) const override;
  bool OpenWrite(File& file, const char* name, platform::File::Access access,
                 platform::File::Disposition disposition) override;
  bool OpenRead(File& file, const char* name, platform::File::Access access,
                platform::File::Disposition disposition) override;
  bool CloseFile(File& file) override;
  bool Exists(PString& substitute, const char* name) override;
  bool Unlink(const char* name) override;
  bool GetFileTime(uint32_t& time, const char* name) override;
  void AddToSearch(SearchList& list) override;
  void Lock() override;
  void Unlock() override;
  bool IsPath(const char* path) const override;
  long FindStart() override;
  bool FindNext(long handle, const char* pattern, File::Entry& entry) override;
  void FindEnd(long handle) override;

  // The stored header of `name`; false when there is none.
  bool GetHeader(const char* name, Archive::FileHeader& out);
  const Archive::Info& GetInfo() const { return info_; }
  bool Indexed() const { return indexed_; }
  // Entries known so far (the index's, and those met walking the blocks).
  std::size_t KnownEntries() const { return list_.size(); }

private:
  // A file the archive holds. The header stays in its stored form: the
  // index block read at mount is kept whole and its entries point into it.
  struct Entry {
    uint32_t payloadOffset;
    uint32_t payloadSize;
    uint32_t hash;          // of the key
    const uint8_t* header;  // Archive::kHeaderBytes
  };
  struct Slot {
    Entry* entry = nullptr;
    uint32_t hash = 0;
  };
  struct Cursor {
    bool used = false;
    std::size_t position = 0;  // in the entry list
  };
  // Memory for entries and headers, given back only with the archive.
  class Pool {
  public:
    void* Take(std::size_t bytes);
    void Clear();

  private:
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    uint8_t* next_ = nullptr;
    std::size_t left_ = 0;
  };
  class Guard;
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };

  bool ReadIndex();
  // Whether the blocks from `from` on reach the end of the file undamaged.
  bool ChainIsWhole(uint64_t from);
  // The entry of `name`, walking blocks the index does not list on a miss.
  Entry* Lookup(const char* name);
  // One block onward from walk_; false at the end of the file or at damage.
  bool WalkOne();
  // Adds what a block holds (the header's bytes must outlive the entry); a
  // name already known keeps the later block. The second form takes the
  // stored name, its key's hash and the memory of a new entry (or null).
  Entry* Add(uint32_t payloadOffset, uint32_t payloadSize, const uint8_t* header);
  Entry* Add(uint32_t payloadOffset, uint32_t payloadSize, const uint8_t* header, std::string_view name,
             uint32_t hash, Entry* fresh);
  // The header's bytes kept for an entry met after the mount.
  const uint8_t* KeepHeader(const Archive::FileHeader& header);
  void Remove(Entry* entry);
  // Overwrites the tag of the entry's block with "FIL!"; false (nothing
  // written) when no "FIL " block of the entry's size stands there.
  bool MarkDeleted(const Entry& entry);
  void AddDirectories(std::string_view name);
  // The entry table: open addressing, linear probing, at most half full.
  Entry* Find(std::string_view name, uint32_t hash) const;
  void Insert(Entry* entry);
  void Erase(Entry* entry);
  void Reserve(std::size_t count);
  std::size_t Home(uint32_t hash) const;
  // Whether a compressed entry's payload begins with the "CFIL" head.
  bool PayloadIsPacked(const Entry& entry);
  bool Store(File& file);
  bool WriteIndex();
  // Signature and info block, within the info block's own length.
  bool WriteInfo();
  bool WriteAt(uint64_t offset, const void* data, std::size_t length);
  bool ReadAt(uint64_t offset, void* data, std::size_t length);
  // The host file ends at `offset`.
  bool TruncateAt(uint64_t offset);
  // Where the next block goes: over the index when it is the last block.
  uint32_t AppendOffset() const;
  bool IndexIsLast() const;

  platform::File& Host() { return host_.OwnHandle(); }

  File host_;
  File::Path path_;
  Archive::Info info_;
  uint32_t infoBytes_ = Archive::kInfoBytes;  // the info block's length as found
  bool open_ = false;
  bool writable_ = false;
  bool indexed_ = false;
  bool dirty_ = false;
  uint64_t end_ = 0;          // length of the host file
  uint64_t walk_ = 0;         // blocks before this offset are known
  uint32_t indexBytes_ = 0;   // of the "IDX " block at the index offset, 0 when none
  Pool pool_;
  std::vector<Entry*> list_;
  std::vector<Slot> slots_;
  std::size_t used_ = 0;  // slots holding an entry
  // Folder paths: A to Z lowered, '/' as separator, no trailing '/'.
  std::unordered_set<std::string, TextHash, std::equal_to<>> directories_;
  std::string lastDirectory_;
  std::vector<Cursor> cursors_;
  std::map<const File*, std::string> pending_;  // temporary file of each write
  CriticalSection lock_;
};

} // namespace Vak
