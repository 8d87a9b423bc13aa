#include "Vak/Bexlorn/FileSubst.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Vak/Bexlorn/CompressedFileFormat.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/FileSubArchive.h"
#include "platform/os/FileSystem.h"

namespace Vak {

// Layer defaults.

FileSub::~FileSub() = default;
void FileSub::SubstClosing(const PString&) {}
bool FileSub::IsReadOnly() const { return true; }
bool FileSub::IsReadable() const { return false; }
uint32_t FileSub::GetVersion() const { return 0; }
bool FileSub::IsType(int) const { return false; }
bool FileSub::OpenWrite(File&, const char*, platform::File::Access, platform::File::Disposition) { return false; }
bool FileSub::OpenRead(File&, const char*, platform::File::Access, platform::File::Disposition) { return false; }
bool FileSub::CloseFile(File&) { throw FileEx("Vak/Bexlorn/FileSub", 0, "CloseFile() Logic Error"); }
bool FileSub::Exists(PString&, const char*) { return false; }

bool FileSub::ExistsAs(const char* name, File::Path& out) {
  out = name;
  PString substitute;
  return Exists(substitute, name);
}

bool FileSub::Unlink(const char*) { return false; }
bool FileSub::Rename(const char*, const char*) { return false; }
bool FileSub::Md(const char*) { return true; }
bool FileSub::GetRealPath(File::Path&) { return false; }
bool FileSub::GetFileTime(uint32_t&, const char*) { return false; }
void FileSub::SetReadOnly(const char*, bool) {}
void FileSub::AddToSearch(SearchList&) {}
void FileSub::Lock() {}
void FileSub::Unlock() {}
bool FileSub::IsPath(const char*) const { return false; }
long FileSub::FindStart() { return -1; }
bool FileSub::FindNext(long, const char*, File::Entry&) { return false; }
void FileSub::FindEnd(long) {}

void FileSub::Attach(File& file) {
  file.SetLayer(this);
  ++openFiles_;
}

void FileSub::Detach(File& file) {
  file.SetLayer(nullptr);
  --openFiles_;
}

// Folder layer.

FileSubPath::FileSubPath(const char* path, bool writable) {
  // A path that does not fit gives a layer that takes no part in routing.
  if (!folder_.Set(path) || folder_.Length() == 0) {
    folder_ = "";
    flags_ = kReadOnly;
    return;
  }
  uint8_t flags = writable ? 0 : kReadOnly;
  if (File::Exists(folder_).Ok()) flags |= kFolderExists;
  flags_ = flags;
}

bool FileSubPath::IsReadOnly() const { return flags_ & kReadOnly; }
bool FileSubPath::IsReadable() const { return flags_ & kFolderExists; }
uint32_t FileSubPath::GetVersion() const { return CompressedFile::kFolderVersion; }
bool FileSubPath::IsType(int kind) const { return kind == kFolder; }
bool FileSubPath::IsPath(const char* path) const { return path && std::strcmp(path, folder_) == 0; }

bool FileSubPath::FullName(File::Path& out, const char* name) const {
  return name && folder_.Length() > 0 && File::Path::Join(out, folder_, name);
}

bool FileSubPath::OpenAs(File& file, const File::Path& full, platform::File::Access access,
                         platform::File::Disposition disposition) {
  file.EditPath() = full;
  if (file.OwnHandle().Open(full, access, disposition) != platform::Error::None) return false;
  file.UseOwnHandle();
  Attach(file);
  return true;
}

bool FileSubPath::OpenWrite(File& file, const char* name, platform::File::Access access,
                            platform::File::Disposition disposition) {
  File::Path full;
  if (!FullName(full, name)) return false;
  File::Path folder(full);
  folder.DelName(false);
  if (folder.Length() > 0 && !File::Exists(folder).Ok() && !File::Md(folder)) return false;
  flags_ |= kFolderExists;
  return OpenAs(file, full, access, disposition);
}

bool FileSubPath::OpenRead(File& file, const char* name, platform::File::Access access,
                           platform::File::Disposition disposition) {
  File::Path full;
  return FullName(full, name) && OpenAs(file, full, access, disposition);
}

bool FileSubPath::CloseFile(File& file) {
  const int64_t length = file.OwnHandle().Tell();
  const bool closed = file.OwnHandle().Close() == platform::Error::None;
  Detach(file);
  // Packing writes beside the file and replaces it only once complete; on
  // failure the plain file stays.
  if ((file.Mode() & File::kWriteMask) != File::kWriteCompressed) return closed;
  return closed && length >= 0 && length <= 0xFFFFFFFF && File::Pack(file.GetPath(), static_cast<uint32_t>(length));
}

bool FileSubPath::Exists(PString&, const char* name) {
  File::Path full;
  return FullName(full, name) && File::Exists(full).Ok();
}

bool FileSubPath::Unlink(const char* name) {
  File::Path full;
  return FullName(full, name) && File::Unlink(full);
}

bool FileSubPath::Rename(const char* oldName, const char* newName) {
  File::Path from, to;
  return FullName(from, oldName) && FullName(to, newName) && File::Rename(from, to);
}

bool FileSubPath::Md(const char* path) {
  File::Path full;
  return FullName(full, path) && File::Md(full);
}

bool FileSubPath::GetRealPath(File::Path& path) {
  File::Path full;
  PString substitute;
  if (!FullName(full, path) || !Exists(substitute, path)) return false;
  path = full;
  return true;
}

bool FileSubPath::GetFileTime(uint32_t& time, const char* name) {
  File::Path full;
  return FullName(full, name) && File::GetFileTime(full, time);
}

void FileSubPath::SetReadOnly(const char* name, bool readOnly) {
  File::Path full;
  if (FullName(full, name)) platform::SetReadOnly(full, readOnly);
}

void FileSubPath::AddToSearch(SearchList& list) { list.push_back(this); }

// The list.

class FileSubstList::Guard {
public:
  explicit Guard(FileSubstList& list) : mutex_(list.mutex_) { mutex_.Lock(); }
  ~Guard() { mutex_.Unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

private:
  platform::RecursiveMutex& mutex_;
};

FileSubstList& FileSubstList::Get() {
  // Never destroyed: files may still route through it during exit.
  static FileSubstList* list = new FileSubstList;
  return *list;
}

FileSubstList::Substitute* FileSubstList::Lookup(const PString& name) {
  if (name.Length() == 0) return nullptr;
  auto it = substitutes_.find(name.GetNode());
  return it == substitutes_.end() ? nullptr : &it->second;
}

bool FileSubstList::Add(const PString& name, std::unique_ptr<FileSub> layer) {
  if (name.Length() == 0 || !layer) return false;
  Guard guard(*this);
  Substitute& s = substitutes_[name.GetNode()];
  if (s.name.IsNull()) s.name = name;
  s.layers.push_back(std::move(layer));
  File::SetSubstRouter(this);
  return true;
}

bool FileSubstList::Remove(const PString& name, bool required) {
  Guard guard(*this);
  auto it = name.Length() ? substitutes_.find(name.GetNode()) : substitutes_.end();
  if (it == substitutes_.end()) {
    if (!required) return false;
    FileEx ex("Vak/Bexlorn/FileSubst", 0, "");
    ex.SetReason("Subst(%s) Closing non-existant subst?", name.c_str());
    throw ex;
  }
  for (auto& [node, s] : substitutes_)
    for (auto layer = s.layers.rbegin(); layer != s.layers.rend(); ++layer) (*layer)->SubstClosing(name);
  Substitute gone = std::move(it->second);
  substitutes_.erase(it);
  while (!gone.layers.empty()) {
    std::unique_ptr<FileSub> layer = std::move(gone.layers.back());
    gone.layers.pop_back();
    // A file still open through the layer is closed through it later, and a
    // search still walking it lets it go when done.
    if (layer->OpenFiles() > 0 || layer->Searches() > 0) closing_.push_back(std::move(layer));
  }
  return true;
}

const FileSubstList::Substitute* FileSubstList::Resolve(const char* path) {
  const int n = FilePath::SubstNameLength(path);
  if (n < 0) return nullptr;
  const PString name(std::string(path, static_cast<std::size_t>(n)).c_str());
  FileSubstList& list = Get();
  Guard guard(list);
  return list.Lookup(name);
}

bool FileSubstList::AddToSearch(const PString& name, FileSub::SearchList& list) {
  Guard guard(*this);
  Substitute* s = Lookup(name);
  if (!s) return false;
  const std::size_t before = list.size();
  for (auto layer = s->layers.rbegin(); layer != s->layers.rend(); ++layer)
    if ((*layer)->IsReadable()) (*layer)->AddToSearch(list);
  for (std::size_t i = before; i < list.size(); ++i) ++list[i]->searches_;
  return true;
}

void FileSubstList::EndSearch(FileSub* layer) {
  if (!layer) return;
  Guard guard(*this);
  --layer->searches_;
  DropWhenUnused(layer);
}

void FileSubstList::DropWhenUnused(FileSub* layer) {
  if (closing_.empty() || layer->OpenFiles() > 0 || layer->Searches() > 0) return;
  closing_.erase(std::remove_if(closing_.begin(), closing_.end(),
                                [layer](const std::unique_ptr<FileSub>& l) { return l.get() == layer; }),
                 closing_.end());
}

unsigned FileSubstList::OpenFiles(const PString& name) {
  Guard guard(*this);
  Substitute* s = Lookup(name);
  unsigned total = 0;
  if (s)
    for (auto& layer : s->layers) total += layer->OpenFiles();
  return total;
}

unsigned FileSubstList::Count() {
  Guard guard(*this);
  return static_cast<unsigned>(substitutes_.size());
}

FileSubstRouter::Outcome FileSubstList::Open(const PString& substitute, Route route, File& file,
                                             const char* name, platform::File::Access access,
                                             platform::File::Disposition disposition) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  if (!s) return Outcome::NotListed;
  for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it) {
    FileSub& layer = **it;
    if (route == Route::Write) {
      if (!layer.IsReadOnly() && layer.OpenWrite(file, name, access, disposition)) return Outcome::Opened;
    } else if (layer.IsReadable() && layer.OpenRead(file, name, access, disposition)) {
      return Outcome::Opened;
    }
  }
  return Outcome::NotOpened;
}

