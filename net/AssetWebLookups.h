#pragma once
// The web service's answers about assets that are not installed: the
// thumbnail and the description of a KUID. Requests go out through the
// download manager, one every 3 seconds of the application clock per
// look-up; without a download manager none goes out.
#include <cstdint>
#include <map>
#include <string>

#include "Vak/Bexlorn/String.h"
#include "Vak/Bexlorn/Sync.h"
#include "content/ChunkedList.h"
#include "content/KUID.h"

class DownloadTask;

struct KuidOrder {
  bool operator()(const KUID& a, const KUID& b) const {
    if (a.user != b.user) return a.user < b.user;
    if (a.content != b.content) return a.content < b.content;
    return a.version < b.version;
  }
};

class AssetThumbnailLookup {
public:
  // The state of a KUID just asked for, and of one the service has no
  // thumbnail for.
  static constexpr int32_t kRequested = 0;
  static constexpr int32_t kNoThumbnail = 3;
  // Seconds of the application clock between two requests.
  static constexpr float kThrottleSeconds = 3.0f;

  static AssetThumbnailLookup& Global();

  AssetThumbnailLookup() = default;
  ~AssetThumbnailLookup();
  AssetThumbnailLookup(const AssetThumbnailLookup&) = delete;
  AssetThumbnailLookup& operator=(const AssetThumbnailLookup&) = delete;

  // True while a thumbnail may still come, false when none will. A reply
  // that is an image lands as the KUID's file in the database's
  // "cache/thumbnails" folder.
  bool Request(const KUID& kuid);
  // Releases the pending request and forgets the answers.
  void Reset();

  // The page asked for a KUID.
  static std::string RequestUrl(const KUID& kuid);

private:
  // Takes the answer of a finished request; under the lock.
  void Collect();

  Vak::CriticalSection lock_{"AssetThumbnailLookup"};
  DownloadTask* task_ = nullptr;
  DownloadTask* secondTask_ = nullptr;
  float lastRequest_ = 0;
  KUID current_;
  std::map<KUID, int32_t, KuidOrder> requested_;
};

class AssetDescriptionLookup {
public:
  static constexpr float kThrottleSeconds = 3.0f;

  static AssetDescriptionLookup& Global();

  AssetDescriptionLookup() = default;
  ~AssetDescriptionLookup();
  AssetDescriptionLookup(const AssetDescriptionLookup&) = delete;
  AssetDescriptionLookup& operator=(const AssetDescriptionLookup&) = delete;

  // Starts a request when one is allowed; the answer arrives later.
  void Request(const KUID& kuid);
  // The reply's text for the KUID once it came; empty before.
  Vak::String Answer(const KUID& kuid);
  // Releases the pending request and forgets what was asked.
  void Reset();

  static std::string RequestUrl(const KUID& kuid);

private:
  void Collect();

  Vak::CriticalSection lock_{"AssetDescriptionLookup"};
  DownloadTask* task_ = nullptr;
  DownloadTask* secondTask_ = nullptr;
  KUID current_;
  float lastRequest_ = 0;
  ChunkedList<KUID, 64> requested_;
  std::map<KUID, Vak::String, KuidOrder> answers_;
};
