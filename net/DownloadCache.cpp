#include "net/DownloadCache.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Time.h"
#include "content/TextChunkFile.h"
#include "net/DownloadTask.h"
#include "net/TextReply.h"
#include "net/UrlRecord.h"

namespace {

const Vak::PString& KeyFileName() {
  static const Vak::PString key("cachefilename");
  return key;
}
const Vak::PString& KeyDownloaded() {
  static const Vak::PString key("datedownloaded");
  return key;
}
const Vak::PString& KeyReferenced() {
  static const Vak::PString key("datelastreferenced");
  return key;
}
const Vak::PString& KeyState() {
  static const Vak::PString key("cachestate");
  return key;
}
const Vak::PString& KeySize() {
  static const Vak::PString key("cachefilesize");
  return key;
}

uint32_t WallClock() { return static_cast<uint32_t>(Vak::Time::TimeStamp()); }
std::atomic<DownloadCache::Clock> gClock{&WallClock};
int32_t Now() { return static_cast<int32_t>(gClock.load()()); }

bool IsPageExtension(const char* path) {
  const std::string ext = ResultFileExtension(path);
  const char* pages[] = {"htm", "html", "php"};
  for (const char* page : pages)
    if (Vak::CodePage::CompareIgnoreCase(ext.c_str(), page) == 0) return true;
  return false;
}

} // namespace

void DownloadCache::SetClock(Clock clock) { gClock.store(clock ? clock : &WallClock); }

bool DownloadCache::IsPlainFileName(const char* name) {
  if (!name || !*name || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (const char* p = name; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool DownloadCache::Key(const UrlRecord& url, std::string& key) {
  const Vak::PString text = url.Format();
  key.clear();
  for (const char* p = text.c_str(); *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c <= ' ' || c >= 0x7F || c == '{' || c == '}' || c == '"') return false;
    key += Vak::CodePage::AsciiLower(*p);
  }
  return !key.empty() && key.size() <= ChunkText::kMaxReadName;
}

void DownloadCache::Load(const char* folder) {
  folder_ = folder ? folder : "";
  tree_.Release();
  Vak::File::Path path = folder_;
  if (path.Length() > 0 && path.AddPath(kFileName)) tree_ = LoadTextReply(path);
  tree_.MakeContainer();
  std::vector<Vak::PString> unusable;
  for (int i = 0; i < tree_.GetChildCount(); ++i) {
    Vak::File::Path file;
    if (!EntryFile(tree_.GetChildContainerAt(i), file)) unusable.push_back(tree_.GetChildName(i));
  }
  for (const Vak::PString& name : unusable) tree_.RemoveChild(name);
}

bool DownloadCache::Save() const {
  Vak::File::Path path = folder_;
  if (path.Length() == 0 || !path.AddPath(kFileName)) return false;
  return tree_.Save(nullptr, path);
}

ACSChunkPtr DownloadCache::Entry(const std::string& key) const {
  const Vak::PString name(key.c_str());
  if (!tree_.HasChild(name)) return ACSChunkPtr();
  return tree_.GetChildContainer(name);
}

bool DownloadCache::EntryFile(const ACSChunkPtr& entry, Vak::File::Path& file) const {
  if (entry.IsNull()) return false;
  const Vak::PString name = entry.GetChildString(KeyFileName());
  if (!IsPlainFileName(name.c_str())) return false;
  file = folder_;
  return file.Length() > 0 && file.AddPath(name.c_str());
}

DownloadCache::Hit DownloadCache::Lookup(const UrlRecord& url, Vak::File::Path& file) {
  std::string key;
  if (!Key(url, key)) return Hit::kMiss;
  ACSChunkPtr entry = Entry(key);
  if (!EntryFile(entry, file)) return Hit::kMiss;
  entry.SetChildInt(KeyReferenced(), Now());
  const bool complete = entry.GetChildInt(KeyState(), kIncomplete) != kIncomplete;
  Changed();
  return complete ? Hit::kComplete : Hit::kIncomplete;
}

void DownloadCache::Store(const UrlRecord& url, const char* resultFile, bool complete) {
  std::string key;
  if (!Key(url, key) || !resultFile) return;
  const Vak::File::Path path = resultFile;
  const char* name = path.GetFileName();
  if (!IsPlainFileName(name)) return;
  tree_.MakeContainer();
  const Vak::PString entryName(key.c_str());
  ACSChunkPtr entry = Entry(key);
  if (entry.IsNull()) {
    entry.MakeContainer();
    tree_.SetChild(entryName, entry);
  }
  const int32_t now = Now();
  entry.SetChildString(KeyFileName(), name);
  entry.SetChildInt(KeyDownloaded(), now);
  entry.SetChildInt(KeyReferenced(), now);
  if (!complete) {
    entry.SetChildInt(KeyState(), kIncomplete);
  } else {
    const bool page = Vak::CodePage::CompareIgnoreCase(url.scheme, "ftp") == 0 && IsPageExtension(path);
    entry.SetChildInt(KeyState(), page ? kPageFromFtp : kComplete);
    Vak::File file;
    int32_t size = 0;
    if (file.Open(path, Vak::File::kReadStored).Ok()) size = static_cast<int32_t>(file.Size());
    entry.SetChildInt(KeySize(), size);
  }
  Changed();
}

void DownloadCache::Remove(const UrlRecord& url, const char* onlyFile) {
  std::string key;
  if (!Key(url, key)) return;
  const ACSChunkPtr entry = Entry(key);
  if (entry.IsNull()) return;
  Vak::File::Path file;
  const bool named = EntryFile(entry, file);
  if (onlyFile && !(named && std::strcmp(file, onlyFile) == 0)) return;
  if (named) Vak::File::Unlink(file);
  tree_.RemoveChild(Vak::PString(key.c_str()));
  Changed();
}

void DownloadCache::Changed() {
  if (deferred_) {
    dirty_ = true;
  } else {
    Save();
  }
}

bool DownloadCache::Flush() {
  if (dirty_) dirty_ = !Save();
  return !dirty_;
}
