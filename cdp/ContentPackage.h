#pragma once
// A CDP content package held in memory: one binary chunk tree whose "assets"
// hold one item per asset (its config, its "files" tree, "compression" and
// "dsid"), with the package's tables of contents, dependencies and obsoleted
// KUIDs beside them.
#include <cstdint>

#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "content/ACSChunkPtr.h"
#include "content/KUID.h"

// The signature of a files tree or of one block of bytes: a rotating sum of
// the block's whole little-endian words and the count of bytes they cover.
struct BlockChecksum {
  uint32_t sum = 0;
  uint32_t length = 0;
  bool operator==(const BlockChecksum&) const = default;
};

// (0, 0) for 4 bytes or fewer; otherwise over the first length & ~3 bytes,
// with a sum of 0 given as 1.
BlockChecksum ComputeBlockChecksum(const uint8_t* bytes, uint32_t length);
// Sums and lengths add (wrapping); a sum that comes to 0 becomes 1.
BlockChecksum CombineChecksums(const BlockChecksum& a, const BlockChecksum& b);
// Over a files tree: sub-folders recursively, files by their stored bytes,
// children in order.
BlockChecksum ComputeFilesChecksum(const ACSChunkPtr& files);
// "%d:%d", sum then length, both signed.
Vak::AnsiString FormatChecksum(const BlockChecksum& checksum);

// One asset inside a package. The item shares its tree with whoever handed
// it over (a package's "assets" child, say), so edits reach the package.
class ContentPackageItem : public ACSChunkPtr {
public:
  // An empty item with "compression" = "LZSS".
  ContentPackageItem();
  // The item over an existing tree (null: an empty container).
  explicit ContentPackageItem(const ACSChunkPtr& tree);

  ACSChunkPtr GetFiles() const;
  void SetFiles(const ACSChunkPtr& files);
  Vak::PString GetCompression() const;
  // The item becomes a copy of `tree`, keeping its own "compression".
  void Assign(const ACSChunkPtr& tree);
  // The stored "dsid" is the signature of "files" as it is now.
  bool VerifyDSID() const;
  void UpdateDSID();

  bool IsChanged() const { return changed_; }
  void SetChanged(bool changed) { changed_ = changed; }

private:
  bool changed_ = false;
};

class ContentPackage {
public:
  // Loads `folder`/`name` (or `name` alone when the folder is empty) and
  // checks it. On failure `error` holds the reason and the package is empty.
  bool Read(Vak::String& error, const char* folder, const char* name);
  // Writes the package whole: into a new file beside `path`, which then
  // replaces it, so a failure leaves any earlier file as it was.
  bool Write(Vak::String& error, const char* path);

  int GetAssetCount() const;
  ContentPackageItem GetAsset(int index) const;
  // The index of the first asset of that "kuid", else -1.
  int FindAsset(const KUID& kuid) const;
  // A value child of the root ("thumbnail").
  ACSChunkPtr GetChild(const Vak::PString& tag) const;
  // Adds the item under its KUID; the tables are rebuilt from every asset
  // before the tree is next looked at (Root) or written.
  bool AddAsset(Vak::String& error, const ContentPackageItem& item);

  void Clear() {
    root_.Release();
    tablesStale_ = false;
  }
  // The tree, with the tables brought up to date.
  const ACSChunkPtr& Root();

private:
  // The three tables from the assets, then "kind" and "package-version".
  void RebuildTables();
  // True when every root tag a reader needs is present.
  bool HasTables() const;

  ACSChunkPtr root_;
  bool tablesStale_ = false;  // assets were added since the last rebuild
};

// Appends to `out` the KUIDs the asset's config depends on, without the
// asset itself, what it obsoletes, nulls or repeats.
void CollectAssetDependencies(const KUID& kuid, const ACSChunkPtr& config, KUIDList& out);
// The KUIDs the asset's config makes obsolete, each once, without itself.
void CollectObsoletedKUIDs(const KUID& kuid, const ACSChunkPtr& config, KUIDList& out);
// A copy of the item's config as installing saves it: without files,
// signature, compression, folder icon and ".cache", "kind" in lower case and
// the "kuid-table" renumbered from "0". Marks the item changed when its
// "kind" was not in lower case or it carried a ".cache".
ACSChunkPtr MakePackageAssetSummary(ContentPackageItem& item);