bool FileSubstList::Close(File& file) {
  Guard guard(*this);
  FileSub* layer = static_cast<FileSub*>(file.Layer());
  if (!layer) return true;
  const bool stored = layer->CloseFile(file);
  DropWhenUnused(layer);
  return stored;
}

uint32_t FileSubstList::Version(const File& file) {
  FileSub* layer = static_cast<FileSub*>(file.Layer());
  return layer ? layer->GetVersion() : 0;
}

bool FileSubstList::Writable(const File& file) {
  FileSub* layer = static_cast<FileSub*>(file.Layer());
  return layer && !layer->IsReadOnly();
}

void FileSubstList::Lock(const File& file) {
  if (FileSub* layer = static_cast<FileSub*>(file.Layer())) layer->Lock();
}

void FileSubstList::Unlock(const File& file) {
  if (FileSub* layer = static_cast<FileSub*>(file.Layer())) layer->Unlock();
}

bool FileSubstList::Listed(const PString& substitute) {
  Guard guard(*this);
  return Lookup(substitute) != nullptr;
}

bool FileSubstList::Exists(PString& substitute, const char* name) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  if (!s) return false;
  for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it) {
    if (!(*it)->IsReadable()) continue;
    substitute = s->name;
    if ((*it)->Exists(substitute, name)) return true;
  }
  return false;
}

