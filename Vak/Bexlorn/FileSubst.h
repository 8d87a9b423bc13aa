#pragma once
// File substitution: named stacks of layers ("data:meshes/a.im"), each layer a
// folder or an archive. Reads and most queries take the first layer from the
// top that answers, writes the first writable layer, deletes every writable
// layer.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "platform/os/File.h"
#include "platform/os/RecursiveMutex.h"

namespace Vak {

// One layer of a substitute. The defaults are those of a layer that holds
// nothing and takes no part in routing.
class FileSub {
public:
  using SearchList = std::vector<FileSub*>;
  enum Kind { kArchive = 0, kFolder = 1 };

  FileSub() = default;
  virtual ~FileSub();
  FileSub(const FileSub&) = delete;
  FileSub& operator=(const FileSub&) = delete;

  // A substitute (this layer's or another) is being removed.
  virtual void SubstClosing(const PString& name);
  virtual bool IsReadOnly() const;
  // Whether the layer takes part in routing.
  virtual bool IsReadable() const;
  // The compressed-header version of files opened through the layer.
  virtual uint32_t GetVersion() const;
  virtual bool IsType(int kind) const;
  // On success the file holds a handle, and the layer counts it (Attach).
  virtual bool OpenWrite(File& file, const char* name, platform::File::Access access,
                         platform::File::Disposition disposition);
  virtual bool OpenRead(File& file, const char* name, platform::File::Access access,
                        platform::File::Disposition disposition);
  // Closes a file this layer opened; false when what was written could not
  // be stored (a plain file then stays as it was written).
  virtual bool CloseFile(File& file);
  virtual bool Exists(PString& substitute, const char* name);
  // out := name, then Exists.
  virtual bool ExistsAs(const char* name, File::Path& out);
  virtual bool Unlink(const char* name);
  virtual bool Rename(const char* oldName, const char* newName);
  virtual bool Md(const char* path);
  // Replaces a name by the operating-system path of the file.
  virtual bool GetRealPath(File::Path& path);
  virtual bool GetFileTime(uint32_t& time, const char* name);
  virtual void SetReadOnly(const char* name, bool readOnly);
  virtual void AddToSearch(SearchList& list);
  // Around each raw read of a handle shared by the layer's files.
  virtual void Lock();
  virtual void Unlock();
  // The layer was made from `path`.
  virtual bool IsPath(const char* path) const;

  // Entry search of a layer that lists its own entries (an archive): a
  // search handle, or -1 when none starts; each FindNext fills `entry` with
  // the next entry matching `pattern`.
  virtual long FindStart();
  virtual bool FindNext(long handle, const char* pattern, File::Entry& entry);
  virtual void FindEnd(long handle);

  // Files open through the layer.
  unsigned OpenFiles() const { return openFiles_.load(); }
  // Wildcard searches that still hold the layer.
  unsigned Searches() const { return searches_.load(); }

protected:
  // The file was opened through this layer; it is closed through it.
  void Attach(File& file);
  // Counts the close of a file this layer opened.
  void Detach(File& file);

private:
  friend class FileSubstList;
  std::atomic<unsigned> openFiles_{0};
  std::atomic<unsigned> searches_{0};
};

// A folder on disk (its path ends in a separator).
class FileSubPath : public FileSub {
public:
  FileSubPath(const char* path, bool writable);

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
  bool Rename(const char* oldName, const char* newName) override;
  bool Md(const char* path) override;
  bool GetRealPath(File::Path& path) override;
  bool GetFileTime(uint32_t& time, const char* name) override;
  void SetReadOnly(const char* name, bool readOnly) override;
  void AddToSearch(SearchList& list) override;
  bool IsPath(const char* path) const override;

  const File::Path& FolderPath() const { return folder_; }

private:
  static constexpr uint8_t kReadOnly = 1;
  static constexpr uint8_t kFolderExists = 2;

  // The folder path joined with `name`; false when it does not fit.
  bool FullName(File::Path& out, const char* name) const;
  bool OpenAs(File& file, const File::Path& full, platform::File::Access access,
              platform::File::Disposition disposition);

  File::Path folder_;
  std::atomic<uint8_t> flags_{0};
};

// The process's substitutes, ordered by the identity of their interned
// names. One recursive lock guards the list and every walk over a
// substitute's layers, the layers' own calls included. Files opened through
// the list are routed back to it (it installs itself as File's router).
class FileSubstList final : public FileSubstRouter {
public:
  struct Substitute {
    PString name;
    std::vector<std::unique_ptr<FileSub>> layers;  // the layer added first at the front
  };

  static FileSubstList& Get();

  // Pushes `layer` on top of the substitute `name`, made when absent. False
  // (the layer dropped) for an empty name or no layer.
  bool Add(const PString& name, std::unique_ptr<FileSub> layer);
  // Every layer of every substitute hears SubstClosing, then the substitute's
  // layers go, top first. Not listed: throws FileEx, or false when not
  // `required`. A layer with files still open, or still held by a search,
  // lives on until they close or the search lets it go.
  bool Remove(const PString& name, bool required = true);
  // The substitute named by the prefix of `path` ("data:x"), else null. The
  // pointer stays valid until the substitute is removed.
  static const Substitute* Resolve(const char* path);
  // Appends the readable layers of `name`, top first, each held for the
  // search until EndSearch. False when not listed.
  bool AddToSearch(const PString& name, FileSub::SearchList& list);
  // The search is done with `layer`.
  void EndSearch(FileSub* layer);
  // The files open through the layers of `name`.
  unsigned OpenFiles(const PString& name);
  unsigned Count();

  // Routing of File's operations.
  Outcome Open(const PString& substitute, Route route, File& file, const char* name,
               platform::File::Access access, platform::File::Disposition disposition) override;
  bool Close(File& file) override;
  uint32_t Version(const File& file) override;
  bool Writable(const File& file) override;
  void Lock(const File& file) override;
  void Unlock(const File& file) override;
  bool Listed(const PString& substitute) override;
  bool Exists(PString& substitute, const char* name) override;
  bool Unlink(const PString& substitute, const char* name) override;
  bool Rename(const PString& substitute, const char* oldName, const char* newName) override;
  bool Md(const PString& substitute, const char* path) override;
  bool GetFileTime(const PString& substitute, uint32_t& time, const char* name) override;

private:
  class Guard;

  FileSubstList() = default;
  Substitute* Lookup(const PString& name);
  // Destroys `layer` when it is a removed substitute's and nothing holds it.
  void DropWhenUnused(FileSub* layer);

  platform::RecursiveMutex mutex_;
  std::map<const PString::Node*, Substitute> substitutes_;
  // Layers of removed substitutes whose files or searches are still open.
  std::vector<std::unique_ptr<FileSub>> closing_;
};

} // namespace Vak
