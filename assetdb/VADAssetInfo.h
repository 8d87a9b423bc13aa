#pragma once
// One asset's record in the index: where its folders are, what its config
// says in brief, and the answers the index caches about it.
//
// Queries run under a shared index lock and cache answers in `flags` and
// `stateFlags` (and `obsoleteStamp`); those bytes are therefore changed only
// through the atomic helpers below, so two readers never lose each other's
// bits. Everything else changes under an exclusive lock.
//
// Stored relative paths may hold either separator: files written elsewhere
// hold back-slashes.
#include <atomic>
#include <cstdint>

#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/KUID.h"

// A build number in whole hundredths, (build + bias) x 100 truncated, as the
// build rules compare builds. A build no int can hold (a config may say
// anything) clamps to the int range, and NaN counts as 0.
int BuildHundredths(float build, float bias = 0.0f);

class VADAssetInfo {
public:
  // `flags` bits.
  enum : uint8_t {
    kFavourite = 0x01,
    kLocallyEnabled = 0x02,
    kReservedFlag = 0x04,
    kReskin = 0x08,
    kInArchiveAnswer = 0x10,
    kInArchiveKnown = 0x20,
    kDownloadStation = 0x40,
    kArchiveHeld = 0x80,
  };
  // `stateFlags` bits.
  enum : uint8_t {
    kBuiltIn = 0x01,
    kMissingAnswer = 0x02,
    kMissingKnown = 0x04,
    kFaulty = 0x08,
    kWarnings = 0x10,
    kFaultyDepsAnswer = 0x20,
    kFaultyDepsKnown = 0x40,
    kObsolete = 0x80,
  };
  // `permissions` bits.
  enum : uint8_t {
    kHasDependencies = 0x01,
    kHasDependants = 0x02,
    kPermitCommit = 0x04,
    kPermitEdit = 0x08,
    kPermitListing = 0x10,
  };
  static constexpr uint8_t kInitialPermissions = 0x1C;

  VADAssetInfo() = default;
  VADAssetInfo(const VADAssetInfo&) = default;
  VADAssetInfo& operator=(const VADAssetInfo&) = default;

  // `count` records made in one block of storage (a load makes them all at
  // once); the block goes when its last record is freed.
  static VADAssetInfo* MakeBlock(uint32_t count);
  // Frees a record made by new or by MakeBlock.
  static void Free(VADAssetInfo* record);

  // Absolute folders (root + relative path); empty when the field is.
  Vak::File::Path GetLocalFolder() const;
  Vak::File::Path GetEditingFolder() const;
  // The archive's name and the folder inside it; false when not in one.
  bool GetArchiveLocation(Vak::PString& name, Vak::String& path) const;

  // Stored relative to the database root; false, nothing changed, for a
  // path outside it.
  bool SetLocalFolder(const char* path);
  bool SetEditingFolder(const char* path);
  void ClearLocalFolder();
  void ClearEditingFolder();
  void ClearArchiveLocation();
  void FixLegacyLocalPath();

  bool HasLocalFolder() const { return localPath.Size() > 0; }
  bool HasEditingFolder() const { return editingPath.Size() > 0; }
  bool HasArchiveLocation() const { return archivePath.Size() > 0; }
  // An archive or a local folder.
  bool IsInstalled() const { return HasArchiveLocation() || HasLocalFolder(); }
  bool HasAnyLocation() const { return IsInstalled() || HasEditingFolder(); }
  bool IsBuiltIn() const { return StateFlags() & kBuiltIn; }
  // A failed validation with an archive or local folder.
  bool HasErrors() const { return (StateFlags() & kFaulty) && IsInstalled(); }

  // Bytes of the asset's files; 0 when built in; -1 when unknown.
  int32_t ComputeSize() const;
  // The change hash of the first folder (local, else archive); 1 without.
  uint32_t ComputeContentHash() const;

  // Cached against the index's obsolete generation.
  bool IsObsolete();
  bool IsUpToDate() const;
  // Cached until the record or a dependency is refreshed.
  bool HasMissingDependencies();
  bool HasFaultyDependencies();

  void BuildKeywords();
  // The words searches match. Records read from the index file build them
  // here, when first asked for: most commands never search.
  const Vak::String& KeywordList() const;
  void DeferKeywords() { keywordsDue = 1; }
  // False, nothing changed, when a location pair conflicts or the KUIDs
  // differ.
  bool Merge(const VADAssetInfo& other);

  // `secondaryName` when set, else `name`.
  const Vak::String& DisplayName() const { return secondaryName.Size() > 0 ? secondaryName : name; }

  // Atomic reads and updates of the cached bytes: bits in `clear` go, then
  // bits in `set` come, in one step.
  uint8_t Flags() const { return Ref(flags).load(std::memory_order_acquire); }
  uint8_t StateFlags() const { return Ref(stateFlags).load(std::memory_order_acquire); }
  void UpdateFlags(uint8_t clear, uint8_t set) { Update(flags, clear, set); }
  void UpdateStateFlags(uint8_t clear, uint8_t set) { Update(stateFlags, clear, set); }

  // Fields in their declared order.
  KUID kuid;
  Vak::String categoryClasses;
  Vak::String regionList;
  Vak::String eraList;
  int32_t sizeOnDisk = -1;
  int32_t contentHash = 0;
  float build = 0.0f;
  Vak::String editingPath;
  Vak::String archivePath;
  Vak::PString archiveName;
  Vak::String localPath;
  KUID mapKuid;
  uint8_t flags = 0;
  uint8_t stateFlags = 0;
  uint32_t obsoleteStamp = 0;
  uint8_t permissions = kInitialPermissions;
  uint8_t hasScripts = 0;
  uint8_t localRating = 255;
  int64_t firstInstalled = 0;
  int64_t lastInstalled = 0;
  Vak::String description;
  Vak::String keywords;
  Vak::String name;
  Vak::String secondaryName;
  Vak::String keywordList;
  uint8_t keywordsDue = 0;
  // The download station's number for the asset; held in memory only, the
  // stored record has no place for it.
  int64_t downloadNumber = 0;

private:
  struct Block;
  // The block a record was made in; null for one of its own. A copy is a
  // record of its own.
  struct Storage {
    Block* block = nullptr;
    Storage() = default;
    Storage(const Storage&) {}
    Storage& operator=(const Storage&) { return *this; }
  };
  Storage storage_;

  template <typename T>
  static std::atomic_ref<T> Ref(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field));
  }
  static void Update(uint8_t& field, uint8_t clear, uint8_t set) {
    std::atomic_ref<uint8_t> ref(field);
    uint8_t old = ref.load(std::memory_order_relaxed);
    while (!ref.compare_exchange_weak(old, static_cast<uint8_t>((old & ~clear) | set), std::memory_order_acq_rel)) {
    }
  }
  // Sets the answer and its valid bit together, marks the index.
  bool CacheDependencyAnswer(uint8_t answerBit, uint8_t knownBit, bool faulty);
};

// A ".gs" or ".gse" file lies somewhere below the folder (inside the
// archive of that name when one is given).
bool VADFolderHasScripts(const Vak::PString& archive, const char* folder);

// Two stored paths name the same folder: letters compared without regard
// to case, '/' and '\\' alike.
bool VADSamePath(const char* a, const char* b);
// A folder as a record stores it: relative to the database root,
// back-slashed, without a trailing separator. False outside the root.
bool VADStoredFolder(const char* path, Vak::String& stored);
