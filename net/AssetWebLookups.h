#pragma once
// The web service's answers about assets that are not installed: the
// thumbnail and the description of a KUID. Requests go out through the
// download manager, one every 3 seconds per look-up; without a download
// manager none goes out.
#include <cstdint>
#include <map>

#include "Vak/Bexlorn/Sync.h"
#include "content/ChunkedList.h"
#include "content/KUID.h"

class DownloadTask;

class AssetThumbnailLookup {
public:
  // The state of a KUID whose page said it has no thumbnail.
  static constexpr int32_t kNoThumbnail = 3;

  static AssetThumbnailLookup& Global();

  AssetThumbnailLookup() = default;
  ~AssetThumbnailLookup();
  AssetThumbnailLookup(const AssetThumbnailLookup&) = delete;
  AssetThumbnailLookup& operator=(const AssetThumbnailLookup&) = delete;

  // True while a thumbnail may still come, false when none will.
  bool Request(const KUID& kuid);
  // Releases the pending request and forgets the answers.
  void Reset();

private:
  struct KuidOrder {
    bool operator()(const KUID& a, const KUID& b) const {
      if (a.user != b.user) return a.user < b.user;
      if (a.content != b.content) return a.content < b.content;
      return a.version < b.version;
    }
  };

  Vak::CriticalSection lock_{"AssetThumbnailLookup"};
  DownloadTask* task_ = nullptr;
  DownloadTask* secondTask_ = nullptr;
  std::map<KUID, int32_t, KuidOrder> requested_;
};

class AssetDescriptionLookup {
public:
  static AssetDescriptionLookup& Global();

  AssetDescriptionLookup() = default;
  ~AssetDescriptionLookup();
  AssetDescriptionLookup(const AssetDescriptionLookup&) = delete;
  AssetDescriptionLookup& operator=(const AssetDescriptionLookup&) = delete;

  // Starts a request when one is allowed; the answer arrives later.
  void Request(const KUID& kuid);
  // Releases the pending request and forgets what was asked.
  void Reset();

private:
  Vak::CriticalSection lock_{"AssetDescriptionLookup"};
  DownloadTask* task_ = nullptr;
  DownloadTask* secondTask_ = nullptr;
  KUID current_;
  ChunkedList<KUID, 64> requested_;
};
