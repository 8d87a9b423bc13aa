#include <cstring>
#include <string>

#include "Vak/Bexlorn/CodePage.h"
#include "Vak/Bexlorn/Exception.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/FileSubst.h"
#include "Vak/Bexlorn/Wildcard.h"

namespace Vak {

namespace {

// Seconds since 1970, low 32 bits (rounded down for times before).
uint32_t Seconds(platform::FileTime t) {
  int64_t seconds = t / 1000000000;
  if (t < 0 && t % 1000000000) --seconds;
  return static_cast<uint32_t>(seconds);
}

void Fill(File::Entry& entry, const platform::FolderEntry& found) {
  std::size_t n = found.name.size();
  if (n >= sizeof entry.name) n = sizeof entry.name - 1;
  std::memcpy(entry.name, found.name.data(), n);
  entry.name[n] = 0;
  entry.size = static_cast<uint32_t>(found.info.size);
  entry.size2 = entry.size;
  entry.reserved = 0;
  entry.created = Seconds(found.info.created);
  entry.accessed = Seconds(found.info.accessed);
  entry.written = Seconds(found.info.modified);
  entry.attributes = found.info.isFolder ? File::Entry::kFolder : 0;
  if (found.info.isLink) entry.attributes |= File::Entry::kLink;
  entry.reserved2 = 0;
}

const char* AfterLastSeparator(const char* text) {
  const char* name = text;
  for (const char* p = text; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  return name;
}

// The innermost memo of this thread.
thread_local File::ListingMemo* gListingMemo = nullptr;

} // namespace

File::Find::Find() : File::Entry{} {
  directory_[0] = 0;
  mask_[0] = 0;
}

File::Find::~Find() { Close(); }

void File::Find::Close() {
  EndLayer();
  for (FileSub* layer : layers_) FileSubstList::Get().EndSearch(layer);
  layers_.clear();
  seen_.clear();
  substituted_ = false;
}

void File::Find::EndLayer() {
  if (current_) {
    current_->FindEnd(handle_);
    FileSubstList::Get().EndSearch(current_);
  }
  current_ = nullptr;
  handle_ = -1;
  folder_.clear();
  folderNext_ = 0;
}

// directory := up to and including the last separator or colon; mask := the
// rest. False for a pattern too long or a folder part with wildcards.
bool File::Find::Split(const char* pattern) {
  Close();
  directory_[0] = 0;
  mask_[0] = 0;
  if (!pattern) return false;
  const char* name = AfterLastSeparator(pattern);
  const std::size_t dirLength = static_cast<std::size_t>(name - pattern);
  const std::size_t maskLength = std::strlen(name);
  if (dirLength >= sizeof directory_ || maskLength >= sizeof mask_) return false;
  std::memcpy(directory_, pattern, dirLength);
  directory_[dirLength] = 0;
  std::memcpy(mask_, name, maskLength + 1);
  return std::strpbrk(directory_, "*?") == nullptr;
}

File::ListingMemo::ListingMemo() : outer_(gListingMemo) { gListingMemo = this; }

File::ListingMemo::~ListingMemo() { gListingMemo = outer_; }

bool File::Find::ListFolder(const char* folder) {
  folder_.clear();
  folderNext_ = 0;
  auto matches = [this](const char* name) { return MatchWildcard(name, mask_, nullptr); };
  if (gListingMemo) {
    // Kept whole, so that searches with other masks are served too; one key
    // for every way of writing the separators.
    std::string key;
    for (const char* p = folder; *p; ++p) {
      const char c = *p == '\\' ? '/' : *p;
      if (c != '/' || key.empty() || key.back() != '/') key += c;
    }
    auto [kept, fresh] = gListingMemo->listings_.try_emplace(key);
    if (fresh && platform::ListFolder(*folder ? folder : ".", kept->second) != platform::Error::None) {
      gListingMemo->listings_.erase(kept);
      return false;
    }
    for (const platform::FolderEntry& entry : kept->second)
      if (matches(entry.name.c_str())) folder_.push_back(entry);
    return true;
  }
  // Only names that match are examined, so a narrow mask in a large folder
  // costs no status query per file.
  return platform::ListFolder(*folder ? folder : ".", folder_, matches) == platform::Error::None;
}

bool File::Find::ReadFolder() {
  while (folderNext_ < folder_.size()) {
    Fill(*this, folder_[folderNext_++]);
    return true;
  }
  return false;
}

bool File::Find::Open(const char* pattern) {
  if (!Split(pattern)) return false;
  const int n = FilePath::SubstNameLength(directory_);
  if (n >= 0) {
    const PString name(std::string(directory_, static_cast<std::size_t>(n)).c_str());
    if (FileSubstList::Get().AddToSearch(name, layers_)) {
      substituted_ = true;
      const char* rest = directory_ + n + 1;
      while (*rest == '\\' || *rest == '/') ++rest;
      std::memmove(directory_, rest, std::strlen(rest) + 1);
      return Advance();
    }
  }
  return ListFolder(directory_) && ReadFolder();
}

bool File::Find::Open(const char* pattern, const PString& substitute) {
  if (!Split(pattern)) return false;
  if (!FileSubstList::Get().AddToSearch(substitute, layers_))
    throw FileEx("Vak/Bexlorn/FileFind", 0, "Open() Subst not found");
  substituted_ = true;
  return Advance();
}

bool File::Find::Next() { return substituted_ ? Advance() : ReadFolder(); }

// The next match of the layer being searched.
bool File::Find::Step() {
  if (current_) {
    std::string pattern = std::string(directory_) + mask_;
    return current_->FindNext(handle_, pattern.c_str(), *this);
  }
  return ReadFolder();
}

// Moves to the next layer that yields a match; false when none is left.
bool File::Find::StartLayer() {
  while (!layers_.empty()) {
    FileSub* layer = layers_.back();
    layers_.pop_back();
    EndLayer();
    // The search holds each layer until it is done with it; an archive
    // layer is held while its entries are walked.
    if (layer->IsType(FileSub::kArchive)) {
      const long handle = layer->FindStart();
      if (handle != -1) {
        current_ = layer;
        handle_ = handle;
        if (Step()) return true;
        continue;
      }
    } else if (const auto* folder = layer->IsType(FileSub::kFolder) ? dynamic_cast<const FileSubPath*>(layer) : nullptr) {
      const std::string path = std::string(folder->FolderPath()) + directory_;
      const bool listed = ListFolder(path.c_str());
      FileSubstList::Get().EndSearch(layer);
      if (listed && ReadFolder()) return true;
      continue;
    }
    FileSubstList::Get().EndSearch(layer);
  }
  EndLayer();
  return false;
}

bool File::Find::Advance() {
  for (;;) {
    if (!Step() && !StartLayer()) return false;
    const char* bare = AfterLastSeparator(name);
    if (bare != name) std::memmove(name, bare, std::strlen(bare) + 1);
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(CodePage::ToLower(static_cast<unsigned char>(c)));
    if (seen_.insert(std::move(lower)).second) return true;
  }
}

File::Path File::Find::GetNameAndPath() const {
  Path out(directory_);
  out.AddPath(name);
  return out;
}

} // namespace Vak
