#include "net/AssetWebLookups.h"

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "content/AppGlobals.h"
#include "content/FileHelpers.h"
#include "net/DownloadManager.h"
#include "net/DownloadTask.h"
#include "net/WebService.h"

namespace {

std::string ScriptUrl(const char* page, const KUID& kuid) {
  const std::string path =
      std::string(kWebServiceScripts) + page + "?SearchCriteria=" + static_cast<const char*>(kuid.ToShortText());
  return WebServiceUrl("https", path.c_str());
}

// The cache keeps JPEG images only; a page that answers anything else
// (an error text) has no thumbnail.
bool IsJpeg(const char* path) {
  Vak::File file;
  unsigned char start[2] = {0, 0};
  return file.Open(path, Vak::File::kReadStored).Ok() && file.Read(start, 2, 1) == 2 && start[0] == 0xFF &&
         start[1] == 0xD8;
}

// The throttle: at most one request in any 3 seconds of the clock.
bool TooSoon(float last, float throttle) { return GetAppClock() - last <= throttle; }

} // namespace

// ---- AssetThumbnailLookup ---------------------------------------------------

AssetThumbnailLookup& AssetThumbnailLookup::Global() {
  static AssetThumbnailLookup lookup;
  return lookup;
}

AssetThumbnailLookup::~AssetThumbnailLookup() { Reset(); }

std::string AssetThumbnailLookup::RequestUrl(const KUID& kuid) { return ScriptUrl("asset_thumbnail.php", kuid); }

bool AssetThumbnailLookup::Request(const KUID& kuid) {
  if (kuid.user < 0) return false;
  Vak::SingleLock hold(&lock_, true);
  Collect();
  if (task_) return true;
  auto found = requested_.find(kuid);
  if (found != requested_.end()) return found->second != kNoThumbnail;
  // Asked again later.
  if (TooSoon(lastRequest_, kThrottleSeconds)) return true;
  DownloadManager* manager = DownloadManager::Instance();
  // Nothing is sent; the answer stays open, as the next call may send it.
  if (!manager) return true;
  task_ = manager->Request(RequestUrl(kuid).c_str(), 0, -1);
  lastRequest_ = GetAppClock();
  current_ = kuid;
  requested_[kuid] = kRequested;
  return true;
}

void AssetThumbnailLookup::Collect() {
  if (!task_ || !task_->IsFinished()) return;
  Vak::File::Path result;
  Vak::PString type;
  bool image = task_->GetResult(result, type) && IsJpeg(result);
  if (image) {
    const std::string name = std::string("cache/thumbnails/") + static_cast<const char*>(current_.ToSpacedText()) + ".jpg";
    const Vak::File::Path target = InDatabaseRoot(name.c_str());
    image = target[0] && MakeFolderPath(Vak::PString(), InDatabaseRoot("cache/thumbnails"));
    if (image) {
      Vak::File::Unlink(target);
      image = CopyFileStream(Vak::PString(), result, Vak::PString(), target);
    }
  }
  if (!image) requested_[current_] = kNoThumbnail;
  ReleaseTask(task_);
}

void AssetThumbnailLookup::Reset() {
  Vak::SingleLock hold(&lock_, true);
  ReleaseTask(task_);
  ReleaseTask(secondTask_);
  requested_.clear();
}

// ---- AssetDescriptionLookup -------------------------------------------------

AssetDescriptionLookup& AssetDescriptionLookup::Global() {
  static AssetDescriptionLookup lookup;
  return lookup;
}

AssetDescriptionLookup::~AssetDescriptionLookup() { Reset(); }

std::string AssetDescriptionLookup::RequestUrl(const KUID& kuid) { return ScriptUrl("asset_description.php", kuid); }

void AssetDescriptionLookup::Request(const KUID& kuid) {
  if (kuid.user < 0) return;
  Vak::SingleLock hold(&lock_, true);
  Collect();
  if (task_ || kuid == current_ || !requested_.Find(kuid).IsEnd()) return;
  if (TooSoon(lastRequest_, kThrottleSeconds)) return;
  DownloadManager* manager = DownloadManager::Instance();
  if (!manager) return;
  current_ = kuid;
  task_ = manager->Request(RequestUrl(kuid).c_str(), 0, -1);
  lastRequest_ = GetAppClock();
  requested_.Append(kuid);
}

Vak::String AssetDescriptionLookup::Answer(const KUID& kuid) {
  Vak::SingleLock hold(&lock_, true);
  Collect();
  auto found = answers_.find(kuid);
  return found == answers_.end() ? Vak::String() : found->second;
}

void AssetDescriptionLookup::Collect() {
  if (!task_ || !task_->IsFinished()) return;
  Vak::File::Path result;
  Vak::PString type;
  if (task_->GetResult(result, type)) {
    Vak::File file;
    if (file.Open(result, Vak::File::kReadStored).Ok()) {
      std::string text(static_cast<std::size_t>(file.Size()), '\0');
      text.resize(file.Read(text.data(), static_cast<unsigned long>(text.size()), 1));
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
      answers_[current_] = Vak::String(text.c_str());
    }
  }
  ReleaseTask(task_);
}

void AssetDescriptionLookup::Reset() {
  Vak::SingleLock hold(&lock_, true);
  ReleaseTask(task_);
  ReleaseTask(secondTask_);
  current_ = KUID::Null();
  requested_.Clear();
  answers_.clear();
}
