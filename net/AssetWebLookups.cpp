#include "net/AssetWebLookups.h"

#include "net/DownloadTask.h"

// ---- AssetThumbnailLookup ---------------------------------------------------

AssetThumbnailLookup& AssetThumbnailLookup::Global() {
  static AssetThumbnailLookup lookup;
  return lookup;
}

AssetThumbnailLookup::~AssetThumbnailLookup() { Reset(); }

bool AssetThumbnailLookup::Request(const KUID& kuid) {
  if (kuid.user < 0) return false;
  Vak::SingleLock hold(&lock_, true);
  if (task_) return true;
  auto found = requested_.find(kuid);
  if (found != requested_.end()) return found->second != kNoThumbnail;
  // Only the download manager sends requests; without one no image will
  // come. The throttled request through it comes with the manager.
  return false;
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

void AssetDescriptionLookup::Request(const KUID& kuid) {
  if (kuid.user < 0) return;
  Vak::SingleLock hold(&lock_, true);
  if (task_ || kuid == current_ || !requested_.Find(kuid).IsEnd()) return;
  // Only the download manager sends requests; without one there is no
  // answer. The throttled request through it comes with the manager.
}

void AssetDescriptionLookup::Reset() {
  Vak::SingleLock hold(&lock_, true);
  ReleaseTask(task_);
  ReleaseTask(secondTask_);
  current_ = KUID::Null();
  requested_.Clear();
}
