#pragma once
// A counted handle to one asset of the index, in read or edit mode.
//
// Copies share one count block that names the asset by its KUID, never by
// its record: a reload of the index (after another process wrote it) frees
// every record, so each operation finds the record again under the lock it
// holds. A handle whose asset has gone is invalid.
#include <atomic>
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "content/KUID.h"

class ResultsLog;
class VADAssetInfo;

class VADAssetHandle {
public:
  enum Mode : uint8_t { kRead = 0, kEdit = 1 };

  VADAssetHandle() = default;
  VADAssetHandle(const KUID& kuid, Mode mode);
  VADAssetHandle(const VADAssetHandle& other);
  VADAssetHandle& operator=(const VADAssetHandle& other);
  ~VADAssetHandle();

  // The index holds a record of the handle's KUID (taken under a shared
  // lock).
  bool IsValid() const;
  // Edit mode: the editing folder; read mode: the local folder, else the
  // archive location. False and an empty path without one.
  bool GetPath(Vak::File::Path& path) const;
  // The null KUID for a handle without a block.
  KUID GetKUID() const;
  Mode GetMode() const { return mode_; }
  void SetMode(Mode mode) { mode_ = mode; }
  // Drops this handle's reference.
  void Reset();

  // The record under the lock the caller holds; null when gone.
  VADAssetInfo* FindRecord() const;
  // The handle's count, for tests of the sharing.
  int32_t UseCount() const;

private:
  struct Block {
    std::atomic<int32_t> count{1};
    KUID kuid;
  };
  Block* block_ = nullptr;
  Mode mode_ = kRead;
};

// The folder GetPath gives for a record in that mode (the lock held).
bool VADAssetPath(const VADAssetInfo& record, VADAssetHandle::Mode mode, Vak::File::Path& path);

// Opens an asset; for edit it is copied into a new editing folder unless it
// is open for edit already. An invalid handle on failure (with a message
// when a log is given); an unknown KUID gives none.
VADAssetHandle VADOpenAsset(const KUID& kuid, bool forEdit, ResultsLog* log);

// A line about an asset: the key with the parameter `asset_kuid` (its config
// text) and a property naming the asset. Nothing without a log.
void VADReportAsset(ResultsLog* log, int32_t severity, const char* key, const KUID& kuid);
// A line about a file or folder: the key with the parameter `file_path`.
// Nothing without a log.
void VADReportPath(ResultsLog* log, int32_t severity, const char* key, const char* path);