bool FileSubstList::Unlink(const PString& substitute, const char* name) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  bool any = false;
  if (s)
    for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it)
      if ((*it)->IsReadable() && !(*it)->IsReadOnly() && (*it)->Unlink(name)) any = true;
  return any;
}

bool FileSubstList::Rename(const PString& substitute, const char* oldName, const char* newName) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  if (s)
    for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it)
      if ((*it)->IsReadable() && !(*it)->IsReadOnly() && (*it)->Rename(oldName, newName)) return true;
  return false;
}

bool FileSubstList::Md(const PString& substitute, const char* path) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  if (s)
    for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it)
      if ((*it)->IsReadable() && !(*it)->IsReadOnly() && (*it)->Md(path)) return true;
  return false;
}

bool FileSubstList::GetFileTime(const PString& substitute, uint32_t& time, const char* name) {
  Guard guard(*this);
  Substitute* s = Lookup(substitute);
  if (s)
    for (auto it = s->layers.rbegin(); it != s->layers.rend(); ++it)
      if ((*it)->IsReadable() && (*it)->GetFileTime(time, name)) return true;
  return false;
}

// File's entry to the list.

bool File::Subst(const PString& name, const char* path, bool writable) {
  FileSubstList& list = FileSubstList::Get();
  if (!path) {
    list.Remove(name, false);
    return true;
  }
  const std::size_t n = std::strlen(path);
  if (n == 0) return false;
  if (path[n - 1] != '\\' && path[n - 1] != '/') return list.Add(name, std::make_unique<FileSubArchive>(path, writable));
  return list.Add(name, std::make_unique<FileSubPath>(path, writable));
}

} // namespace Vak
